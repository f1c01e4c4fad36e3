// The dataset framework: states, the order of engine calls, field text conversions and messages.
#include <gtest/gtest.h>

#include "testutil/platform_helpers.h"
#include "memdataset.h"
#include "platform/locale.h"
#include "platform/numtext.h"

namespace zarbel {
namespace {

using test::Col;
using test::TMemDataSet;

// Restores the process-wide format settings after a test.
using testutil::SettingsGuard;

using testutil::Message;

// A dataset with NAME C(10), QTY integer and n records QTY = 1..n.
void MakeNumbered(TMemDataSet& ds, int n) {
    ds.cols = {{"NAME", ftString, 10}, {"QTY", ftInteger, 0}};
    ds.Open();
    for (int i = 1; i <= n; ++i) {
        ds.Append();
        ds.FieldByName("NAME").SetAsString("r" + std::to_string(i));
        ds.FieldByName("QTY").SetAsInteger(i);
        ds.Post();
    }
    ds.First();
    ds.log.clear();
}

TEST(DataSetStates, OpenBrowseEditInsertPostCancel) {
    TMemDataSet ds;
    ds.cols = {{"NAME", ftString, 10}, {"QTY", ftInteger, 0}};
    EXPECT_EQ(ds.State(), dsInactive);
    EXPECT_FALSE(ds.Active());
    ds.Open();
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_TRUE(ds.Bof());
    EXPECT_TRUE(ds.Eof());
    EXPECT_TRUE(ds.IsEmpty());
    EXPECT_EQ(ds.FieldCount(), 2);

    // Edit on an empty dataset appends.
    ds.Edit();
    EXPECT_EQ(ds.State(), dsInsert);
    ds.FieldByName("name").SetAsString("first");
    EXPECT_TRUE(ds.Modified());
    ds.Post();
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_EQ(ds.RecordCount(), 1);
    EXPECT_EQ(ds.FieldByName("NAME").AsString(), "first");
    EXPECT_TRUE(ds.FieldByName("QTY").IsNull());
    EXPECT_FALSE(ds.Eof());

    // Edit then Cancel gives back the stored value.
    ds.Edit();
    EXPECT_EQ(ds.State(), dsEdit);
    ds.FieldByName("NAME").SetAsString("changed");
    ds.Cancel();
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_EQ(ds.FieldByName("NAME").AsString(), "first");

    // Edit while inserting changes nothing.
    ds.Append();
    ds.FieldByName("NAME").SetAsString("second");
    ds.Edit();
    EXPECT_EQ(ds.State(), dsInsert);
    EXPECT_EQ(ds.FieldByName("NAME").AsString(), "second");
    ds.Post();
    EXPECT_EQ(ds.RecordCount(), 2);
    EXPECT_EQ(ds.RecNo(), 2);

    // Append then Cancel returns to the record shown before and stores nothing.
    ds.First();
    ds.Append();
    ds.FieldByName("NAME").SetAsString("dropped");
    ds.Cancel();
    EXPECT_EQ(ds.RecordCount(), 2);
    EXPECT_EQ(ds.FieldByName("NAME").AsString(), "first");
    EXPECT_EQ(ds.RecNo(), 1);

    ds.Close();
    EXPECT_EQ(ds.State(), dsInactive);
    EXPECT_EQ(ds.FieldCount(), 0);  // default fields go with the cursor
}

TEST(DataSetStates, FailedPostKeepsInsertStateSoCallerCanCancel) {
    TMemDataSet ds;
    MakeNumbered(ds, 2);
    ds.Append();
    ds.FieldByName("QTY").SetAsString("77");
    ds.failPost = true;
    EXPECT_EQ(Message([&] { ds.Post(); }), "post failed");
    EXPECT_EQ(ds.State(), dsInsert);
    EXPECT_EQ(ds.FieldByName("QTY").AsInteger(), 77);
    ds.Cancel();
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_EQ(ds.RecordCount(), 2);
    EXPECT_EQ(ds.FieldByName("QTY").AsInteger(), 1);
}

TEST(DataSetStates, NavigationPostsPendingChangesAndDeleteMovesOn) {
    TMemDataSet ds;
    MakeNumbered(ds, 3);
    ds.Edit();
    ds.FieldByName("QTY").SetAsInteger(10);
    ds.Next();  // posts the change first
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_EQ(ds.FieldByName("QTY").AsInteger(), 2);
    ds.First();
    EXPECT_EQ(ds.FieldByName("QTY").AsInteger(), 10);

    ds.Next();
    ds.Delete();
    EXPECT_EQ(ds.RecordCount(), 2);
    EXPECT_EQ(ds.FieldByName("QTY").AsInteger(), 3);
    ds.Delete();
    ds.Delete();
    EXPECT_TRUE(ds.IsEmpty());
    EXPECT_EQ(Message([&] { ds.Delete(); }), "Cannot perform this operation on an empty dataset");
    ds.Close();
    EXPECT_EQ(Message([&] { ds.First(); }), "Cannot perform this operation on a closed dataset");
}

TEST(DataSetNavigation, EngineCallOrder) {
    TMemDataSet ds;
    ds.cols = {{"NAME", ftString, 10}, {"QTY", ftInteger, 0}};
    for (int i = 0; i < 3; ++i) ds.AddNullRow();
    ds.Open();
    EXPECT_EQ(ds.log, (std::vector<std::string>{"InternalOpen", "AllocRecordBuffer", "AllocRecordBuffer",
                                               "AllocRecordBuffer", "GetRecord(next)=OK"}));
    EXPECT_TRUE(ds.Bof());
    EXPECT_FALSE(ds.Eof());
    EXPECT_EQ(ds.RecNo(), 1);

    ds.log.clear();
    ds.Next();
    ds.Next();
    EXPECT_EQ(ds.RecNo(), 3);
    EXPECT_FALSE(ds.Bof());
    ds.Next();  // past the end: EOF, the cursor stays on the last record
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.RecNo(), 3);
    ds.Next();  // at EOF nothing is asked of the engine
    EXPECT_EQ(ds.log, (std::vector<std::string>{"GetRecord(next)=OK", "GetRecord(next)=OK", "GetRecord(next)=EOF"}));

