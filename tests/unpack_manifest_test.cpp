/* unpack_manifest_test.cpp -- QUILBAN.TXT: the exact bytes written, the parsing rules, the line-counting reader */
#include <gtest/gtest.h>

#include <iconv.h>

#include <deque>
#include <string>
#include <vector>

#include "tests/unpack_samples.h"
#include "unpack/manifest.h"

using namespace ps2;
using namespace ps2::test;

namespace {

/* The comment texts as they read, converted to code page 932 by the C library. */
std::string to_cp932(const std::string& utf8)
{
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == iconv_t(-1)) return {};
    std::string in = utf8, out(utf8.size() * 2 + 16, '\0');
    char* ip = in.data();
    char* op = out.data();
    size_t il = in.size(), ol = out.size();
    const size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == size_t(-1)) return {};
    out.resize(out.size() - ol);
    return out;
}

std::string crlf(std::initializer_list<std::string> lines)
{
    std::string s;
    for (const auto& l : lines) s += l + "\r\n";
    return s;
}

std::string comment(ManifestField f) { return std::string(manifest_comment(f)); }

/* A block as the writer lays it out, from the nine value lines. */
std::string block_text(const std::vector<std::string>& values)
{
    std::string s = std::string(kManifestRuleLine) + "\r\n";
    for (size_t i = 0; i < kManifestFieldCount; ++i)
        s += comment(ManifestField(i)) + "\r\n" + values[i] + "\r\n";
    return s;
}

/* The blocks' name2 point into the text, so every text read is kept for the test's life. */
std::vector<ManifestBlock> read_all(const std::string& text_in, size_t* partial = nullptr)
{
    static std::deque<std::string> kept;
    const std::string& text = kept.emplace_back(text_in);
    ManifestReader r(span_of(text));
    std::vector<ManifestBlock> out;
    ManifestBlock b;
    while (r.next(&b)) out.push_back(b);
    if (partial) *partial = r.partial_lines();
    return out;
}

const std::vector<std::string> kSampleValues = {"8497", "964", "00 07 35 17 15 04 E2 07", "9", "0",
                                                "01 02 03 04 05 06 07 08", "12AB00FF", "icon.sys", "icon.sys"};

} // namespace

TEST(ManifestText, CommentLinesAreTheShiftJisBytesOfTheirTexts)
{
    const char* const utf8[kManifestFieldCount] = {
        "/* mode [hex] ファイルやディレクトリの属性フラグ */",
        "/* length [dec] ファイルの大きさやディレクトリ内の登録数 */",
        "/* created [bin] 作成日時 */",
        "/* cluster [dec] 状況で変化するので気にしない - 自身または親ディレクトリの先頭位置 */",
        "/* dir_entry [dec] 状況で変化するので気にしない - 親ディレクトリにおける自身の登録位置 */",
        "/* modified [bin] 修正日時 */",
        "/* attr [hex] ユーザー独自のフラグ */",
        "/* name [str] ファイル名またはディレクトリ名 */",
        "/* name2 [str] 実際の入出力に使う名前 nameだとWindows上問題があるときにテンポラリ名を使うため */",
    };
    const size_t sizes[kManifestFieldCount] = {51, 59, 28, 85, 89, 29, 37, 47, 96};
    for (size_t i = 0; i < kManifestFieldCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(manifest_comment(ManifestField(i)).size(), sizes[i]);
        const std::string expected = to_cp932(utf8[i]);
        ASSERT_FALSE(expected.empty()) << "the C library cannot convert to CP932";
        EXPECT_EQ(std::string(manifest_comment(ManifestField(i))), expected);
    }
    EXPECT_EQ(kManifestRuleLine, std::string(60, '-'));
}

