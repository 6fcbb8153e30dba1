/* cardbuild_list_test.cpp -- the list's compare and sorts (against the literal exchange sort), the Edit commands */
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cardbuild/filelist.h"

using namespace ps2;

namespace {

/* The sort as the list window defines it: passes over neighbours, swapping
 * A (at j - 1) and B (at j) when compare(A, B) equals the direction. */
std::vector<std::string> exchange_sort(std::vector<std::string> v, SortOrder order)
{
    for (size_t n = v.size(); n > 1; --n)
        for (size_t j = 1; j < n; ++j)
            if (compare_list_texts(v[j - 1].c_str(), v[j].c_str()) == int(order)) std::swap(v[j - 1], v[j]);
    return v;
}

std::vector<std::string> permuted(const std::vector<std::string>& v, const std::vector<size_t>& perm)
{
    std::vector<std::string> out;
    for (size_t i : perm) out.push_back(v[i]);
    return out;
}

} // namespace

TEST(FileListOrder, CompareFoldsOnlyLowerCaseLetters)
{
    struct {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"c:\\saves\\b.psu", "C:\\SAVES\\C.PSU", -1},
        {"a.psu", "A.PSU", 0},
        {"_", "Z", 1},          /* 0x5F after every letter, lower case counted as upper */
        {"_", "z", 1},
        {"abc", "abcd", -1},    /* a text that ends first comes first */
        {"", "", 0},
        {"\x81\x40", "\x81\x60", -1}, /* bytes above 0x7F as unsigned values, unfolded */
        {"\xE0", "a", 1},
        {"[", "a", 1},          /* 0x5B after "A" (0x41) */
        {"`", "A", 1},          /* 0x60 is not folded */
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compare_list_texts(c.a, c.b), c.expected) << c.a << " / " << c.b;
        EXPECT_EQ(compare_list_texts(c.b, c.a), -c.expected) << c.b << " / " << c.a;
    }
}

TEST(FileListOrder, SortEqualsTheExchangeSortAndIsStable)
{
    const std::vector<std::string> fixed = {"b.psu", "A.PSU", "a.psu", "C:\\x", "c:\\X", "_z", "", "a"};
    for (SortOrder o : {SortOrder::ascending, SortOrder::descending})
        EXPECT_EQ(permuted(fixed, sorted_order(fixed, o)), exchange_sort(fixed, o));
    EXPECT_EQ(permuted(fixed, sorted_order(fixed, SortOrder::ascending)),
              (std::vector<std::string>{"", "a", "A.PSU", "a.psu", "b.psu", "C:\\x", "c:\\X", "_z"}));

    std::mt19937 rng(5);
    const char alphabet[] = "aAbB_.\\z\x81";
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> v(rng() % 12);
        for (auto& s : v) {
            const size_t len = rng() % 4;
            for (size_t k = 0; k < len; ++k) s += alphabet[rng() % (sizeof alphabet - 1)];
        }
        for (SortOrder o : {SortOrder::ascending, SortOrder::descending})
            ASSERT_EQ(permuted(v, sorted_order(v, o)), exchange_sort(v, o)) << round;
    }
    /* Empty and one-item lists stay as they are. */
    EXPECT_TRUE(sorted_order({}, SortOrder::ascending).empty());
    EXPECT_EQ(sorted_order({"x"}, SortOrder::descending), std::vector<size_t>{0});
}

TEST(FileListEdit, MoveDeleteClear)
{
    FileList l;
    for (const char* t : {"a", "b", "c"}) l.add(t);

    /* Nothing selected: nothing moves or goes. */
    move_selected_up(l);
    move_selected_down(l);
    delete_selected(l);
    EXPECT_EQ(l.items, (std::vector<std::string>{"a", "b", "c"}));

    l.select(0);
    move_selected_up(l); /* the first item cannot go up */
    EXPECT_EQ(l.items, (std::vector<std::string>{"a", "b", "c"}));
    move_selected_down(l);
    EXPECT_EQ(l.items, (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(l.selected(), 1);
    move_selected_down(l);
    EXPECT_EQ(l.items, (std::vector<std::string>{"b", "c", "a"}));
    EXPECT_EQ(l.selected(), 2);
    move_selected_down(l); /* the last item cannot go down */
    EXPECT_EQ(l.items, (std::vector<std::string>{"b", "c", "a"}));
    move_selected_up(l);
    EXPECT_EQ(l.items, (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(l.selected(), 1);

    delete_selected(l);
    EXPECT_EQ(l.items, (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(l.selected(), -1); /* nothing selected in its place */

    l.add("b"); /* duplicates are allowed */
    l.select(2);
    l.sort(SortOrder::descending);
    EXPECT_EQ(l.items, (std::vector<std::string>{"c", "b", "b"}));
    EXPECT_EQ(l.selected(), 2); /* the selected item keeps its selection */

    clear_list(l);
    EXPECT_TRUE(l.items.empty());
    EXPECT_EQ(l.selected(), -1);
}
