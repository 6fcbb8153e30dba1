/* taviro_gui_test.cpp -- TAVIRO's window under Wine: resources and layout, drops of files and folders,
 * the Edit commands, both save commands through the save dialog (images equal the command line's),
 * the open dialog, Help and About, the full-card and left-out messages */
#include "guidrive.h"

#include "tests/cardbuild_gui_fixture.h"

using namespace guidrive;
namespace fx = ps2::gui_fixture;

namespace {

constexpr int kList = 128;
enum Command {
    kAddFile = 256, kSaveCoded, kSaveRaw, kExit, kClear, kDelete, kMoveUp, kMoveDown,
    kSortAscending, kSortDescending, kHelp, kAbout,
};

bool start_taviro(Program* p) { return p->start(program_path("TAVIRO.exe")) && p->wait_for_window("TAVIRO"); }
HWND list_of(const Program& p) { return GetDlgItem(p.window(), kList); }

/* The name behind the last "\". */
std::string name_of(const std::string& path) { return path.substr(path.rfind('\\') + 1); }
std::vector<std::string> names_of(const std::vector<std::string>& paths)
{
    std::vector<std::string> names;
    for (const auto& p : paths) names.push_back(name_of(p));
    return names;
}

const std::string& archive_bytes(const std::string& name)
{
    static const std::vector<fx::Archive> all = fx::archives();
    for (const auto& a : all)
        if (a.first == name) return a.second;
    static const std::string none;
    return none;
}

/* test folder\delta.psu, and the folder saves\ with alpha, Bravo, sub\charlie and a dot-folder. */
struct Files {
    std::string delta, saves, alpha, bravo, charlie;
};
bool write_fixture(Files* f)
{
    const std::string& t = test_folder();
    f->delta = join(t, "delta.psu");
    f->saves = join(t, "saves");
    f->alpha = join(f->saves, "alpha.psu");
    f->bravo = join(f->saves, "Bravo.psu");
    f->charlie = join(join(f->saves, "sub"), "charlie.psu");
    return write_file(f->delta, archive_bytes("delta.psu")) && make_folder(f->saves) &&
           make_folder(join(f->saves, "sub")) && make_folder(join(f->saves, ".hidden")) &&
           write_file(f->alpha, archive_bytes("alpha.psu")) && write_file(f->bravo, archive_bytes("Bravo.psu")) &&
           write_file(f->charlie, archive_bytes("charlie.psu")) &&
           write_file(join(join(f->saves, ".hidden"), "ghost.psu"), archive_bytes("alpha.psu"));
}

/* Chooses a save command, fills the save dialog with the name and waits for the file. */
bool save_as(Program& p, int command, const std::string& name)
{
    if (!send_command(p.window(), command, 0, nullptr, true)) return false;
    HWND dialog = p.wait_for_dialog(nullptr);
    return dialog && fill_file_dialog(dialog, name);
}

uint64_t file_fingerprint(const std::string& path)
{
    std::string bytes;
    return read_file(path, &bytes) ? fx::fingerprint(bytes) : 0;
}

} // namespace

