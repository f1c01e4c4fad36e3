// Enciphered tables against plain ones, in one run: the append rate (the merge tool's output
// road: THXDBFNTX, DbfVersion xBaseIV, access mode 2, Append, every field set as text, Post)
// and the read rate (the merge tool's source road: BufferSize 32384, First/Next, every field's
// text) of the same table plain, under XOR and under GOST.
//
//   crypt_bench [google benchmark flags]
//
// Argument: the cipher (0 plain, 1 XOR, 2 GOST). The append runs 300,000 records; the read
// walks a 300,000-record table the benchmark writes first with the same cipher. Tables go to
// $ZARBEL_BENCH_DIR (default: the system temporary directory) and are removed afterwards.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_rows.h"
#include "index/HXDBFNTX.h"

using namespace zarbel;

namespace {

constexpr int kRecords = 300000;

using bench::FieldSpec;
using bench::kFields;
using bench::MakeRows;

std::string TablePath(const char* what, int cipher) {
    return bench::BenchDir() + "/zarbel_crypt_bench_" + what + std::to_string(cipher) + "_" +
           std::to_string(::getpid()) + ".dbf";
}

void SetCipher(THXSmartDBF& t, int cipher) {
    if (cipher == 0) return;
    t.Crypt().SetCryptMethod(cipher == 1 ? cmXOR : cmGost);
    t.Crypt().SetPassword("bench password");
    t.Crypt().SetActive(true);
}

// Creates the table and appends count records (or one per benchmark iteration when state is
// given).
void Append(const std::string& path, int cipher, int count, benchmark::State* state) {
    std::remove(path.c_str());
    const auto rows = MakeRows();
    THXDBFNTX t;
    t.SetBufferSize(32384);
    t.SetDbfVersion(xBaseIV);
    t.AccessMode().SetAccessMode(2);
    t.SetDBFFileName(path);
    for (const FieldSpec& f : kFields) {
        THXDBFFieldDef& d = t.DBFFieldDefs().Add();
        d.SetName(f.name);
        d.Setfield_type(f.type);
        d.Setlen(static_cast<std::uint16_t>(f.len));
        d.Setdec(static_cast<std::uint16_t>(f.dec));
    }
    t.CreateTable();
    SetCipher(t, cipher);
    t.Open();
    std::vector<TField*> fields;
    for (const FieldSpec& f : kFields) fields.push_back(&t.FieldByName(f.name));
    std::size_t row = 0;
    auto one = [&] {
        const auto& r = rows[row++ & 63];
        t.Append();
        for (std::size_t i = 0; i < fields.size(); ++i) fields[i]->SetAsString(r[i]);
        t.Post();
    };
    if (state) {
        for (auto _ : *state) one();
    } else {
        for (int i = 0; i < count; ++i) one();
    }
    t.Close();
}

void BM_CryptAppend(benchmark::State& state) {
    const int cipher = static_cast<int>(state.range(0));
    const std::string path = TablePath("append", cipher);
    Append(path, cipher, 0, &state);
    std::remove(path.c_str());
    state.SetItemsProcessed(state.iterations());
}

void BM_CryptRead(benchmark::State& state) {
    const int cipher = static_cast<int>(state.range(0));
    const std::string path = TablePath("read", cipher);
    Append(path, cipher, kRecords, nullptr);
    std::int64_t records = 0;
    std::size_t chars = 0;
    for (auto _ : state) {
        THXDBFNTX t;
        t.SetDBFFileName(path);
        t.SetBufferSize(32384);
        SetCipher(t, cipher);
        t.Open();
        std::vector<TField*> fields;
        for (int i = 0; i < t.FieldCount(); ++i) fields.push_back(&t.Fields()[i]);
        std::string text;
        for (t.First(); !t.Eof(); t.Next()) {
            for (TField* f : fields) {
                f->GetAsString(text);
                chars += text.size();
            }
            ++records;
        }
        t.Close();
    }
    benchmark::DoNotOptimize(chars);
    std::remove(path.c_str());
    state.SetItemsProcessed(records);
}

}  // namespace

BENCHMARK(BM_CryptAppend)->Arg(0)->Arg(1)->Arg(2)->Iterations(kRecords)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CryptRead)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
