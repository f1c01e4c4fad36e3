// Locate by block scan over 1,000,000 records, in records per second, beside its peer in the
// same run: the walk a caller would otherwise write (First/Next, the key field read as text and
// compared). Every search finds the last record, so each one examines the whole table.
// And an exact locate answered through an NTX on NAME beside the same locate forced to scan.
//
//   locate_bench [DIRECTORY] [google benchmark flags]
//
// The table (dBase III, 50 bytes a record: NAME C(20), CITY C(15), AGE N(3), SUM N(10,2)) is
// written byte by byte into DIRECTORY (default: the system temporary directory), its NTX on
// NAME built by the engine, and both are removed afterwards. BufferSize is the merge tool's
// 32384 (647 records per read).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <chrono>
#include <string>

#include "index/HXDBFNTX.h"

namespace {

constexpr int kRecords = 1000000;
constexpr int kRecLen = 1 + 20 + 15 + 3 + 11;
std::string g_table, g_ntx;

void Put(std::string& rec, std::size_t at, std::size_t width, const std::string& text, bool right = false) {
    std::string v = text.substr(0, width);
    std::string pad(width - v.size(), ' ');
    rec.replace(at, width, right ? pad + v : v + pad);
}

void MakeTable(const std::string& path) {
    std::ofstream f(path, std::ios::binary);
    const int hdrLen = 32 + 4 * 32 + 1;
    unsigned char h[32] = {0x03, 126, 12, 8};
    std::memcpy(h + 4, &kRecords, 4);
    h[8] = hdrLen & 0xFF;
    h[9] = hdrLen >> 8;
    h[10] = kRecLen & 0xFF;
    h[11] = kRecLen >> 8;
    f.write(reinterpret_cast<const char*>(h), 32);
    const struct {
        const char* name;
        char type;
        int len, dec;
    } fields[] = {{"NAME", 'C', 20, 0}, {"CITY", 'C', 15, 0}, {"AGE", 'N', 3, 0}, {"SUM", 'N', 11, 2}};
    for (const auto& d : fields) {
        char desc[32] = {};
        std::strncpy(desc, d.name, 10);
        desc[11] = d.type;
        desc[16] = static_cast<char>(d.len);
        desc[17] = static_cast<char>(d.dec);
        f.write(desc, 32);
    }
    f.put(0x0D);
    std::string rec(kRecLen, ' ');
    const char* cities[] = {"Moscow", "Kazan", "Omsk", "Tver", "Paris"};
    for (int i = 1; i <= kRecords; ++i) {
        const bool last = i == kRecords;
        Put(rec, 1, 20, last ? "SMITHSON" : "Name" + std::to_string(i % 9973));
        Put(rec, 21, 15, last ? "Berlin" : cities[i % 5]);
        Put(rec, 36, 3, std::to_string(last ? 999 : i % 90), true);
        Put(rec, 39, 11, std::to_string(i % 100000) + ".25", true);
        f.write(rec.data(), kRecLen);
    }
    f.put(0x1A);
}

void Open(zarbel::THXDBFNTX& t) {
    t.SetDBFFileName(g_table);
    t.SetBufferSize(32384);
    t.Open();
}

void Report(benchmark::State& state, std::int64_t records) {
    state.SetItemsProcessed(records);
    state.counters["records_per_second"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}

// Locate on one text field, case-insensitive and partial.
void BM_LocateTextByScan(benchmark::State& state) {
    zarbel::THXDBFNTX t;
    Open(t);
    std::int64_t records = 0;
    for (auto _ : state) {
        t.First();
        if (!t.Locate("NAME", "smith", zarbel::loCaseInsensitive | zarbel::loPartialKey) || t.RecNo() != kRecords)
            state.SkipWithError("not found");
        records += kRecords;
    }
    Report(state, records);
}
BENCHMARK(BM_LocateTextByScan)->Unit(benchmark::kMillisecond)->UseRealTime();

// Locate on two fields (a number and a text) against an array.
void BM_LocateTwoFieldsByScan(benchmark::State& state) {
    zarbel::THXDBFNTX t;
    Open(t);
    t.SetTrimInLocate(true);
    const zarbel::TVariant key(std::vector<zarbel::TVariant>{std::int32_t{999}, "Berlin"});
    std::int64_t records = 0;
    for (auto _ : state) {
        t.First();
        if (!t.Locate("AGE;CITY", key, 0) || t.RecNo() != kRecords) state.SkipWithError("not found");
        records += kRecords;
    }
    Report(state, records);
}
BENCHMARK(BM_LocateTwoFieldsByScan)->Unit(benchmark::kMillisecond)->UseRealTime();

// An exact locate of the last record's NAME (as stored, 20 characters): through the NTX on
// NAME, and the same locate forced to scan (its peer). The cursor stays; only the search runs.
void LocateExact(benchmark::State& state, bool forceScan) {
    zarbel::THXDBFNTX t;
    t.Indexes().Add().SetNTXFileName(g_ntx);
    Open(t);
    const zarbel::TVariant key(std::string("SMITHSON            "));
    std::int64_t searches = 0;
    for (auto _ : state) {
        if (t.LocateRecord("NAME", key, 0, forceScan) != kRecords) state.SkipWithError("not found");
        ++searches;
    }
    state.SetItemsProcessed(searches);
}
void BM_LocateExactByIndex(benchmark::State& state) { LocateExact(state, false); }
void BM_LocateExactByScan(benchmark::State& state) { LocateExact(state, true); }
BENCHMARK(BM_LocateExactByIndex)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_LocateExactByScan)->Unit(benchmark::kMillisecond)->UseRealTime();

// The peer: the caller's own walk, the key field as text, compared the same way.
void BM_WalkAndCompare(benchmark::State& state) {
    zarbel::THXDBFNTX t;
    Open(t);
    zarbel::TField& name = t.FieldByName("NAME");
    std::string text;
    std::int64_t records = 0;
    for (auto _ : state) {
        int found = 0;
        for (t.First(); !t.Eof(); t.Next()) {
            ++records;
            name.GetAsString(text);
            if (text.size() >= 5 && zarbel::AnsiSameText(std::string_view(text).substr(0, 5), "smith")) {
                found = t.RecNo();
                break;
            }
        }
        if (found != kRecords) state.SkipWithError("not found");
    }
    Report(state, records);
}
BENCHMARK(BM_WalkAndCompare)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const std::filesystem::path dir = argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
    g_table = (dir / ("locate_bench_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".dbf")).string();
    MakeTable(g_table);
    g_ntx = g_table.substr(0, g_table.size() - 4) + ".ntx";
    {
        zarbel::THXDBFNTX t;
        t.SetDBFFileName(g_table);
        t.AccessMode().SetAccessMode(zarbel::TAccessMode::kOpenReadWrite | zarbel::TAccessMode::kShareExclusive);
        t.Open();
        zarbel::THXNTXIndex& ix = t.Indexes().Add();
        ix.SetNTXFileName(g_ntx);
        ix.SetKeyExpresion("NAME");
        ix.CreateCompactIndex(1 << 20, false);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove(g_table);
    std::filesystem::remove(g_ntx);
    return 0;
}
