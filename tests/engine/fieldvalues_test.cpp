// Field values: the read and write codec of every type, the no-value rules, TrimCType, the OEM
// translation and the number parse with "." then ",".
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "clipper_table.h"
#include "testutil/platform_helpers.h"
#include "dbf_builder.h"
#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"
#include "platform/locale.h"

namespace zarbel {
namespace {

using test::BuildDbf;
using test::FieldSpec;
using test::Pad;
using test::TempPath;
using test::WriteFile;

using testutil::SettingsGuard;

struct Tbl {
    std::string path;
    test::TClipperDBF t;
    Tbl(const std::string& name, const std::string& bytes, bool oem = false) : path(TempPath(name)) {
        WriteFile(path, bytes);
        t.SetDBFFileName(path);
        t.SetOEM(oem);
        t.Open();
    }
    ~Tbl() {
        t.Close();
        std::remove(path.c_str());
    }
    TField& F(const char* name) { return t.FieldByName(name); }
    // The bytes of a field in the active record.
    std::string Bytes(const char* name) {
        const TDBFFieldStore* s = t.FieldStore(&F(name));
        return std::string(reinterpret_cast<const char*>(t.ActiveRecord()) + s->Offset, static_cast<std::size_t>(s->Size));
    }
};

using testutil::Message;

TEST(FieldValues, NumbersReadWithPointOrCommaAndWriteRightAligned) {
    SettingsGuard guard;
    std::vector<FieldSpec> f = {{"P", 'N', 8, 2}, {"Q", 'N', 5}, {"R", 'N', 6, 2}, {"S", 'N', 3}, {"BIG", 'N', 12}};
    std::vector<std::string> recs = {" " + Pad("12.50", 8, true) + "  42 " + "      " + "   " + Pad("-12345678901", 12, true),
                                     " " + Pad("12,50", 8, true) + "   42" + "  *.**" + "abc" + Pad("", 12)};
    Tbl tb("num.dbf", BuildDbf(0x03, f, recs));
    FormatSettings().DecimalSeparator = '.';
    EXPECT_DOUBLE_EQ(tb.F("P").AsFloat(), 12.5);
    EXPECT_EQ(tb.F("P").AsString(), "12.5");
    FormatSettings().DecimalSeparator = ',';
    EXPECT_EQ(tb.F("P").AsString(), "12,5");
    EXPECT_TRUE(tb.F("Q").IsNull());  // "  42 ": a blank after the digits
    EXPECT_EQ(tb.F("Q").AsString(), "");
    EXPECT_TRUE(tb.F("R").IsNull());
    EXPECT_EQ(tb.F("BIG").AsLargeInt(), -12345678901LL);
    tb.t.Next();
    EXPECT_DOUBLE_EQ(tb.F("P").AsFloat(), 12.5);  // written by a program using a comma
    EXPECT_EQ(tb.F("Q").AsInteger(), 42);
    EXPECT_TRUE(tb.F("R").IsNull());  // an overflow mark is no value
    EXPECT_TRUE(tb.F("S").IsNull());
    EXPECT_TRUE(tb.F("BIG").IsNull());

    tb.t.Append();
    tb.F("R").SetAsFloat(3.14159);
    EXPECT_EQ(tb.Bytes("R"), "  3.14");
    tb.F("S").SetAsInteger(-7);
    EXPECT_EQ(tb.Bytes("S"), " -7");
    tb.F("S").SetAsString("");
    EXPECT_EQ(tb.Bytes("S"), "   ");
    tb.F("BIG").SetAsString("123456789012");
    EXPECT_EQ(tb.Bytes("BIG"), "123456789012");
    // a number wider than its field is refused, the field keeps what it had
    tb.F("S").SetAsInteger(12);
    EXPECT_EQ(Message([&] { tb.F("S").SetAsInteger(1234); }),
              "THXSmartDBF.SetFieldData: Value 1234 does not fit into field \"S\" (N 3,0)");
    EXPECT_EQ(tb.Bytes("S"), " 12");
    EXPECT_EQ(Message([&] { tb.F("R").SetAsFloat(12345.5); }),
              "THXSmartDBF.SetFieldData: Value 12345.50 does not fit into field \"R\" (N 6,2)");
    tb.t.Cancel();
}

// Numbers with more digits than a double carries keep every digit as text, in both directions;
// numbers of up to 15 significant digits go as before.
TEST(FieldValues, LongNumbersKeepTheirDigits) {
    SettingsGuard guard;
    std::vector<FieldSpec> f = {{"A", 'N', 20, 4}, {"I", 'N', 21}, {"S", 'F', 20, 4}};
    std::vector<std::string> recs = {
        " " + Pad("1234567890123.4567", 20, true) + Pad("12345678901234567890", 21, true) + Pad("12.5000", 20, true),
        " " + Pad("99999999999999.9999", 20, true) + Pad("-99999999999999999999", 21, true) +
            Pad("-01234567890123,4567", 20, true)};
    Tbl tb("longnum.dbf", BuildDbf(0x03, f, recs));
    FormatSettings().DecimalSeparator = ',';
    EXPECT_EQ(tb.F("A").AsString(), "1234567890123,4567");
    EXPECT_EQ(tb.F("I").AsString(), "12345678901234567890");
    EXPECT_EQ(tb.F("S").AsString(), "12,5");  // 3 significant digits: through the double
    tb.t.Next();
    FormatSettings().DecimalSeparator = '.';
    EXPECT_EQ(tb.F("A").AsString(), "99999999999999.9999");
    EXPECT_EQ(tb.F("I").AsString(), "-99999999999999999999");
    EXPECT_EQ(tb.F("S").AsString(), "-01234567890123.4567");  // sign, digits, decimals as stored

    // Written back: the digits as they are, in the field's fixed-point form.
    tb.t.Append();
    tb.F("A").SetAsString("1234567890123.4567");
    EXPECT_EQ(tb.Bytes("A"), "  1234567890123.4567");
    tb.F("A").SetAsString("-99999999999999.999");
    EXPECT_EQ(tb.Bytes("A"), "-99999999999999.9990");
    tb.F("I").SetAsString("-99999999999999999999");
    EXPECT_EQ(tb.Bytes("I"), "-99999999999999999999");
    tb.F("S").SetAsString("-01234567890123.456");
    EXPECT_EQ(tb.Bytes("S"), " -1234567890123.4560");
    tb.F("S").SetAsString("3.14159");  // few digits: as before
    EXPECT_EQ(tb.Bytes("S"), "              3.1416");
    // Digits the field cannot hold are not forced into it: too wide is refused as before.
    EXPECT_NE(Message([&] { tb.F("I").SetAsString("123456789012345678901234"); }), "");
    tb.t.Cancel();
}

// Every letter that dBase and FoxPro write into an L field; writing stays T and F.
TEST(FieldValues, LogicalLettersOfRealFiles) {
    const std::string letters = "TtYyFfNn ?x";
    std::vector<std::string> recs;
    for (char c : letters) recs.push_back(std::string(" ") + c);
    Tbl tb("logicals.dbf", BuildDbf(0x03, {{"L", 'L', 1}}, recs));
    std::string texts;
    for (tb.t.First(); !tb.t.Eof(); tb.t.Next()) texts += (tb.F("L").IsNull() ? "-" : tb.F("L").AsString()) + " ";
    EXPECT_EQ(texts, "True True True True False False False False - - - ");
    tb.t.First();
    tb.t.Edit();
    tb.F("L").SetAsBoolean(false);
    EXPECT_EQ(tb.Bytes("L"), "F");
    tb.F("L").SetAsString("True");
    EXPECT_EQ(tb.Bytes("L"), "T");
    tb.t.Cancel();
}

TEST(FieldValues, DatesLogicalsAndCharacters) {
    std::vector<FieldSpec> f = {{"D", 'D', 8}, {"L", 'L', 1}, {"C", 'C', 5}};
    std::vector<std::string> recs = {" 20240230Yab   ", " 20240301T     ", " 2024O301?ab cd", "         abcde"};
    Tbl tb("dlc.dbf", BuildDbf(0x03, f, recs));
    EXPECT_TRUE(tb.F("D").IsNull());  // 30 February
    EXPECT_FALSE(tb.F("L").IsNull());  // Y: true, as dBase and FoxPro write it
    EXPECT_TRUE(tb.F("L").AsBoolean());
    EXPECT_EQ(tb.F("C").AsString(), "ab   ");
    tb.t.SetTrimCType(true);
    EXPECT_EQ(tb.F("C").AsString(), "ab");
    tb.t.Next();
    EXPECT_TRUE(tb.F("C").IsNull());  // all spaces with TrimCType
    EXPECT_DOUBLE_EQ(tb.F("D").AsDateTime(), EncodeDate(2024, 3, 1));
    EXPECT_TRUE(tb.F("L").AsBoolean());
    tb.t.SetTrimCType(false);
    EXPECT_EQ(tb.F("C").AsString(), "     ");
    tb.t.Next();
    EXPECT_TRUE(tb.F("D").IsNull());  // not digits
    EXPECT_TRUE(tb.F("L").IsNull());  // ?
    tb.t.Next();
    EXPECT_TRUE(tb.F("D").IsNull());
    EXPECT_FALSE(tb.F("L").AsBoolean());
    EXPECT_TRUE(tb.F("L").IsNull());  // a blank

    tb.t.Append();
    EXPECT_EQ(tb.Bytes("D"), "        ");
    tb.F("D").SetAsDateTime(EncodeDate(2024, 3, 1));
    EXPECT_EQ(tb.Bytes("D"), "20240301");
    tb.F("D").SetAsDateTime(EncodeDate(5, 1, 2));
    EXPECT_EQ(tb.Bytes("D"), "00050102");
    tb.F("L").SetAsBoolean(true);
    EXPECT_EQ(tb.Bytes("L"), "T");
    tb.F("L").SetAsString("f");
    EXPECT_EQ(tb.Bytes("L"), "F");
    tb.F("L").Clear();
    EXPECT_EQ(tb.Bytes("L"), " ");
    tb.F("C").SetAsString("xy");
    EXPECT_EQ(tb.Bytes("C"), "xy   ");
    tb.F("C").SetAsString("toolongvalue");
    EXPECT_EQ(tb.Bytes("C"), "toolo");
    tb.t.Cancel();
}

TEST(FieldValues, OemRoundTripOfCyrillic) {
    // "Привет" in CP866
    std::string oem = "\x8F\xE0\xA8\xA2\xA5\xE2";
    std::string ansi = "\xCF\xF0\xE8\xE2\xE5\xF2";
    Tbl tb("oem.dbf", BuildDbf(0x03, {{"C", 'C', 6}}, {" " + oem}), true);
    EXPECT_EQ(tb.F("C").AsString(), ansi);
    tb.t.Edit();
    tb.F("C").SetAsString(ansi);
    EXPECT_EQ(tb.Bytes("C"), oem);
    tb.t.Cancel();
    EXPECT_EQ(tb.t.TranslateBuffer(oem.data(), oem.data(), 6, false), 6);
    EXPECT_EQ(oem, ansi);
    EXPECT_EQ(tb.t.TranslateText(nullptr, nullptr, true), 0);
}

TEST(FieldValues, VisualFoxProKinds) {
    std::vector<FieldSpec> f = {{"T", 'T', 8, 0, 0x02}, {"Y", 'Y', 8}, {"I", 'I', 4}, {"B", 'B', 8},
                                {"M", 'M', 4},          {"N", 'N', 4, 0, 0}, {"C", 'C', 2, 0, 0x06},
                                {"_NULLFLAGS", '0', 1, 0, 0x05}};
    // T: 1 March 2024 06:00 (Julian day 2460371), Y: 12.3456, I: -5, B: 2.5, M: block 9
    std::string rec(1 + 8 + 8 + 4 + 8 + 4 + 4 + 2 + 1, '\0');
    rec[0] = ' ';
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) rec[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    };
    put32(1, 2460371);
    put32(5, 6 * 3600 * 1000);
    std::int64_t cy = 123456;
    for (int i = 0; i < 8; ++i) rec[9 + static_cast<std::size_t>(i)] = static_cast<char>(static_cast<std::uint64_t>(cy) >> (8 * i));
    put32(17, static_cast<std::uint32_t>(-5));
    double b = 2.5;
    std::memcpy(&rec[21], &b, 8);
    put32(29, 9);
    std::memcpy(&rec[33], "  12", 4);
    std::memcpy(&rec[37], "ab", 2);
    rec[39] = 0;
    std::string rec2(rec.size(), '\0');  // a freshly initialised record: T of zero bytes
    rec2[0] = ' ';
    std::memcpy(&rec2[33], "    ", 4);
    rec2[39] = 0x03;  // T and C null
    Tbl tb("vfpvals.dbf", BuildDbf(0x30, f, {rec, rec2}));
    EXPECT_DOUBLE_EQ(tb.F("T").AsDateTime(), EncodeDate(2024, 3, 1) + 0.25);
    EXPECT_DOUBLE_EQ(tb.F("Y").AsFloat(), 12.3456);
    EXPECT_EQ(tb.F("I").AsInteger(), -5);
    EXPECT_DOUBLE_EQ(tb.F("B").AsFloat(), 2.5);
    EXPECT_FALSE(tb.F("M").IsNull());
    std::uint32_t block = 0;
    ASSERT_TRUE(tb.F("M").GetData(&block));
    EXPECT_EQ(block, 9u);
    EXPECT_EQ(tb.F("C").DataType(), ftBytes);
    EXPECT_EQ(tb.F("C").AsString(), "ab");
    tb.t.Next();
    EXPECT_TRUE(tb.F("T").IsNull());
    EXPECT_TRUE(tb.F("M").IsNull());
    EXPECT_EQ(tb.F("I").AsInteger(), 0);  // Visual FoxPro integers always hold a value
    EXPECT_FALSE(tb.F("I").IsNull());

