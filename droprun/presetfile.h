/* presetfile.h -- the preset list read from its file through the platform layer */
#pragma once

#include <cstddef>

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

/* The list's path beside the running program (its path with ".lst"). */
[[nodiscard]] plat::IoError default_preset_list_path(PathBuffer* out);

/* The three folders of %windows%, %process% and %desktop% as the system
 * gives them now; a folder that cannot be had is empty. */
SystemFolders query_system_folders();

} // namespace ps2::droprun
