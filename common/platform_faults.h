/* platform_faults.h -- fault injection into the POSIX platform layer, for tests: make the Nth
 * open, read, write, flush, rename, folder creation or block allocation fail as the system would. */
#pragma once

#ifdef PS2_CORE
#error "core code includes no platform or front-end header: it works on bytes and returns codes (docs/ARCHITECTURE.md)"
#endif

#include <cstdint>

namespace ps2::plat::faults {

enum class Op : uint8_t {
    open,   /* opening a file for reading */
    read,   /* a read call */
    write,  /* creating an output's temporary file, or a write call (which then stops half-way) */
    rename, /* replacing an output by its temporary file, or renaming a file */
    folder, /* creating a folder */
    alloc,  /* obtaining a block */
    flush,  /* flushing a replacing output to the disk before its move (the old file stays) */
    count_
};

/* From now on, the nth call (1-based) of that kind fails; 0 disarms it.
 * Counting starts at the call of fail_nth. */
void fail_nth(Op op, unsigned n);
/* Disarms every fault and clears the counts. */
void reset();
/* Calls of that kind seen since the last reset. */
unsigned calls(Op op);

/* Used by the platform layer: counts a call and says whether it fails. */
bool hit(Op op);

} // namespace ps2::plat::faults
