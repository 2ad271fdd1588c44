// A stable sort for the detector's short lists (tens of entries) that, unlike std::stable_sort,
// allocates nothing: insertion by binary search, quadratic in the list's length.
#pragma once

#include <algorithm>
#include <iterator>

template <class Iterator, class Less>
void stable_sort_short(Iterator first, Iterator last, Less less)
{
    if (first == last) return;
    for (Iterator i = std::next(first); i != last; ++i) {
        // After every entry that does not come after it: equal entries keep their order.
        const Iterator place = std::upper_bound(first, i, *i, less);
        std::rotate(place, i, std::next(i));
    }
}
