#include "platform/codepage.h"
#include "platform/locale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>

#include "platform/exception.h"

namespace zarbel {
namespace {

TEST(Locale, RussianDefaults) {
    const TFormatSettings& fs = FormatSettings();
    EXPECT_EQ(fs.ShortDateFormat, "dd.mm.yyyy");
    EXPECT_EQ(fs.LongTimeFormat, "h:mm:ss");
    EXPECT_EQ(fs.DecimalSeparator, ',');
    EXPECT_EQ(fs.DateSeparator, '.');
    EXPECT_EQ(fs.TimeSeparator, ':');
}

// ANSI text standing for OEM text: casing keeps CP866's box drawing and signs as they are
// (their ANSI bytes are letters in CP1251), and still cases every letter CP866 has.
TEST(Locale, CasingOfOemTextNeverTurnsOneBoxCharacterIntoAnother) {
    int letters = 0;
    for (int b = 0; b < 256; ++b) {
        const std::string oem(1, static_cast<char>(b));
        const std::string ansi = OemToAnsi(oem);
        const std::string up = AnsiToOem(AnsiUpperCase(ansi, true));
        const std::string low = AnsiToOem(AnsiLowerCase(ansi, true));
        const bool orphan = OemToUtf8(oem) != AnsiToUtf8(ansi);
        if (orphan) {
            EXPECT_EQ(up, oem) << b;
            EXPECT_EQ(low, oem) << b;
            EXPECT_EQ(AnsiUpperChar(ansi[0], true), ansi[0]) << b;
            EXPECT_FALSE(AnsiSameText(ansi, AnsiLowerCase(ansi), true) && AnsiLowerCase(ansi) != ansi) << b;
        } else if (up != low) {
            ++letters;
        }
    }
    EXPECT_EQ(letters, 26 * 2 + 66 + 6);  // Latin, А-Я а-я Ё ё, Є є Ї ї Ў ў
    // The same bytes as Windows text are the letters they are there: Ђ ђ.
    EXPECT_EQ(AnsiUpperChar('\x90'), '\x80');
    EXPECT_EQ(AnsiUpperChar('\x90', true), '\x90');  // └ stays └, not ░
    EXPECT_TRUE(AnsiSameText("\x80", "\x90"));
    EXPECT_FALSE(AnsiSameText("\x80", "\x90", true));
}

TEST(Locale, CasingByCp1251Rules) {
    // "ёжик Zebra" -> "ЁЖИК ZEBRA"
    EXPECT_EQ(AnsiUpperCase("\xB8\xE6\xE8\xEA Zebra"), "\xA8\xC6\xC8\xCA ZEBRA");
    EXPECT_EQ(AnsiLowerCase("\xA8\xC6\xC8\xCA ZEBRA"), "\xB8\xE6\xE8\xEA zebra");
    EXPECT_EQ(AnsiUpperChar('\xFF'), '\xDF');  // я -> Я
    EXPECT_EQ(AnsiUpperChar('\xB3'), '\xB2');  // і -> І
    EXPECT_EQ(AnsiUpperChar('\xBA'), '\xAA');  // є -> Є
    EXPECT_EQ(AnsiUpperChar('\xA2'), '\xA1');  // ў -> Ў
    EXPECT_EQ(AnsiUpperChar('\xB5'), '\xB5');  // µ has no CP1251 upper case
    EXPECT_EQ(AnsiUpperChar('1'), '1');
    EXPECT_EQ(AnsiUpperCase("a.dbf"), "A.DBF");
    for (int b = 0; b < 256; ++b) {  // lower(upper(c)) is c or already was upper
        char c = static_cast<char>(b);
        std::string u = AnsiUpperCase(std::string(1, c));
        EXPECT_EQ(AnsiUpperCase(AnsiLowerCase(u)), u) << b;
    }
    EXPECT_TRUE(AnsiSameText("\xE8\xec\xff name", "\xC8\xCC\xDF NAME"));
    EXPECT_FALSE(AnsiSameText("a", "ab"));
    EXPECT_EQ(AnsiCompareText("abc", "ABC"), 0);
    EXPECT_LT(AnsiCompareText("abc", "abd"), 0);
    EXPECT_GT(AnsiCompareText("b", "A"), 0);
    EXPECT_LT(AnsiCompareText("ab", "abc"), 0);
    EXPECT_LT(AnsiCompareText("\xC5", "\xA8"), 0);  // Е < Ё < Ж
    EXPECT_LT(AnsiCompareText("\xB8", "\xC6"), 0);
}

TEST(Locale, DateEncodeDecode) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(2026, 12, 7), 46363.0);
    EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
    EXPECT_THROW(EncodeDate(2026, 2, 29), Exception);
    EXPECT_THROW(EncodeTime(24, 0, 0, 0), Exception);
    TDateTime d;
    EXPECT_TRUE(TryEncodeDate(2024, 2, 29, d));
    EXPECT_FALSE(TryEncodeDate(2100, 2, 29, d));
    EXPECT_FALSE(TryEncodeDate(0, 1, 1, d));
    EXPECT_EQ(DaysInMonth(2000, 2), 29);
    EXPECT_EQ(DaysInMonth(1900, 2), 28);
    int y, m, dd, h, mi, s, ms;
    for (int year : {1, 1600, 1899, 1900, 1970, 2000, 2026, 9999}) {
        for (int month = 1; month <= 12; ++month) {
            int last = DaysInMonth(year, month);
            for (int day : {1, last}) {
                DecodeDate(EncodeDate(year, month, day), y, m, dd);
                ASSERT_EQ(y * 10000 + m * 100 + dd, year * 10000 + month * 100 + day);
            }
        }
    }
    TDateTime t = EncodeDate(2026, 12, 7) + EncodeTime(4, 5, 54, 321);
    DecodeTime(t, h, mi, s, ms);
    EXPECT_EQ(h * 10000000 + mi * 100000 + s * 1000 + ms, 40554321);
    // Just below the next day rounds into it.
    DecodeDate(EncodeDate(2026, 12, 7) + 0.99999999999, y, m, dd);
    DecodeTime(EncodeDate(2026, 12, 7) + 0.99999999999, h, mi, s, ms);
    EXPECT_EQ(dd, 8);
    EXPECT_EQ(h + mi + s + ms, 0);
    // Before 30.12.1899: the day is the whole part, the time the fraction's magnitude.
    DecodeDate(-1.25, y, m, dd);
    DecodeTime(-1.25, h, mi, s, ms);
    EXPECT_EQ(dd, 29);
    EXPECT_EQ(h, 6);
}

