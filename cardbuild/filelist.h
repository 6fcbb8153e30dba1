/* filelist.h -- the ordered list of paths a card is built from, and its Edit commands
 *
 * The commands are written once, as templates over a list with these members:
 *   size_t count() const;  std::string text(size_t i) const;
 *   void remove(size_t i);  void insert(size_t i, const std::string& text);
 *   int selected() const;   void select(int i);      (-1: no selection)
 * FileList below is the list in memory (the CLI, tests); the window passes an
 * adapter over its list box, whose removes and inserts move the selection
 * the same way FileList's do. */
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ps2 {

enum class SortOrder : int { ascending = 1, descending = -1 };

/* -1, 0 or +1: byte by byte as unsigned values, "a"-"z" counted as "A"-"Z",
 * every other byte as it is; a text that ends first comes first. */
int compare_list_texts(const char* a, const char* b);

/* The permutation that sorts the texts: result[k] is the index of the text
 * that goes to place k. Equal texts keep their order, so this is the order
 * that the exchange sort (passes swapping neighbours whose compare result
 * equals the direction) produces, in O(n log n). */
std::vector<size_t> sorted_order(const std::vector<std::string>& texts, SortOrder order);

struct FileList {
    std::vector<std::string> items;
    int selection = -1;

    size_t count() const { return items.size(); }
    std::string text(size_t i) const { return items[i]; }
    /* Removing the selected item leaves no selection; removing one above it moves it up. */
    void remove(size_t i);
    void insert(size_t i, const std::string& text);
    int selected() const { return selection; }
    void select(int i) { selection = (i >= 0 && size_t(i) < items.size()) ? i : -1; }

    void add(const std::string& text) { items.push_back(text); }
    /* Sorts, keeping the selected item selected. */
    void sort(SortOrder order);
};

/* Clear: every item, from the last to the first. */
template <class List>
void clear_list(List& list)
{
    for (size_t n = list.count(); n > 0; --n) list.remove(n - 1);
}

/* Delete: the selected item, if any; nothing is selected in its place. */
template <class List>
void delete_selected(List& list)
{
    const int s = list.selected();
    if (s >= 0 && size_t(s) < list.count()) list.remove(size_t(s));
}

/* Move up: the selected item changes places with the one above it and stays selected. */
template <class List>
void move_selected_up(List& list)
{
    const int s = list.selected();
    if (s < 1 || size_t(s) >= list.count()) return;
    const std::string t = list.text(size_t(s));
    list.remove(size_t(s));
    list.insert(size_t(s - 1), t);
    list.select(s - 1);
}

/* Move down: the selected item changes places with the one below it and stays selected. */
template <class List>
void move_selected_down(List& list)
{
    const int s = list.selected();
    if (s < 0 || size_t(s) + 1 >= list.count()) return;
    const std::string t = list.text(size_t(s));
    list.remove(size_t(s));
    list.insert(size_t(s + 1), t);
    list.select(s + 1);
}

} // namespace ps2
