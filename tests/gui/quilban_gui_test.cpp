/* quilban_gui_test.cpp -- QUILBAN.exe under Wine: drop an archive, drop its manifest back, the option box,
 * and a run in code page 932 with a Shift_JIS folder name whose second byte is "\" */
#include "guidrive.h"

#include <cstring>
#include <string>
#include <vector>

using namespace guidrive;

namespace {

constexpr int kOptionBox = 129;

/* A 512-byte PSU entry: mode, length and name are all QUILBAN needs; the rest stays zero. */
std::string entry(uint16_t mode, uint32_t length, const std::string& name)
{
    std::string r(512, '\0');
    r[0] = char(mode & 0xFF);
    r[1] = char(mode >> 8);
    for (int i = 0; i < 4; ++i) r[size_t(4 + i)] = char((length >> (8 * i)) & 0xFF);
    r[0x10] = 7; /* cluster, carried through the manifest */
    std::memcpy(&r[0x40], name.data(), name.size() < 32 ? name.size() : 32);
    return r;
}

/* A save: top entry, ".", "..", then each file with its data padded with zeros to 1024. */
std::string make_save(const std::string& top, const std::vector<std::pair<std::string, std::string>>& files)
{
    std::string a = entry(0x8427, uint32_t(files.size() + 2), top) + entry(0x8427, 0, ".") + entry(0x8427, 0, "..");
    for (const auto& [name, data] : files) {
        a += entry(0x8497, uint32_t(data.size()), name) + data;
        a.append((1024 - data.size() % 1024) % 1024, '\0');
    }
    return a;
}

std::string bytes_of_length(size_t n, char seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char(seed + i * 7);
    return s;
}

const std::string kSave =
    make_save("BISLPS-25105-01", {{"icon.sys", bytes_of_length(964, 1)}, {"DATA", bytes_of_length(1025, 2)},
                                  {"EMPTY", ""}});

HWND start_quilban(Program* p)
{
    if (!p->start(program_path("QUILBAN.exe"))) return nullptr;
    return p->wait_for_window("QUILBAN");
}

std::string contents(const std::string& path)
{
    std::string s;
    return read_file(path, &s) ? s : std::string("(unreadable)");
}

} // namespace

GUI_TEST(quilban_unpacks_then_rebuilds_from_a_lower_case_manifest)
{
    const std::string archive = join(test_folder(), "SAVE01.psu");
    REQUIRE(write_file(archive, kSave));
    Program p;
    HWND w = start_quilban(&p);
    REQUIRE(w != nullptr);
    CHECK_EQ(check_state(w, kOptionBox), BST_UNCHECKED);

    REQUIRE(drop_files(w, {archive}));
    const std::string folder = join(test_folder(), "SAVE01");
    CHECK_EQ(list_folder(folder), (std::vector<std::string>{"DATA", "EMPTY", "QUILBAN.TXT", "icon.sys"}));
    CHECK(contents(join(folder, "DATA")) == bytes_of_length(1025, 2));
    CHECK_EQ(contents(join(folder, "QUILBAN.TXT")).substr(0, 9), std::string("QUILBAN\r\n"));

    /* Named in lower case, the manifest is still recognised (a-z folded). */
    REQUIRE(MoveFileA(join(folder, "QUILBAN.TXT").c_str(), join(folder, "quilban.txt").c_str()));
    REQUIRE(drop_files(w, {join(folder, "quilban.txt")}));
    CHECK(contents(join(folder, "BISLPS-25105-01.psu")) == kSave);
    save_screenshot(w, "quilban_window");

    DWORD code = 1;
    CHECK(p.close(&code));
    CHECK_EQ(code, DWORD(0));
}

