// The variant type and the allocation-free number texts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "platform/exception.h"
#include "platform/locale.h"
#include "platform/numtext.h"
#include "platform/variant.h"

namespace zarbel {
namespace {

std::string General(double v, char sep = '.') {
    char buf[kNumTextMax];
    return std::string(buf, FormatFloatGeneral(v, sep, buf));
}

TEST(NumText, GeneralFormatMatchesTheHostFloatToStr) {
    TFormatSettings saved = FormatSettings();
    FormatSettings().DecimalSeparator = '.';
    const double values[] = {0,      1,        -1,      12.5,     0.1 + 0.2, 1e15,   999999999999999.0,
                             1e-4,   1e-5,     1.5e-7, 9.99e-6, 1.5e-5,  123456.789, -0.0001, 1e20,   3.14159265358979,
                             2.5e300, -7.25e-12, 100,    1234567890123456789.0};
    for (double v : values) EXPECT_EQ(General(v), FloatToStr(v)) << v;
    FormatSettings() = saved;
    EXPECT_EQ(General(12.5, ','), "12,5");
    EXPECT_EQ(General(1e20), "1E20");
    EXPECT_EQ(General(1.5e-7), "1.5E-7");
    EXPECT_EQ(General(0.00001), "0.00001");
    EXPECT_EQ(General(1e-6), "1E-6");
    EXPECT_EQ(General(std::nan("")), "NAN");
}

TEST(NumText, FastPathsAgreeWithTheGeneralConversions) {
    TFormatSettings saved = FormatSettings();
    FormatSettings().DecimalSeparator = '.';
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) {
        double v;
        switch (i % 4) {
            case 0: v = static_cast<double>(static_cast<std::int64_t>(rng() % 2000000000000ull) - 1000000000000ll) / std::pow(10.0, static_cast<int>(rng() % 7)); break;
            case 1: v = static_cast<double>(rng() % 100000) / 100.0; break;
            case 2: v = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 120) - 100); break;
            default: v = (static_cast<double>(rng() % 1000) + 0.1) * std::pow(10.0, static_cast<int>(rng() % 30) - 12); break;
        }
        ASSERT_EQ(General(v), FloatToStr(v)) << v;
        std::string text = General(v);
        double back = 0;
        ASSERT_TRUE(ParseFloat(text, '.', back)) << text;
        EXPECT_EQ(back, std::strtod(text.c_str(), nullptr)) << text;
    }
    FormatSettings() = saved;
}

TEST(NumText, DecimalTextsOfFieldsAgreeWithTheHostConversions) {
    // Values as numeric fields hold them (up to 15 digits, 0..6 decimals) and the texts around
    // them: printed as FloatToStr prints them, read back as strtod reads them.
    TFormatSettings saved = FormatSettings();
    FormatSettings().DecimalSeparator = '.';
    std::mt19937_64 rng(11);
    char text[64];
    for (int i = 0; i < 50000; ++i) {
        const int digits = 1 + static_cast<int>(rng() % 17);
        const int decimals = static_cast<int>(rng() % 8);
        int n = 0;
        if (rng() % 3 == 0) text[n++] = '-';
        for (int k = 0; k < digits; ++k) {
            if (k == digits - decimals && decimals < digits) text[n++] = '.';
            text[n++] = static_cast<char>('0' + rng() % 10);
        }
        std::string_view t(text, static_cast<std::size_t>(n));
        double v = 0;
        ASSERT_TRUE(ParseFloat(t, '.', v)) << t;
        text[n] = '\0';
        ASSERT_EQ(v, std::strtod(text, nullptr)) << t;
        ASSERT_EQ(std::signbit(v), text[0] == '-') << t;
        ASSERT_EQ(General(v), FloatToStr(v)) << t;
    }
    FormatSettings() = saved;
    double d = 0;
    EXPECT_TRUE(ParseFloat("   -12.50   ", '.', d));
    EXPECT_EQ(d, -12.5);
    EXPECT_FALSE(ParseFloat("1.2.3", '.', d));
    EXPECT_FALSE(ParseFloat("12a", '.', d));
    EXPECT_FALSE(ParseFloat("- 1", '.', d));
    EXPECT_TRUE(ParseFloat("1234567890123456789", '.', d));  // more digits than the fast path takes
    EXPECT_EQ(d, 1234567890123456789.0);
    EXPECT_EQ(General(0.1), "0.1");
    EXPECT_EQ(General(12345.67), "12345.67");
    EXPECT_EQ(General(-99999.99), "-99999.99");
    EXPECT_EQ(General(999999999999999.9), "1E15");
}

