// Counts the heap allocations of a benchmark program, to show that a hot path allocates
// nothing. It replaces the global operator new, so exactly one source file of a program
// includes it.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

inline std::atomic<std::int64_t> g_allocations{0};

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
