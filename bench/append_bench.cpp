// Appending records the way the merge tool fills its output table: a THXDBFNTX with its
// defaults, DbfVersion xBaseIV, access mode 2 (read and write), Append, every field set as
// text (the fields found by name once), Post. One benchmark iteration appends one record, so the reported time is
// the time per record and items_per_second the records per second.
//
//   append_bench --benchmark_filter='BM_Append/32384/2/'   (1,000,000 records)
//
// Arguments: BufferSize, AccessMode. Mode 2 is the merge tool's; 0x12 (ShareExclusive) is
// shown beside it: the no-sharing rule then skips the three lock calls of every append.
//
// The table goes to $ZARBEL_BENCH_DIR (default: the system temporary directory) and is
// removed afterwards. Counters: peak_rss_kb (getrusage), file_mb, block_reads (read-buffer
// refills during the appends: 0 when the cursor placement keeps the buffer in step).
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_rows.h"
#include "index/HXDBFNTX.h"

using namespace zarbel;

namespace {

using bench::BenchDir;
using bench::FieldSpec;
using bench::kFieldCount;
using bench::kFields;
using bench::MakeRows;

void BM_Append(benchmark::State& state) {
    const int bufferSize = static_cast<int>(state.range(0));
    const auto accessMode = static_cast<std::uint32_t>(state.range(1));
    const std::string path = BenchDir() + "/zarbel_append_bench_" + std::to_string(::getpid()) + ".dbf";
    std::remove(path.c_str());
    const auto rows = MakeRows();
    {
        THXDBFNTX t;
        t.SetBufferSize(bufferSize);
        t.SetDbfVersion(xBaseIV);
        t.SetCodepage(2);
        t.AccessMode().SetAccessMode(accessMode);
        t.SetDBFFileName(path);
        for (const FieldSpec& f : kFields) {
            THXDBFFieldDef& d = t.DBFFieldDefs().Add();
            d.SetName(f.name);
            d.Setfield_type(f.type);
            d.Setlen(static_cast<std::uint16_t>(f.len));
            d.Setdec(static_cast<std::uint16_t>(f.dec));
        }
        t.CreateTable();
        t.Open();
        // The output fields are looked up by name once, as the merge tool does for each source.
        std::vector<TField*> fields;
        for (const FieldSpec& f : kFields) fields.push_back(&t.FieldByName(f.name));
        const std::uint64_t readsBefore = t.BlockReads();
        std::size_t row = 0;
        for (auto _ : state) {
            const auto& r = rows[row++ & 63];
            t.Append();
            for (int i = 0; i < kFieldCount; ++i) fields[static_cast<std::size_t>(i)]->SetAsString(r[static_cast<std::size_t>(i)]);
            t.Post();
        }
        state.counters["block_reads"] = static_cast<double>(t.BlockReads() - readsBefore);
        t.Close();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["file_mb"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    state.counters["peak_rss_kb"] = static_cast<double>(ru.ru_maxrss);
    std::remove(path.c_str());
}

}  // namespace

BENCHMARK(BM_Append)
    ->Args({32384, 2})
    ->Args({4096, 2})
    ->Args({32384, 0x12})
    ->Args({32384, 0x42})
    ->Iterations(1000000)
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
