/* guide_gui_test.cpp -- the pictures of the user guide: each of the six programs under Wine with code page 932
 * (so the Japanese texts show), in the state the guide describes; scripts/refresh-screenshots.sh copies them
 * from <build>/screenshots/guide_*.png to docs/images/ */
#include "guidrive.h"

#include "resources/droprun_res.h"
#include "tools/samplegen.h"

using namespace guidrive;

namespace {

constexpr int kTaviroList = 128;

/* A short folder for the pictures' paths, C:\PS2 in the Wine prefix, made anew. */
std::string picture_folder(const std::string& name)
{
    const std::string root = "C:\\PS2";
    make_folder(root);
    const std::string folder = join(root, name);
    for (const std::string& f : list_folder(folder)) DeleteFileA(join(folder, f).c_str());
    make_folder(folder);
    return folder;
}

/* The source tree, as a Windows path (Wine maps / to Z:): three folders above this file. */
std::string source_folder()
{
    std::string path = "Z:" + std::string(__FILE__);
    for (char& c : path)
        if (c == '/') c = '\\';
    for (int up = 0; up < 3; ++up) path.erase(path.rfind('\\'));
    return path;
}

/* Starts a drop tool, checks its caption and takes its picture. */
void picture_of_drop_tool(const char* exe, const char* caption, const char* shot)
{
    Program p;
    REQUIRE(p.start(program_path(exe)));
    const HWND w = p.wait_for_window(caption, "#32770");
    REQUIRE(w != nullptr);
    CHECK(save_screenshot(w, shot));
    DWORD code = 1;
    CHECK(p.close(&code));
    CHECK_EQ(code, DWORD(0));
}

} // namespace

GUI_TEST_LOCALE(guide_sorvik, "ja_JP.UTF-8") { picture_of_drop_tool("SORVIK.exe", "SORVIK", "guide_sorvik"); }
GUI_TEST_LOCALE(guide_varkon, "ja_JP.UTF-8") { picture_of_drop_tool("VARKON.exe", "VARKON", "guide_varkon"); }
GUI_TEST_LOCALE(guide_quilban, "ja_JP.UTF-8") { picture_of_drop_tool("QUILBAN.exe", "QUILBAN", "guide_quilban"); }
GUI_TEST_LOCALE(guide_maleto, "ja_JP.UTF-8") { picture_of_drop_tool("MALETO.exe", "MALETO", "guide_maleto"); }

/* TAVIRO with a list: the bundled samples and a few more saves dropped as a folder. */
GUI_TEST_LOCALE(guide_taviro, "ja_JP.UTF-8")
{
    const std::string saves = picture_folder("saves");
    std::vector<std::string> paths;
    for (const ps2::samples::Save& s : ps2::samples::demo_saves()) {
        paths.push_back(join(saves, s.name + ".psu"));
        REQUIRE(write_file(paths.back(), ps2::samples::build_save(s)));
    }
    const std::string more = picture_folder("more");
    const char* const names[] = {"BASLUS-20312RPG01", "BESLES-53044SPORT", "BISLPS-25730PUZZLE", "BISLPS-25731PUZZLE"};
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        ps2::samples::Save s = ps2::samples::random_save(seed, false, 20000);
        s.name = names[seed - 1];
        REQUIRE(write_file(join(more, s.name + ".psu"), ps2::samples::build_save(s)));
    }
    paths.push_back(more);

    Program p;
    REQUIRE(p.start(program_path("TAVIRO.exe")));
    const HWND w = p.wait_for_window("TAVIRO");
    REQUIRE(w != nullptr);
    REQUIRE(drop_files(w, paths));
    CHECK_EQ(list_items(GetDlgItem(w, kTaviroList)).size(), size_t(7));
    CHECK(select_list_item(GetDlgItem(w, kTaviroList), 1));
    CHECK(save_screenshot(w, "guide_taviro"));
    DWORD code = 1;
    CHECK(p.close(&code));
    CHECK_EQ(code, DWORD(0));
}

/* The boxes the guide shows, and their run under code page 932: TAVIRO asking before it replaces a card, its
 * list of the files left out of a card (more than fit the box, "…" as 81 63), VARKON telling why a damaged MAX
 * archive gave nothing. */