    // Moving back after a failed fetch first puts the engine's cursor on the record shown.
    ds.log.clear();
    ds.Prior();
    EXPECT_EQ(ds.RecNo(), 2);
    EXPECT_EQ(ds.log, (std::vector<std::string>{"InternalSetToRecord(3)", "GetRecord(prior)=OK"}));

    ds.log.clear();
    ds.Last();
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.RecNo(), 3);
    EXPECT_EQ(ds.log, (std::vector<std::string>{"InternalLast", "GetRecord(prior)=OK"}));

    ds.log.clear();
    ds.First();
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(ds.log, (std::vector<std::string>{"InternalFirst", "GetRecord(next)=OK"}));

    EXPECT_EQ(ds.MoveBy(5), 2);
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.MoveBy(-1), -1);
    EXPECT_EQ(ds.MoveBy(-5), -1);
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(ds.RecNo(), 1);

    ds.log.clear();
    ds.Close();
    EXPECT_EQ(ds.log, (std::vector<std::string>{"FreeRecordBuffer", "FreeRecordBuffer", "FreeRecordBuffer",
                                               "InternalClose"}));
}

TEST(DataSetNavigation, EmptyDatasetIsAtBothEnds) {
    TMemDataSet ds;
    ds.cols = {{"A", ftInteger, 0}};
    ds.Open();
    ds.First();
    EXPECT_TRUE(ds.Bof());
    EXPECT_TRUE(ds.Eof());
    ds.Last();
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.MoveBy(1), 0);
    EXPECT_TRUE(ds.FieldByName("A").IsNull());
    EXPECT_EQ(ds.FieldByName("A").AsString(), "");
}