    tb.t.Edit();
    tb.F("T").SetAsDateTime(EncodeDate(2024, 3, 1) + 0.5);
    EXPECT_EQ(tb.Bytes("T"), std::string("\xD3\x8A\x25\x00\x00\x2E\x93\x02", 8));
    EXPECT_EQ(static_cast<unsigned char>(tb.Bytes("_NULLFLAGS")[0]), 0x02);  // T's null bit cleared
    tb.F("T").Clear();
    EXPECT_EQ(static_cast<unsigned char>(tb.Bytes("_NULLFLAGS")[0]), 0x03);
    EXPECT_TRUE(tb.F("T").IsNull());
    tb.F("Y").SetAsFloat(-1.5);
    EXPECT_EQ(tb.Bytes("Y"), std::string("\x68\xC5\xFF\xFF\xFF\xFF\xFF\xFF", 8));
    tb.F("I").SetAsInteger(258);
    EXPECT_EQ(tb.Bytes("I"), std::string("\x02\x01\x00\x00", 4));
    tb.F("N").SetAsString("");  // not nullable: the bytes stay
    EXPECT_EQ(tb.Bytes("N"), "    ");
    tb.F("N").SetAsInteger(5);
    tb.F("N").SetAsString("");
    EXPECT_EQ(tb.Bytes("N"), "   5");
    tb.F("M").Clear();
    EXPECT_EQ(tb.Bytes("M"), std::string(4, '\0'));
    tb.t.Cancel();

