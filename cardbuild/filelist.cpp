/* filelist.cpp -- the list's order: the case-folding byte compare and the stable sort */
#include "cardbuild/filelist.h"

#include <algorithm>
#include <numeric>

#include "common/paths.h"

namespace ps2 {

int compare_list_texts(const char* a, const char* b)
{
    const int d = compare_folded(a, b);
    return (d > 0) - (d < 0);
}

std::vector<size_t> sorted_order(const std::vector<std::string>& texts, SortOrder order)
{
    std::vector<size_t> perm(texts.size());
    std::iota(perm.begin(), perm.end(), size_t(0));
    const int dir = int(order);
    /* x goes before y when compare(y, x) equals the direction: exactly the
     * pairs the exchange sort swaps. Everything else keeps its order. */
    std::stable_sort(perm.begin(), perm.end(), [&](size_t x, size_t y) {
        return compare_list_texts(texts[y].c_str(), texts[x].c_str()) == dir;
    });
    return perm;
}

void FileList::remove(size_t i)
{
    if (i >= items.size()) return;
    items.erase(items.begin() + long(i));
    if (selection == int(i))
        selection = -1;
    else if (selection > int(i))
        --selection;
}

void FileList::insert(size_t i, const std::string& text)
{
    if (i > items.size()) i = items.size();
    items.insert(items.begin() + long(i), text);
    if (selection >= int(i)) ++selection;
}

void FileList::sort(SortOrder order)
{
    const std::vector<size_t> perm = sorted_order(items, order);
    std::vector<std::string> sorted;
    sorted.reserve(items.size());
    int new_selection = -1;
    for (size_t k = 0; k < perm.size(); ++k) {
        if (int(perm[k]) == selection) new_selection = int(k);
        sorted.push_back(std::move(items[perm[k]]));
    }
    items = std::move(sorted);
    selection = new_selection;
}

} // namespace ps2
