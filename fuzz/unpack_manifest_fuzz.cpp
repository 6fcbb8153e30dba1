/* unpack_manifest_fuzz.cpp -- any bytes unpacked as QUILBAN plans it: the walk stays inside the archive, every
 * member file it would write has a name that stays inside the unpack folder and is not the manifest's, and
 * the manifest reads back one block per entry with the names intact. Both systems' rules, both name options. */
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "unpack/manifest.h"
#include "unpack/unpack.h"

namespace {

bool is_manifest_name(std::string_view name)
{
    if (name.size() != std::strlen(ps2::kManifestName)) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (ps2::fold_ascii_upper(uint8_t(name[i])) != uint8_t(ps2::kManifestName[i])) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> archive(size ? data : nullptr, size);
    for (const bool windows : {false, true})
        for (const bool temp_names : {false, true}) {
            ps2::UnpackOptions options;
            options.temp_names = temp_names;
            options.rules = windows ? ps2::kWindowsShiftJisRules : ps2::kPosixRules;
            options.names_fold_case = windows;
            ps2::UnpackPlan plan;
            ps2::plan_unpack(archive, options, &plan);
            std::vector<uint8_t> text(ps2::unpack_manifest_capacity(plan));
            ps2::ManifestWriter writer(text);
            FUZZ_CHECK(ps2::write_unpack_manifest(archive, plan, &writer));

            bool clean = true; /* names without line breaks read back as written */
            size_t end = 0;
            for (const auto& e : plan.entries) {
                FUZZ_CHECK(e.offset >= end && e.offset + ps2::kPsuEntrySize <= size);
                end = e.offset + ps2::kPsuEntrySize;
                if (e.is_file) {
                    FUZZ_CHECK(e.data.size() <= e.length);
                    FUZZ_CHECK(e.data.empty() || (e.data.data() == data + end && e.data.size() <= size - end));
                    FUZZ_CHECK(e.data_cut == (e.data.size() < e.length));
                    if (e.name_fault == ps2::MemberNameFault::none) {
                        FUZZ_CHECK(ps2::fuzz::stays_in_folder(e.name2.view(), options.rules));
                        FUZZ_CHECK(!is_manifest_name(e.name2.view()));
                    }
                    FUZZ_CHECK(e.replaces == ps2::kNoEntry || e.replaces < size_t(&e - plan.entries.data()));
                }
                clean = clean && !e.name_breaks_line && e.name2.view().find_first_of("\r\n") == std::string_view::npos;
            }
            FUZZ_CHECK(end + plan.ignored_tail <= size);
            if (!clean) continue;
            ps2::ManifestReader reader(writer.bytes());
            ps2::ManifestBlock block;
            size_t n = 0;
            while (reader.next(&block)) {
                FUZZ_CHECK(n < plan.entries.size());
                const auto& e = plan.entries[n];
                const uint8_t* r = data + e.offset;
                FUZZ_CHECK(ps2::psu_record_name(block.record.data()) == ps2::psu_record_name(r));
                FUZZ_CHECK(block.name2 == e.name2.view());
                FUZZ_CHECK(ps2::record_mode(block.record.data()) == ps2::record_mode(r));
                FUZZ_CHECK(std::memcmp(block.record.data() + 8, r + 8, 8) == 0); /* created */
                ++n;
            }
            FUZZ_CHECK(n == plan.entries.size() && reader.partial_lines() == 0);
        }
    return 0;
}
