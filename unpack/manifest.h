/* manifest.h -- QUILBAN.TXT: every PSU entry of an archive as a 19-line text block, written and read back */
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "common/psu.h"
#include "common/linereader.h"

namespace ps2 {

/* ---- the text ---- */

/* The manifest's file name inside an unpack folder. */
inline constexpr const char* kManifestName = "QUILBAN.TXT";
/* Its first line (never examined when read). */
inline constexpr std::string_view kManifestHeader = "QUILBAN";
/* Line 1 of every block: 60 hyphen-minus characters. */
inline constexpr std::string_view kManifestRuleLine = "------------------------------------------------------------";
inline constexpr size_t kManifestBlockLines = 19;

/* The value fields of a block, in block order. Value line of field i is line 3 + 2i,
 * its comment line is the line above it. */
enum class ManifestField : uint8_t { mode, length, created, cluster, dir_entry, modified, attr, name, name2 };
inline constexpr size_t kManifestFieldCount = 9;

/* The fixed comment line of each field, as Shift_JIS (code page 932) bytes. */
std::string_view manifest_comment(ManifestField field);

/* The most bytes a name2 can take in a manifest written by this writer:
 * an entry name (32 bytes), the same in UTF-8 where a Linux unpack converts
 * a Shift_JIS name (three bytes for each byte at most, a half-width katakana),
 * or "temp%04d.bin" with a 32-bit counter (18). */
inline constexpr size_t kManifestName2Max = 3 * 32;
/* Upper bound of one block's bytes when name2 is at most kManifestName2Max bytes. */
inline constexpr size_t kManifestBlockMax = 864;
inline constexpr size_t kManifestHeaderSize = 9; /* "QUILBAN" CR LF */

/* ---- writing ---- */

/* Writes the manifest into a caller's buffer. Every call returns false (and
 * writes nothing) when the rest of the buffer cannot take what it would add. */
class ManifestWriter {
public:
    explicit ManifestWriter(std::span<uint8_t> out) : out_(out) {}

    [[nodiscard]] bool add_header();
    /* One block from a 512-byte entry record and the name of its member file. */
    [[nodiscard]] bool add_block(const uint8_t* record, std::string_view name2);

    size_t size() const { return pos_; }
    std::span<const uint8_t> bytes() const { return out_.first(pos_); }

private:
    std::span<uint8_t> out_;
    size_t pos_ = 0;
};

/* ---- reading ---- */

/* The value parsers of the reader, exposed for tests.
 * Hexadecimal: digits 0-9 A-F a-f from the first character, 32-bit wrapping;
 * the first other character ends the number (a leading space or "-" gives 0,
 * "0x12" gives 0). Decimal: digits 0-9 likewise, no sign. */
uint32_t parse_manifest_hex(std::string_view line);
uint32_t parse_manifest_decimal(std::string_view line);
/* A byte row: hex digits pair up into bytes, any other character doubles a
 * pending digit count (so a lone digit becomes a byte of its own), a lone
 * digit at the end is dropped. Stores at most out.size() bytes from out[0]
 * (the rest stays as it is) and returns true when the row held more. */
bool parse_manifest_byte_row(std::string_view line, std::span<uint8_t> out);

/* One complete block as read: the entry record with the fields the block
 * sets (every other byte zero) and the name of its member file. */
struct ManifestBlock {
    std::array<uint8_t, kPsuEntrySize> record{};
    std::string_view name2;   /* points into the manifest text */
    size_t first_line = 0;    /* line number (from 1, the header is line 1) of the block's line 1 */
    bool name_cut = false;     /* the name line held more than 32 bytes; the first 32 were kept */
    bool created_cut = false;  /* the created row held more than 8 bytes */
    bool modified_cut = false; /* the modified row held more than 8 bytes */
};

/* A line that does not read as what its place in a block holds: a warning, the value read stays. */
enum class ManifestLineFault : uint8_t {
    not_a_value, /* a value line whose text is not the field's form ("0x8427" for a mode, "-1" for a count) */
    shifted,     /* a rule, comment or value line where another kind stands: a line was deleted or added
                    above it, and every later line is read shifted (told once, later lines are not looked at) */
};

/* What a line is, by its look: a rule line (hyphens only, at least 4), a comment line ("/ * field ["; the
 * rest of a comment is never looked at, so a manifest saved in another character set still reads), or
 * anything else, a value. */
enum class ManifestLineKind : uint8_t { rule, comment, value };

struct ManifestLineNote {
    ManifestLineFault fault = ManifestLineFault::not_a_value;
    size_t line = 0;        /* from 1, the header is line 1 */
    size_t block = 0;       /* from 1 */
    ManifestField field = ManifestField::mode; /* the field of the line expected there (rule lines: unused) */
    ManifestLineKind expected = ManifestLineKind::value;
    ManifestLineKind found = ManifestLineKind::value;
    ManifestField found_field = ManifestField::mode; /* a comment found: its field */
    std::string_view text;  /* the line as it stands, pointing into the manifest */
};

/* Reads a manifest held in memory block by block. The header line is
 * skipped unexamined; after it every line counts, whatever it holds, and
 * only the value lines give values, by their number in the block. Every
 * line is also checked against its place (notes()): a value that is not
 * its field's form, or, once, a line of another kind than its place holds. */
class ManifestReader {
public:
    explicit ManifestReader(std::span<const uint8_t> text);

    /* The next complete block; false at the end of the manifest (the end of
     * the text or a NUL). A block cut short by the end is not returned. */
    [[nodiscard]] bool next(ManifestBlock* block);

    /* After next() returned false: the lines of the incomplete last block
     * (0 when the manifest ended on a block boundary). */
    size_t partial_lines() const { return partial_lines_; }

    /* The lines found wanting so far, in line order; after a shifted one, no more. */
    const std::vector<ManifestLineNote>& notes() const { return notes_; }

private:
    void check_line(size_t n, std::string_view line, bool cut, size_t block);

    LineReader lines_;
    size_t line_number_ = 0;
    size_t partial_lines_ = 0;
    size_t blocks_ = 0;
    bool shifted_ = false;
    std::vector<ManifestLineNote> notes_;
};

/* The field's name as the comment line spells it ("mode", "dir_entry"). */
std::string_view manifest_field_name(ManifestField field);

} // namespace ps2
