// Index keys from an expression: UPPER(NAME)+DTOS(DATE)+STR(SUM,10,2) evaluated as a key on
// every record of a 1,000,000-record table while the table is walked, as an index build does.
//
//   expr_bench [TABLE] [google benchmark flags]
//
// Without TABLE the benchmark writes its own table (NAME C 20, DATE D, SUM N 10.2; 41 MB) to the
// system temporary directory and removes it afterwards. Peers in the same run:
//   - BM_HandWrittenKey: the same key made by hand-written code from the same field reads (what
//     the expression costs over code that knows the key at compile time);
//   - BM_WalkAndReadFields: the walk and the three field reads alone (the floor).
// Every benchmark reports keys per second and the heap allocations made per record after the
// first record (operator new is counted).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>

#include <unistd.h>

#include "alloc_count.h"
#include "expr/HXDBFExprParser.h"
#include "index/HXDBFNTX.h"

namespace {

std::string g_table;
constexpr int kRecords = 1000000;

void MakeTable(const std::string& path) {
    const int recLen = 1 + 20 + 8 + 10;
    std::string h(32, '\0');
    h[0] = 0x03;
    h[1] = 126, h[2] = 12, h[3] = 8;
    for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<char>((kRecords >> (8 * i)) & 0xFF);
    const int headerLen = 32 + 3 * 32 + 1;
    h[8] = static_cast<char>(headerLen & 0xFF), h[9] = static_cast<char>(headerLen >> 8);
    h[10] = static_cast<char>(recLen);
    const struct {
        const char* name;
        char type;
        int len, dec;
    } fields[] = {{"NAME", 'C', 20, 0}, {"DATE", 'D', 8, 0}, {"SUM", 'N', 10, 2}};
    for (const auto& f : fields) {
        std::string d(32, '\0');
        d.replace(0, std::strlen(f.name), f.name);
        d[11] = f.type, d[16] = static_cast<char>(f.len), d[17] = static_cast<char>(f.dec);
        h += d;
    }
    h += '\r';
    std::ofstream out(path, std::ios::binary);
    out << h;
    static const char* names[] = {"Smith", "jones", "MacDonald", "o'Brien", "Lee", "van der Berg", "Ivanov", "Müller"};
    char rec[64];
    for (int i = 0; i < kRecords; ++i) {
        char name[21];
        std::snprintf(name, sizeof name, "%-14s%06d", names[i % 8], i % 1000000);
        std::snprintf(rec, sizeof rec, " %-20.20s%04d%02d%02d%10.2f", name, 1950 + i % 70, 1 + i % 12, 1 + i % 28,
                      (i % 20001 - 10000) * 1.25);
        out.write(rec, recLen);
    }
    out << '\x1A';
}

struct TWalk {
    TWalk() {
        t.SetDBFFileName(g_table);
        t.SetBufferSize(32384);
        t.AccessMode().SetAccessMode(0);
        t.Open();
        name = &t.FieldByName("NAME");
        date = &t.FieldByName("DATE");
        sum = &t.FieldByName("SUM");
    }
    ~TWalk() { t.Close(); }
    zarbel::THXDBFNTX t;
    zarbel::TField *name, *date, *sum;
};

// Runs body once per record; reports keys per second and allocations per record after the first.
template <class Body>
void Walk(benchmark::State& state, Body&& body) {
    long long keys = 0, allocations = 0;
    std::size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TWalk w;
        state.ResumeTiming();
        long long before = 0;
        bool first = true;
        for (w.t.First(); !w.t.Eof(); w.t.Next(), ++keys) {
            bytes += body(w);
            if (first) before = g_allocations.load(std::memory_order_relaxed);  // after the warm-up record
            first = false;
        }
        allocations += g_allocations.load(std::memory_order_relaxed) - before;
    }
    benchmark::DoNotOptimize(bytes);
    state.counters["keys_per_second"] = benchmark::Counter(static_cast<double>(keys), benchmark::Counter::kIsRate);
    state.counters["allocs_per_key"] = static_cast<double>(allocations) / static_cast<double>(keys);
}

void BM_ExpressionKey(benchmark::State& state) {
    zarbel::THXDBFExprParser* parser = nullptr;
    std::unique_ptr<zarbel::THXDBFExprParser> owned;
    Walk(state, [&](TWalk& w) -> std::size_t {
        if (!parser || parser->DataSet() != &w.t) {
            owned = std::make_unique<zarbel::THXDBFExprParser>(&w.t);
            owned->SetIndexMode(true);
            owned->Compile("UPPER(NAME)+DTOS(DATE)+STR(SUM,10,2)", 0, zarbel::poExtendedSyntax);
            parser = owned.get();
        }
        return parser->EvaluateKey().size();
    });
}
BENCHMARK(BM_ExpressionKey)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_HandWrittenKey(benchmark::State& state) {
    std::string key, text;
    Walk(state, [&](TWalk& w) -> std::size_t {
        key.clear();
        w.name->GetAsString(text);
        text.resize(20, ' ');
        for (char& c : text)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        key += text;
        std::int32_t day;
        if (w.date->GetData(&day)) {
            int y, m, d;
            zarbel::DecodeDateDays(day - zarbel::kDateDelta, y, m, d);
            char b[16];
            std::snprintf(b, sizeof b, "%04d%02d%02d", y, m, d);
            key += b;
        } else {
            key.append(8, ' ');
        }
        double v;
        char b[32];
        if (w.sum->GetData(&v)) std::snprintf(b, sizeof b, "%10.2f", v);
        else std::snprintf(b, sizeof b, "%10s", "");
        key += b;
        return key.size();
    });
}
BENCHMARK(BM_HandWrittenKey)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_WalkAndReadFields(benchmark::State& state) {
    std::string text;
    Walk(state, [&](TWalk& w) -> std::size_t {
        std::int32_t day = 0;
        double v = 0;
        w.name->GetAsString(text);
        w.date->GetData(&day);
        w.sum->GetData(&v);
        return text.size() + static_cast<std::size_t>(day & 1) + (v > 0);
    });
}
BENCHMARK(BM_WalkAndReadFields)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    bool made = false;
    if (argc >= 2) {
        g_table = argv[1];
    } else {
        g_table = (std::filesystem::temp_directory_path() / ("zarbel_expr_bench_" + std::to_string(::getpid()) + ".dbf")).string();
        MakeTable(g_table);
        made = true;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (made) std::remove(g_table.c_str());
    return 0;
}