GUI_TEST(quilban_option_box_is_read_for_each_file)
{
    const std::string a = join(test_folder(), "a.psu");
    const std::string b = join(test_folder(), "b.psu");
    REQUIRE(write_file(a, kSave));
    REQUIRE(write_file(b, kSave));
    Program p;
    HWND w = start_quilban(&p);
    REQUIRE(w != nullptr);

    /* Checked: temporary member names, counting every entry, so the files start at 3. */
    REQUIRE(click_button(w, kOptionBox));
    REQUIRE(flush_posted(w));
    CHECK_EQ(check_state(w, kOptionBox), BST_CHECKED);
    REQUIRE(drop_files(w, {a}));
    CHECK_EQ(list_folder(join(test_folder(), "a")),
             (std::vector<std::string>{"QUILBAN.TXT", "temp0003.bin", "temp0004.bin", "temp0005.bin"}));
    /* Still checked: the rebuild writes temp.psu. */
    REQUIRE(drop_files(w, {join(test_folder(), "a\\QUILBAN.TXT")}));
    CHECK(contents(join(test_folder(), "a\\temp.psu")) == kSave);

    /* Unchecked: the entries' own names, and a rebuild named after the save. */
    REQUIRE(set_check(w, kOptionBox, false));
    REQUIRE(drop_files(w, {b, join(test_folder(), "a\\QUILBAN.TXT")}));
    CHECK_EQ(list_folder(join(test_folder(), "b")),
             (std::vector<std::string>{"DATA", "EMPTY", "QUILBAN.TXT", "icon.sys"}));
    CHECK(contents(join(test_folder(), "a\\BISLPS-25105-01.psu")) == kSave);
}

GUI_TEST(quilban_refuses_names_that_leave_the_folder)
{
    const std::string archive = join(test_folder(), "evil.psu");
    REQUIRE(write_file(archive, make_save("..\\..\\up", {{"..\\escaped", "x"}, {"ok", "y"}})));
    Program p;
    HWND w = start_quilban(&p);
    REQUIRE(w != nullptr);
    REQUIRE(drop_files(w, {archive}));
    CHECK_EQ(list_folder(join(test_folder(), "evil")), (std::vector<std::string>{"QUILBAN.TXT", "ok"}));
    CHECK(!file_exists(join(test_folder(), "escaped")));
    /* Its manifest names an unsafe member: nothing is rebuilt. */
    REQUIRE(drop_files(w, {join(test_folder(), "evil\\QUILBAN.TXT")}));
    CHECK_EQ(list_folder(join(test_folder(), "evil")), (std::vector<std::string>{"QUILBAN.TXT", "ok"}));
    CHECK_EQ(list_folder(test_folder()), (std::vector<std::string>{"evil", "evil.psu"}));
}

/* "ソ表" (0x83 0x5C 0x95 0x5C): both second bytes have the value of "\". Paths are put together
 * with an explicit "\" here: a byte test for a trailing separator would take the 0x5C for one. */
GUI_TEST_LOCALE(quilban_shift_jis_folder_names, "ja_JP.UTF-8")
{
    CHECK_EQ(GetACP(), UINT(932));
    const std::string folder = test_folder() + "\\\x83\x5C\x95\x5C";
    REQUIRE(make_folder(folder));
    const std::string archive = folder + "\\s\x83\x5C.psu";
    const std::string save = make_save("BISLPS-25105", {{"\x83\x5C.bin", bytes_of_length(100, 3)}});
    REQUIRE(write_file(archive, save));
    Program p;
    HWND w = start_quilban(&p);
    REQUIRE(w != nullptr);
    REQUIRE(drop_files(w, {archive}));
    const std::string unpacked = folder + "\\s\x83\x5C";
    CHECK_EQ(list_folder(unpacked + "\\"), (std::vector<std::string>{"QUILBAN.TXT", "\x83\x5C.bin"}));
    REQUIRE(drop_files(w, {unpacked + "\\quilban.txt"}));
    CHECK(contents(unpacked + "\\BISLPS-25105.psu") == save);
    save_screenshot(w, "quilban_window_cp932");
}
