/* sorvik_gui_test.cpp -- SORVIK.exe under Wine: dropped card images (raw and with spare areas) become folders
 * of PSU archives; the option box gives temp names; Shift_JIS names under code page 932 */
#include "guidrive.h"

#include <cstring>

using namespace guidrive;

namespace {

constexpr int kOptionBox = 129;
constexpr size_t kRawSize = 8388608;
constexpr size_t kPages = 16384;

void put32(std::string* b, size_t off, uint32_t v)
{
    for (int k = 0; k < 4; ++k) (*b)[off + k] = char(uint8_t(v >> (8 * k)));
}

size_t cluster_offset(uint32_t c) { return 0xA400 + 1024 * size_t(c); }

/* A 512-byte entry: mode, length, cluster, name; everything else zero. */
std::string entry(uint16_t mode, uint32_t length, uint32_t cluster, const std::string& name)
{
    std::string e(512, '\0');
    e[0] = char(mode & 0xFF);
    e[1] = char(mode >> 8);
    put32(&e, 4, length);
    put32(&e, 16, cluster);
    std::memcpy(e.data() + 0x40, name.data(), name.size());
    return e;
}

/* A raw card holding a save (".", "..", DATA of 1,500 bytes) and a file standing in the root, and
 * the two archives it splits into (whole clusters, so the tails come along). */
struct TinyCard {
    std::string raw;
    std::string save_archive;
    std::string file_archive;
};

TinyCard make_card(const std::string& save_name)
{
    TinyCard t;
    std::string& c = t.raw;
    c.assign(kRawSize, '\xFF');
    std::memcpy(c.data(), "Sony PS2 Memory Card Format 1.2.0.0", 36);
    for (uint32_t n = 0; n < 8135; ++n) put32(&c, 0x2400 + 4 * n, 0x7FFFFFFF);
    auto link = [&](uint32_t from, uint32_t to) { put32(&c, 0x2400 + 4 * from, 0x80000000u | to); };
    auto end = [&](uint32_t n) { put32(&c, 0x2400 + 4 * n, 0xFFFFFFFF); };
    auto place = [&](uint32_t cluster, int half, const std::string& e) { c.replace(cluster_offset(cluster) + 512 * half, 512, e); };
    /* Root: clusters 0 -> 1; the save: 2 -> 3; DATA: 4 -> 5; README: 6. */
    link(0, 1);
    end(1);
    link(2, 3);
    end(3);
    link(4, 5);
    end(5);
    end(6);
    place(0, 0, entry(0x8427, 4, 0, "."));
    place(0, 1, entry(0xA426, 0, 0, ".."));
    const std::string save = entry(0x8427, 3, 2, save_name);
    const std::string file = entry(0x8497, 100, 6, "README");
    place(1, 0, save);
    place(1, 1, file);
    const std::string dot = entry(0x8427, 0, 0, ".");
    const std::string dotdot = entry(0x8427, 0, 0, "..");
    const std::string data = entry(0x8497, 1500, 4, "DATA");
    place(2, 0, dot);
    place(2, 1, dotdot);
    place(3, 0, data);
    for (size_t k = 0; k < 3 * 1024; ++k) c[cluster_offset(4) + k] = char(uint8_t(k * 7 + 1)); /* data and tails */
    t.save_archive = save + dot + dotdot + data + c.substr(cluster_offset(4), 2048);
    t.file_archive = file + c.substr(cluster_offset(6), 1024);
    return t;
}

/* The image with a 16-byte spare area behind each page. */
std::string coded(const std::string& raw)
{
    std::string out;
    out.reserve(kPages * 528);
    for (size_t p = 0; p < kPages; ++p) {
        out.append(raw, p * 512, 512);
        out.append(16, char(uint8_t(p)));
    }
    return out;
}

std::string contents(const std::string& path)
{
    std::string bytes;
    return read_file(path, &bytes) ? bytes : std::string("(cannot read)");
}

/* folder + "\\" + name even when the folder's name ends in a double-byte character whose second
 * byte is 0x5C (join() would take that byte for a separator already there). */
std::string inside(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

bool start_sorvik(Program* p) { return p->start(program_path("SORVIK.exe")) && p->wait_for_window("SORVIK"); }

} // namespace

GUI_TEST(dropped_raw_and_coded_images_become_folders_of_archives)
{
    Program sorvik;
    REQUIRE(start_sorvik(&sorvik));
    const TinyCard card = make_card("GAMESAVE01");
    const std::string raw = join(test_folder(), "raw.bin");
    const std::string vm2 = join(test_folder(), "coded.vm2");
    const std::string psu = join(test_folder(), "not a card.psu");
    REQUIRE(write_file(raw, card.raw));
    REQUIRE(write_file(vm2, coded(card.raw)));
    REQUIRE(write_file(psu, card.save_archive));
    REQUIRE(drop_files(sorvik.window(), {raw, vm2, psu}));

    for (const char* name : {"raw", "coded"}) {
        const std::string folder = join(test_folder(), name);
        CHECK_EQ(list_folder(folder), (std::vector<std::string>{"GAMESAVE01.psu", "README.psu"}));
        CHECK(contents(join(folder, "GAMESAVE01.psu")) == card.save_archive);
        CHECK(contents(join(folder, "README.psu")) == card.file_archive);
    }
    /* The archive dropped by mistake creates nothing. */
    CHECK_EQ(list_folder(test_folder()),
             (std::vector<std::string>{"coded", "coded.vm2", "not a card.psu", "raw", "raw.bin"}));
    DWORD code = 1;
    CHECK(sorvik.close(&code));
    CHECK_EQ(code, DWORD(0));
}

GUI_TEST(the_option_box_gives_temp_names)
{
    Program sorvik;
    REQUIRE(start_sorvik(&sorvik));
    CHECK_EQ(check_state(sorvik.window(), kOptionBox), int(BST_UNCHECKED));
    const TinyCard card = make_card("A:B");
    const std::string image = join(test_folder(), "card.ps2");
    REQUIRE(write_file(image, coded(card.raw)));

    /* "A:B" is not a name Windows gives to a file: unchecked, only the root file is written. */
    REQUIRE(drop_files(sorvik.window(), {image}));
    const std::string folder = join(test_folder(), "card");
    CHECK_EQ(list_folder(folder), (std::vector<std::string>{"README.psu"}));

    REQUIRE(click_button(sorvik.window(), kOptionBox));
    REQUIRE(flush_posted(sorvik.window()));
    CHECK_EQ(check_state(sorvik.window(), kOptionBox), int(BST_CHECKED));
    REQUIRE(drop_files(sorvik.window(), {image}));
    CHECK_EQ(list_folder(folder), (std::vector<std::string>{"README.psu", "temp0002.psu", "temp0003.psu"}));
    CHECK(contents(join(folder, "temp0002.psu")) == card.save_archive);
    CHECK(contents(join(folder, "temp0003.psu")) == card.file_archive);
}

GUI_TEST_LOCALE(shift_jis_names_with_a_second_byte_of_0x5c, "ja_JP.UTF-8")
{
    Program sorvik;
    REQUIRE(start_sorvik(&sorvik));
    const std::string hyo = wide_to_ansi(L"\u8868"); /* 表: 0x95 0x5C */
    REQUIRE_EQ(hyo, std::string("\x95\x5C"));
    const TinyCard card = make_card("GAMESAVE01");
    /* The folder is named 表; and an extension 表 is cut as one, its 0x5C not taken for "\". */
    const std::string a = join(test_folder(), hyo + ".ps2");
    const std::string b = join(test_folder(), "card." + hyo);
    REQUIRE(write_file(a, coded(card.raw)));
    REQUIRE(write_file(b, card.raw));
    REQUIRE(drop_files(sorvik.window(), {a, b}));
    for (const std::string& name : {hyo, std::string("card")}) {
        const std::string folder = inside(test_folder(), name);
        CHECK(folder_exists(folder));
        CHECK_EQ(list_folder(folder + "\\"), (std::vector<std::string>{"GAMESAVE01.psu", "README.psu"}));
        CHECK(contents(inside(folder, "GAMESAVE01.psu")) == card.save_archive);
    }
}
