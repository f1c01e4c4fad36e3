// zarbel-dump in-process: JSON value forms of every kind, plain text in both console encodings,
// the code page choice, refused tables and the command line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <sstream>

#include "engine/dbf_builder.h"
#include "index/HXDBFNTX.h"
#include "platform/codepage.h"
#include "tool/dump.h"
#include "tool/dump_run.h"

namespace zarbel {
namespace {

using test::LE32;

using test::BuildDbf;
using test::FieldSpec;
using test::TempPath;
using test::WriteFile;

std::string LE64(std::uint64_t v) { return LE32(static_cast<std::uint32_t>(v)) + LE32(static_cast<std::uint32_t>(v >> 32)); }
std::string DoubleBytes(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, 8);
    return LE64(u);
}

using test::Dump;
using test::DumpRun;

// A Visual FoxPro table with one field of each kind the JSON form distinguishes.
std::string VfpTable() {
    std::vector<FieldSpec> f = {
        {"NAME", 'C', 6, 0, 0x02},  {"CNT", 'I', 4},  {"AMT", 'N', 8, 2}, {"DAY", 'D', 8},
        {"OK", 'L', 1},             {"STAMP", 'T', 8}, {"PRICE", 'Y', 8}, {"RATE", 'B', 8},
        {"RAW", 'C', 3, 0, 0x04},   {"_NULLFLAGS", '0', 1, 0, 0x01},
    };
    std::string r1 = std::string(" ") + "\xD2\xE5\xF1\xF2  " + LE32(static_cast<std::uint32_t>(-7)) + "   12.50" +
                     "20240301" + "T" + LE32(2460371) + LE32(45296789) + LE64(123456) + DoubleBytes(2.5) +
                     std::string("\x00\xFF\x41", 3) + std::string(1, '\0');
    std::string r2 = std::string("*") + "abc   " + LE32(0) + std::string(8, ' ') + std::string(8, ' ') + " " +
                     std::string(8, ' ') + LE64(0) + DoubleBytes(0) + "   " + "\x01";
    return BuildDbf(0x30, f, {r1, r2});
}

TEST(Dump, JsonGivesTypedValuesNullsHexAndDeletionFlags) {
    const std::string path = TempPath("dump_vfp.dbf");
    WriteFile(path, VfpTable());
    DumpRun r = Dump({"--json", "-win", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("\"dialect\":\"xVisualFoxPro\",\"version_byte\":48,\"memo_dialect\":null,\"oem\":false"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("{\"name\":\"NAME\",\"type\":\"C\",\"extended_type\":null,\"length\":6,\"decimals\":0,"
                         "\"offset\":1,\"flags\":2,\"null_bit\":0,\"data_type\":\"String\",\"size\":6}"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("{\"recno\":1,\"deleted\":false,\"values\":[\"\xD0\xA2\xD0\xB5\xD1\x81\xD1\x82  \",-7,12.5,"
                         "\"2024-03-01\",true,\"2024-03-01T12:34:56.789\",12.3456,2.5,\"00ff41\",null]}"),
              std::string::npos)
        << r.out;
    // Record 2: the null bit of NAME is set; blank N, D, L and T have no value; Y and B always do.
    EXPECT_NE(r.out.find("{\"recno\":2,\"deleted\":true,\"values\":[null,0,null,null,null,null,0,0,\"202020\",null]}"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 3), "]}\n");
    std::remove(path.c_str());
}

TEST(Dump, PlainTextShowsCyrillicInTheConsoleEncodingAndTheCodePageChoice) {
    // CP866 "Привет" in a dBase III table whose code page byte says CP866 (0x65).
    std::string t = BuildDbf(0x03, {{"NAME", 'C', 8}, {"N", 'N', 3}}, {std::string(" \x8F\xE0\xA8\xA2\xA5\xE2  ") + "  5"});
    t[29] = 0x65;
    const std::string path = TempPath("dump_oem.dbf");
    WriteFile(path, t);
    const std::string privet = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";

    DumpRun r = Dump({path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Text: OEM, CP866 (by the table's code page)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Record 1\n  NAME = " + privet + "\n  N    = 5\n"), std::string::npos) << r.out;

    // An OEM console gets the CP866 bytes themselves.
    r = Dump({path}, ConsoleEncoding::Oem);
    EXPECT_NE(r.out.find("  NAME = \x8F\xE0\xA8\xA2\xA5\xE2\n"), std::string::npos) << r.out;

    // -win forces ANSI: the same bytes read as CP1251 letters.
    r = Dump({"-WIN", path});
    EXPECT_NE(r.out.find("Text: ANSI, CP1251 (-win)"), std::string::npos);
    EXPECT_EQ(r.out.find(privet), std::string::npos);

    // Without a code page byte the table is ANSI unless -oem says otherwise.
    t[29] = 0;
    WriteFile(path, t);
    r = Dump({path});
    EXPECT_NE(r.out.find("Text: ANSI, CP1251 (default)"), std::string::npos);
    r = Dump({"-oem", "--json", path});
    EXPECT_NE(r.out.find("\"values\":[\"" + privet + "  \",5]"), std::string::npos) << r.out;
    std::remove(path.c_str());
}

// The JSON is valid UTF-8 whatever bytes the table holds (a type byte of 0x80 or more), and
// the dump reads beside another reader of the table.
TEST(Dump, JsonIsValidUtf8ForAnyTypeByteAndTheDumpSharesWithReaders) {
    const std::string path = TempPath("dump_typebyte.dbf");
    std::string t = BuildDbf(0x03, {{"A", 'C', 1}, {"B", 'C', 1}}, {" xy"});
    t[32 + 32 + 11] = static_cast<char>(0x80);  // B's type byte
    WriteFile(path, t);
    THXDBFNTX reader;  // another reader holds the table open meanwhile
    reader.SetDBFFileName(path);
    reader.AccessMode().SetAccessMode(0);
    reader.Open();
    DumpRun r = Dump({"--json", path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(IsValidUtf8(r.out));
    EXPECT_NE(r.out.find("\"type\":\"\\u0080\""), std::string::npos) << r.out;
    reader.Close();
    std::remove(path.c_str());
}

// A FIFO named like a table is refused at once, not waited on.
TEST(Dump, AFifoIsRefusedWithoutWaiting) {
    const std::string fifo = TempPath("dump_fifo.dbf");
    std::remove(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    DumpRun r = Dump({fifo});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "THXSmartDBF.InternalOpen: Open error \"" + fifo + "\" (not a regular file)\n");
    std::remove(fifo.c_str());
}

TEST(Dump, ATableThatDoesNotOpenGivesTheEngineMessageAndStatusOneTheOthersAreDumped) {
    const std::string good = TempPath("dump_good.dbf");
    const std::string bad = TempPath("dump_bad.dbf");
    const std::string dialect = TempPath("dump_dialect.dbf");
    WriteFile(good, BuildDbf(0x03, {{"A", 'C', 1}}, {" x"}));
    WriteFile(bad, "\x0A");
    WriteFile(dialect, BuildDbf(0xF5, {{"T", 'T', 8}}, {}));
    DumpRun r = Dump({"--json", bad, good, dialect, TempPath("dump_missing.dbf")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "THXSmartDBF.InternalOpen: File \"" + bad + "\" is not DBF file\n"
                     "THXSmartDBF.HiddenInitFieldDefs: DBF Version must be xVisualFoxPro or greater for field type \"T\"!\n"
                     "THXSmartDBF.InternalOpen: Open error \"" + TempPath("dump_missing.dbf") +
                         "\" (No such file or directory)\n");
    EXPECT_NE(r.out.find("{\"recno\":1,\"deleted\":false,\"values\":[\"x\"]}"), std::string::npos) << r.out;
    for (const std::string& p : {good, bad, dialect}) std::remove(p.c_str());
}

TEST(Dump, AValueThatFailsToReadIsShownAndReportedTheRestIsDumped) {
    // A dBase IV memo reference past the end of a memo file that holds only its header.
    const std::string path = TempPath("dump_memo.dbf");
    const std::string memo = TempPath("dump_memo.dbt");
    WriteFile(path, BuildDbf(0x8B, {{"NOTE", 'M', 10}, {"N", 'N', 2}}, {"          7 1", "            2"}));
    std::string header(512, '\0');
    header[0] = 1;
    header[20] = 0;
    header[21] = 2;  // block size 512
    WriteFile(memo, header);
    DumpRun r = Dump({"--json", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, path + ": record 1, field NOTE: THXSmartDBF: Lob stream read block error!\n");
    EXPECT_NE(r.out.find("\"values\":[{\"error\":\"THXSmartDBF: Lob stream read block error!\"},1]"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"values\":[null,2]"), std::string::npos) << r.out;
    r = Dump({path});
    EXPECT_NE(r.out.find("NOTE = (error: THXSmartDBF: Lob stream read block error!)"), std::string::npos) << r.out;
    std::remove(path.c_str());
    std::remove(memo.c_str());
}

TEST(Dump, CommandLine) {
    DumpRun r = Dump({});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Usage: zarbel-dump [-oem|-win] [--json|--csv [--deleted]] TABLE..."), std::string::npos);
    r = Dump({"--xml", "a.dbf"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown option --xml"), std::string::npos);
    // An empty table: structure, no records.
    const std::string path = TempPath("dump_empty.dbf");
    WriteFile(path, BuildDbf(0x03, {{"A", 'C', 1}}, {}));
    r = Dump({path});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("records 0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Records: none\n"), std::string::npos);
    r = Dump({"--json", path});
    EXPECT_NE(r.out.find("\"records\":[]}\n"), std::string::npos) << r.out;
    std::remove(path.c_str());
}

}  // namespace
}  // namespace zarbel
