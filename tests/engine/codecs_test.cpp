// The field codec table: the extended kinds' three framings round-trip through a bare record
// image, "no value" is stored as each framing stores it, the codecs are picked once per field,
// and the entry point reads a field from any record image (a copy, not the active record),
// null bits and the long-number text road included.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dbf_builder.h"
#include "engine/HXDBFCodecs.h"
#include "engine/HXDBFDataSet.h"
#include "clipper_table.h"
#include "platform/locale.h"
#include "testutil/platform_helpers.h"

namespace zarbel {
namespace {

TDBFFieldStore ExtStore(THXDBFType t, std::uint16_t len16 = 10) {
    TDBFFieldStore s;
    s.Offset = 1;
    s.Letter = 'E';
    s.Ext = static_cast<std::uint8_t>(t);
    s.Size = ExtendedFieldSize(s.Ext, len16, xBaseVII);
    s.Len = len16;
    s.LenByte = static_cast<std::uint8_t>(len16);
    s.Dec = 4;
    s.DataType = ftFloat;  // any known type: the extended type picks the codec
    s.Codec = &FieldCodecFor('E', s.Ext, s.DataType, s.Size);
    return s;
}

TEST(FieldCodecs, ExtendedFramingsRoundTripAndStoreNoValueAsTheirFramingDoes) {
    const TFieldCodecContext dbase{};  // not Visual FoxPro: no value is written into the bytes
    const double d = -1234.5;
    const double positive = 1234.5;  // "_NB" floats: the presence bit is the sign bit
    const std::int32_t i = 123456;
    struct Case {
        THXDBFType Type;
        const void* Value;
        std::size_t Bytes;
    };
    const std::vector<Case> cases = {
        {dbftR8, &d, 8},   {dbftR8_N, &d, 8},   {dbftR8_NB, &positive, 8}, {dbftR6_N, &d, 8},
        {dbftR10_N, &d, 8}, {dbftS4_N, &i, 4},  {dbftU4_NB, &i, 4}, {dbftBCD, &d, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(THXDBFTypeName(c.Type)));
        const TDBFFieldStore s = ExtStore(c.Type);
        std::vector<std::uint8_t> rec(static_cast<std::size_t>(s.Size) + 1, 0xAA);
        CodecWriteValue(s, dbase, rec.data(), c.Value);
        std::uint8_t back[16] = {};
        ASSERT_TRUE(CodecReadValue(s, dbase, rec.data(), back));
        EXPECT_EQ(std::memcmp(back, c.Value, c.Bytes), 0);
        EXPECT_EQ(rec[0], 0xAA);  // nothing outside the field
        const std::vector<std::uint8_t> written = rec;
        CodecWriteValue(s, dbase, rec.data(), nullptr);
        const std::uint8_t* p = rec.data() + 1;
        const std::string name(THXDBFTypeName(c.Type));
        if (name.ends_with("_N")) {
            EXPECT_EQ(p[0], 0x20);
            EXPECT_EQ(p[1], 0x20);
            EXPECT_FALSE(CodecReadValue(s, dbase, rec.data(), nullptr));
        } else if (name.ends_with("_NB")) {
            EXPECT_EQ(p[s.Size - 1], written[static_cast<std::size_t>(s.Size)] & 0x7F);
            EXPECT_FALSE(CodecReadValue(s, dbase, rec.data(), nullptr));
        } else if (c.Type == dbftBCD) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(s.Size)),
                      std::string(static_cast<std::size_t>(s.Size), ' '));
            EXPECT_FALSE(CodecReadValue(s, dbase, rec.data(), nullptr));
        } else {
            EXPECT_EQ(rec, written);  // a plain kind has no way to store no value
        }
    }
}

