/* frame_gui_test.cpp -- the shared drop-tool window, run as echotool (a drop tool that logs every call of
 * its file handler) and read from the four tools' resources: drop order, option box, z-order, keys,
 * command line, close, templates and icons, a Shift_JIS path */
#include "guidrive.h"

using namespace guidrive;

namespace {

constexpr int kUsageText = 128;
constexpr int kOptionBox = 129;
constexpr DWORD kTemplateStyle = 0x80CA10C2;
/* What the system adds to a template's style when it makes the window. */
constexpr DWORD kAddedStyle = WS_VISIBLE | WS_CLIPSIBLINGS | DS_3DLOOK;

/* Copies the program into the test folder and starts it there, so that its log lies in the test folder. */
HWND start_tool(Program* tool, const char* exe, const char* caption, const std::string& arguments = "")
{
    const std::string copy = join(test_folder(), exe);
    if (!CopyFileA(program_path(exe).c_str(), copy.c_str(), FALSE)) return nullptr;
    if (!tool->start(copy, arguments)) return nullptr;
    return tool->wait_for_window(caption, "#32770");
}

std::string echo_log(const char* exe = "echotool")
{
    std::string log;
    read_file(join(test_folder(), std::string(exe) + ".log"), &log);
    return log;
}

std::string log_line(bool option, const std::string& path) { return (option ? "1 " : "0 ") + path + "\r\n"; }

std::string make_file(const std::string& name)
{
    const std::string path = join(test_folder(), name);
    write_file(path, "data");
    return path;
}

/* What each tool's template must hold. */
struct ToolWindow {
    const char* tool;
    const char* caption;
    DWORD icon_id;
    const char* usage_utf8;
    const char* option; /* nullptr: no check box */
};

const ToolWindow kTools[] = {
    {"varkon", "VARKON", 128,
     "VARKON Version 20/05/24\n\n(1) DROP PSU FILES TO CONVERT TO MAX FILES\n(2) DROP MAX FILES TO CONVERT TO PSU "
     "FILES\n(1) PSUファイルをドロップしてMAXファイルに変換\n(2) MAXファイルをドロップしてPSUファイルに変換\n",
     nullptr},
    {"quilban", "QUILBAN", 0,
     "QUILBAN Version 20/05/24\n\n(1) DROP PSU FILES TO UNPACK\n(2) DROP \"QUILBAN.TXT\" TO CREATE PSU FILE\n(1) "
     "PSUファイルをドロップして展開\n(2) \"QUILBAN.TXT\"をドロップしてPSUファイルを再構築\n",
     "USE TEMP NAME"},
    {"sorvik", "SORVIK", 128,
     "SORVIK Version 20/05/24\n\n(*) DROP PS2 MEMORY CARD IMAGE FILES TO SPLIT THEM INTO PSU FILES\n(*) "
     "PS2メモリーカードイメージファイルをドロップしてPSUファイルに分割\n",
     "USE TEMP NAME"},
    {"maleto", "MALETO", 0,
     "MALETO Version 20/05/24\n\n(*) DROP PSU FILES TO RENAME THEM AS \"TITLE-[DESCRIPTION].PSU\"\n(*) "
     "PSUファイルをドロップして\"TITLE-[DESCRIPTION].PSU\"のようにリネーム\n",
     "REMOVE SJIS"},
};

void check_item(const DialogItem& item, const wchar_t* class_name, DWORD id, DWORD style, short x, short y,
                short cx, short cy, const std::wstring& text)
{
    CHECK_EQ(item.class_name, std::wstring(class_name));
    CHECK_EQ(item.id, id);
    CHECK_EQ(item.style, style);
    CHECK_EQ(item.ex_style, DWORD(0));
    CHECK_EQ(item.x, x);
    CHECK_EQ(item.y, y);
    CHECK_EQ(item.cx, cx);
    CHECK_EQ(item.cy, cy);
    CHECK_EQ(item.text, text);
}

} // namespace

GUI_TEST(three_dropped_files_reach_the_handler_in_drop_order)
{
    Program tool;
    HWND window = start_tool(&tool, "echotool.exe", "ECHOTOOL");
    REQUIRE(window != nullptr);
    const std::string a = make_file("b-first.psu");
    const std::string b = make_file("a second.psu");
    const std::string c = join(test_folder(), "missing.psu"); /* the frame does not look at what a path names */
    REQUIRE(drop_files(window, {a, b, c}));
    CHECK_EQ(echo_log(), log_line(false, a) + log_line(false, b) + log_line(false, c));
    /* A second drop adds its calls behind the first. */
    REQUIRE(drop_files(window, {test_folder()}));
    CHECK_EQ(echo_log(), log_line(false, a) + log_line(false, b) + log_line(false, c) + log_line(false, test_folder()));
    DWORD code = 1;
    CHECK(tool.close(&code));
    CHECK_EQ(code, DWORD(0));
}