TEST(ManifestText, WriterGivesTheExactBytes)
{
    uint8_t rec[kPsuEntrySize] = {};
    store_u16le(rec, 0x8497);
    store_u16le(rec + 2, 0xBEEF); /* reserved: not carried */
    set_record_length(rec, 964);
    const uint8_t created[8] = {0x00, 0x07, 0x35, 0x17, 0x15, 0x04, 0xE2, 0x07};
    std::memcpy(rec + psu_field::created, created, 8);
    set_record_cluster(rec, 9);
    for (int i = 0; i < 8; ++i) rec[psu_field::modified + size_t(i)] = uint8_t(i + 1);
    store_u32le(rec + psu_field::attr, 0x12AB00FF);
    std::memcpy(rec + psu_field::name, "icon.sys", 8);
    rec[0x100] = 0x55; /* behind the name: not carried */

    Bytes out(kManifestHeaderSize + kManifestBlockMax);
    ManifestWriter w(out);
    ASSERT_TRUE(w.add_header());
    ASSERT_TRUE(w.add_block(rec, "icon.sys"));
    EXPECT_EQ(text_of(w.bytes()), "QUILBAN\r\n" + block_text(kSampleValues));
    EXPECT_EQ(block_text(kSampleValues).size(),
              62 + (51 + 59 + 28 + 85 + 89 + 29 + 37 + 47 + 96 + 18) + (4 + 3 + 23 + 1 + 1 + 23 + 8 + 8 + 8 + 18));
}

TEST(ManifestText, ValueFormats)
{
    struct Case {
        uint16_t mode;
        uint32_t length, cluster, dir_entry, attr;
        const char* name; /* up to 32 bytes: a full field has no NUL */
        std::vector<std::string> lines; /* the value lines mode..name */
    };
    const Case cases[] = {
        {0x0000, 0, 0, 0, 0, "", {"0000", "0", "00 00 00 00 00 00 00 00", "0", "0", "00 00 00 00 00 00 00 00", "00000000", ""}},
        {0x00AB, 2147483647u, 2147483648u, 4294967295u, 0xFFFFFFFFu, "12345678901234567890123456789012",
         {"00AB", "2147483647", "00 00 00 00 00 00 00 00", "-2147483648", "-1", "00 00 00 00 00 00 00 00",
          "FFFFFFFF", "12345678901234567890123456789012"}},
        {0x8427, 4294967294u, 1000000, 7, 0x10, "BISLPS-25105-01",
         {"8427", "-2", "00 00 00 00 00 00 00 00", "1000000", "7", "00 00 00 00 00 00 00 00", "00000010",
          "BISLPS-25105-01"}},
    };
    for (const Case& c : cases) {
        uint8_t rec[kPsuEntrySize] = {};
        store_u16le(rec, c.mode);
        set_record_length(rec, c.length);
        set_record_cluster(rec, c.cluster);
        set_record_dir_entry(rec, c.dir_entry);
        store_u32le(rec + psu_field::attr, c.attr);
        std::memcpy(rec + psu_field::name, c.name, std::strlen(c.name));
        rec[0x60] = 'X'; /* a full name field is followed by reserved bytes, never read */
        Bytes out(kManifestBlockMax);
        ManifestWriter w(out);
        ASSERT_TRUE(w.add_block(rec, "n2"));
        std::vector<std::string> values = c.lines;
        values.push_back("n2");
        EXPECT_EQ(text_of(w.bytes()), block_text(values)) << c.name;
    }
}

TEST(ManifestText, WriterRefusesWhatDoesNotFit)
{
    uint8_t rec[kPsuEntrySize] = {};
    Bytes out(kManifestHeaderSize + 100);
    ManifestWriter w(out);
    ASSERT_TRUE(w.add_header());
    EXPECT_FALSE(w.add_block(rec, "x"));
    EXPECT_EQ(w.size(), kManifestHeaderSize);
    Bytes tiny(5);
    ManifestWriter t(tiny);
    EXPECT_FALSE(t.add_header());
    EXPECT_EQ(t.size(), 0u);
}

TEST(ManifestParse, NumbersTable)
{
    struct Case {
        const char* line;
        uint32_t hex, dec;
    };
    const Case cases[] = {
        {"8427", 0x8427, 8427},
        {"8427abc", 0x8427ABC, 8427},
        {"ffff", 0xFFFF, 0},
        {"fFaA", 0xFFAA, 0},
        {" 12", 0, 0},           /* a leading space gives 0 */
        {"0x12", 0, 0},          /* reads as the single digit 0 */
        {"-5", 0, 0},            /* no sign */
        {"", 0, 0},
        {"12 34", 0x12, 12},
        {"123456789", 0x23456789, 123456789}, /* nine hex digits keep the last eight */
        {"4294967295", 0x94967295, 4294967295u},
        {"4294967296", 0x94967296, 0},        /* decimal wraps at 2^32 */
        {"4294967306", 0x94967306, 10},
        {"99999999999", 0x99999999, uint32_t(99999999999ull)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse_manifest_hex(c.line), c.hex) << c.line;
        EXPECT_EQ(parse_manifest_decimal(c.line), c.dec) << c.line;
    }
}

