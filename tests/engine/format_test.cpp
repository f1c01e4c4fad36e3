// Byte layout of table files: header, version bytes, descriptors, field sizes, record count.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <set>

#include "engine/HXDBFFieldRec.h"
#include "engine/HXDBFFormat.h"

using namespace zarbel;

TEST(Format, ByteHelpersAreLittleAndBigEndianWhateverTheHost) {
    std::uint8_t b[8];
    PutLE32(b, 0x11223344u);
    EXPECT_EQ(b[0], 0x44);
    EXPECT_EQ(b[3], 0x11);
    EXPECT_EQ(GetLE32(b), 0x11223344u);
    PutBE32(b, 0x11223344u);
    EXPECT_EQ(b[0], 0x11);
    EXPECT_EQ(GetBE32(b), 0x11223344u);
    PutLE16(b, 0xABCD);
    EXPECT_EQ(b[0], 0xCD);
    EXPECT_EQ(GetLE16(b), 0xABCD);
    PutLE64(b, 0x0102030405060708ull);
    EXPECT_EQ(b[0], 0x08);
    EXPECT_EQ(GetLE64(b), 0x0102030405060708ull);
    PutBE64(b, 0x0102030405060708ull);
    EXPECT_EQ(b[0], 0x01);
    EXPECT_EQ(GetBE64(b), 0x0102030405060708ull);
}

TEST(Format, HeaderRoundTripIsByteExact) {
    std::array<std::uint8_t, 32> in{};
    for (int i = 0; i < 32; ++i) in[i] = static_cast<std::uint8_t>(0xA0 + i);
    TDBFHeader h;
    h.Load(in.data());
    EXPECT_EQ(h.Version(), 0xA0);
    EXPECT_EQ(h.RecordCount(), 0xA7A6A5A4u);
    EXPECT_EQ(h.HeaderLength(), 0xA9A8);
    EXPECT_EQ(h.RecordLength(), 0xABAA);
    EXPECT_EQ(h.TableFlags(), 0xBC);
    EXPECT_EQ(h.CodePage(), 0xBD);
    std::array<std::uint8_t, 32> out{};
    h.Store(out.data());
    EXPECT_EQ(in, out);

    TDBFHeader n;
    n.SetVersion(0x8B);
    n.SetDate(2026, 12, 8);
    n.SetRecordCount(70000);
    n.SetHeaderLength(98);
    n.SetRecordLength(300);
    n.SetTableFlags(0x02);
    n.SetCodePage(0xC9);
    const std::uint8_t expect[32] = {0x8B, 126, 12, 8, 0x70, 0x11, 0x01, 0x00, 98, 0, 0x2C, 0x01, 0, 0, 0, 0,
                                     0,    0,   0,  0, 0,    0,    0,    0,    0,  0, 0,    0,    2, 0xC9, 0, 0};
    EXPECT_EQ(0, std::memcmp(n.Bytes(), expect, 32));
}

TEST(Format, VersionByteTable) {
    struct Row { std::uint8_t v; xBaseVersion d; xBaseVersion memo; bool file; };
    const Row rows[] = {
        {0x03, xBaseIII, xUnknown, false}, {0x04, xBaseVII, xUnknown, false}, {0x07, xClipper, xUnknown, false},
        {0x7B, xBaseIV, xBaseIV, false},   {0x8B, xBaseIV, xBaseIV, true},    {0x8E, xBaseIV, xBaseIV, false},
        {0x83, xBaseIII, xBaseIII, true},  {0x8C, xBaseVII, xBaseVII, true},  {0xF5, xFoxPro, xFoxPro, true},
    };
    std::set<int> known;
    for (const Row& r : rows) {
        TVersionInfo vi = LookupVersionByte(r.v, 0x02);
        EXPECT_EQ(vi.Dialect, r.d) << int(r.v);
        EXPECT_EQ(vi.MemoDialect, r.memo) << int(r.v);
        EXPECT_EQ(vi.OpensMemoFile, r.file) << int(r.v);
        known.insert(r.v);
    }
    for (std::uint8_t v : {0x30, 0x31, 0x32}) {
        TVersionInfo with = LookupVersionByte(v, 0x02);
        EXPECT_EQ(with.Dialect, xVisualFoxPro);
        EXPECT_EQ(with.MemoDialect, xVisualFoxPro);
        EXPECT_TRUE(with.OpensMemoFile);
        TVersionInfo without = LookupVersionByte(v, 0x05);  // other bits, no HasGotMemo
        EXPECT_EQ(without.Dialect, xVisualFoxPro);
        EXPECT_EQ(without.MemoDialect, xUnknown);
        EXPECT_FALSE(without.OpensMemoFile);
        known.insert(v);
    }
    for (int v = 0; v < 256; ++v) {
        if (known.count(v)) continue;
        TVersionInfo vi = LookupVersionByte(static_cast<std::uint8_t>(v), 0xFF);
        EXPECT_EQ(vi.Dialect, xUnknown) << v;
        EXPECT_EQ(vi.MemoDialect, xUnknown) << v;
    }
    EXPECT_EQ(NotDbfFileMessage("C:\\a b.dbf"), "THXSmartDBF.InternalOpen: File \"C:\\a b.dbf\" is not DBF file");
}

