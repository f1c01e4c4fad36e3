// Damaged tables: truncated and bit-flipped copies of the compatibility corpus's tables (and of
// their memo files) are opened and every field of every record is read - as JSON values and as
// texts, through zarbel-dump's code - expecting only a clean result or zarbel::Exception. Run
// under the sanitizer build too, where a read outside a buffer is a failure of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <random>
#include <streambuf>

#include "platform/exception.h"
#include "testutil/temp_dir.h"
#include "tool/dump.h"

namespace zarbel {
namespace {

namespace fs = std::filesystem;

const std::string kCorpus = ZARBEL_SOURCE_DIR "/../shared/corpus";

class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

std::string Slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct Sample {
    std::string Name;      // table file name
    std::string Table;     // bytes
    std::string MemoName;  // empty: none
    std::string Memo;
};

// Tables of up to 64 KiB (the mutation count, not the table size, makes the test) with their
// memo companions.
std::vector<Sample> LoadSamples() {
    std::vector<Sample> out;
    for (const auto& e : fs::recursive_directory_iterator(kCorpus)) {
        if (!e.is_regular_file() || Lower(e.path().extension().string()) != ".dbf") continue;
        if (e.path().string().find("/expected/") != std::string::npos) continue;
        if (e.file_size() > 64 * 1024) continue;
        Sample s;
        s.Name = e.path().filename().string();
        s.Table = Slurp(e.path());
        for (const auto& m : fs::directory_iterator(e.path().parent_path())) {
            const std::string ext = Lower(m.path().extension().string());
            if ((ext == ".dbt" || ext == ".fpt") && m.path().stem() == e.path().stem() && m.file_size() <= 256 * 1024) {
                s.MemoName = m.path().filename().string();
                s.Memo = Slurp(m.path());
                break;
            }
        }
        out.push_back(std::move(s));
    }
    std::sort(out.begin(), out.end(), [](const Sample& a, const Sample& b) { return a.Table < b.Table; });
    return out;
}

// Deterministic across standard libraries: only the generator's raw output is used.
struct Rng {
    std::mt19937 g{20261208u};
    std::uint32_t Below(std::uint32_t n) { return n == 0 ? 0 : static_cast<std::uint32_t>(g() % n); }
};

void Mutate(std::string& b, Rng& rng) {
    if (b.empty()) return;
    switch (rng.Below(5)) {
        case 0:  // truncation anywhere
            b.resize(rng.Below(static_cast<std::uint32_t>(b.size())));
            break;
        case 1: {  // bit flips in the header and descriptors
            const std::uint32_t span = std::min<std::uint32_t>(static_cast<std::uint32_t>(b.size()), 600);
            for (std::uint32_t n = 1 + rng.Below(4); n > 0; --n) b[rng.Below(span)] ^= static_cast<char>(1u << rng.Below(8));
            break;
        }
        case 2:  // bit flips anywhere
            for (std::uint32_t n = 1 + rng.Below(8); n > 0; --n)
                b[rng.Below(static_cast<std::uint32_t>(b.size()))] ^= static_cast<char>(1u << rng.Below(8));
            break;
        case 3: {  // a header number (count, lengths) or a descriptor's length/decimals set to an extreme
            static const std::uint32_t offsets[] = {4, 5, 7, 8, 9, 10, 11, 28, 48, 49, 50, 80, 81, 82, 112, 113};
            const std::uint32_t at = offsets[rng.Below(16)];
            static const unsigned char values[] = {0x00, 0x01, 0x7F, 0x80, 0xFF};
            if (at < b.size()) b[at] = static_cast<char>(values[rng.Below(5)]);
            break;
        }
        default: {  // a byte run overwritten with one value
            const std::uint32_t at = rng.Below(static_cast<std::uint32_t>(b.size()));
            const std::uint32_t len = std::min<std::uint32_t>(1 + rng.Below(16), static_cast<std::uint32_t>(b.size()) - at);
            std::fill_n(b.begin() + at, len, static_cast<char>(rng.Below(2) ? 0x00 : 0xFF));
        }
    }
}

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(Robustness, DamagedCorpusTablesOpenAndReadOrFailCleanly) {
    if (!fs::is_directory(kCorpus)) GTEST_SKIP() << "compatibility corpus not found at " << kCorpus;
    const std::vector<Sample> samples = LoadSamples();
    ASSERT_GT(samples.size(), 50u);
    testutil::TempDir dir;
    NullBuffer nb;
    std::ostream out(&nb);
    Rng rng;
    constexpr int kMutations = 5000;
    int refused = 0, read = 0;
    for (int i = 0; i < kMutations; ++i) {
        const Sample& s = samples[rng.Below(static_cast<std::uint32_t>(samples.size()))];
        std::string table = s.Table;
        std::string memo = s.Memo;
        // Mostly the table, sometimes the memo file, sometimes both.
        const std::uint32_t what = rng.Below(4);
        if (what != 1 || memo.empty()) Mutate(table, rng);
        if ((what == 1 || what == 2) && !memo.empty()) Mutate(memo, rng);
        const std::string path = dir / s.Name;
        Write(path, table);
        if (!s.MemoName.empty()) Write(dir / s.MemoName, memo);
        TDumpOptions o;
        o.Json = (i % 2) == 0;
        o.CodePage = (i % 3) == 0 ? TDumpCodePage::Oem : TDumpCodePage::Win;
        try {
            DumpTable(path, o, out);
            ++read;
        } catch (const Exception&) {
            ++refused;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "mutation " << i << " of " << s.Name << ": " << typeid(e).name() << ": " << e.what();
        }
        fs::remove(path);
        if (!s.MemoName.empty()) fs::remove(dir / s.MemoName);
    }
    // Both outcomes must be common, or the mutations miss the road they are meant to test.
    EXPECT_GT(read, kMutations / 10);
    EXPECT_GT(refused, kMutations / 20);
    std::printf("damaged tables: %d read, %d refused\n", read, refused);
}

}  // namespace
}  // namespace zarbel
