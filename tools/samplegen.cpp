/* samplegen.cpp -- well-formed PSU archives of our own, deterministic from a seed */
#include "tools/samplegen.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/iconsys.h"
#include "common/psu.h"

namespace ps2::samples {

namespace {

/* splitmix64: small, fast, good enough for test data. */
struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 0x1234567ull) {}
    uint64_t next()
    {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return n ? uint32_t(next() % n) : 0; }
};

const char kWords[] =
    "the quick save of a hero who walks the long road to the castle gate level "
    "stage score gold items map chapter memory card slot continue option sound ";

void fill_text(uint8_t* p, uint32_t n, Rng& rng)
{
    const size_t words = sizeof kWords - 1;
    uint32_t start = rng.below(uint32_t(words));
    for (uint32_t i = 0; i < n; ++i) p[i] = uint8_t(kWords[(start + i) % words]);
}

void fill_random(uint8_t* p, uint32_t n, Rng& rng)
{
    for (uint32_t i = 0; i < n; ++i) p[i] = uint8_t(rng.next() >> 24);
}

void fill_mixed(uint8_t* p, uint32_t n, Rng& rng)
{
    uint32_t i = 0;
    while (i < n) {
        const uint32_t run = std::min(n - i, 16 + rng.below(2048));
        switch (rng.below(8)) {
        case 0:
        case 1:
        case 2: /* zero runs dominate real saves */
            std::memset(p + i, 0, run);
            break;
        case 3:
        case 4: /* records: small integers at a fixed stride */
            for (uint32_t k = 0; k < run; ++k) p[i + k] = (k % 16 < 4) ? uint8_t(rng.below(16)) : 0;
            break;
        case 5:
        case 6:
            fill_text(p + i, run, rng);
            break;
        default:
            fill_random(p + i, std::min(run, 256u), rng);
            if (run > 256) std::memset(p + i + 256, 0, run - 256);
            break;
        }
        i += run;
    }
}

void set_stamp(PsuEntry* e, Rng& rng)
{
    /* Eight bytes as a card keeps them: a zero byte, seconds, minutes, hours, day, month, year (u16). */
    uint8_t t[8] = {0, uint8_t(rng.below(60)), uint8_t(rng.below(60)), uint8_t(rng.below(24)),
                    uint8_t(1 + rng.below(28)), uint8_t(1 + rng.below(12)), 0, 0};
    store_u16le(t + 6, uint16_t(2000 + rng.below(25)));
    std::memcpy(e->created.data(), t, 8);
    t[1] = uint8_t(rng.below(60));
    std::memcpy(e->modified.data(), t, 8);
}

struct Builder {
    const Save& save;
    Rng rng;
    std::vector<uint8_t> out;
    uint32_t next_cluster = 2;

    void add_record(const PsuEntry& e)
    {
        const size_t at = out.size();
        out.resize(at + kPsuEntrySize);
        encode_psu_entry(e, out.data() + at);
    }

    PsuEntry decorate(PsuEntry e, uint32_t index)
    {
        if (save.card_fields) {
            set_stamp(&e, rng);
            e.cluster = next_cluster;
            e.dir_entry = index;
            next_cluster += 1 + rng.below(40);
        }
        return e;
    }

    void add_directory(const std::string& name, const std::vector<Member>& members, uint32_t index)
    {
        add_record(decorate(make_directory_entry(name, uint32_t(members.size() + 2)), index));
        add_record(decorate(make_directory_entry(".", 0), 0));
        add_record(decorate(make_directory_entry("..", 0), 1));
        uint32_t k = 2;
        for (const Member& m : members) {
            if (m.is_directory) {
                add_directory(m.name, m.children, k++);
                continue;
            }
            PsuEntry e = decorate(make_file_entry(m.name, m.size), k++);
            e.mode = save.file_mode;
            add_record(e);
            const std::vector<uint8_t> data = m.fill == Fill::icon ? make_icon_sys(save.title, m.size ? m.size : 964)
                                                                   : make_fill(m.fill, m.size, uint32_t(rng.next()));
            store_u32le(out.data() + out.size() - kPsuEntrySize + psu_field::length, uint32_t(data.size()));
            const size_t data_start = out.size();
            out.insert(out.end(), data.begin(), data.end());
            out.resize(data_start + size_t(round_up_1024(data.size())), 0); /* zero padding to 1024 */
        }
    }
};

} // namespace

