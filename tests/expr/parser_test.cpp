// The expression lexer and grammar: every message of the parser provoked once, and the lexical
// rules that decide what a text means.
#include <gtest/gtest.h>

#include "expr/expr_table.h"
#include "testutil/platform_helpers.h"

using namespace zarbel;
using testutil::Message;

namespace {

struct TCase {
    const char* text;
    unsigned options;
    const char* message;  // "" : compiles
};

constexpr unsigned X = poExtendedSyntax;

}  // namespace

TEST(ExprParser, EveryMessageOfTheGrammarAndLexer) {
    test::TExprTable t(test::People());
    const TCase cases[] = {
        {"NAME = CITY = NAME", 0, "Filter expression incorrectly terminated"},
        {"NAME + AGE", X, "Type mismatch in expression"},
        {"AGE # 1", 0, "Invalid filter expression character: '#'"},
        {"NAME = 'abc", 0, "Unterminated string constant"},
        {"NAME IS 5", 0, "Invalid use of keyword"},
        {"NAME IS NOT 5", 0, "Invalid use of keyword"},
        {"[NAME = 'x'", 0, "Unterminated field name"},
        {"AGE IN 1", 0, "'(' expected but '1' found"},
        {"AGE IN ()", 0, "IN predicate list may not be empty"},
        {"AGE IN (1 2)", 0, "')' or ',' expected but '2' found"},
        {"(AGE > 1", 0, "')' expected but nothing found"},
        {"AGE + 1 > 2", 0, "Arithmetic in filter expressions not supported"},
        {"AGE * 2 > 2", 0, "Arithmetic in filter expressions not supported"},
        {"AGE >", 0, "Expression expected but nothing found"},
        {"SUM(AGE) + AGE", X, "Operation cannot mix aggregate value with record-varying value"},
        {"NOPE > 1", 0, "Field 'NOPE' not found"},
        {"UPPER NAME", X, "Field 'UPPER' not found"},  // a name is a function only before "("
        {"UPPER()", X, "Type mismatch in expression"},
        {"UPPER(NAME, CITY)", X, "THXDBFExprParser.Execute: Incorrect number of arguments in UPPER call."},
        {"STR(AGE, 1, 2, 3)", X, "THXDBFExprParser.Execute: Incorrect number of arguments in STR call."},
        {"COUNT(*", X, "')' expected but nothing found"},
        // edge cases of the language
        {"AGE>20 .AND. AGE<30", 0, ""},
        {"AGE>20.AND.AGE<30", 0, "Filter expression incorrectly terminated"},  // "20." then a word
        {"-AGE > 1", X, "Expression expected but '-' found"},  // a minus joins numbers only
        {"AGE = -5", 0, ""},
        {"a = b = c", 0, "Field 'a' not found"},
        {"AGE = AGE = AGE", 0, "Filter expression incorrectly terminated"},
        // lexical forms
        {"/* note */ AGE > 1", 0, ""},
        {"/* one */ /* two */ AGE > 1", 0, "Expression expected but '/' found"},  // one comment per token
        {"/* open AGE > 1", 0, "Invalid filter expression character: '/'"},
        {"/* star * AGE > 1", 0, "Invalid filter expression character: '/'"},
        {".NOT. MARRIED .OR. !MARRIED .AND. NOT MARRIED", 0, ""},
        {"MARRIED = .T. .XOR. MARRIED = .f.", 0, ""},
        {"MARRIED = True OR MARRIED = FALSE", 0, ""},
        {"[NAME] LIKE 'S%' AND CITY IN ('Moscow', 'Paris')", 0, ""},
        {"NAME IS NULL OR NAME IS  NOT  NULL", 0, ""},
        {"people->NAME = 'x' AND FIELD->CITY = 'y' AND t -> [AGE] = 1", 0, ""},
        {"x->", 0, "Unterminated field name"},
        {"x->5", 0, "Invalid filter expression character: '5'"},
        {"DATE = '20240131'", 0, ""},
        {"DATE = 'tomorrow'", 0, "Type mismatch in expression"},
        {"AGE = 'x'", 0, "Type mismatch in expression"},
        {"MARRIED = 1", 0, "Type mismatch in expression"},
        {"AGE + DATE", X, "Type mismatch in expression"},
        {"NAME - CITY", X, "Type mismatch in expression"},
        {"DATE * 2", X, "Type mismatch in expression"},
        {"NAME > AGE", 0, "Type mismatch in expression"},
        {"1.2.3 > AGE", 0, "Expression expected but '1.2.3' found"},
        {"", 0, ""},
        {"   ", 0, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.text);
        THXDBFExprParser p(&t.T);
        const std::string m = Message([&] { p.Compile(c.text, 0, c.options); });
        EXPECT_EQ(m, *c.message ? std::string(c.message) : "(no exception)");
        if (*c.message) {
            EXPECT_EQ(p.Root(), nullptr);
        }  // a failed compile leaves no tree
    }
}

