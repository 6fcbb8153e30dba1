/* presetfile.h -- the preset list read from its file through the platform layer */
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/platform.h"
#include "droprun/expand.h"
#include "droprun/presets.h"

namespace ps2::droprun {

/* Loads names and first preset from the list file. A list that cannot be
 * opened reads as an empty one (one empty name, empty fields); the error is
 * returned for callers that report it. */
[[nodiscard]] plat::IoError load_preset_file(const char* list_path, PresetList* out);

/* Every preset of the list file in one pass (an unopened list gives one empty preset). */
[[nodiscard]] plat::IoError read_all_preset_file(const char* list_path, std::vector<Preset>* out);

/* The fields of the preset at index, read from the file as it is now. */
[[nodiscard]] plat::IoError read_preset_file(const char* list_path, size_t index, PresetFields* out);

/* The list's path beside the running program (its path with ".lst"): the window's list. */
[[nodiscard]] plat::IoError default_preset_list_path(PathBuffer* out);

/* Where the command line looks for its list when none is named, in this order (the first that exists
 * is read). Linux: $XDG_CONFIG_HOME/droprun/droprun.lst (~/.config/droprun/droprun.lst), then the
 * program's path with ".lst". Windows: the program's path with ".lst" (cli\droprun.lst), then
 * DROPRUN.lst in the folder above, which in the zip is the window's list beside DROPRUN.exe. */
std::vector<std::string> cli_preset_list_candidates();

/* The example list of an installed package (Linux: <prefix>/share/doc/ps2-save-tools/examples/
 * droprun-linux.example.lst beside <prefix>/bin/droprun), or "" when there is none. */
std::string installed_example_list();

/* The three folders of %windows%, %process% and %desktop% as the system
 * gives them now; a folder that cannot be had is empty. */
SystemFolders query_system_folders();

} // namespace ps2::droprun
