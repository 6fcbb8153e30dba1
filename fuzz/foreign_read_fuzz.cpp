/* foreign_read_fuzz.cpp -- any bytes taken as a CodeBreaker, SharkPort/X-Port or PSV save: refused, or read
 * with every file inside the file or the inflated body and never past the body's room; the PSU archive of
 * its whole files is a well-formed flat archive holding exactly those files, the same bytes every time. */
#include <cstring>
#include <vector>

#include "common/psu.h"
#include "fuzz/fuzz_support.h"
#include "maxconv/foreign_save.h"

namespace {

constexpr uint8_t kCanary = 0xA5;
constexpr size_t kCanarySize = 64;
/* A body smaller than a PSU archive's limit, so that "no room" is reached by small inputs too. */
constexpr size_t kBodyRoom = 1 << 20;

bool inside(std::span<const uint8_t> part, std::span<const uint8_t> whole)
{
    return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace ps2;
    static std::vector<uint8_t> body(kBodyRoom + kCanarySize), out(kForeignPsuLimit), again(kForeignPsuLimit);
    static std::vector<ForeignFile> files(kForeignFileLimit);
    if (size > kForeignPsuLimit) return 0;
    /* Most inputs get one of the three magics, chosen by their first byte, so that they reach a reader. */
    std::vector<uint8_t> file(data, data + size);
    static const uint8_t magics[3][17] = {{'C', 'F', 'U', 0},
                                          {0x0D, 0, 0, 0, 'S', 'h', 'a', 'r', 'k', 'P', 'o', 'r', 't', 'S', 'a', 'v', 'e'},
                                          {0, 'V', 'S', 'P'}};
    static const size_t magic_size[3] = {4, 17, 4};
    if (detect_foreign_format(file) == ForeignFormat::none && !file.empty()) {
        const size_t k = file[0] % 3;
        if (file.size() >= magic_size[k]) std::memcpy(file.data(), magics[k], magic_size[k]);
    }
    std::memset(body.data() + kBodyRoom, kCanary, kCanarySize);

    ForeignSave save;
    const std::span<uint8_t> room = std::span(body).first(kBodyRoom);
    const ForeignError e = read_foreign_save(file, room, files, &save);
    for (size_t i = kBodyRoom; i < body.size(); ++i) FUZZ_CHECK(body[i] == kCanary);
    if (detect_foreign_format(file) == ForeignFormat::none) FUZZ_CHECK(e == ForeignError::not_foreign);
    if (e != ForeignError::ok) return 0;

    FUZZ_CHECK(check_save_name(save.dir_name()) == ForeignError::ok);
    uint32_t whole = 0;
    for (const ForeignFile& f : save.file_list()) {
        FUZZ_CHECK(inside(f.data, file) || inside(f.data, room));
        FUZZ_CHECK(f.data.size() <= f.size);
        if (f.fault != ForeignError::ok) continue;
        ++whole;
        FUZZ_CHECK(f.data.size() == f.size);
        FUZZ_CHECK(check_save_name(f.name) == ForeignError::ok && f.name.size() <= kCardNameMax);
        FUZZ_CHECK((f.mode & 0xFFFF8030u) == 0x8010);
    }

    size_t n = 0, m = 0;
    ForeignPsuInfo info;
    const ForeignError w = write_foreign_psu(save, out, &n, &info);
    if (w != ForeignError::ok) {
        FUZZ_CHECK(w == ForeignError::psu_too_large && n == 0);
        return 0;
    }
    FUZZ_CHECK(info.files_written == whole);
    FUZZ_CHECK(write_foreign_psu(save, again, &m) == ForeignError::ok && m == n && std::memcmp(out.data(), again.data(), n) == 0);

    /* The archive: the directory, its links, then the whole files in order, names and bytes unchanged. */
    std::vector<PsuNode> nodes;
    size_t end = 0;
    const std::span<const uint8_t> psu = std::span(out).first(n);
    FUZZ_CHECK(walk_psu_archive(psu, &nodes, &end) == PsuError::ok);
    FUZZ_CHECK(nodes.size() == 3 + size_t(whole));
    FUZZ_CHECK(record_length(psu.data()) == whole + 2 && psu_record_name(psu.data()) == save.dir_name());
    size_t k = 3;
    for (const ForeignFile& f : save.file_list()) {
        if (f.fault != ForeignError::ok) continue;
        const PsuNode& node = nodes[k++];
        FUZZ_CHECK(node.kind == PsuNodeKind::file && node.depth == 1 && node.data_length == f.data.size());
        FUZZ_CHECK(psu_record_name(psu.data() + node.offset) == f.name);
        FUZZ_CHECK(f.data.empty() || std::memcmp(psu.data() + node.data_offset, f.data.data(), f.data.size()) == 0);
    }
    return 0;
}
