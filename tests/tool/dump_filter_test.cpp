// zarbel-dump --filter: only the records the condition accepts, each with its own number; a
// condition that does not compile skips that table with the engine's message and status 2.
#include <gtest/gtest.h>

#include <cstdio>

#include "engine/dbf_builder.h"
#include "tool/dump_run.h"

namespace zarbel {
namespace {

using test::BuildDbf;
using test::Dump;
using test::FieldSpec;
using test::Record;
using test::TempPath;
using test::WriteFile;

std::string Ages(const std::string& name) {
    const std::vector<FieldSpec> f = {{"NAME", 'C', 6}, {"AGE", 'N', 3}};
    const std::string path = TempPath(name);
    // "\x8F\xA5" is CP866 for the Cyrillic letters Pe and ie
    WriteFile(path, BuildDbf(0x03, f,
                             {Record(f, {"ann", "19"}), Record(f, {"bob", "25"}), Record(f, {"\x8F\xA5", "29"}),
                              Record(f, {"dan", "30"})}));
    return path;
}

TEST(DumpFilter, OnlyAcceptedRecordsEachWithItsOwnNumber) {
    const std::string path = Ages("dump_filter.dbf");
    test::DumpRun r = Dump({"--json", "-oem", "--filter", "AGE>20 .AND. AGE<30", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("{\"recno\":2,\"deleted\":false,\"values\":[\"bob   \",25]}"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{\"recno\":3,"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\"recno\":1,"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\"recno\":4,"), std::string::npos) << r.out;
    // the = form, and a Cyrillic constant given in UTF-8 compared with the table's OEM text
    r = Dump({"--csv", "-oem", "--filter=NAME = '\xD0\x9F\xD0\xB5'", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "NAME,AGE\r\n\xD0\x9F\xD0\xB5,29\r\n");
    r = Dump({"-oem", "--filter", "AGE > 100", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Records: none\n"), std::string::npos) << r.out;
    std::remove(path.c_str());
}

TEST(DumpFilter, ABadFilterSkipsThatTableWithTheEnginesMessageAndStatusTwo) {
    const std::string good = Ages("dump_filter_good.dbf");
    const std::vector<FieldSpec> f = {{"OTHER", 'C', 3}};
    const std::string other = TempPath("dump_filter_other.dbf");
    WriteFile(other, BuildDbf(0x03, f, {Record(f, {"x"})}));
    test::DumpRun r = Dump({"--filter", "AGE = 25", other, good});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, other + ": Field 'AGE' not found\n");
    EXPECT_EQ(r.out.find(other), std::string::npos);  // nothing of the skipped table
    EXPECT_NE(r.out.find("Record 2\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Record 1\n"), std::string::npos) << r.out;
    r = Dump({"--filter=AGE >", good});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind(good + ": ", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
    r = Dump({good, "--filter"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("zarbel-dump: --filter needs a value\n"), std::string::npos) << r.err;
    std::remove(good.c_str());
    std::remove(other.c_str());
}

}  // namespace
}  // namespace zarbel