// What a data link hears of its dataset: opening and closing, changes ("C"), scrolls by their
// distance ("S2"); and that a link, a source or a dataset may go first.
struct TLogLink final : TDataLink {
    std::string heard;
    void ActiveChanged() override { heard += Active() ? "open " : "closed "; }
    void DataSetChanged() override { heard += "C "; }
    void DataSetScrolled(int d) override { heard += "S" + std::to_string(d) + " "; }
};

TEST(DataLink, NotificationsAndDetaching) {
    TLogLink early, late;
    {
        auto ds = std::make_unique<TMemDataSet>();
        MakeNumbered(*ds, 5);
        TDataSource source;
        early.SetDataSource(&source);  // before the source has a dataset
        source.SetDataSet(ds.get());
        late.SetDataSource(&source);
        ds->Next();
        ds->MoveBy(2);
        ds->MoveBy(-5);  // stops at the first record: 3 records back
        ds->Last();
        ds->Close();
        ds->Open();
        ds.reset();  // the dataset goes before its source
        EXPECT_EQ(source.DataSet(), nullptr);
        EXPECT_EQ(early.heard, "open S1 S2 S-3 C closed open closed ");
        EXPECT_EQ(late.heard, early.heard);
    }  // the source goes before the links
    EXPECT_EQ(early.DataSource(), nullptr);
}

TEST(DataSetNavigation, BookmarksAndRefresh) {
    TMemDataSet ds;
    MakeNumbered(ds, 5);
    ds.MoveBy(3);
    TBookmark b = ds.Bookmark();
    ASSERT_EQ(b.size(), 4u);
    ds.First();
    ds.log.clear();
    ds.GotoBookmark(b);
    EXPECT_EQ(ds.FieldByName("QTY").AsInteger(), 4);
    EXPECT_EQ(ds.log, (std::vector<std::string>{"InternalGotoBookmark(4)", "GetRecord(current)=OK"}));
    ds.Refresh();
    EXPECT_EQ(ds.RecNo(), 4);
    ds.Append();
    EXPECT_TRUE(ds.Bookmark().empty());
    ds.Cancel();
}

TEST(DataSetFields, LookupByNameIsCaseInsensitiveAlsoForCyrillic) {
    TMemDataSet ds;
    ds.cols = {{"\xC8\xCC\xDF", ftString, 10}, {"Qty", ftInteger, 0}};  // "ИМЯ" in CP1251
    ds.Open();
    EXPECT_NE(ds.FindField("\xE8\xEC\xFF"), nullptr);  // "имя"
    EXPECT_EQ(&ds.FieldByName("QTY"), &ds.Fields()[1]);
    EXPECT_EQ(ds.FindField("QT"), nullptr);
    EXPECT_EQ(Message([&] { ds.FieldByName("NOPE"); }), "Field 'NOPE' not found");
    EXPECT_EQ(ds.Fields()[1].FieldNo(), 2);
    EXPECT_EQ(ds.Fields()[0].Size(), 10);
    EXPECT_EQ(ds.Fields()[0].DataType(), ftString);
}

TEST(DataSetFields, WritePreconditions) {
    TMemDataSet ds;
    MakeNumbered(ds, 1);
    TField& qty = ds.FieldByName("QTY");
    EXPECT_EQ(Message([&] { qty.SetAsInteger(5); }), "Dataset not in edit or insert mode");
    qty.SetReadOnly(true);
    ds.Edit();
    EXPECT_EQ(Message([&] { qty.SetAsInteger(5); }), "Field 'QTY' cannot be modified");
    qty.SetReadOnly(false);
    int validated = 0;
    qty.OnValidate = [&](TField&) { ++validated; };
    qty.SetAsInteger(5);
    EXPECT_EQ(validated, 1);
    ds.Post();
}

