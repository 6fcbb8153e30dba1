/* cbs_format.cpp -- the CodeBreaker save: header, RC4-scrambled zlib body, file records */
#include <zlib.h>

#include <cstring>

#include "maxconv/foreign_save.h"

namespace ps2 {

namespace {

/* ---- layout ---- */

namespace cbs_field {
constexpr size_t data_offset = 0x08;   /* u32: where the body starts (the header's length) */
constexpr size_t unpacked_size = 0x0C; /* u32: the inflated body's exact size */
constexpr size_t dir_name = 0x14;      /* 32 bytes */
constexpr size_t created = 0x34;
constexpr size_t modified = 0x3C;
constexpr size_t dir_mode = 0x48;      /* u32; 0 from some writers */
constexpr size_t end = 0x5C;           /* the fields read here end before the title */
} // namespace cbs_field

/* A file record of the inflated body: the head, then size bytes of data, no padding. */
namespace cbs_record {
constexpr size_t created = 0x00;
constexpr size_t modified = 0x08;
constexpr size_t size = 0x10;
constexpr size_t mode = 0x14;
constexpr size_t name = 0x20; /* 32 bytes */
constexpr size_t head = 0x40;
} // namespace cbs_record

/* The body's RC4 state: the permutation itself, used without a key schedule. */
constexpr uint8_t kRc4State[256] = {
    0x5F, 0x1F, 0x85, 0x6F, 0x31, 0xAA, 0x3B, 0x18, 0x21, 0xB9, 0xCE, 0x1C, 0x07, 0x4C, 0x9C, 0xB4, 0x81, 0xB8, 0xEF, 0x98,
    0x59, 0xAE, 0xF9, 0x26, 0xE3, 0x80, 0xA3, 0x29, 0x2D, 0x73, 0x51, 0x62, 0x7C, 0x64, 0x46, 0xF4, 0x34, 0x1A, 0xF6, 0xE1,
    0xBA, 0x3A, 0x0D, 0x82, 0x79, 0x0A, 0x5C, 0x16, 0x71, 0x49, 0x8E, 0xAC, 0x8C, 0x9F, 0x35, 0x19, 0x45, 0x94, 0x3F, 0x56,
    0x0C, 0x91, 0x00, 0x0B, 0xD7, 0xB0, 0xDD, 0x39, 0x66, 0xA1, 0x76, 0x52, 0x13, 0x57, 0xF3, 0xBB, 0x4E, 0xE5, 0xDC, 0xF0,
    0x65, 0x84, 0xB2, 0xD6, 0xDF, 0x15, 0x3C, 0x63, 0x1D, 0x89, 0x14, 0xBD, 0xD2, 0x36, 0xFE, 0xB1, 0xCA, 0x8B, 0xA4, 0xC6,
    0x9E, 0x67, 0x47, 0x37, 0x42, 0x6D, 0x6A, 0x03, 0x92, 0x70, 0x05, 0x7D, 0x96, 0x2F, 0x40, 0x90, 0xC4, 0xF1, 0x3E, 0x3D,
    0x01, 0xF7, 0x68, 0x1E, 0xC3, 0xFC, 0x72, 0xB5, 0x54, 0xCF, 0xE7, 0x41, 0xE4, 0x4D, 0x83, 0x55, 0x12, 0x22, 0x09, 0x78,
    0xFA, 0xDE, 0xA7, 0x06, 0x08, 0x23, 0xBF, 0x0F, 0xCC, 0xC1, 0x97, 0x61, 0xC5, 0x4A, 0xE6, 0xA0, 0x11, 0xC2, 0xEA, 0x74,
    0x02, 0x87, 0xD5, 0xD1, 0x9D, 0xB7, 0x7E, 0x38, 0x60, 0x53, 0x95, 0x8D, 0x25, 0x77, 0x10, 0x5E, 0x9B, 0x7F, 0xD8, 0x6E,
    0xDA, 0xA2, 0x2E, 0x20, 0x4F, 0xCD, 0x8F, 0xCB, 0xBE, 0x5A, 0xE0, 0xED, 0x2C, 0x9A, 0xD4, 0xE2, 0xAF, 0xD0, 0xA9, 0xE8,
    0xAD, 0x7A, 0xBC, 0xA8, 0xF2, 0xEE, 0xEB, 0xF5, 0xA6, 0x99, 0x28, 0x24, 0x6C, 0x2B, 0x75, 0x5D, 0xF8, 0xD3, 0x86, 0x17,
    0xFB, 0xC0, 0x7B, 0xB3, 0x58, 0xDB, 0xC7, 0x4B, 0xFF, 0x04, 0x50, 0xE9, 0x88, 0x69, 0xC9, 0x2A, 0xAB, 0xFD, 0x5B, 0x1B,
    0x8A, 0xD9, 0xEC, 0x27, 0x44, 0x0E, 0x33, 0xC8, 0x6B, 0x93, 0x32, 0x48, 0xB6, 0x30, 0x43, 0xA5,
};

/* The keystream over the whole body, one piece after the other. */
class Rc4 {
public:
    Rc4() { std::memcpy(s_, kRc4State, sizeof s_); }
    void apply(const uint8_t* in, uint8_t* out, size_t n)
    {
        for (size_t k = 0; k < n; ++k) {
            i_ = uint8_t(i_ + 1);
            j_ = uint8_t(j_ + s_[i_]);
            const uint8_t t = s_[i_];
            s_[i_] = s_[j_];
            s_[j_] = t;
            out[k] = in[k] ^ s_[uint8_t(s_[i_] + s_[j_])];
        }
    }

private:
    uint8_t s_[256];
    uint8_t i_ = 0, j_ = 0;
};

/* zlib's memory for one inflate (its state and the 32 KiB window) from a fixed arena on the stack:
 * nothing beyond the caller's buffers comes from the heap. */
class InflateArena {
public:
    static voidpf take(voidpf opaque, uInt items, uInt size)
    {
        auto* a = static_cast<InflateArena*>(opaque);
        const uint64_t n = (uint64_t(items) * size + 15) & ~uint64_t(15);
        if (n > sizeof a->bytes_ - a->used_) return Z_NULL;
        void* p = a->bytes_ + a->used_;
        a->used_ += size_t(n);
        return p;
    }
    static void give_back(voidpf, voidpf) {} /* released with the arena */

private:
    alignas(16) unsigned char bytes_[64 * 1024];
    size_t used_ = 0;
};

constexpr size_t kPieceSize = 4096;

struct InflateResult {
    ForeignError damage = ForeignError::ok;
    size_t produced = 0;  /* bytes in the body, at most its size */
    size_t unread = 0;    /* body bytes behind the end of the stream */
};

/* Decrypts the body piece by piece and inflates it into out, never writing past out: the stream must
 * end with exactly out.size() bytes. A stream that would give more is stopped at the first byte over. */
ForeignError inflate_body(std::span<const uint8_t> body, std::span<uint8_t> out, InflateResult* r)
{
    *r = InflateResult{};
    InflateArena arena;
    z_stream z{};
    z.zalloc = &InflateArena::take;
    z.zfree = &InflateArena::give_back;
    z.opaque = &arena;
    if (inflateInit(&z) != Z_OK) return ForeignError::no_memory;

    Rc4 rc4;
    uint8_t piece[kPieceSize];
    uint8_t over = 0;           /* where a byte beyond out.size() would go */
    size_t fed = 0;             /* body bytes decrypted so far */
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    bool into_over = out.empty();
    if (into_over) {
        z.next_out = &over;
        z.avail_out = 1;
    }
    for (;;) {
        if (z.avail_in == 0 && fed < body.size()) {
            const size_t n = body.size() - fed < kPieceSize ? body.size() - fed : kPieceSize;
            rc4.apply(body.data() + fed, piece, n);
            fed += n;
            z.next_in = piece;
            z.avail_in = uInt(n);
        }
        const int ret = inflate(&z, Z_NO_FLUSH);
        if (ret == Z_STREAM_END) {
            if (into_over && z.avail_out == 0) r->damage = ForeignError::cbs_stream_long; /* its last byte over */
            break;
        }
        if (ret == Z_MEM_ERROR) {
            inflateEnd(&z);
            return ForeignError::no_memory;
        }
        if (ret != Z_OK && ret != Z_BUF_ERROR) { /* bad data, a dictionary asked for */
            r->damage = ForeignError::cbs_stream_damaged;
            break;
        }
        if (into_over && z.avail_out == 0) {
            r->damage = ForeignError::cbs_stream_long;
            break;
        }
        if (!into_over && z.avail_out == 0) { /* full: the stream must end without a further byte */
            into_over = true;
            z.next_out = &over;
            z.avail_out = 1;
            continue;
        }
        if (z.avail_in == 0 && fed == body.size()) {
            r->damage = ForeignError::cbs_stream_cut;
            break;
        }
    }
    const size_t total = size_t(z.total_out);
    r->produced = total < out.size() ? total : out.size();
    if (r->damage == ForeignError::ok) {
        r->unread = z.avail_in + (body.size() - fed);
        if (r->produced < out.size()) r->damage = ForeignError::cbs_stream_short;
    }
    inflateEnd(&z);
    return ForeignError::ok;
}

/* The first two bytes decrypted: a zlib header (deflate, a window zlib takes, the check bits right). */
bool starts_as_zlib(std::span<const uint8_t> body)
{
    if (body.size() < 2) return false;
    uint8_t h[2];
    Rc4().apply(body.data(), h, 2);
    return (h[0] & 0x0F) == 8 && (h[0] >> 4) <= 7 && (uint32_t(h[0]) << 8 | h[1]) % 31 == 0;
}

} // namespace

ForeignError read_cbs_save(std::span<const uint8_t> file, std::span<uint8_t> body, std::span<ForeignFile> files,
                           ForeignSave* save)
{
    begin_foreign_save(save, ForeignFormat::codebreaker, files);
    if (file.size() < cbs_field::end) return ForeignError::cbs_header_cut;
    const uint8_t* h = file.data();
    const uint32_t data_offset = load_u32le(h + cbs_field::data_offset);
    const uint32_t unpacked = load_u32le(h + cbs_field::unpacked_size);
    save->unpacked_size = unpacked;
    save->created = load_time(h + cbs_field::created);
    save->modified = load_time(h + cbs_field::modified);
    save->dir_mode = load_u32le(h + cbs_field::dir_mode);
    if (const ForeignError e = take_dir_name(save, text_field(h + cbs_field::dir_name, kPsuNameSize)); e != ForeignError::ok)
        return e;
    if (data_offset < cbs_field::end || data_offset > file.size()) return ForeignError::cbs_bad_data_offset;
    if (unpacked > kInflateLimit) return ForeignError::cbs_zip_bomb;
    if (unpacked > body.size()) return ForeignError::cbs_body_too_large;

    /* The body runs to the end of the file; packed_size differs between writers and is not used. */
    const std::span<const uint8_t> packed = file.subspan(data_offset);
    if (!starts_as_zlib(packed)) return ForeignError::cbs_not_zlib;
    InflateResult inflated;
    if (const ForeignError e = inflate_body(packed, body.first(unpacked), &inflated); e != ForeignError::ok) return e;
    save->damage = inflated.damage;
    save->inflated_size = inflated.produced;
    save->trailing_bytes = inflated.unread;

    /* The records fill the body exactly; each is whole only when all of its data is there. */
    ByteCursor cur(body.first(inflated.produced));
    while (cur.remaining() > 0) {
        std::span<const uint8_t> head;
        if (!cur.take(cbs_record::head, &head)) {
            if (save->damage == ForeignError::ok) save->damage = ForeignError::cbs_record_cut;
            break;
        }
        ForeignFile f;
        f.created = load_time(head.data() + cbs_record::created);
        f.modified = load_time(head.data() + cbs_record::modified);
        f.size = load_u32le(head.data() + cbs_record::size);
        f.mode = load_u32le(head.data() + cbs_record::mode);
        f.name = text_field(head.data() + cbs_record::name, kPsuNameSize);
        f.fault = check_file_mode(f.mode);
        if (f.fault == ForeignError::ok) f.fault = check_save_name(f.name);
        const bool whole = cur.take(f.size, &f.data);
        if (!whole) {
            (void)cur.take(cur.remaining(), &f.data);
            f.fault = ForeignError::data_cut;
            if (save->damage == ForeignError::ok) save->damage = ForeignError::cbs_record_cut;
        }
        if (const ForeignError e = add_foreign_file(save, files, f); e != ForeignError::ok) return e;
        if (!whole) break;
    }
    save->files_stated = save->file_count;
    return ForeignError::ok;
}

} // namespace ps2
