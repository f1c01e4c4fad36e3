// The master-detail link: a detail table with an NTX on its key follows its master through a
// data source; the details it shows for every master record are those python3-dbfread counts.
// The link's reactions with and without MasterFields, and the ranges by field list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "engine/dbf_builder.h"
#include "index/HXDBFNTX.h"
#include "platform/exception.h"
#include "testutil/platform_helpers.h"
#include "testutil/temp_dir.h"

namespace zarbel {
namespace {

constexpr std::uint32_t kExclusive = TAccessMode::kOpenReadWrite | TAccessMode::kShareExclusive;
const char* const kPython = "/usr/bin/python3";

// Per master record (dbfread's order, deleted ones left out): "CUST count" of the live
// detail records with that CUST.
const char* const kCountScript = R"PY(
import sys, collections, dbfread
details = collections.Counter(r['CUST'] for r in dbfread.DBF(sys.argv[2], encoding='cp1251'))
for r in dbfread.DBF(sys.argv[1], encoding='cp1251'):
    print('%s %d' % (r['CUST'], details[r['CUST']]))
)PY";

// The command's standard output; status gets its exit status.
std::string RunCommand(const std::string& cmd, int& status) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    for (int c; p && (c = std::fgetc(p)) != EOF;) out += static_cast<char>(c);
    const int st = p ? ::pclose(p) : -1;
    status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
}

const std::vector<test::FieldSpec> kMaster = {{"CUST", 'C', 5}, {"NAME", 'C', 10}};
const std::vector<test::FieldSpec> kDetail = {{"CUST", 'C', 5}, {"ITEM", 'N', 4}};

// Masters whose keys begin one another ("A", "AB", "ABC"), masters without details, details
// without a master, deleted details, in no order.
struct TPair {
    testutil::TempDir dir;
    std::string master = dir.File("M.DBF"), detail = dir.File("D.DBF"), ntx = dir.File("D_CUST.NTX");
    TPair() {
        std::vector<std::string> custs = {"A", "AB", "ABC", "B", "Z9", "NONE1", "NONE2"};
        for (int i = 0; i < 30; ++i) custs.push_back("C" + std::to_string(i * 7 % 30));
        std::vector<std::string> m, d;
        for (std::size_t i = 0; i < custs.size(); ++i)
            m.push_back(test::Record(kMaster, {custs[i], "n" + std::to_string(i)}, i == 3));
        std::mt19937 rng(25);
        for (int i = 0; i < 400; ++i) {
            std::string c = custs[rng() % custs.size()];
            if (c.rfind("NONE", 0) == 0) c = i % 2 ? "ORPH" : "A B";
            d.push_back(test::Record(kDetail, {c, std::to_string(i)}, rng() % 9 == 0));
        }
        testutil::WriteFile(master, test::BuildDbf(0x03, kMaster, m));
        testutil::WriteFile(detail, test::BuildDbf(0x03, kDetail, d));
    }
};

// The detail's visible records: their CUST values (RecNo order of the walk).
std::vector<std::string> Walk(THXDBFNTX& t) {
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName("CUST").AsString());
    return out;
}

// The pair open, an NTX on the detail's CUST built, the detail linked to the master's source.
struct TLinked {
    TPair files;
    THXDBFNTX master, detail;
    TDataSource source;
    TLinked() {
        master.SetDBFFileName(files.master);
        master.SetTrimCType(true);  // the link reads the values with their blanks all the same
        master.SetSetDeleted(true);
        master.Open();
        detail.SetDBFFileName(files.detail);
        detail.AccessMode().SetAccessMode(kExclusive);
        detail.SetSetDeleted(true);
        detail.Open();
        THXNTXIndex& ix = detail.Indexes().Add();
        ix.SetNTXFileName(files.ntx);
        ix.SetKeyExpresion("CUST");
        ix.CreateIndex(false, 65536);
        source.SetDataSet(&master);
        detail.SetDataSource(&source);
    }
};

TEST(MasterDetail, EveryMasterRecordShowsTheDetailsDbfreadCounts) {
    TLinked l;
    int status = -1;
    const std::string script = l.files.dir.File("count.py");
    testutil::WriteFile(script, kCountScript);
    const std::string counts = RunCommand(std::string(kPython) + " '" + script + "' '" + l.files.master + "' '" +
                                       l.files.detail + "' 2>&1",
                                   status);
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

// Without MasterFields the detail moves with the master (First, Last, by the same distance);
// with them every change or scroll of the master, its reopening and the detail's own opening
// set the range anew; an empty MasterFields ends the link with the range; a master with no
// record leaves the detail empty; a list no index covers is refused; a table may be its own
// master.
TEST(MasterDetail, LinkReactions) {
    TLinked l;
    THXDBFNTX& d = l.detail;
    ASSERT_FALSE(d.MasterLinkActive());
    l.master.First();
    EXPECT_EQ(d.RecNo(), 1);
    l.master.MoveBy(3);
    EXPECT_EQ(d.RecNo(), 4);
    l.master.Last();
    EXPECT_TRUE(d.Eof());
    const std::size_t all = Walk(d).size();

    l.master.First();  // "A"
    d.SetMasterFields("CUST");
    EXPECT_TRUE(d.MasterLinkActive());
    const std::vector<std::string> a = Walk(d);
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a.front(), "A    ");
    l.master.Next();  // "AB"
    EXPECT_EQ(d.FieldByName("CUST").AsString(), "AB   ");
    l.master.Close();
    l.master.Open();  // on "A" again
    EXPECT_EQ(Walk(d), a);
    d.Close();
    l.master.Next();
    d.Open();  // opens on the range of "AB"
    EXPECT_EQ(d.FieldByName("CUST").AsString(), "AB   ");

    THXDBFNTX empty;
    empty.SetDBFFileName(l.files.dir.File("E.DBF"));
    testutil::WriteFile(l.files.dir.File("E.DBF"), test::BuildDbf(0x03, kMaster, {}));
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
