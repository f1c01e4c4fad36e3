// Sequential read of a table with every field of every record taken as text - the merge tool's
// road (BufferSize 32384, access mode 0, fields looked up once, values read with GetAsString).
//
//   read_bench TABLE [google benchmark flags]
//
// Reports records per second and the process's peak resident memory (VmHWM) after the runs.
// bench/read_compare.sh makes the tables and runs this side by side with python3-dbfread.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "index/HXDBFNTX.h"

namespace {

std::string g_table;

long PeakRssKiB() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

void BM_ReadAllFieldsAsText(benchmark::State& state) {
    std::int64_t records = 0;
    std::size_t chars = 0;
    for (auto _ : state) {
        zarbel::THXDBFNTX t;
        t.SetDBFFileName(g_table);
        t.SetBufferSize(32384);
        t.SetOEM(true);
        t.Open();
        std::vector<zarbel::TField*> fields;
        for (int i = 0; i < t.FieldCount(); ++i) fields.push_back(&t.Fields()[i]);
        std::string text;
        for (t.First(); !t.Eof(); t.Next()) {
            for (zarbel::TField* f : fields) {
                f->GetAsString(text);
                chars += text.size();
            }
            ++records;
        }
        t.Close();
    }
    benchmark::DoNotOptimize(chars);
    state.SetItemsProcessed(records);
    state.counters["records_per_second"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
    state.counters["peak_rss_kib"] = static_cast<double>(PeakRssKiB());
}
BENCHMARK(BM_ReadAllFieldsAsText)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: read_bench TABLE [benchmark flags]\n");
        return 2;
    }
    g_table = argv[1];
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