TEST(NumText, IntegerTexts) {
    char buf[kNumTextMax];
    auto text = [&](std::int64_t v) { return std::string(buf, FormatInt64(v, buf)); };
    for (std::int64_t v : {std::int64_t{0}, std::int64_t{1}, std::int64_t{-1}, std::int64_t{9}, std::int64_t{10},
                           std::int64_t{99}, std::int64_t{100}, std::int64_t{-100}, INT64_MAX, INT64_MIN,
                           INT64_MIN + 1})
        EXPECT_EQ(text(v), std::to_string(v));
    std::int64_t p = 1;
    for (int k = 0; k < 19; ++k) {  // 10^0 .. 10^18
        EXPECT_EQ(text(p), std::to_string(p));
        EXPECT_EQ(text(p - 1), std::to_string(p - 1));
        EXPECT_EQ(text(-p), std::to_string(-p));
        if (k < 18) p *= 10;
    }
    std::mt19937_64 rng(3);
    for (int i = 0; i < 10000; ++i) {
        std::int64_t v = static_cast<std::int64_t>(rng()) >> (rng() % 64);
        ASSERT_EQ(text(v), std::to_string(v));
    }
}

TEST(NumText, FixedFormat) {
    char buf[kNumTextMax];
    EXPECT_EQ(std::string(buf, FormatFloatFixed(3.14159, 2, '.', buf)), "3.14");
    EXPECT_EQ(std::string(buf, FormatFloatFixed(-7, 0, '.', buf)), "-7");
    EXPECT_EQ(std::string(buf, FormatFloatFixed(-0.001, 2, '.', buf)), "0.00");
    EXPECT_EQ(std::string(buf, FormatFloatFixed(2.5, 1, ',', buf)), "2,5");
}

TEST(NumText, ParseFloatAndInt) {
    double d = 0;
    EXPECT_TRUE(ParseFloat("  12.50", '.', d));
    EXPECT_DOUBLE_EQ(d, 12.5);
    EXPECT_FALSE(ParseFloat("12,50", '.', d));
    EXPECT_TRUE(ParseFloat("12,50", ',', d));
    EXPECT_DOUBLE_EQ(d, 12.5);
    EXPECT_TRUE(ParseFloat("-1.5E3 ", '.', d));
    EXPECT_DOUBLE_EQ(d, -1500);
    EXPECT_TRUE(ParseFloat("+.5", '.', d));
    EXPECT_DOUBLE_EQ(d, 0.5);
    for (const char* bad : {"", "   ", "1.2.3", "1e", "abc", "1 2", ".", "-", "1e99999"})
        EXPECT_FALSE(ParseFloat(bad, '.', d)) << bad;
    // Short mantissas with an exponent take the general conversion, not the digits alone.
    EXPECT_TRUE(ParseFloat("12e2", '.', d));
    EXPECT_EQ(d, 1200);
    EXPECT_TRUE(ParseFloat("-1.25E-1", '.', d));
    EXPECT_EQ(d, -0.125);
    // Fixed-point texts of 1 to 19 digits agree with strtod bit for bit.
    std::uint64_t x = 88172645463325252ull;
    for (int n = 0; n < 3000; ++n) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        std::string digits = std::to_string(x % 10000000000000000000ull).substr(0, 1 + n % 19);
        const std::size_t point = static_cast<std::size_t>(n / 19) % (digits.size() + 1);
        std::string text = (n % 2 ? "-" : "") + digits.substr(0, point) + "." + digits.substr(point);
        ASSERT_TRUE(ParseFloat(text, '.', d)) << text;
        EXPECT_EQ(d, std::strtod(text.c_str(), nullptr)) << text;
    }
    std::int64_t i = 0;
    EXPECT_TRUE(ParseInt64("  -42", i));
    EXPECT_EQ(i, -42);
    EXPECT_FALSE(ParseInt64("42 ", i));
    EXPECT_TRUE(ParseInt64("42 ", i, true));
    EXPECT_TRUE(ParseInt64("9223372036854775807", i));
    EXPECT_FALSE(ParseInt64("9223372036854775808", i));
    EXPECT_TRUE(ParseInt64("-9223372036854775808", i));
    EXPECT_EQ(i, INT64_MIN);
    EXPECT_TRUE(ParseInt64("-999999999999999999", i));  // 18 digits: the unchecked loop
    EXPECT_EQ(i, -999999999999999999ll);
    EXPECT_FALSE(ParseInt64("12x", i));
    EXPECT_FALSE(ParseInt64("-9223372036854775809", i));
    EXPECT_FALSE(ParseInt64("92233720368547758070", i));
    EXPECT_FALSE(ParseInt64("18446744073709551616", i));
    EXPECT_TRUE(ParseInt64("000000000000000000000009223372036854775807", i));
    EXPECT_EQ(i, INT64_MAX);
    EXPECT_FALSE(ParseInt64("4 2", i));
    EXPECT_FALSE(ParseInt64("-", i));
}

