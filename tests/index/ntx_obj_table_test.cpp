// The index object with its table, on copies of the corpus's TEST1ANSI.DBF and its NUMFIELD
// index TEST1ANSI2.NTX (keys "001".."255", record n holding n; six pages, two levels): seeks,
// the key range, activation by name, the index lock, the write-behind block, damaged pairs
// and VerifyIndex's findings.
#include <gtest/gtest.h>

#include <filesystem>

#include "index/HXDBFNTX.h"
#include "platform/env.h"
#include "platform/exception.h"
#include "testutil/corpus.h"
#include "testutil/platform_helpers.h"
#include "testutil/temp_dir.h"

namespace zarbel {
namespace {

namespace fs = std::filesystem;

constexpr int kRecLen = 22;
constexpr int kHeaderLen = 130;

class NtxTable : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path dir = testutil::CorpusDir() / "xsharp/VO/German";
        if (!fs::exists(dir / "TEST1ANSI2.NTX")) GTEST_SKIP() << "corpus not found at " << testutil::CorpusDir();
        fs::copy_file(dir / "TEST1ANSI.DBF", table);
        fs::copy_file(dir / "TEST1ANSI2.NTX", ntx);
    }
    // The table with the index (active), in blocks of 5 records.
    THXNTXIndex& Open(std::uint32_t mode = 0, bool active = true) {
        t.SetDBFFileName(table);
        t.SetBufferSize(kRecLen * 5);
        t.AccessMode().SetAccessMode(mode);
        THXNTXIndex& ix = t.Indexes().Add();
        ix.SetNTXFileName(ntx);
        if (active) ix.SetActive(true);
        t.Open();
        return ix;
    }
    std::vector<int> Walk() {
        std::vector<int> r;
        for (t.First(); !t.Eof(); t.Next()) r.push_back(t.RecNo());
        return r;
    }
    // Keeps the first n records of the table file (and its end-of-file byte).
    void CutTable(int n) {
        std::string b = testutil::ReadFile(table);
        b.resize(static_cast<std::size_t>(kHeaderLen + n * kRecLen));
        b += '\x1A';
        testutil::WriteFile(table, b);
    }
    std::string Corrupt() const { return "THXNTXIndex: Index file \"" + ntx + "\" is corrupt: "; }

    testutil::TempDir dir;
    const std::string table = dir.File("TEST1ANSI.DBF");
    const std::string ntx = dir.File("TEST1ANSI2.NTX");
    THXDBFNTX t;
};

TEST_F(NtxTable, SeekExactSoftAndPartial) {
    THXNTXIndex& ix = Open();
    EXPECT_TRUE(ix.Seek("100", false));
    EXPECT_EQ(ix.CurrentRecNo(), 100u);
    EXPECT_EQ(ix.CurrentKey(), "100");
    // soft: the first key above, or no position at all
    EXPECT_FALSE(ix.Seek("09a", true));
    EXPECT_EQ(ix.CurrentRecNo(), 100u);
    EXPECT_FALSE(ix.Seek("25a", true));
    EXPECT_FALSE(ix.Seek("25a", false));
    // a key shorter than the key size finds nothing unless partial or soft
    EXPECT_EQ(ix.FindKey("12", false, 0, false), 0u);
    EXPECT_EQ(ix.FindKey("12", false, 0, true), 120u);
    EXPECT_EQ(ix.FindKey("12a", true, 0, false), 130u);
    // the table's own key search goes through the current index
    EXPECT_EQ(t.IndexOrder()->Seek(reinterpret_cast<const std::uint8_t*>("042"), 3, false), 42u);
}

TEST_F(NtxTable, RangeLimitsTheWalk) {
    THXNTXIndex& ix = Open();
    ix.NTXRange().SetLoKey("010");
    ix.NTXRange().SetHiKey("02");  // over its own two bytes: up to "029"
    ix.NTXRange().SetActive(true);
    std::vector<int> want;
    for (int i = 10; i <= 29; ++i) want.push_back(i);
    EXPECT_EQ(Walk(), want);
    ix.NTXRange().SetHiKey("");  // no key is in range
    EXPECT_TRUE(Walk().empty());
    ix.NTXRange().SetActive(false);
    EXPECT_EQ(Walk().size(), 255u);
}