TEST(Format, VersionByteOnCreation) {
    bool flag = true;
    EXPECT_EQ(VersionByteForCreate(xBaseIII, false, flag), 0x03);
    EXPECT_FALSE(flag);
    EXPECT_EQ(VersionByteForCreate(xBaseIV, false, flag), 0x03);
    EXPECT_EQ(VersionByteForCreate(xBaseIV, true, flag), 0x8B);
    EXPECT_EQ(VersionByteForCreate(xBaseV, false, flag), 0x04);
    EXPECT_EQ(VersionByteForCreate(xBaseVII, true, flag), 0x8C);
    EXPECT_EQ(VersionByteForCreate(xFoxPro, true, flag), 0xF5);
    EXPECT_EQ(VersionByteForCreate(xFoxPro, false, flag), 0x03);
    EXPECT_EQ(VersionByteForCreate(xClipper, true, flag), 0x83);
    EXPECT_EQ(VersionByteForCreate(xUnknown, true, flag), 0x83);
    EXPECT_EQ(VersionByteForCreate(xVisualFoxPro, true, flag), 0x30);
    EXPECT_TRUE(flag);
    EXPECT_EQ(VersionByteForCreate(xVisualFoxPro, false, flag), 0x30);
    EXPECT_FALSE(flag);

    EXPECT_TRUE(FieldNeedsMemo('M', 0, xBaseIII));
    EXPECT_FALSE(FieldNeedsMemo('P', 0, xBaseIV));
    EXPECT_TRUE(FieldNeedsMemo('P', 0, xFoxPro));
    EXPECT_TRUE(FieldNeedsMemo('G', 0, xVisualFoxPro));
    EXPECT_TRUE(FieldNeedsMemo('G', 0, xBaseVII));
    EXPECT_FALSE(FieldNeedsMemo('G', 0, xBaseIV));
    EXPECT_TRUE(FieldNeedsMemo('B', 0, xBaseV));
    EXPECT_FALSE(FieldNeedsMemo('B', 0, xVisualFoxPro));
    EXPECT_TRUE(FieldNeedsMemo('E', dbftDBFDataSet_NB, xBaseIII));
    EXPECT_TRUE(FieldNeedsMemo('E', dbftFmtMemo, xBaseIII));
    EXPECT_FALSE(FieldNeedsMemo('E', dbftBCD, xBaseIII));
}

