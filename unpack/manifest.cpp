/* manifest.cpp -- QUILBAN.TXT writer and reader */
#include "unpack/manifest.h"

#include <algorithm>
#include <cstring>

namespace ps2 {

/* ---- constants ---- */

/* The comment lines in code page 932, kept as byte escapes so that this
 * source stays UTF-8. The text of each is in the comment above it. */
static constexpr std::string_view kComments[kManifestFieldCount] = {
    // /* mode [hex] ファイルやディレクトリの属性フラグ */
    "/* mode [hex] \x83t\x83@\x83\x43\x83\x8B\x82\xE2\x83\x66\x83\x42\x83\x8C\x83N\x83g\x83\x8A\x82\xCC\x91\xAE"
    "\x90\xAB\x83t\x83\x89\x83O */",
    // /* length [dec] ファイルの大きさやディレクトリ内の登録数 */
    "/* length [dec] \x83t\x83@\x83\x43\x83\x8B\x82\xCC\x91\xE5\x82\xAB\x82\xB3\x82\xE2\x83\x66\x83\x42\x83\x8C"
    "\x83N\x83g\x83\x8A\x93\xE0\x82\xCC\x93o\x98^\x90\x94 */",
    // /* created [bin] 作成日時 */
    "/* created [bin] \x8D\xEC\x90\xAC\x93\xFA\x8E\x9E */",
    // /* cluster [dec] 状況で変化するので気にしない - 自身または親ディレクトリの先頭位置 */
    "/* cluster [dec] \x8F\xF3\x8B\xB5\x82\xC5\x95\xCF\x89\xBB\x82\xB7\x82\xE9\x82\xCC\x82\xC5\x8B\x43\x82\xC9"
    "\x82\xB5\x82\xC8\x82\xA2 - \x8E\xA9\x90g\x82\xDC\x82\xBD\x82\xCD\x90\x65\x83\x66\x83\x42\x83\x8C\x83N\x83g"
    "\x83\x8A\x82\xCC\x90\xE6\x93\xAA\x88\xCA\x92u */",
    // /* dir_entry [dec] 状況で変化するので気にしない - 親ディレクトリにおける自身の登録位置 */
    "/* dir_entry [dec] \x8F\xF3\x8B\xB5\x82\xC5\x95\xCF\x89\xBB\x82\xB7\x82\xE9\x82\xCC\x82\xC5\x8B\x43\x82\xC9"
    "\x82\xB5\x82\xC8\x82\xA2 - \x90\x65\x83\x66\x83\x42\x83\x8C\x83N\x83g\x83\x8A\x82\xC9\x82\xA8\x82\xAF\x82"
    "\xE9\x8E\xA9\x90g\x82\xCC\x93o\x98^\x88\xCA\x92u */",
    // /* modified [bin] 修正日時 */
    "/* modified [bin] \x8F\x43\x90\xB3\x93\xFA\x8E\x9E */",
    // /* attr [hex] ユーザー独自のフラグ */
    "/* attr [hex] \x83\x86\x81[\x83U\x81[\x93\xC6\x8E\xA9\x82\xCC\x83t\x83\x89\x83O */",
    // /* name [str] ファイル名またはディレクトリ名 */
    "/* name [str] \x83t\x83@\x83\x43\x83\x8B\x96\xBC\x82\xDC\x82\xBD\x82\xCD\x83\x66\x83\x42\x83\x8C\x83N\x83g"
    "\x83\x8A\x96\xBC */",
    // /* name2 [str] 実際の入出力に使う名前 nameだとWindows上問題があるときにテンポラリ名を使うため */
    "/* name2 [str] \x8E\xC0\x8D\xDB\x82\xCC\x93\xFC\x8Fo\x97\xCD\x82\xC9\x8Eg\x82\xA4\x96\xBC\x91O name\x82\xBE"
    "\x82\xC6Windows\x8F\xE3\x96\xE2\x91\xE8\x82\xAA\x82\xA0\x82\xE9\x82\xC6\x82\xAB\x82\xC9\x83\x65\x83\x93\x83|"
    "\x83\x89\x83\x8A\x96\xBC\x82\xF0\x8Eg\x82\xA4\x82\xBD\x82\xDF */",
};

static constexpr size_t comments_total()
{
    size_t n = 0;
    for (const auto& c : kComments) n += c.size() + 2;
    return n;
}
/* Values at their widest: "%04X", three "%d" of a 32-bit value, two byte
 * rows, "%08X", a 32-byte name and name2; each line with its CR LF. */
static_assert(kManifestRuleLine.size() + 2 + comments_total() + (4 + 3 * 11 + 2 * 23 + 8 + 32 + kManifestName2Max) +
                      kManifestFieldCount * 2 <=
                  kManifestBlockMax,
              "kManifestBlockMax must bound a block");

std::string_view manifest_comment(ManifestField field)
{
    const size_t i = size_t(field);
    return i < kManifestFieldCount ? kComments[i] : std::string_view();
}

/* ---- writing ---- */

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

/* Appends into a fixed line: callers size it for the widest value. */
struct LineText {
    char text[64];
    size_t size = 0;

