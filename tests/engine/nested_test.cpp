// Nested tables (THXNestedDBF) in every memo layout, plain and enciphered: an empty parent field,
// growth one post at a time past the run the entry was given, the parent's other memo entries
// untouched, reopening, moving the parent, and pack carrying the nested entries over.
#include <gtest/gtest.h>

#include <string>

#include "engine/HXDBFDataSet.h"
#include "engine/HXDBFNested.h"
#include "platform/exception.h"
#include "dbf_builder.h"
#include "test_util.h"

namespace zarbel {
namespace {

void Add(THXDBFFieldDefs& defs, const char* name, char type, int len, THXDBFType ext = dbftS1) {
    THXDBFFieldDef& d = defs.Add();
    d.SetName(name);
    d.Setfield_type(type);
    d.Setextend_type(ext);
    d.Setlen(static_cast<std::uint16_t>(len));
}

// ID N(4), NOTE M, KIDS E (nested: QTY N(6), NAME C(10))
void CreateParent(const std::string& path, xBaseVersion dialect) {
    THXSmartDBF t;
    t.SetDBFFileName(path);
    t.SetDbfVersion(dialect);
    Add(t.DBFFieldDefs(), "ID", 'N', 4);
    Add(t.DBFFieldDefs(), "NOTE", 'M', 10);
    Add(t.DBFFieldDefs(), "KIDS", 'E', 0, dbftDBFDataSet);
    Add(t.DBFFieldDefs()[2].DBFFieldDefs(), "QTY", 'N', 6);
    Add(t.DBFFieldDefs()[2].DBFFieldDefs(), "NAME", 'C', 10);
    t.CreateTable();
}

void Prepare(THXSmartDBF& t, const std::string& path, bool cipher, std::uint32_t access) {
    t.SetDBFFileName(path);
    t.AccessMode().SetAccessMode(access);
    if (cipher) {
        t.Crypt().SetCryptMethod(cmGost);
        t.Crypt().SetPassword("nest");
        t.Crypt().SetActive(true);
    }
}

// The 512 bytes of the memo file where the NOTE entry of the current record lies.
std::string NoteEntryBytes(THXSmartDBF& t, const std::string& memo) {
    const std::uint8_t* rec = t.ActiveRecord();
    const std::string ref(reinterpret_cast<const char*>(rec) + 5, 10);
    return test::ReadFile(memo).substr(static_cast<std::size_t>(std::stoul(ref)) * 512, 512);
}

void AddKid(THXNestedDBF& n, int i) {
    n.Append();
    n.FieldByName("QTY").SetAsInteger(i);
    n.FieldByName("NAME").SetAsString("kid" + std::to_string(i));
    n.Post();
}

struct Layout {
    xBaseVersion Dialect;
    const char* MemoExt;
};

class NestedRoundTrip : public ::testing::TestWithParam<std::tuple<Layout, bool>> {};

TEST_P(NestedRoundTrip, GrowsPastItsRunWithoutTouchingOtherEntriesAndSurvivesPack) {
    const auto [layout, cipher] = GetParam();
    test::TempDir dir;
    const std::string path = dir.File("p.dbf");
    const std::string memo = dir.File(std::string("p") + layout.MemoExt);
    CreateParent(path, layout.Dialect);
    constexpr int kKids = 1000;
    {
        THXSmartDBF p;
        Prepare(p, path, cipher, cipher ? 2 : 0x42);  // exclusive (written in blocks) or shared
        p.Open();
        for (int id = 1; id <= 2; ++id) {
            p.Append();
            p.FieldByName("ID").SetAsInteger(id);
            p.FieldByName("NOTE").SetAsString("note " + std::to_string(id));
            p.Post();
        }
        THXNestedDBF kids;
        kids.SetDataSetField(&p.FieldByName("KIDS"));
        kids.Open();  // record 2's field is empty: an empty table of the nested field list
        ASSERT_EQ(kids.FieldCount(), 2);
        EXPECT_EQ(kids.Fields()[0].FieldName(), "QTY");
        EXPECT_EQ(kids.Fields()[1].FieldName(), "NAME");
        EXPECT_EQ(kids.RecordCount(), 0);
        AddKid(kids, 0);  // record 2 gets its first entry
        p.Append();       // record 3's note lies right behind it
        p.FieldByName("ID").SetAsInteger(3);
        p.FieldByName("NOTE").SetAsString("note 3");
        p.Post();
        EXPECT_EQ(kids.RecordCount(), 0);  // reopened on record 3
        p.FlushAddBuffer();
        std::string before[3];
        for (int r = 1; r <= 3; ++r) {
            p.SetRecNo(r);
            before[r - 1] = NoteEntryBytes(p, memo);
        }
        p.SetRecNo(2);
        ASSERT_TRUE(kids.Active());
        ASSERT_EQ(kids.RecordCount(), 1);
        for (int i = 1; i < kKids; ++i) AddKid(kids, i);
        EXPECT_EQ(kids.RecordCount(), kKids);
        p.FlushAddBuffer();
        for (int r = 1; r <= 3; ++r) {
            p.SetRecNo(r);
            // (the snapshot of the last entry ends with the file as it was then)
            EXPECT_EQ(NoteEntryBytes(p, memo).substr(0, before[r - 1].size()), before[r - 1]) << "record " << r;
        }
        // deleting a nested record writes the table back too
        p.SetRecNo(2);
        kids.SetRecNo(1);
        kids.Delete();
        p.Close();
        EXPECT_FALSE(kids.Active());
    }
    // first: the first nested record left (pack removes the deleted one)
    auto check = [&](THXSmartDBF& p, int kidsRec, int otherRec, int first, const char* when) {
        THXNestedDBF kids;
        kids.SetDataSetField(&p.FieldByName("KIDS"));
        p.SetRecNo(kidsRec);
        kids.Open();
        ASSERT_EQ(kids.RecordCount(), kKids - first) << when;
        int i = first;
        for (kids.First(); !kids.Eof(); kids.Next(), ++i) {
            ASSERT_EQ(kids.FieldByName("QTY").AsInteger(), i) << when;
            ASSERT_EQ(kids.FieldByName("NAME").AsString(), test::Pad("kid" + std::to_string(i), 10)) << when;
            ASSERT_EQ(kids.IsDeleted(), i == 0) << when;
        }
        p.SetRecNo(otherRec);  // the nested table follows the parent
        EXPECT_EQ(kids.RecordCount(), 0) << when;
    };
    {
        THXSmartDBF p;
        Prepare(p, path, cipher, 2);
        p.Open();
        check(p, 2, 3, 0, "after reopening");
        for (int r = 1; r <= 3; ++r) {
            p.SetRecNo(r);
            EXPECT_EQ(p.FieldByName("NOTE").AsString(), "note " + std::to_string(r));
        }
        // pack rebuilds the memo file: the nested entry moves with the others, packed itself
        p.SetRecNo(1);
        p.Delete();
        p.Pack();
        ASSERT_EQ(p.RecordCount(), 2);
        check(p, 1, 2, 1, "after pack");
        p.SetRecNo(2);
        EXPECT_EQ(p.FieldByName("NOTE").AsString(), "note 3");
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, NestedRoundTrip,
                         ::testing::Combine(::testing::Values(Layout{xBaseIII, ".dbt"}, Layout{xBaseIV, ".dbt"},
                                                              Layout{xFoxPro, ".fpt"}),
                                            ::testing::Bool()));

TEST(Nested, FieldOfAnotherKindIsRefused) {
    test::TempDir dir;
    const std::string path = dir.File("p.dbf");
    CreateParent(path, xBaseIV);
    THXSmartDBF p;
    Prepare(p, path, false, 0);
    p.Open();
    THXNestedDBF n;
    try {
        n.SetDataSetField(&p.FieldByName("NOTE"));
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "THXSmartDBF: Nested stream create error!");
    }
    n.SetDataSetField(&p.FieldByName("KIDS"));
    n.Open();  // the parent is empty: an empty table
    EXPECT_EQ(n.RecordCount(), 0);
    p.Close();  // the nested table closes with its parent
    EXPECT_FALSE(n.Active());
    EXPECT_THROW(n.Open(), Exception);
    p.Open();  // and opens with it
    EXPECT_TRUE(n.Active());
    n.Close();
    p.Close();
    p.Open();
    EXPECT_FALSE(n.Active());
}

TEST(Nested, RowsPostedWhileTheParentRecordIsBeingInsertedArriveWithItsPost) {
    test::TempDir dir;
    const std::string path = dir.File("p.dbf");
    CreateParent(path, xBaseIV);
    THXSmartDBF p;
    Prepare(p, path, false, 0x42);
    p.Open();
    THXNestedDBF n;
    n.SetDataSetField(&p.FieldByName("KIDS"));
    p.Append();
    p.FieldByName("ID").SetAsInteger(7);
    n.Open();
    AddKid(n, 41);
    AddKid(n, 42);
    EXPECT_TRUE(p.Modified());
    p.Post();
    ASSERT_TRUE(n.Active());  // opened again on the posted record
    ASSERT_EQ(n.RecordCount(), 2);
    n.Last();
    EXPECT_EQ(n.FieldByName("QTY").AsInteger(), 42);
    p.Append();  // a cancelled insert leaves no record behind
    AddKid(n, 1);
    p.Cancel();
    EXPECT_EQ(p.RecordCount(), 1);
    EXPECT_EQ(n.RecordCount(), 2);
}

}  // namespace
}  // namespace zarbel
