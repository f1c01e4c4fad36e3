// Evaluation: comparisons (blank-padded, partial, case options), LIKE, IN, logic with short
// circuits, arithmetic, and the values given back.
#include <gtest/gtest.h>

#include <string>

#include "expr/expr_table.h"
#include "testutil/platform_helpers.h"

using namespace zarbel;
using testutil::Message;

namespace {

constexpr unsigned X = poExtendedSyntax;
constexpr unsigned CI = foCaseInsensitive, NP = foNoPartialCompare;

struct TCase {
    const char* text;
    unsigned filterOptions;
    const char* results;  // one letter per record of People(): T or F
};

}  // namespace

TEST(ExprEval, ConditionsOnEveryRecord) {
    test::TExprTable t(test::People());
    const TCase cases[] = {
        // partial "=": only the constant's trailing "*", the text at least as long as the prefix
        {"NAME = 'SMI*'", 0, "TTFF"},
        {"'SMI*' = NAME", 0, "TTFF"},
        {"NAME = 'SMI*'", NP, "FFFF"},
        {"NAME = CITY", 0, "FFTF"},
        // blank-padded comparisons of padded fields with shorter texts
        {"NAME = 'SMITH'", 0, "TFFF"},
        {"NAME = 'SMITH'", NP, "TFFF"},
        {"NAME <> 'SMITH'", 0, "FTTT"},
        {"NAME = 'smith'", CI, "TFFF"},
        {"NAME = 'smith'", CI | NP, "FFFF"},  // no partial compare: no case folding either
        {"NAME = 'smi*'", CI, "TTFF"},
        {"NAME < 'SMITHS'", 0, "TFTT"},
        {"NAME > 'SMITH'", 0, "FTFF"},
        {"NAME >= 'SMITH'", 0, "TTFF"},
        {"NAME <= 'Jones'", 0, "FFTT"},
        {"UPPER(CITY) = 'MOSCOW'", 0, "TFFF"},
        // LIKE matches the whole text
        {"NAME LIKE 'SM%'", 0, "TTFF"},
        {"NAME LIKE 'SM_TH'", 0, "FFFF"},
        {"NAME LIKE 'SM_TH%'", 0, "TTFF"},
        {"NAME LIKE 'SM_TH _%'", 0, "TFFF"},
        {"NAME LIKE 'sm%on%'", CI, "FTFF"},
        {"NAME LIKE '%'", 0, "TTTT"},
        // IN, compared as "="
        {"AGE IN (20, 25)", 0, "TFFT"},
        {"NAME IN ('Jo*', 'X')", 0, "FFFT"},
        {"CITY IN ('Paris')", 0, "FTFF"},
        // numbers, nulls (a blank N field has no value)
        {"AGE>20 .AND. AGE<30", 0, "TFFF"},
        {"AGE > 20 .OR. SUM < 0", 0, "TTFF"},
        {"AGE IS NULL", 0, "FFTF"},
        {"DATE IS NOT NULL", 0, "TTFT"},
        {"AGE = NULL", 0, "FFTF"},
        {"NOT AGE > 30", 0, "TFTT"},
        {"MARRIED .XOR. AGE > 30", 0, "TTFT"},
        {"BIG < 0", 0, "TFFF"},
        // dates against texts
        {"DATE = '20240131'", 0, "TFFF"},
        {"DATE < '01.01.2000'", 0, "FTFF"},
        {"DATE - 1 = '20240130'", X, "TFFF"},
        {"DATE + 1 > DATE", X, "TTFT"},
        {"DTOS(DATE) = '2000*'", X, "FFFT"},
        // arithmetic
        {"AGE * 2 = 50", X, "TFFF"},
        {"AGE - 5 = 20", X, "TFFF"},
        {"AGE -5 = 26", X, "FTFF"},
        {"(AGE + SUM) / 2 = 14.25", X, "TFFF"},
        {"'x' + NAME = 'xSMITH'", X, "TFFF"},
        // short circuits: the failing right side is never reached
        {".F. .AND. 1/0 = 1", X, "FFFF"},
        {".T. .OR. 1/0 = 1", X, "TTTT"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.text);
        THXDBFExprParser p(&t.T, c.filterOptions, X, c.text);
        std::string got;
        for (int r = 1; r <= 4; ++r) {
            t.Go(r);
            got += p.EvaluateBoolean() ? 'T' : 'F';
        }
        EXPECT_EQ(got, c.results);
    }
}

