// Appends to a table with one open NTX index (key: a C(10) field, values in random order),
// shared (read/write, deny none: every append locks, begins and ends an index update) and
// exclusive (the index stays in its update until close). Reports records per second for
// the whole run and for each half, and the second half's rate over the first's.
//
//   ntx_append_bench [records]                 (default 1,000,000; both modes)
//   ntx_append_bench --create TABLE NTX        (an empty table and its index)
//   ntx_append_bench --append TABLE NTX TAG N  (N appends, as one process of bench/ntx_stress.sh)
//   ntx_append_bench --check TABLE NTX         (VerifyIndex; prints records and distinct keys)
//
// The table goes to $ZARBEL_BENCH_DIR (default: the system temporary directory) and is
// removed afterwards.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "bench_rows.h"
#include "index/HXDBFNTX.h"
#include "platform/exception.h"

using namespace zarbel;

namespace {

constexpr std::uint32_t kShared = TAccessMode::kOpenReadWrite | TAccessMode::kShareDenyNone;
constexpr std::uint32_t kExclusive = TAccessMode::kOpenReadWrite | TAccessMode::kShareExclusive;

void CreateTable(const std::string& path) {
    THXDBFNTX t;
    t.SetDBFFileName(path);
    t.SetDbfVersion(xClipper);
    for (const char* n : {"NAME", "NOTE"}) {
        THXDBFFieldDef& d = t.DBFFieldDefs().Add();
        d.SetName(n);
        d.Setfield_type('C');
        d.Setlen(10);
    }
    t.CreateTable();
    t.Close();
}

void CreateIndex(const std::string& table, const std::string& ntx) {
    THXDBFNTX t;
    t.SetDBFFileName(table);
    t.Open();
    THXNTXIndex& ix = t.Indexes().Add();
    ix.SetNTXFileName(ntx);
    ix.SetKeyExpresion("NAME");
    ix.CreateIndex();
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

void Run(const std::string& dir, std::uint32_t mode, const char* label, long n) {
    const std::string table = dir + "/zarbel_ntx_append_" + std::to_string(::getpid()) + ".dbf";
    const std::string ntx = table.substr(0, table.size() - 4) + ".ntx";
    CreateTable(table);
    CreateIndex(table, ntx);
    THXDBFNTX t;
    t.SetDBFFileName(table);
    t.AccessMode().SetAccessMode(mode);
    t.SetFastPostRecord(true);
    THXNTXIndex& ix = t.Indexes().Add();
    ix.SetNTXFileName(ntx);
    t.Open();
    TField& name = t.FieldByName("NAME");
    char key[16];
    std::uint64_t x = 88172645463325252ull;
    const auto start = std::chrono::steady_clock::now();
    auto half = start;
    for (long i = 0; i < n; ++i) {
        if (i == n / 2) half = std::chrono::steady_clock::now();
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::snprintf(key, sizeof key, "%010llu", static_cast<unsigned long long>(x % 10000000000ull));
        t.Append();
        name.SetAsString(key);
        t.Post();
    }
    const auto end = std::chrono::steady_clock::now();
    t.Close();
    const double first = static_cast<double>(n / 2) / Seconds(start, half);
    const double second = static_cast<double>(n - n / 2) / Seconds(half, end);
    std::printf("%-9s %ld appends: %.0f records/s (first half %.0f, second half %.0f, ratio %.2f)\n", label, n,
                static_cast<double>(n) / Seconds(start, end), first, second, second / first);
    std::remove(table.c_str());
    std::remove(ntx.c_str());
}

int Stress(const std::string& table, const std::string& ntx, const std::string& tag, long n) {
    THXDBFNTX t;
    t.SetDBFFileName(table);
    t.AccessMode().SetAccessMode(kShared);
    t.SetWaitBusyRes(100000000);
    t.SetFastPostRecord(true);
    THXNTXIndex& ix = t.Indexes().Add();
    ix.SetNTXFileName(ntx);
    t.Open();
    for (long i = 0; i < n; ++i) {
        t.Append();
        t.FieldByName("NAME").SetAsString(tag + std::to_string(i));
        t.Post();
    }
    return 0;
}

int Check(const std::string& table, const std::string& ntx) {
    THXDBFNTX t;
    t.SetDBFFileName(table);
    THXNTXIndex& ix = t.Indexes().Add();
    ix.SetNTXFileName(ntx);
    t.Open();
    ix.VerifyIndex();
    std::set<std::string> keys;
    for (bool ok = ix.First(); ok; ok = ix.Next()) keys.insert(ix.CurrentKey());
    std::printf("records %d keys %llu distinct %zu\n", t.RecordCount(),
                static_cast<unsigned long long>(ix.VerifiedKeys()), keys.size());
    return keys.size() == ix.VerifiedKeys() && ix.VerifiedKeys() == static_cast<std::uint64_t>(t.RecordCount()) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string a1 = argc > 1 ? argv[1] : "";
        if (a1 == "--create" && argc == 4) {
            CreateTable(argv[2]);
            CreateIndex(argv[2], argv[3]);
            return 0;
        }
        if (a1 == "--append" && argc == 6) return Stress(argv[2], argv[3], argv[4], std::atol(argv[5]));
        if (a1 == "--check" && argc == 4) return Check(argv[2], argv[3]);
        const long n = argc > 1 ? std::atol(argv[1]) : 1000000;
        const std::string dir = bench::BenchDir();
        Run(dir, kShared, "shared", n);
        Run(dir, kExclusive, "exclusive", n);
        return 0;
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.Message().c_str());
        return 1;
    }
}