    tb.t.Append();  // the blank record zeroes the binary kinds
    EXPECT_EQ(tb.Bytes("T"), std::string(8, '\0'));
    EXPECT_EQ(tb.Bytes("B"), std::string(8, '\0'));
    EXPECT_EQ(tb.Bytes("M"), std::string(4, '\0'));
    EXPECT_EQ(tb.Bytes("I"), std::string(4, '\0'));
    EXPECT_EQ(tb.Bytes("_NULLFLAGS"), "\xFF");
    EXPECT_EQ(tb.Bytes("C"), "  ");
    tb.t.Cancel();
}

// Varchar (V), varbinary (Q) and blob (W): a V or Q field takes a bit of the null bitmap that
// says "shorter than the field, length in the last byte", before its own null bit; the null
// bits of the fields after it move along.
TEST(FieldValues, VisualFoxProVarcharVarbinaryAndBlob) {
    std::vector<FieldSpec> f = {{"V", 'V', 6, 0, 0x02}, {"Q", 'Q', 5}, {"W", 'W', 4},
                                {"C", 'C', 3, 0, 0x02}, {"_NULLFLAGS", '0', 1, 0, 0x05}};
    // bits: V length 0, V null 1, Q length 2, C null 3
    const std::string rec1 = std::string(" ab   \x04") + std::string("\x01\x02\0\0\x02", 5) + test::LE32(0) + "xyz" + "\x05";
    const std::string rec2 = std::string(" abcdef") + "\x05\x06\x07\x08\x09" + test::LE32(0) + "xyz" + "\x08";
    const std::string rec3 = std::string(" abcdef") + std::string("\0\0\0\0\0", 5) + test::LE32(0) + "abc" + "\x06";
    Tbl tb("vfpvar.dbf", BuildDbf(0x32, f, {rec1, rec2, rec3}));
    EXPECT_EQ(tb.F("V").DataType(), ftString);
    EXPECT_EQ(tb.F("V").Size(), 6);
    EXPECT_EQ(tb.F("Q").DataType(), ftVarBytes);
    EXPECT_EQ(tb.F("W").DataType(), ftBlob);
    EXPECT_EQ(tb.F("V").AsString(), "ab  ");  // its own length: trailing blanks are value
    EXPECT_EQ(tb.F("Q").AsString(), std::string("\x01\x02", 2));
    EXPECT_TRUE(tb.F("W").IsNull());
    EXPECT_EQ(tb.F("C").AsString(), "xyz");
    tb.t.Next();
    EXPECT_EQ(tb.F("V").AsString(), "abcdef");
    EXPECT_EQ(tb.F("Q").AsString(), "\x05\x06\x07\x08\x09");
    EXPECT_TRUE(tb.F("C").IsNull());
    tb.t.Next();
    EXPECT_TRUE(tb.F("V").IsNull());
    EXPECT_EQ(tb.F("Q").AsString(), "");  // length bit set, length 0
    EXPECT_EQ(tb.F("C").AsString(), "abc");

    tb.t.First();
    tb.t.Edit();
    tb.F("V").SetAsString("abcdef");
    EXPECT_EQ(tb.Bytes("V"), "abcdef");
    EXPECT_EQ(tb.Bytes("_NULLFLAGS"), "\x04");  // V's length bit cleared
    tb.F("V").SetAsString("x");
    EXPECT_EQ(tb.Bytes("V"), "x    \x01");
    tb.F("Q").SetAsString(std::string("\0\xFF", 2));
    EXPECT_EQ(tb.Bytes("Q"), std::string("\0\xFF\0\0\x02", 5));
    tb.F("Q").SetAsString("12345");
    EXPECT_EQ(tb.Bytes("Q"), "12345");
    EXPECT_EQ(tb.Bytes("_NULLFLAGS"), "\x01");
    EXPECT_EQ(tb.F("V").AsString(), "x");
    EXPECT_EQ(tb.F("Q").AsString(), "12345");
    tb.t.Cancel();

    tb.t.Append();  // a fresh record: every bit set, both values empty
    EXPECT_EQ(tb.Bytes("V"), std::string("     \0", 6));
    EXPECT_EQ(tb.Bytes("Q"), std::string(5, '\0'));
    EXPECT_EQ(tb.Bytes("W"), std::string(4, '\0'));
    tb.t.Cancel();
}

// V, Q and W belong to Visual FoxPro; elsewhere, and a W that is no 4-byte reference, keep
// their place in the record without a dataset field.
TEST(FieldValues, VarKindsOutsideVisualFoxProGetNoField) {
    std::vector<FieldSpec> f = {{"V", 'V', 4}, {"W", 'W', 6}, {"N", 'N', 2}};
    Tbl tb("novar.dbf", BuildDbf(0x03, f, {" abcdwwwwww42"}));
    EXPECT_EQ(tb.t.FindField("V"), nullptr);
    EXPECT_EQ(tb.t.FindField("W"), nullptr);
    EXPECT_EQ(tb.F("N").AsInteger(), 42);
    std::vector<FieldSpec> g = {{"W", 'W', 6}, {"N", 'N', 2}};
    Tbl vfp("widew.dbf", BuildDbf(0x30, g, {" wwwwww42"}));
    EXPECT_EQ(vfp.t.FindField("W"), nullptr);
    EXPECT_EQ(vfp.F("N").AsInteger(), 42);
}

TEST(FieldValues, DBaseVIIBinaryKinds) {
    std::vector<FieldSpec> f = {{"I", 'I', 4}, {"O", 'O', 8}, {"TS", '@', 8}, {"A", '+', 4}};
    std::string rec = " " + std::string("\x80\x00\x00\x05", 4) + std::string(8, '\0') + std::string(8, '\0') +
                      std::string("\x80\x00\x00\x01", 4);
    Tbl tb("d7vals.dbf", BuildDbf(0x04, f, {rec}));
    EXPECT_EQ(tb.F("I").AsInteger(), 5);
    EXPECT_TRUE(tb.F("O").IsNull());
    EXPECT_TRUE(tb.F("TS").IsNull());
    EXPECT_EQ(tb.F("A").AsInteger(), 1);
    tb.t.Edit();
    tb.F("I").SetAsInteger(-1);
    EXPECT_EQ(tb.Bytes("I"), std::string("\x7F\xFF\xFF\xFF", 4));
    EXPECT_EQ(tb.F("I").AsInteger(), -1);
    for (double v : {0.0, 1.0, -1.0, 123.25, -0.001}) {
        tb.F("O").SetAsFloat(v);
        EXPECT_DOUBLE_EQ(tb.F("O").AsFloat(), v);
    }
    tb.F("O").SetAsFloat(1.0);
    EXPECT_EQ(tb.Bytes("O"), std::string("\xBF\xF0\x00\x00\x00\x00\x00\x00", 8));
    tb.F("O").SetAsFloat(-1.0);
    EXPECT_EQ(tb.Bytes("O"), std::string("\x40\x0F\xFF\xFF\xFF\xFF\xFF\xFF", 8));
    TDateTime stamp = EncodeDate(2001, 2, 3) + EncodeTime(4, 5, 6, 7);
    tb.F("TS").SetAsDateTime(stamp);
    EXPECT_NEAR(tb.F("TS").AsDateTime(), stamp, 1e-9);
    tb.F("A").SetAsInteger(99);  // autoincrement values come only from the append path
    EXPECT_EQ(tb.F("A").AsInteger(), 1);
    tb.F("I").Clear();
    EXPECT_EQ(tb.Bytes("I"), std::string(4, '\0'));
    EXPECT_TRUE(tb.F("I").IsNull());
    tb.t.Cancel();
}

// Reads back what was written, field by field, for the extended kinds.
TEST(FieldValues, ExtendedKindsRoundTrip) {
    struct K {
        const char* name;
        std::uint8_t ext;
        int len;
        int bytes;
    };
    const K kinds[] = {
        {"S1", dbftS1, 0, 1},          {"U1N", dbftU1_N, 0, 2},        {"S2", dbftS2, 0, 2},
        {"U2NB", dbftU2_NB, 0, 2},     {"S4N", dbftS4_N, 0, 5},        {"S8", dbftS8, 0, 8},
        {"R4", dbftR4, 0, 4},          {"R6", dbftR6, 0, 6},           {"R6NB", dbftR6_NB, 0, 6},
        {"R8N", dbftR8_N, 0, 9},       {"R10", dbftR10, 0, 10},        {"D1", dbftD1, 0, 8},
        {"D2NB", dbftD2_NB, 0, 8},     {"D3", dbftD3, 0, 6},           {"STR", dbftString, 6, 8},
        {"STRN", dbftString_N, 6, 9},  {"FIX", dbftFixedChar, 4, 5},   {"WIDE", dbftWideString, 3, 11},
        {"CUR", dbftCurrency, 0, 8},   {"BCD", dbftBCD, 5, 4},         {"DATE", dbftDate, 0, 4},
        {"TIMEN", dbftTime_N, 0, 5},   {"U4NB", dbftU4_NB, 0, 4},      {"CLOB", dbftClob, 0, 10},
    };
    std::vector<FieldSpec> f;
    int recLen = 1;
    for (const K& k : kinds) {
        f.push_back({k.name, 'E', k.len, k.ext == dbftBCD ? 2 : 0, 0, k.ext, k.bytes});
        recLen += k.bytes;
    }
    Tbl tb("ext.dbf", BuildDbf(0x03, f, {std::string(static_cast<std::size_t>(recLen), ' ')}));
    ASSERT_EQ(tb.t.RecordLength(), recLen);
    ASSERT_EQ(tb.t.FieldCount(), static_cast<int>(std::size(kinds)));
    // marker kinds and the blank record: no value; plain kinds always have one
    EXPECT_TRUE(tb.F("U1N").IsNull());
    EXPECT_TRUE(tb.F("U2NB").IsNull());
    EXPECT_TRUE(tb.F("FIX").IsNull());
    EXPECT_TRUE(tb.F("STR").IsNull());  // count 0x2020
    EXPECT_TRUE(tb.F("BCD").IsNull());
    EXPECT_TRUE(tb.F("CLOB").IsNull());
    EXPECT_FALSE(tb.F("S1").IsNull());

    tb.t.Edit();
    tb.F("S1").SetAsInteger(-100);
    EXPECT_EQ(tb.F("S1").AsInteger(), -100);
    tb.F("U1N").SetAsInteger(200);
    EXPECT_EQ(tb.Bytes("U1N"), std::string("\x01\xC8", 2));
    EXPECT_EQ(tb.F("U1N").AsInteger(), 200);
    tb.F("S2").SetAsInteger(-30000);
    EXPECT_EQ(tb.F("S2").AsInteger(), -30000);
    tb.F("U2NB").SetAsInteger(1000);
    EXPECT_EQ(tb.Bytes("U2NB"), std::string("\xE8\x83", 2));
    EXPECT_EQ(tb.F("U2NB").AsInteger(), 1000);
    tb.F("U2NB").Clear();
    EXPECT_TRUE(tb.F("U2NB").IsNull());
    tb.F("S4N").SetAsInteger(-123456);
    EXPECT_EQ(tb.F("S4N").AsInteger(), -123456);
    tb.F("S4N").Clear();
    EXPECT_EQ(tb.Bytes("S4N").substr(0, 2), "  ");
    tb.F("S8").SetAsLargeInt(-9000000000000LL);
    EXPECT_EQ(tb.F("S8").AsLargeInt(), -9000000000000LL);
    tb.F("R4").SetAsFloat(0.5);
    EXPECT_DOUBLE_EQ(tb.F("R4").AsFloat(), 0.5);
    tb.F("R6").SetAsFloat(1.0);
    EXPECT_EQ(tb.Bytes("R6"), std::string("\x81\0\0\0\0\0", 6));
    tb.F("R6").SetAsFloat(-2.5);
    EXPECT_EQ(tb.Bytes("R6"), std::string("\x82\0\0\0\0\xA0", 6));
    for (double v : {0.0, 3.141592653589, -1e30, 1e-30, 123456789.125}) {
        tb.F("R6").SetAsFloat(v);
        EXPECT_NEAR(tb.F("R6").AsFloat(), v, std::fabs(v) * 1e-11) << v;
    }
    tb.F("R6NB").SetAsFloat(-7.25);  // the value-present bit takes the sign
    EXPECT_DOUBLE_EQ(tb.F("R6NB").AsFloat(), 7.25);
    tb.F("R8N").SetAsFloat(-0.1);
    EXPECT_DOUBLE_EQ(tb.F("R8N").AsFloat(), -0.1);
    tb.F("R10").SetAsFloat(1.0);
    EXPECT_EQ(tb.Bytes("R10"), std::string("\0\0\0\0\0\0\0\x80\xFF\x3F", 10));
    for (double v : {0.0, -1.0, 1e300, -3.5e-300, 0.1, 5e-324}) {
        tb.F("R10").SetAsFloat(v);
        EXPECT_DOUBLE_EQ(tb.F("R10").AsFloat(), v) << v;
    }
    TDateTime dt = EncodeDate(1999, 12, 31) + EncodeTime(23, 59, 58, 0);
    for (const char* n : {"D1", "D2NB", "D3"}) {
        tb.F(n).SetAsDateTime(dt);
        EXPECT_NEAR(tb.F(n).AsDateTime(), dt, 1e-7) << n;  // D3: 39 fraction bits
    }
    tb.F("STR").SetAsString("hello!!");
    EXPECT_EQ(tb.Bytes("STR"), std::string("\x06\0hello!", 8));
    EXPECT_EQ(tb.F("STR").AsString(), "hello!");
    tb.F("STRN").SetAsString("ab");
    EXPECT_EQ(tb.Bytes("STRN"), std::string("\x01\x02\0ab\0\0\0\0", 9));
    EXPECT_EQ(tb.F("STRN").AsString(), "ab");
    tb.F("FIX").SetAsString("xy");
    EXPECT_EQ(tb.Bytes("FIX"), std::string("xy  \0", 5));
    EXPECT_EQ(tb.F("FIX").AsString(), "xy  ");
    tb.F("WIDE").SetAsString("\xC0z");  // Cyrillic A, z
    EXPECT_EQ(tb.Bytes("WIDE"), std::string("\x01\x02\0\x10\x04z\0\0\0\0\0", 11));
    EXPECT_EQ(tb.F("WIDE").AsString(), "\xC0z");
    tb.F("CUR").SetAsFloat(12.34);
    EXPECT_DOUBLE_EQ(tb.F("CUR").AsFloat(), 12.34);
    tb.F("BCD").SetAsFloat(-123.45);
    EXPECT_EQ(tb.Bytes("BCD"), std::string("\x82\x01\x23\x45", 4));
    EXPECT_DOUBLE_EQ(tb.F("BCD").AsFloat(), -123.45);
    EXPECT_EQ(Message([&] { tb.F("BCD").SetAsFloat(12345.6); }).rfind("THXSmartDBF.SetFieldData: Value", 0), 0u);
    tb.F("DATE").SetAsDateTime(EncodeDate(2024, 3, 1));
    EXPECT_EQ(tb.F("DATE").AsString(), DateToStr(EncodeDate(2024, 3, 1)));
    tb.F("TIMEN").SetAsDateTime(EncodeTime(12, 0, 0, 0));
    EXPECT_EQ(tb.F("TIMEN").AsString(), "12:00:00");
    tb.F("U4NB").SetAsInteger(123456789);
    EXPECT_EQ(tb.F("U4NB").AsInteger(), 123456789);
    tb.t.Cancel();
}

TEST(FieldValues, MemoReferences) {
    std::vector<FieldSpec> f = {{"M", 'M', 10}};
    Tbl tb("memo.dbf", BuildDbf(0x83, f, {"          1", "           "}));
    EXPECT_FALSE(tb.F("M").IsNull());
    tb.t.Next();
    EXPECT_TRUE(tb.F("M").IsNull());
    EXPECT_EQ(tb.F("M").AsString(), "");
}

}  // namespace
}  // namespace zarbel

