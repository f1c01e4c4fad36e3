// The 42 functions: parser type, result on a value and on a null, size, width and decimals as a
// key; the examples and bounds of each, argument counts, and keys of common index expressions
// over a real table against values computed from an independent reader's view.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <regex>

#include "expr/HXDBFExprFunctions.h"
#include "expr/expr_table.h"
#include "platform/locale.h"
#include "platform/mem_env.h"
#include "platform/numtext.h"
#include "testutil/corpus.h"
#include "testutil/platform_helpers.h"

using namespace zarbel;
using testutil::Message;

namespace {

constexpr unsigned X = poExtendedSyntax;

// S C(5), N N(6,2), D D, L L, BIG N(19): record 1 has values, record 2 none (character fields
// are read trimmed, so a blank one has no value).
std::vector<test::FieldSpec> Fields() { return {{"S", 'C', 5}, {"N", 'N', 6, 2}, {"D", 'D', 8}, {"L", 'L', 1}, {"BIG", 'N', 19}}; }

// A value as text: "<null>", T/F, numbers in general form, dates as YYYYMMDDhhmmss, texts in quotes.
std::string Show(const TExprValue& v) {
    char buf[kNumTextMax];
    switch (v.Type) {
        case varNull: case varEmpty: return "<null>";
        case varBoolean: return v.B ? "T" : "F";
        case varInteger: case varInt64: return std::string(buf, FormatInt64(v.I, buf));
        case varDouble: case varCurrency: return std::string(buf, FormatFloatGeneral(v.D, '.', buf));
        case varDate: {
            int y, m, d, hh, mm, ss, ms;
            DecodeDate(v.D, y, m, d);
            DecodeTime(v.D, hh, mm, ss, ms);
            std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", y, m, d, hh, mm, ss);
            return buf;
        }
        default: return "\"" + v.S + "\"";
    }
}

struct TFn {
    const char* name;
    const char* text;
    TFieldType type;
    const char* value;      // on record 1
    const char* onNull;     // on record 2 (fields without values)
    int size, width, decimals;  // as a key, after record 1
};

}  // namespace

