/* droprun_gui_test.cpp -- DROPRUN.exe under Wine: the form, the preset list beside the program, drops,
 * command-line mode, and what the started programs saw (arguments, folder, show command). */
#include "guidrive.h"

#include <sstream>

using namespace guidrive;

namespace {

constexpr int kCombo = 128;
constexpr int kCommand1 = 129, kCommand2 = 130, kFolder = 133, kHide = 134, kNoWait = 135, kFilter = 136;

/* A preset: name, then up to eight fields (129-136). */
using Preset = std::vector<std::string>;

std::string preset_list(const std::vector<Preset>& presets)
{
    std::string s;
    for (const Preset& p : presets) {
        s += "----------------\r\n";
        for (size_t i = 0; i < 9; ++i) s += (i < p.size() ? p[i] : std::string()) + "\r\n";
    }
    return s;
}

std::string recorder()
{
    std::string quoted(1, '"');
    quoted += program_path("droprun_recorder_win32.exe");
    quoted += '"';
    return quoted;
}
std::string record_file() { return join(test_folder(), "record.txt"); }

/* DROPRUN.exe copied into the test folder under the given name, with its list beside it. The
 * started programs append to this test's record file. */
std::string install(const char* exe_name, const std::vector<Preset>& presets)
{
    const std::string exe = join(test_folder(), exe_name);
    if (!CopyFileA(program_path("DROPRUN.exe").c_str(), exe.c_str(), FALSE)) return "";
    std::string list = exe.substr(0, exe.rfind('.')) + ".lst";
    write_file(list, preset_list(presets));
    SetEnvironmentVariableA("DROPRUN_RECORD", record_file().c_str());
    return exe;
}

std::string unhex(const std::string& h)
{
    std::string s;
    if (h == "-") return s;
    for (size_t i = 0; i + 1 < h.size(); i += 2) s += char(std::stoi(h.substr(i, 2), nullptr, 16));
    return s;
}

struct Record {
    std::string kind, tag, folder, command_line, how;
    int show = -1;
    unsigned flags = 0;
};

std::vector<Record> records()
{
    std::vector<Record> out;
    std::string text;
    /* A recorder may hold the file for a moment while it appends: try again then. */
    bool read = false;
    for (int tries = 0; tries < 200 && !(read = read_file(record_file(), &text)); ++tries) Sleep(10);
    if (!read) return out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        Record r;
        words >> r.kind >> r.tag;
        if (r.kind == "begin") {
            std::string folder, line_hex;
            words >> folder >> r.show >> r.flags >> line_hex;
            r.folder = unhex(folder);
            r.command_line = unhex(line_hex);
        } else {
            words >> r.how;
        }
        out.push_back(r);
    }
    return out;
}

std::vector<std::string> events()
{
    std::vector<std::string> out;
    for (const Record& r : records()) out.push_back(r.kind + " " + r.tag);
    return out;
}

bool wait_for_records(size_t n)
{
    return wait_until([n] { return records().size() >= n; });
}

std::vector<std::string> fields(HWND w)
{
    std::vector<std::string> out;
    for (int id = kCommand1; id <= kFilter; ++id) out.push_back(item_text(w, id));
    return out;
}

/* The combo box's list. Asked with the wide messages: across processes Wine hands the ANSI
 * CB_GETLBTEXT the control's UTF-16 text unconverted. */
std::vector<std::string> names_in_combo(HWND w)
{
    std::vector<std::string> out;
    const HWND combo = GetDlgItem(w, kCombo);
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, WPARAM(i), 0);
        if (length < 0) break;
        std::wstring text(size_t(length) + 1, L'\0');
        const LRESULT got = SendMessageW(combo, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text.data()));
        text.resize(got < 0 ? 0 : size_t(got));
        out.push_back(wide_to_ansi(text));
    }
    return out;
}

LRESULT combo_selection(HWND w) { return SendDlgItemMessageA(w, kCombo, CB_GETCURSEL, 0, 0); }

bool set_field(HWND w, int id, const std::string& text) { return SetDlgItemTextA(w, id, text.c_str()) != 0; }