TEST(Format, ShortDescriptorRoundTripIsByteExact) {
    FIELD_REC r(xBaseIV);
    r.SetName("AMOUNT");
    r.SetFieldType('E');
    r.SetExtendType(dbftR8_NB);
    r.SetLenDec(34, 16);
    r.SetFieldFlags(0x06);
    r.SetNativeNextAutoInc(0x01020304);
    r.SetNativeStepAutoInc(7);
    r.SetNextAutoInc(0xA1B2C3D4);
    const std::uint8_t expect[32] = {'A', 'M', 'O', 'U', 'N', 'T', 0, 0, 0, 0, 0, 'E', 48, 0, 0, 0,
                                     34, 16, 0x06, 0x04, 0x03, 0x02, 0x01, 7, 0xD4, 0xC3, 0xB2, 0xA1, 0, 0, 0, 0};
    ASSERT_EQ(r.DescriptorSize(), 32);
    EXPECT_EQ(0, std::memcmp(r.Image(), expect, 32));

    // Read back from file bytes: every getter sees the same values.
    FIELD_REC back(xClipper);
    std::memcpy(back.Image(), expect, 32);
    EXPECT_EQ(back.Name(), "AMOUNT");
    EXPECT_EQ(back.FieldType(), 'E');
    EXPECT_EQ(back.ExtendType(), dbftR8_NB);
    EXPECT_EQ(back.LengthByte(), 34);
    EXPECT_EQ(back.DecimalByte(), 16);
    EXPECT_EQ(back.FieldFlags(), 0x06);
    EXPECT_EQ(back.NativeNextAutoInc(), 0x01020304u);
    EXPECT_EQ(back.NativeStepAutoInc(), 7);
    EXPECT_EQ(back.NextAutoInc(), 0xA1B2C3D4u);
}

TEST(Format, LongDescriptorRoundTripIsByteExact) {
    FIELD_REC r(xBaseVII);
    r.SetName("A_LONG_FIELD_NAME_OF_DBASE_SEVEN_X");  // 34 characters: 31 kept
    r.SetFieldType('I');
    r.SetExtendType(dbftGuid);
    r.SetLenDec(4, 0);
    r.SetFieldFlags(0x08);
    r.SetNativeNextAutoInc(0x11223344);
    r.SetNativeStepAutoInc(9);
    r.SetNextAutoInc(0x55667788);
    std::uint8_t expect[48] = {};
    std::memcpy(expect, "A_LONG_FIELD_NAME_OF_DBASE_SEVE", 31);
    expect[32] = 'I';
    expect[33] = 4;
    expect[35] = 71;
    expect[37] = 0x08;
    expect[38] = 0x88; expect[39] = 0x77; expect[40] = 0x66; expect[41] = 0x55;
    expect[42] = 0x44; expect[43] = 0x33; expect[44] = 0x22; expect[45] = 0x11;
    ASSERT_EQ(r.DescriptorSize(), 48);
    EXPECT_EQ(0, std::memcmp(r.Image(), expect, 48));
    EXPECT_EQ(r.Name(), "A_LONG_FIELD_NAME_OF_DBASE_SEVE");
    EXPECT_EQ(r.NativeStepAutoInc(), 1);  // no step byte in the long form

    // A garbage byte at 36 is cleared by setting the step; a full 32-byte name has no NUL
    // and still reads only its 32 bytes.
    FIELD_REC g(xBaseV);
    std::memset(g.Image(), 'Z', 48);
    EXPECT_EQ(g.Name(), std::string(32, 'Z'));
    g.SetNativeStepAutoInc(3);
    EXPECT_EQ(g.LongImage()[36], 0);
    EXPECT_EQ(g.ShortImage()[23], 3);
}

TEST(Format, CharacterFieldOf300UsesBothLengthBytes) {
    FIELD_REC r(xBaseIII);
    r.SetFieldType('C');
    r.SetLength16(300);
    EXPECT_EQ(r.ShortImage()[16], 0x2C);
    EXPECT_EQ(r.ShortImage()[17], 0x01);
    EXPECT_EQ(r.LongImage()[33], 0x2C);
    EXPECT_EQ(r.LongImage()[34], 0x01);
    EXPECT_EQ(r.Length16(), 300);
    EXPECT_EQ(FieldStorageSize('C', 0, r.LengthByte(), r.DecimalByte(), xBaseIII, xUnknown), 300);
}

TEST(Format, ElevenCharacterNameInBothForms) {
    FIELD_REC r(xBaseVII);
    r.SetName("ABCDEFGHIJK");
    EXPECT_EQ(0, std::memcmp(r.ShortImage(), "ABCDEFGHIJ\0", 11));
    EXPECT_EQ(0, std::memcmp(r.LongImage(), "ABCDEFGHIJK\0", 12));
    EXPECT_EQ(r.Name(), "ABCDEFGHIJK");
    r.SetDialect(xBaseIV);
    EXPECT_EQ(r.Name(), "ABCDEFGHIJ");
    r.SetDialect(xBaseV);
    EXPECT_EQ(r.Name(), "ABCDEFGHIJK");
    // A short-form name without any zero byte is cut at the 11-byte name area.
    FIELD_REC s(xBaseIII);
    std::memset(s.Image(), 'Q', 32);
    EXPECT_EQ(s.Name(), std::string(11, 'Q'));
}