TEST_F(NtxTable, ActivationByNameAndBack) {
    THXNTXIndex& ix = Open(0, false);
    EXPECT_EQ(t.IndexName(), "");
    t.SetRecNo(77);
    t.SetIndexName("nosuch");
    EXPECT_EQ(t.IndexName(), "");
    t.SetIndexName("test1ansi2");  // letters a-z compared upper-cased
    EXPECT_EQ(t.IndexName(), "TEST1ANSI2");
    EXPECT_TRUE(ix.Active());
    EXPECT_EQ(t.RecNo(), 77);  // the index holds the record: the table stays on it
    t.Next();
    EXPECT_EQ(t.RecNo(), 78);
    ix.SetActive(false);
    EXPECT_EQ(t.IndexName(), "");
    EXPECT_EQ(t.RecNo(), 78);
    // the collation is set only while the index is closed
    EXPECT_EQ(testutil::Message([&] { ix.SetCollationType(cltCustom); }),
              "TIndex.SetCollationType: You can set collation type only when index is not open!");
}

TEST_F(NtxTable, ReadersTakeASharedLockAndWaitForAWriter) {
    THXNTXIndex& ix = Open(0x40);  // read, deny none: the lock bytes are used
    t.SetWaitBusyRes(1);
    TEnv& env = TEnv::Default();
    TEnvHandle other(env, env.Open(ntx, faReadWrite, TShareLock::None));
    ASSERT_NE(other.Get(), kInvalidHandle);
    // another reader's shared lock on the Clipper index byte does not stop us
    ASSERT_TRUE(env.LockRange(other.Get(), 1000000000, 1, false));
    EXPECT_EQ(Walk().size(), 255u);
    // a writer's does: the read message, never "not found"
    ASSERT_TRUE(env.UnlockRange(other.Get(), 1000000000, 1));
    ASSERT_TRUE(env.LockRange(other.Get(), 1000000000, 1, true));
    EXPECT_EQ(testutil::Message([&] { t.First(); }),
              "TDBFDataSet: Can not read from index file (FLock is false).");
    EXPECT_THROW(ix.Seek("100", false), Exception);
    ASSERT_TRUE(env.UnlockRange(other.Get(), 1000000000, 1));
    EXPECT_TRUE(ix.Seek("100", false));
    EXPECT_FALSE(ix.Bag()->Stream().AccessMode().OpenReadWrite());
}

TEST_F(NtxTable, NoSharingTakesNoByteLocks) {
    THXNTXIndex& ix = Open(0);
    const std::uint64_t before = ix.Bag()->Stream().PlatformLockCalls();
    EXPECT_EQ(Walk().size(), 255u);
    EXPECT_TRUE(ix.Seek("200", false));
    ix.VerifyIndex();
    EXPECT_EQ(ix.Bag()->Stream().PlatformLockCalls(), before);
    // and it holds the file's lock over every protocol's bytes while open
    TEnv& env = TEnv::Default();
    TEnvHandle other(env, env.Open(ntx, faReadWrite, TShareLock::None));
    EXPECT_FALSE(env.LockRange(other.Get(), 1000000000, 1, true));
}

TEST_F(NtxTable, WriteBehindBlockIsWrittenBeforeIndexReads) {
    CutTable(254);
    Open(2, false);  // read and write, nobody else: appends gather in a block
    t.Append();
    t.FieldByName("NUMFIELD").SetAsInteger(255);
    t.Post();
    ASSERT_EQ(fs::file_size(table), static_cast<std::uintmax_t>(kHeaderLen + 254 * kRecLen + 1));  // still gathered
    t.Indexes()[0].SetActive(true);
    const std::vector<int> recs = Walk();
    ASSERT_EQ(recs.size(), 255u);
    EXPECT_EQ(recs.back(), 255);
    EXPECT_GE(fs::file_size(table), static_cast<std::uintmax_t>(kHeaderLen + 255 * kRecLen));
    EXPECT_EQ(t.Indexes()[0].VerifyIndex().size(), 0u);
}

