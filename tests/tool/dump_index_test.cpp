// zarbel-dump --index and --verify: the usage rules and exit codes, the key columns, and the
// corpus's NTX files dumped from copies that stay byte-identical, modification time included.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <sstream>

#include "testutil/ntx_corpus.h"
#include "testutil/temp_dir.h"
#include "tool/dump.h"
#include "tool/dump_run.h"

namespace zarbel {
namespace {

namespace fs = std::filesystem;
using namespace testutil;
using test::Dump;

class DumpIndexCorpus : public ::testing::TestWithParam<TCorpusNtx> {
protected:
    void SetUp() override {
        if (!fs::exists(CorpusDir() / "expected")) GTEST_SKIP() << "corpus not found at " << CorpusDir();
    }
};

TEST_P(DumpIndexCorpus, LeavesTheFilesUntouched) {
    const TCorpusNtx& f = GetParam();
    TempDir dir;
    const std::string table = dir.File(fs::path(f.Table).filename().string());
    const std::string ntx = dir.File(fs::path(f.Ntx).filename().string());
    fs::copy_file(CorpusDir() / f.Table, table);
    fs::copy_file(CorpusDir() / f.Ntx, ntx);
    // a modification time in the past, so that any write would show
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(48);
    fs::last_write_time(table, past);
    fs::last_write_time(ntx, past);
    const std::string tableBytes = ReadFile(table), ntxBytes = ReadFile(ntx);

    for (const std::vector<std::string>& extra : {std::vector<std::string>{"--json"}, {"--verify"}, {}, {"--csv"}}) {
        std::vector<std::string> args = {f.Oem ? "-oem" : "-win", "--index", ntx, table};
        args.insert(args.begin(), extra.begin(), extra.end());
        std::ostringstream out, err;
        const int status = DumpMain(args, out, err, ConsoleEncoding::Utf8);
        // the German character files need their collation to verify: a finding, exit 1
        const int want = extra == std::vector<std::string>{"--verify"} && GermanCollated(f.Ntx) ? 1 : 0;
        EXPECT_EQ(status, want) << f.Ntx << " " << (extra.empty() ? "" : extra[0]) << ": " << err.str();
        if (extra == std::vector<std::string>{"--json"}) {
            // every entry in index order with its stored key bytes
            const std::vector<TEntry> expected = Expected(f.Ntx);
            static const std::regex rec("\"recno\":(\\d+),.*?\"key_hex\":\"([0-9a-f]*)\"");
            std::vector<TEntry> got;
            const std::string o = out.str();
            for (auto it = std::sregex_iterator(o.begin(), o.end(), rec); it != std::sregex_iterator(); ++it)
                got.push_back({static_cast<std::uint32_t>(std::stoul((*it)[1])), (*it)[2]});
            EXPECT_EQ(got, expected);
        }
    }
    EXPECT_EQ(ReadFile(table), tableBytes);
    EXPECT_EQ(ReadFile(ntx), ntxBytes);
    EXPECT_EQ(fs::last_write_time(table), past);
    EXPECT_EQ(fs::last_write_time(ntx), past);
}

// test2Ansi1.ntx and its table copied into a temporary directory.
class DumpIndex : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(CorpusDir() / "expected")) GTEST_SKIP() << "corpus not found at " << CorpusDir();
        fs::copy_file(CorpusDir() / "xsharp/VO/TEST2ANSI.DBF", table);
        fs::copy_file(CorpusDir() / "xsharp/VO/test2Ansi1.ntx", ntx);
    }
    TempDir dir;
    const std::string table = dir.File("TEST2ANSI.DBF");
    const std::string ntx = dir.File("test2Ansi1.ntx");
};

// --filter with --index: the index's order, less the records the condition rejects.
TEST(DumpIndexFilter, KeepsIndexOrderAndDropsRejectedRecords) {
    if (!fs::exists(CorpusDir() / "expected")) GTEST_SKIP() << "corpus not found at " << CorpusDir();
    const std::string table = (CorpusDir() / "xsharp/Explorer/Customer.dbf").string();
    const std::string ntx = (CorpusDir() / "xsharp/Explorer/Custname.ntx").string();
    auto recnos = [](const std::string& o) {
        static const std::regex rec("\"recno\":(\\d+),\"deleted\":\\w+,\"values\":\\[(\\d+),");
        std::vector<std::pair<int, int>> got;  // (recno, CUSTNUM)
        for (auto it = std::sregex_iterator(o.begin(), o.end(), rec); it != std::sregex_iterator(); ++it)
            got.push_back({std::stoi((*it)[1]), std::stoi((*it)[2])});
        return got;
    };
    const auto all = Dump({"--json", "--index", ntx, table});
    const auto some = Dump({"--json", "--index", ntx, "--filter=CUSTNUM>10 .AND. CUSTNUM<=15", table});
    ASSERT_EQ(all.status, 0) << all.err;
    ASSERT_EQ(some.status, 0) << some.err;
    std::vector<std::pair<int, int>> want;
    for (const auto& r : recnos(all.out))
        if (r.second > 10 && r.second <= 15) want.push_back(r);
    EXPECT_EQ(want.size(), 5u);
    EXPECT_EQ(recnos(some.out), want);
}