TEST(ExprFunctions, AllFortyTwoNames) {
    test::TExprTable t({{"aBc", "3.14", "20240131", "T", "7"}, {}}, Fields(), /*trimC=*/true);
    const TFn fns[] = {
        {"UPPER", "UPPER(S)", ftString, "\"ABC\"", "\"     \"", 5, 5, 0},
        {"LOWER", "LOWER(S)", ftString, "\"abc\"", "\"     \"", 5, 5, 0},
        {"ANSIUPPER", "ANSIUPPER(S+'\xE0\xB8')", ftString, "\"ABC\xC0\xA8\"", "\"       \"", 7, 7, 0},
        {"ANSILOWER", "ANSILOWER(S+'\xC0\xA8')", ftString, "\"abc\xE0\xB8\"", "\"       \"", 7, 7, 0},
        {"SUBSTRING", "SUBSTRING(S,2,2)", ftString, "\"Bc\"", "\"\"", 2, 2, 0},
        {"SUBSTR", "SUBSTR(S,3)", ftString, "\"c\"", "\"\"", 5, 0, 0},
        {"STUFF", "STUFF(S,2,1,'XY')", ftString, "\"aXYc\"", "\"XY\"", 4, 4, 0},
        {"STRTRAN", "STRTRAN(S,'B','bb')", ftString, "\"abbc\"", "\"\"", 4, 4, 0},
        {"ALLTRIM", "ALLTRIM(' '+S)", ftString, "\"aBc\"", "\"\"", 3, 3, 0},
        {"TRIM", "TRIM(' '+S)", ftString, "\" aBc\"", "\"\"", 4, 4, 0},
        {"TRIMLEFT", "TRIMLEFT(' '+S)", ftString, "\"aBc\"", "\"\"", 3, 3, 0},
        {"LTRIM", "LTRIM(' '+S)", ftString, "\"aBc\"", "\"\"", 3, 3, 0},
        {"TRIMRIGHT", "TRIMRIGHT(' '+S)", ftString, "\" aBc\"", "\"\"", 4, 4, 0},
        {"RTRIM", "RTRIM(' '+S)", ftString, "\" aBc\"", "\"\"", 4, 4, 0},
        {"PADR", "PADR(S,7,'*')", ftString, "\"aBc****\"", "\"     **\"", 7, 7, 0},
        {"PADL", "PADL(N,8)", ftString, "\"    3.14\"", "\"        \"", 8, 8, 0},
        {"PADC", "PADC(L,7,'-')", ftString, "\"-True--\"", "\"--- ---\"", 7, 7, 0},
        {"DTOS", "DTOS(D)", ftString, "\"20240131\"", "\"        \"", 8, 8, 0},
        {"DTTOS", "DTTOS(D+0.75)", ftString, "\"20240131180000\"", "\"              \"", 14, 14, 0},
        {"STR", "STR(N)", ftString, "\"  3.14\"", "\"      \"", 6, 6, 0},
        {"VAL", "VAL(STR(N))", ftString, "3.14", "0", 6, 6, 0},
        {"YEAR", "YEAR(D)", ftInteger, "2024", "<null>", 4, 4, 0},
        {"MONTH", "MONTH(D)", ftInteger, "1", "<null>", 2, 2, 0},
        {"DAY", "DAY(D)", ftInteger, "31", "<null>", 2, 2, 0},
        {"HOUR", "HOUR(D+0.765625)", ftInteger, "18", "<null>", 2, 2, 0},
        {"MINUTE", "MINUTE(D+0.765625)", ftInteger, "22", "<null>", 2, 2, 0},
        {"SECOND", "SECOND(D+0.765625)", ftInteger, "30", "<null>", 2, 2, 0},
        {"GETDATE", "GETDATE(TRIM(S)+'01.02.2003')", ftDateTime, "<null>", "20030201000000", 14, 14, 0},
        {"DATE", "DATE(D+0.75)", ftDate, "20240131000000", "<null>", 8, 8, 0},
        {"TIME", "TIME(D+0.75)", ftTime, "18991230180000", "<null>", 6, 6, 0},
        {"IF", "IF(L, S, 'no')", ftString, "\"aBc\"", "\"no\"", 5, 5, 0},
        {"IIF", "IIF(L, N, 0)", ftString, "3.14", "0", 6, 6, 2},
        {"LEFT", "LEFT(S,2)", ftString, "\"aB\"", "\"\"", 2, 2, 0},
        {"RIGHT", "RIGHT(TRIM(S),5)", ftString, "\"aBc\"", "\"\"", 5, 5, 0},
        {"SPACE", "SPACE(3)", ftString, "\"   \"", "\"   \"", 3, 3, 0},
        {"STRZERO", "STRZERO(N)", ftString, "\"0000000003\"", "<null>", 10, 10, 0},
        {"DESCEND", "DESCEND(S)", ftString, "\"\x9F\xBE\x9D\"", "\"     \"", 5, 5, 0},
        {"SUM", "SUM(N)", ftFloat, "<null>", "<null>", 6, 6, 2},
        {"MIN", "MIN(S)", ftString, "<null>", "<null>", 5, 5, 0},
        {"MAX", "MAX(D)", ftDate, "<null>", "<null>", 8, 8, 0},
        {"AVG", "AVG(N)", ftFloat, "<null>", "<null>", 6, 6, 2},
        {"COUNT", "COUNT(*)", ftInteger, "<null>", "<null>", 10, 10, 0},
    };
    ASSERT_EQ(std::size(fns), 42u);
    ASSERT_EQ(ExprFunctionCount(), 42);
    for (int i = 0; i < ExprFunctionCount(); ++i) {
        const TFn& f = fns[i];
        SCOPED_TRACE(f.text);
        EXPECT_STREQ(ExprFunctions()[i].Name, f.name);
        THXDBFExprParser p(&t.T, 0, X, f.text);
        EXPECT_EQ(p.Root()->DataType, f.type);
        t.Go(2);
        EXPECT_EQ(Show(p.EvaluateValue()), f.onNull);
        t.Go(1);
        EXPECT_EQ(Show(p.EvaluateValue()), f.value);
        EXPECT_EQ(p.Root()->DataSize, f.size);
        EXPECT_EQ(p.KeyWidth(), f.width);
        EXPECT_EQ(p.KeyDecimals(), f.decimals);
        const bool aggregate = ExprFunctions()[i].Aggregate;
        EXPECT_EQ(p.Root()->Scope, aggregate ? esAggregate : (f.text == std::string("SPACE(3)") || f.type == ftDateTime) ? esConstant : esRecord);
    }
    THXDBFExprParser count(&t.T, 0, X, "count(n)");  // names in any case
    EXPECT_EQ(count.Root()->Scope, esAggregate);
}