std::vector<uint8_t> make_fill(Fill fill, uint32_t size, uint32_t seed)
{
    std::vector<uint8_t> d(size, 0);
    Rng rng(seed);
    switch (fill) {
    case Fill::zeros:
        break;
    case Fill::text:
        fill_text(d.data(), size, rng);
        break;
    case Fill::random:
        fill_random(d.data(), size, rng);
        break;
    case Fill::mixed:
    case Fill::icon:
        fill_mixed(d.data(), size, rng);
        break;
    }
    return d;
}

std::vector<uint8_t> make_icon_sys(const std::string& title, uint32_t size)
{
    std::vector<uint8_t> d(std::max<size_t>(size, kIconSysTitleOffset + kIconSysTitleSize), 0);
    std::memcpy(d.data(), kIconSysMagic, kIconSysMagicSize);
    store_u16le(d.data() + kIconSysLineBreakOffset, uint16_t(std::min(title.size(), kIconSysTitleSize)));
    std::memcpy(d.data() + kIconSysTitleOffset, title.data(), std::min(title.size(), kIconSysTitleSize - 1));
    /* Light source and icon file names, as icon descriptions carry them. */
    std::memcpy(d.data() + 0x104, "icon.ico", 8);
    std::memcpy(d.data() + 0x144, "icon.ico", 8);
    std::memcpy(d.data() + 0x184, "icon.ico", 8);
    return d;
}

std::vector<uint8_t> build_save(const Save& save)
{
    Builder b{save, Rng(save.seed), {}, 2};
    b.add_directory(save.name, save.members, 0);
    return std::move(b.out);
}

Save random_save(uint32_t seed, bool allow_nested, uint32_t max_member_size)
{
    Rng rng(seed ^ 0xA5A5A5u);
    Save s;
    s.seed = seed;
    char name[40];
    std::snprintf(name, sizeof name, "BESLES-%05uSAVE%02u", rng.below(100000), rng.below(100));
    s.name = name;
    if (rng.below(5) == 0) s.name.resize(32, 'X'); /* a name filling the whole field */
    s.title = rng.below(2) ? "Sample Save " + std::to_string(seed) : std::string("\x83\x54\x83\x93\x83\x76\x83\x8B\x81\x40\x82\x60"); /* サンプル　Ａ */
    s.file_mode = rng.below(2) ? 0x8497 : 0x8417;
    static const uint32_t kEdges[] = {0, 1, 511, 512, 1023, 1024, 1025, 2047, 2048, 3000, 4096, 8192};
    const uint32_t n = 1 + rng.below(8);
    s.members.push_back({"icon.sys", 964, Fill::icon, false, {}});
    for (uint32_t i = 0; i < n; ++i) {
        Member m;
        m.name = "DATA" + std::to_string(i);
        const uint32_t pick = rng.below(4);
        m.size = pick < 3 ? kEdges[rng.below(sizeof kEdges / sizeof kEdges[0])] : rng.below(max_member_size + 1);
        m.fill = Fill(rng.below(4));
        if (allow_nested && rng.below(6) == 0) {
            m.is_directory = true;
            m.name = "SUB" + std::to_string(i);
            m.children.push_back({"INNER", rng.below(5000), Fill::mixed, false, {}});
            if (rng.below(2)) m.children.push_back({"EMPTY", 0, Fill::zeros, false, {}});
        }
        s.members.push_back(std::move(m));
    }
    if (rng.below(3) == 0) std::swap(s.members.front(), s.members.back()); /* icon.sys not always first */
    return s;
}

std::vector<Save> demo_saves()
{
    std::vector<Save> v;
    v.push_back({"BASLUS-20001GAME", "My Save", {{"icon.sys", 964, Fill::icon, false, {}}, {"GAME00", 24000, Fill::mixed, false, {}}, {"icon.ico", 8000, Fill::random, false, {}}}, 11});
    v.push_back({"BISLPS-25001ADV",
                 "\x82\x60\x82\x61\x81\x40\x83\x5A\x81\x5B\x83\x75", /* ＡＢ　セーブ */
                 {{"icon.sys", 964, Fill::icon, false, {}}, {"DATA", 1025, Fill::text, false, {}}, {"EMPTY", 0, Fill::zeros, false, {}}},
                 12});
    v.push_back({"BESLES-50001RACE", "Race: Time Trial?", {{"SYS.DAT", 1024, Fill::mixed, false, {}}, {"icon.sys", 964, Fill::icon, false, {}}, {"TRACKS", 0, Fill::zeros, true, {{"T1", 3000, Fill::mixed, false, {}}, {"T2", 0, Fill::zeros, false, {}}}}}, 13});
    return v;
}

} // namespace ps2::samples
