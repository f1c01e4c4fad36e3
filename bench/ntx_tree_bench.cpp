// The NTX B-tree on its own: 1,000,000 adds into one index file on disk, with one update per
// key (a shared writer: every key ends with its pages and header written) and with one update
// for all of them (a writer that keeps the others out), at the automatic cache limit and
// unlimited; then seeks per second and a full walk
// in keys per second, with the default (automatic) cache and with lbtLimited 8 blocks; and
// beside them Perl XBase (libdbd-xbase-perl) walking the same file in the same run.
//
//   ntx_tree_bench [google benchmark flags]
//
// Keys: 10 bytes, the decimal text of a pseudo-random number below 10^9 (many pages, few
// duplicates), record numbers 1..1,000,000. The file goes to $ZARBEL_BENCH_DIR (default: the
// system temporary directory) and is removed at the end. Times are wall-clock times; the
// allocs counters count heap allocations (operator new) per key or seek, blocks of the page
// cache included.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "alloc_count.h"
#include "bench_rows.h"
#include "engine/HXDBFPrx.h"
#include "index/HXNTXTree.h"

using namespace zarbel;

namespace {

constexpr int kKeys = 1000000;
constexpr int kSeeks = 200000;

std::string Path(const char* what) {
    return bench::BenchDir() + "/zarbel_ntx_bench_" + what + "_" + std::to_string(::getpid()) + ".ntx";
}

const std::vector<std::string>& Keys() {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> k;
        k.reserve(kKeys);
        std::mt19937 rng(12345);
        char buf[16];
        for (int i = 0; i < kKeys; ++i) {
            std::snprintf(buf, sizeof buf, "%010u", static_cast<unsigned>(rng() % 1000000000u));
            k.emplace_back(buf, 10);
        }
        return k;
    }();
    return keys;
}

