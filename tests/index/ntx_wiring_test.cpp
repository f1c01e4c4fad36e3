// Indexes kept current by their table: a new empty index, appends, edits, deletions and packs
// on tables with several open indexes (Unique, FOR; character, numeric, date keys) in four
// dialects, checked after every step by VerifyIndex and by Perl XBase reading the files; a
// foreign file updated in place; enciphered indexes; the edit snapshot; the index events.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "ntx_core_util.h"
#include "ntx_wiring_util.h"
#include "platform/exception.h"
#include "testutil/corpus.h"
#include "testutil/platform_helpers.h"
#include "testutil/temp_dir.h"

namespace zarbel {
namespace {

namespace fs = std::filesystem;
using namespace wiringtest;
using testutil::Hex;
using ntxtest::Get16;
using ntxtest::Get32;

// ---------------------------------------------------------------------------------------
// A foreign file updated in place
// ---------------------------------------------------------------------------------------

TEST(NtxWiring, ForeignFileTakesEighteenBlankKeysInPlace) {
    const fs::path src = testutil::CorpusDir() / "xsharp/VO";
    if (!fs::exists(src / "test2Ansi1.ntx")) GTEST_SKIP() << "corpus not found at " << testutil::CorpusDir();
    if (!HavePerlXBase()) GTEST_SKIP() << "Perl XBase not installed";
    testutil::TempDir dir;
    const std::string table = dir.File("TEST2ANSI.DBF"), ntx = dir.File("test2Ansi1.ntx");
    fs::copy_file(src / "TEST2ANSI.DBF", table);
    fs::copy_file(src / "test2Ansi1.ntx", ntx);
    fs::permissions(table, fs::perms::owner_write, fs::perm_options::add);
    fs::permissions(ntx, fs::perms::owner_write, fs::perm_options::add);
    const std::string before = testutil::ReadFile(ntx);
    ASSERT_EQ(Get32(before, 8), 5120u);  // one free page, at 5120
    {
        THXDBFNTX t;
        t.SetDBFFileName(table);
        t.AccessMode().SetAccessMode(kShared);
        THXNTXIndex& ix = t.Indexes().Add();
        ix.SetNTXFileName(ntx);
        t.Open();
        const int count = t.RecordCount();
        for (int i = 1; i <= 18; ++i) {
            t.Append();
            t.Post();
            const std::string now = testutil::ReadFile(ntx);
            // the file grows only by the 18th key's split, which takes the free page instead
            EXPECT_EQ(now.size(), before.size());
            EXPECT_EQ(Get32(now, 8), i < 18 ? 5120u : 0u) << "after key " << i;
        }
        EXPECT_EQ(t.RecordCount(), count + 18);
        EXPECT_NO_THROW(ix.VerifyIndex());
        EXPECT_EQ(ix.VerifiedKeys(), 242u);
        const std::vector<TEntry> ours = EngineWalk(ix);
        ASSERT_EQ(ours.size(), 242u);
        // the new blank keys follow each other in record order, the page at 5120 holds some
        const std::string blank = Hex(std::string(10, ' '));
        std::vector<std::uint32_t> blanks;
        for (const TEntry& e : ours)
            if (e.KeyHex == blank) blanks.push_back(e.RecNo);
        ASSERT_GE(blanks.size(), 18u);
        EXPECT_TRUE(std::is_sorted(blanks.begin(), blanks.end()));
        EXPECT_EQ(blanks.back(), static_cast<std::uint32_t>(count + 18));
        const std::string after = testutil::ReadFile(ntx);
        EXPECT_EQ(Get16(after, 2), Get16(before, 2) + 18);            // one version per append
        EXPECT_EQ(Get16(after, 5120), 25);  // the split leaf's upper half, in the page freed before
        EXPECT_EQ(Show(PerlWalk(ntx)), Show(ours));
    }
}

// ---------------------------------------------------------------------------------------
// Creating an empty index
// ---------------------------------------------------------------------------------------

class NtxWiringTable : public ::testing::Test {
protected:
    void SetUp() override { CreateTable(table, xClipper); }
    void Open(std::uint32_t mode = kShared) {
        t.SetDBFFileName(table);
        t.AccessMode().SetAccessMode(mode);
        t.Open();
    }
    void Add(const std::string& name, double qty, int year, const std::string& note = "") {
        t.Append();
        t.FieldByName("NAME").SetAsString(name);
        t.FieldByName("QTY").SetAsFloat(qty);
        t.FieldByName("BORN").SetAsDateTime(EncodeDate(year, 1 + year % 12, 1 + year % 28));
        t.FieldByName("NOTE").SetAsString(note);
        t.Post();
    }
    testutil::TempDir dir;
    const std::string table = dir.File("T.DBF");
    THXDBFNTX t;
};

TEST_F(NtxWiringTable, NewIndexIsHeaderAndOneEmptyRoot) {
    Open();
    THXNTXIndex& ix = t.Indexes().Add();
    ix.SetNTXFileName(dir.File("NAMEQ.NTX"));
    ix.SetKeyExpresion("NAME+STR(QTY,8,2)");
    ix.SetForExpresion("QTY > 0");
    ix.SetClipperVer(v520);
    ix.SetOrder("CUSTOMERS1");
    ix.CreateIndex();
    EXPECT_TRUE(ix.IsOpen());
    EXPECT_EQ(ix.KeySize(), 18);
    const std::string b = testutil::ReadFile(dir.File("NAMEQ.NTX"));
    ASSERT_EQ(b.size(), 2048u);
    EXPECT_EQ(Get16(b, 0), 7);  // v520
    EXPECT_EQ(Get16(b, 2), 1);
    EXPECT_EQ(Get32(b, 4), 1024u);
    EXPECT_EQ(Get32(b, 8), 0u);
    EXPECT_EQ(Get16(b, 12), 26);
    EXPECT_EQ(Get16(b, 14), 18);
    EXPECT_EQ(Get16(b, 16), 0);
    EXPECT_EQ(Get16(b, 18), 34);  // (1020 - 26) div 28 = 35, even: 34
    EXPECT_EQ(Get16(b, 20), 17);
    EXPECT_EQ(std::string(b.data() + 22), "NAME+STR(QTY,8,2)");
    EXPECT_EQ(std::string(b.data() + 282), "QTY > 0");
    EXPECT_EQ(std::string(b.data() + 538), "CUSTOMER");
    EXPECT_EQ(Get16(b, 1024), 0);  // empty root
    EXPECT_EQ(Get16(b, 1026), 2 * Get16(b, 18) + 4);
}

TEST_F(NtxWiringTable, CreateRefusesKeySizesAndLongExpressions) {
    Open();
    THXNTXIndex& ix = t.Indexes().Add();
    ix.SetNTXFileName(dir.File("BAD.NTX"));
    ix.SetKeyExpresion("NAME");
    const std::string where = "THXNTXIndex.CreateIndex: Index file \"" + dir.File("BAD.NTX") + "\": ";
    for (int size : {0, 331}) {
        ix.OnCreateIndex = [&](THXNTXIndex*, TIndexAttributes& a) { a.KeySize = static_cast<std::uint16_t>(size); };
        EXPECT_EQ(testutil::Message([&] { ix.CreateIndex(); }),
                  where + "key size " + std::to_string(size) + " is outside 1..330");
    }
    ix.OnCreateIndex = [](THXNTXIndex*, TIndexAttributes& a) { a.ForExpresion = std::string(256, 'X'); };
    EXPECT_THROW(ix.CreateIndex(), Exception);
    EXPECT_FALSE(fs::exists(dir.File("BAD.NTX")));
    // what the handler leaves goes into the header
    ix.OnCreateIndex = [](THXNTXIndex*, TIndexAttributes& a) {
        EXPECT_EQ(a.KeySize, 10);
        a.KeySize = 4;
        a.KeyExpresion = "LEFT(NAME,4)";
    };
    ix.CreateIndex();
    EXPECT_EQ(ix.KeySize(), 4);
    EXPECT_EQ(ix.KeyExpresion(), "LEFT(NAME,4)");
}

// ---------------------------------------------------------------------------------------
// Appends, edits, deletions and packs in four dialects
// ---------------------------------------------------------------------------------------

class NtxWiringDialect : public ::testing::TestWithParam<std::tuple<xBaseVersion, std::uint32_t>> {};

TEST_P(NtxWiringDialect, AppendEditDeletePackKeepThreeIndexesCurrent) {
    if (!HavePerlXBase()) GTEST_SKIP() << "Perl XBase not installed";
    const auto [version, mode] = GetParam();
    testutil::TempDir dir;
    const std::string table = dir.File("T.DBF");
    CreateTable(table, version);
    THXDBFNTX t;
    t.SetDBFFileName(table);
    t.SetBufferSize(23 * 7);
    t.AccessMode().SetAccessMode(mode);
    t.Open();
    THXNTXIndex& byName = NewIndex(t, dir.File("NAME.NTX"), "NAME", "", true);
    THXNTXIndex& byQty = NewIndex(t, dir.File("QTY.NTX"), "QTY", "QTY < 40");
    THXNTXIndex& byDate = NewIndex(t, dir.File("BORN.NTX"), "BORN");
    byDate.SetDeleteKeyStyle(dksApolloHalcyon);
    THXNTXIndex* all[] = {&byName, &byQty, &byDate};
    auto check = [&](const char* step) {
        SCOPED_TRACE(step);
        // every index against its table, and Perl XBase reading the files as the engine walks them
        for (THXNTXIndex* ix : all) EXPECT_NO_THROW(ix->VerifyIndex()) << ix->Name();
        // an exclusive writer writes its indexes when it closes
        if (mode == kExclusive) {
            t.Close();
            std::vector<std::string> perl;
            for (THXNTXIndex* ix : all) perl.push_back(Show(PerlWalk(ix->NTXFileName())));
            t.Open();
            for (int i = 0; i < 3; ++i) EXPECT_EQ(perl[i], Show(EngineWalk(*all[i]))) << all[i]->Name();
        } else {
            for (THXNTXIndex* ix : all) EXPECT_EQ(Show(PerlWalk(ix->NTXFileName())), Show(EngineWalk(*ix))) << ix->Name();
        }
        // what each should hold, from the records
        std::set<std::string> names;
        std::size_t below = 0;
        t.SetIndexName("");
        byName.SetActive(false);
        for (t.First(); !t.Eof(); t.Next()) {
            names.insert(t.FieldByName("NAME").AsString());
            below += t.FieldByName("QTY").AsFloat() < 40;
        }
        // a Unique index holds the first record of each key as it arrived: an edit that moves
        // that record to another key leaves the key's other records out
        if (std::string(step) == "append")
            EXPECT_EQ(byName.VerifiedKeys(), names.size());
        else
            EXPECT_LE(byName.VerifiedKeys(), names.size());
        EXPECT_EQ(byQty.VerifiedKeys(), below);
        EXPECT_EQ(byDate.VerifiedKeys(), static_cast<std::uint64_t>(t.RecordCount()));
    };
    // 300 appends: names repeat (the Unique index takes the first of each), numbers from -149.5
    for (int i = 1; i <= 300; ++i) {
        t.Append();
        t.FieldByName("NAME").SetAsString("N" + std::to_string(i % 97));
        t.FieldByName("QTY").SetAsFloat((i * 37 % 300) - 149.5);
        t.FieldByName("BORN").SetAsDateTime(EncodeDate(1900 + i * 7 % 120, 1 + i % 12, 1 + i % 28));
        t.Post();
    }
    check("append");
    // edits: keys changed, keys unchanged, a record moving out of the FOR condition
    for (int r = 1; r <= 300; r += 7) {
        t.SetRecNo(r);
        t.Edit();
        if (r % 3 == 0) t.FieldByName("NAME").SetAsString("E" + std::to_string(r));
        if (r % 3 == 1) t.FieldByName("QTY").SetAsFloat(r % 2 ? 99 : -r);
        t.FieldByName("NOTE").SetAsString("ed");
        t.Post();
    }
    check("edit");
    // marking deleted changes no index; the pack then drops those records
    for (int r = 2; r <= 300; r += 5) {
        t.SetRecNo(r);
        t.Delete();
    }
    check("delete");
    t.Pack();
    EXPECT_EQ(t.RecordCount(), 240);
    check("pack");
    // and the table goes on taking records after the pack
    for (int i = 0; i < 60; ++i) {
        t.Append();
        t.FieldByName("NAME").SetAsString("P" + std::to_string(i));
        t.FieldByName("QTY").SetAsFloat(-i);
        t.Post();
    }
    check("append after pack");
    t.Close();
    // the files as closed read the same again
    t.Open();
    check("reopened");
}

std::string DialectName(const ::testing::TestParamInfo<std::tuple<xBaseVersion, std::uint32_t>>& info) {
    static const char* const names[] = {"", "Clipper", "dBaseIII", "dBaseIV", "", "", "FoxPro"};
    return std::string(names[std::get<0>(info.param)]) + (std::get<1>(info.param) == kShared ? "Shared" : "Exclusive");
}

INSTANTIATE_TEST_SUITE_P(Dialects, NtxWiringDialect,
                         ::testing::Combine(::testing::Values(xBaseIII, xClipper, xBaseIV, xFoxPro),
                                            ::testing::Values(kShared, kExclusive)),
                         DialectName);

// ---------------------------------------------------------------------------------------
// The edit snapshot and the cursor after a post
// ---------------------------------------------------------------------------------------

TEST_F(NtxWiringTable, EditThatChangesNoKeyAndDeletionTouchNoIndex) {
    Open();
    NewIndex(t, dir.File("NAME.NTX"), "NAME");
    for (int i = 0; i < 5; ++i) Add("n" + std::to_string(i), i, 1990);
    const std::string before = testutil::ReadFile(dir.File("NAME.NTX"));
    t.SetRecNo(3);
    t.Edit();
    t.FieldByName("NOTE").SetAsString("x");
    t.Post();
    t.SetRecNo(4);
    t.Delete();
    EXPECT_EQ(testutil::ReadFile(dir.File("NAME.NTX")), before);  // not even the version moved
    t.SetRecNo(3);
    t.Edit();
    t.FieldByName("NAME").SetAsString("zz");
    t.Post();
    EXPECT_EQ(Get16(testutil::ReadFile(dir.File("NAME.NTX")), 2), Get16(before, 2) + 1);
}

TEST_F(NtxWiringTable, UniqueActiveOrderShowsTheRecordItHolds) {
    Open();
    THXNTXIndex& ix = NewIndex(t, dir.File("NAME.NTX"), "NAME", "", true);
    ix.SetActive(true);
    Add("a", 1, 1990);
    Add("b", 2, 1990);
    Add("a", 3, 1990);  // the index keeps record 1 for "a": the cursor goes there
    EXPECT_EQ(t.RecNo(), 1);
    t.SetRecNo(2);
    t.Edit();
    t.FieldByName("NAME").SetAsString("a");
    t.Post();
    EXPECT_EQ(t.RecNo(), 1);
    EXPECT_NO_THROW(ix.VerifyIndex());
    EXPECT_EQ(ix.VerifiedKeys(), 1u);
}

TEST_F(NtxWiringTable, ForActiveOrderSendsARecordItDoesNotHoldToTheFirst) {
    Open();
    THXNTXIndex& ix = NewIndex(t, dir.File("F.NTX"), "NAME", "QTY > 0");
    ix.SetActive(true);
    Add("m", 1, 1990);
    Add("c", 2, 1990);
    EXPECT_EQ(t.RecNo(), 2);
    Add("a", -1, 1990);  // not in the order: the table goes to its first record
    EXPECT_EQ(t.RecNo(), 2);
    EXPECT_EQ(t.FieldByName("NAME").AsString(), "c         ");
}

TEST_F(NtxWiringTable, FailedPackLeavesIndexesThatRefuseToOpen) {
    Open();
    NewIndex(t, dir.File("NAME.NTX"), "NAME");
    for (int i = 0; i < 30; ++i) Add("n" + std::to_string(i), i, 1990);
    t.SetRecNo(3);
    t.Delete();
    t.SetBufferSize(10);  // below one record: the pack fails after the indexes were emptied
    EXPECT_EQ(testutil::Message([&] { t.Pack(); }),
              "THXSmartDBF.Pack: Record size too large");
    t.Close();
    EXPECT_EQ(Get16(testutil::ReadFile(dir.File("NAME.NTX")), 0), 0);
    THXDBFNTX again;
    again.SetDBFFileName(table);
    THXNTXIndex& ix = again.Indexes().Add();
    ix.SetNTXFileName(dir.File("NAME.NTX"));
    EXPECT_EQ(testutil::Message([&] { again.Open(); }),
              "THXNTXIndex.Open: File \"" + dir.File("NAME.NTX") + "\" is not NTX file");
}

TEST_F(NtxWiringTable, ExclusiveWriterKeepsTheSignatureZeroUntilItCloses) {
    {
        Open();
        NewIndex(t, dir.File("NAME.NTX"), "NAME");
        t.Close();
    }
    THXNTXIndex& ix = t.Indexes()[0];
    ix.LimitPages().SetLimitBuffers(2);
    ix.LimitPages().SetLimitPagesType(lbtLimited);
    Open(kExclusive);
    for (int i = 0; i < 3000; ++i) Add("n" + std::to_string(i * 7919 % 3001), i, 1990);
    // pages went to disk on the way: a process killed now leaves a file that does not open
    EXPECT_EQ(Get16(testutil::ReadFile(dir.File("NAME.NTX")), 0), 0);
    t.Close();
    EXPECT_EQ(Get16(testutil::ReadFile(dir.File("NAME.NTX")), 0), 6);
    Open();
    EXPECT_NO_THROW(ix.VerifyIndex());
    EXPECT_EQ(ix.VerifiedKeys(), 3000u);
}

TEST_F(NtxWiringTable, ForValueChangeAloneMovesTheRecordInOrOut) {
    Open();
    THXNTXIndex& ix = NewIndex(t, dir.File("F.NTX"), "NAME", "QTY > 0");
    Add("a", 1, 1990);
    Add("b", -1, 1990);
    t.SetRecNo(1);
    t.Edit();
    t.FieldByName("QTY").SetAsFloat(-5);  // same key, out of the condition
    t.Post();
    t.SetRecNo(2);
    t.Edit();
    t.FieldByName("QTY").SetAsFloat(5);  // same key, into it
    t.Post();
    const std::vector<TEntry> want{{2, Hex("b         ")}};
    EXPECT_EQ(Show(EngineWalk(ix)), Show(want));
}

// ---------------------------------------------------------------------------------------
// Events, Temp, the write API
// ---------------------------------------------------------------------------------------

TEST_F(NtxWiringTable, EventsReplaceKeyConditionAndOrder) {
    Open();
    THXNTXIndex& ix = t.Indexes().Add();
    ix.SetNTXFileName(dir.File("EV.NTX"));
    ix.SetKeyExpresion("NAME");
    ix.SetTemp(true);
    // descending by the event's comparison (taken when the index opens)
    ix.OnCompareKeys = [](THXNTXIndex*, const char* a, const char* b, std::uint32_t n, int& c) {
        c = -std::memcmp(a, b, n);
    };
    ix.CreateIndex();
    int calls = 0;
    ix.OnEvaluteKey = [&](THXNTXIndex*, std::string& key) { key = "K" + std::to_string(++calls); };
    ix.OnEvaluteFor = [&](THXNTXIndex*, bool& v) { v = calls != 2; };
    for (int i = 0; i < 3; ++i) Add("x", 0, 1990);
    const std::vector<TEntry> want{{3, Hex("K3        ")}, {1, Hex("K1        ")}};
    EXPECT_EQ(Show(EngineWalk(ix)), Show(want));
    // the write API by hand, inside an update
    ix.OnEvaluteKey = nullptr;
    ix.OnEvaluteFor = nullptr;
    ix.BeginUpdate();
    EXPECT_TRUE(ix.AddKey("Zlonger than the key", 9));
    EXPECT_TRUE(ix.DeleteKey("K1", 1));
    EXPECT_FALSE(ix.DeleteKey("K1", 1));
    ix.EndUpdate();
    const std::vector<TEntry> now{{9, Hex("Zlonger th")}, {3, Hex("K3        ")}};
    EXPECT_EQ(Show(EngineWalk(ix)), Show(now));
    t.Close();
    EXPECT_FALSE(fs::exists(dir.File("EV.NTX")));  // Temp: deleted on close
}

// ---------------------------------------------------------------------------------------
// Enciphered tables
// ---------------------------------------------------------------------------------------

TEST(NtxWiring, EncipheredTableKeepsEncipheredIndexCurrent) {
    testutil::TempDir dir;
    const std::string table = dir.File("E.DBF"), ntx = dir.File("E.NTX");
    {
        THXDBFNTX t;
        t.Crypt().SetCryptMethod(cmGost);
        t.Crypt().SetPassword("secret");
        t.Crypt().SetActive(true);
        t.SetDBFFileName(table);
        t.SetDbfVersion(xBaseIV);
        THXDBFFieldDef& d = t.DBFFieldDefs().Add();
        d.SetName("NAME");
        d.Setfield_type('C');
        d.Setlen(12);
        t.CreateTable();
        t.Close();
        t.AccessMode().SetAccessMode(kShared);
        t.Open();
        NewIndex(t, ntx, "NAME");
        for (int i = 0; i < 200; ++i) {
            t.Append();
            t.FieldByName("NAME").SetAsString("plain" + std::to_string(i * 7919 % 1000));
            t.Post();
        }
        EXPECT_NO_THROW(t.Indexes()[0].VerifyIndex());
    }
    const std::string b = testutil::ReadFile(ntx);
    EXPECT_GT(b.size(), 2048u);
    EXPECT_EQ(b.find("plain"), std::string::npos);  // no page holds a key in clear
    {
        THXDBFNTX t;
        t.Crypt().SetCryptMethod(cmGost);
        t.Crypt().SetPassword("secret");
        t.Crypt().SetActive(true);
        t.SetDBFFileName(table);
        THXNTXIndex& ix = t.Indexes().Add();
        ix.SetNTXFileName(ntx);
        t.Open();
        EXPECT_NO_THROW(ix.VerifyIndex());
        EXPECT_EQ(ix.VerifiedKeys(), 200u);
    }
    {
        // without the password the pages are refused, nothing breaks
        THXDBFNTX t;
        t.SetDBFFileName(table);
        THXNTXIndex& ix = t.Indexes().Add();
        ix.SetNTXFileName(ntx);
        ix.SetActive(true);
        EXPECT_THROW(
            {
                t.Open();
                ix.VerifyIndex();
            },
            Exception);
    }
}

// A damaged file that holds one (key, record) entry twice: a table walking it through blocks
// of one record reaches its end instead of showing the copy forever.
TEST_F(NtxWiringTable, RepeatedEntryInAFileDoesNotStopTheWalk) {
    Open();
    NewIndex(t, dir.File("NAME.NTX"), "NAME");
    for (const char* name : {"A", "B", "C"}) Add(name, 1, 2000);
    t.Close();
    {
        std::string b = testutil::ReadFile(dir.File("NAME.NTX"));
        const std::size_t first = 1024 + Get16(b, 1024 + 2), second = 1024 + Get16(b, 1024 + 4);
        b.replace(second + 4, 14, b, first + 4, 14);  // entry 1 := entry 0 (record 1, key "A")
        testutil::WriteFile(dir.File("NAME.NTX"), b);
    }
    THXDBFNTX u;
    u.SetDBFFileName(table);
    u.SetBufferSize(33);  // one record per block
    THXNTXIndex& ix = u.Indexes().Add();
    ix.SetNTXFileName(dir.File("NAME.NTX"));
    u.Open();
    ix.SetActive(true);
    std::vector<int> seen;
    for (u.First(); !u.Eof() && seen.size() < 10; u.Next()) seen.push_back(u.RecNo());
    ASSERT_FALSE(seen.empty());
    ASSERT_LE(seen.size(), 4u);
    EXPECT_EQ(seen.front(), 1);
    EXPECT_EQ(seen.back(), 3);
}

}  // namespace
}  // namespace zarbel
