// The sorters on 1,000,000 keys: add every key, sort, walk the result in order. The peer in
// the same run is std::sort over the same items with the same comparison (key bytes, then
// record number).
//
//   sorter_bench [google benchmark flags]
//
// Keys: 10 random capital letters (a name index), record numbers 1..1,000,000, hash 0,
// default buckets (first key byte). The outer sorters use their defaults: 32,768 items per
// inner AVL sorter (31 runs), 65,536-byte buffers, files in the system temporary directory.
//
// Every benchmark also reports peak_MB: the peak resident memory of one add-sort-walk run in
// a child process, less that of a child that only holds the keys (fork + wait4 ru_maxrss).
// The children are run before any benchmark, while the parent holds nothing but the keys, so
// that no heap memory freed by an earlier run is reused unseen.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "index/HXMergeSorters.h"

using namespace zarbel;

namespace {

constexpr int kKeys = 1000000;
constexpr int kKeySize = 10;

const std::vector<std::uint8_t>& Keys() {
    static const std::vector<std::uint8_t> keys = [] {
        std::vector<std::uint8_t> k(std::size_t{kKeys} * kKeySize);
        std::mt19937 rng(12345);
        for (auto& c : k) c = static_cast<std::uint8_t>('A' + rng() % 26);
        return k;
    }();
    return keys;
}

// Peak resident kilobytes of a child process running f.
long ChildPeakKb(const std::function<void()>& f) {
    const pid_t pid = fork();
    if (pid == 0) {
        f();
        _exit(0);
    }
    int status = 0;
    struct rusage ru {};
    if (pid < 0 || wait4(pid, &status, 0, &ru) < 0) return -1;
    return ru.ru_maxrss;
}

std::uint64_t SortWithSorter(THXSorterClass c);
std::uint64_t SortWithStdSort();

// Peak megabytes of std::sort (index 0) and of each sorter class (1 + class).
double g_peakMb[1 + sc8PathMerge + 1];

void MeasurePeaks() {
    const long base = ChildPeakKb([] {});
    g_peakMb[0] = static_cast<double>(ChildPeakKb([] { benchmark::DoNotOptimize(SortWithStdSort()); }) - base) / 1024.0;
    for (int c = scQuick; c <= sc8PathMerge; ++c)
        g_peakMb[1 + c] = static_cast<double>(ChildPeakKb([c] {
                              benchmark::DoNotOptimize(SortWithSorter(static_cast<THXSorterClass>(c)));
                          }) - base) / 1024.0;
}

std::uint64_t SortWithSorter(THXSorterClass c) {
    const auto& keys = Keys();
    THXSorterParams p;
    p.Capacity = kKeys;
    p.KeySize = kKeySize;
    auto s = CreateSorter(c, p);
    for (int i = 0; i < kKeys; ++i)
        s->Add(0, static_cast<std::uint32_t>(i + 1), keys.data() + static_cast<std::size_t>(i) * kKeySize);
    s->Sort();
    std::uint64_t sum = 0, pos = 0;
    for (bool end = s->First(); !end; end = s->Next()) sum += s->Current().RecNo() * ++pos;
    return sum;
}

struct TItem {
    std::int32_t Hash;
    std::uint32_t RecNo;
    std::uint8_t Key[kKeySize];
};

std::uint64_t SortWithStdSort() {
    const auto& keys = Keys();
    const THXKeyOrder order;
    std::vector<TItem> items(kKeys);
    for (int i = 0; i < kKeys; ++i) {
        items[i].Hash = 0;
        items[i].RecNo = static_cast<std::uint32_t>(i + 1);
        std::memcpy(items[i].Key, keys.data() + static_cast<std::size_t>(i) * kKeySize, kKeySize);
    }
    std::sort(items.begin(), items.end(), [&](const TItem& a, const TItem& b) {
        const int c = THXKeyOrder::CompareKeys(&order, a.Key, b.Key, kKeySize);
        return c != 0 ? c < 0 : a.RecNo < b.RecNo;
    });
    std::uint64_t sum = 0, pos = 0;
    for (const TItem& it : items) sum += it.RecNo * ++pos;
    return sum;
}

void BM_StdSort(benchmark::State& state) {
    Keys();
    state.counters["peak_MB"] = g_peakMb[0];
    for (auto _ : state) benchmark::DoNotOptimize(SortWithStdSort());
    state.SetItemsProcessed(state.iterations() * kKeys);
}

void BM_Sorter(benchmark::State& state) {
    const auto c = static_cast<THXSorterClass>(state.range(0));
    state.SetLabel(SorterClassName(c));
    Keys();
    const std::uint64_t expected = SortWithStdSort();
    state.counters["peak_MB"] = g_peakMb[1 + c];
    for (auto _ : state) {
        const std::uint64_t got = SortWithSorter(c);
        if (got != expected) state.SkipWithError("the sorter's order differs from std::sort's");
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}

}  // namespace

BENCHMARK(BM_StdSort)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Sorter)
    ->DenseRange(scQuick, sc8PathMerge)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Keys();
    MeasurePeaks();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
