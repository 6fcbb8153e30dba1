/* unpack_manifest_fuzz.cpp -- any bytes unpack into a manifest that reads back one block per entry, names intact */
#include <cstdlib>
#include <cstring>
#include <vector>

#include "unpack/manifest.h"
#include "unpack/unpack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> archive(data, size);
    for (const bool temp_names : {false, true}) {
        ps2::UnpackOptions options;
        options.temp_names = temp_names;
        ps2::UnpackPlan plan;
        ps2::plan_unpack(archive, options, &plan);
        std::vector<uint8_t> text(ps2::unpack_manifest_capacity(plan));
        ps2::ManifestWriter writer(text);
        if (!ps2::write_unpack_manifest(archive, plan, &writer)) std::abort();

        bool clean = true; /* names without line breaks read back as written */
        for (const auto& e : plan.entries) {
            if (e.offset + ps2::kPsuEntrySize > size) std::abort();
            if (e.is_file && e.data.size() > e.length) std::abort();
            if (e.is_file && !e.data.empty() && (e.data.data() < data || e.data.data() + e.data.size() > data + size))
                std::abort();
            clean = clean && !e.name_breaks_line && e.name2.view().find_first_of("\r\n") == std::string_view::npos;
        }
        if (!clean) continue;
        ps2::ManifestReader reader(writer.bytes());
        ps2::ManifestBlock block;
        size_t n = 0;
        while (reader.next(&block)) {
            if (n >= plan.entries.size()) std::abort();
            const auto& e = plan.entries[n];
            const uint8_t* r = data + e.offset;
            if (ps2::psu_record_name(block.record.data()) != ps2::psu_record_name(r)) std::abort();
            if (block.name2 != e.name2.view()) std::abort();
            if (ps2::record_mode(block.record.data()) != ps2::record_mode(r)) std::abort();
            if (std::memcmp(block.record.data() + 8, r + 8, 8) != 0) std::abort(); /* created */
            ++n;
        }
        if (n != plan.entries.size() || reader.partial_lines() != 0) std::abort();
    }
    return 0;
}