GUI_TEST(option_box_is_read_afresh_for_each_drop)
{
    Program tool;
    HWND window = start_tool(&tool, "echotool.exe", "ECHOTOOL");
    REQUIRE(window != nullptr);
    CHECK_EQ(check_state(window, kOptionBox), BST_UNCHECKED);
    const std::string a = make_file("a.psu");
    const std::string b = make_file("b.psu");
    REQUIRE(drop_files(window, {a}));
    REQUIRE(set_check(window, kOptionBox, true));
    REQUIRE(drop_files(window, {b, a}));
    /* A click toggles the automatic check box back off. */
    REQUIRE(click_button(window, kOptionBox));
    CHECK_EQ(check_state(window, kOptionBox), BST_UNCHECKED);
    REQUIRE(drop_files(window, {b}));
    CHECK_EQ(echo_log(), log_line(false, a) + log_line(true, b) + log_line(true, a) + log_line(false, b));
}

GUI_TEST(window_is_not_topmost_and_keeps_its_template_style)
{
    Program tool;
    HWND window = start_tool(&tool, "echotool.exe", "ECHOTOOL");
    REQUIRE(window != nullptr);
    CHECK(!is_topmost(window));
    CHECK_EQ(DWORD(window_style(window)) & ~kAddedStyle, kTemplateStyle);
    CHECK((window_ex_style(window) & WS_EX_ACCEPTFILES) != 0);
    /* The big icon is the "ICON" group. */
    LRESULT icon = 0;
    CHECK(send_in_process(window, WM_GETICON, ICON_BIG, 0, &icon));
    CHECK(icon != 0);
    CHECK(save_screenshot(window, "echotool"));
}

GUI_TEST(escape_tab_and_enter_do_nothing)
{
    Program tool;
    HWND window = start_tool(&tool, "echotool.exe", "ECHOTOOL");
    REQUIRE(window != nullptr);
    for (UINT key : {VK_ESCAPE, VK_TAB, VK_RETURN, VK_ESCAPE}) CHECK(press_key(window, key));
    CHECK(IsWindow(window) && IsWindowVisible(window));
    CHECK(tool.running());
    CHECK_EQ(check_state(window, kOptionBox), BST_UNCHECKED);
    CHECK_EQ(echo_log(), std::string());
    DWORD code = 1;
    CHECK(tool.close(&code));
    CHECK_EQ(code, DWORD(0));
}

GUI_TEST(a_file_on_the_command_line_is_ignored)
{
    Program tool;
    const std::string file = make_file("given.psu");
    HWND window = start_tool(&tool, "echotool.exe", "ECHOTOOL", "\"" + file + "\"");
    REQUIRE(window != nullptr);
    REQUIRE(flush_posted(window));
    CHECK(!file_exists(join(test_folder(), "echotool.log")));
    std::string bytes;
    CHECK(read_file(file, &bytes) && bytes == "data");
    DWORD code = 1;
    CHECK(tool.close(&code));
    CHECK_EQ(code, DWORD(0));
}

GUI_TEST(a_path_too_long_for_the_buffer_is_skipped_not_cut)
{
    Program tool;
    HWND window = start_tool(&tool, "echotool.exe", "ECHOTOOL");
    REQUIRE(window != nullptr);
    const std::string a = make_file("a.psu");
    const std::string longest = "C:\\" + std::string(1020, 'x');  /* 1023 characters: fits with its NUL */
    const std::string too_long = "C:\\" + std::string(1021, 'x'); /* 1024 characters: would be cut */
    REQUIRE(drop_files(window, {a, too_long, longest, a}));
    CHECK_EQ(echo_log(), log_line(false, a) + log_line(false, longest) + log_line(false, a));
}

