// Find, locate and lookup by block scan: matching by field type, the options, TrimInLocate,
// keys that find nothing, SetDeleted, the cursor and the active record left as they were, and
// the same answers from an enciphered table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"
#include "dbf_builder.h"
#include "test_util.h"

namespace zarbel {
namespace {

using test::BuildDbf;
using test::FieldSpec;
using test::Record;

const std::vector<FieldSpec> kFields = {
    {"NAME", 'C', 10}, {"AGE", 'N', 3}, {"SUM", 'N', 6, 2}, {"BORN", 'D', 8}, {"WED", 'L', 1}};

// NAME, AGE, SUM, BORN, WED; record 5 is deleted
const std::vector<std::vector<std::string>> kRows = {
    {"JONES", "40", "1.50", "19840101", "T"},  {"SMITHSON", "31", "-3.25", "19930715", "F"},
    {"ab", "20", "0.00", "20000229", "F"},     {"Smith", "31", "7.00", "19930715", "T"},
    {"SMITHY", "55", "2.00", "19700101", "T"}, {"Wolf", "31", "-3.25", "19930715", "T"},
};

std::string Rows(bool deleteFifth = true) {
    std::vector<std::string> recs;
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        std::string r = Record(kFields, kRows[i]);
        if (deleteFifth && i == 4) r[0] = '*';
        recs.push_back(r);
    }
    return BuildDbf(0x03, kFields, recs);
}

struct Table {
    test::TempDir dir;
    std::string path;
    THXSmartDBF t;
    explicit Table(int bufferSize = 4096) : path(dir.File("l.dbf")) {
        test::WriteFile(path, Rows());
        t.SetDBFFileName(path);
        t.SetBufferSize(bufferSize);
        t.Open();
    }
};

std::string Name(THXSmartDBF& t) { return t.FieldByName("NAME").AsString(); }

TEST(Locate, TextMatchingByOptionsAndTrimInLocate) {
    Table tb;
    EXPECT_TRUE(tb.t.Locate("NAME", "smith", loCaseInsensitive | loPartialKey));
    EXPECT_EQ(tb.t.RecNo(), 2);  // SMITHSON
    tb.t.First();
    EXPECT_FALSE(tb.t.Locate("NAME", "smith", loCaseInsensitive));  // whole texts: C(10) keeps its blanks
    EXPECT_EQ(tb.t.RecNo(), 1);
    EXPECT_FALSE(tb.t.Locate("NAME", "smith", loPartialKey));  // case counts
    EXPECT_TRUE(tb.t.Locate("NAME", "Smith", loPartialKey));
    EXPECT_EQ(tb.t.RecNo(), 4);
    EXPECT_FALSE(tb.t.Locate("NAME", "ab", 0));
    tb.t.SetTrimInLocate(true);
    EXPECT_TRUE(tb.t.Locate("NAME", "ab", 0));
    EXPECT_EQ(tb.t.RecNo(), 3);
    EXPECT_TRUE(tb.t.Locate("NAME", "  smith ", loCaseInsensitive));  // both sides trimmed
    EXPECT_EQ(tb.t.RecNo(), 4);
}

TEST(Locate, NumbersDatesBooleansAndSeveralFields) {
    Table tb;
    EXPECT_TRUE(tb.t.Locate("AGE", std::int32_t{55}, 0));
    EXPECT_EQ(tb.t.RecNo(), 5);  // SetDeleted is off: deleted records are found
    EXPECT_TRUE(tb.t.Locate("SUM", -3.25, 0));
    EXPECT_EQ(tb.t.RecNo(), 2);
    EXPECT_TRUE(tb.t.Locate("BORN", TVariant::FromDateTime(EncodeDate(2000, 2, 29)), 0));
    EXPECT_EQ(tb.t.RecNo(), 3);
    using A = std::vector<TVariant>;
    EXPECT_TRUE(tb.t.Locate("AGE;WED;SUM", TVariant(A{std::int32_t{31}, true, 7.0}), 0));
    EXPECT_EQ(tb.t.RecNo(), 4);
    EXPECT_TRUE(tb.t.Locate("SUM;BORN;WED", TVariant(A{-3.25, TVariant::FromDateTime(EncodeDate(1993, 7, 15)), true}), 0));
    EXPECT_EQ(tb.t.RecNo(), 6);
    EXPECT_TRUE(tb.t.Locate("NAME;AGE", TVariant(A{"smi", std::int32_t{31}}), loCaseInsensitive | loPartialKey));
    EXPECT_EQ(tb.t.RecNo(), 2);
    // A single key takes the first element of an array.
    EXPECT_TRUE(tb.t.Locate("AGE", TVariant(A{std::int32_t{20}, "ignored"}), 0));
    EXPECT_EQ(tb.t.RecNo(), 3);
    // A key value that is no number raises the conversion error.
    EXPECT_THROW(tb.t.Locate("AGE", "forty", 0), Exception);
}

TEST(Locate, KeysThatFindNothingLeaveTheCursor) {
    Table tb;
    tb.t.SetRecNo(4);
    using A = std::vector<TVariant>;
    const std::vector<TVariant> nothing = {
        TVariant::Null(),                            // a null key
        TVariant(),                                  // an unassigned one
        TVariant(A{"Smith", TVariant::Null()}),      // an array with a null element
        TVariant(A{"Smith"}),                        // too few elements for two fields
        TVariant(std::int32_t{31}),                  // two fields, a value that is no array
    };
    const char* fields[] = {"NAME", "NAME", "NAME;AGE", "NAME;AGE", "AGE;WED"};
    for (std::size_t i = 0; i < nothing.size(); ++i) {
        EXPECT_FALSE(tb.t.Locate(fields[i], nothing[i], loCaseInsensitive | loPartialKey)) << i;
        EXPECT_EQ(tb.t.RecNo(), 4) << i;
        EXPECT_EQ(Name(tb.t), "Smith     ") << i;
        EXPECT_TRUE(tb.t.Lookup(fields[i], nothing[i], "AGE").IsNull()) << i;
    }
    EXPECT_FALSE(tb.t.Locate("NAME", "nobody", loPartialKey));
    EXPECT_EQ(tb.t.RecNo(), 4);
    EXPECT_THROW(tb.t.Locate("NOSUCH", "x", 0), Exception);
}

TEST(Locate, SetDeletedAndTheFilteredViewHideRecordsFromTheScan) {
    Table tb;
    tb.t.SetSetDeleted(true);
    EXPECT_FALSE(tb.t.Locate("AGE", std::int32_t{55}, 0));  // only the deleted record holds it
    EXPECT_FALSE(tb.t.Locate("NAME", "SMITHY", loPartialKey));
    tb.t.SetSetDeleted(false);
    EXPECT_TRUE(tb.t.Locate("NAME", "SMITHY", loPartialKey));
    EXPECT_EQ(tb.t.RecNo(), 5);
    tb.t.OnFilterRecord = [](TDataSet& ds, bool& accept) { accept = ds.FieldByName("WED").AsBoolean(); };
    tb.t.SetFiltered(true);
    EXPECT_TRUE(tb.t.Locate("AGE", std::int32_t{31}, 0));
    EXPECT_EQ(tb.t.RecNo(), 4);  // record 2 has WED false
    EXPECT_FALSE(tb.t.Locate("NAME", "ab", loPartialKey));
}

TEST(Locate, ScanReadsBlocksOfBufferSizeRecordsAndRestoresTheActiveRecord) {
    const int recLen = 1 + 10 + 3 + 6 + 8 + 1;
    Table tb(recLen * 4 + 3);  // four records per read
    tb.t.SetRecNo(3);
    const std::uint64_t before = tb.t.BlockReads();
    EXPECT_EQ(tb.t.LocateRecord("NAME", "nobody", 0, true), 0u);
    EXPECT_EQ(tb.t.BlockReads() - before, 2u);  // records 1-4, then 5-6 (a short block ends it)
    EXPECT_EQ(tb.t.LocateRecord("NAME", "Wolf", loPartialKey, true), 6u);
    // the cursor, its record and its field values are untouched
    EXPECT_EQ(tb.t.RecNo(), 3);
    EXPECT_EQ(Name(tb.t), "ab        ");
    // lookup: the result fields of the record found, the cursor where it was
    tb.t.SetLookupOptions(loCaseInsensitive | loPartialKey);
    TVariant v = tb.t.Lookup("NAME", "smith", "AGE;SUM;NAME");
    ASSERT_EQ(v.ArrayLength(), 3);
    EXPECT_EQ(v[0].AsInteger(), 31);
    EXPECT_DOUBLE_EQ(v[1].AsDouble(), -3.25);
    EXPECT_EQ(v[2].AsString(), "SMITHSON  ");
    EXPECT_EQ(tb.t.Lookup("AGE", std::int32_t{40}, "NAME").AsString(), "JONES     ");
    EXPECT_EQ(tb.t.RecNo(), 3);
    EXPECT_EQ(Name(tb.t), "ab        ");
    // a buffer that holds no record
    tb.t.SetBufferSize(recLen - 1);
    try {
        tb.t.LocateRecord("NAME", "ab", 0, true);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "THXSmartDBF.LocateRecord: Record size too large");
    }
    EXPECT_EQ(tb.t.RecNo(), 3);
}

