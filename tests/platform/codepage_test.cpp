#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace zarbel {
namespace {

std::string Byte(unsigned char b) { return std::string(1, static_cast<char>(b)); }

TEST(CodePage, KnownLetters) {
    // CP866 0x80 = А = CP1251 0xC0; CP866 0xF0 = Ё = CP1251 0xA8; я and ё.
    EXPECT_EQ(OemToAnsi(Byte(0x80)), Byte(0xC0));
    EXPECT_EQ(AnsiToOem(Byte(0xC0)), Byte(0x80));
    EXPECT_EQ(OemToAnsi(Byte(0xF0)), Byte(0xA8));
    EXPECT_EQ(AnsiToOem(Byte(0xA8)), Byte(0xF0));
    EXPECT_EQ(AnsiToOem(Byte(0xFF)), Byte(0xEF));  // я
    EXPECT_EQ(AnsiToOem(Byte(0xB8)), Byte(0xF1));  // ё
    EXPECT_EQ(AnsiToOem(Byte(0xE0)), Byte(0xA0));  // а
    EXPECT_EQ(AnsiToOem(Byte(0xF0)), Byte(0xE0));  // р
    EXPECT_EQ(AnsiToOem(Byte(0xB9)), Byte(0xFC));  // №
    EXPECT_EQ(OemToUtf8(Byte(0x80)), "А");
    EXPECT_EQ(OemToUtf8(Byte(0xF0)), "Ё");
    EXPECT_EQ(AnsiToUtf8(Byte(0xC0)), "А");
    EXPECT_EQ(AnsiToUtf8(Byte(0xA8)), "Ё");
    EXPECT_EQ(Utf8ToAnsi("Ёё"), Byte(0xA8) + Byte(0xB8));
}

TEST(CodePage, EveryByteRoundTripsAndTheOrphansArePairedInOrder) {
    int sameCharacter = 0;
    std::string orphansOem, orphansAnsi;
    for (int b = 0; b < 256; ++b) {
        const std::string o = Byte(static_cast<unsigned char>(b));
        const std::string a = OemToAnsi(o);
        EXPECT_EQ(AnsiToOem(a), o) << "OEM byte " << b;
        EXPECT_EQ(OemToAnsi(AnsiToOem(o)), o) << "ANSI byte " << b;
        if (OemToUtf8(o) == AnsiToUtf8(a)) {
            ++sameCharacter;
        } else {
            orphansOem += o;
            orphansAnsi += a;
        }
        // The display of ANSI text standing for OEM text shows the CP866 character.
        EXPECT_EQ(TableTextToUtf8(a, true), OemToUtf8(o)) << "OEM byte " << b;
        EXPECT_EQ(TableTextToUtf8(o, false), AnsiToUtf8(o)) << "ANSI byte " << b;
        // UTF-8 round trip of every CP1251 byte.
        EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(o)), o) << "ANSI byte " << b;
    }
    // 128 ASCII + 64 letters + Ёё Єє Її Ўў ° · № ¤ NBSP = 205 with the same character on both
    // sides; the other 51 of each code page are paired in ascending order.
    EXPECT_EQ(sameCharacter, 205);
    std::string wantOem, wantAnsi;
    for (int b = 0xB0; b <= 0xDF; ++b) wantOem += Byte(static_cast<unsigned char>(b));
    wantOem += "\xF9\xFB\xFE";
    for (int b = 0x80; b <= 0x9F; ++b) wantAnsi += Byte(static_cast<unsigned char>(b));
    wantAnsi += "\xA3\xA5\xA6\xA7\xA9\xAB\xAC\xAD\xAE\xB1\xB2\xB3\xB4\xB5\xB6\xBB\xBC\xBD\xBE";
    EXPECT_EQ(orphansOem, wantOem);
    EXPECT_EQ(orphansAnsi, wantAnsi);
}

TEST(CodePage, ZeroTerminatedAndCountedInPlace) {
    char text[] = "\xC0\xE1\xE2 ok";  // "Абв ok"
    EXPECT_TRUE(CharToOemA(text, text));
    EXPECT_STREQ(text, "\x80\xA1\xA2 ok");
    EXPECT_TRUE(OemToCharA(text, text));
    EXPECT_STREQ(text, "\xC0\xE1\xE2 ok");

    char buf[4] = {'\xC0', '\0', '\xFF', 'x'};  // counted: the zero does not stop it
    EXPECT_TRUE(CharToOemBuffA(buf, buf, 4));
    EXPECT_EQ(std::memcmp(buf, "\x80\0\xEFx", 4), 0);
    EXPECT_TRUE(OemToCharBuffA(buf, buf, 3));
    EXPECT_EQ(std::memcmp(buf, "\xC0\0\xFFx", 4), 0);

    char dst[8];
    EXPECT_TRUE(CharToOemA("\xA8", dst));
    EXPECT_STREQ(dst, "\xF0");
}