TEST(DataSetFields, FloatTextFollowsTheDecimalSeparator) {
    SettingsGuard guard;
    TMemDataSet ds;
    ds.cols = {{"PRICE", ftFloat, 0}, {"CUR", ftCurrency, 0}};
    ds.Open();
    ds.Append();
    TField& price = ds.FieldByName("PRICE");
    FormatSettings().DecimalSeparator = ',';
    price.SetAsString("12,5");
    EXPECT_DOUBLE_EQ(price.AsFloat(), 12.5);
    EXPECT_EQ(price.AsString(), "12,5");
    EXPECT_EQ(price.Text(), "12,5");
    EXPECT_EQ(Message([&] { price.SetAsString("12.5"); }),
              "'12.5' is not a valid floating point value for field 'PRICE'");
    FormatSettings().DecimalSeparator = '.';
    EXPECT_EQ(price.AsString(), "12.5");
    price.SetAsString(" -0.125 ");
    EXPECT_DOUBLE_EQ(price.AsFloat(), -0.125);
    price.SetAsFloat(1e20);
    EXPECT_EQ(price.AsString(), "1E20");
    price.SetAsFloat(0.1 + 0.2);
    EXPECT_EQ(price.AsString(), "0.3");
    ds.FieldByName("CUR").SetAsString("3.14159");
    EXPECT_EQ(ds.FieldByName("CUR").AsVariant().VarType(), varCurrency);
    price.SetAsString("");
    EXPECT_TRUE(price.IsNull());
    EXPECT_EQ(price.AsString(), "");
    ds.Post();
}

TEST(DataSetFields, IntegerTextAndRanges) {
    TMemDataSet ds;
    ds.cols = {{"I", ftInteger, 0}, {"S", ftSmallint, 0}, {"W", ftWord, 0}, {"L", ftLargeint, 0}};
    ds.Open();
    ds.Append();
    TField& i = ds.FieldByName("I");
    i.SetAsString("-42");
    EXPECT_EQ(i.AsInteger(), -42);
    EXPECT_EQ(i.AsString(), "-42");
    EXPECT_EQ(Message([&] { i.SetAsString("12abc"); }), "'12abc' is not a valid integer value for field 'I'");
    EXPECT_EQ(Message([&] { i.SetAsString("3000000000"); }),
              "3000000000 is not a valid value for field 'I'. The allowed range is -2147483648 to 2147483647");
    EXPECT_EQ(Message([&] { ds.FieldByName("S").SetAsInteger(40000); }),
              "40000 is not a valid value for field 'S'. The allowed range is -32768 to 32767");
    EXPECT_EQ(Message([&] { ds.FieldByName("W").SetAsInteger(-1); }),
              "-1 is not a valid value for field 'W'. The allowed range is 0 to 65535");
    ds.FieldByName("W").SetAsInteger(65535);
    EXPECT_EQ(ds.FieldByName("W").AsString(), "65535");
    ds.FieldByName("L").SetAsString("-9223372036854775808");
    EXPECT_EQ(ds.FieldByName("L").AsLargeInt(), INT64_MIN);
    EXPECT_EQ(ds.FieldByName("L").AsVariant().VarType(), varInt64);
    i.SetAsString("");
    EXPECT_TRUE(i.IsNull());
    EXPECT_EQ(i.AsVariant().VarType(), varNull);
    ds.Post();
}