TEST(Find, FilterAppliesWhetherFilteredOrNotAndFailureKeepsTheCursor) {
    Table tb;
    int scrolls = 0;
    tb.t.AfterScroll = [&](TDataSet&) { ++scrolls; };
    tb.t.OnFilterRecord = [](TDataSet& ds, bool& accept) { accept = ds.FieldByName("AGE").AsInteger() == 31; };
    ASSERT_FALSE(tb.t.Filtered());
    EXPECT_TRUE(tb.t.FindFirst());
    EXPECT_EQ(tb.t.RecNo(), 2);
    EXPECT_TRUE(tb.t.FindNext());
    EXPECT_EQ(tb.t.RecNo(), 4);
    EXPECT_TRUE(tb.t.FindNext());
    EXPECT_EQ(tb.t.RecNo(), 6);
    EXPECT_EQ(scrolls, 3);
    EXPECT_FALSE(tb.t.FindNext());
    EXPECT_EQ(tb.t.RecNo(), 6);  // back on the record it was on
    EXPECT_EQ(Name(tb.t), "Wolf      ");
    EXPECT_EQ(scrolls, 3);       // no after-scroll without a find
    EXPECT_TRUE(tb.t.FindPrior());
    EXPECT_EQ(tb.t.RecNo(), 4);
    EXPECT_TRUE(tb.t.FindLast());
    EXPECT_EQ(tb.t.RecNo(), 6);
    // the unfiltered view is unchanged: the next record is record 7's absence, the prior one 5
    tb.t.Prior();
    EXPECT_EQ(tb.t.RecNo(), 5);
    tb.t.SetSetDeleted(true);  // the acceptance test's SetDeleted applies to finds too
    tb.t.OnFilterRecord = [](TDataSet& ds, bool& accept) { accept = ds.FieldByName("AGE").AsInteger() == 55; };
    tb.t.First();
    EXPECT_FALSE(tb.t.FindFirst());
    EXPECT_EQ(tb.t.RecNo(), 1);
}