    void put(char c) { text[size++] = c; }
    void hex(uint32_t v, int digits)
    {
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) put(kHexDigits[(v >> shift) & 0xF]);
    }
    void signed_decimal(uint32_t v)
    {
        /* The field as a signed 32-bit number: values of 2^31 or more come out negative. */
        uint32_t magnitude = v;
        if (v & 0x80000000u) {
            put('-');
            magnitude = 0u - v;
        }
        char digits[10];
        int n = 0;
        do {
            digits[n++] = char('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        while (n > 0) put(digits[--n]);
    }
    void byte_row(const uint8_t* bytes)
    {
        for (int i = 0; i < 8; ++i) {
            if (i) put(' ');
            hex(bytes[i], 2);
        }
    }
    std::string_view view() const { return {text, size}; }
};

} // namespace

static void put_line(uint8_t* out, size_t* pos, std::string_view text)
{
    if (!text.empty()) std::memcpy(out + *pos, text.data(), text.size());
    *pos += text.size();
    out[(*pos)++] = '\r';
    out[(*pos)++] = '\n';
}

bool ManifestWriter::add_header()
{
    if (kManifestHeader.size() + 2 > out_.size() - pos_) return false;
    put_line(out_.data(), &pos_, kManifestHeader);
    return true;
}

bool ManifestWriter::add_block(const uint8_t* record, std::string_view name2)
{
    LineText mode, length, created, cluster, dir_entry, modified, attr;
    mode.hex(record_mode(record), 4);
    length.signed_decimal(record_length(record));
    created.byte_row(record + psu_field::created);
    cluster.signed_decimal(record_cluster(record));
    dir_entry.signed_decimal(record_dir_entry(record));
    modified.byte_row(record + psu_field::modified);
    attr.hex(load_u32le(record + psu_field::attr), 8);
    const std::string_view values[kManifestFieldCount] = {
        mode.view(), length.view(), created.view(),          cluster.view(), dir_entry.view(),
        modified.view(), attr.view(), psu_record_name(record), name2,
    };

    size_t need = kManifestRuleLine.size() + 2;
    for (size_t i = 0; i < kManifestFieldCount; ++i) need += kComments[i].size() + 2 + values[i].size() + 2;
    if (need > out_.size() - pos_) return false;

    put_line(out_.data(), &pos_, kManifestRuleLine);
    for (size_t i = 0; i < kManifestFieldCount; ++i) {
        put_line(out_.data(), &pos_, kComments[i]);
        put_line(out_.data(), &pos_, values[i]);
    }
    return true;
}

/* ---- reading ---- */

static int hex_digit_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

uint32_t parse_manifest_hex(std::string_view line)
{
    uint32_t value = 0;
    for (const char c : line) {
        const int d = hex_digit_value(c);
        if (d < 0) break;
        value = value * 16u + uint32_t(d);
    }
    return value;
}

uint32_t parse_manifest_decimal(std::string_view line)
{
    uint32_t value = 0;
    for (const char c : line) {
        if (c < '0' || c > '9') break;
        value = value * 10u + uint32_t(c - '0');
    }
    return value;
}

bool parse_manifest_byte_row(std::string_view line, std::span<uint8_t> out)
{
    uint32_t pending = 0;
    unsigned count = 0;
    size_t stored = 0;
    bool cut = false;
    for (const char c : line) {
        const int d = hex_digit_value(c);
        if (d >= 0) {
            pending = pending * 16u + uint32_t(d);
            ++count;
        } else {
            count *= 2;
        }
        if (count == 2) {
            if (stored < out.size())
                out[stored++] = uint8_t(pending);
            else
                cut = true;
            pending = 0;
            count = 0;
        }
    }
    return cut;
}

namespace {

constexpr std::string_view kFieldNames[kManifestFieldCount] = {"mode",     "length", "created", "cluster", "dir_entry",
                                                                "modified", "attr",   "name",    "name2"};
constexpr size_t kRuleLineMin = 4;

bool is_blank_tail(std::string_view s)
{
    return s.find_first_not_of(" \t") == std::string_view::npos;
}

/* Hexadecimal digits (1 to max_digits), then nothing but blanks. */
bool reads_as_hex(std::string_view line, size_t max_digits)
{
    size_t n = 0;
    while (n < line.size() && hex_digit_value(line[n]) >= 0) ++n;
    return n >= 1 && n <= max_digits && is_blank_tail(line.substr(n));
}

/* Decimal digits of a value below 2^32, then nothing but blanks. */
bool reads_as_decimal(std::string_view line)
{
    size_t n = 0;
    uint64_t v = 0;
    while (n < line.size() && line[n] >= '0' && line[n] <= '9' && v <= UINT32_MAX) v = v * 10 + uint64_t(line[n++] - '0');
    return n >= 1 && v <= UINT32_MAX && is_blank_tail(line.substr(n));
}

/* Eight pairs of hexadecimal digits, one space between pairs, then nothing but blanks. */
bool reads_as_byte_row(std::string_view line)
{
    for (size_t i = 0; i < 8; ++i) {
        const size_t at = i * 3;
        if (line.size() < at + 2 || hex_digit_value(line[at]) < 0 || hex_digit_value(line[at + 1]) < 0) return false;
        if (i < 7 && (line.size() < at + 3 || line[at + 2] != ' ')) return false;
    }
    return is_blank_tail(line.substr(23));
}

ManifestLineKind kind_of_line(std::string_view line, ManifestField* field)
{
    if (line.size() >= kRuleLineMin && line.find_first_not_of('-') == std::string_view::npos) return ManifestLineKind::rule;
    if (line.substr(0, 3) == "/* ") {
        for (size_t f = 0; f < kManifestFieldCount; ++f) {
            const std::string_view name = kFieldNames[f];
            if (line.size() >= 3 + name.size() + 2 && line.substr(3, name.size()) == name &&
                line.substr(3 + name.size(), 2) == " [") {
                *field = ManifestField(f);
                return ManifestLineKind::comment;
            }
        }
    }
    return ManifestLineKind::value;
}

bool value_reads_as_its_field(ManifestField f, std::string_view line)
{
    switch (f) {
    case ManifestField::mode: return reads_as_hex(line, 4);
    case ManifestField::attr: return reads_as_hex(line, 8);
    case ManifestField::length:
    case ManifestField::cluster:
    case ManifestField::dir_entry: return reads_as_decimal(line);
    case ManifestField::created:
    case ManifestField::modified: return reads_as_byte_row(line);
    case ManifestField::name:
    case ManifestField::name2: return true;
    }
    return true;
}

} // namespace

std::string_view manifest_field_name(ManifestField field)
{
    const size_t i = size_t(field);
    return i < kManifestFieldCount ? kFieldNames[i] : std::string_view();
}

void ManifestReader::check_line(size_t n, std::string_view line, bool cut, size_t block)
{
    if (shifted_) return;
    ManifestLineNote note;
    note.line = line_number_;
    note.block = block;
    note.text = line;
    note.expected = n == 1 ? ManifestLineKind::rule : (n % 2 == 0 ? ManifestLineKind::comment : ManifestLineKind::value);
    note.field = n == 1 ? ManifestField::mode : ManifestField((n - 2) / 2);
    note.found = kind_of_line(line, &note.found_field);
    const bool value_place = note.expected == ManifestLineKind::value;
    /* Any text may stand on a value line but a rule or comment line; a comment line's own field must match. */
    const bool in_place = value_place ? note.found == ManifestLineKind::value
                                      : note.found == note.expected &&
                                            (note.expected == ManifestLineKind::rule || note.found_field == note.field);
    if (!in_place) {
        note.fault = ManifestLineFault::shifted;
        notes_.push_back(note);
        shifted_ = true;
        return;
    }
    if (value_place && !cut && !value_reads_as_its_field(note.field, line)) {
        note.fault = ManifestLineFault::not_a_value;
        notes_.push_back(note);
    }
}

ManifestReader::ManifestReader(std::span<const uint8_t> text) : lines_(text)
{
    std::string_view header;
    if (lines_.next(&header)) line_number_ = 1;
}

bool ManifestReader::next(ManifestBlock* block)
{
    *block = ManifestBlock();
    uint8_t* r = block->record.data();
    block->first_line = line_number_ + 1;
    const size_t index = ++blocks_;
    std::string_view line;
    for (size_t n = 1; n <= kManifestBlockLines; ++n) {
        if (!lines_.next(&line)) {
            partial_lines_ = n - 1;
            return false;
        }
        ++line_number_;
        switch (n) {
        case 3: store_u16le(r + psu_field::mode, uint16_t(parse_manifest_hex(line))); break;
        case 5: store_u32le(r + psu_field::length, parse_manifest_decimal(line)); break;
        case 7: block->created_cut = parse_manifest_byte_row(line, {r + psu_field::created, 8}); break;
        case 9: store_u32le(r + psu_field::cluster, parse_manifest_decimal(line)); break;
        case 11: store_u32le(r + psu_field::dir_entry, parse_manifest_decimal(line)); break;
        case 13: block->modified_cut = parse_manifest_byte_row(line, {r + psu_field::modified, 8}); break;
        case 15: store_u32le(r + psu_field::attr, parse_manifest_hex(line)); break;
        case 17: {
            /* Taken whole, spaces included; a name that fills the field has no NUL. */
            const size_t n_name = std::min(line.size(), kPsuNameSize);
            if (n_name) std::memcpy(r + psu_field::name, line.data(), n_name);
            block->name_cut = line.size() > kPsuNameSize;
            break;
        }
        case 19: block->name2 = line; break;
        default: break; /* the rule line and the comment lines give no value */
        }
        /* A row cut to its field has its own warning. */
        check_line(n, line, (n == 7 && block->created_cut) || (n == 13 && block->modified_cut), index);
    }
    partial_lines_ = 0;
    return true;
}

} // namespace ps2