namespace zarbel {
namespace {

// A lookup source answering Lookup from a fixed map (CODE -> TITLE).
class TTitles : public test::TClipperDBF {
public:
    std::vector<std::string> asked;
    TVariant Lookup(std::string_view keyFields, const TVariant& keyValues, std::string_view resultFields) override {
        asked.push_back(std::string(keyFields) + "=" + keyValues.AsString() + "->" + std::string(resultFields));
        if (keyValues.AsString() == "7") return TVariant("seven");
        return TVariant::Null();
    }
};

TEST(FieldValues, LookupAndCalculatedFieldsOfATable) {
    std::string titlesPath = TempPath("titles.dbf");
    WriteFile(titlesPath, BuildDbf(0x03, {{"CODE", 'N', 2}, {"TITLE", 'C', 8}}, {" 7seven   "}));
    TTitles titles;
    titles.SetDBFFileName(titlesPath);
    titles.Open();

    std::string path = TempPath("withlookup.dbf");
    WriteFile(path, BuildDbf(0x03, {{"CODE", 'N', 2}}, {"  7", "  8", "   "}));
    test::TClipperDBF t;
    t.SetDBFFileName(path);
    auto code = CreateFieldOfType(ftInteger, 0);
    code->SetFieldName("CODE");
    auto title = CreateFieldOfType(ftString, 8);
    title->SetFieldName("TITLE");
    title->SetFieldKind(fkLookup);
    title->SetLookupDataSet(&titles);
    title->SetKeyFields("CODE");
    title->SetLookupKeyFields("CODE");
    title->SetLookupResultField("TITLE");
    auto twice = CreateFieldOfType(ftInteger, 0);
    twice->SetFieldName("TWICE");
    twice->SetFieldKind(fkCalculated);
    t.Fields().Add(std::move(code));
    t.Fields().Add(std::move(title));
    t.Fields().Add(std::move(twice));
    t.OnCalcFields = [](TDataSet& ds) {
        if (!ds.FieldByName("CODE").IsNull()) ds.FieldByName("TWICE").SetAsInteger(2 * ds.FieldByName("CODE").AsInteger());
    };
    t.Open();
    EXPECT_EQ(t.FieldByName("TITLE").AsString(), "seven");
    EXPECT_EQ(t.FieldByName("TWICE").AsInteger(), 14);
    EXPECT_EQ(titles.asked.back(), "CODE=7->TITLE");
    t.Next();
    EXPECT_TRUE(t.FieldByName("TITLE").IsNull());
    EXPECT_EQ(t.FieldByName("TWICE").AsInteger(), 16);
    t.Next();
    EXPECT_TRUE(t.FieldByName("TWICE").IsNull());
    titles.Close();
    t.First();
    EXPECT_TRUE(t.FieldByName("TITLE").IsNull());  // a closed lookup source gives no value
    t.Close();
    EXPECT_EQ(t.FieldCount(), 3);
    std::remove(path.c_str());
    std::remove(titlesPath.c_str());
}

}  // namespace
}  // namespace zarbel
