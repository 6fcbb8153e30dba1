/* presets.h -- DROPRUN's preset list: where it lies, the window caption, reading presets in groups of 10 lines */
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/paths.h"

namespace ps2::droprun {

/* ---- the form's fields ---- */

/* The preset form's controls, numbered as in the dialog. */
enum class FormField : int {
    preset_name = 128, /* the combo box */
    command1 = 129,
    command2 = 130,
    command3 = 131,
    command4 = 132,
    working_folder = 133,
    hide_window = 134, /* any text: start hidden */
    no_wait = 135,     /* any text: do not wait for the end */
    tail_filter = 136,
};
inline constexpr int kFirstFormField = 129;
inline constexpr size_t kFormFieldCount = 8;

/* Lines per preset: a line never read, the name, the eight fields. */
inline constexpr size_t kPresetGroupLines = 10;

/* No list has more presets than this; a longer one (or an endless
 * device given as the list) is read up to here. */
inline constexpr size_t kMaxPresets = 10000;

/* The eight field lines of one preset, in the order of the fields 129-136.
 * Each line is at most 1023 bytes (the line window). */
struct PresetFields {
    std::array<std::string, kFormFieldCount> field;

    std::string& operator[](FormField f) { return field[size_t(int(f) - kFirstFormField)]; }
    const std::string& operator[](FormField f) const { return field[size_t(int(f) - kFirstFormField)]; }
};

/* ---- where the list's bytes come from ---- */

/* Reads up to capacity bytes at offset into buffer; returns the count, 0 at
 * the end of the list or when it cannot be read (a failure reads as the end). */
struct ByteSource {
    size_t (*read_at)(void* context, uint64_t offset, uint8_t* buffer, size_t capacity) = nullptr;
    void* context = nullptr;
};

/* A source over bytes held in memory (tests, benchmarks). The span must
 * outlive the source. */
ByteSource memory_source(const std::span<const uint8_t>* bytes);

/* ---- reading ---- */

/* What start-up loads: the names of all presets in file order (one entry
 * per group, an empty name line included) and the first preset's fields.
 * The list ends where the first line of a group reads nothing (the end of
 * the list, or a NUL at the start of that line); a group cut short reads
 * its missing lines as empty. The first group is always read, so an empty
 * or missing list gives one empty name and empty fields. */
struct PresetList {
    std::vector<std::string> names;
    PresetFields first;
};
void load_preset_list(const ByteSource& source, PresetList* out);

/* Every preset, name and fields, in one pass over the list (by the same
 * rules as load_preset_list: out->front() is the first preset). */
struct Preset {
    std::string name;
    PresetFields fields;
};
void read_all_presets(const ByteSource& source, std::vector<Preset>* out);

/* The fields of the preset at index (0 for the first): index * 10 lines
 * are skipped, then the group's first two lines, then the eight field lines
 * are read. An index beyond the list gives empty fields. */
void read_preset(const ByteSource& source, size_t index, PresetFields* out);

/* ---- names from the program's path ---- */

/* The preset list's path: the program's path cut at its extension point
 * with ".lst" put there (appended when the path has no extension).
 * False when the result does not fit the 1024-byte buffer. */
[[nodiscard]] bool preset_list_path(const char* program_path, const PathRules& rules, PathBuffer* out);

/* The window caption: the program's name part cut at its first ".". */
std::string_view caption_of(const char* program_path, const PathRules& rules);

} // namespace ps2::droprun