TEST(Format, ExtendedTypeNamesInOrder) {
    EXPECT_EQ(THXDBFTypeName(0), "dbftS1");
    EXPECT_EQ(THXDBFTypeName(dbftWideString), "dbftWideString");
    EXPECT_EQ(THXDBFTypeName(36), "dbftBCD");
    EXPECT_EQ(THXDBFTypeName(59), "dbftUndefined");
    EXPECT_EQ(THXDBFTypeName(60), "dbftDBFDataSet");
    EXPECT_EQ(THXDBFTypeName(71), "dbftGuid");
    EXPECT_EQ(THXDBFTypeName(72), "");
    EXPECT_EQ(THXDBFTypeName(-1), "");
    std::set<std::string_view> names;
    for (int i = 0; i < kTHXDBFTypeCount; ++i) names.insert(THXDBFTypeName(i));
    EXPECT_EQ(names.size(), 72u);
    EXPECT_EQ(static_cast<int>(dbftGuid), 71);
}

TEST(Format, ExtendedStorageSizes) {
    const int fixed[62] = {1, 2, 1, 2, 2, 3, 2, 3, 4, 5, 4, 5, 8, 9, 4, 5, 6, 7, 8, 9, 10, 11, 8, 9, 8, 9,
                           -1, -1, -1, -1, 8, 9, 10, 10, 10, 10, -1, 4, 5, 4, 5, 6, 7, 1, 2, 4, 4, 6, 8, 8,
                           8, 8, 4, 4, 6, 4, 4, 4, 4, 0, 10, 4};
    for (int t = 0; t < 62; ++t) {
        if (fixed[t] < 0) continue;
        EXPECT_EQ(ExtendedFieldSize(static_cast<std::uint8_t>(t), 20, xBaseIII), fixed[t]) << THXDBFTypeName(t);
    }
    EXPECT_EQ(ExtendedFieldSize(dbftString, 300, xBaseIII), 302);
    EXPECT_EQ(ExtendedFieldSize(dbftString_N, 300, xBaseIII), 303);
    EXPECT_EQ(ExtendedFieldSize(dbftFixedChar, 20, xBaseIII), 21);
    EXPECT_EQ(ExtendedFieldSize(dbftWideString, 20, xBaseIII), 45);
    EXPECT_EQ(ExtendedFieldSize(dbftBCD, 25, xBaseIII), 14);
    EXPECT_EQ(ExtendedFieldSize(dbftBCD, 0x0119, xBaseIII), 14);  // only the length byte counts
    for (int t = 62; t < 256; ++t) {
        int low = t & 0x7F;
        if (low < 62) continue;
        EXPECT_EQ(ExtendedFieldSize(static_cast<std::uint8_t>(t), 20, xBaseIII), 0) << t;
    }
    // The memo kinds follow the memo dialect, not the dialect.
    for (THXDBFType t : {dbftClob, dbftBlob, dbftGraphic, dbftFmtMemo, dbftDBFDataSet}) {
        EXPECT_EQ(ExtendedFieldSize(t, 0, xVisualFoxPro), 4);
        EXPECT_EQ(ExtendedFieldSize(t, 0, xUnknown), 10);
    }
    // The top bit of the extended type byte does not change the storage.
    EXPECT_EQ(ExtendedFieldSize(0x80 | dbftR8, 0, xUnknown), 8);
    EXPECT_TRUE(IsNestedDataSetType(0x80 | dbftDBFDataSet));
    EXPECT_TRUE(IsNestedDataSetType(dbftDBFDataSet_NB));
    EXPECT_FALSE(IsNestedDataSetType(dbftBlob));
}