TEST_F(DumpIndex, UsageRulesAreParameterErrors) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--index", ntx},                                  // no table
             {"--index", ntx, table, table},                    // two tables
             {"--index", ntx, "--key", "CHARFIELD", table},     // --key with --index
             {"--verify", table},                               // --verify without --index
             {"--index"},                                       // no file
         }) {
        const auto r = Dump(args);
        EXPECT_EQ(r.status, 2) << args[0] << " " << r.err;
        EXPECT_NE(r.err.find("Usage: zarbel-dump"), std::string::npos);
        EXPECT_TRUE(r.out.empty());
    }
    // --index=FILE, and options after the table
    const auto a = Dump({table, "--index=" + ntx, "--csv"});
    const auto b = Dump({"--csv", "--index", ntx, table});
    EXPECT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(a.out, b.out);
}

TEST_F(DumpIndex, KeysInTextCsvAndJson) {
    const std::vector<TEntry> expected = Expected("xsharp/VO/test2Ansi1.ntx");
    const auto text = Dump({"--index", ntx, table});
    ASSERT_EQ(text.status, 0) << text.err;
    // a "Key: <hex>" line under each record, records in index order
    static const std::regex rec("Record (\\d+)\n(?:  [^\n]*\n)*?  Key: ([0-9a-f]+)\n");
    std::vector<TEntry> got;
    for (auto it = std::sregex_iterator(text.out.begin(), text.out.end(), rec); it != std::sregex_iterator(); ++it)
        got.push_back({static_cast<std::uint32_t>(std::stoul((*it)[1])), (*it)[2]});
    EXPECT_EQ(got, expected);
    // CSV: key_hex is the last column
    const auto csv = Dump({"--csv", "--index", ntx, table});
    ASSERT_EQ(csv.status, 0) << csv.err;
    const std::string header = csv.out.substr(0, csv.out.find("\r\n"));
    EXPECT_EQ(header.substr(header.size() - 8), ",key_hex");
    const std::string firstRow = csv.out.substr(header.size() + 2, csv.out.find("\r\n", header.size() + 2) - header.size() - 2);
    EXPECT_EQ(firstRow.substr(firstRow.rfind(',') + 1), expected.front().KeyHex);
    // JSON: the key width
    const auto json = Dump({"--json", "--index", ntx, table});
    EXPECT_NE(json.out.find("\"key_width\":10"), std::string::npos);
}

TEST_F(DumpIndex, VerifyPrintsTheCountAndItsNotes) {
    const auto r = Dump({"--index", ntx, "--verify", table});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "VerifyIndex: OK, 224 keys\n");
    EXPECT_EQ(r.err, "note: THXNTXIndex.VerifyIndex: page count for free page must be 0!\n");
}

TEST_F(DumpIndex, AnIndexThatDoesNotOpenIsExitOne) {
    // not an NTX file
    const std::string notNtx = dir.File("not.ntx");
    WriteFile(notNtx, std::string(2048, 'x'));
    auto r = Dump({"--index", notNtx, table});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "THXNTXIndex.Open: File \"" + notNtx + "\" is not NTX file\n");
    EXPECT_TRUE(r.out.empty());
    // a root page past the end of the file
    std::string bytes = ReadFile(ntx);
    bytes[4] = 0, bytes[5] = 0, bytes[6] = 1, bytes[7] = 0;  // root 65536
    WriteFile(ntx, bytes);
    r = Dump({"--json", "--index", ntx, table});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("THXNTXIndex: Index file \"" + ntx + "\" is corrupt: ", 0), 0u) << r.err;
    // a key expression that does not compile
    bytes = ReadFile(CorpusDir() / "xsharp/VO/test2Ansi1.ntx");
    const std::string bad = "NOSUCHFIELD";
    std::copy(bad.begin(), bad.end(), bytes.begin() + 22);
    bytes[22 + bad.size()] = 0;
    WriteFile(ntx, bytes);
    r = Dump({"--index", ntx, table});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("NOSUCHFIELD"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Corpus, DumpIndexCorpus, ::testing::ValuesIn(kFiles), NtxParamName);

}  // namespace
}  // namespace zarbel