TEST(ManifestParse, ByteRowsTable)
{
    struct Case {
        const char* line;
        Bytes bytes; /* the 8-byte field after parsing into zeros */
        bool cut;
    };
    const Case cases[] = {
        {"01 23 45 67 89 AB CD EF", {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}, false},
        {"01 23 45 67 89 ab cd ef", {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}, false},
        {"0123", {0x01, 0x23, 0, 0, 0, 0, 0, 0}, false},
        {"1 2 3", {0x01, 0x02, 0, 0, 0, 0, 0, 0}, false}, /* the last lone digit is dropped */
        {"1  2", {0x01, 0, 0, 0, 0, 0, 0, 0}, false}, /* 0 doubled stays 0; the 2 is left alone */
        {"", {0, 0, 0, 0, 0, 0, 0, 0}, false},
        {"AB", {0xAB, 0, 0, 0, 0, 0, 0, 0}, false},
        {"A-B", {0x0A, 0, 0, 0, 0, 0, 0, 0}, false},
        {"0102030405060708", {1, 2, 3, 4, 5, 6, 7, 8}, false},
        {"01 02 03 04 05 06 07 08 09", {1, 2, 3, 4, 5, 6, 7, 8}, true}, /* a ninth byte is cut */
        {"01 02 03 04 05 06 07 08 9", {1, 2, 3, 4, 5, 6, 7, 8}, false}, /* a lone digit is no byte */
        {"x1y", {0x01, 0, 0, 0, 0, 0, 0, 0}, false},
        {"x1yz", {0x01, 0, 0, 0, 0, 0, 0, 0}, false},
    };
    for (const Case& c : cases) {
        uint8_t guard[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0xEE, 0xEE};
        EXPECT_EQ(parse_manifest_byte_row(c.line, std::span<uint8_t>(guard, 8)), c.cut) << c.line;
        EXPECT_EQ(Bytes(guard, guard + 8), c.bytes) << c.line;
        EXPECT_EQ(guard[8], 0xEE);
    }
}

TEST(ManifestRead, ReadsBackWhatWasWritten)
{
    const std::string text = "QUILBAN\r\n" + block_text(kSampleValues) +
                             block_text({"8427", "2", "", "0", "0", "", "0", ".", "temp0001.bin"});
    size_t partial = 99;
    const auto blocks = read_all(text, &partial);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(partial, 0u);
    const uint8_t* r = blocks[0].record.data();
    EXPECT_EQ(record_mode(r), 0x8497);
    EXPECT_EQ(record_length(r), 964u);
    EXPECT_EQ(record_cluster(r), 9u);
    EXPECT_EQ(load_u32le(r + psu_field::attr), 0x12AB00FFu);
    EXPECT_EQ(psu_record_name(r), "icon.sys");
    EXPECT_EQ(blocks[0].name2, "icon.sys");
    EXPECT_EQ(blocks[0].first_line, 2u);
    EXPECT_EQ(blocks[1].first_line, 21u);
    EXPECT_EQ(blocks[1].name2, "temp0001.bin");
    /* Only the carried fields are set. */
    uint8_t expected[kPsuEntrySize] = {};
    store_u16le(expected, 0x8497);
    set_record_length(expected, 964);
    const uint8_t created[8] = {0x00, 0x07, 0x35, 0x17, 0x15, 0x04, 0xE2, 0x07};
    std::memcpy(expected + psu_field::created, created, 8);
    set_record_cluster(expected, 9);
    for (int i = 0; i < 8; ++i) expected[psu_field::modified + size_t(i)] = uint8_t(i + 1);
    store_u32le(expected + psu_field::attr, 0x12AB00FF);
    std::memcpy(expected + psu_field::name, "icon.sys", 8);
    EXPECT_EQ(0, std::memcmp(r, expected, kPsuEntrySize));
}