TEST(ExprFunctions, ExamplesOfEachFunction) {
    test::TExprTable t({{"Smith", "", "", "", ""}, {}}, {{"C10", 'C', 10}, {"N", 'N', 6, 2}, {"D", 'D', 8}, {"L", 'L', 1}, {"BIG", 'N', 19}}, true);
    t.Go(2);
    struct {
        const char* text;
        const char* value;
    } cases[] = {
        {"UPPER(C10)", "\"          \""},  // a null C(10): ten pad characters
        {"DTOS(C10)", "\"        \""},     // not a date
        {"STR(3.14159, 6, 2)", "\"  3.14\""},
        {"STRZERO(42)", "\"0000000042\""},
        {"STRZERO(-5, 4)", "\"00-5\""},
        {"STRZERO(123456, 4)", "\"123456\""},  // a longer text is not cut
        {"STRZERO(1, 2, 3)", "<null>"},        // other argument counts give no value
        {"RIGHT('abc', 5)", "\"abc\""},
        {"SUBSTR('abcdef', 3)", "\"cdef\""},
        {"SUBSTR('abcdef', 9)", "\"\""},
        {"PADC('ab', 5, '*')", "\"*ab**\""},
        {"PADL('abcdef', 3)", "\"abc\""},   // a long text is cut to its first len characters
        {"DESCEND('\x01\xFF')", "\"\xFF\x01\""},
        {"DESCEND(GETDATE('01.01.2000'))", "2780263"},  // Julian day 2451545
        {"DESCEND(D)", "5231808"},                       // a null date
        {"DESCEND(N)", "0"},                              // a null number
        {"DESCEND(L)", "F"},
        {"DESCEND(3.5)", "-3.5"},
        {"DESCEND(.F.)", "T"},
        {"STRTRAN('a-b-c-d', '-', '+', 2, 2)", "\"a-b+c+d\""},  // from the second, two of them
        {"STRTRAN('a-b-c', '-')", "\"abc\""},
        {"STRTRAN('aaa', 'a', 'aa')", "\"aaaaaa\""},  // replacements are not searched again
        {"STRTRAN('abc', '', 'x')", "\"abc\""},        // an empty search text changes nothing
        {"STUFF('abc', 2, 0, 'XY')", "\"aXYbc\""},
        {"STUFF('abc', 9, 5, 'Z')", "\"abcZ\""},
        {"VAL(' -12.5kg ')", "-12.5"},
        {"VAL('1.')", "1"},
        {"VAL('abc')", "0"},
        {"VAL('--5')", "0"},
        {"IIF(.T., 1, 1/0)", "1"},  // only the branch taken is evaluated
        {"IIF(.F., 1/0, 'b')", "\"b\""},
        {"PADR(1.5, 6, '0')", "\"1.5000\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        THXDBFExprParser p(&t.T, 0, X, c.text);
        EXPECT_EQ(Show(p.EvaluateValue()), c.value);
    }
    THXDBFExprParser now(&t.T, 0, X, "GETDATE()");  // no argument: the current date and time
    const double v = now.EvaluateValue().D;
    EXPECT_EQ(now.EvaluateValue().Type, varDate);
    EXPECT_LT(std::fabs(v - Now()), 1.0 / 1440);
}

TEST(ExprFunctions, ArgumentCountsBoundsAndMessages) {
    test::TExprTable t({{"abc", "1", "20240131", "T", "7"}}, Fields());
    t.Go(1);
    struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"LEFT(S)", "THXDBFExprParser.Execute: Incorrect number of arguments in LEFT call."},
        {"IIF(L)", "THXDBFExprParser.Execute: Incorrect number of arguments in IIF call."},
        {"PADR(S)", "THXDBFExprParser.Execute: Incorrect number of arguments in PADR call."},
        {"SUBSTRING(S)", "THXDBFExprParser.Execute: Incorrect number of arguments in SUBSTR call."},
        {"SUBSTR(S,1,2,3)", "THXDBFExprParser.Execute: Incorrect number of arguments in SUBSTR call."},
        {"STUFF(S,1)", "THXDBFExprParser.Execute: Incorrect number of arguments in STUFF call."},
        {"STRTRAN(S,'a','b',1,1,1)", "THXDBFExprParser.Execute: Incorrect number of arguments in STRTRAN call."},
        {"DTOS()", "Type mismatch in expression"},
        {"SPACE(70000)", "THXDBFExprParser.Execute: Length 70000 in SPACE call is above 65535"},
        {"PADL(S, 65536)", "THXDBFExprParser.Execute: Length 65536 in PADL call is above 65535"},
        {"STR(N, 1e9)", "THXDBFExprParser.Execute: Length 1000000000 in STR call is above 65535"},
        {"STRZERO(N, 99999)", "THXDBFExprParser.Execute: Length 99999 in STRZERO call is above 65535"},
        {"DESCEND(NULL)", "Field type for DESCEND() not avaliable!"},
        {"DESCEND(BIG)", "Non supported argument type in DESCEND() function!"},
        // a start below 1 counts as 1, a negative count or length as 0
        {"SUBSTR(S, -3, 2) + LEFT(S, -1) + RIGHT(S, -1) + SPACE(-3) + PADR(S, -2) + STUFF(S, 0, -1, 'x') = 'abxabc'", ""},
        {"STRZERO(7, -3) = '7' .AND. GETDATE() > D", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        THXDBFExprParser p(&t.T);
        const std::string m = Message([&] {
            p.Compile(c.text, 0, X);
            if (!*c.message) {
                EXPECT_TRUE(p.EvaluateBoolean());
            } else {
                p.Evaluate();
            }
        });
        EXPECT_EQ(m, *c.message ? std::string(c.message) : "(no exception)");
    }
}

