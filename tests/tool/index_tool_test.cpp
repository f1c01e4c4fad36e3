// zarbel-index through the built binary: options anywhere in their two forms, exit codes,
// the refusals that keep the user's files untouched, the header it writes, reindex keeping the
// header, every bottom-up builder writing the same file, enciphered tables, and the code-page
// rule for keys.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "engine/dbf_builder.h"
#include "index/HXDBFNTX.h"
#include "index/ntx_wiring_util.h"
#include "testutil/corpus.h"
#include "testutil/dbf_bytes.h"
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

// The cases that write their own tables.
class IndexToolOwnTables : public IndexTool {
protected:
    void SetUp() override {
        if (!fs::exists(program)) GTEST_SKIP() << "zarbel-index is not built in " << ZARBEL_BINARY_DIR;
    }
};
using IndexToolCipher = IndexToolOwnTables;
using IndexToolCodePage = IndexToolOwnTables;

// An enciphered table: every builder writes enciphered pages of the deciphered keys, which
// verify under the password; a wrong password fails the build (exit 1, no output left), and a
// password without a cipher is a parameter error.
TEST_F(IndexToolCipher, EveryBuilderIndexesAnEncipheredTableUnderItsPassword) {
    const std::string dbf = dir.File("E.DBF");
    {
        THXDBFNTX t;
        t.Crypt().SetCryptMethod(cmGost);
        t.Crypt().SetPassword("secret");
        t.Crypt().SetActive(true);
        t.SetDBFFileName(dbf);
        t.SetDbfVersion(xBaseIV);
        THXDBFFieldDef& d = t.DBFFieldDefs().Add();
        d.SetName("NAME");
        d.Setfield_type('C');
        d.Setlen(10);
        t.CreateTable();
        t.Close();
        t.AccessMode().SetAccessMode(TAccessMode::kOpenReadWrite);
        t.Open();
        for (int i = 0; i < 300; ++i) {
            t.Append();
            t.FieldByName("NAME").SetAsString("plain" + std::to_string(i * 7919 % 1000));
            t.Post();
        }
    }
    const std::string dbfBytes = testutil::ReadFile(dbf);
    for (const char* b : {"insert", "compact", "quick", "bintree", "redblack", "avl", "trie", "merge2", "merge4",
                          "merge8"}) {
        SCOPED_TRACE(b);
        TRun r = Run({"create", "E.DBF", "E.ntx", "NAME", "--builder", b, "--cipher=gost", "--password=secret"});
        ASSERT_EQ(r.Code, 0) << r.Err;
        EXPECT_EQ(testutil::ReadFile(dir.File("E.ntx")).find("plain"), std::string::npos);  // no key in clear
        r = Run({"verify", "E.DBF", "E.ntx", "--cipher=gost", "--password", "secret"});
        EXPECT_EQ(r.Code, 0) << r.Err;
        EXPECT_EQ(r.Out.rfind("VerifyIndex: OK, ", 0), 0u) << r.Out;  // each key its record's, in order
    }
    TRun r = Run({"create", "E.DBF", "W.ntx", "NAME", "--cipher", "gost", "--password", "wrong"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "THXNTXIndex.CreateIndex: Record 1 does not decipher to a record (deletion flag 0x" +
                         r.Err.substr(r.Err.find("0x") + 2, 2) + "): is the password right?\n");
    EXPECT_EQ(Run({"verify", "E.DBF", "E.ntx", "--cipher", "gost", "--password", "wrong"}).Code, 1);
    EXPECT_EQ(Run({"create", "E.DBF", "W.ntx", "NAME", "--password", "secret"}).Code, 2);
    EXPECT_FALSE(fs::exists(dir.File("W.ntx")));
    EXPECT_EQ(testutil::ReadFile(dbf), dbfBytes);
}

// The code-page rule for keys: a CP866 table's Cyrillic keys are stored as the table holds
// them, ordered by their ANSI form under -oem (and when the table's code page byte says CP866)
// and by their stored bytes under -win; Perl XBase and the engine read that order back, and
// an index verifies only under its own code page.
TEST_F(IndexToolCodePage, OemKeysAreStoredAsTheTableHoldsThemAndOrderedAsAnsi) {
    // Ёлка, Абрикос, ель, Яма in CP866 (Ё sorts first in CP1251, last in CP866), and a Latin key.
    const std::vector<std::string> oem = {"\xF0\xAB\xAA\xA0", "\x80\xA1\xE0\xA8\xAA\xAE\xE1", "\xA5\xAB\xEC",
                                          "\x9F\xAC\xA0", "ZEBRA"};
    std::string bytes = testutil::DbaseIIITable({{"NAME", 8}}, {{oem[0]}, {oem[1]}, {oem[2]}, {oem[3]}, {oem[4]}});
    testutil::WriteFile(dir.File("T.DBF"), bytes);
    bytes[29] = 0x26;  // CP866
    testutil::WriteFile(dir.File("C.DBF"), bytes);
    auto order = [&](const std::vector<std::uint32_t>& recs) {
        std::vector<testutil::TEntry> v;
        for (std::uint32_t r : recs) v.push_back({r, testutil::Hex(test::Pad(oem[r - 1], 8))});
        return wiringtest::Show(v);
    };
    const bool perl = wiringtest::HavePerlXBase();
    for (const auto& [file, option, want] : {std::tuple{"T.DBF", "-oem", order({5, 1, 2, 4, 3})},
                                              {"C.DBF", "--", order({5, 1, 2, 4, 3})},
                                              {"T.DBF", "-win", order({5, 2, 4, 3, 1})}}) {
        SCOPED_TRACE(std::string(file) + " " + option);
        const bool win = option == std::string("-win");
        TRun r = Run({"create", file, "K.ntx", "NAME", option});
        ASSERT_EQ(r.Code, 0) << r.Err;
        if (perl) {
            EXPECT_EQ(wiringtest::Show(wiringtest::PerlWalk(dir.File("K.ntx"))), want);
        }
        THXDBFNTX t;
        t.SetDBFFileName(dir.File(file));
        t.SetOEM(!win);
        t.AccessMode().SetAccessMode(0);
        THXNTXIndex& ix = t.Indexes().Add();
        ix.SetNTXFileName(dir.File("K.ntx"));
        t.Open();
        EXPECT_EQ(wiringtest::Show(wiringtest::EngineWalk(ix)), want);
        t.Close();
        EXPECT_EQ(Run({"verify", file, "K.ntx", option}).Code, 0);
        EXPECT_EQ(Run({"verify", file, "K.ntx", win ? "-oem" : "-win"}).Code, 1);
    }
}

}  // namespace
}  // namespace zarbel
