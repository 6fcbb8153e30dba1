/* sorvik_handler.h -- SORVIK's file handler: one card image file split into a folder of PSU archives */
#pragma once

#include <cstdint>
#include <vector>

#include "cardsplit/cardsplit.h"
#include "common/platform.h"
#include "common/report.h"

namespace ps2 {

struct SplitFileResult {
    bool is_card = false;          /* read and recognised as a card image */
    bool folder_made = false;      /* the output folder exists */
    uint32_t entries = 0;          /* root entries from index 2 on */
    uint32_t written = 0;          /* archives written */
    uint32_t failed = 0;           /* root entries without an archive */
    uint32_t refused_names = 0;    /* of those, for an unsafe or taken name */
    uint32_t damaged = 0;          /* archives written with damage repaired */
    uint32_t up_to_date = 0;       /* archives already there with exactly these bytes */
    uint32_t kept = 0;             /* of the failed, files of other content the policy kept */
};

/* Splits one card image as if dropped on the window: reads the whole file,
 * checks the signature, drops the spare areas of a coded image, makes the
 * folder named after the image (its path cut at the extension point), reads
 * the option box once, then writes one archive per root entry from index 2
 * on (each through a temporary file, so a failed write leaves no partial
 * archive). Reports the folder and each archive as notes; an image that is
 * not a card, a folder that cannot be made and every entry not written as
 * errors; damage repaired in a written archive as an error (a warning for an
 * entry the card marks deleted). Nothing is created for a file that is not
 * a card image or when a buffer cannot be had. An archive of the same name in
 * the folder is dealt with as `outputs` says: the window replaces it; the
 * command line keeps one of other content unless --force is given. With a
 * converter for `names` (Linux), a Shift_JIS save name names its archive in
 * the user's character set (NamingRules::to_user), and the note says so. */
SplitFileResult split_card_image_file(const char* path, const OptionBox& option, const Reporter& report,
                                      plat::OutputPolicy outputs = plat::OutputPolicy::replace,
                                      const TextConverter& names = {});

/* As above with the two buffers given: card_buffer of kCodedImageSize bytes,
 * work_buffer of sizeof(SplitWork) bytes, both zero-filled. A buffer that
 * is missing (failed allocation) stops the image before anything is written. */
SplitFileResult split_card_image_with(const char* path, const OptionBox& option, const Reporter& report,
                                      plat::Block& card_buffer, plat::Block& work_buffer,
                                      plat::OutputPolicy outputs = plat::OutputPolicy::replace,
                                      const TextConverter& names = {});

struct CardListing {
    CardRoot root;
    std::vector<ListedEntry> entries; /* root entries from index 2 on */
};

/* Reads and recognises a card image like the splitter and describes its
 * root entries; writes nothing. False (reported) when the file cannot be
 * read or is not a card image. */
[[nodiscard]] bool list_card_image_file(const char* path, const Reporter& report, CardListing* out);

} // namespace ps2