TEST(Locale, DateTimeTextForms) {
    TDateTime t = EncodeDate(2026, 12, 7) + EncodeTime(4, 5, 54, 0);
    EXPECT_EQ(DateTimeToStr(t), "07.12.2026 4:05:54");
    EXPECT_EQ(DateToStr(t), "07.12.2026");
    EXPECT_EQ(TimeToStr(t), "4:05:54");
    EXPECT_EQ(DateTimeToStr(EncodeDate(2026, 1, 2)), "02.01.2026");  // midnight: no time
    EXPECT_EQ(DateTimeToStr(EncodeDate(2026, 1, 2) + EncodeTime(0, 0, 1, 0)), "02.01.2026 0:00:01");
    EXPECT_EQ(DateTimeToStr(EncodeDate(2026, 1, 2) + EncodeTime(0, 0, 0, 400)), "02.01.2026 0:00:00");
    EXPECT_EQ(DateTimeToStr(EncodeDate(2026, 1, 2) + EncodeTime(23, 59, 59, 0)), "02.01.2026 23:59:59");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", t + EncodeTime(0, 0, 0, 7)), "2026-12-07 04:05:54.007");
    EXPECT_EQ(FormatDateTime("d/m/yy 'at' t", t), "7.12.26 at 4:05");
    TFormatSettings saved = FormatSettings();
    FormatSettings().ShortDateFormat = "dd/mm/yyyy";  // '/' stands for the date separator
    FormatSettings().DateSeparator = '-';
    EXPECT_EQ(DateToStr(t), "07-12-2026");
    FormatSettings() = saved;
}