TEST(FieldCodecs, PickedOncePerFieldWithTextRoadsOnlyForWideNumbers) {
    EXPECT_EQ(&FieldCodecFor('N', 0, ftInteger, 9), &FieldCodecFor('F', 0, ftInteger, 5));
    EXPECT_EQ(FieldCodecFor('N', 0, ftFloat, 15).ReadText, nullptr);
    EXPECT_NE(FieldCodecFor('N', 0, ftFloat, 16).ReadText, nullptr);
    EXPECT_NE(FieldCodecFor('N', 0, ftLargeint, 20).TakesText, nullptr);
    // No dataset field (a field past the record, an unknown kind): reads nothing, writes nothing.
    const TFieldCodec& none = FieldCodecFor('I', 0, ftUnknown, 4);
    EXPECT_EQ(&none, &FieldCodecFor('E', dbftUndefined, ftFloat, 0));
    std::uint8_t bytes[4] = {1, 2, 3, 4};
    TDBFFieldStore s;
    s.Size = 4;
    none.Write(s, TFieldCodecContext{}, bytes, nullptr);
    EXPECT_EQ(bytes[3], 4);
    EXPECT_FALSE(none.Read(s, TFieldCodecContext{}, bytes, nullptr));
}

TEST(FieldCodecs, DateTimeWhoseDayNumberStartsWithABlankByteKeepsItsValue) {
    TDBFFieldStore s;
    s.Size = 8;
    const TFieldCodec& t = FieldCodecFor('T', 0, ftDateTime, 8);
    // 2022-04-10 12:00: Julian day 2459680 = 0x00258820, whose low byte is a blank
    std::uint8_t bytes[8] = {0x20, 0x88, 0x25, 0x00, 0x00, 0x2E, 0x93, 0x02};
    double value = 0;
    ASSERT_TRUE(t.Read(s, TFieldCodecContext{}, bytes, &value));
    EXPECT_EQ(value, (738255.0 + 0.5) * 86400000.0);  // the engine's day 738255, noon
    std::memset(bytes, ' ', 8);
    EXPECT_FALSE(t.Read(s, TFieldCodecContext{}, bytes, nullptr));
}

TEST(FieldCodecs, EntryPointReadsAFieldOfADetachedRecordImage) {
    using test::FieldSpec;
    const std::vector<FieldSpec> f = {{"NAME", 'C', 6}, {"WIDE", 'N', 20, 2}, {"D", 'D', 8}};
    const std::vector<std::string> recs = {" alpha 12345678901234567.25" + std::string("20240301"),
                                           " beta                  1.00" + std::string("        ")};
    const std::string path = test::TempPath("codec_entry.dbf");
    test::WriteFile(path, test::BuildDbf(0x03, f, recs));
    test::TClipperDBF t;
    t.SetDBFFileName(path);
    t.SetTrimCType(true);
    t.Open();
    const std::vector<std::uint8_t> first(t.ActiveRecord(), t.ActiveRecord() + t.RecordLength());
    std::int32_t expectedDay = 0;
    ASSERT_TRUE(t.FieldByName("D").GetData(&expectedDay));
    t.Next();  // the active record is now the second: the copy is read on its own
    const TFieldCodecContext c = t.CodecContext();
    char name[8] = {};
    ASSERT_TRUE(CodecReadValue(*t.FieldStore(&t.FieldByName("NAME")), c, first.data(), name));
    EXPECT_STREQ(name, "alpha");
    std::int32_t day = 0;
    ASSERT_TRUE(CodecReadValue(*t.FieldStore(&t.FieldByName("D")), c, first.data(), &day));
    EXPECT_EQ(day, expectedDay);
    EXPECT_FALSE(CodecReadValue(*t.FieldStore(&t.FieldByName("D")), c, t.ActiveRecord(), nullptr));
    testutil::SettingsGuard guard;
    FormatSettings().DecimalSeparator = ',';
    std::string text;
    ASSERT_TRUE(CodecReadText(*t.FieldStore(&t.FieldByName("WIDE")), c, first.data(), text));
    EXPECT_EQ(text, "12345678901234567,25");  // every digit, beyond a double
    EXPECT_FALSE(CodecReadText(*t.FieldStore(&t.FieldByName("WIDE")), c, t.ActiveRecord(), text));
    t.Close();
    std::remove(path.c_str());
}

}  // namespace
}  // namespace zarbel