TEST(Variant, KindsAndConversions) {
    TVariant empty;
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_TRUE(TVariant::Null().IsNull());
    EXPECT_EQ(TVariant::Null().AsString(), "");
    EXPECT_EQ(TVariant(std::int32_t{7}).AsInt64(), 7);
    EXPECT_EQ(TVariant(std::int64_t{1} << 40).VarType(), varInt64);
    EXPECT_EQ(TVariant(true).AsString(), "True");
    EXPECT_EQ(TVariant::FromCurrency(1.23456).AsCurrencyScaled(), 12346);
    EXPECT_EQ(TVariant("123").AsInteger(), 123);
    EXPECT_DOUBLE_EQ(TVariant::FromDateTime(45000.5).AsDateTime(), 45000.5);
    TVariant arr = TVariant::ArrayOf({TVariant("a"), TVariant(std::int32_t{1}), TVariant::Null()});
    EXPECT_TRUE(arr.IsArray());
    EXPECT_EQ(arr.ArrayLength(), 3);
    EXPECT_TRUE(arr[2].IsNull());
    EXPECT_EQ(arr, TVariant::ArrayOf({TVariant("a"), TVariant(std::int32_t{1}), TVariant::Null()}));
    EXPECT_NE(arr, TVariant("a"));
    EXPECT_EQ(TVariant(std::int32_t{2}), TVariant(2.0));
    EXPECT_NE(TVariant("2"), TVariant(std::int32_t{2}));
    try {
        TVariant("abc").AsDouble();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Could not convert variant of type (String) into type (Double)");
    }
}

}  // namespace
}  // namespace zarbel

namespace zarbel {
namespace {

// The fixed-point text is exactly what printf's "%.*f" gives (ties, tiny and huge values).
TEST(NumText, FixedTextMatchesPrintf) {
    std::uint64_t seed = 88172645463325252ull;
    auto next = [&seed] {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed;
    };
    char buf[kNumTextMax], ref[128];
    const double fixed[] = {0.125, 0.375, 2.675, 1e-20, 123456789.005, 9.995, -0.5, 1e29, 5e-324};
    for (int round = 0; round < 60000; ++round) {
        double v;
        if (round < 9 * 8) v = fixed[round / 8];
        else {
            const std::uint64_t bits = next();
            // every other value small enough for the integer road (money-like, halves included)
            const int shift = (round & 1) ? 30 : 11;
            v = static_cast<double>(static_cast<std::int64_t>(bits >> shift)) / std::pow(10.0, static_cast<int>(bits % 12));
            if (round % 5 == 0) v += 0.5 / std::pow(10.0, round % 8);
            if (bits & 1) v = -v;
        }
        const int dec = round % 8;
        std::snprintf(ref, sizeof ref, "%.*f", dec, v);
        std::string expected = ref;
        if (expected[0] == '-' && expected.find_first_of("123456789") == std::string::npos) expected.erase(0, 1);
        ASSERT_EQ(std::string(buf, FormatFloatFixed(v, dec, '.', buf)), expected) << v << " " << dec;
    }
}

}  // namespace
}  // namespace zarbel