TEST(ExprParser, ChecksOfFiltersAggregatesAndDefaultValues) {
    test::TExprTable t(test::People());
    THXDBFExprParser p(&t.T);
    EXPECT_EQ(Message([&] { p.CompileWithChecks("AGE > 1", 0, X | poAggregate); }),
              "Expression is not an aggregate expression");
    EXPECT_EQ(Message([&] { p.CompileWithChecks("COUNT(*) > 1", 0, X); }),
              "Aggregate expressions not allowed in filters");
    EXPECT_EQ(Message([&] { p.CompileWithChecks("AGE", 0, 0); }), "Incorrectly formed filter expression");
    EXPECT_EQ(Message([&] { p.CompileWithChecks("'x'", 0, X | poDefaultExpression, "AGE"); }),
              "Type mismatch in expression");
    EXPECT_EQ(Message([&] { p.CompileWithChecks("1", 0, X | poDefaultExpression, "NOPE"); }), "Field 'NOPE' not found");

    p.CompileWithChecks("SUM(AGE) + MAX(AGE)", 0, X | poAggregate);
    ASSERT_NE(p.Root(), nullptr);
    EXPECT_EQ(p.Root()->Scope, esAggregate);
    EXPECT_TRUE(p.EvaluateValue().IsNull());  // aggregates are recognised, not computed

    p.CompileWithChecks("AGE * 2 + 1", 0, X | poDefaultExpression, "SUM");
    EXPECT_EQ(p.Root()->Operator, coASSIGN);
    t.Go(1);
    EXPECT_DOUBLE_EQ(p.EvaluateValue().AsDouble(), 51);

    p.CompileWithChecks("  ", 0, 0);  // no text, no condition
    EXPECT_EQ(p.Root(), nullptr);
    EXPECT_TRUE(p.EvaluateBoolean());
}

TEST(ExprParser, ScopesAndTypesOfNodes) {
    test::TExprTable t(test::People());
    struct {
        const char* text;
        TExprScope scope;
        TFieldType type;
    } cases[] = {
        {"1 + 2", esConstant, ftFloat},
        {"AGE + 2", esRecord, ftFloat},
        {"'a' + 'b'", esConstant, ftString},
        {"DATE + 1", esRecord, ftDateTime},
        {"DATE - 1", esRecord, ftDate},
        {"DATE - DATE", esRecord, ftFloat},
        {"'20240101' - DATE", esRecord, ftFloat},
        {"'20240101' + 1", esConstant, ftDateTime},
        {"COUNT(*) + 1", esAggregate, ftFloat},
        {"MIN(NAME)", esAggregate, ftString},
        {"UPPER('x')", esConstant, ftString},
        {"AGE > 1", esRecord, ftBoolean},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        THXDBFExprParser p(&t.T, 0, X, c.text);
        ASSERT_NE(p.Root(), nullptr);
        EXPECT_EQ(p.Root()->Scope, c.scope);
        EXPECT_EQ(p.Root()->DataType, c.type);
    }
}

TEST(ExprParser, DeepNestingFailsWithAMessageInsteadOfExhaustingTheStack) {
    test::TExprTable t(test::People());
    THXDBFExprParser p(&t.T);
    const std::string parens = std::string(100000, '(') + "1" + std::string(100000, ')');
    EXPECT_EQ(Message([&] { p.Compile(parens, 0, X); }),
              "THXDBFExprParser.Compile: Expression nested deeper than 100 levels");
    std::string chain = "AGE";
    for (int i = 0; i < 100000; ++i) chain += "+AGE";
    EXPECT_EQ(Message([&] { p.Compile(chain, 0, X); }),
              "THXDBFExprParser.Compile: Expression nested deeper than 400 levels");
    std::string calls;
    for (int i = 0; i < 5000; ++i) calls += "UPPER(";
    EXPECT_EQ(Message([&] { p.Compile(calls, 0, X); }),
              "THXDBFExprParser.Compile: Expression nested deeper than 100 levels");
    chain = "AGE";
    for (int i = 0; i < 300; ++i) chain += "+AGE";
    p.Compile(chain, 0, X);  // long but within the limits
    t.Go(1);
    EXPECT_DOUBLE_EQ(p.EvaluateValue().AsDouble(), 301 * 25);
}

TEST(ExprParser, FieldUseCountAndList) {
    test::TExprTable t(test::People());
    THXDBFExprParser p(&t.T, 0, X, "name + city + STR(age, 3) + name");
    EXPECT_EQ(p.FieldUseList(), "NAME;CITY;AGE;");
    EXPECT_EQ(p.FieldUseCount("NAME"), 1);
    EXPECT_EQ(p.FieldUseCount("city; Name"), 2);
    EXPECT_EQ(p.FieldUseCount("NAME;CITY;AGE"), 4);
    EXPECT_EQ(p.FieldUseCount("CITY"), 0);  // counting stops at the first field outside the list
}
