/* samplegen_test.cpp -- generated samples are well-formed, deterministic and varied */
#include <gtest/gtest.h>

#include "common/psu.h"
#include "tools/samplegen.h"

using namespace ps2;

TEST(SampleGen, SavesWalkCleanly)
{
    size_t nested = 0;
    for (uint32_t seed = 1; seed <= 200; ++seed) {
        const auto s = samples::random_save(seed);
        const auto bytes = samples::build_save(s);
        std::vector<PsuNode> nodes;
        size_t end = 0;
        ASSERT_EQ(walk_psu_archive(bytes, &nodes, &end), PsuError::ok) << seed;
        for (const auto& n : nodes) nested += n.depth >= 1 && n.kind == PsuNodeKind::directory;
        EXPECT_EQ(samples::build_save(s), bytes); /* deterministic */
    }
    EXPECT_GT(nested, 0u);
}

TEST(SampleGen, DemoSavesHoldTheirTitle)
{
    for (const auto& s : samples::demo_saves()) {
        const auto bytes = samples::build_save(s);
        std::vector<PsuNode> nodes;
        size_t end = 0;
        ASSERT_EQ(walk_psu_archive(bytes, &nodes, &end), PsuError::ok) << s.name;
        EXPECT_EQ(psu_record_name(bytes.data()), s.name);
        bool found = false;
        for (const auto& n : nodes)
            if (n.kind == PsuNodeKind::file && n.data_length >= 0xC0 && std::memcmp(&bytes[n.data_offset], "PS2D", 4) == 0)
                found = std::string(reinterpret_cast<const char*>(&bytes[n.data_offset + 0xC0])) == s.title;
        EXPECT_TRUE(found) << s.name;
    }
}
