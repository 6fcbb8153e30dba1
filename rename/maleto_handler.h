/* maleto_handler.h -- MALETO's file handler: rename one dropped PSU archive after its save's name and title */
#pragma once

#include "common/paths.h"
#include "common/report.h"
#include "rename/maleto.h"

namespace ps2 {

/* Reads the save's name from the top entry and the title from the first
 * 512-aligned "PS2D" block behind it, forms "<name>-[<title>].psu" in the
 * file's own folder, reads the option box (REMOVE SJIS) and renames the
 * file without replacing any existing file. Without the option and with a
 * converter for `names` (Linux), the new name is written in the user's
 * character set (name_in_user_charset), and a warning tells of characters
 * that did not convert; with none, it is the name's bytes as formed.
 * Reports "old -> new" as a note, or why the file was not renamed as an error. */
MaletoError maleto_rename_file(const char* path, const OptionBox& remove_sjis_option, const Reporter& report,
                               const PathRules& rules, const TextConverter& names = {});

} // namespace ps2