TEST(CodePage, LongTextsMixedRunsAndLengths) {
    // Texts longer than a machine word: ASCII runs and letters in every position, each length
    // from 0 to 40, converted in place and into another buffer, zero-terminated and counted.
    for (std::size_t len = 0; len <= 40; ++len) {
        for (std::size_t letterAt = 0; letterAt <= len; ++letterAt) {
            std::string ansi(len, 'a');
            for (std::size_t i = 0; i < len; ++i) ansi[i] = static_cast<char>('A' + i % 26);
            if (letterAt < len) ansi[letterAt] = '\xC0';  // А
            if (len > 20) ansi[len - 1] = '\xFF';       // я
            std::string oem = ansi;
            for (char& c : oem) c = c == '\xC0' ? '\x80' : c == '\xFF' ? '\xEF' : c;

            std::string inPlace = ansi;
            EXPECT_EQ(CharToOemLen(inPlace.c_str(), inPlace.data()), len);
            EXPECT_EQ(inPlace, oem);
            EXPECT_EQ(OemToCharLen(inPlace.c_str(), inPlace.data()), len);
            EXPECT_EQ(inPlace, ansi);

            std::string out(len + 1, 'x');
            EXPECT_EQ(CharToOemLen(ansi.c_str(), out.data()), len);
            EXPECT_EQ(out, oem + '\0');
            EXPECT_EQ(AnsiToOem(ansi), oem);
            EXPECT_EQ(OemToAnsi(oem), ansi);
        }
    }
    char stop[] = "ab\0\x80\x80";  // the zero ends the text; what follows stays as it is
    EXPECT_EQ(OemToCharLen(stop, stop), 2u);
    EXPECT_EQ(std::memcmp(stop, "ab\0\x80\x80", 5), 0);
}

TEST(CodePage, Utf8Conversions) {
    EXPECT_EQ(Utf8ToAnsi("Привет, world"), "\xCF\xF0\xE8\xE2\xE5\xF2, world");
    EXPECT_EQ(AnsiToUtf8("\xCF\xF0\xE8\xE2\xE5\xF2"), "Привет");
    // Characters CP1251 lacks, and malformed bytes, become '?'.
    EXPECT_EQ(Utf8ToAnsi("a€b"), "a\x88" "b");  // € is in CP1251 (0x88)
    EXPECT_EQ(Utf8ToAnsi("a中b😀"), "a?b?");
    EXPECT_EQ(Utf8ToAnsi("a\xFF\xD0z"), "a??z");
    EXPECT_EQ(Utf8ToAnsi("\xC0\xAF"), "??");  // overlong '/'
    EXPECT_EQ(Utf8ToAnsi("\xED\xA0\x80"), "???");  // surrogate
    EXPECT_TRUE(IsValidUtf8("Ёжик 😀"));
    EXPECT_FALSE(IsValidUtf8("\xD0"));
    EXPECT_EQ(FileNameToAnsi("ёж.dbf"), "\xB8\xE6.dbf");
    EXPECT_EQ(FileNameToAnsi("\xB8\xE6.dbf"), "\xB8\xE6.dbf");  // not UTF-8: kept
    // Box drawing of CP866 has no CP1251 counterpart: it takes the paired bytes, and shows as
    // itself where the text is known to stand for OEM text.
    EXPECT_EQ(OemToAnsi("\xC9\xCD\xBB"), "\x99\x9D\x8B");
    EXPECT_EQ(OemToUtf8("\xC9\xCD\xBB"), "╔═╗");
    EXPECT_EQ(TableTextToUtf8("\x99\x9D\x8B", true), "╔═╗");
}

TEST(CodePage, Utf16AndUpcase) {
    std::u16string u;
    ASSERT_TRUE(Utf8ToUtf16("aЯ😀", u));
    ASSERT_EQ(u.size(), 4u);
    EXPECT_EQ(u[1], u'Я');
    EXPECT_EQ(u[2], 0xD83D);
    EXPECT_EQ(u[3], 0xDE00);
    EXPECT_FALSE(Utf8ToUtf16("\xFF", u));
    EXPECT_EQ(UpcaseUnit(u'a'), u'A');
    EXPECT_EQ(UpcaseUnit(u'я'), u'Я');
    EXPECT_EQ(UpcaseUnit(u'ё'), u'Ё');
    EXPECT_EQ(UpcaseUnit(u'é'), u'É');
    EXPECT_EQ(UpcaseUnit(u'ß'), u'ß');  // no single-unit upper case
    EXPECT_EQ(UpcaseUnit(u'_'), u'_');
}

}  // namespace
}  // namespace zarbel
