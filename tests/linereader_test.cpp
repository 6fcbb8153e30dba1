/* linereader_test.cpp -- the 1023-byte line window: terminators, NUL, long lines */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/linereader.h"

using namespace ps2;

namespace {

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> out;
    LineReader r(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    std::string_view line;
    while (r.next(&line)) out.emplace_back(line);
    return out;
}

} // namespace

TEST(LineReader, Terminators)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(lines_of("a\r\nb\r\n"), (V{"a", "b"}));
    EXPECT_EQ(lines_of("a\nb\n"), (V{"a", "b"}));
    EXPECT_EQ(lines_of("a\rb\r"), (V{"a", "b"}));
    EXPECT_EQ(lines_of("a\r\rb"), (V{"a", "", "b"}));
    EXPECT_EQ(lines_of("a\n\r\nb"), (V{"a", "", "b"}));
    EXPECT_EQ(lines_of("last"), (V{"last"}));
    EXPECT_EQ(lines_of(""), V{});
    EXPECT_EQ(lines_of("\r\n"), (V{""}));
}

TEST(LineReader, NulEndsTheText)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(lines_of(std::string("ab\0cd\nef\n", 9)), (V{"ab"}));
    EXPECT_EQ(lines_of(std::string("ab\n\0cd\n", 7)), (V{"ab"}));
}

TEST(LineReader, WindowOf1023Bytes)
{
    const std::string l1021(1021, 'x'), l1022(1022, 'y'), l1030(1030, 'z');
    auto a = lines_of(l1021 + "\r\nnext\r\n");
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[0], l1021);
    /* 1022 characters: the CR is the window's last byte, so its LF is an empty line. */
    auto b = lines_of(l1022 + "\r\nnext\r\n");
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(b[0], l1022);
    EXPECT_EQ(b[1], "");
    EXPECT_EQ(b[2], "next");
    /* Longer: the first 1023 bytes form one line, the rest another. */
    auto c = lines_of(l1030 + "\r\n");
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].size(), 1023u);
    EXPECT_EQ(c[1].size(), 7u);
}