GUI_TEST_LOCALE(guide_taviro_messages, "ja_JP.UTF-8")
{
    const std::string folder = picture_folder("downloads");
    for (const ps2::samples::Save& s : ps2::samples::demo_saves()) REQUIRE(write_file(join(folder, s.name + ".psu"), ps2::samples::build_save(s)));
    REQUIRE(write_file(join(folder, "BESCES-50501REZ.max"), std::string("Ps2PowerSave") + std::string(500, '\0')));
    REQUIRE(write_file(join(folder, "BASLUS-21050SOUL.psv"), std::string("\0VSP", 4) + std::string(500, '\0')));
    for (int k = 10; k < 27; ++k)
        REQUIRE(write_file(join(folder, "page" + std::to_string(k) + ".htm"), "<html>" + std::string(2000, ' ')));
    const std::string card = join(picture_folder("cards"), "mine.vm2");
    REQUIRE(write_file(card, std::string("a card of mine")));

    Program p;
    REQUIRE(p.start(program_path("TAVIRO.exe")));
    const HWND w = p.wait_for_window("TAVIRO");
    REQUIRE(w != nullptr);
    REQUIRE(drop_files(w, {folder}));
    REQUIRE(send_command(w, 264)); /* Ascending sort */
    REQUIRE(send_command(w, 257, 0, nullptr, true));
    HWND dialog = p.wait_for_dialog(nullptr);
    REQUIRE(dialog && enter_file_name(dialog, card));
    const HWND question = wait_for_owned_dialog(dialog);
    REQUIRE(question != nullptr);
    CHECK(save_screenshot(question, "guide_taviro_overwrite"));
    REQUIRE(press_dialog_button(question, IDYES));
    const HWND box = p.wait_for_dialog("TAVIRO");
    REQUIRE(box != nullptr);
    CHECK(message_box_text(box).ends_with("\x81\x63 and 4 more (run the taviro command for the whole list)\n"));
    CHECK(save_screenshot(box, "guide_taviro_left_out"));
    CHECK(press_dialog_button(box, IDOK));
}

GUI_TEST_LOCALE(guide_varkon_not_written, "ja_JP.UTF-8")
{
    /* A download cut short: its check value cannot match, and its stream runs past the end. */
    std::string cut = std::string("Ps2PowerSave") + std::string(4, '\0') + "BESCES-50501REZ" + std::string(49, '\0');
    cut += std::string("\0\x30\0\0\x03\0\0\0\0\x90\0\0", 12) + std::string(500, '\x5A');
    const std::string max = join(picture_folder("cut"), "BESCES-50501REZ.max");
    REQUIRE(write_file(max, cut));
    Program p;
    REQUIRE(p.start(program_path("VARKON.exe")));
    const HWND w = p.wait_for_window("VARKON", "#32770");
    REQUIRE(w != nullptr);
    REQUIRE(post_drop_files(w, {max}));
    HWND box = p.wait_for_dialog("BAD CRC");
    REQUIRE(box && press_dialog_button(box, IDOK));
    box = p.wait_for_dialog("VARKON");
    REQUIRE(box != nullptr);
    CHECK(message_box_text(box).find("packed_size runs past the end of the file") != std::string::npos);
    CHECK(save_screenshot(box, "guide_varkon_not_written"));
    CHECK(press_dialog_button(box, IDOK));
}

/* DROPRUN beside the example list that the Windows zip ships as DROPRUN.lst, its third preset chosen. */
GUI_TEST_LOCALE(guide_droprun, "ja_JP.UTF-8")
{
    const std::string tools = picture_folder("tools");
    std::string list;
    REQUIRE(read_file(join(source_folder(), "droprun\\DROPRUN.example.lst"), &list));
    REQUIRE(write_file(join(tools, "DROPRUN.lst"), list));
    std::string exe;
    REQUIRE(read_file(program_path("DROPRUN.exe"), &exe));
    REQUIRE(write_file(join(tools, "DROPRUN.exe"), exe));

    Program p;
    REQUIRE(p.start(join(tools, "DROPRUN.exe"), "", tools));
    const HWND w = p.wait_for_window("DROPRUN");
    REQUIRE(w != nullptr);
    REQUIRE(select_combo_item(w, IDC_PRESET, 2));
    CHECK_EQ(item_text(w, IDC_WORKING_FOLDER), std::string("%dir%"));
    CHECK(save_screenshot(w, "guide_droprun"));
    DWORD code = 1;
    CHECK(p.close(&code));
    CHECK_EQ(code, DWORD(0));
}