bool touch(const std::string& path) { return write_file(path, std::string()); }

} // namespace

GUI_TEST(droprun_template_and_start_up)
{
    const std::string rec = recorder();
    const std::string exe = install("DROPRUN.exe", {{"First", rec + " one", "", "", "", "%dir%", "", "", ".psu"},
                                                    {"Second", rec + " two"},
                                                    {"", "nameless"}});
    REQUIRE(!exe.empty());
    DialogTemplate dlg;
    REQUIRE(read_dialog_template(exe, "MAIN", &dlg));
    CHECK_EQ(dlg.style, DWORD(0x80CC10C2));
    CHECK_EQ(dlg.ex_style, DWORD(0));
    CHECK_EQ(dlg.cx, short(268));
    CHECK_EQ(dlg.cy, short(224));
    CHECK(dlg.font == L"MS UI Gothic");
    CHECK_EQ(dlg.point_size, WORD(9));
    REQUIRE_EQ(dlg.items.size(), size_t(15));
    /* The combo box, the eight edit fields, the five labels and the placeholder help. */
    const DialogItem& combo = dlg.items[0];
    CHECK_EQ(combo.id, DWORD(kCombo));
    CHECK(combo.class_name == L"ComboBox" || combo.class_name == L"COMBOBOX");
    CHECK_EQ(combo.style, DWORD(WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL));
    CHECK_EQ((std::vector<int>{combo.x, combo.y, combo.cx, combo.cy}), (std::vector<int>{8, 8, 252, 256}));
    for (int i = 0; i < 8; ++i) {
        const DialogItem& e = dlg.items[size_t(1 + i)];
        CHECK_EQ(e.id, DWORD(kCommand1 + i));
        CHECK(e.class_name == L"Edit" || e.class_name == L"EDIT");
        CHECK_EQ(e.style, DWORD(WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL));
        CHECK_EQ((std::vector<int>{e.x, e.y, e.cx, e.cy}), (std::vector<int>{60, 24 + 16 * i, 200, 14}));
    }
    const struct {
        int y, cx, cy;
        const char* utf8;
    } labels[] = {
        {26, 48, 14, "コマンドライン:"},
        {90, 48, 14, "作業フォルダ:"},
        {106, 48, 14, "ウィンドウ非表示:"},
        {122, 48, 14, "終了を待たない:"},
        {138, 48, 14, "末尾フィルタ:"},
        {154, 252, 256,
         "%windows% ウィンドウズのフォルダ\n%desktop% デスクトップのフォルダ\n%process% プロセスのフォルダ\n"
         "%path% ファイルのフルパス\n%dir% ファイルのディレクトリ\n%name% ファイルの名前\n"
         "%body% 拡張子の除いたファイルの名前\n"},
    };
    for (size_t i = 0; i < 6; ++i) {
        const DialogItem& l = dlg.items[9 + i];
        CHECK_EQ(l.id, DWORD(0));
        CHECK(l.class_name == L"Static" || l.class_name == L"STATIC");
        CHECK_EQ(l.style, DWORD(WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT));
        CHECK_EQ((std::vector<int>{l.x, l.y, l.cx, l.cy}), (std::vector<int>{8, labels[i].y, labels[i].cx, labels[i].cy}));
        CHECK(l.text == utf8_to_wide(labels[i].utf8)); /* stored as Unicode */
    }

    Program p;
    REQUIRE(p.start(exe));
    const HWND w = p.wait_for_window("DROPRUN");
    REQUIRE(w != nullptr);
    CHECK(!is_topmost(w));
    CHECK_EQ(names_in_combo(w), (std::vector<std::string>{"First", "Second", ""}));
    CHECK_EQ(item_text(w, kCombo), std::string("First"));
    CHECK_EQ(combo_selection(w), LRESULT(CB_ERR)); /* no entry selected */
    CHECK_EQ(fields(w), (std::vector<std::string>{rec + " one", "", "", "", "%dir%", "", "", ".psu"}));
    save_screenshot(w, "droprun_form");
    DWORD code = 99;
    CHECK(p.close(&code));
    CHECK_EQ(code, DWORD(0));
}

