/* seedgen.cpp -- writes the seed inputs of the fuzz targets whose inputs are not plain files (cards in the
 * compact form of cardsplit_split_fuzz, lists of cardbuild_card_fuzz, counted streams of lzari_decode_fuzz,
 * pieces of droprun_text_fuzz), made from the sample generator's saves.
 * Usage: ps2-fuzz-seeds CORPUS-FOLDER (fuzz/corpus); each target's seeds go to its own folder there. */
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "card/card.h"
#include "cardbuild/cardbuild.h"
#include "common/platform.h"
#include "common/psu.h"
#include "maxconv/lzari.h"
#include "tools/samplegen.h"

using namespace ps2;

namespace {

using Bytes = std::vector<uint8_t>;

std::string g_root;
int g_failures = 0;

void write_seed(const char* target, const char* name, const Bytes& bytes)
{
    const std::string folder = g_root + "/" + target;
    const std::string path = folder + "/" + name;
    if (plat::create_folder(folder.c_str()) != plat::IoError::ok ||
        plat::write_file_replace(path.c_str(), bytes) != plat::IoError::ok) {
        std::fprintf(stderr, "ps2-fuzz-seeds: cannot write %s\n", path.c_str());
        ++g_failures;
        return;
    }
    std::printf("%s (%zu bytes)\n", path.c_str(), bytes.size());
}

Bytes save(const samples::Save& s) { return samples::build_save(s); }

samples::Save small_save(const std::string& name, uint32_t seed, bool nested = false)
{
    samples::Save s;
    s.name = name;
    s.title = "Seed " + name;
    s.seed = seed;
    s.members = {{"icon.sys", 964, samples::Fill::icon, false, {}}, {"DATA", 1500, samples::Fill::mixed, false, {}},
                 {"EMPTY", 0, samples::Fill::zeros, false, {}}};
    if (nested)
        s.members.push_back({"SUB", 0, samples::Fill::zeros, true, {{"INNER", 700, samples::Fill::text, false, {}}}});
    return s;
}

/* ---- cardsplit_split_fuzz: options, FAT entries 0-63, clusters from 0 ---- */

struct Card {
    Bytes image = Bytes(kRawImageSize);
    CardBuilder builder{RawImage(image.data(), kRawImageSize)};
    RawImage raw() { return RawImage(image.data(), kRawImageSize); }
};

Bytes compact_card(Card& c, uint8_t options)
{
    const uint32_t clusters = std::min<uint32_t>(c.builder.used_clusters(), 64);
    Bytes out{options};
    out.insert(out.end(), c.image.begin() + long(kFatOffset), c.image.begin() + long(kFatOffset + 256));
    out.insert(out.end(), c.image.begin() + long(kAllocOffset),
               c.image.begin() + long(kAllocOffset + size_t(clusters) * kClusterSize));
    return out;
}

void add(Card& c, const Bytes& archive)
{
    ArchivePlan plan;
    if (c.builder.add_archive(archive, &plan) != BuildError::ok) {
        std::fprintf(stderr, "ps2-fuzz-seeds: a sample does not place\n");
        ++g_failures;
    }
}

void cardsplit_seeds()
{
    const char* t = "cardsplit_split_fuzz";
    {
        Card c;
        write_seed(t, "fresh", compact_card(c, 0));
    }
    {
        Card c;
        add(c, save(small_save("BASLUS-20001", 1)));
        add(c, save(small_save("BESLES-50001", 2, true)));
        write_seed(t, "two-saves", compact_card(c, 0));
        write_seed(t, "two-saves-temp-windows", compact_card(c, 3));
    }
    {
        /* Names that cannot be file names, and one name twice. */
        Card c;
        for (const char* name : {"GOOD", "../UP", "A\\B", "..", "GOOD", "\x83\x5C"})
            add(c, save(small_save(name, 3)));
        write_seed(t, "names", compact_card(c, 2));
    }
    {
        /* A directory whose chain loops, and a file whose chain runs into the directory's. */
        Card c;
        add(c, save(small_save("LOOPED", 4, true)));
        const uint32_t used = c.builder.used_clusters();
        set_fat_entry(c.raw(), used - 1, kFatInUse | 1);
        set_fat_entry(c.raw(), 2, kFatInUse | 1);
        write_seed(t, "loops", compact_card(c, 0));
    }
}

/* ---- cardbuild_card_fuzz: options, filler, files between "%%FILE%%" ---- */

void cardbuild_seeds()
{
    const char* t = "cardbuild_card_fuzz";
    const std::string_view sep = "%%FILE%%";
    auto list = [&](uint8_t options, uint8_t filler, const std::vector<std::pair<uint8_t, Bytes>>& files) {
        Bytes out{options, filler};
        for (size_t k = 0; k < files.size(); ++k) {
            if (k) out.insert(out.end(), sep.begin(), sep.end());
            out.push_back(files[k].first);
            out.insert(out.end(), files[k].second.begin(), files[k].second.end());
        }
        return out;
    };
    const Bytes a = save(small_save("BASLUS-20001", 1));
    const Bytes b = save(small_save("BESLES-50001", 2, true));
    write_seed(t, "two-saves", list(0, 0, {{0, a}, {0, b}}));
    write_seed(t, "coded", list(1, 0, {{1, a}, {0, b}}));
    Bytes cut = b;
    cut.resize(cut.size() - 700);
    write_seed(t, "cut-and-text", list(0, 0, {{0, cut}, {0, Bytes(3000, 'x')}, {2, a}}));
    /* Nearly full: the filler leaves about 60 clusters, the list needs more. */
    write_seed(t, "full", list(0, 252, {{7, a}, {7, b}}));
}

/* ---- lzari_decode_fuzz: count, scale byte, stream ---- */

void lzari_seeds()
{
    const char* t = "lzari_decode_fuzz";
    int n = 0;
    for (const samples::Save& s : samples::demo_saves()) {
        const Bytes payload = samples::make_fill(samples::Fill::mixed, 20000 + 9000 * uint32_t(n), s.seed);
        Bytes stream(payload.size() * 2 + 64);
        size_t stored = 0;
        if (lzari_encode(payload, stream, &stored) != LzariError::ok) {
            ++g_failures;
            continue;
        }
        stream.resize(stored);
        Bytes seed{uint8_t(payload.size()), uint8_t(payload.size() >> 8), 0};
        seed.insert(seed.end(), stream.begin(), stream.end());
        write_seed(t, ("stream" + std::to_string(n++)).c_str(), seed);
    }
    write_seed(t, "abc", Bytes{0x03, 0x00, 0x00, 0xB0, 0xA8, 0xC2, 0x00});
}

/* ---- droprun_text_fuzz: NUL-separated pieces ---- */

void droprun_seeds()
{
    const char* t = "droprun_text_fuzz";
    auto pieces = [](std::initializer_list<std::string_view> p) {
        Bytes out;
        for (const std::string_view s : p) {
            out.insert(out.end(), s.begin(), s.end());
            out.push_back(0);
        }
        return out;
    };
    write_seed(t, "windows", pieces({"\"C:\\tools\\droprun.exe\" \"C:\\saves\\a b.psu\"", ".psu|.MAX", "C:\\saves\\a b.psu",
                                     "\"%windows%\\notepad.exe\" \"%path%\" %name% [%body%] %dir% %process% %desktop%",
                                     "C:\\WINDOWS", "C:\\tools", "C:\\Users\\u\\Desktop"}));
    write_seed(t, "shift-jis", pieces({"droprun \"\x83\x5C\\x\\\x95\x5C.psu\"", "\x83\x7C|.psu", "C:\\\x83\x5C\\\x95\x5C.psu",
                                       "cmd /c copy \"%path%\" \"%dir%\\%body%.bak\""}));
    write_seed(t, "posix", pieces({"droprun /home/u/a\\\"b.psu", "", "/home/u/say \"hi\".psu", "prog \"%path%\" %name% end",
                                   "", "/opt/droprun", "/home/u/Desktop"}));
}

/* ---- card_layout_fuzz: a size choice, the superblock behind its signature, the indirect FAT ---- */

void layout_seeds()
{
    const char* t = "card_layout_fuzz";
    const struct {
        const char* name;
        uint32_t megabytes;
        uint8_t choice;
        bool other; /* indirect FAT at 16, allocatable area from 49 */
    } seeds[] = {{"standard-raw", 8, 1, false}, {"standard-coded", 8, 2 | 8, false}, {"other-layout", 8, 2 | 8, true},
                 {"16mb-raw", 16, 3, false}, {"64mb-coded-cut", 64, 0 | 8, false}};
    for (const auto& seed : seeds) {
        CardGeometry g;
        (void)geometry_for_size(seed.megabytes, &g);
        if (seed.other) {
            g.ifat[0] = 16;
            for (uint32_t k = 0; k < g.fat_count; ++k) g.fat[k] = 17 + k;
            g.alloc_offset = 49;
            g.alloc_clusters = 8127;
        }
        Bytes card(g.raw_size());
        layout_fresh_card(card, g);
        Bytes out{seed.choice};
        out.insert(out.end(), card.begin() + long(kCardSignatureSize), card.begin() + long(kPageSize));
        out.insert(out.end(), card.begin() + long(g.ifat[0] * kClusterSize), card.begin() + long((g.ifat[0] + 1) * kClusterSize));
        write_seed(t, seed.name, out);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "Usage: ps2-fuzz-seeds CORPUS-FOLDER\n");
        return 2;
    }
    g_root = argv[1];
    cardsplit_seeds();
    layout_seeds();
    cardbuild_seeds();
    lzari_seeds();
    droprun_seeds();
    return g_failures ? 1 : 0;
}