// The same table written through an enciphered table gives the same answers.
TEST(Locate, EncipheredTableAnswersAsThePlainOne) {
    test::TempDir dir;
    auto make = [&](const std::string& name, bool cipher) {
        THXSmartDBF t;
        t.SetDBFFileName(dir.File(name));
        t.SetDbfVersion(xBaseIII);
        for (const FieldSpec& f : kFields) {
            THXDBFFieldDef& d = t.DBFFieldDefs().Add();
            d.SetName(f.name);
            d.Setfield_type(f.type);
            d.Setlen(static_cast<std::uint16_t>(f.len));
            d.Setdec(static_cast<std::uint16_t>(f.dec));
        }
        t.CreateTable();
        t.AccessMode().SetAccessMode(2);
        if (cipher) {
            t.Crypt().SetCryptMethod(cmGost);
            t.Crypt().SetPassword("secret");
            t.Crypt().SetActive(true);
        }
        t.Open();
        for (const auto& row : kRows) {
            t.Append();
            for (std::size_t i = 0; i < row.size(); ++i) {
                TField& f = t.FieldByName(kFields[i].name);
                const std::string& v = row[i];
                if (i == 3) f.SetAsDateTime(EncodeDate(std::stoi(v.substr(0, 4)), std::stoi(v.substr(4, 2)), std::stoi(v.substr(6))));
                else if (i == 2) f.SetAsFloat(std::stod(v));
                else f.SetAsString(v);
            }
            t.Post();
        }
        t.SetRecNo(5);
        t.Delete();
        t.Close();
    };
    make("plain.dbf", false);
    make("secret.dbf", true);
    EXPECT_NE(test::ReadFile(dir.File("plain.dbf")), test::ReadFile(dir.File("secret.dbf")));
    auto answers = [&](const std::string& name, bool cipher) {
        THXSmartDBF t;
        t.SetDBFFileName(dir.File(name));
        t.SetBufferSize(100);  // several blocks
        if (cipher) {
            t.Crypt().SetCryptMethod(cmGost);
            t.Crypt().SetPassword("secret");
            t.Crypt().SetActive(true);
        }
        t.Open();
        std::string a;
        a += std::to_string(t.LocateRecord("NAME", "smith", loCaseInsensitive | loPartialKey, true)) + ",";
        a += std::to_string(t.LocateRecord("SUM;WED", TVariant(std::vector<TVariant>{-3.25, true}), 0, true)) + ",";
        a += t.Lookup("AGE", std::int32_t{55}, "NAME").AsString() + ",";
        t.SetSetDeleted(true);
        a += std::to_string(t.LocateRecord("AGE", std::int32_t{55}, 0, true)) + ",";
        t.OnFilterRecord = [](TDataSet& ds, bool& accept) { accept = ds.FieldByName("AGE").AsInteger() < 35; };
        t.SetFiltered(true);
        for (t.First(); !t.Eof(); t.Next()) a += std::to_string(t.RecNo()) + ";";
        t.SetFiltered(false);
        t.First();
        if (t.FindLast()) a += "last " + std::to_string(t.RecNo());
        return a;
    };
    const std::string plain = answers("plain.dbf", false);
    EXPECT_EQ(plain, "2,6,SMITHY    ,0,2;3;4;6;last 6");
    EXPECT_EQ(answers("secret.dbf", true), plain);
}

}  // namespace
}  // namespace zarbel
