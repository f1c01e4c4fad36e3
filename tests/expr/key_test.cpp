// Keys: fixed-width texts of every value kind, widths and decimals of nodes, sort hashes, and
// keys made from given field values.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "expr/expr_table.h"
#include "testutil/platform_helpers.h"

using namespace zarbel;
using testutil::Message;

namespace {

constexpr unsigned X = poExtendedSyntax;

std::string Codes(std::initializer_list<int> codes) {
    std::string s;
    for (int c : codes) s += static_cast<char>(c);
    return s;
}

struct TKeyCase {
    const char* text;
    int record;
    std::string key;
    std::int32_t hash;
};

}  // namespace

TEST(ExprKey, KeyTextsAndHashesOfEveryKind) {
    test::TExprTable t(test::People(), test::PeopleFields(), /*trimC=*/true);
    const TKeyCase cases[] = {
        // N(5,2): right-aligned, blanks as zeros, too long -> zeros with the point kept
        {"SUM", 1, "03.50", 3},
        {"SUM", 4, "00.00", 123},
        {"SUM", 2, Codes({44, 41, 46, 39, 44}), -3},  // negative: 92 minus each code
        {"SUM", 3, "00.00", 0},                        // null number in index mode: 0
        {"AGE", 1, "025", 25},
        // strings: the field's width; a null C field gives blanks
        {"NAME", 1, "SMITH" + std::string(15, ' '), 0x534D4954},
        {"NAME", 3, std::string(20, ' '), 0x20202020},
        {"NAME+CITY", 2, "SMITHSON" + std::string(12, ' ') + "Paris" + std::string(10, ' '), 0x534D4954},
        {"'AB'", 1, "AB", 0x41420000},  // a short key hashes the bytes it has, zero-padded
        // dates, booleans
        {"DATE", 1, "20240131", static_cast<std::int32_t>(EncodeDate(2024, 1, 31))},
        {"DATE", 3, std::string(8, ' '), 0},
        {"DATE + 0.75", 1, "20240131180000", static_cast<std::int32_t>(EncodeDate(2024, 1, 31))},
        {"MARRIED", 1, "T", -1},
        {"MARRIED", 2, "F", 0},
        {"MARRIED", 3, "F", 0},
        // 64-bit integers: digits of the magnitude, zero-padded, negative transform
        {"BIG", 2, std::string(17, '0') + "42", 42},
        {"BIG", 4, "0000001234567890123", 2147483647},
        {"BIG", 1, std::string(1, 44) + std::string(18, 35), -2147483647 - 1},
        // functions
        {"UPPER(NAME)+DTOS(DATE)+STR(SUM,10,2)", 1, "SMITH" + std::string(15, ' ') + "20240131      3.50", 0x534D4954},
        {"UPPER(NAME)", 3, std::string(20, ' '), 0x20202020},
        {"DTOS(NAME)", 1, std::string(8, ' '), 0x20202020},
        {"STR(3.14159, 6, 2)", 1, "  3.14", 0x2020332E},
        {"STR(SUM)", 1, " 3.50", 0x20332E35},
        {"STR(AGE)", 1, " 25", 0x20323500},
        {"STR(AGE, 1)", 1, "*", 0x2A000000},
    };
    for (const TKeyCase& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " record " + std::to_string(c.record));
        THXDBFExprParser p(&t.T, 0, X);
        p.SetIndexMode(true);
        p.Compile(c.text);
        t.Go(c.record);
        EXPECT_EQ(p.EvaluateKey(), c.key);
        EXPECT_EQ(p.LastKey(), c.key);
        EXPECT_EQ(p.LastHash(), c.hash);
    }
}

