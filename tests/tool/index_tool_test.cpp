// zarbel-index through the built binary: options anywhere in their two forms, exit codes,
// the refusals that keep the user's files untouched, the header it writes, reindex keeping the
// header, and every bottom-up builder writing the same file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "testutil/corpus.h"
#include "testutil/temp_dir.h"

namespace zarbel {
namespace {

namespace fs = std::filesystem;

struct TRun {
    int Code = -1;
    std::string Out, Err;
};

class IndexTool : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(program)) GTEST_SKIP() << "zarbel-index is not built in " << ZARBEL_BINARY_DIR;
        const fs::path src = testutil::CorpusDir() / "xsharp/Explorer/Customer.dbf";
        if (!fs::exists(src)) GTEST_SKIP() << "corpus not found at " << testutil::CorpusDir();
        fs::copy_file(src, table);
        fs::permissions(table, fs::perms::owner_read | fs::perms::owner_write);
        tableBytes = testutil::ReadFile(table);
    }
    // Runs the program in the temporary directory (arguments single-quoted).
    TRun Run(const std::vector<std::string>& args) {
        std::string cmd = "cd '" + dir.path() + "' && LC_ALL=C.UTF-8 '" + program + "'";
        for (const std::string& a : args) cmd += " '" + a + "'";
        cmd += " >out.txt 2>err.txt";
        TRun r;
        const int st = std::system(cmd.c_str());
        r.Code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        r.Out = testutil::ReadFile(dir.File("out.txt"));
        r.Err = testutil::ReadFile(dir.File("err.txt"));
        fs::remove(dir.File("out.txt"));
        fs::remove(dir.File("err.txt"));
        return r;
    }
    testutil::TempDir dir;
    const std::string program = std::string(ZARBEL_BINARY_DIR) + "/zarbel-index";
    const std::string table = dir.File("Customer.dbf");
    std::string tableBytes;
};

TEST_F(IndexTool, ParameterErrorsExitTwoAndTouchNothing) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"create", "Customer.dbf", "X.ntx"},
        {"verify", "Customer.dbf", "X.ntx", "--unique"},
        {"verify", "Customer.dbf", "X.ntx", "--builder", "avl"},
        {"create", "Customer.dbf", "X.ntx", "LASTNAME", "--builder=heap"},
        {"create", "Customer.dbf", "X.ntx", "LASTNAME", "--cipher", "xor"},
        {"create", "Customer.dbf", "X.ntx", "LASTNAME", "--password=p"},
        {"create", "Customer.dbf", "X.ntx", "LASTNAME", "--bogus"},
        {"create", "Customer.dbf", "X.ntx", "LASTNAME", "--for"},
        {"drop", "Customer.dbf", "X.ntx"},
    };
    for (const auto& args : bad) {
        const TRun r = Run(args);
        EXPECT_EQ(r.Code, 2) << r.Err;
        EXPECT_NE(r.Err.find("Usage: zarbel-index"), std::string::npos);
    }
    EXPECT_EQ(Run({"--version"}).Out, "zarbel-index " ZARBEL_VERSION "\n");
    EXPECT_EQ(Run({"create", "-h"}).Code, 0);
    // Refused: the table itself, its memo file, a file that is not NTX; none of them changes.
    testutil::WriteFile(dir.File("Customer.dbt"), "memo");
    testutil::WriteFile(dir.File("notes.ntx"), "not an index");
    for (const char* target : {"Customer.dbf", "Customer.dbt", "notes.ntx"}) {
        const std::string before = testutil::ReadFile(dir.File(target));
        const TRun r = Run({"create", "Customer.dbf", target, "LASTNAME"});
        EXPECT_EQ(r.Code, 2) << target;
        EXPECT_NE(r.Err.find("is not written"), std::string::npos) << r.Err;
        EXPECT_EQ(testutil::ReadFile(dir.File(target)), before) << target;
    }
    // An engine failure: exit 1, its message, no output left behind.
    const TRun r = Run({"create", "Customer.dbf", "X.ntx", "NOSUCHFIELD"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Err.find("NOSUCHFIELD"), std::string::npos) << r.Err;
    EXPECT_FALSE(fs::exists(dir.File("X.ntx")));
    EXPECT_EQ(testutil::ReadFile(table), tableBytes);
}

TEST_F(IndexTool, CreateVerifyReindexKeepTheHeaderAndTheTable) {
    // Options before, between and after the operands, in both forms, and "--".
    testutil::WriteFile(dir.File("LongStemName12.ntx"), "");  // an empty file may be written
    TRun r = Run({"--unique", "create", "-win", "Customer.dbf", "--for=STATE <> \"CA\"", "LongStemName12.ntx", "--desc",
                  "--builder", "compact", "--", "LASTNAME"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string h = testutil::ReadFile(dir.File("LongStemName12.ntx"));
    ASSERT_GE(h.size(), 2048u);
    EXPECT_EQ(h[0], 6);
    EXPECT_EQ(h[1], 0);
    EXPECT_EQ(std::string(h.data() + 22), "LASTNAME");
    EXPECT_EQ(std::string(h.data() + 282), "STATE <> \"CA\"");
    EXPECT_EQ(h[278], 1);  // unique
    EXPECT_EQ(h[280], 1);  // descending
    EXPECT_EQ(h.substr(538, 12), std::string("LongStemNam\0", 12));
    r = Run({"verify", "Customer.dbf", "LongStemName12.ntx"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out.rfind("VerifyIndex: OK, ", 0), 0u) << r.Out;
    for (const char* b : {"insert", "avl", "merge8"}) {
        r = Run({"reindex", "Customer.dbf", "LongStemName12.ntx", "--builder=" + std::string(b)});
        ASSERT_EQ(r.Code, 0) << r.Err;
        const std::string again = testutil::ReadFile(dir.File("LongStemName12.ntx"));
        EXPECT_EQ(again.substr(0, 2), h.substr(0, 2)) << b;
        EXPECT_EQ(again.substr(12, 1012), h.substr(12, 1012)) << b;  // all but version, root, free list
        EXPECT_EQ(Run({"verify", "Customer.dbf", "LongStemName12.ntx"}).Code, 0) << b;
    }
    // Every bottom-up builder writes the same file.
    std::string first;
    for (const char* b : {"compact", "quick", "bintree", "redblack", "avl", "trie", "merge2", "merge4", "merge8"}) {
        r = Run({"create", "Customer.dbf", "N.ntx", "LASTNAME + FIRSTNAME", "--builder", b});
        ASSERT_EQ(r.Code, 0) << b << r.Err;
        const std::string now = testutil::ReadFile(dir.File("N.ntx"));
        if (first.empty()) first = now;
        EXPECT_TRUE(now == first) << b;
    }
    // A damaged index: verify reports it with exit 1.
    std::string broken = first;
    // The root's first item gets a record number beyond the table.
    auto byte = [&](std::size_t at) { return static_cast<std::size_t>(static_cast<unsigned char>(broken[at])); };
    const std::size_t root = byte(4) | byte(5) << 8 | byte(6) << 16;
    const std::size_t item = root + (byte(root + 2) | byte(root + 3) << 8);
    broken[item + 5] = 0x7F;
    testutil::WriteFile(dir.File("B.ntx"), broken);
    EXPECT_EQ(Run({"verify", "Customer.dbf", "B.ntx"}).Code, 1);
    EXPECT_EQ(testutil::ReadFile(table), tableBytes);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"B.ntx", "Customer.dbf", "LongStemName12.ntx", "N.ntx"}));
}

}  // namespace
}  // namespace zarbel