GUI_TEST(droprun_copy_reads_its_own_list)
{
    install("DROPRUN.exe", {{"Not mine"}});
    const std::string exe = install("run.me.exe", {{"Mine", "x"}});
    REQUIRE(!exe.empty());
    CHECK(file_exists(join(test_folder(), "run.me.lst")));
    Program p;
    REQUIRE(p.start(exe));
    const HWND w = p.wait_for_window("run"); /* the name cut at its first "." */
    REQUIRE(w != nullptr);
    CHECK_EQ(names_in_combo(w), std::vector<std::string>{"Mine"});
    CHECK_EQ(item_text(w, kCommand1), std::string("x"));
    DWORD code = 99;
    CHECK(p.close(&code));
}

GUI_TEST(droprun_missing_list_gives_one_empty_preset)
{
    const std::string exe = install("DROPRUN.exe", {});
    DeleteFileA(join(test_folder(), "DROPRUN.lst").c_str());
    Program p;
    REQUIRE(p.start(exe));
    const HWND w = p.wait_for_window("DROPRUN");
    REQUIRE(w != nullptr);
    CHECK_EQ(names_in_combo(w), std::vector<std::string>{""});
    CHECK_EQ(fields(w), std::vector<std::string>(8, ""));
    DWORD code = 99;
    CHECK(p.close(&code));
}

GUI_TEST(droprun_drop_runs_the_form)
{
    const std::string rec = recorder();
    const std::string exe = install(
        "DROPRUN.exe", {{"Rec", rec + " --tag=%name% \"%path%\" [%body%] %windows%", "", "", "", "%dir%", "", "",
                         ".psu|.max"}});
    const std::string sub = join(test_folder(), "my saves");
    REQUIRE(make_folder(sub));
    const std::string a = join(sub, "a.tar.PSU"), b = join(test_folder(), "b.bin"), c = join(sub, "c.max");
    for (const auto& f : {a, b, c}) write_file(f, "");
    Program p;
    REQUIRE(p.start(exe));
    const HWND w = p.wait_for_window("DROPRUN");
    REQUIRE(w != nullptr);
    REQUIRE(drop_files(w, {a, b, c}));
    /* Waiting is on: both programs have ended when the drop is handled. */
    const std::vector<Record> r = records();
    REQUIRE_EQ(events(), (std::vector<std::string>{"begin a.tar.PSU", "end a.tar.PSU", "begin c.max", "end c.max"}));
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    CHECK_EQ(r[0].command_line, rec + " --tag=a.tar.PSU \"" + a + "\" [a.tar] " + windows);
    CHECK_EQ(r[0].folder, sub);
    CHECK_EQ(r[0].show, SW_SHOW);
    CHECK((r[0].flags & STARTF_USESHOWWINDOW) != 0);
    CHECK_EQ(r[2].folder, sub);

    /* Hidden, and the form's fields as edited count, not the list's. */
    REQUIRE(set_field(w, kHide, "0"));
    REQUIRE(set_field(w, kFolder, ""));
    REQUIRE(set_field(w, kFilter, ""));
    REQUIRE(set_field(w, kCommand1, rec + " --tag=edited %process%"));
    REQUIRE(drop_files(w, {b}));
    const std::vector<Record> r2 = records();
    REQUIRE_EQ(r2.size(), size_t(6));
    CHECK_EQ(r2[4].tag, std::string("edited"));
    CHECK_EQ(r2[4].show, SW_HIDE);
    CHECK_EQ(r2[4].folder, sub); /* the folder the last run set stays */
    CHECK_EQ(r2[4].command_line, rec + " --tag=edited " + test_folder());
    DWORD code = 99;
    CHECK(p.close(&code));
}

