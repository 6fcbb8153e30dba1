/* save_kind.cpp -- the recogniser: magics, sizes, and the words for each kind of file */
#include "common/save_kind.h"

#include <cstring>
#include <string_view>

#include "common/psu.h"

namespace ps2 {

/* ---- constants ---- */

namespace {

constexpr std::string_view kMaxMagicText = "Ps2PowerSave";
/* The card's signature up to its version number: every format version names the card the same way. */
constexpr std::string_view kCardMagicText = "Sony PS2 Memory Card Format ";
constexpr std::string_view kCodeBreakerMagic{"CFU\0", 4};
constexpr std::string_view kSharkPortMagic{"\x0D\0\0\0SharkPortSave", 17};
constexpr std::string_view kPsvMagic{"\0VSP", 4};
constexpr std::string_view kManifestFirstLine = "QUILBAN";
constexpr size_t kManifestRuleLength = 60;

constexpr size_t kDotName = kPsuEntrySize + psu_field::name;        /* 0x240 */
constexpr size_t kDotDotName = 2 * kPsuEntrySize + psu_field::name; /* 0x440 */
constexpr std::string_view kDotField{".\0\0\0", 4};
constexpr std::string_view kDotDotField{"..\0\0", 4};

constexpr uint64_t kRawCardSize = 8388608;   /* 16,384 pages of 512 bytes */
constexpr uint64_t kCodedCardSize = 8650752; /* 16,384 pages of 528 bytes */

/* ---- local helpers ---- */

bool holds_at(std::span<const uint8_t> head, size_t offset, std::string_view text)
{
    return head.size() >= offset && head.size() - offset >= text.size() &&
           std::memcmp(head.data() + offset, text.data(), text.size()) == 0;
}

/* "QUILBAN", a line break (LF, CR LF or CR), then 60 "-": how every manifest begins. */
bool begins_as_manifest(std::span<const uint8_t> head)
{
    if (!holds_at(head, 0, kManifestFirstLine)) return false;
    size_t at = kManifestFirstLine.size();
    if (at < head.size() && head[at] == '\r') ++at;
    if (at < head.size() && head[at] == '\n') ++at;
    if (at == kManifestFirstLine.size()) return false;
    if (head.size() - at < kManifestRuleLength) return false;
    for (size_t i = 0; i < kManifestRuleLength; ++i)
        if (head[at + i] != '-') return false;
    return true;
}

/* Coded images are whole multiples of the coded size (8, 16, 32 and 64 MB cards); a size that is a
 * multiple of neither is coded from 8,650,752 bytes up, as the image reader takes it. */
FileKind card_form(uint64_t file_size)
{
    if (file_size != 0 && file_size % kCodedCardSize == 0) return FileKind::card_coded;
    if (file_size != 0 && file_size % kRawCardSize == 0) return FileKind::card_raw;
    return file_size >= kCodedCardSize ? FileKind::card_coded : FileKind::card_raw;
}

bool is_card(FileKind k) { return k == FileKind::card_raw || k == FileKind::card_coded; }
bool is_foreign_save(FileKind k)
{
    return k == FileKind::max || k == FileKind::codebreaker || k == FileKind::sharkport || k == FileKind::psv;
}
bool takes_kind(FileKindSet takes, FileKind k) { return (takes & file_kind_bit(k)) != 0; }

/* Appends text to out at *at, cut to fit, always leaving room for the NUL. */
void put_text(std::span<char> out, size_t* at, std::string_view text)
{
    if (out.empty() || *at >= out.size() - 1) return;
    const size_t room = out.size() - 1 - *at;
    const size_t n = text.size() < room ? text.size() : room;
    std::memcpy(out.data() + *at, text.data(), n);
    *at += n;
}

/* "a PSU archive", "a PSU or MAX archive", "a card image", "a PSU or MAX archive or a CodeBreaker save". */
void put_takes_phrase(std::span<char> out, size_t* at, FileKindSet takes)
{
    const char* phrases[unsigned(FileKind::count_)] = {};
    size_t n = 0;
    if (takes_kind(takes, FileKind::psu) && takes_kind(takes, FileKind::max)) {
        phrases[n++] = "a PSU or MAX archive";
        takes &= FileKindSet(~(file_kind_bit(FileKind::psu) | file_kind_bit(FileKind::max)));
    }
    if ((takes & kTakesCard) == kTakesCard) takes &= FileKindSet(~file_kind_bit(FileKind::card_coded));
    for (unsigned k = 0; k < unsigned(FileKind::count_); ++k)
        if (takes_kind(takes, FileKind(k))) phrases[n++] = file_kind_phrase(FileKind(k));
    for (size_t i = 0; i < n; ++i) {
        if (i != 0) put_text(out, at, i + 1 == n ? " or " : ", ");
        put_text(out, at, phrases[i]);
    }
}

/* The tools' names in a way out, in capitals as their windows are captioned. */
constexpr std::string_view kToolNames[] = {"varkon", "sorvik", "taviro", "quilban", "maleto", "droprun"};

void put_with_window_names(std::span<char> out, size_t* at, std::string_view text)
{
    const size_t from = *at;
    put_text(out, at, text);
    const std::string_view put(out.data() + from, *at - from);
    for (const std::string_view name : kToolNames)
        for (size_t k = put.find(name); k != std::string_view::npos; k = put.find(name, k + name.size()))
            for (size_t i = 0; i < name.size(); ++i) out[from + k + i] = char(name[i] - 'a' + 'A');
}

} // namespace

/* ---- public functions ---- */

FileKind recognise_file_kind(std::span<const uint8_t> head, uint64_t file_size)
{
    if (head.size() > kFileKindProbeSize) head = head.first(kFileKindProbeSize);
    if (holds_at(head, 0, kMaxMagicText)) return FileKind::max;
    if (holds_at(head, kDotName, kDotField) && holds_at(head, kDotDotName, kDotDotField)) return FileKind::psu;
    if (holds_at(head, 0, kCardMagicText)) return card_form(file_size);
    if (holds_at(head, 0, kCodeBreakerMagic)) return FileKind::codebreaker;
    if (holds_at(head, 0, kSharkPortMagic)) return FileKind::sharkport;
    if (holds_at(head, 0, kPsvMagic)) return FileKind::psv;
    if (begins_as_manifest(head)) return FileKind::quilban_manifest;
    return FileKind::unknown;
}

const char* file_kind_phrase(FileKind kind)
{
    switch (kind) {
    case FileKind::psu: return "a PSU archive";
    case FileKind::max: return "a MAX archive";
    case FileKind::card_raw:
    case FileKind::card_coded: return "a card image";
    case FileKind::codebreaker: return "a CodeBreaker save";
    case FileKind::sharkport: return "a SharkPort/X-Port save";
    case FileKind::psv: return "a PS3 save";
    case FileKind::quilban_manifest: return "a QUILBAN manifest";
    case FileKind::unknown:
    case FileKind::count_: break;
    }
    return "not a save archive";
}

const char* file_kind_way_out(FileKind found, FileKindSet takes)
{
    if (found == FileKind::unknown || takes_kind(takes, found)) return "";
    if (takes_kind(takes, FileKind::psu)) {
        /* A tool that takes MAX archives is VARKON itself. */
        if (is_foreign_save(found)) return takes_kind(takes, FileKind::max) ? "" : "convert it with varkon first";
        if (is_card(found)) return "split it with sorvik first";
        if (found == FileKind::quilban_manifest) return "rebuild its archive with quilban first";
        return "";
    }
    if (takes_kind(takes, FileKind::max)) return found == FileKind::psu ? "convert it with varkon first" : "";
    if ((takes & kTakesCard) != 0) {
        if (found == FileKind::psu) return "put it on a card with taviro first";
        if (is_foreign_save(found)) return "convert it with varkon, then put it on a card with taviro";
    }
    return "";
}

const char* describe_wrong_kind_in_window(FileKind found, FileKindSet takes, std::span<char> out)
{
    if (out.empty()) return out.data();
    size_t at = 0;
    put_text(out, &at, file_kind_phrase(found));
    if (const std::string_view way = file_kind_way_out(found, takes); !way.empty()) {
        put_text(out, &at, ": ");
        put_with_window_names(out, &at, way);
    }
    out[at] = '\0';
    return out.data();
}

const char* describe_wrong_kind(FileKind found, FileKindSet takes, std::span<char> out)
{
    if (out.empty()) return out.data();
    size_t at = 0;
    if (found != FileKind::unknown) {
        put_text(out, &at, file_kind_phrase(found));
        put_text(out, &at, ", ");
    }
    put_text(out, &at, "not ");
    put_takes_phrase(out, &at, takes);
    if (const std::string_view way = file_kind_way_out(found, takes); !way.empty()) {
        put_text(out, &at, " (");
        put_text(out, &at, way);
        put_text(out, &at, ")");
    }
    out[at] = '\0';
    return out.data();
}

} // namespace ps2
