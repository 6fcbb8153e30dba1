/* droprun_resource_test.cpp -- the compiled "MAIN" dialog of DROPRUN: style, font, size, controls, texts */
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Reader {
    const std::vector<uint8_t>& d;
    size_t pos;

    bool ok(size_t n) const { return n <= d.size() && pos <= d.size() - n; }
    uint16_t u16()
    {
        if (!ok(2)) return (pos = d.size()), 0;
        const uint16_t v = uint16_t(d[pos] | d[pos + 1] << 8);
        pos += 2;
        return v;
    }
    uint32_t u32()
    {
        const uint32_t lo = u16();
        return lo | uint32_t(u16()) << 16;
    }
    /* A name or ordinal: 0xFFFF then a number, or a NUL-terminated UTF-16 text. */
    std::u16string sz_or_ord()
    {
        std::u16string s;
        uint16_t c = u16();
        if (c == 0xFFFF) return u"#" + std::u16string(1, char16_t(u16()));
        for (; c != 0 && pos < d.size(); c = u16()) s += char16_t(c);
        return s;
    }
    void align4() { pos = (pos + 3) & ~size_t(3); }
};

struct Control {
    uint32_t style;
    int16_t x, y, cx, cy;
    uint16_t id;
    std::u16string cls, text;
};

struct Dialog {
    uint32_t style = 0, ex_style = 0;
    int16_t cx = 0, cy = 0;
    std::u16string caption, font;
    uint16_t points = 0;
    std::vector<Control> controls;
};

bool find_main_dialog(const std::vector<uint8_t>& res, Dialog* out)
{
    Reader r{res, 0};
    while (r.ok(32)) {
        const size_t start = r.pos;
        const uint32_t data_size = r.u32(), header_size = r.u32();
        const std::u16string type = r.sz_or_ord(), name = r.sz_or_ord();
        const size_t data = start + header_size;
        if (type == u"#\x05" && name == u"MAIN") {
            Reader t{res, data};
            out->style = t.u32();
            out->ex_style = t.u32();
            const uint16_t n = t.u16();
            t.u16(), t.u16();
            out->cx = int16_t(t.u16());
            out->cy = int16_t(t.u16());
            t.sz_or_ord();                /* menu */
            t.sz_or_ord();                /* class */
            out->caption = t.sz_or_ord();
            out->points = t.u16();
            out->font = t.sz_or_ord();
            for (uint16_t i = 0; i < n && t.ok(18); ++i) {
                t.align4();
                Control c;
                c.style = t.u32();
                t.u32();
                c.x = int16_t(t.u16()), c.y = int16_t(t.u16()), c.cx = int16_t(t.u16()), c.cy = int16_t(t.u16());
                c.id = t.u16();
                c.cls = t.sz_or_ord();
                c.text = t.sz_or_ord();
                t.pos += t.u16(); /* creation data */
                out->controls.push_back(c);
            }
            return true;
        }
        r.pos = data + data_size;
        r.align4();
    }
    return false;
}

/* Class names as text or as the predefined atoms. */
bool is_class(const std::u16string& cls, const std::u16string& name, char16_t atom)
{
    if (cls == u"#" + std::u16string(1, atom)) return true;
    std::u16string upper;
    for (char16_t c : cls) upper += (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
    return upper == name;
}

} // namespace

TEST(DroprunResource, MainDialog)
{
#ifndef DROPRUN_RES
    GTEST_SKIP() << "no resource compiler: the dialog template was not built";
#else
    std::ifstream f(DROPRUN_RES, std::ios::binary);
    const std::vector<uint8_t> res((std::istreambuf_iterator<char>(f)), {});
    Dialog dlg;
    ASSERT_TRUE(find_main_dialog(res, &dlg));
    EXPECT_EQ(dlg.style, 0x80CC10C2u);
    EXPECT_EQ(dlg.ex_style, 0u);
    EXPECT_EQ(dlg.cx, 268);
    EXPECT_EQ(dlg.cy, 224);
    EXPECT_EQ(dlg.caption, u"");
    EXPECT_EQ(dlg.points, 9);
    EXPECT_EQ(dlg.font, u"MS UI Gothic");
    ASSERT_EQ(dlg.controls.size(), 15u);

    const Control& combo = dlg.controls[0];
    EXPECT_EQ(combo.id, 128);
    EXPECT_TRUE(is_class(combo.cls, u"COMBOBOX", 0x85));
    EXPECT_EQ(combo.style, 0x50000000u | 0x00200000u | 0x2u | 0x40u); /* child visible vscroll dropdown autohscroll */
    EXPECT_EQ((std::vector<int>{combo.x, combo.y, combo.cx, combo.cy}), (std::vector<int>{8, 8, 252, 256}));
    for (int i = 0; i < 8; ++i) {
        const Control& e = dlg.controls[size_t(1 + i)];
        EXPECT_EQ(e.id, 129 + i);
        EXPECT_TRUE(is_class(e.cls, u"EDIT", 0x81));
        EXPECT_EQ(e.style, 0x50000000u | 0x00800000u | 0x00010000u | 0x80u); /* border tabstop autohscroll */
        EXPECT_EQ((std::vector<int>{e.x, e.y, e.cx, e.cy}), (std::vector<int>{60, 24 + 16 * i, 200, 14}));
    }
    struct Label {
        int y, cx, cy;
        std::u16string text;
    };
    const Label labels[] = {
        {26, 48, 14, u"コマンドライン:"},
        {90, 48, 14, u"作業フォルダ:"},
        {106, 48, 14, u"ウィンドウ非表示:"},
        {122, 48, 14, u"終了を待たない:"},
        {138, 48, 14, u"末尾フィルタ:"},
        {154, 252, 256,
         u"%windows% ウィンドウズのフォルダ\n%desktop% デスクトップのフォルダ\n%process% プロセスのフォルダ\n"
         u"%path% ファイルのフルパス\n%dir% ファイルのディレクトリ\n%name% ファイルの名前\n"
         u"%body% 拡張子の除いたファイルの名前\n"},
    };
    for (size_t i = 0; i < 6; ++i) {
        const Control& s = dlg.controls[9 + i];
        EXPECT_EQ(s.id, 0);
        EXPECT_TRUE(is_class(s.cls, u"STATIC", 0x82));
        EXPECT_EQ(s.style, 0x50000000u | 0x00020000u); /* child visible group, SS_LEFT */
        EXPECT_EQ((std::vector<int>{s.x, s.y, s.cx, s.cy}), (std::vector<int>{8, labels[i].y, labels[i].cx, labels[i].cy}));
        EXPECT_TRUE(s.text == labels[i].text) << "label " << i;
    }
#endif
}
