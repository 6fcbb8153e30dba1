/* varkon_gui_test.cpp -- VARKON.exe under Wine: dropped PSU and MAX archives (and other writers' saves) are
 * converted beside themselves;
 * a MAX archive with a bad check value shows the "BAD CRC" box, and its PSU archive is written once the box
 * is dismissed, except over the damaged file itself, which a second box tells */
#include "guidrive.h"

#include <cstring>

using namespace guidrive;

namespace {

/* The save SAVE holding one file DATA of the three bytes "abc", as a MAX archive (109 bytes, check value
 * 0x68121DDE) and as the PSU archive VARKON makes of it (modes 0x8427 and 0x8417, all else zero). */
std::string max_archive()
{
    std::string a("Ps2PowerSave", 12);
    a += std::string("\xDE\x1D\x12\x68", 4);
    a += std::string("SAVE") + std::string(60, '\0');
    a += std::string("\x15\0\0\0\x01\0\0\0\x28\0\0\0", 12);
    a += std::string("\xFD\x8A\xD8\xEB\xE8\x49\x05\xE5\x8B\xF2\xD2\x2C\xE9\xF8\x16\x33\xE0", 17);
    return a;
}

std::string psu_entry(uint16_t mode, uint32_t length, const char* name)
{
    std::string e(512, '\0');
    e[0] = char(mode & 0xFF);
    e[1] = char(mode >> 8);
    for (int i = 0; i < 4; ++i) e[4 + i] = char((length >> (8 * i)) & 0xFF);
    std::memcpy(&e[0x40], name, std::strlen(name));
    return e;
}

std::string psu_archive()
{
    std::string data = "abc" + std::string(1021, '\0');
    return psu_entry(0x8427, 3, "SAVE") + psu_entry(0x8427, 0, ".") + psu_entry(0x8427, 0, "..") +
           psu_entry(0x8417, 3, "DATA") + data;
}

std::string with_bad_crc(std::string max)
{
    max[12] = '\0';
    return max;
}

std::string contents(const std::string& path)
{
    std::string bytes;
    return read_file(path, &bytes) ? bytes : std::string("(missing)");
}

HWND start_varkon(Program* tool)
{
    if (!tool->start(program_path("VARKON.exe"))) return nullptr;
    return tool->wait_for_window("VARKON", "#32770");
}

/* The "BAD CRC" box: caption and text "BAD CRC", owned by the tool window, one OK button, no icon. */
void check_bad_crc_box(HWND box, HWND window)
{
    CHECK_EQ(window_text(box), std::string("BAD CRC"));
    CHECK_EQ(message_box_text(box), std::string("BAD CRC"));
    CHECK(GetWindow(box, GW_OWNER) == window);
    CHECK(GetDlgItem(box, IDOK) != nullptr || GetDlgItem(box, IDCANCEL) != nullptr);
    CHECK(GetDlgItem(box, IDNO) == nullptr);
    CHECK(GetDlgItem(box, IDYES) == nullptr);
}

} // namespace

GUI_TEST(dropped_psu_and_max_archives_are_converted_beside_themselves)
{
    Program tool;
    HWND window = start_varkon(&tool);
    REQUIRE(window != nullptr);
    const std::string psu = join(test_folder(), "save.psu");
    const std::string max = join(test_folder(), "other.MAX");
    const std::string text = join(test_folder(), "notes.max");
    REQUIRE(write_file(psu, psu_archive()));
    REQUIRE(write_file(max, max_archive()));
    REQUIRE(write_file(text, std::string("not a save")));
    REQUIRE(drop_files(window, {psu, max, text}));
    CHECK(contents(join(test_folder(), "save.max")) == max_archive());
    CHECK(contents(join(test_folder(), "other.psu")) == psu_archive());
    CHECK_EQ(list_folder(test_folder()),
             (std::vector<std::string>{"notes.max", "other.MAX", "other.psu", "save.max", "save.psu"}));
    CHECK(find_window(tool.pid(), "BAD CRC", "#32770") == nullptr);
    DWORD code = 1;
    CHECK(tool.close(&code));
    CHECK_EQ(code, DWORD(0));
}

/* A PS3 export of SAVE with DATA ("abc"), no dates set; with type 1 a PlayStation save. */
std::string psv_save(char type)
{
    std::string v(0xA0 + 60, '\0');
    std::memcpy(&v[0], "\0VSP", 4);
    v[0x38] = 0x2C;
    v[0x3C] = type;
    v[0x64] = 1;
    v[0x78] = 3;
    v[0x7C] = 0x27;
    v[0x7D] = char(0x84);
    std::memcpy(&v[0x80], "SAVE", 4);
    v[0xA0 + 16] = 3;
    v[0xA0 + 20] = char(0x97);
    v[0xA0 + 21] = char(0x84);
    std::memcpy(&v[0xA0 + 24], "DATA", 4);
    v[0xA0 + 56] = char(0xDC);
    return v + "abc";
}