TEST(DataSetFields, BooleanAndDateText) {
    SettingsGuard guard;
    TMemDataSet ds;
    ds.cols = {{"OK", ftBoolean, 0}, {"BORN", ftDate, 0}, {"AT", ftTime, 0}, {"STAMP", ftDateTime, 0}};
    ds.Open();
    ds.Append();
    TField& ok = ds.FieldByName("OK");
    ok.SetAsString("t");
    EXPECT_TRUE(ok.AsBoolean());
    EXPECT_EQ(ok.AsString(), "True");
    ok.SetAsString("FALSE");
    EXPECT_EQ(ok.AsString(), "False");
    EXPECT_EQ(Message([&] { ok.SetAsString("yes"); }), "'yes' is not a valid boolean value for field 'OK'");
    ok.SetAsString("");
    EXPECT_TRUE(ok.IsNull());

    TField& born = ds.FieldByName("BORN");
    born.SetAsString("01.03.2024");
    EXPECT_EQ(born.AsString(), "01.03.2024");
    EXPECT_DOUBLE_EQ(born.AsDateTime(), EncodeDate(2024, 3, 1));
    // the value buffer holds the day number counted from 1 January of year 1
    std::int32_t day = 0;
    ASSERT_TRUE(born.GetData(&day));
    EXPECT_EQ(day, 738946);
    EXPECT_EQ(Message([&] { born.SetAsString("30.02.2024"); }),
              "'30.02.2024' is not a valid date value for field 'BORN'");
    born.SetAsString("");
    EXPECT_TRUE(born.IsNull());

    TField& at = ds.FieldByName("AT");
    at.SetAsDateTime(EncodeTime(13, 5, 7, 0));
    EXPECT_EQ(at.AsString(), "13:05:07");
    std::int32_t ms = 0;
    ASSERT_TRUE(at.GetData(&ms));
    EXPECT_EQ(ms, (13 * 3600 + 5 * 60 + 7) * 1000);
    EXPECT_EQ(Message([&] { at.SetAsString("25:00:00"); }), "'25:00:00' is not a valid time value for field 'AT'");

    TField& stamp = ds.FieldByName("STAMP");
    stamp.SetAsDateTime(EncodeDate(2024, 3, 1) + EncodeTime(6, 0, 0, 0));
    EXPECT_EQ(stamp.AsString(), "01.03.2024 6:00:00");
    stamp.SetAsString("02.03.2024");
    EXPECT_EQ(stamp.AsString(), "02.03.2024");  // time left out at midnight
    double msecs = 0;
    ASSERT_TRUE(stamp.GetData(&msecs));
    EXPECT_DOUBLE_EQ(msecs, 738947.0 * 86400000.0);
    EXPECT_EQ(Message([&] { stamp.SetAsString("x"); }), "'x' is not a valid date and time value for field 'STAMP'");
    ds.Post();
}

TEST(DataSetFields, StringsAreCutAndTranslatedBothWays) {
    TMemDataSet ds;
    ds.oem = true;
    ds.cols = {{"NAME", ftString, 4}};
    ds.Open();
    ds.Append();
    TField& name = ds.FieldByName("NAME");
    ds.log.clear();
    name.SetAsString("\xC8\xE2\xE0\xED\xEE\xE2");  // "Иванов" in CP1251, cut to 4 characters
    EXPECT_EQ(ds.log, std::vector<std::string>{"TranslateText(toOem)"});
    // stored bytes are CP866
    char raw[5] = {};
    ASSERT_TRUE(name.GetData(raw));
    EXPECT_EQ(std::string(raw), "\x88\xA2\xA0\xAD");
    ds.log.clear();
    EXPECT_EQ(name.AsString(), "\xC8\xE2\xE0\xED");
    EXPECT_EQ(ds.log, std::vector<std::string>{"TranslateText(toAnsi)"});
    name.SetAsString("");
    EXPECT_FALSE(name.IsNull());  // the empty text is a value for strings
    ds.Post();
}

TEST(DataSetFields, TextAccessReusesTheCallersString) {
    TMemDataSet ds;
    MakeNumbered(ds, 3);
    std::string out;
    out.reserve(64);
    const char* data = out.data();
    for (ds.First(); !ds.Eof(); ds.Next()) {
        ds.FieldByName("NAME").GetAsString(out);
        EXPECT_EQ(out.data(), data);
        ds.FieldByName("QTY").GetAsString(out);
        EXPECT_EQ(out.data(), data);
    }
    EXPECT_EQ(out, "3");
}