TEST(ExprEval, ValuesAndTheirVariantForms) {
    test::TExprTable t(test::People());
    t.Go(1);
    struct {
        const char* text;
        TVariant value;
    } cases[] = {
        {"1 + 2", TVariant(3.0)},
        {"7 / 2", TVariant(3.5)},
        {"'a' + 'b'", TVariant("ab")},
        {"NAME + CITY", TVariant("SMITH               Moscow         ")},
        {"AGE", TVariant(std::int32_t{25})},
        {"BIG", TVariant(std::int64_t{-999999999999999999})},
        {"MARRIED", TVariant(true)},
        {"DATE - DATE", TVariant(0.0)},
        {"DATE", TVariant::FromDateTime(EncodeDate(2024, 1, 31))},
        {"DATE + 0.5", TVariant::FromDateTime(EncodeDate(2024, 1, 31) + 0.5)},
        {"NULL", TVariant::Null()},
        {"AGE + NULL", TVariant::Null()},
        {"STR(SUM, 10, 2)", TVariant("      3.50")},
        {"UPPER('Ab1z')", TVariant("AB1Z")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        THXDBFExprParser p(&t.T, 0, X, c.text);
        EXPECT_EQ(p.Evaluate(), c.value);
    }
    THXDBFExprParser none(&t.T);
    EXPECT_TRUE(none.Evaluate().IsNull());
    THXDBFExprParser div(&t.T, 0, X, "AGE / (AGE - 25)");
    EXPECT_EQ(Message([&] { div.Evaluate(); }), "THXDBFExprParser.Execute: Division by zero");
}

TEST(ExprEval, LikeStaysFastOnPercentRuns) {
    std::string name(200, 'a');
    test::TExprTable t({{name}}, {{"NAME", 'C', 200}});
    std::string pattern = "NAME LIKE '";
    for (int i = 0; i < 100; ++i) pattern += "%a";
    pattern += "%b'";
    THXDBFExprParser p(&t.T, 0, 0, pattern);
    t.Go(1);
    EXPECT_FALSE(p.EvaluateBoolean());  // exponential backtracking would not finish
}

TEST(ExprEval, RecordFilterInterfaceOfTheTable) {
    test::TExprTable t(test::People());
    THXDBFExprParser p(&t.T);
    TDBFRecordFilter& f = p.FilterExpr();
    t.T.SetFilterOptions(foCaseInsensitive);
    f.Compile("name = 'smi*'");
    t.Go(2);
    EXPECT_TRUE(f.Evaluate());
    t.Go(4);
    EXPECT_FALSE(f.Evaluate());
    EXPECT_EQ(Message([&] { f.Compile("AGE + 1 > 2"); }), "Arithmetic in filter expressions not supported");
    EXPECT_EQ(Message([&] { f.Compile("NAME"); }), "Incorrectly formed filter expression");
}

TEST(ExprEval, TheTableWalksOnlyTheRecordsItsFilterAccepts) {
    test::TExprTable t(test::People());
    THXDBFExprParser p(&t.T);
    t.T.Close();
    t.T.SetRecordFilter(&p.FilterExpr());
    t.T.SetFilter("AGE > 20 .AND. NAME <> 'SMITHSON'");
    t.T.SetFiltered(true);
    t.T.Open();
    std::string names;
    for (t.T.First(); !t.T.Eof(); t.T.Next()) names += t.T.FieldByName("NAME").AsString() + ";";
    EXPECT_EQ(names, "SMITH               ;");
    t.T.SetFilterOptions(foCaseInsensitive);
    t.T.SetFilter("name = 'jo*' OR name = 'smithson'");
    t.T.SetFiltered(true);  // compiled again on the open table
    names.clear();
    for (t.T.First(); !t.T.Eof(); t.T.Next()) names += t.T.FieldByName("NAME").AsString() + ";";
    EXPECT_EQ(names, "SMITHSON            ;Jones               ;");
    t.T.Close();
    t.T.SetRecordFilter(nullptr);
}

TEST(ExprEval, TrueAndFalseTextsAreTheParsersOwn) {
    test::TExprTable t(test::People());
    THXDBFExprParser p(&t.T);
    p.SetTrueText("Ja");
    p.SetFalseText("Nein");
    p.Compile("MARRIED = ja OR MARRIED = NEIN", 0, 0);
    t.Go(2);
    EXPECT_TRUE(p.EvaluateBoolean());
    EXPECT_EQ(Message([&] { p.Compile("MARRIED = True", 0, 0); }), "Field 'True' not found");
}
