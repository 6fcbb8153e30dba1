/* quilban_handler.h -- QUILBAN's file handler: a dropped manifest is rebuilt, any other file is unpacked */
#pragma once

#include <cstdint>

#include "common/platform.h"
#include "common/report.h"
#include "common/sjis.h"

namespace ps2 {

/* Largest file taken for an archive to unpack or a manifest to read. A
 * memory card holds 8 MB; anything far beyond is not a save. */
inline constexpr uint64_t kQuilbanInputLimit = 64u << 20;

/* One dropped file, as QUILBAN's window hands it over: reads the option box
 * (USE TEMP NAME) once, then rebuilds when the path's name part is
 * "QUILBAN.TXT" (a-z folded) and unpacks otherwise. Every file written meets
 * an existing one of its name as `outputs` says: the window replaces it; the
 * command line keeps one of other content unless --force is given.
 * Returns true when everything was written or up to date (warnings allowed)
 * and the archive was whole. */
bool handle_quilban_file(const char* path, const OptionBox& option, const Reporter& report,
                         plat::OutputPolicy outputs = plat::OutputPolicy::replace, const TextConverter& names = {});

/* Unpacks an archive into the folder named after it (the path without its
 * extension): the manifest QUILBAN.TXT and one member file per file entry.
 * A file whose first entry is not a directory followed by "." and ".." is
 * refused, named for what it is. A member whose name cannot be used, or
 * whose path would not fit, is not written; the others are. An archive that
 * ends early is unpacked as far as its data goes, every member cut or
 * missing named in a warning, and gives false. With a converter for `names`
 * (Linux), a Shift_JIS member name names its file in the user's character
 * set (a note says so); the manifest's name lines keep the entries' bytes. */
bool unpack_psu_file(const char* path, bool temp_names, const Reporter& report,
                     plat::OutputPolicy outputs = plat::OutputPolicy::replace, const TextConverter& names = {});

/* Rebuilds the archive from a manifest and the member files beside it and
 * writes it beside the manifest, named after its first entry (or
 * "temp.psu"; a Shift_JIS name converted as the unpack converts member
 * names). Any fault writes nothing and leaves an existing result as it
 * was. Lines that do not read as their place in the manifest holds are
 * warnings. */
bool rebuild_psu_file(const char* manifest_path, bool temp_names, const Reporter& report,
                      plat::OutputPolicy outputs = plat::OutputPolicy::replace, const TextConverter& names = {});

} // namespace ps2