TEST(ExprKey, WidthsAndDecimalsOfNodes) {
    test::TExprTable t(test::People());
    struct {
        const char* text;
        int size, width, decimals;
    } cases[] = {
        {"NAME+CITY", 35, 35, 0},
        {"SUM", 5, 5, 2},
        {"AGE + SUM", 6, 6, 2},        // "+": the wider operand + 1, the larger decimals
        {"AGE - SUM", 5, 5, 2},        // "-", "/": the wider operand
        {"AGE * SUM", 8, 8, 2},        // "*": sums
        {"BIG - BIG", 14, 14, 0},      // at most 14 wide
        {"SUM*SUM*SUM*SUM*SUM*SUM*SUM", 14, 14, 11},  // 14 decimals do not fit 14: width - 3
        {"DATE", 8, 8, 0},
        {"MARRIED", 1, 1, 0},
        {"UPPER(CITY)", 15, 15, 0},
        {"DTOS(DATE)", 8, 8, 0},
        {"STR(SUM, 10, 2)", 10, 10, 0},
        {"STR(SUM)", 5, 5, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        THXDBFExprParser p(&t.T, 0, X, c.text);
        EXPECT_EQ(p.Root()->DataSize, c.size);
        EXPECT_EQ(p.KeyWidth(), c.width);
        EXPECT_EQ(p.KeyDecimals(), c.decimals);
    }
}

TEST(ExprKey, BoundsOfNumberKeys) {
    // A descriptor whose decimals are not below its length: the key stays inside its width.
    test::TExprTable t({{"0.5"}, {"-.5"}}, {{"X", 'N', 3, 3}});
    THXDBFExprParser p(&t.T, 0, X, "X");
    p.SetIndexMode(true);
    EXPECT_EQ(p.KeyWidth(), 3);
    EXPECT_EQ(p.KeyDecimals(), 3);
    t.Go(1);
    EXPECT_EQ(p.EvaluateKey(), ".00");  // decimals clamped to 2: "0.50" does not fit
    EXPECT_EQ(p.EvaluateKey().size(), 3u);
    p.Compile("X * 1e308 * 1e308");
    EXPECT_EQ(Message([&] { p.EvaluateKey(); }), "THXDBFExprParser.Execute: Key value is not a finite number");
}

TEST(ExprKey, KeysFromGivenFieldValues) {
    test::TExprTable t(test::People());
    THXDBFExprParser p(&t.T, 0, X, "UPPER(NAME)+DTOS(DATE)");
    p.SetIndexMode(true);
    t.Go(2);
    const TVariant values = TVariant::ArrayOf({TVariant("smi"), TVariant::FromDateTime(EncodeDate(2001, 2, 3))});
    EXPECT_EQ(p.EvaluateKeyForValues("NAME;DATE", values, ' '), "SMI20010203");  // unpadded
    EXPECT_EQ(p.EvaluateKeyForValues("name; date", values, ' ', true), "SMI" + std::string(17, ' ') + "20010203");
    EXPECT_EQ(p.EvaluateKeyForValues("NAME", TVariant("x"), '\xFF'), "X19991231");  // DATE from the record
    EXPECT_EQ(p.EvaluateKeyForValues("NAME;DATE", TVariant::ArrayOf({TVariant("x")}), '\xFF'), "X" + std::string(8, '\xFF'));
    EXPECT_EQ(p.EvaluateKey(), "SMITHSON" + std::string(12, ' ') + "19991231");  // the record again
    THXDBFExprParser str(&t.T, 0, X, "STR(AGE)");
    str.SetIndexMode(true);
    EXPECT_EQ(str.EvaluateKeyForValues("AGE", TVariant::Null(), ' '), "  0");  // a null number is 0 in index mode
    str.SetIndexMode(false);
    EXPECT_EQ(str.EvaluateKeyForValues("AGE", TVariant::Null(), ' '), "");  // STR of null, unpadded
    EXPECT_EQ(str.EvaluateKey(), " 31");
    EXPECT_EQ(Message([&] { p.EvaluateKeyForValues("NOPE", TVariant("x"), ' '); }), "Field 'NOPE' not found");

    THXDBFExprParser big(&t.T, 0, X, "BIG");
    big.SetIndexMode(true);
    // the most negative 64-bit number: 19 digits, each mapped by the negative transform
    std::string expect = "9223372036854775808";
    for (char& c : expect) c = static_cast<char>(92 - c);
    EXPECT_EQ(big.EvaluateKeyForValues("BIG", TVariant(std::numeric_limits<std::int64_t>::min()), ' '), expect);
    EXPECT_EQ(big.LastHash(), -2147483647 - 1);
}
