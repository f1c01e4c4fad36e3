// zarbel-dump --key: the key of every record as an index on the expression would store it.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "engine/dbf_builder.h"
#include "tool/dump.h"

namespace zarbel {
namespace {

using test::BuildDbf;
using test::FieldSpec;
using test::Record;
using test::TempPath;
using test::WriteFile;

struct DumpRun {
    int status;
    std::string out, err;
};
DumpRun Dump(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = DumpMain(args, out, err, ConsoleEncoding::Utf8);
    return {status, out.str(), err.str()};
}

std::string People(const std::string& name) {
    const std::vector<FieldSpec> f = {{"NAME", 'C', 6}, {"SUM", 'N', 5, 2}};
    const std::string path = TempPath(name);
    // "\x8F\xA5" is CP866 for the two Cyrillic letters Pe and ie
    WriteFile(path, BuildDbf(0x03, f, {Record(f, {"ab", "3.5"}), Record(f, {"\x8F\xA5", "-1"})}));
    return path;
}

TEST(DumpKey, JsonCarriesTheStoredKeyBytesAndTheKeyWidth) {
    const std::string path = People("dump_key.dbf");
    DumpRun r = Dump({"--json", "-win", "--key", "UPPER(NAME)+STR(SUM,6,1)", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"key_width\":12,\n\"records\":["), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("],\"key_hex\":\"414220202020202020332e35\"}"), std::string::npos) << r.out;  // "AB    " "   3.5"
    // an OEM table: evaluated on ANSI text, stored as OEM again (the bytes come back unchanged)
    r = Dump({"--json", "-oem", "--key=NAME", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"key_hex\":\"8fa520202020\""), std::string::npos) << r.out;
    std::remove(path.c_str());
}

TEST(DumpKey, CsvEndsEachRowWithTheKeyBytesAfterTheDeletedColumn) {
    const std::string path = People("dump_key_csv.dbf");
    DumpRun r = Dump({"--csv", "--deleted", "-oem", "--key=NAME", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "NAME,SUM,deleted,key_hex\r\nab,3.5,F,616220202020\r\n\xD0\x9F\xD0\xB5,-1,F,8fa520202020\r\n");
    std::remove(path.c_str());
}

TEST(DumpKey, PlainTextShowsTheKeyUnderEachRecord) {
    const std::string path = People("dump_key_text.dbf");
    DumpRun r = Dump({"-oem", "--key", "NAME+STR(SUM)", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("  key = ab     3.50\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  key = \xD0\x9F\xD0\xB5    -1.00\n"), std::string::npos) << r.out;  // Cyrillic in UTF-8
    std::remove(path.c_str());
}

TEST(DumpKey, AKeyThatDoesNotCompileSkipsThatTableWithStatusTwo) {
    const std::string good = People("dump_key_good.dbf");
    const std::vector<FieldSpec> f = {{"OTHER", 'C', 3}};
    const std::string other = TempPath("dump_key_other.dbf");
    WriteFile(other, BuildDbf(0x03, f, {Record(f, {"x"})}));
    DumpRun r = Dump({"--key", "NAME", other, good});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, other + ": Field 'NAME' not found\n");
    EXPECT_EQ(r.out.find(other), std::string::npos);  // nothing of the skipped table
    EXPECT_NE(r.out.find("  key = ab    \n"), std::string::npos) << r.out;
    r = Dump({"--key", "1/0", good});  // compiles, fails on each record
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("  key = (error: THXDBFExprParser.Execute: Division by zero)\n"), std::string::npos) << r.out;
    r = Dump({good, "--key"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("  --key EXPR, --key=EXPR\n"), std::string::npos);  // --key without its expression
    std::remove(good.c_str());
    std::remove(other.c_str());
}

}  // namespace
}  // namespace zarbel