TEST(Locale, ShortDateTextFollowsTheSettings) {
    // The fast short date text equals DateToStr for every format it takes, answers 0 for the
    // others, and follows every change of the format or the separator.
    TFormatSettings saved = FormatSettings();
    struct Case {
        const char* format;
        char separator;
        const char* expected;  // of 7 March 2024; null: left to DateToStr
    };
    const Case cases[] = {
        {"dd.mm.yyyy", '.', "07.03.2024"}, {"mm/dd/yyyy", '-', "03-07-2024"}, {"yyyy-mm-dd", '/', "2024-03-07"},
        {"DD MM YYYY", '.', "07 03 2024"}, {"dd/mm/yyyy", '.', "07.03.2024"}, {"d.m.yy", '.', nullptr},
        {"dd.mm.yyyy dd", '.', nullptr},   {"dd.mm.yyyy", '.', "07.03.2024"}, {"ddd.mm.yyyy", '.', nullptr},
        {"dd.mm.yyyy  ...  ....", '.', nullptr},
    };
    char buf[24];
    for (const Case& c : cases) {
        FormatSettings().ShortDateFormat = c.format;
        FormatSettings().DateSeparator = c.separator;
        std::size_t n = FormatShortDate(2024, 3, 7, buf);
        if (c.expected) {
            EXPECT_EQ(std::string(buf, n), c.expected) << c.format;
            EXPECT_EQ(std::string(buf, n), DateToStr(EncodeDate(2024, 3, 7))) << c.format;
        } else {
            EXPECT_EQ(n, 0u) << c.format;
        }
    }
    FormatSettings() = saved;
    EXPECT_EQ(FormatShortDate(10000, 1, 1, buf), 0u);
    EXPECT_EQ(FormatShortDate(0, 1, 1, buf), 0u);
    EXPECT_EQ(std::string(buf, FormatShortDate(1, 1, 1, buf)), "01.01.0001");
    // whole days both ways agree with the floating-point forms
    for (int days : {-693593, -1, 0, 1, 2, 45358, 2958465}) {
        int y, m, d, y2, m2, d2;
        DecodeDateDays(days, y, m, d);
        DecodeDate(days, y2, m2, d2);
        EXPECT_EQ(std::tie(y, m, d), std::tie(y2, m2, d2)) << days;
        std::int32_t back = 0;
        ASSERT_TRUE(TryEncodeDateDays(y, m, d, back));
        EXPECT_EQ(back, days);
    }
    std::int32_t none = 0;
    EXPECT_FALSE(TryEncodeDateDays(2023, 2, 29, none));
    EXPECT_FALSE(TryEncodeDateDays(2024, 13, 1, none));
}

TEST(Locale, DateTimeParsing) {
    TDateTime v;
    ASSERT_TRUE(TryStrToDate("07.12.2026", v));
    EXPECT_EQ(v, EncodeDate(2026, 12, 7));
    ASSERT_TRUE(TryStrToDate(" 7.1.2026 ", v));
    EXPECT_EQ(v, EncodeDate(2026, 1, 7));
    EXPECT_FALSE(TryStrToDate("31.02.2026", v));
    EXPECT_FALSE(TryStrToDate("2026-12-07", v));
    EXPECT_FALSE(TryStrToDate("", v));
    // around the two-two-four shape: more digits, other text after it, another order
    EXPECT_FALSE(TryStrToDate("07.12.20261", v));
    EXPECT_FALSE(TryStrToDate("07.12.2026x", v));
    ASSERT_TRUE(TryStrToDate("07.12.2026  ", v));
    EXPECT_EQ(v, EncodeDate(2026, 12, 7));
    {
        TFormatSettings saved = FormatSettings();
        FormatSettings().ShortDateFormat = "mm/dd/yyyy";
        FormatSettings().DateSeparator = '/';
        const bool ok = TryStrToDate("12/07/2026", v);
        FormatSettings() = saved;
        ASSERT_TRUE(ok);
        EXPECT_EQ(v, EncodeDate(2026, 12, 7));
    }
    ASSERT_TRUE(TryStrToDate("07.12.2026", v));  // the order follows the format back
    EXPECT_EQ(v, EncodeDate(2026, 12, 7));
    ASSERT_TRUE(TryStrToTime("4:05:54", v));
    EXPECT_DOUBLE_EQ(v, EncodeTime(4, 5, 54, 0));
    EXPECT_FALSE(TryStrToTime("25:00", v));
    ASSERT_TRUE(TryStrToDateTime("07.12.2026 4:05:54", v));
    EXPECT_DOUBLE_EQ(v, EncodeDate(2026, 12, 7) + EncodeTime(4, 5, 54, 0));
    ASSERT_TRUE(TryStrToDateTime("07.12.2026", v));
    EXPECT_EQ(v, EncodeDate(2026, 12, 7));
    EXPECT_FALSE(TryStrToDateTime("07.12.2026 x", v));
    // Round trip through the text form.
    TDateTime t = EncodeDate(1999, 3, 4) + EncodeTime(13, 14, 15, 0);
    ASSERT_TRUE(TryStrToDateTime(DateTimeToStr(t), v));
    EXPECT_DOUBLE_EQ(v, t);
    // Two-digit years land within the window before today.
    ASSERT_TRUE(TryStrToDate("01.01.05", v));
    int y, m, d;
    DecodeDate(v, y, m, d);
    DecodeDate(Now(), m, d, d);
    EXPECT_EQ(y % 100, 5);
    EXPECT_LE(std::abs(y - m), 100);
}

