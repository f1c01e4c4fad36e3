// The master-detail link: a detail table with an NTX on its key follows its master through a
// data source; its reactions with and without MasterFields.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/dbf_builder.h"
#include "index/HXDBFNTX.h"
#include "testutil/platform_helpers.h"
#include "testutil/temp_dir.h"

namespace zarbel {
namespace {

// Per master record (dbfread's order, deleted ones left out): "CUST count" of the live
// detail records with that CUST.
const char* const kCountScript = R"PY(
import sys, collections, dbfread
details = collections.Counter(r['CUST'] for r in dbfread.DBF(sys.argv[2], encoding='cp1251'))
for r in dbfread.DBF(sys.argv[1], encoding='cp1251'):
    print('%s %d' % (r['CUST'], details[r['CUST']]))
)PY";

const std::vector<test::FieldSpec> kMaster = {{"CUST", 'C', 5}, {"NAME", 'C', 10}};
const std::vector<test::FieldSpec> kDetail = {{"CUST", 'C', 5}, {"ITEM", 'N', 4}};

// The detail's visible records: their CUST values.
std::vector<std::string> Walk(THXDBFNTX& t) {
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName("CUST").AsString());
    return out;
}

// Masters whose keys begin one another ("A", "AB", "ABC"), masters without details, details
// without a master, deleted details, in no order; both tables open, an NTX built on the
// detail's CUST, the detail linked to the master's source.
struct TLinked {
    testutil::TempDir dir;
    std::string masterFile = dir.File("M.DBF"), detailFile = dir.File("D.DBF");
    THXDBFNTX master, detail;
    TDataSource source;
    TLinked() {
        std::vector<std::string> custs = {"A", "AB", "ABC", "B", "Z9", "NONE1", "NONE2"}, m, d;
        for (int i = 0; i < 30; ++i) custs.push_back("C" + std::to_string(i * 7 % 30));
        for (std::size_t i = 0; i < custs.size(); ++i)
            m.push_back(test::Record(kMaster, {custs[i], "n" + std::to_string(i)}, i == 3));
        std::mt19937 rng(25);
        for (int i = 0; i < 400; ++i) {
            std::string c = custs[rng() % custs.size()];
            if (c.rfind("NONE", 0) == 0) c = i % 2 ? "ORPH" : "A B";
            d.push_back(test::Record(kDetail, {c, std::to_string(i)}, rng() % 9 == 0));
        }
        testutil::WriteFile(masterFile, test::BuildDbf(0x03, kMaster, m));
        testutil::WriteFile(detailFile, test::BuildDbf(0x03, kDetail, d));
        master.SetDBFFileName(masterFile);
        master.SetTrimCType(true);  // the link reads the values with their blanks all the same
        master.SetSetDeleted(true);
        master.Open();
        detail.SetDBFFileName(detailFile);
        detail.AccessMode().SetAccessMode(TAccessMode::kOpenReadWrite | TAccessMode::kShareExclusive);
        detail.SetSetDeleted(true);
        detail.Open();
        THXNTXIndex& ix = detail.Indexes().Add();
        ix.SetNTXFileName(dir.File("D_CUST.NTX"));
        ix.SetKeyExpresion("CUST");
        ix.CreateIndex(false, 65536);
        source.SetDataSet(&master);
        detail.SetDataSource(&source);
    }
};

TEST(MasterDetail, EveryMasterRecordShowsTheDetailsDbfreadCounts) {
    TLinked l;
    testutil::WriteFile(l.dir.File("count.py"), kCountScript);
    const std::string cmd = "cd '" + l.dir.path() + "' && /usr/bin/python3 count.py M.DBF D.DBF >counts.txt 2>&1";
    const int status = std::system(cmd.c_str());
    const std::string counts = testutil::ReadFile(l.dir.File("counts.txt"));
    if (status != 0) GTEST_SKIP() << "python3-dbfread is not available: " << counts;
    l.detail.SetMasterFields("CUST");
    std::string shown;
    for (l.master.First(); !l.master.Eof(); l.master.Next()) {
        const std::string cust = l.master.FieldByName("CUST").AsString();
        const std::vector<std::string> details = Walk(l.detail);
        for (const std::string& c : details) EXPECT_EQ(c, test::Pad(cust, 5)) << "master " << cust;
        shown += cust + " " + std::to_string(details.size()) + "\n";
    }
    EXPECT_EQ(shown, counts);
    EXPECT_TRUE(l.master.TrimCType());
}

// Without MasterFields the detail moves with the master; with them a change, scroll or reopening
// of the master and the detail's own opening set the range anew; a master with no record leaves
// the detail empty; a table may be its own master.
TEST(MasterDetail, LinkReactions) {
    TLinked l;
    THXDBFNTX& d = l.detail;
    l.master.First();
    EXPECT_EQ(d.RecNo(), 1);
    l.master.MoveBy(3);
    EXPECT_EQ(d.RecNo(), 4);
    l.master.Last();
    EXPECT_TRUE(d.Eof());
    const std::size_t all = Walk(d).size();

    l.master.First();
    d.SetMasterFields("CUST");
    EXPECT_TRUE(d.MasterLinkActive());
    EXPECT_EQ(d.FieldByName("CUST").AsString(), "A    ");
    const std::vector<std::string> a = Walk(d);
    l.master.Next();
    EXPECT_EQ(d.FieldByName("CUST").AsString(), "AB   ");
    l.master.Close();
    l.master.Open();  // on "A" again
    EXPECT_EQ(Walk(d), a);
    d.Close();
    l.master.Next();
    d.Open();  // opens on the range of "AB"
    EXPECT_EQ(d.FieldByName("CUST").AsString(), "AB   ");

    THXDBFNTX empty;
    testutil::WriteFile(l.dir.File("E.DBF"), test::BuildDbf(0x03, kMaster, {}));
    empty.SetDBFFileName(l.dir.File("E.DBF"));
    empty.Open();
    TDataSource none;
    none.SetDataSet(&empty);
    d.SetDataSource(&none);
    EXPECT_TRUE(Walk(d).empty());
    d.SetDataSource(&l.source);
    EXPECT_EQ(d.FieldByName("CUST").AsString(), "AB   ");

    d.SetMasterFields("");
    EXPECT_FALSE(d.MasterLinkActive());
    EXPECT_EQ(Walk(d).size(), all);
    EXPECT_EQ(testutil::Message([&] { d.SetRangeFields("ITEM", std::int32_t{1}); }),
              "THXSmartDBF: There is no suitable index!");
    // a table that is its own master follows itself once, without or with MasterFields
    TDataSource self;
    self.SetDataSet(&d);
    d.SetDataSource(&self);
    d.Last();
    EXPECT_TRUE(d.Eof());
    d.SetMasterFields("CUST");
    const std::vector<std::string> own = Walk(d);
    ASSERT_FALSE(own.empty());
    EXPECT_EQ(std::count(own.begin(), own.end(), own.front()), static_cast<long>(own.size()));
}

}  // namespace
}  // namespace zarbel
