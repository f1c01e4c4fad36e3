// The table callers use, with its expression parser as the record filter: the filter text's
// errors when it is set on an open table, and filter, find, locate and lookup over the harbour
// table of the corpus against the values an independent reader saw there.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "engine/dbf_builder.h"
#include "index/HXDBFNTX.h"
#include "platform/exception.h"
#include "testutil/corpus.h"
#include "testutil/temp_dir.h"

namespace zarbel {
namespace {

namespace fs = std::filesystem;

std::string Message(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no failure)";
}

std::vector<int> Walk(THXDBFNTX& t) {
    std::vector<int> r;
    for (t.First(); !t.Eof(); t.Next()) r.push_back(t.RecNo());
    return r;
}

TEST(TableFilter, ErrorsOfTheTextAreRaisedWhenItIsSetOnAnOpenTable) {
    testutil::TempDir dir;
    const std::vector<test::FieldSpec> fields = {{"NAME", 'C', 8}, {"AGE", 'N', 3}};
    std::vector<std::string> recs;
    for (int i = 1; i <= 6; ++i) recs.push_back(test::Record(fields, {"n" + std::to_string(i), std::to_string(i * 10)}));
    testutil::WriteFile(dir.File("f.dbf"), test::BuildDbf(0x03, fields, recs));
    THXDBFNTX t;
    t.SetDBFFileName(dir.File("f.dbf"));
    t.SetFilter("AGE > 20 .AND. AGE < 50");
    t.SetFiltered(true);
    t.Open();
    EXPECT_EQ(Walk(t), (std::vector<int>{3, 4}));
    // a bad text fails at once with the expression's message; the filter in force stays
    const std::string bad = Message([&] { t.SetFilter("AGE >"); });
    EXPECT_NE(bad, "(no failure)");
    EXPECT_EQ(bad, Message([&] {
                  THXDBFExprParser p(&t);
                  p.CompileWithChecks("AGE >", 0, 0);
              }));
    EXPECT_EQ(t.Filter(), "AGE > 20 .AND. AGE < 50");
    EXPECT_EQ(Walk(t), (std::vector<int>{3, 4}));
    EXPECT_EQ(Message([&] { t.SetFilter("NOSUCH = 1"); }), "Field 'NOSUCH' not found");
    // a good one applies at once
    t.SetFilter("AGE >= 50");
    EXPECT_EQ(Walk(t), (std::vector<int>{5, 6}));
    // with Filtered off the text still compiles when set, and finds use it
    t.SetFiltered(false);
    EXPECT_NE(Message([&] { t.SetFilter("AGE = "); }), "(no failure)");
    t.SetFilter("NAME = 'n2' .OR. NAME = 'n5'");
    EXPECT_EQ(Walk(t).size(), 6u);
    ASSERT_TRUE(t.FindLast());
    EXPECT_EQ(t.RecNo(), 5);
    ASSERT_TRUE(t.FindPrior());
    EXPECT_EQ(t.RecNo(), 2);
    EXPECT_FALSE(t.FindPrior());
    EXPECT_EQ(t.RecNo(), 2);
    // the options compile it again
    t.SetFilter("NAME = 'N3'");
    EXPECT_FALSE(t.FindFirst());
    t.SetFilterOptions(foCaseInsensitive);
    ASSERT_TRUE(t.FindFirst());
    EXPECT_EQ(t.RecNo(), 3);
}

// The harbour table's records as dbfread read them.
struct TPerson {
    std::string First, Last;
    int Age = -1;
    long Salary = 0;
};

std::vector<TPerson> ExpectedPeople(const fs::path& json) {
    const std::string text = testutil::Slurp(json);
    const std::string records = text.substr(text.find("\"records\""));
    std::vector<TPerson> people;
    const std::regex object("\\{[^{}]*\\}");
    const std::regex first("\"FIRST\": \"([^\"]*)\""), last("\"LAST\": \"([^\"]*)\""),
        age("\"AGE\": (-?\\d+|null)"), salary("\"SALARY\": (-?\\d+|null)");
    for (auto it = std::sregex_iterator(records.begin(), records.end(), object); it != std::sregex_iterator(); ++it) {
        const std::string o = it->str();
        std::smatch m;
        TPerson p;
        if (std::regex_search(o, m, first)) p.First = m[1];
        if (std::regex_search(o, m, last)) p.Last = m[1];
        if (std::regex_search(o, m, age) && m[1] != "null") p.Age = std::stoi(m[1]);
        if (std::regex_search(o, m, salary) && m[1] != "null") p.Salary = std::stol(m[1]);
        people.push_back(p);
    }
    return people;
}

TEST(TableFilter, HarbourTableFilteredFoundLocatedAndLookedUpAsAnIndependentReaderSawIt) {
    const fs::path corpus = testutil::CorpusDir();
    const fs::path json = corpus / "expected" / "harbour" / "test.dbf.json";
    if (!fs::exists(json)) GTEST_SKIP() << "corpus not found at " << corpus;
    const std::vector<TPerson> people = ExpectedPeople(json);
    ASSERT_EQ(people.size(), 500u);
    std::vector<int> young;
    for (std::size_t i = 0; i < people.size(); ++i)
        if (people[i].Age > 20 && people[i].Age < 30) young.push_back(static_cast<int>(i + 1));
    ASSERT_FALSE(young.empty());

    THXDBFNTX t;
    t.SetDBFFileName((corpus / "harbour" / "test.dbf").string());
    t.AccessMode().SetAccessMode(0);  // the corpus is only read
    t.SetBufferSize(2000);            // ten records per read
    t.Open();
    t.SetFilter("AGE>20 .AND. AGE<30");
    // find first / next with the filter not in force
    std::vector<int> found;
    for (bool ok = t.FindFirst(); ok; ok = t.FindNext()) found.push_back(t.RecNo());
    EXPECT_EQ(found, young);
    EXPECT_EQ(t.RecNo(), young.back());
    // the filtered view
    t.SetFiltered(true);
    EXPECT_EQ(Walk(t), young);
    std::vector<int> back;
    for (t.Last(); !t.Bof(); t.Prior()) back.insert(back.begin(), t.RecNo());
    EXPECT_EQ(back, young);
    t.SetFiltered(false);

    // locate on LAST, case-insensitive and partial: the first record whose LAST begins so
    for (const std::string key : {"mcs", "sIm", "Z"}) {
        int want = 0;
        for (std::size_t i = 0; i < people.size() && !want; ++i) {
            std::string up = people[i].Last.substr(0, key.size());
            for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            std::string k = key;
            for (char& c : k) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (up == k) want = static_cast<int>(i + 1);
        }
        ASSERT_NE(want, 0) << key;
        t.First();
        ASSERT_TRUE(t.Locate("LAST", key, loCaseInsensitive | loPartialKey)) << key;
        EXPECT_EQ(t.RecNo(), want) << key;
    }
    // lookup of SALARY by FIRST;LAST: the first record with that name (names repeat)
    t.SetTrimInLocate(true);
    t.SetRecNo(7);
    std::vector<std::size_t> picks = {0, 123, 298, 499};
    for (std::size_t i = 1; i < people.size() && picks.size() < 5; ++i)  // a name seen before
        for (std::size_t j = 0; j < i; ++j)
            if (people[j].First == people[i].First && people[j].Last == people[i].Last &&
                people[j].Salary != people[i].Salary) {
                picks.push_back(i);
                break;
            }
    ASSERT_EQ(picks.size(), 5u);
    for (std::size_t pick : picks) {
        const TPerson& who = people[pick];
        long want = -1;
        for (const TPerson& p : people)
            if (p.First == who.First && p.Last == who.Last) {
                want = p.Salary;
                break;
            }
        TVariant v = t.Lookup("FIRST;LAST", TVariant(std::vector<TVariant>{who.First, who.Last}), "SALARY");
        ASSERT_FALSE(v.IsNull()) << who.First << " " << who.Last;
        EXPECT_EQ(v.AsInt64(), want) << who.First << " " << who.Last;
    }
    EXPECT_EQ(t.RecNo(), 7);  // lookup leaves the cursor
    t.Close();
}

}  // namespace
}  // namespace zarbel