TEST_F(NtxTable, RecordNumbersPastTheTableAreACorruption) {
    CutTable(200);
    THXNTXIndex& ix = Open();
    EXPECT_EQ(testutil::Message([&] { Walk(); }),
              Corrupt() + "record number 201 is outside 1..200");
    EXPECT_EQ(testutil::Message([&] { ix.VerifyIndex(); }),
              Corrupt() + "record number 201 is outside 1..200");
}

TEST_F(NtxTable, VerifyFindsAWrongKeyAndAMissingRecord) {
    std::string b = testutil::ReadFile(table);
    const std::size_t numAt = kHeaderLen + 6 * kRecLen + 1 + 10;  // record 7, NUMFIELD
    b.replace(numAt, 3, "300");
    testutil::WriteFile(table, b);
    {
        THXNTXIndex& ix = Open();
        EXPECT_EQ(testutil::Message([&] { ix.VerifyIndex(); }),
                  "THXNTXIndex.VerifyIndex: For recNo = 7 key must be 300 , but was 007");
        t.Close();
    }
    b.replace(numAt, 3, "  7");
    b.pop_back();  // the end-of-file byte: one more record after the last
    b += b.substr(kHeaderLen, kRecLen) + '\x1A';
    testutil::WriteFile(table, b);
    t.Open();
    EXPECT_EQ(testutil::Message([&] { t.Indexes()[0].VerifyIndex(); }),
              "THXNTXIndex.VerifyIndex: ItemCount in index 255, but record count in dbf 256");
}

TEST_F(NtxTable, AWrongPasswordIsCaughtByThePageChecks) {
    t.Crypt().SetCryptMethod(cmXOR);
    t.Crypt().SetPassword("wrong");
    t.Crypt().SetActive(true);
    const std::string message = testutil::Message([&] { Open().VerifyIndex(); });
    EXPECT_EQ(message.rfind(Corrupt(), 0), 0u) << message;
}

TEST_F(NtxTable, BagMessages) {
    // a missing file: the bag's open error, and the table stays closed
    t.SetDBFFileName(table);
    t.AccessMode().SetAccessMode(0);
    THXNTXIndex& ix = t.Indexes().Add();
    ix.SetNTXFileName(dir.File("missing.ntx"));
    EXPECT_EQ(testutil::Message([&] { t.Open(); }),
              "THXNTXBag.Open: Open error \"" + dir.File("missing.ntx") + "\"");
    EXPECT_FALSE(t.Active());
    t.Indexes().Remove(ix);
    // a bag of the definitions opens with the table; an outer stream it does not have refuses
    THXNTXBag& bag = t.DBFIndexDefs().Add();
    EXPECT_EQ(bag.Name(), "THXDBFIndexBag0");  // the removed index took its own bag along
    bag.SetIndexFileName(ntx);
    EXPECT_EQ(bag.Name(), "TEST1ANSI2");
    t.Open();
    EXPECT_TRUE(bag.IsOpen());
    EXPECT_EQ(bag.Order().Name(), "test1Ans");  // the header's order name, 8 characters
    EXPECT_EQ(bag.Order().KeyExpresion(), "NUMFIELD");
    t.Close();
    EXPECT_FALSE(bag.IsOpen());
    bag.SetStorageType(pstOuterStream);
    EXPECT_EQ(testutil::Message([&] { t.Open(); }),
              "THXNTXBag.Open: StorageType = pstOuterStream but OuterStream = nil!");
    EXPECT_EQ(testutil::Message([&] { bag.AddOrder(); }),
              "THXNTXOrder.Create: NTX bag can not content more then one order!");
}

}  // namespace
}  // namespace zarbel