TEST(DataSetFields, CalculatedFieldsAreComputedAfterEachFetch) {
    TMemDataSet ds;
    ds.cols = {{"QTY", ftInteger, 0}};
    auto twice = CreateFieldOfType(ftInteger, 0);
    twice->SetFieldName("TWICE");
    twice->SetFieldKind(fkCalculated);
    auto qty = CreateFieldOfType(ftInteger, 0);
    qty->SetFieldName("QTY");
    ds.Fields().Add(std::move(qty));
    ds.Fields().Add(std::move(twice));
    ds.OnCalcFields = [](TDataSet& d) {
        EXPECT_EQ(d.State(), dsCalcFields);
        if (!d.FieldByName("QTY").IsNull())
            d.FieldByName("TWICE").SetAsInteger(2 * d.FieldByName("QTY").AsInteger());
    };
    ds.Open();
    EXPECT_FALSE(ds.FieldByName("TWICE").FieldNo() > 0);
    ds.Append();
    ds.FieldByName("QTY").SetAsInteger(21);
    EXPECT_EQ(ds.FieldByName("TWICE").AsInteger(), 42);
    ds.Post();
    ds.First();
    EXPECT_EQ(ds.FieldByName("TWICE").AsInteger(), 42);
    ds.Close();
    EXPECT_EQ(ds.FieldCount(), 2);  // fields defined by the caller stay
}

TEST(DataSetFields, PersistentFieldsMustMatchTheDefinitions) {
    TMemDataSet ds;
    ds.cols = {{"QTY", ftInteger, 0}};
    auto f = CreateFieldOfType(ftString, 5);
    f->SetFieldName("QTY");
    ds.Fields().Add(std::move(f));
    EXPECT_EQ(Message([&] { ds.Open(); }), "Type mismatch for field 'QTY', expecting: String actual: Integer");
    EXPECT_FALSE(ds.Active());
}

TEST(DataSetFields, DataEventsReachTheListener) {
    TMemDataSet ds;
    MakeNumbered(ds, 2);
    std::vector<TDataEvent> events;
    TField* changed = nullptr;
    ds.OnDataEvent = [&](TDataSet&, TDataEvent e, std::intptr_t info) {
        events.push_back(e);
        if (e == deFieldChange) changed = reinterpret_cast<TField*>(info);
    };
    ds.Next();
    ds.Edit();
    ds.FieldByName("QTY").SetAsInteger(9);
    EXPECT_EQ(changed, &ds.FieldByName("QTY"));
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[0], deCheckBrowseMode);
    EXPECT_EQ(events[1], deDataSetScroll);
    EXPECT_NE(std::find(events.begin(), events.end(), deRecordChange), events.end());
    ds.Cancel();
}

TEST(DateTimeForms, DayNumbersAndMilliseconds) {
    EXPECT_EQ(DateTimeToDayNumber(EncodeDate(1, 1, 1)), 1);
    EXPECT_EQ(DateTimeToDayNumber(0), kDateDelta);
    // before 30 December 1899 the fraction still counts forward within the day
    TDateTime dt = -1.25;  // 29 December 1899, 06:00
    EXPECT_EQ(DateTimeToDayNumber(dt), kDateDelta - 1);
    EXPECT_EQ(DateTimeToTimeMSecs(dt), 6 * 3600 * 1000);
    EXPECT_DOUBLE_EQ(MSecsToDateTime(DateTimeToMSecs(dt)), dt);
    TDateTime later = EncodeDate(2024, 2, 29) + EncodeTime(23, 59, 59, 999);
    EXPECT_NEAR(MSecsToDateTime(DateTimeToMSecs(later)), later, 1e-9);
}

}  // namespace
}  // namespace zarbel
