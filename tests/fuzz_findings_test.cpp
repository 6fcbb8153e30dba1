/* fuzz_findings_test.cpp -- what the fuzz targets found, kept as regression cases */
#include <gtest/gtest.h>

#include <string_view>

#include "common/paths.h"
#include "rename/maleto.h"

using namespace ps2;

/* maleto_names_fuzz: a title that is an empty view without data reached memcpy with a null source
 * (undefined behaviour, even for zero bytes) in PathBuffer::append. */
TEST(FuzzFindings, EmptyViewWithoutDataAppends)
{
    PathBuffer p;
    ASSERT_TRUE(p.assign("C:\\saves\\x.psu"));
    EXPECT_TRUE(p.append(nullptr, 0));
    EXPECT_STREQ(p.c_str(), "C:\\saves\\x.psu");

    PathBuffer out;
    size_t name_at = 0;
    ASSERT_EQ(format_new_path("C:\\saves\\x.psu", "BASLUS-20001", std::string_view(), kWindowsShiftJisRules, &out,
                              &name_at),
              MaletoError::ok);
    EXPECT_STREQ(out.c_str() + name_at, "BASLUS-20001-[].psu");
}
