// THXQuickSorter: items kept in arrival order, the index array sorted once by Sort.
#pragma once
#include "index/HXSorter.h"

namespace zarbel {

class THXQuickSorter : public THXMemorySorter {
public:
    explicit THXQuickSorter(const THXSorterParams& p) : THXMemorySorter(p) {}
    // Sorts the index array (quicksort, median of three, insertion sort for short ranges, the
    // larger part kept on an explicit stack so that its depth stays logarithmic). With Unique,
    // equal keys after the first are dropped here and no longer counted.
    void SortItems() override;
    const char* ClassName() const override { return "THXQuickSorter"; }

protected:
    bool Link(std::uint32_t) override { return true; }
    void ClearLinks() override {}
};

}  // namespace zarbel