GUI_TEST(tool_templates_and_icons_are_exact)
{
    for (const ToolWindow& t : kTools) {
        const std::string exe = program_path(("echo_" + std::string(t.tool) + ".exe").c_str());
        DialogTemplate dialog;
        REQUIRE(read_dialog_template(exe, "MAIN", &dialog));
        CHECK(!dialog.extended);
        CHECK_EQ(dialog.style, kTemplateStyle);
        CHECK_EQ(dialog.style, DWORD(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME |
                                     DS_SETFONT | DS_SYSMODAL | DS_CENTERMOUSE));
        CHECK_EQ(dialog.ex_style, DWORD(0));
        CHECK_EQ(dialog.x, short(0));
        CHECK_EQ(dialog.y, short(0));
        CHECK_EQ(dialog.cx, short(200));
        CHECK_EQ(dialog.cy, short(72));
        CHECK_EQ(dialog.menu, std::wstring());
        CHECK_EQ(dialog.class_name, std::wstring());
        CHECK_EQ(dialog.caption, utf8_to_wide(t.caption));
        CHECK_EQ(dialog.point_size, WORD(12));
        CHECK_EQ(dialog.font, std::wstring(L"MS Sans Serif"));
        REQUIRE_EQ(dialog.items.size(), size_t(t.option ? 3 : 2));
        check_item(dialog.items[0], L"STATIC", t.icon_id, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_ICON, 4, 4, 16, 16,
                   L"ICON");
        check_item(dialog.items[1], L"STATIC", kUsageText, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 24, 4, 172, 64,
                   utf8_to_wide(t.usage_utf8));
        if (t.option)
            check_item(dialog.items[2], L"BUTTON", kOptionBox, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
                       120, 8, 76, 12, utf8_to_wide(t.option));

        std::vector<IconImage> icons;
        REQUIRE(read_icon_group(exe, "ICON", &icons));
        REQUIRE_EQ(icons.size(), size_t(2));
        CHECK_EQ(icons[0].width, 48);
        CHECK_EQ(icons[0].height, 48);
        CHECK_EQ(icons[1].width, 32);
        CHECK_EQ(icons[1].height, 32);
        CHECK_EQ(icons[0].bit_count, 24);
        CHECK_EQ(icons[1].bit_count, 24);
    }
}

GUI_TEST(each_tool_window_shows_its_texts)
{
    for (const ToolWindow& t : kTools) {
        Program tool;
        const std::string exe = "echo_" + std::string(t.tool) + ".exe";
        HWND window = start_tool(&tool, exe.c_str(), t.caption);
        REQUIRE(window != nullptr);
        CHECK_EQ(DWORD(window_style(window)) & ~kAddedStyle, kTemplateStyle);
        CHECK(!is_topmost(window));
        /* In VARKON and SORVIK the icon has the usage text's id 128 too. */
        HWND usage = nullptr;
        for (HWND item : children_with_id(window, kUsageText))
            if (!(window_style(item) & SS_ICON)) usage = item;
        REQUIRE(usage != nullptr);
        CHECK_EQ(children_with_id(window, kUsageText).size(), size_t(t.icon_id == kUsageText ? 2 : 1));
        /* A window made with the ANSI calls shows the text in the ANSI code page. */
        CHECK_EQ(window_text(usage), wide_to_ansi(utf8_to_wide(t.usage_utf8)));
        CHECK_EQ(GetDlgItem(window, kOptionBox) != nullptr, t.option != nullptr);
        if (t.option) {
            CHECK_EQ(item_text(window, kOptionBox), std::string(t.option));
            CHECK_EQ(check_state(window, kOptionBox), BST_UNCHECKED);
        }
        const std::string a = make_file("a.psu");
        REQUIRE(drop_files(window, {a}));
        CHECK_EQ(echo_log(exe.substr(0, exe.size() - 4).c_str()), log_line(false, a));
        CHECK(save_screenshot(window, "echo_" + std::string(t.tool)));
        DWORD code = 1;
        CHECK(tool.close(&code));
        CHECK_EQ(code, DWORD(0));
    }
}

GUI_TEST_LOCALE(shift_jis_path_with_a_backslash_byte_arrives_intact, "ja_JP.UTF-8")
{
    REQUIRE_EQ(GetACP(), UINT(932));
    Program tool;
    HWND window = start_tool(&tool, "echotool.exe", "ECHOTOOL");
    REQUIRE(window != nullptr);
    /* 表 is 0x95 0x5C in Shift_JIS: its second byte is the value of "\". */
    const std::string folder = join(test_folder(), "\x95\x5C");
    REQUIRE(make_folder(folder));
    const std::string file = join(folder, "\x95\x5C\x8E\xA6.psu"); /* 表示.psu */
    REQUIRE(write_file(file, "data"));
    REQUIRE(file_exists(file));
    REQUIRE(set_check(window, kOptionBox, true));
    REQUIRE(drop_files(window, {file, folder}));
    CHECK_EQ(echo_log(), log_line(true, file) + log_line(true, folder));
    /* The template's Unicode text shows in the Japanese code page too. */
    CHECK_EQ(item_text(window, kUsageText),
             wide_to_ansi(utf8_to_wide("ECHOTOOL Version 20/05/24\n\n(*) DROP FILES TO LOG THEM\n(*) "
                                       "ファイルをドロップして記録\n")));
    CHECK(save_screenshot(window, "echotool_ja"));
    DWORD code = 1;
    CHECK(tool.close(&code));
    CHECK_EQ(code, DWORD(0));
}
