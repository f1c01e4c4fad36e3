#include "index/HXQuickSorter.h"

#include <utility>

namespace zarbel {

void THXQuickSorter::SortItems() {
    std::uint32_t* a = Index();
    const std::int64_t n = Count_;
    auto less = [&](std::uint32_t x, std::uint32_t y) { return CompareItems(Item(x), Item(y)) < 0; };
    // Pending ranges [lo, hi]; each push holds the larger part, so 64 entries suffice.
    std::int64_t stack[128];
    int top = 0;
    std::int64_t lo = 0, hi = n - 1;
    for (;;) {
        while (hi - lo > 16) {
            const std::int64_t mid = lo + (hi - lo) / 2;
            if (less(a[mid], a[lo])) std::swap(a[mid], a[lo]);
            if (less(a[hi], a[lo])) std::swap(a[hi], a[lo]);
            if (less(a[hi], a[mid])) std::swap(a[hi], a[mid]);
            // a[lo] <= pivot <= a[hi]: both ends are sentinels for the scans.
            const std::uint32_t pivot = a[mid];
            std::int64_t i = lo, j = hi;
            for (;;) {
                do ++i; while (less(a[i], pivot));
                do --j; while (less(pivot, a[j]));
                if (i >= j) break;
                std::swap(a[i], a[j]);
            }
            // [lo, j] and [j+1, hi]; continue with the smaller.
            if (j - lo < hi - j) {
                stack[top++] = j + 1;
                stack[top++] = hi;
                hi = j;
            } else {
                stack[top++] = lo;
                stack[top++] = j;
                lo = j + 1;
            }
        }
        for (std::int64_t i = lo + 1; i <= hi; ++i) {
            const std::uint32_t v = a[i];
            std::int64_t j = i;
            for (; j > lo && less(v, a[j - 1]); --j) a[j] = a[j - 1];
            a[j] = v;
        }
        if (top == 0) break;
        hi = stack[--top];
        lo = stack[--top];
    }
    if (Unique_ && n > 1) {
        std::int64_t kept = 1;
        for (std::int64_t i = 1; i < n; ++i)
            if (!KeysEqual(Item(a[kept - 1]), Item(a[i]))) a[kept++] = a[i];
        Count_ = kept;
    }
}

}  // namespace zarbel