GUI_TEST(other_writers_saves_convert_silently)
{
    Program tool;
    HWND window = start_varkon(&tool);
    REQUIRE(window != nullptr);
    const std::string ps2 = join(test_folder(), "SAVE.PSV"), ps1 = join(test_folder(), "old.psv");
    REQUIRE(write_file(ps2, psv_save(2)));
    REQUIRE(write_file(ps1, psv_save(1)));
    REQUIRE(write_file(join(test_folder(), "SAVE.psu"), "an older archive")); /* the window replaces it */
    REQUIRE(drop_files(window, {ps2, ps1}));
    /* The directory, ".", "..", DATA and its 1024-byte block; 2000-01-01 stands in for the dates. */
    const std::string psu = contents(join(test_folder(), "SAVE.psu"));
    CHECK_EQ(psu.size(), size_t(3072));
    CHECK(psu.compare(0, 16, std::string("\x27\x84\0\0\x03\0\0\0\0\0\0\0\x01\x01\xD0\x07", 16)) == 0);
    CHECK(psu.compare(2048, 3, "abc") == 0);
    CHECK_EQ(list_folder(test_folder()), (std::vector<std::string>{"SAVE.PSV", "SAVE.psu", "old.psv"}));
    CHECK(find_window(tool.pid(), "BAD CRC", "#32770") == nullptr);
    DWORD code = 1;
    CHECK(tool.close(&code));
    CHECK_EQ(code, DWORD(0));
}

GUI_TEST(bad_crc_box_then_the_psu_archive_is_written)
{
    Program tool;
    HWND window = start_varkon(&tool);
    REQUIRE(window != nullptr);
    const std::string bad = join(test_folder(), "damaged.max");
    const std::string out = join(test_folder(), "damaged.psu");
    REQUIRE(write_file(bad, with_bad_crc(max_archive())));
    REQUIRE(post_drop_files(window, {bad}));
    HWND box = tool.wait_for_dialog("BAD CRC");
    REQUIRE(box != nullptr);
    check_bad_crc_box(box, window);
    save_screenshot(box, "varkon_bad_crc");
    CHECK(!file_exists(out)); /* the box comes first */
    REQUIRE(press_dialog_button(box, IDOK));
    REQUIRE(wait_for_file(out));
    REQUIRE(flush_posted(window));
    CHECK(contents(out) == psu_archive()); /* as for the sound archive */
    CHECK(contents(bad) == with_bad_crc(max_archive()));
}

GUI_TEST(a_damaged_max_archive_named_psu_is_kept)
{
    /* Its conversion would replace it, the only copy: the box shows, and nothing is written. */
    Program tool;
    HWND window = start_varkon(&tool);
    REQUIRE(window != nullptr);
    const std::string only = join(test_folder(), "only.psu");
    const std::string good = join(test_folder(), "good.psu");
    REQUIRE(write_file(only, with_bad_crc(max_archive())));
    REQUIRE(write_file(good, psu_archive()));
    REQUIRE(post_drop_files(window, {only, good}));
    HWND box = tool.wait_for_dialog("BAD CRC");
    REQUIRE(box != nullptr);
    check_bad_crc_box(box, window);
    REQUIRE(press_dialog_button(box, IDOK));
    /* Then a second box, owned by the window too, tells why nothing was written. */
    box = tool.wait_for_dialog("VARKON");
    REQUIRE(box != nullptr);
    CHECK(GetWindow(box, GW_OWNER) == window);
    CHECK_EQ(message_box_text(box), "No PSU archive was written for this MAX archive:\n\n" + only +
                                        "\n\nthe PSU archive would replace this damaged file, the only copy; kept it "
                                        "(rename it to .max to convert it); nothing written");
    CHECK(save_screenshot(box, "varkon_not_written"));
    REQUIRE(press_dialog_button(box, IDOK));
    /* The next file of the drop is converted once the boxes are gone. */
    REQUIRE(wait_for_file(join(test_folder(), "good.max")));
    REQUIRE(flush_posted(window));
    CHECK(contents(only) == with_bad_crc(max_archive()));
    CHECK_EQ(list_folder(test_folder()), (std::vector<std::string>{"good.max", "good.psu", "only.psu"}));
}

GUI_TEST_LOCALE(shift_jis_extension_is_replaced, "ja_JP.UTF-8")
{
    /* Under code page 932 the second byte of "ソ" (0x83 0x5C) has the value of "\": the name's
     * extension is still ".ソ", and the new one replaces it. */
    Program tool;
    HWND window = start_varkon(&tool);
    REQUIRE(window != nullptr);
    const std::string name = wide_to_ansi(L"\u8868.\u30BD"); /* 表.ソ */
    REQUIRE_EQ(name, std::string("\x95\x5C.\x83\x5C"));
    const std::string psu = join(test_folder(), name);
    REQUIRE(write_file(psu, psu_archive()));
    REQUIRE(drop_files(window, {psu}));
    CHECK(contents(join(test_folder(), wide_to_ansi(L"\u8868.max"))) == max_archive());
    CHECK_EQ(list_folder(test_folder()).size(), size_t(2));
}
