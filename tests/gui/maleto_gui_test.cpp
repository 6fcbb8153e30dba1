/* maleto_gui_test.cpp -- MALETO.exe under Wine: dropped PSU archives are renamed after their save's name and
 * title; the option box (REMOVE SJIS) is read for each file; Shift_JIS names under code page 932 */
#include "guidrive.h"

#include "tools/samplegen.h"

using namespace guidrive;

namespace {

constexpr int kOptionBox = 129;

/* A PSU archive of a save with an icon description holding the title, and a data member. */
std::string make_archive(const std::string& path, const std::string& save_name, const std::string& title)
{
    ps2::samples::Save save;
    save.name = save_name;
    save.title = title;
    save.members.push_back({"icon.sys", 964, ps2::samples::Fill::icon, false, {}});
    save.members.push_back({"DATA", 3000, ps2::samples::Fill::mixed, false, {}});
    write_file(path, ps2::samples::build_save(save));
    return path;
}

HWND start_maleto(Program* maleto)
{
    return maleto->start(program_path("MALETO.exe")) ? maleto->wait_for_window("MALETO", "#32770") : nullptr;
}

} // namespace

GUI_TEST(three_dropped_archives_are_renamed_after_name_and_title)
{
    Program maleto;
    HWND window = start_maleto(&maleto);
    REQUIRE(window != nullptr);
    CHECK(!is_topmost(window));
    const std::string& dir = test_folder();
    make_archive(join(dir, "first.psu"), "GAMESAVE01", "My Save");
    make_archive(join(dir, "second.psu"), "BESLES-12345", "Stage 2 - Boss");
    REQUIRE(write_file(join(dir, "notes.psu"), std::string(4096, 'n'))); /* no "PS2D" block: not renamed */
    std::string before;
    REQUIRE(read_file(join(dir, "first.psu"), &before));

    REQUIRE(drop_files(window, {join(dir, "first.psu"), join(dir, "second.psu"), join(dir, "notes.psu")}));
    CHECK_EQ(list_folder(dir), (std::vector<std::string>{"BESLES-12345-[Stage 2 - Boss].psu",
                                                         "GAMESAVE01-[My Save].psu", "notes.psu"}));
    std::string after;
    CHECK(read_file(join(dir, "GAMESAVE01-[My Save].psu"), &after) && after == before);

    /* Dropped again, a renamed archive gets the same name: nothing changes. */
    REQUIRE(drop_files(window, {join(dir, "GAMESAVE01-[My Save].psu")}));
    CHECK_EQ(list_folder(dir).size(), size_t(3));
    CHECK(save_screenshot(window, "maleto"));
    DWORD code = 1;
    CHECK(maleto.close(&code));
    CHECK_EQ(code, DWORD(0));
}

GUI_TEST(option_box_set_between_two_drops_changes_only_the_second)
{
    Program maleto;
    HWND window = start_maleto(&maleto);
    REQUIRE(window != nullptr);
    CHECK_EQ(check_state(window, kOptionBox), BST_UNCHECKED);
    const std::string& dir = test_folder();
    const std::string full_width_ab = "\x82\x60\x82\x61"; /* ＡＢ in Shift_JIS */
    make_archive(join(dir, "a.psu"), "SAVE-ONE", full_width_ab);
    make_archive(join(dir, "b.psu"), "SAVE-TWO", full_width_ab);

    REQUIRE(drop_files(window, {join(dir, "a.psu")}));
    REQUIRE(set_check(window, kOptionBox, true));
    REQUIRE(drop_files(window, {join(dir, "b.psu")}));
    CHECK_EQ(list_folder(dir), (std::vector<std::string>{"SAVE-ONE-[" + full_width_ab + "].psu",
                                                         "SAVE-TWO-[_A_B].psu"}));
    DWORD code = 1;
    CHECK(maleto.close(&code));
    CHECK_EQ(code, DWORD(0));
}

GUI_TEST_LOCALE(shift_jis_names_keep_their_folder, "ja_JP.UTF-8")
{
    REQUIRE_EQ(GetACP(), UINT(932));
    Program maleto;
    HWND window = start_maleto(&maleto);
    REQUIRE(window != nullptr);
    /* 表 is 0x95 0x5C: its second byte is the value of "\" and must not be taken for a separator. */
    const std::string folder = join(test_folder(), "\x95\x5C");
    REQUIRE(make_folder(folder));
    const std::string title = "\x95\x5C\x8E\xA6\x83\x65\x83\x58\x83\x67"; /* 表示テスト */
    make_archive(join(folder, "\x95\x5C.psu"), "BISLPM-65432", title);
    make_archive(join(folder, "two.psu"), "BISLPM-65433", title);

    REQUIRE(drop_files(window, {join(folder, "\x95\x5C.psu")}));
    REQUIRE(set_check(window, kOptionBox, true));
    REQUIRE(drop_files(window, {join(folder, "two.psu")}));
    CHECK_EQ(list_folder(folder), (std::vector<std::string>{"BISLPM-65432-[" + title + "].psu",
                                                            "BISLPM-65433-[__________].psu"}));
    CHECK_EQ(list_folder(test_folder()), (std::vector<std::string>{"\x95\x5C"}));
    CHECK(save_screenshot(window, "maleto_ja"));
    DWORD code = 1;
    CHECK(maleto.close(&code));
    CHECK_EQ(code, DWORD(0));
}
