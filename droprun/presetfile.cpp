/* presetfile.cpp -- the preset list read from its file through the platform layer */
#include "droprun/presetfile.h"

namespace ps2::droprun {

namespace {

size_t read_handle_at(void* context, uint64_t offset, uint8_t* buffer, size_t capacity)
{
    const plat::ReadHandle h = *static_cast<const plat::ReadHandle*>(context);
    size_t got = 0;
    if (plat::seek_to(h, offset) != plat::IoError::ok) return 0;
    if (plat::read_some(h, {buffer, capacity}, &got) != plat::IoError::ok) return 0;
    return got;
}

/* Opens the list (other readers allowed), lets read() take its bytes, closes it. A list that cannot
 * be opened is handed over as an empty source, and the error returned. */
template <typename Read>
plat::IoError read_list_file(const char* list_path, Read read)
{
    plat::ReadHandle h;
    const plat::IoError e = plat::open_for_reading(list_path, &h);
    ByteSource source;
    if (e == plat::IoError::ok) {
        source.read_at = &read_handle_at;
        source.context = &h;
    }
    read(source);
    if (e == plat::IoError::ok) plat::close_file(h);
    return e;
}

} // namespace

plat::IoError load_preset_file(const char* list_path, PresetList* out)
{
    return read_list_file(list_path, [out](const ByteSource& s) { load_preset_list(s, out); });
}

plat::IoError read_all_preset_file(const char* list_path, std::vector<Preset>* out)
{
    return read_list_file(list_path, [out](const ByteSource& s) { read_all_presets(s, out); });
}

plat::IoError read_preset_file(const char* list_path, size_t index, PresetFields* out)
{
    return read_list_file(list_path, [index, out](const ByteSource& s) { read_preset(s, index, out); });
}

plat::IoError default_preset_list_path(PathBuffer* out)
{
    char program[kPathCapacity];
    if (const plat::IoError e = plat::get_module_path(program, sizeof program); e != plat::IoError::ok) return e;
    return preset_list_path(program, plat::native_path_rules(), out) ? plat::IoError::ok
                                                                     : plat::IoError::path_too_long;
}

std::vector<std::string> cli_preset_list_candidates()
{
    std::vector<std::string> out;
    const PathRules& rules = plat::native_path_rules();
    char folder[kPathCapacity];
    if (plat::get_config_folder(folder, sizeof folder) == plat::IoError::ok)
        out.push_back(std::string(folder) + "/droprun/droprun.lst");
    PathBuffer beside;
    if (default_preset_list_path(&beside) == plat::IoError::ok) out.push_back(beside.c_str());
    char program[kPathCapacity];
    if (rules.separator == '\\' && plat::get_module_path(program, sizeof program) == plat::IoError::ok) {
        const std::string above(folder_part(folder_part(program, rules), rules));
        if (!above.empty()) out.push_back(above + "\\DROPRUN.lst");
    }
    return out;
}

std::string installed_example_list()
{
    const PathRules& rules = plat::native_path_rules();
    char program[kPathCapacity];
    if (rules.separator != '/' || plat::get_module_path(program, sizeof program) != plat::IoError::ok) return "";
    const std::string prefix(folder_part(folder_part(program, rules), rules));
    const std::string example = prefix + "/share/doc/ps2-save-tools/examples/droprun-linux.example.lst";
    return plat::file_exists(example.c_str()) ? example : "";
}

SystemFolders query_system_folders()
{
    SystemFolders f;
    char buffer[kPathCapacity];
    if (plat::get_windows_folder(buffer, sizeof buffer) == plat::IoError::ok) f.windows = buffer;
    if (plat::get_module_path(buffer, sizeof buffer) == plat::IoError::ok)
        f.process = folder_part(buffer, plat::native_path_rules());
    if (plat::get_desktop_folder(buffer, sizeof buffer) == plat::IoError::ok) f.desktop = buffer;
    return f;
}

} // namespace ps2::droprun