TEST(ManifestRead, LineEndsAndCaseReadAlike)
{
    const std::string base = "QUILBAN\r\n" + block_text(kSampleValues);
    auto with_ends = [&](const std::string& end) {
        std::string s;
        for (size_t i = 0; i < base.size(); ++i) {
            if (base.compare(i, 2, "\r\n") == 0) {
                s += end;
                ++i;
            } else {
                s += base[i];
            }
        }
        return s;
    };
    const auto reference = read_all(base);
    ASSERT_EQ(reference.size(), 1u);
    std::string lower = base;
    for (const char* v : {"12AB00FF", "E2 07"}) {
        const size_t at = lower.find(v);
        for (size_t i = at; i < at + std::strlen(v); ++i) lower[i] = char(std::tolower(uint8_t(lower[i])));
    }
    for (const std::string& text : {with_ends("\n"), with_ends("\r"), lower}) {
        const auto b = read_all(text);
        ASSERT_EQ(b.size(), 1u);
        EXPECT_EQ(b[0].record, reference[0].record);
        EXPECT_EQ(b[0].name2, "icon.sys");
    }
}

TEST(ManifestRead, ValueEditsAndQuirks)
{
    struct Case {
        size_t field;
        const char* value;
        uint32_t expected; /* mode, length or attr as read */
    };
    const Case cases[] = {
        {0, "18497", 0x8497},         /* five digits keep the low 16 bits */
        {0, "8497 trailing", 0x8497},
        {0, " 8497", 0},
        {0, "0x8497", 0},
        {1, "-964", 0},
        {1, "4294967297", 1},
        {6, "112AB00FF", 0x12AB00FF}, /* nine digits keep the last eight */
    };
    for (const Case& c : cases) {
        std::vector<std::string> values = kSampleValues;
        values[c.field] = c.value;
        const auto b = read_all("QUILBAN\r\n" + block_text(values));
        ASSERT_EQ(b.size(), 1u);
        const uint8_t* r = b[0].record.data();
        const uint32_t got = c.field == 0 ? record_mode(r) : c.field == 1 ? record_length(r) : load_u32le(r + 0x20);
        EXPECT_EQ(got, c.expected) << c.value;
    }
}

TEST(ManifestRead, CommentLinesAreNeverExamined)
{
    std::string text = "anything at all\n" + std::string(kManifestRuleLine) + "\n";
    for (size_t i = 0; i < kManifestFieldCount; ++i)
        text += (i % 2 ? "" : "/* kommentar auf deutsch */") + std::string("\n") + kSampleValues[i] + "\n";
    const auto b = read_all(text);
    const auto reference = read_all("QUILBAN\r\n" + block_text(kSampleValues));
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].record, reference[0].record);
    EXPECT_EQ(b[0].name2, "icon.sys");
}

TEST(ManifestRead, NamesAreTakenWholeAndCutToTheField)
{
    std::vector<std::string> values = kSampleValues;
    values[7] = "  SAVE  ";
    values[8] = " member name ";
    auto b = read_all("QUILBAN\r\n" + block_text(values));
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(psu_record_name(b[0].record.data()), "  SAVE  ");
    EXPECT_EQ(b[0].name2, " member name ");
    EXPECT_FALSE(b[0].name_cut);

    values[7] = std::string(32, 'N');
    b = read_all("QUILBAN\r\n" + block_text(values));
    EXPECT_EQ(psu_record_name(b[0].record.data()), std::string(32, 'N'));
    EXPECT_FALSE(b[0].name_cut);

    values[7] = std::string(32, 'N') + "OVERFLOW";
    values[2] = "01 02 03 04 05 06 07 08 09 0A";
    b = read_all("QUILBAN\r\n" + block_text(values));
    ASSERT_EQ(b.size(), 1u);
    EXPECT_TRUE(b[0].name_cut);
    EXPECT_TRUE(b[0].created_cut);
    EXPECT_FALSE(b[0].modified_cut);
    EXPECT_EQ(psu_record_name(b[0].record.data()), std::string(32, 'N'));
    /* Nothing beyond the name field: the reserved bytes stay zero. */
    for (size_t i = 0x60; i < kPsuEntrySize; ++i) ASSERT_EQ(b[0].record[i], 0) << i;
    EXPECT_EQ(b[0].record[0x10], 9); /* cluster untouched by the long created row */
}