GUI_TEST(droprun_selecting_a_preset_reads_the_list_anew)
{
    const std::string exe = install("DROPRUN.exe", {{"One", "1a", "1b"}, {"Two", "2a", "", "", "", "", "h", "n", "t"}});
    Program p;
    REQUIRE(p.start(exe));
    const HWND w = p.wait_for_window("DROPRUN");
    REQUIRE(w != nullptr);
    REQUIRE(select_combo_item(w, kCombo, 1));
    CHECK_EQ(fields(w), (std::vector<std::string>{"2a", "", "", "", "", "h", "n", "t"}));
    REQUIRE(set_field(w, kCommand1, "typed"));
    REQUIRE(select_combo_item(w, kCombo, 0));
    CHECK_EQ(fields(w), (std::vector<std::string>{"1a", "1b", "", "", "", "", "", ""}));
    /* The list changed on disk: the fields follow it, the names stay those read at start. */
    write_file(join(test_folder(), "DROPRUN.lst"), preset_list({{"New", "n1"}, {"Newer", "n2"}}));
    REQUIRE(select_combo_item(w, kCombo, 1));
    CHECK_EQ(item_text(w, kCommand1), std::string("n2"));
    CHECK_EQ(names_in_combo(w), (std::vector<std::string>{"One", "Two"}));
    DWORD code = 99;
    CHECK(p.close(&code));
}

GUI_TEST(droprun_command_line_mode_waits_then_closes)
{
    const std::string marker = join(test_folder(), "go");
    const std::string exe =
        install("DROPRUN.exe", {{"First", recorder() + " --tag=cl --wait-for=" + marker + " \"%path%\""}});
    const std::string file = join(test_folder(), "my files\\a.psu");
    Program p;
    REQUIRE(p.start(exe, "\"" + file + "\" ignored"));
    REQUIRE(wait_for_records(1));
    const std::vector<Record> quoted = records();
    REQUIRE(!quoted.empty());
    CHECK_EQ(quoted[0].command_line, recorder() + " --tag=cl --wait-for=" + marker + " \"" + file + "\"");
    CHECK(p.wait_for_window("DROPRUN") != nullptr); /* open while the program runs */
    CHECK(p.running());
    REQUIRE(touch(marker));
    DWORD code = 99;
    CHECK(p.wait_for_exit(&code));
    CHECK_EQ(code, DWORD(0));
    CHECK_EQ(events(), (std::vector<std::string>{"begin cl", "end cl"}));

    /* Unquoted, the whole text is the path, spaces included. */
    DeleteFileA(record_file().c_str());
    DeleteFileA(marker.c_str());
    Program q;
    touch(marker);
    REQUIRE(q.start(exe, file + " b"));
    CHECK(q.wait_for_exit(&code));
    REQUIRE(wait_for_records(1));
    const std::vector<Record> unquoted = records();
    REQUIRE(!unquoted.empty());
    CHECK_EQ(unquoted[0].command_line, recorder() + " --tag=cl --wait-for=" + marker + " \"" + file + " b\"");
}

GUI_TEST(droprun_drop_during_a_wait_runs_nested)
{
    const std::string rec = recorder();
    const std::string exe = install("DROPRUN.exe", {{"Nest", rec + " --tag=%body% --wait-for=%dir%\\%body%.go",
                                                     rec + " --tag=second-%body%"}});
    const std::string a = join(test_folder(), "a.psu"), b = join(test_folder(), "b.psu");
    Program p;
    REQUIRE(p.start(exe));
    const HWND w = p.wait_for_window("DROPRUN");
    REQUIRE(w != nullptr);
    REQUIRE(post_drop_files(w, {a}));
    REQUIRE(wait_for_records(1));
    /* The window answers during the wait: a field edited now counts for a's second command. */
    REQUIRE(set_field(w, kCommand2, rec + " --tag=edited-%body%"));
    REQUIRE(post_drop_files(w, {b}));
    REQUIRE(wait_for_records(2));
    REQUIRE(touch(join(test_folder(), "b.go")));
    REQUIRE(wait_for_records(5));
    CHECK_EQ(events(), (std::vector<std::string>{"begin a", "begin b", "end b", "begin edited-b", "end edited-b"}));
    REQUIRE(touch(join(test_folder(), "a.go")));
    REQUIRE(wait_for_records(8));
    CHECK_EQ(events(), (std::vector<std::string>{"begin a", "begin b", "end b", "begin edited-b", "end edited-b",
                                                 "end a", "begin edited-a", "end edited-a"}));
    DWORD code = 99;
    CHECK(p.close(&code));
    CHECK_EQ(code, DWORD(0));
}

