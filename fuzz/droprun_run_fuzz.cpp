/* droprun_run_fuzz.cpp -- DROPRUN's preset list and run never read or write outside their buffers, and
 * never start a command line longer than 1023 bytes. Input: a preset list; its first line doubles as the
 * dropped file's path. Every preset (a bounded number) is selected and run for that path. */
#include <cstring>
#include <string>

#include "common/cmdline.h"
#include "common/linereader.h"
#include "droprun/presets.h"
#include "droprun/run.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace ps2;
using namespace ps2::droprun;

class CheckingHost final : public RunHost {
public:
    explicit CheckingHost(const PresetFields& f) : fields_(f) {}
    void read_field(FormField field, PathBuffer* text) override
    {
        const std::string& s = fields_[field];
        FUZZ_CHECK(s.size() <= 1023 && text->assign(s.c_str())); /* a line fits its field */
    }
    void enter_folder(const char* folder) override
    {
        FUZZ_CHECK(std::strlen(folder) <= 1023);
    }
    void start_command(FormField, const char* line, bool, bool) override
    {
        FUZZ_CHECK(std::strlen(line) <= 1023);
        for (const CharStep step : {step_single_byte, step_shift_jis})
            for (const std::string& arg : split_command_line(line, step)) FUZZ_CHECK(arg.size() <= 1023);
    }
    void expansion_too_long(FormField) override {}

private:
    const PresetFields& fields_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(size ? data : nullptr, size);
    const ByteSource source = memory_source(&bytes);
    PresetList list;
    load_preset_list(source, &list);
    FUZZ_CHECK(!list.names.empty() && list.names.size() <= kMaxPresets);

    std::vector<Preset> presets;
    read_all_presets(source, &presets);
    FUZZ_CHECK(presets.size() == list.names.size());

    std::string_view path;
    (void)read_text_line(bytes, 0, &path);
    const SystemFolders folders{"C:\\WINDOWS", "C:\\tools", "C:\\Users\\u\\Desktop"};
    for (size_t i = 0; i < list.names.size() && i < 16; ++i) {
        PresetFields fields;
        read_preset(source, i, &fields);
        FUZZ_CHECK(i != 0 || fields.field == list.first.field);
        FUZZ_CHECK(presets[i].name == list.names[i] && presets[i].fields.field == fields.field);
        for (const PathRules* rules : {&kWindowsShiftJisRules, &kPosixRules}) {
            CheckingHost host(fields);
            (void)run_file(path, folders, *rules, host, ValueQuoting::escape_double_quotes);
            (void)run_file(path, folders, *rules, host, ValueQuoting::as_is);
        }
    }
    return 0;
}