TEST(Format, LetterStorageSizesPerDialect) {
    EXPECT_EQ(FieldStorageSize('N', 0, 12, 2, xBaseIII, xUnknown), 12);
    EXPECT_EQ(FieldStorageSize('F', 0, 20, 5, xBaseIV, xUnknown), 20);
    EXPECT_EQ(FieldStorageSize('D', 0, 99, 0, xBaseIII, xUnknown), 8);
    EXPECT_EQ(FieldStorageSize('L', 0, 99, 0, xBaseIII, xUnknown), 1);
    EXPECT_EQ(FieldStorageSize('0', 0, 2, 1, xVisualFoxPro, xUnknown), 258);
    for (char c : {'M', 'G', 'P'}) {
        EXPECT_EQ(FieldStorageSize(c, 0, 0, 0, xVisualFoxPro, xUnknown), 4) << c;  // even without memo file
        EXPECT_EQ(FieldStorageSize(c, 0, 10, 0, xFoxPro, xFoxPro), 10) << c;
    }
    EXPECT_EQ(FieldStorageSize('B', 0, 0, 0, xVisualFoxPro, xVisualFoxPro), 8);
    EXPECT_EQ(FieldStorageSize('B', 0, 10, 0, xBaseIV, xBaseIV), 10);
    for (char c : {'T', 'Y', '@', 'O'}) EXPECT_EQ(FieldStorageSize(c, 0, 0, 0, xVisualFoxPro, xUnknown), 8);
    for (char c : {'I', '+'}) EXPECT_EQ(FieldStorageSize(c, 0, 0, 0, xBaseVII, xUnknown), 4);
    EXPECT_EQ(FieldStorageSize('E', dbftString, 44, 1, xBaseIII, xUnknown), 302);
    EXPECT_EQ(FieldStorageSize('c', 0, 10, 0, xBaseIII, xUnknown), 0);  // letters are exact bytes
    EXPECT_EQ(FieldStorageSize('X', 0, 10, 0, xBaseIII, xUnknown), 0);
}

TEST(Format, RecordCountFromFileSize) {
    std::uint32_t n = 99;
    // Header says 5, the file holds 3 whole records and a trailing 0x1A.
    EXPECT_TRUE(RecordCountFromFileSize(98 + 3 * 57 + 1, 98, 57, n));
    EXPECT_EQ(n, 3u);
    // Two records and one more byte that is not 0x1A.
    EXPECT_TRUE(RecordCountFromFileSize(98 + 2 * 57 + 1, 98, 57, n));
    EXPECT_EQ(n, 2u);
    // A partial record.
    EXPECT_TRUE(RecordCountFromFileSize(98 + 2 * 57 + 56, 98, 57, n));
    EXPECT_EQ(n, 2u);
    // Hostile lengths.
    EXPECT_TRUE(RecordCountFromFileSize(1000, 98, 0, n));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(RecordCountFromFileSize(10, 98, 57, n));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(RecordCountFromFileSize(0, 0, 1, n));
    EXPECT_EQ(n, 0u);
    // Beyond 2 GiB: no 32-bit wrap.
    EXPECT_TRUE(RecordCountFromFileSize(5'000'000'000LL + 34, 34, 10, n));
    EXPECT_EQ(n, 500'000'000u);
    // A count the record numbers cannot address is refused.
    EXPECT_FALSE(RecordCountFromFileSize(0x80000000LL + 34, 34, 1, n));
    EXPECT_EQ(n, 0u);

    EXPECT_EQ(RecordPosition(98, 57, 1), 98);
    EXPECT_EQ(RecordPosition(98, 57, 3), 98 + 2 * 57);
    EXPECT_EQ(RecordPosition(65535, 65535, 0x7FFFFFFF), 65535 + 0x7FFFFFFELL * 65535);
}

TEST(Format, HeaderLengthOnCreation) {
    EXPECT_EQ(CreatedHeaderLength(xBaseIII, 2 * 32), 98);  // 34 + 32 n
    EXPECT_EQ(CreatedHeaderLength(xBaseVII, 2 * 48), 32 + 36 + 96 + 2);
    EXPECT_EQ(CreatedHeaderLength(xVisualFoxPro, 32), 32 + 32 + 2 + 263);
    EXPECT_EQ(DescriptorStart(xBaseVII), 68);
    EXPECT_EQ(DescriptorStart(xBaseV), 32);
    EXPECT_EQ(DescriptorSize(xBaseV), 48);
    EXPECT_EQ(DescriptorSize(xVisualFoxPro), 32);
}