TEST(ExprFunctions, KeysOfCommonIndexExpressionsOverARealTable) {
    namespace fs = std::filesystem;
    const fs::path corpus = testutil::CorpusDir();
    const fs::path json = corpus / "expected" / "harbour" / "test.dbf.json";
    if (!fs::exists(json)) GTEST_SKIP() << "corpus not found at " << corpus;
    const std::string text = testutil::Slurp(json);
    const std::string records = text.substr(text.find("\"records\""));
    // The independent reader's values, one record object after another.
    struct TRow {
        std::string first, last, state, hired;
        bool married;
        int age;
        long salary;
    };
    std::vector<TRow> rows;
    const std::regex rowRe(
        "\"FIRST\": \"([^\"]*)\",\\s*\"LAST\": \"([^\"]*)\",[^}]*?\"STATE\": \"([^\"]*)\",[^}]*?\"HIREDATE\": \"([0-9-]*)\","
        "\\s*\"MARRIED\": (true|false),\\s*\"AGE\": (\\d+),\\s*\"SALARY\": (\\d+)");
    for (auto it = std::sregex_iterator(records.begin(), records.end(), rowRe); it != std::sregex_iterator(); ++it) {
        const auto& m = *it;
        rows.push_back({m[1], m[2], m[3], m[4], m[5] == "true", std::stoi(m[6]), std::stol(m[7])});
    }
    ASSERT_EQ(rows.size(), 500u);

    THXSmartDBF table;
    table.SetDBFFileName((corpus / "harbour" / "test.dbf").string());
    table.AccessMode().SetAccessMode(0);
    table.Open();
    auto upper = [](std::string s, std::size_t width) {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        s.resize(width, ' ');
        return s;
    };
    const char* expressions[] = {"UPPER(LAST)+UPPER(FIRST)", "DTOS(HIREDATE)", "STR(SALARY,10,2)", "DESCEND(AGE)",
                                 "IIF(MARRIED, \"Y\", \"N\")+STATE"};
    for (int e = 0; e < 5; ++e) {
        SCOPED_TRACE(expressions[e]);
        THXDBFExprParser p(&table, 0, X);
        p.SetIndexMode(true);
        p.Compile(expressions[e]);
        for (int r = 1; r <= 500; ++r) {
            const TRow& row = rows[static_cast<std::size_t>(r - 1)];
            std::string want;
            char buf[64];
            switch (e) {
                case 0: want = upper(row.last, 20) + upper(row.first, 20); break;
                case 1: want = row.hired.substr(0, 4) + row.hired.substr(5, 2) + row.hired.substr(8, 2); break;
                case 2: std::snprintf(buf, sizeof buf, "%10.2f", static_cast<double>(row.salary)); want = buf; break;
                case 3:
                    // -AGE as a number key of width 13 with 2 decimals: zero-filled, then 92 - code
                    std::snprintf(buf, sizeof buf, "%013.2f", static_cast<double>(row.age));
                    want = buf;
                    if (row.age > 0)
                        for (char& c : want) c = static_cast<char>(92 - c);
                    break;
                default: want = std::string(row.married ? "Y" : "N") + (row.state + "  ").substr(0, 2); break;
            }
            table.SetRecNo(r);
            ASSERT_EQ(p.EvaluateKey(), want) << "record " << r;
        }
    }
    table.Close();
}

namespace {

// GETDATE() reads the clock of the table's environment, so a test (or a caller) that sets one
// sets what "now" is.
TEST(ExprFunctions, GetDateWithoutArgumentReadsTheClockOfTheTablesEnvironment) {
    TMemEnv env;
    const TDateTime when = EncodeDate(2001, 2, 3) + EncodeTime(4, 5, 6, 0);
    env.SetNow(when);
    THXSmartDBF table;
    table.SetEnv(env);
    THXDBFExprParser p(&table);
    p.Compile("GETDATE()", 0, poExtendedSyntax);
    EXPECT_DOUBLE_EQ(p.Evaluate().AsDateTime(), when);
}

}  // namespace
