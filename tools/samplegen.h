/* samplegen.h -- well-formed PSU archives of our own, deterministic from a seed (tests, benchmarks, demo) */
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ps2::samples {

/* What a member's bytes look like. */
enum class Fill : uint8_t {
    mixed,  /* zero runs, record-like structures, text and random blocks, as saves hold */
    zeros,
    text,
    random,
    icon,   /* an icon description: "PS2D" and the save's title at 0xC0 (964 bytes unless a size is given) */
};

struct Member {
    std::string name;          /* up to 32 bytes */
    uint32_t size = 0;
    Fill fill = Fill::mixed;
    bool is_directory = false; /* a nested directory holding `children` */
    std::vector<Member> children;
};

struct Save {
    std::string name;   /* the save directory's name, up to 32 bytes */
    std::string title;  /* the title for icon members, Shift_JIS bytes */
    std::vector<Member> members;
    uint32_t seed = 1;  /* contents, time stamps */
    bool card_fields = true; /* cluster / dir_entry / time stamps as an archive exported from a card has them */
    uint16_t file_mode = 0x8497; /* 0x8417 as made from nothing; 0x8497 as common in the wild */
};

/* The archive: top entry, ".", "..", members depth-first, data padded with zeros to 1024. */
std::vector<uint8_t> build_save(const Save& save);

/* An icon description of the given size (at least 0xC0 + 68): "PS2D", then the title at 0xC0, NUL-terminated. */
std::vector<uint8_t> make_icon_sys(const std::string& title, uint32_t size = 964);

/* A varied save from a seed: 1-8 members of sizes around the 1024 boundaries
 * and larger ones, an icon member, names of up to 32 bytes, sometimes an
 * empty file, sometimes a nested directory (when allow_nested). */
Save random_save(uint32_t seed, bool allow_nested = true, uint32_t max_member_size = 200000);

/* Bytes of the given fill, deterministic from the seed. */
std::vector<uint8_t> make_fill(Fill fill, uint32_t size, uint32_t seed);

/* The small set of samples shipped in samples/ and used by the demo. */
std::vector<Save> demo_saves();

} // namespace ps2::samples
