/* sorvik_handler.h -- SORVIK's file handler: one card image file split into a folder of PSU archives, listed, or
 * checked */
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "card/cardscan.h"
#include "card/ecc.h"
#include "cardsplit/cardsplit.h"
#include "common/platform.h"
#include "common/report.h"

namespace ps2 {

struct SplitFileResult {
    bool is_card = false;          /* read and recognised as a card image */
    bool folder_made = false;      /* the output folder exists */
    uint32_t entries = 0;          /* root entries from index 2 on */
    uint32_t written = 0;          /* archives written */
    uint32_t failed = 0;           /* live root entries without an archive */
    uint32_t refused_names = 0;    /* of those, for an unsafe or taken name */
    uint32_t damaged = 0;          /* archives of live entries written with damage repaired */
    uint32_t recovered = 0;        /* archives of entries the card marks deleted */
    uint32_t deleted_not_written = 0; /* deleted entries that gave no archive (a note each) */
    uint32_t corrected_pages = 0;  /* pages with a flipped bit mended by their code */
    uint32_t uncorrectable_pages = 0;
    uint32_t up_to_date = 0;       /* archives already there with exactly these bytes */
    uint32_t kept = 0;             /* of the failed, files of other content the policy kept */
};

/* Splits one card image as if dropped on the window: reads the whole file,
 * checks the signature, takes the layout from the superblock (or the fixed
 * 8 MB map), checks the page codes of a coded image and drops its spare
 * areas, makes the folder named after the image (its path cut at the
 * extension point), reads the option box once, then writes one archive per
 * root entry from index 2 on (each through a temporary file, so a failed
 * write leaves no partial archive). Reports the folder and each archive as
 * notes; an image that is not a card, a folder that cannot be made, every
 * live entry not written and damage in a live entry's archive as errors
 * (each damaged archive by its name, too); an image of an unexpected size
 * as a warning; entries marked deleted, mended page codes and what was
 * recovered as notes. Nothing is created for a file that is not a card
 * image or when a buffer cannot be had. An archive of the same name in
 * the folder is dealt with as `outputs` says: the window replaces it; the
 * command line keeps one of other content unless --force is given. With a
 * converter for `names` (Linux), a Shift_JIS save name names its archive in
 * the user's character set (NamingRules::to_user), and the note says so. */
SplitFileResult split_card_image_file(const char* path, const OptionBox& option, const Reporter& report,
                                      plat::OutputPolicy outputs = plat::OutputPolicy::replace,
                                      const TextConverter& names = {});

/* As above with the two buffers given: card_buffer of at least
 * kCodedImageSize bytes (a larger card gets a buffer of its own), work_buffer
 * of split_work_size() bytes for the card's geometry, both zero-filled. A
 * buffer that is missing (failed allocation) or too small stops the image
 * before anything is written. */
SplitFileResult split_card_image_with(const char* path, const OptionBox& option, const Reporter& report,
                                      plat::Block& card_buffer, plat::Block& work_buffer,
                                      plat::OutputPolicy outputs = plat::OutputPolicy::replace,
                                      const TextConverter& names = {});

struct CardListing {
    CardLayout layout;
    CardRoot root;
    std::vector<ListedEntry> entries; /* root entries from index 2 on */
};

/* Reads and recognises a card image like the splitter and describes its
 * root entries; writes nothing. False (reported) when the file cannot be
 * read or is not a card image. */
[[nodiscard]] bool list_card_image_file(const char* path, const Reporter& report, CardListing* out);

/* "8 MB card with spare areas (8,650,752 bytes)" and, for any but the
 * standard layout, where its parts stand. */
std::string describe_card(const CardLayout& layout, bool always_layout);

/* One save as the health check found it. */
struct SaveHealth {
    uint32_t index = 0;
    uint16_t mode = 0;
    std::string name;
    SplitError error = SplitError::ok; /* no archive could be built */
    BuiltArchive built;
    uint64_t bytes = 0; /* the archive's size */
};

/* "sound", "damaged: 1 file cut ...", "recoverable whole: 5 files", "not recoverable: ...". */
std::string describe_save_health(const SaveHealth& s);

/* The health of a card: its layout, the FAT against the live tree, the page
 * codes, and every save with its state. */
struct CardHealth {
    CardLayout layout;
    EccReport ecc;
    uint32_t ecc_damage = 0; /* uncorrectable pages in the superblock, the FAT or clusters in use */
    CardScan scan;
    CardRoot root;
    std::vector<SaveHealth> saves;
    std::vector<std::string> lines; /* the report, one line each */
    bool clean = false;
};

/* Checks a card image and writes nothing. False (reported) when the file
 * cannot be read or is not a card image. */
[[nodiscard]] bool check_card_image_file(const char* path, const Reporter& report, CardHealth* out);

} // namespace ps2