GUI_TEST(droprun_closed_during_a_wait_ends_after_it)
{
    const std::string marker = join(test_folder(), "go");
    const std::string exe =
        install("DROPRUN.exe", {{"W", recorder() + " --tag=w --wait-for=" + marker, recorder() + " --tag=after"}});
    Program p;
    REQUIRE(p.start(exe));
    const HWND w = p.wait_for_window("DROPRUN");
    REQUIRE(w != nullptr);
    REQUIRE(post_drop_files(w, {join(test_folder(), "a.psu")}));
    REQUIRE(wait_for_records(1));
    PostMessageA(w, WM_CLOSE, 0, 0);
    CHECK(wait_until([w] { return !IsWindow(w); }));
    CHECK(p.running()); /* still waiting for the program */
    REQUIRE(touch(marker));
    DWORD code = 99;
    CHECK(p.wait_for_exit(&code));
    CHECK_EQ(code, DWORD(0));
    /* The window is gone, so its second command line reads empty: nothing more starts. */
    CHECK_EQ(events(), (std::vector<std::string>{"begin w", "end w"}));
}

GUI_TEST(droprun_not_waiting_starts_everything_at_once)
{
    const std::string marker = join(test_folder(), "go");
    const std::string exe = install(
        "DROPRUN.exe", {{"N", recorder() + " --tag=1-%body% --wait-for=" + marker, recorder() + " --tag=2-%body%",
                         "", "", "", "", "yes"}});
    Program p;
    REQUIRE(p.start(exe));
    const HWND w = p.wait_for_window("DROPRUN");
    REQUIRE(w != nullptr);
    REQUIRE(drop_files(w, {join(test_folder(), "a.psu"), join(test_folder(), "b.psu")}));
    /* Every program started though the first ones wait for the marker. */
    REQUIRE(wait_until([] {
        int begins = 0;
        for (const Record& r : records()) begins += r.kind == "begin";
        return begins == 4;
    }));
    REQUIRE(touch(marker));
    CHECK(wait_for_records(8));
    DWORD code = 99;
    CHECK(p.close(&code));
}

GUI_TEST_LOCALE(droprun_shift_jis_names, "ja_JP.UTF-8")
{
    /* Under code page 932, 0x95 0x5C and 0x83 0x5C are one character each whose second byte is "\":
     * dir, name and body must not be cut there. */
    const std::string folder = join(test_folder(), "\x95\x5C\x8E\xA6");        /* 表示 */
    const std::string file = join(folder, "\x83\x5C\x83\x74\x83\x67.tar.psu"); /* ソフト.tar.psu */
    REQUIRE(make_folder(folder));
    REQUIRE(write_file(file, std::string()));
    const std::string exe = install("DROPRUN.exe", {{"SJIS", recorder() + " --tag=s [%dir%] [%name%] [%body%]",
                                                     "", "", "", "%dir%", "", "", ".PSU"}});
    Program p;
    REQUIRE(p.start(exe));
    const HWND w = p.wait_for_window("DROPRUN");
    REQUIRE(w != nullptr);
    REQUIRE(drop_files(w, {file}));
    const std::vector<Record> r = records();
    REQUIRE_EQ(r.size(), size_t(2));
    CHECK_EQ(r[0].command_line, recorder() + " --tag=s [" + folder + "] [\x83\x5C\x83\x74\x83\x67.tar.psu] [" +
                                    "\x83\x5C\x83\x74\x83\x67.tar]");
    CHECK_EQ(r[0].folder, folder);
    save_screenshot(w, "droprun_form_ja");
    DWORD code = 99;
    CHECK(p.close(&code));
}
