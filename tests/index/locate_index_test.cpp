// Locate through an index: which locates an index answers (table reads counted by the host
// fake), every answer equal to the forced scan's; ranges by a field list.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "engine/dbf_builder.h"
#include "index/HXDBFNTX.h"
#include "platform/locale.h"
#include "platform/mem_env.h"
#include "testutil/corpus.h"

namespace zarbel {
namespace {

using test::Pad;

const std::vector<test::FieldSpec> kFields = {{"NAME", 'C', 8}, {"CITY", 'C', 6}, {"BORN", 'D', 8}, {"AGE", 'N', 3}};

std::string Table() {
    const std::vector<std::vector<std::string>> rows = {
        {"Smith", "Omsk", "19900102", "30"},            // 1
        {"\xC8\xC2\xC0\xCD\xCE\xC2", "Tver", "19851111", "40"},  // 2: ИВАНОВ
        {"SMITH", "Paris", "19850505", "40"},           // 3
        {"Smith", "Kazan", "19900102", "31"},           // 4
        {"Jones", "Omsk", "20000101", "20"},            // 5: deleted
        {"Jones", "Omsk", "20000101", "21"},            // 6
        {"AB", "Omsk", "20000101", "22"},               // 7: NAME "AB" padded with zero bytes
        {"AB", "Tver", "20000101", "23"},               // 8
    };
    std::vector<std::string> recs;
    for (std::size_t i = 0; i < rows.size(); ++i) recs.push_back(test::Record(kFields, rows[i], i == 4));
    recs[6].replace(3, 6, std::string(6, '\0'));
    return test::BuildDbf(0x03, kFields, recs);
}

struct TIx {
    std::string Key, For = {};
    bool Unique = false, Desc = false;
};

// A table open in the host fake, with NTX files built on it.
struct TOpenTable {
    TMemEnv env;
    THXDBFNTX t;
    explicit TOpenTable(const std::string& bytes = Table(), int bufferSize = 0) {
        env.SetContents("/d/t.dbf", bytes);
        t.SetEnv(env);
        t.SetDBFFileName("/d/t.dbf");
        t.AccessMode().SetAccessMode(TAccessMode::kOpenReadWrite | TAccessMode::kShareExclusive);
        if (bufferSize) t.SetBufferSize(bufferSize);
        t.Open();
    }
    void Index(const TIx& x) {
        THXNTXIndex& ix = t.Indexes().Add();
        ix.SetNTXFileName("/d/i" + std::to_string(t.Indexes().Count()) + ".ntx");
        ix.SetKeyExpresion(x.Key);
        ix.SetForExpresion(x.For);
        ix.SetUnique(x.Unique);
        ix.SetDesc(x.Desc);
        ix.CreateIndex(false, 65536);
    }
};

TVariant Two(const std::string& a, const std::string& b) { return TVariant::ArrayOf({TVariant(a), TVariant(b)}); }

// The index answers only an exact locate, TrimInLocate and TrimCType off, of character or date
// values of the fields' width, by a key that is exactly the fields in list order (UPPER of each
// for a case-insensitive locate of values UPPER covers), without FOR condition or Unique.
TEST(LocateByIndex, TheIndexAnswersOnlyWhereItsAnswerIsTheScans) {
    const std::string smith = Pad("Smith", 8), jones = Pad("Jones", 8);
    auto deleted = [](THXDBFNTX& t) { t.SetSetDeleted(true); };
    const struct {
        const char* What;
        TIx Ix;
        std::string Fields;
        TVariant Values;
        unsigned Options;
        bool ByIndex;
        std::uint32_t Answer;
        std::function<void(THXDBFNTX&)> Setup = nullptr;
    } cases[] = {
        {"NAME index, NAME", {"NAME"}, "NAME", smith, 0, true, 1},
        {"NAME index, NAME;CITY", {"NAME"}, "NAME;CITY", Two(smith, Pad("Kazan", 6)), 0, false, 4},
        {"NAME+CITY, NAME;CITY", {"NAME+CITY"}, "NAME;CITY", Two(smith, Pad("Kazan", 6)), 0, true, 4},
        {"NAME+CITY, CITY;NAME", {"NAME+CITY"}, "CITY;NAME", Two(Pad("Kazan", 6), smith), 0, false, 4},
        {"partial", {"NAME"}, "NAME", "Smi", loPartialKey, false, 1},
        {"TrimInLocate", {"NAME"}, "NAME", "Smith", 0, false, 1, [](THXDBFNTX& t) { t.SetTrimInLocate(true); }},
        {"TrimCType", {"NAME"}, "NAME", "Smith", 0, false, 1, [](THXDBFNTX& t) { t.SetTrimCType(true); }},
        {"FOR condition", {"NAME", "AGE > 30"}, "NAME", smith, 0, false, 1},
        {"Unique keeps the deleted Jones only", {"NAME", "", true}, "NAME", jones, 0, false, 6, deleted},
        {"descending, first Jones deleted", {"NAME", "", false, true}, "NAME", jones, 0, true, 6, deleted},
        {"UPPER(NAME), case-insensitive", {"UPPER(NAME)"}, "NAME", Pad("sMITH", 8), loCaseInsensitive, true, 1},
        {"UPPER(NAME), case-sensitive", {"UPPER(NAME)"}, "NAME", Pad("SMITH", 8), 0, false, 3},
        {"NAME, case-insensitive", {"NAME"}, "NAME", Pad("SMITH", 8), loCaseInsensitive, false, 1},
        {"Cyrillic value: UPPER leaves it", {"UPPER(NAME)"}, "NAME", Pad("\xE8\xE2\xE0\xED\xEE\xE2", 8),
         loCaseInsensitive, false, 2},
        {"SUBSTR(NAME,1,8)", {"SUBSTR(NAME,1,8)"}, "NAME", smith, 0, false, 1},
        {"date", {"BORN"}, "BORN", TVariant::FromDateTime(EncodeDate(1990, 1, 2)), 0, true, 1},
        {"number", {"AGE"}, "AGE", std::int32_t{40}, 0, false, 2},
        // record 7 reads "AB" (its zero bytes end the text) and its key is "AB" and blanks: a
        // short value matches it, the padded one matches record 8 only
        {"short value", {"NAME"}, "NAME", "AB", 0, false, 7},
        {"zero-padded field", {"NAME"}, "NAME", Pad("AB", 8), 0, true, 8},
        // record 7 is in range but does not match: the seek goes on with its own key
        {"range on the index sought", {"NAME"}, "NAME", Pad("AB", 8), 0, true, 8,
         [](THXDBFNTX& t) { t.SetRangeFields("NAME", "A", "Z"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        TOpenTable o;
        THXDBFNTX& t = o.t;
        o.Index(c.Ix);
        if (c.Setup) c.Setup(t);
        const std::uint64_t before = t.BlockReads();
        EXPECT_EQ(t.LocateRecord(c.Fields, c.Values, c.Options, false), c.Answer);
        EXPECT_EQ(t.BlockReads() == before, c.ByIndex);
        EXPECT_EQ(t.LocateRecord(c.Fields, c.Values, c.Options, true), c.Answer);
    }
}

// A range by several string fields holds the records whose fields hold the values, whether the
// values come with their fields' blanks (as a master gives them) or without.
TEST(RangeByFieldList, ValuesWithOrWithoutTheirBlanks) {
    TOpenTable o;
    THXDBFNTX& t = o.t;
    o.Index({"NAME+CITY"});
    for (const TVariant& v : {Two(Pad("Smith", 8), Pad("Kazan", 6)), Two("Smith", "Kazan")}) {
        t.SetRangeFields("NAME;CITY", v);
        std::vector<int> shown;
        for (t.First(); !t.Eof(); t.Next()) shown.push_back(t.RecNo());
        EXPECT_EQ(shown, std::vector<int>{4});
    }
}

// harbour/test.dbf with NTX files on LAST and UPPER(LAST): an exact locate of every LAST value
// (and of its lower-case form, case-insensitive) reads only the record found; shorter and
// partial values are read block by block as the forced scan reads them.
TEST(LocateByIndex, HarbourExactLocatesByIndexPartialOnesByScan) {
    const std::filesystem::path src = testutil::CorpusDir() / "harbour" / "test.dbf";
    if (!std::filesystem::exists(src)) GTEST_SKIP() << "corpus table " << src << " not found";
    TOpenTable o(testutil::Slurp(src), 4 * 386);  // four records a read
    THXDBFNTX& t = o.t;
    o.Index({"LAST"});
    o.Index({"UPPER(LAST)"});
    std::set<std::string> values, letters;
    for (t.First(); !t.Eof(); t.Next()) values.insert(t.FieldByName("LAST").AsString());
    ASSERT_EQ(values.size(), 338u);  // of 500 records
    int found = 0;
    auto locate = [&](const std::string& value, unsigned options, bool byIndex) {
        SCOPED_TRACE(value);
        const int r0 = o.env.Reads("/d/t.dbf");
        const std::uint32_t n = t.LocateRecord("LAST", value, options, false);
        const int r1 = o.env.Reads("/d/t.dbf");
        EXPECT_EQ(n, t.LocateRecord("LAST", value, options, true));
        EXPECT_EQ(r1 - r0, byIndex ? 1 : o.env.Reads("/d/t.dbf") - r1);
        EXPECT_GE(r1 - r0, 1);
        found += n != 0;
    };
    for (const std::string& v : values) {
        locate(v, 0, true);
        locate(AnsiLowerCase(v), loCaseInsensitive, true);
        locate(v.substr(0, v.find_last_not_of(' ') + 1), 0, false);
        letters.insert(v.substr(0, 1));
    }
    for (const std::string& l : letters) {
        locate(l, loPartialKey, false);
        locate(AnsiLowerCase(l), loPartialKey | loCaseInsensitive, false);
    }
    EXPECT_EQ(found, 2 * 338 + 2 * static_cast<int>(letters.size()));
}

}  // namespace
}  // namespace zarbel