GUI_TEST(taviro_resources_and_layout)
{
    DialogTemplate main;
    REQUIRE(read_dialog_template(program_path("TAVIRO.exe"), "MAIN", &main));
    CHECK(main.caption == L"TAVIRO");
    CHECK_EQ(main.cx, 160);
    CHECK_EQ(main.cy, 80);
    CHECK_EQ(main.point_size, 12);
    CHECK(main.font == L"MS Sans Serif");
    CHECK(main.menu == L"MAIN");
    const DWORD frame = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX |
                        DS_SYSMODAL | DS_CENTERMOUSE;
    CHECK_EQ(main.style & frame, frame);
    REQUIRE_EQ(main.items.size(), size_t(1));
    CHECK_EQ(main.items[0].id, DWORD(kList));
    CHECK(_wcsicmp(main.items[0].class_name.c_str(), L"ListBox") == 0);
    const DWORD list_style = WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
    CHECK_EQ(main.items[0].style & list_style, list_style);
    CHECK_EQ(main.items[0].style & DWORD(LBS_SORT), DWORD(0));
    CHECK_EQ(main.items[0].cx, 160);
    CHECK_EQ(main.items[0].cy, 80);

    DialogTemplate help, about;
    REQUIRE(read_dialog_template(program_path("TAVIRO.exe"), "HELP", &help));
    REQUIRE(read_dialog_template(program_path("TAVIRO.exe"), "ABOUT", &about));
    CHECK(help.caption == L"TAVIRO");
    CHECK(about.caption == L"About TAVIRO");
    REQUIRE_EQ(help.items.size(), size_t(3));
    REQUIRE_EQ(about.items.size(), size_t(3));
    CHECK(help.items[1].text == L"TAVIRO creates PS2 memory card image file from PSU files.");
    CHECK(about.items[1].text == L" TAVIRO \n Version 20/05/24 ");
    CHECK(help.items[2].text == L"OK");
    CHECK_EQ(help.items[2].id, DWORD(130));
    CHECK_EQ(help.point_size, 9);
    std::vector<IconImage> icons;
    REQUIRE(read_icon_group(program_path("TAVIRO.exe"), "ICON", &icons));
    CHECK_EQ(icons.size(), size_t(2));

    Program p;
    REQUIRE(start_taviro(&p));
    CHECK_EQ(window_size(p.window()).cx, 512);
    CHECK_EQ(window_size(p.window()).cy, 384);
    CHECK(!is_topmost(p.window()));
    /* The list box fills the client area, also after a resize. */
    const SIZE client = client_size(p.window());
    CHECK_EQ(window_size(list_of(p)).cx, client.cx);
    CHECK_EQ(window_size(list_of(p)).cy, client.cy);
    SetWindowPos(p.window(), nullptr, 0, 0, 700, 500, SWP_NOMOVE | SWP_NOZORDER);
    REQUIRE(wait_until([&] { return window_size(list_of(p)).cx == client_size(p.window()).cx; }));
    CHECK_EQ(window_size(list_of(p)).cy, client_size(p.window()).cy);

    /* The window has the menu "MAIN"; its items are read from the program file (menus cannot be
     * read across processes under Wine): three popups, the command ids in order, the texts. */
    CHECK(GetMenu(p.window()) != nullptr);
    const HMODULE module = LoadLibraryExA(program_path("TAVIRO.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    REQUIRE(module != nullptr);
    const HMENU menu = LoadMenuA(module, "MAIN");
    REQUIRE(menu != nullptr);
    CHECK_EQ(GetMenuItemCount(menu), 3);
    const HMENU file = GetSubMenu(menu, 0), edit = GetSubMenu(menu, 1), help_menu = GetSubMenu(menu, 2);
    CHECK_EQ(GetMenuItemID(file, 0), UINT(kAddFile));
    CHECK_EQ(GetMenuItemID(GetSubMenu(file, 1), 0), UINT(kSaveCoded));
    CHECK_EQ(GetMenuItemID(GetSubMenu(file, 1), 1), UINT(kSaveRaw));
    CHECK_EQ(GetMenuItemID(file, 3), UINT(kExit));
    for (int k = 0; k < 4; ++k) CHECK_EQ(GetMenuItemID(edit, k), UINT(kClear + k));
    CHECK_EQ(GetMenuItemID(edit, 5), UINT(kSortAscending));
    CHECK_EQ(GetMenuItemID(edit, 6), UINT(kSortDescending));
    CHECK_EQ(GetMenuItemID(help_menu, 0), UINT(kHelp));
    CHECK_EQ(GetMenuItemID(help_menu, 2), UINT(kAbout));
    char text[64];
    GetMenuStringA(file, 1, text, sizeof text, MF_BYPOSITION);
    CHECK_EQ(std::string(text), std::string("Save VM2 file"));
    GetMenuStringA(GetSubMenu(file, 1), 0, text, sizeof text, MF_BYPOSITION);
    CHECK_EQ(std::string(text), std::string("with error code(standard)..."));
    GetMenuStringA(GetSubMenu(file, 1), 1, text, sizeof text, MF_BYPOSITION);
    CHECK_EQ(std::string(text), std::string("without error code..."));
    const char* const edit_texts[] = {"Clear", "Delete", "Move up", "Move down", "", "Ascending sort", "Descending sort"};
    for (int k = 0; k < 7; ++k) {
        text[0] = '\0';
        GetMenuStringA(edit, UINT(k), text, sizeof text, MF_BYPOSITION);
        CHECK_EQ(std::string(text), std::string(edit_texts[k]));
    }
    GetMenuStringA(menu, 2, text, sizeof text, MF_BYPOSITION);
    CHECK_EQ(std::string(text), std::string("Help"));
    DestroyMenu(menu);
    FreeLibrary(module);

    /* File > Exit ends the program with 0. */
    CHECK(send_command(p.window(), kExit, 0, nullptr, true));
    DWORD code = 1;
    CHECK(p.wait_for_exit(&code));
    CHECK_EQ(code, DWORD(0));
}

GUI_TEST(taviro_drop_edit_and_save_both_forms)
{
    Files f;
    REQUIRE(write_fixture(&f));
    Program p;
    REQUIRE(start_taviro(&p));
    const HWND list = list_of(p);

    /* A file and a folder: the folder's files, its subfolder's, not the dot-folder's. */
    REQUIRE(drop_files(p.window(), {f.delta, f.saves}));
    std::vector<std::string> items = list_items(list);
    REQUIRE_EQ(items.size(), size_t(4));
    CHECK_EQ(items[0], f.delta);
    for (const auto& item : items) CHECK(item.find(".hidden") == std::string::npos);

    CHECK(send_command(p.window(), kSortAscending));
    CHECK_EQ(list_items(list), (std::vector<std::string>{f.delta, f.alpha, f.bravo, f.charlie}));
    CHECK(send_command(p.window(), kSortDescending));
    CHECK_EQ(list_items(list), (std::vector<std::string>{f.charlie, f.bravo, f.alpha, f.delta}));
    CHECK(send_command(p.window(), kSortAscending));

    /* Move down from the third place; the last one and the first one stay. */
    CHECK(select_list_item(list, 2));
    CHECK(send_command(p.window(), kMoveDown));
    CHECK_EQ(list_selection(list), 3);
    CHECK(send_command(p.window(), kMoveDown));
    CHECK_EQ(list_selection(list), 3);
    CHECK(select_list_item(list, 0));
    CHECK(send_command(p.window(), kMoveUp));
    CHECK_EQ(list_selection(list), 0);
    CHECK(select_list_item(list, 2));
    CHECK(send_command(p.window(), kMoveUp));
    CHECK(send_command(p.window(), kMoveDown));
    CHECK_EQ(names_of(list_items(list)), fx::saved_order());

    /* The same file dropped again is listed twice; Delete takes the selected one and selects nothing. */
    REQUIRE(drop_files(p.window(), {f.alpha}));
    CHECK_EQ(list_items(list).size(), size_t(5));
    CHECK(select_list_item(list, 4));
    CHECK(send_command(p.window(), kDelete));
    CHECK_EQ(list_selection(list), -1);
    CHECK(send_command(p.window(), kDelete));
    CHECK_EQ(names_of(list_items(list)), fx::saved_order());
    CHECK(save_screenshot(p.window(), "taviro_list"));

    /* Both save commands: the default extensions, and the images the command line builds. */
    REQUIRE(save_as(p, kSaveCoded, join(test_folder(), "card")));
    REQUIRE(wait_for_file(join(test_folder(), "card.vm2")));
    CHECK_EQ(file_fingerprint(join(test_folder(), "card.vm2")), fx::kCodedFingerprint);
    REQUIRE(save_as(p, kSaveRaw, join(test_folder(), "card")));
    REQUIRE(wait_for_file(join(test_folder(), "card.bin")));
    CHECK_EQ(file_fingerprint(join(test_folder(), "card.bin")), fx::kRawFingerprint);
    /* Saving again over it asks first: No goes back to the dialog, whose Cancel writes nothing; Yes replaces. */
    REQUIRE(write_file(join(test_folder(), "card.bin"), std::string("older")));
    for (const int answer : {IDNO, IDYES}) {
        REQUIRE(send_command(p.window(), kSaveRaw, 0, nullptr, true));
        const HWND dialog = p.wait_for_dialog(nullptr);
        REQUIRE(dialog && enter_file_name(dialog, join(test_folder(), "card.bin")));
        const HWND question = wait_for_owned_dialog(dialog);
        REQUIRE(question && GetDlgItem(question, IDNO));
        if (answer == IDNO) CHECK(save_screenshot(question, "taviro_overwrite"));
        REQUIRE(press_dialog_button(question, answer));
        if (answer == IDNO) REQUIRE(IsWindowVisible(dialog) && press_dialog_button(dialog, IDCANCEL));
        if (answer == IDNO) CHECK(flush_posted(p.window()) && file_size(join(test_folder(), "card.bin")) == 5);
    }
    /* Watched by its size: a read while the program replaces the file would make the replacement fail. */
    CHECK(wait_until([&] { return file_size(join(test_folder(), "card.bin")) == 8 * 1024 * 1024; }));
    CHECK_EQ(file_fingerprint(join(test_folder(), "card.bin")), fx::kRawFingerprint);

    CHECK(send_command(p.window(), kClear));
    CHECK(list_items(list).empty());
    DWORD code = 1;
    CHECK(p.close(&code));
    CHECK_EQ(code, DWORD(0));
}

GUI_TEST(taviro_open_dialog_adds_a_file)
{
    Files f;
    REQUIRE(write_fixture(&f));
    Program p;
    REQUIRE(start_taviro(&p));
    REQUIRE(send_command(p.window(), kAddFile, 0, nullptr, true));
    HWND dialog = p.wait_for_dialog(nullptr);
    REQUIRE(dialog != nullptr);
    REQUIRE(fill_file_dialog(dialog, f.bravo));
    REQUIRE(wait_until([&] { return list_items(list_of(p)).size() == 1; }));
    const std::vector<std::string> items = list_items(list_of(p));
    CHECK_EQ(items[0], f.bravo);
}

GUI_TEST(taviro_help_and_about)
{
    Program p;
    REQUIRE(start_taviro(&p));
    REQUIRE(send_command(p.window(), kHelp, 0, nullptr, true));
    HWND help = p.wait_for_dialog("TAVIRO");
    REQUIRE(help != nullptr);
    CHECK_EQ(item_text(help, 129), std::string("TAVIRO creates PS2 memory card image file from PSU files."));
    CHECK(save_screenshot(help, "taviro_help"));
    CHECK(press_dialog_button(help, 130));

    REQUIRE(send_command(p.window(), kAbout, 0, nullptr, true));
    HWND about = p.wait_for_dialog("About TAVIRO");
    REQUIRE(about != nullptr);
    CHECK_EQ(item_text(about, 129), std::string(" TAVIRO \n Version 20/05/24 "));
    CHECK(press_dialog_button(about, 130));

    /* The close box ends them too. */
    REQUIRE(send_command(p.window(), kAbout, 0, nullptr, true));
    about = p.wait_for_dialog("About TAVIRO");
    REQUIRE(about != nullptr);
    PostMessageA(about, WM_CLOSE, 0, 0);
    CHECK(wait_until([&] { return !IsWindow(about); }));
    CHECK(IsWindowEnabled(p.window()));
}

GUI_TEST(taviro_full_card_writes_nothing)
{
    const std::string big1 = join(test_folder(), "big1.psu"), big2 = join(test_folder(), "big2.psu");
    REQUIRE(write_file(big1, fx::big_archive("BIG1", 5000)));
    REQUIRE(write_file(big2, fx::big_archive("BIG2", 3200)));
    Program p;
    REQUIRE(start_taviro(&p));
    REQUIRE(drop_files(p.window(), {big1, big2}));
    const std::string out = join(test_folder(), "full.bin");
    REQUIRE(save_as(p, kSaveRaw, out));
    HWND box = p.wait_for_dialog("TAVIRO");
    REQUIRE(box != nullptr);
    const std::string text = message_box_text(box);
    CHECK(text.find("The card is full") != std::string::npos);
    CHECK(text.find(big2) != std::string::npos);
    CHECK(text.find("Nothing was written") != std::string::npos);
    CHECK(save_screenshot(box, "taviro_full_card"));
    CHECK(press_dialog_button(box, IDOK));
    CHECK(!file_exists(out));
    CHECK_EQ(list_selection(list_of(p)), 1); /* the file that does not fit */
}

GUI_TEST(taviro_left_out_files_are_listed)
{
    const std::string good = join(test_folder(), "alpha.psu"), text_file = join(test_folder(), "notes.txt");
    const std::string copy = join(test_folder(), "alpha-copy.psu"), max = join(test_folder(), "alpha.max");
    const std::string psv = join(test_folder(), "alpha.psv");
    REQUIRE(write_file(psv, std::string("\0VSP", 4) + std::string(200, '\0')));
    REQUIRE(write_file(good, archive_bytes("alpha.psu")));
    REQUIRE(write_file(copy, archive_bytes("alpha.psu")));
    REQUIRE(write_file(max, std::string("Ps2PowerSave") + std::string(200, '\0')));
    REQUIRE(write_file(text_file, std::string("# notes\n") + std::string(3000, '.')));
    Program p;
    REQUIRE(start_taviro(&p));
    std::vector<std::string> drop = {good, text_file, copy, max, psv};
    for (int k = 0; k < 14; ++k) drop.push_back(text_file); /* 18 left out: 15 shown */
    REQUIRE(drop_files(p.window(), drop));
    const std::string out = join(test_folder(), "card.vm2");
    REQUIRE(save_as(p, kSaveCoded, out));
    HWND box = p.wait_for_dialog("TAVIRO");
    REQUIRE(box != nullptr);
    const std::string text = message_box_text(box);
    CHECK(save_screenshot(box, "taviro_left_out"));
    CHECK(text.find(text_file + ": not a save archive\n") != std::string::npos);
    CHECK(text.find(good + ":") == std::string::npos);
    /* A second save of one name is left out, and a file of another kind is named for what it is. */
    CHECK(text.find(copy + ": a save of this name is already on the card") != std::string::npos);
    CHECK(text.find(max + ": a MAX archive: convert it with VARKON first\n") != std::string::npos);
    CHECK(text.find(psv + ": a PS3 save: convert it with VARKON first\n") != std::string::npos);
    CHECK(text.ends_with(text_file + ": not a save archive\n\x85 and 3 more (run the taviro command for the whole list)\n"));
    CHECK(press_dialog_button(box, IDOK));
    CHECK(file_exists(out)); /* written from the others */
}

/* Code page 932: a folder whose name's second byte is 0x5C ("ソ" is 83 5C) is searched as one name. */
GUI_TEST_LOCALE(taviro_shift_jis_folder, "ja_JP.UTF-8")
{
    const std::string folder = join(test_folder(), "\x83\x5C\x83\x75");        /* ソブ */
    const std::string inner = join(folder, "\x95\x5C");                        /* 表 */
    REQUIRE(make_folder(folder));
    REQUIRE(make_folder(inner));
    REQUIRE(write_file(join(inner, "alpha.psu"), archive_bytes("alpha.psu")));
    REQUIRE(write_file(join(folder, "\x83\x5C.psu"), archive_bytes("delta.psu")));
    Program p;
    REQUIRE(start_taviro(&p));
    REQUIRE(drop_files(p.window(), {folder}));
    CHECK(send_command(p.window(), kSortAscending));
    CHECK_EQ(list_items(list_of(p)), (std::vector<std::string>{join(folder, "\x83\x5C.psu"), join(inner, "alpha.psu")}));
    REQUIRE(save_as(p, kSaveRaw, join(folder, "card")));
    REQUIRE(wait_for_file(join(folder, "card.bin")));
}
