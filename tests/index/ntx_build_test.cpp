// Whole-index builders: CreateIndex (chunks inserted), CreateCompactIndex (runs merged into the
// bottom-up builder) and CreateIndexUsingSorter with every sorter. They must agree key for key
// with each other and with Perl XBase, keep FOR, Unique (lowest record), OnSubNtx and
// OnSubIndex, fail cleanly, leave no temporary file, and reproduce real files byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <set>

#include "ntx_wiring_util.h"
#include "platform/exception.h"
#include "platform/mem_env.h"
#include "testutil/corpus.h"
#include "testutil/platform_helpers.h"
#include "testutil/temp_dir.h"

namespace zarbel {
namespace {

namespace fs = std::filesystem;
using namespace wiringtest;
using testutil::Message;

struct TBuilder {
    const char* Name;
    std::function<void(THXNTXIndex&)> Build;
};

std::vector<TBuilder> Builders(int chunk = 65536) {
    std::vector<TBuilder> b{
        {"insert", [chunk](THXNTXIndex& ix) { ix.CreateIndex(true, chunk); }},
        {"compact", [chunk](THXNTXIndex& ix) { ix.CreateCompactIndex(chunk, true); }},
    };
    for (THXSorterClass c : {scQuick, scBinaryTree, scRedBlackTree, scAVLTree, scTrieTree, scMerge, sc4PathMerge,
                             sc8PathMerge})
        b.push_back({SorterClassName(c), [c](THXNTXIndex& ix) { ix.CreateIndexUsingSorter(c, true); }});
    return b;
}

class NtxBuild : public ::testing::Test {
protected:
    void SetUp() override { CreateTable(table, xClipper); }
    void Open() {
        t.SetDBFFileName(table);
        t.AccessMode().SetAccessMode(kExclusive);
        t.Open();
    }
    void Add(const std::string& name, double qty, int year) {
        t.Append();
        t.FieldByName("NAME").SetAsString(name);
        t.FieldByName("QTY").SetAsFloat(qty);
        t.FieldByName("BORN").SetAsDateTime(EncodeDate(year, 1 + year % 12, 1 + year % 28));
        t.Post();
    }
    THXNTXIndex& Index(const std::string& file, const std::string& key, const std::string& cond = "",
                       bool unique = false, bool desc = false) {
        THXNTXIndex& ix = t.Indexes().Add();
        ix.SetNTXFileName(dir.File(file));
        ix.SetKeyExpresion(key);
        ix.SetForExpresion(cond);
        ix.SetUnique(unique);
        ix.SetDesc(desc);
        ix.OuterSorterProperties().SetTmpPath(dir.path());
        ix.OuterSorterProperties().SetSortItemPerInnerSorter(300);  // several runs
        return ix;
    }
    void DropIndexes() {
        while (t.Indexes().Count() > 0) t.Indexes().Remove(t.Indexes()[0]);
    }
    testutil::TempDir dir;
    const std::string table = dir.File("T.DBF");
    THXDBFNTX t;
};

TEST_F(NtxBuild, ClosedTableAndTooSmallChunksAreRefused) {
    THXNTXIndex& ix = t.Indexes().Add();
    ix.SetNTXFileName(dir.File("X.NTX"));
    ix.SetKeyExpresion("NAME");
    EXPECT_EQ(Message([&] { ix.CreateIndex(true, 65536); }),
              "THXNTXIndex.CreateIndex: Create index only on active DataSet");
    EXPECT_EQ(Message([&] { ix.CreateCompactIndex(65536, true); }),
              "THXNTXIndex.CreateCompactIndex: Create index only on active DataSet");
    EXPECT_EQ(Message([&] { ix.CreateIndexUsingSorter(scAVLTree, true); }),
              "THXNTXIndex.CreateIndexUsingSorter: Create index only on active DataSet");
    EXPECT_EQ(Message([&] { ix.CreateIndexUsingSorter(static_cast<THXSorterClass>(99), true); }),
              "THXNTXIndex.CreateIndexUsingSorter: Sorter object is null!");
    EXPECT_FALSE(fs::exists(dir.File("X.NTX")));
    DropIndexes();
    Open();
    Add("A", 1, 1990);
    THXNTXIndex& ix2 = Index("X.NTX", "NAME");
    // Chunks and blocks of fewer than 2 items: the file left behind does not open.
    EXPECT_NE(Message([&] { ix2.CreateIndex(true, 2 * 18 - 1); }).find("fewer than 2 keys"), std::string::npos);
    EXPECT_THROW(ix2.Open(), Exception);
    EXPECT_NE(Message([&] { ix2.CreateCompactIndex(40, true); }).find("fewer than 2 keys"), std::string::npos);
    EXPECT_THROW(ix2.Open(), Exception);
    EXPECT_EQ(Message([&] { ix2.CreateCompactIndex(70000 * 16, true); }),
              "THXNTXIndex.CreateCompactIndex: BlockBufferSize too large!");
    t.SetBufferSize(10);
    EXPECT_EQ(Message([&] { ix2.CreateIndex(true, 65536); }), "THXNTXIndex.CreateIndex: Record size too lage");
    // CreateNow builds with the insertion builder and activates; it reads false.
    t.SetBufferSize(4096);
    ix2.SetCreateNow(true);
    EXPECT_FALSE(ix2.CreateNow());
    EXPECT_TRUE(ix2.Active());
    EXPECT_EQ(EngineWalk(ix2).size(), 1u);
    // A table open for reading: changing or building an index says so, and leaves it intact.
    t.Close();
    t.AccessMode().SetAccessMode(TAccessMode::kShareDenyNone);
    t.Open();
    const std::string readOnly = "\"" + dir.File("X.NTX") + "\" ";
    EXPECT_NE(Message([&] { ix2.SetUnique(true); }).find(readOnly + "is open for reading only"), std::string::npos);
    EXPECT_NE(Message([&] { ix2.CreateIndex(true, 65536); }).find(readOnly + "would be open for reading only"),
              std::string::npos);
    t.Close();
    t.Open();
    EXPECT_EQ(EngineWalk(ix2).size(), 1u);
}

// Every builder: FOR, Unique keeping the lowest record, sizes of small files, OnSubNtx
// rewriting and dropping keys, OnSubIndex seeing keys in order, and no file left over.
TEST_F(NtxBuild, EveryBuilderKeepsForUniqueAndEvents) {
    Open();
    for (const TBuilder& b : Builders()) {
        SCOPED_TRACE(b.Name);
        THXNTXIndex& empty = Index("E.NTX", "NAME");
        b.Build(empty);
        EXPECT_EQ(fs::file_size(dir.File("E.NTX")), 2048u);
        DropIndexes();
    }
    for (int i = 0; i < 10; ++i) Add("K" + std::to_string(9 - i), i - 4, 1990 + i);
    for (int i = 0; i < 30; ++i) Add("K" + std::to_string(i % 7), 100 + i, 2000 + i);
    for (const TBuilder& b : Builders()) {
        SCOPED_TRACE(b.Name);
        THXNTXIndex& ten = Index("TEN.NTX", "NAME", "QTY < 50");
        b.Build(ten);
        EXPECT_EQ(fs::file_size(dir.File("TEN.NTX")), 2048u);
        EXPECT_EQ(EngineWalk(ten).size(), 10u);
        THXNTXIndex& pos = Index("POS.NTX", "NAME", "QTY > 0");
        b.Build(pos);
        for (const TEntry& e : EngineWalk(pos)) EXPECT_TRUE(e.RecNo > 10 || e.RecNo >= 6) << e.RecNo;
        EXPECT_EQ(EngineWalk(pos).size(), 5u + 30u);
        THXNTXIndex& uni = Index("UNI.NTX", "NAME", "", true);
        b.Build(uni);
        std::vector<std::uint32_t> recs;
        for (const TEntry& e : EngineWalk(uni)) recs.push_back(e.RecNo);
        // K0..K9 first appear as records 10..1.
        EXPECT_EQ(recs, (std::vector<std::uint32_t>{10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
        THXNTXIndex& ev = Index("EV.NTX", "NAME");
        ev.OnSubNtx = [](THXNTXIndex*, std::string& key, std::uint32_t rec, bool& accept) {
            accept = rec % 2 == 0;
            key = "Z" + std::to_string(100 - rec);  // shorter than the key: padded back
        };
        std::vector<std::string> seen;
        ev.OnSubIndex = [&](THXNTXIndex*, std::string& key, std::uint32_t, int&) { seen.push_back(key); };
        b.Build(ev);
        ASSERT_EQ(seen.size(), 20u);
        EXPECT_EQ(seen.front(), "Z60       ");
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
        EXPECT_EQ(EngineWalk(ev).size(), 20u);
        ev.OnSubIndex = [](THXNTXIndex*, std::string&, std::uint32_t, int& code) { code = 3; };
        EXPECT_THROW(b.Build(ev), Exception);
        EXPECT_FALSE(ev.IsOpen());
        EXPECT_THROW(ev.Open(), Exception);
        DropIndexes();
        EXPECT_EQ(dir.Names(), (std::vector<std::string>{"E.NTX", "EV.NTX", "POS.NTX", "T.DBF", "TEN.NTX", "UNI.NTX"}));
    }
}

// 20,000 random records: every builder gives the insertion builder's order for character,
// numeric (negatives too) and date keys, both directions and one collated key; the trees
// verify, and Perl XBase reads the same order.
TEST_F(NtxBuild, BuildersAgreeOnTwentyThousandRandomKeys) {
    Open();
    std::mt19937 rng(23);
    for (int i = 0; i < 20000; ++i) {
        std::string name;
        for (int k = 0, n = 1 + static_cast<int>(rng() % 10); k < n; ++k)
            name += "abcXYZ019 \xE0\xE1\xC0"[rng() % 13];
        Add(name, (static_cast<int>(rng() % 200000) - 100000) / 100.0, 1901 + static_cast<int>(rng() % 198));
    }
    struct TCase {
        const char* Key;
        bool Desc;
        THXCollationTypes Coll;
        THXHashTypeForTreeSorters Hash = httsDefault;
    };
    const bool perl = HavePerlXBase();
    for (const TCase& c : {TCase{"NAME", false, cltNone}, TCase{"NAME", true, cltNone}, TCase{"QTY", false, cltNone},
                           TCase{"QTY", true, cltNone}, TCase{"BORN", false, cltNone}, TCase{"BORN", true, cltNone},
                           TCase{"NAME", false, cltGermanCollation}, TCase{"QTY", false, cltNone, htts1024}}) {
        SCOPED_TRACE(std::string(c.Key) + (c.Desc ? " desc" : "") + (c.Coll ? " collated" : "") +
                     (c.Hash != httsDefault ? " hashed" : ""));
        std::vector<TEntry> reference;
        for (const TBuilder& b : Builders(16384)) {
            SCOPED_TRACE(b.Name);
            THXNTXIndex& ix = Index("R.NTX", c.Key, "", false, c.Desc);
            ix.SetCollationType(c.Coll);
            ix.SetHashTypeForTreeSorters(c.Hash);
            b.Build(ix);
            EXPECT_TRUE(ix.VerifyIndex().empty());
            const std::vector<TEntry> walk = EngineWalk(ix);
            ASSERT_EQ(walk.size(), 20000u);
            if (reference.empty()) reference = walk;
            EXPECT_TRUE(walk == reference) << b.Name;
            if (perl && c.Coll == cltNone && !c.Desc) {
                EXPECT_TRUE(PerlWalk(dir.File("R.NTX")) == walk);
            }
            DropIndexes();
        }
    }
}

// CreateCompactIndex with blocks of 30 keys: about 170 runs, duplicates spread over them,
// ordered as the insertion builder orders (Unique, Desc); the runs lie in TmpPath and are gone
// afterwards.
TEST_F(NtxBuild, CompactBuildMergesManyRunsAsInsertionOrders) {
    Open();
    for (int i = 0; i < 5000; ++i) Add("K" + std::to_string(i * 37 % 900), i, 1990);
    const std::string tmp = dir.File("tmp");
    fs::create_directory(tmp);
    auto files = [&] { return std::distance(fs::directory_iterator(tmp), fs::directory_iterator()); };
    for (const auto& [unique, desc] : {std::pair{false, false}, {true, false}, {true, true}}) {
        SCOPED_TRACE(std::string(unique ? "unique" : "") + (desc ? " desc" : ""));
        THXNTXIndex& ref = Index("REF.NTX", "NAME", "", unique, desc);
        ref.CreateIndex(true, 65536);
        const std::vector<TEntry> want = EngineWalk(ref);
        THXNTXIndex& ix = Index("C.NTX", "NAME", "", unique, desc);
        ix.OuterSorterProperties().SetTmpPath(tmp);
        std::ptrdiff_t runFiles = 0;
        ix.OnSubIndex = [&](THXNTXIndex*, std::string&, std::uint32_t, int&) { if (!runFiles) runFiles = files(); };
        ix.CreateCompactIndex(30 * 16 + 14 + 4, true);
        EXPECT_GE(runFiles, 2);  // the two runs of the last merge
        EXPECT_TRUE(EngineWalk(ix) == want) << Show(EngineWalk(ix)).substr(0, 400);
        EXPECT_EQ(want.size(), unique ? 900u : 5000u);
        EXPECT_TRUE(ix.VerifyIndex().empty());
        EXPECT_EQ(files(), 0);
        DropIndexes();
    }
}

// Every open of a compact build in memory made to fail in turn: a run that cannot be opened
// fails with its reader's message, leaving no temporary file and an index that does not open.
TEST_F(NtxBuild, CompactRunThatCannotBeOpenedFailsCleanly) {
    Open();
    for (int i = 0; i < 200; ++i) Add("K" + std::to_string(i % 70), i, 1990);
    t.Close();
    TMemEnv env;
    env.AddDirectory("/d/");
    env.SetContents("/d/T.DBF", testutil::ReadFile(table));
    THXDBFNTX m;
    m.SetEnv(env);
    m.SetDBFFileName("/d/T.DBF");
    m.AccessMode().SetAccessMode(kExclusive);
    m.Open();
    std::set<std::string> seen;
    for (int nth = 1;; ++nth) {
        ASSERT_LT(nth, 200);
        THXNTXIndex& ix = m.Indexes().Add();
        ix.SetNTXFileName("/d/X.NTX");
        ix.SetKeyExpresion("NAME");
        ix.SetUnique(true);
        env.FailNth(TEnvOp::Open, nth, ENOENT);
        // 20 keys a block: 10 runs
        const std::string message = testutil::Message([&] { ix.CreateCompactIndex(20 * 16 + 18, true); });
        env.ClearFaults();
        for (const auto& [name, bytes] : env.Files()) EXPECT_EQ(name.find("HXT"), std::string::npos) << name;
        if (message == "(no exception)") {
            EXPECT_EQ(EngineWalk(ix).size(), 70u);
            break;
        }
        if (const std::size_t q = message.find(" \"/d/HXT"); q != std::string::npos) {
            seen.insert(message.substr(0, q));
            if (message.find("Open Error") != std::string::npos) {
                EXPECT_EQ(message.back(), '"') << message;
            }
            EXPECT_THROW(ix.Open(), Exception) << message;
        }
        m.Indexes().Remove(ix);
    }
    EXPECT_EQ(seen, (std::set<std::string>{"THXNTXBlockIterator.Open: Open Error", "THXNTXIterator.Open: Open Error",
                                            "THXNTXIndex.CreateCompactIndex: Can not open temporary file"}));
}

// The bottom-up builder reproduces files written by another program, apart from the order
// name (bytes 538-549).
TEST(NtxBuildCorpus, CompactBuilderReproducesRealFiles) {
    for (const char* name : {"xsharp/RddTests/TESTNTX2", "xsharp/Explorer/Custnum", "xsharp/Explorer/Custname"}) {
        SCOPED_TRACE(name);
        const fs::path src = testutil::CorpusDir();
        const std::string n(name);
        const std::string ntx = n.find("TESTNTX2") != std::string::npos ? n + ".NTX" : n + ".ntx";
        const std::string dbf = n.find("TESTNTX2") != std::string::npos ? n + ".DBF" : "xsharp/Explorer/Customer.dbf";
        if (!fs::exists(src / ntx)) GTEST_SKIP() << "corpus not found at " << src;
        testutil::TempDir dir;
        fs::copy_file(src / dbf, dir.File("T.DBF"));
        fs::permissions(dir.File("T.DBF"), fs::perms::owner_read | fs::perms::owner_write);
        const std::string original = testutil::ReadFile((src / ntx).string());
        // The original's header says what to build.
        THXDBFNTX t;
        t.SetDBFFileName(dir.File("T.DBF"));
        t.AccessMode().SetAccessMode(kExclusive);
        t.Open();
        THXNTXIndex& ix = t.Indexes().Add();
        ix.SetNTXFileName(dir.File("OUT.NTX"));
        ix.SetKeyExpresion(std::string(original.data() + 22));
        ix.SetForExpresion(std::string(original.data() + 282));
        ix.SetUnique(original[278] != 0);
        ix.SetDesc(original[280] != 0);
        ix.SetClipperVer(original[0] == 7 ? v520 : v500);
        ix.CreateCompactIndex(65536, true);
        ix.Close();
        std::string built = testutil::ReadFile(dir.File("OUT.NTX"));
        ASSERT_EQ(built.size(), original.size());
        for (std::size_t i = 538; i < 550; ++i) built[i] = original[i];
        EXPECT_EQ(testutil::Hex(built.substr(0, 1024)), testutil::Hex(original.substr(0, 1024)));
        EXPECT_TRUE(built == original);
    }
}

}  // namespace
}  // namespace zarbel
