/* max_decode_fuzz.cpp -- any bytes taken as a MAX archive (recognised, check value computed, header checked,
 * stream decoded, records walked): refused, or converted into a well-formed flat PSU archive; never a read
 * or write outside the buffers, never a write behind the payload, and the same result when the output goes
 * over the file's own memory, as the handler has it. */
#include <cstring>
#include <vector>

#include "common/psu.h"
#include "fuzz/fuzz_support.h"
#include "maxconv/max_convert.h"

namespace {

constexpr uint8_t kCanary = 0xA5;
constexpr size_t kCanarySize = 64;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace ps2;
    static std::vector<uint8_t> build(kWorkBufferSize), out(kWorkBufferSize), own(kWorkBufferSize);
    if (size > kWorkBufferSize) return 0;
    /* Give most inputs the magic so they get past recognition. */
    std::vector<uint8_t> file(data, data + size);
    if (file.size() >= 12 && file[0] != 'P') std::memcpy(file.data(), "Ps2PowerSave", 12);
    FUZZ_CHECK(is_max_archive(file) == (file.size() >= 12 && std::memcmp(file.data(), "Ps2PowerSave", 12) == 0));
    if (file.size() >= kMaxHeaderSize) (void)compute_max_crc(file);

    MaxHeader h;
    const MaxError header = check_max_header(file, &h);
    if (header == MaxError::ok) {
        FUZZ_CHECK(kMaxHeaderSize + max_stream(file, h).size() <= file.size());
        FUZZ_CHECK(h.unpacked_size <= kMaxPayloadLimit);
        FUZZ_CHECK(h.dir_name.size() <= kMaxNameSize);
    }
    const size_t behind = header == MaxError::ok ? kMaxHeaderSize + h.unpacked_size : 0;
    const bool canary = header == MaxError::ok && behind + kCanarySize <= build.size();
    if (canary) std::memset(build.data() + behind, kCanary, kCanarySize);

    size_t n = 0;
    MaxToPsuInfo info;
    const MaxError e = convert_max_to_psu(file, build, out, &n, &info);
    if (canary)
        for (size_t i = behind; i < behind + kCanarySize; ++i) FUZZ_CHECK(build[i] == kCanary);
    if (e != MaxError::ok) {
        FUZZ_CHECK(n == 0);
        return 0;
    }
    FUZZ_CHECK(header == MaxError::ok);
    FUZZ_CHECK(info.file_count == h.file_count && info.unpacked_size == h.unpacked_size);

    /* What is written is a well-formed flat archive of file_count files. */
    std::vector<PsuNode> nodes;
    size_t end = 0;
    FUZZ_CHECK(n <= out.size());
    FUZZ_CHECK(walk_psu_archive(std::span(out).first(n), &nodes, &end) == PsuError::ok);
    FUZZ_CHECK(nodes.size() == 3 + size_t(h.file_count));
    for (size_t k = 3; k < nodes.size(); ++k) FUZZ_CHECK(nodes[k].kind == PsuNodeKind::file && nodes[k].depth == 1);

    /* The handler converts into the memory the file was read into. */
    std::memcpy(own.data(), file.data(), file.size());
    size_t n2 = 0;
    FUZZ_CHECK(convert_max_to_psu(std::span(own).first(file.size()), build, own, &n2) == MaxError::ok);
    FUZZ_CHECK(n2 == n && std::memcmp(own.data(), out.data(), n) == 0);
    return 0;
}
