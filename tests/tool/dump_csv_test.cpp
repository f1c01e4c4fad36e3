// zarbel-dump --csv: the RFC 4180 form of every value kind, deleted records, the options that
// go with it, --help and --version; and the corpus read back through Python's csv module to
// the values that --json gives (tests/tool/csv_roundtrip.py).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/dbf_builder.h"
#include "platform/exception.h"
#include "testutil/temp_dir.h"
#include "tool/dump.h"
#include "tool/dump_run.h"

namespace zarbel {
namespace {

namespace fs = std::filesystem;
using test::BuildDbf;
using test::Dump;
using test::DumpRun;

// dBase III with a memo file: a text with a comma and quotes, a number, a date, a logical and a
// memo of two lines; a deleted record with nothing but blanks; a CP1251 Cyrillic record.
void WriteMemoTable(const std::string& dir) {
    const std::vector<test::FieldSpec> f = {
        {"NAME", 'C', 8}, {"N", 'N', 6, 2}, {"D", 'D', 8}, {"L", 'L', 1}, {"NOTE", 'M', 10}};
    testutil::WriteFile(dir + "/t.dbf",
                        BuildDbf(0x83, f,
                                 {" a,\"b\"    12.5020240301T         1",
                                  "*" + std::string(8 + 6 + 8 + 1 + 10, ' '),
                                  " \xCC\xE8\xF0 \xF2\xE5\xF1\xF2 -0.25        ?          "}));
    std::string memo(512, '\0');
    memo[0] = 2;  // next free block
    memo += "line one\r\nsays \"hi\", ok\x1A\x1A";
    testutil::WriteFile(dir + "/t.dbt", memo);
}

TEST(DumpCsv, ValuesInTheirJsonFormQuotedAsRfc4180WithCrlf) {
    testutil::TempDir dir;
    WriteMemoTable(dir.path());
    DumpRun r = Dump({"--csv", "-win", dir / "t.dbf"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "NAME,N,D,L,NOTE\r\n"
                     "\"a,\"\"b\"\"\",12.5,2024-03-01,T,\"line one\r\nsays \"\"hi\"\", ok\"\r\n"
                     "Мир тест,-0.25,,,\r\n");
    // --deleted: every record, and the flag as a last column; the deleted record's blank text
    // is an empty text (""), its blank number, date, logical and memo no value (empty).
    r = Dump({"--csv", "--deleted", "-win", dir / "t.dbf", dir / "t.dbf"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string one = "NAME,N,D,L,NOTE,deleted\r\n"
                            "\"a,\"\"b\"\"\",12.5,2024-03-01,T,\"line one\r\nsays \"\"hi\"\", ok\",F\r\n"
                            "\"\",,,,,T\r\n"
                            "Мир тест,-0.25,,,,F\r\n";
    EXPECT_EQ(r.out, one + one);  // two tables: two documents, each with its header row
}

TEST(DumpCsv, ParameterErrorsHelpAndVersion) {
    DumpRun r = Dump({"--json", "--csv", "a.dbf"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "zarbel-dump: --json and --csv exclude each other");
    r = Dump({"--deleted", "a.dbf"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "zarbel-dump: --deleted needs --csv");
    for (const char* help : {"--help", "-h"}) {
        r = Dump({help});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.rfind("Usage: zarbel-dump [-oem|-win] [--json|--csv [--deleted]] TABLE...\n", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("  --deleted  with --csv:"), std::string::npos);
        EXPECT_NE(r.out.find("Exit status: 0"), std::string::npos);
    }
    r = Dump({"-win", "--version", "a.dbf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "zarbel-dump " ZARBEL_VERSION "\n");
    EXPECT_EQ(r.err, "");
}

// Every corpus table that opens, in CSV with and without --deleted and in JSON; the CP866
// tables without a code page byte once more with -oem. csv_roundtrip.py reads each CSV back
// with Python's csv module and compares it with the JSON, and requires Cyrillic text from
// three dialects and a Cyrillic memo among them.
TEST(DumpCsv, CorpusReadsBackThroughPythonsCsvModuleToTheJsonValues) {
    const std::string corpus = ZARBEL_SOURCE_DIR "/../shared/corpus";
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "compatibility corpus not found at " << corpus;
    if (!fs::exists("/usr/bin/python3")) GTEST_SKIP() << "/usr/bin/python3 not found";
    testutil::TempDir dir;
    std::vector<std::pair<std::string, TDumpCodePage>> tables;
    for (const auto& e : fs::recursive_directory_iterator(corpus)) {
        std::string ext = e.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        const std::string rel = fs::relative(e.path(), corpus).string();
        if (!e.is_regular_file() || ext != ".dbf" || rel.rfind("expected/", 0) == 0 || rel.rfind("tools/", 0) == 0)
            continue;
        tables.emplace_back(rel, TDumpCodePage::Auto);
    }
    ASSERT_GT(tables.size(), 80u);
    tables.emplace_back("dans-dbf-lib/russian_foxpro/rus.dbf", TDumpCodePage::Oem);
    tables.emplace_back("php-xbase/dbf/cbrf_122019N1.dbf", TDumpCodePage::Oem);

    std::string names;
    for (const auto& [rel, cp] : tables) {
        std::string name = rel + (cp == TDumpCodePage::Oem ? ".oem" : "");
        std::replace(name.begin(), name.end(), '/', '_');
        TDumpOptions o;
        o.CodePage = cp;
        bool opened = true;
        for (const char* form : {".json", ".csv", ".del.csv"}) {
            o.Json = form == std::string(".json");
            o.Csv = !o.Json;
            o.Deleted = form == std::string(".del.csv");
            std::ofstream f(dir / (name + form), std::ios::binary);
            try {
                DumpTable(corpus + "/" + rel, o, f);
            } catch (const Exception&) {
                opened = false;  // refused tables are the JSON corpus test's business
                break;
            }
        }
        if (opened) names += " " + name;
    }
    FILE* p = ::popen(("/usr/bin/python3 " ZARBEL_SOURCE_DIR "/tests/tool/csv_roundtrip.py '" + dir.path() + "'" + names)
                          .c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string report;
    char buf[4096];
    while (std::size_t k = std::fread(buf, 1, sizeof buf, p)) report.append(buf, k);
    ASSERT_EQ(::pclose(p), 0) << report;
    std::istringstream lines(report);
    std::string line;
    int ok = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("OK ", 0) == 0) ++ok;
        else if (line.rfind("COVERAGE ", 0) == 0) std::printf("%s\n", line.c_str());
        else ADD_FAILURE() << line;
    }
    EXPECT_GT(ok, 80);
}

}  // namespace
}  // namespace zarbel
