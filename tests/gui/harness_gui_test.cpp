/* harness_gui_test.cpp -- the GUI harness on its own test window: drops, list and combo boxes,
 * message boxes, save dialogs, template and icon reading */
#include "guidrive.h"

using namespace guidrive;

namespace {

constexpr int kList = 128;
constexpr int kCombo = 129;
constexpr int kCommandMessage = 200;
constexpr int kCommandSave = 201;
constexpr int kCommandLongItem = 202;

std::string target_log()
{
    std::string log;
    read_file(join(test_folder(), "TARGET.LOG"), &log);
    return log;
}

bool start_target(Program* target)
{
    return target->start(program_path("harness_target.exe")) && target->wait_for_window("HARNESS TARGET");
}

} // namespace

GUI_TEST(drop_reaches_the_target_in_order_and_list_items_read_back)
{
    Program target;
    REQUIRE(start_target(&target));
    const std::string a = join(test_folder(), "a.psu");
    const std::string b = join(test_folder(), "second file.psu");
    REQUIRE(drop_files(target.window(), {a, b}));
    HWND list = GetDlgItem(target.window(), kList);
    CHECK_EQ(list_items(list), (std::vector<std::string>{a, b}));
    CHECK_EQ(target_log(), std::string("drop 2\r\n"));

    /* A posted drop. */
    REQUIRE(post_drop_files(target.window(), {"C:\\x"}));
    CHECK(wait_until([&] { return list_items(list).size() == 3; }));
    CHECK_EQ(target_log(), std::string("drop 2\r\ndrop 1\r\n"));

    /* Items longer than any fixed buffer come back whole. */
    REQUIRE(send_command(target.window(), kCommandLongItem));
    const std::vector<std::string> items = list_items(list);
    REQUIRE_EQ(items.size(), size_t(4));
    CHECK_EQ(items[3], std::string(1000, 'x'));

    CHECK(select_list_item(list, 1));
    CHECK_EQ(list_selection(list), 1);
    DWORD code = 0;
    CHECK(target.close(&code));
    CHECK_EQ(code, DWORD(7));
}

GUI_TEST(message_box_found_by_caption_read_and_answered)
{
    Program target;
    REQUIRE(start_target(&target));
    REQUIRE(send_command(target.window(), kCommandMessage, 0, nullptr, true));
    HWND box = target.wait_for_dialog("NOTICE");
    REQUIRE(box != nullptr);
    CHECK_EQ(message_box_text(box), std::string("HELLO THERE"));
    CHECK(press_dialog_button(box, IDCANCEL));
    CHECK(wait_until([] { return target_log() == "message 2\r\n"; }));

    REQUIRE(send_command(target.window(), kCommandMessage, 0, nullptr, true));
    box = target.wait_for_dialog("NOTICE");
    REQUIRE(box != nullptr);
    CHECK(press_dialog_button(box, IDOK));
    CHECK(wait_until([] { return target_log() == "message 2\r\nmessage 1\r\n"; }));
}

GUI_TEST(save_dialog_filled_and_confirmed)
{
    Program target;
    REQUIRE(start_target(&target));
    REQUIRE(send_command(target.window(), kCommandSave, 0, nullptr, true));
    HWND dialog = target.wait_for_dialog(nullptr);
    REQUIRE(dialog != nullptr);
    const std::string out = join(test_folder(), "card.bin");
    REQUIRE(fill_file_dialog(dialog, out));
    /* The log line comes after the file is complete. */
    CHECK(wait_until([&] { return target_log() == "saved " + out + "\r\n"; }));
    std::string bytes;
    CHECK(read_file(out, &bytes));
    CHECK_EQ(bytes, std::string("saved"));
}

GUI_TEST(combo_selection_notifies_the_parent)
{
    Program target;
    REQUIRE(start_target(&target));
    HWND combo = GetDlgItem(target.window(), kCombo);
    CHECK_EQ(combo_items(combo), (std::vector<std::string>{"first", "second", "third"}));
    CHECK(select_combo_item(target.window(), kCombo, 2));
    CHECK_EQ(target_log(), std::string("select 2\r\n"));
    CHECK(save_screenshot(target.window(), "harness_target"));
}

GUI_TEST(templates_and_icons_read_from_program_files)
{
    DialogTemplate dialog;
    REQUIRE(read_dialog_template(program_path("harness_target.exe"), "MAIN", &dialog));
    CHECK_EQ(dialog.caption, std::wstring(L"HARNESS TARGET"));
    CHECK_EQ(dialog.cx, short(200));
    CHECK_EQ(dialog.font, std::wstring(L"MS Sans Serif"));
    REQUIRE_EQ(dialog.items.size(), size_t(2));
    CHECK_EQ(dialog.items[0].class_name, std::wstring(L"LISTBOX"));
    CHECK_EQ(dialog.items[1].class_name, std::wstring(L"COMBOBOX"));
    CHECK_EQ(dialog.items[1].id, DWORD(129));
    CHECK(!read_dialog_template(program_path("harness_target.exe"), "NONE", &dialog));

    std::vector<IconImage> icons;
    CHECK(!read_icon_group(program_path("harness_target.exe"), "ICON", &icons));
    REQUIRE(read_icon_group(program_path("echotool.exe"), "ICON", &icons));
    CHECK_EQ(icons.size(), size_t(2));
}