TEST(Locale, Clock) {
    TDateTime now = Now();
    TDateTime today = Date();
    EXPECT_EQ(today, std::trunc(today));
    EXPECT_GE(now, today);
    EXPECT_LT(now - today, 1.0 + 1e-6);
    EXPECT_GT(today, EncodeDate(2020, 1, 1));
}

TEST(Locale, FloatText) {
    EXPECT_EQ(FloatToStr(0), "0");
    EXPECT_EQ(FloatToStr(1.5), "1,5");
    EXPECT_EQ(FloatToStr(-1234.25), "-1234,25");
    EXPECT_EQ(FloatToStr(0.1), "0,1");
    EXPECT_EQ(FloatToStr(100), "100");
    EXPECT_EQ(FloatToStr(1.0 / 3), "0,333333333333333");
    EXPECT_EQ(FloatToStr(2.0 / 3), "0,666666666666667");
    EXPECT_EQ(FloatToStr(123456789012345.0), "123456789012345");
    EXPECT_EQ(FloatToStr(1234567890123456.0), "1,23456789012346E15");
    EXPECT_EQ(FloatToStr(1e20), "1E20");
    EXPECT_EQ(FloatToStr(0.00001), "0,00001");
    EXPECT_EQ(FloatToStr(0.000001), "1E-6");
    EXPECT_EQ(FloatToStr(-2.5e-10), "-2,5E-10");
    EXPECT_EQ(FloatToStr(0.1 + 0.2), "0,3");
    double v;
    ASSERT_TRUE(TryStrToFloat("1,5", v));
    EXPECT_EQ(v, 1.5);
    ASSERT_TRUE(TryStrToFloat(" -12,25e2 ", v));
    EXPECT_EQ(v, -1225.0);
    EXPECT_FALSE(TryStrToFloat("1.5", v));
    ASSERT_TRUE(TryStrToFloat("1.5", v, '.'));
    EXPECT_EQ(v, 1.5);
    EXPECT_FALSE(TryStrToFloat("", v));
    EXPECT_FALSE(TryStrToFloat("abc", v));
    EXPECT_FALSE(TryStrToFloat("1,5x", v));
    EXPECT_FALSE(TryStrToFloat("1e", v));
    ASSERT_TRUE(TryStrToFloat(FloatToStr(1.0 / 7), v));
    EXPECT_NEAR(v, 1.0 / 7, 1e-15);
}

TEST(Locale, IntegerTextAndTrim) {
    std::int64_t v;
    ASSERT_TRUE(TryStrToInt64("  -42 ", v));
    EXPECT_EQ(v, -42);
    ASSERT_TRUE(TryStrToInt64("$FF", v));
    EXPECT_EQ(v, 255);
    ASSERT_TRUE(TryStrToInt64("-9223372036854775808", v));
    EXPECT_EQ(v, INT64_MIN);
    EXPECT_FALSE(TryStrToInt64("9223372036854775808", v));
    EXPECT_FALSE(TryStrToInt64("12a", v));
    EXPECT_FALSE(TryStrToInt64("", v));
    EXPECT_FALSE(TryStrToInt64("-", v));
    EXPECT_EQ(Trim("\t  a b \r\n"), "a b");
    EXPECT_EQ(Trim("   "), "");
}

}  // namespace
}  // namespace zarbel