const std::uint8_t* U(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

void Create(TProxyStream& s, const std::string& path) {
    std::remove(path.c_str());
    s.SetFileName(path);
    s.CreateProxyStream();
    TNTXHeader h;
    h.InitNew(v500, 10, 0, "KEY", "", false, false, "BENCH");
    THXNTXTree::CreateEmpty(s, h, nullptr);
    s.Close();
    s.AccessMode().SetAccessMode(TAccessMode::kOpenReadWrite | TAccessMode::kShareDenyNone);
    s.OpenProxyStream();
}

// mode 0: one update per key; 1: one update for all; 2: the same with lbtUnlimited.
void Fill(const std::string& path, int mode, benchmark::State* state) {
    const bool exclusive = mode != 0;
    TProxyStream s;
    Create(s, path);
    THXNTXTree t;
    std::string why;
    if (t.Open(s, nullptr, why) != TNTXOpenStatus::Ok) {
        if (state) state->SkipWithError("open failed");
        return;
    }
    t.Buffers().SetLimitType(mode == 2 ? lbtUnlimited : lbtAuto);
    t.Buffers().ApplyAutoLimit(kKeys, t.Header().HalfPage);
    const auto& keys = Keys();
    if (exclusive) {
        t.SetGuardSignature(true);
        t.BeginUpdate();
        for (int i = 0; i < kKeys; ++i) t.AddKey(U(keys[i]), static_cast<std::uint32_t>(i + 1));
        t.EndUpdate();
    } else {
        for (int i = 0; i < kKeys; ++i) {
            t.BeginUpdate();
            t.AddKey(U(keys[i]), static_cast<std::uint32_t>(i + 1));
            t.EndUpdate();
        }
    }
}

bool g_readMade = false;

// The file every read benchmark uses, written once.
const std::string& ReadFile() {
    static const std::string path = [] {
        std::string p = Path("read");
        Fill(p, 1, nullptr);
        g_readMade = true;
        return p;
    }();
    return path;
}

void BM_Add(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    Keys();
    const std::string path = Path("add");
    const std::int64_t allocs = g_allocations.load();
    for (auto _ : state) Fill(path, mode, &state);
    state.counters["allocs/key"] =
        static_cast<double>(g_allocations.load() - allocs) / static_cast<double>(state.iterations() * kKeys);
    std::remove(path.c_str());
    state.SetItemsProcessed(state.iterations() * kKeys);
    state.SetLabel(mode == 0   ? "one update per key (shared), lbtAuto"
                   : mode == 1 ? "one update (exclusive), lbtAuto"
                               : "one update (exclusive), lbtUnlimited");
}

void OpenForRead(TProxyStream& s, THXNTXTree& t, bool limited) {
    s.SetFileName(ReadFile());
    s.AccessMode().SetAccessMode(TAccessMode::kShareDenyNone);
    s.OpenProxyStream();
    std::string why;
    t.Open(s, nullptr, why);
    if (limited) {
        t.Buffers().SetLimitType(lbtLimited);
        t.Buffers().SetLimitBuffers(8);
    } else {
        t.Buffers().SetLimitType(lbtAuto);
        t.Buffers().ApplyAutoLimit(kKeys, t.Header().HalfPage);
    }
}

void BM_Seek(benchmark::State& state) {
    const bool limited = state.range(0) == 1;
    TProxyStream s;
    THXNTXTree t;
    OpenForRead(s, t, limited);
    const auto& keys = Keys();
    std::mt19937 rng(99);
    std::vector<int> order(kSeeks);
    for (int& i : order) i = static_cast<int>(rng() % kKeys);
    THXNTXCursor c;
    std::int64_t found = 0;
    const std::int64_t allocs = g_allocations.load();
    for (auto _ : state)
        for (int i : order) found += t.Seek(c, U(keys[i]), 10, false) ? 1 : 0;
    state.counters["allocs/seek"] =
        static_cast<double>(g_allocations.load() - allocs) / static_cast<double>(state.iterations() * kSeeks);
    if (found != state.iterations() * kSeeks) state.SkipWithError("a key was not found");
    state.SetItemsProcessed(state.iterations() * kSeeks);
    state.SetLabel(limited ? "lbtLimited 8 blocks" : "lbtAuto (" + std::to_string(t.Buffers().LimitBuffers()) + " blocks)");
}

void BM_Walk(benchmark::State& state) {
    const bool limited = state.range(0) == 1;
    TProxyStream s;
    THXNTXTree t;
    OpenForRead(s, t, limited);
    std::int64_t n = 0;
    const std::int64_t allocs = g_allocations.load();
    for (auto _ : state) {
        THXNTXCursor c;
        for (bool on = t.First(c); on; on = t.Next(c)) ++n;
    }
    state.counters["allocs/key"] = static_cast<double>(g_allocations.load() - allocs) / static_cast<double>(n);
    if (n != state.iterations() * kKeys) state.SkipWithError("the walk missed keys");
    state.SetItemsProcessed(n);
    state.SetLabel(limited ? "lbtLimited 8 blocks" : "lbtAuto (" + std::to_string(t.Buffers().LimitBuffers()) + " blocks)");
}

// Perl XBase walking the same file: XBase::Index, prepare_select, fetch until the end.
void BM_PerlXBaseWalk(benchmark::State& state) {
    const std::string cmd = "perl -MXBase::Index -e '$i = XBase::Index->new($ARGV[0], type => \"char\") or die; "
                            "$i->prepare_select; $n = 0; $n++ while $i->fetch; print $n' " +
                            ReadFile() + " 2>/dev/null";
    std::int64_t n = 0;
    for (auto _ : state) {
        FILE* p = ::popen(cmd.c_str(), "r");
        if (!p) {
            state.SkipWithError("perl could not be started");
            return;
        }
        long got = 0;
        if (std::fscanf(p, "%ld", &got) != 1) got = 0;
        ::pclose(p);
        n += got;
    }
    if (n != state.iterations() * kKeys) {
        state.SkipWithError("Perl XBase (libdbd-xbase-perl) is missing or walked another number of keys");
        return;
    }
    state.SetItemsProcessed(n);
}

}  // namespace

BENCHMARK(BM_Add)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Seek)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Walk)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PerlXBaseWalk)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_readMade && !std::getenv("ZARBEL_BENCH_KEEP")) std::remove(ReadFile().c_str());
    return 0;
}
