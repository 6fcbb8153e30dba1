/* hardening_bounds_test.cpp -- bounds and quirks of bad input that no other test pins down */
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "rename/maleto_handler.h"
#include "tests/test_support.h"
#include "unpack/quilban_handler.h"

using namespace ps2;
using namespace ps2::test;

/* QUILBAN takes no file over 64 MiB (a card holds 8 MB): refused before anything is read or made. */
TEST(Bounds, QuilbanRefusesInputsOver64MiB)
{
    TempDir d("bounds");
    put(d / "big.psu", std::string_view("x"));
    std::filesystem::resize_file(d / "big.psu", kQuilbanInputLimit + 1); /* sparse */
    ReportLog log;
    EXPECT_FALSE(handle_quilban_file((d / "big.psu").c_str(), OptionBox::fixed(false), log.reporter()));
    EXPECT_TRUE(log.has(Severity::error, "the archive is too large (67108865 bytes, at most 67108864 are taken)"))
        << log.all();
    EXPECT_EQ(d.names(), std::vector<std::string>{"big.psu"});
}

/* MALETO does not test that a file is a PSU archive: any file with a name at 0x40 and a "PS2D" block at a
 * multiple of 512 is renamed, as the format gives no other test. */
TEST(Bounds, MaletoRenamesAnyFileWithANameAndATitleBlock)
{
    TempDir d("bounds");
    Bytes bytes(2048, 'z');
    std::memcpy(bytes.data() + 0x40, "NOTASAVE\0", 9);
    std::memcpy(bytes.data() + 1024, "PS2D", 4);
    std::memcpy(bytes.data() + 1024 + 0xC0, "Odd\0", 4);
    put(d / "odd.bin", bytes);
    ReportLog log;
    EXPECT_EQ(maleto_rename_file((d / "odd.bin").c_str(), OptionBox::fixed(false), log.reporter(), kPosixRules),
              MaletoError::ok);
    EXPECT_EQ(d.names(), std::vector<std::string>{"NOTASAVE-[Odd].psu"});
    EXPECT_TRUE(get(d / "NOTASAVE-[Odd].psu") == bytes);
}