TEST(ManifestRead, AnInsertedEmptyLineShiftsEveryLaterLine)
{
    const std::vector<std::string> second = {"8417", "5", "", "0", "0", "", "0", "data", "data.bin"};
    const std::string text = "QUILBAN\r\n" + block_text(kSampleValues) + "\r\n" + block_text(second) +
                             block_text(second);
    size_t partial = 0;
    const auto b = read_all(text, &partial);
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(b[0].name2, "icon.sys");
    /* Block 2 starts at the empty line: each value comes from the comment line above it. */
    const uint8_t* r = b[1].record.data();
    EXPECT_EQ(record_mode(r), 0); /* from the comment line of mode */
    EXPECT_EQ(record_length(r), 0u);
    EXPECT_EQ(psu_record_name(r), std::string(manifest_comment(ManifestField::name)).substr(0, 32));
    EXPECT_TRUE(b[1].name_cut);
    EXPECT_EQ(b[1].name2, manifest_comment(ManifestField::name2));
    /* The true name2 line is line 1 of the block after, and so on. */
    EXPECT_EQ(b[2].name2, manifest_comment(ManifestField::name2));
    EXPECT_EQ(partial, 1u); /* the second copy's last line is left over */
}

TEST(ManifestRead, LongLinesThroughTheWindow)
{
    const std::string name2_comment(manifest_comment(ManifestField::name2));
    struct Case {
        size_t length;      /* of the name line */
        std::string name2;  /* as read */
        size_t partial;
    };
    /* 1021 characters read whole. 1022 read whole too, but the CR is the
     * window's last byte, so the LF is an empty line of its own; 1030 is cut
     * after 1023 bytes and its rest is a line. Either way one extra line
     * shifts the block: its name2 comes from the comment line of name2. */
    const Case cases[] = {{1021, "icon.sys", 0}, {1022, name2_comment, 1}, {1030, name2_comment, 1}};
    for (const Case& c : cases) {
        std::vector<std::string> values = kSampleValues;
        values[7] = std::string(c.length, 'L');
        size_t partial = 0;
        const auto b = read_all("QUILBAN\r\n" + block_text(values), &partial);
        ASSERT_EQ(b.size(), 1u) << c.length;
        EXPECT_TRUE(b[0].name_cut);
        EXPECT_EQ(psu_record_name(b[0].record.data()), std::string(32, 'L'));
        EXPECT_EQ(b[0].name2, c.name2) << c.length;
        EXPECT_EQ(partial, c.partial) << c.length;
    }
    /* A name2 of 1021 characters comes through whole. */
    std::vector<std::string> values = kSampleValues;
    values[8] = std::string(1021, 'm');
    const auto b = read_all("QUILBAN\r\n" + block_text(values));
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].name2, std::string(1021, 'm'));
}

TEST(ManifestRead, EndsAndPartialBlocks)
{
    const std::string full = "QUILBAN\r\n" + block_text(kSampleValues);
    struct Case {
        std::string text;
        size_t blocks, partial;
    };
    const Case cases[] = {
        {"", 0, 0},
        {"QUILBAN\r\n", 0, 0},
        {"QUILBAN", 0, 0},
        {full, 1, 0},
        {full.substr(0, full.size() - 2), 1, 0}, /* no CR LF after the last line */
        {full.substr(0, full.rfind("icon.sys")), 0, 18},
        {full + crlf({"-----", "x"}), 1, 2},
        {std::string("QUILBAN\r\n\0", 10) + block_text(kSampleValues), 0, 0}, /* a NUL ends the manifest */
        {full.substr(0, 30) + std::string(1, '\0') + full.substr(30), 0, 1},
    };
    for (const Case& c : cases) {
        size_t partial = 99;
        EXPECT_EQ(read_all(c.text, &partial).size(), c.blocks);
        EXPECT_EQ(partial, c.partial);
    }
}
