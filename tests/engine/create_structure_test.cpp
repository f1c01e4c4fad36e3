// The structure writer of table creation: byte-exact headers and descriptors of every form,
// widths, dialect rules and their messages, memo version bytes, Visual FoxPro null flags and
// trailer, nested descriptor lists.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/HXDBFCreate.h"
#include "engine/HXDBFDescriptors.h"
#include "engine/HXDBFPrx.h"
#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/locale.h"

using namespace zarbel;

namespace {

struct Field {
    const char* name;
    char type;
    int len;
    int dec;
    std::uint8_t flags = 0;
    THXDBFType ext = dbftUndefined;
};

void Fill(THXDBFFieldDefs& defs, std::initializer_list<Field> fields) {
    for (const Field& f : fields) {
        THXDBFFieldDef& d = defs.Add();
        d.SetName(f.name);
        d.Setfield_type(f.type);
        d.Setextend_type(f.ext);
        d.Setlen(static_cast<std::uint16_t>(f.len));
        d.Setdec(static_cast<std::uint16_t>(f.dec));
        d.FieldFlag().SetFieldFlag(f.flags);
    }
}

// Writes the structure into an inner (memory) stream and returns its bytes.
struct Written {
    std::string bytes;
    TTableCreateResult result;
    std::string error;
};

Written Write(xBaseVersion v, THXDBFFieldDefs& defs, TTableFlag& flags, std::uint8_t codepage = 0,
              bool oem = false) {
    TProxyStream file;
    file.SetProxyStreamType(pstInnerStream);
    file.CreateProxyStream();
    TTableCreateSettings s;
    s.DbfVersion = v;
    s.Codepage = codepage;
    if (oem)
        s.NameToOem = [](std::uint8_t* b, int n) {
            CharToOemBuffA(reinterpret_cast<char*>(b), reinterpret_cast<char*>(b), static_cast<std::size_t>(n));
        };
    Written w;
    try {
        WriteTableStructure(file, s, flags, defs, w.result);
    } catch (const Exception& e) {
        w.error = e.what();
    }
    w.bytes.assign(reinterpret_cast<const char*>(file.InnerStream().Memory()),
                   static_cast<std::size_t>(file.InnerStream().Size()));
    return w;
}

// Where a created table's descriptors start: xBaseV is written with the dBase VII extension.
int CreatedStart(xBaseVersion v) { return v == xBaseV || v == xBaseVII ? 68 : 32; }

std::uint8_t U8(const std::string& b, std::size_t i) { return static_cast<std::uint8_t>(b.at(i)); }
int LE16(const std::string& b, std::size_t i) { return U8(b, i) | (U8(b, i + 1) << 8); }

}  // namespace

TEST(CreateStructure, DBaseIVCharacterAndNumericIsByteExact) {
    THXDBFFieldDefs defs(nullptr, xBaseIV);
    Fill(defs, {{"NAME", 'C', 20, 0}, {"SUM", 'N', 10, 2}});
    TTableFlag flags;
    Written w = Write(xBaseIV, defs, flags, 0x65);
    ASSERT_EQ(w.error, "");
    const std::string& b = w.bytes;
    ASSERT_EQ(b.size(), 98u);
    EXPECT_EQ(U8(b, 0), 0x03);
    int y, m, d;
    DecodeDate(Date(), y, m, d);
    EXPECT_EQ(U8(b, 1), y - 1900);
    EXPECT_EQ(U8(b, 2), m);
    EXPECT_EQ(U8(b, 3), d);
    EXPECT_EQ(LE16(b, 4) + LE16(b, 6), 0);  // no records
    EXPECT_EQ(LE16(b, 8), 98);
    EXPECT_EQ(LE16(b, 10), 31);
    for (int i = 12; i < 28; ++i) EXPECT_EQ(U8(b, i), 0) << i;
    EXPECT_EQ(U8(b, 29), 0x65);
    EXPECT_EQ(b.substr(32, 11), std::string("NAME\0\0\0\0\0\0\0", 11));
    EXPECT_EQ(b[32 + 11], 'C');
    EXPECT_EQ(U8(b, 32 + 16), 0x14);
    EXPECT_EQ(U8(b, 32 + 17), 0x00);
    EXPECT_EQ(b[64 + 11], 'N');
    EXPECT_EQ(U8(b, 64 + 16), 0x0A);
    EXPECT_EQ(U8(b, 64 + 17), 0x02);
    EXPECT_EQ(U8(b, 64 + 23), 1);  // step of the new definition
    EXPECT_EQ(U8(b, 96), 0x0D);
    EXPECT_EQ(U8(b, 97), 0x1A);
    EXPECT_EQ(w.result.HeaderLength, 98);
    EXPECT_EQ(w.result.RecordLength, 31);
    EXPECT_FALSE(w.result.HasMemo);
}

TEST(CreateStructure, MemoFieldsChangeTheVersionByteByDialect) {
    struct Case {
        xBaseVersion v;
        char type;
        std::uint8_t version;
        int width;
    };
    const Case cases[] = {{xBaseIV, 'M', 0x8B, 10}, {xBaseIII, 'M', 0x83, 10}, {xClipper, 'M', 0x83, 10},
                          {xUnknown, 'M', 0x83, 10}, {xFoxPro, 'M', 0xF5, 10}, {xFoxPro, 'P', 0xF5, 10},
                          {xFoxPro, 'G', 0xF5, 10},  {xBaseV, 'B', 0x8C, 10},  {xBaseVII, 'G', 0x8C, 10},
                          {xVisualFoxPro, 'M', 0x30, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(1, c.type) + " dialect " + std::to_string(c.v));
        THXDBFFieldDefs defs(nullptr, c.v);
        Fill(defs, {{"A", 'C', 3, 0}, {"NOTE", c.type, 0, 0}});
        TTableFlag flags;
        Written w = Write(c.v, defs, flags);
        ASSERT_EQ(w.error, "");
        EXPECT_EQ(U8(w.bytes, 0), c.version);
        EXPECT_TRUE(w.result.HasMemo);
        EXPECT_EQ(w.result.MemoDialect, c.v);
        EXPECT_EQ(w.result.RecordLength, 1 + 3 + c.width);
        EXPECT_EQ(U8(w.bytes, 28), c.v == xVisualFoxPro ? 0x02 : 0x00);
        EXPECT_EQ(flags.HasGotMemo(), c.v == xVisualFoxPro);
        // length byte of the memo descriptor: its width
        std::size_t desc = static_cast<std::size_t>(CreatedStart(c.v) + DescriptorSize(c.v));
        std::size_t lenAt = desc + (DescriptorSize(c.v) == 48 ? 33 : 16);
        EXPECT_EQ(U8(w.bytes, lenAt), c.width);
    }
    // B and G without a memo file in Visual FoxPro's double / general forms
    THXDBFFieldDefs defs(nullptr, xVisualFoxPro);
    Fill(defs, {{"B", 'B', 0, 0}});
    TTableFlag flags;
    Written w = Write(xVisualFoxPro, defs, flags);
    ASSERT_EQ(w.error, "");
    EXPECT_FALSE(w.result.HasMemo);
    EXPECT_EQ(w.result.RecordLength, 9);
}

TEST(CreateStructure, VisualFoxProNullFlagsAndTrailer) {
    THXDBFFieldDefs defs(nullptr, xVisualFoxPro);
    Fill(defs, {{"A", 'C', 5, 0, TFieldFlag::kCanStoreNull}, {"B", 'N', 4, 0}, {"C", 'I', 0, 0, TFieldFlag::kCanStoreNull}});
    TTableFlag flags;
    Written w = Write(xVisualFoxPro, defs, flags);
    ASSERT_EQ(w.error, "");
    ASSERT_EQ(defs.Count(), 4);
    EXPECT_EQ(defs[3].Name(), "_NULLFLAGS");
    EXPECT_EQ(defs[3].field_type(), '0');
    EXPECT_EQ(defs[3].len(), 1);
    EXPECT_EQ(defs[3].FieldFlag().FieldFlag(), 0x05);
    const int hl = 32 + 4 * 32 + 1 + 1 + 263;
    EXPECT_EQ(w.result.HeaderLength, hl);
    ASSERT_EQ(static_cast<int>(w.bytes.size()), hl);
    EXPECT_EQ(LE16(w.bytes, 8), hl);
    EXPECT_EQ(U8(w.bytes, 0), 0x30);
    EXPECT_EQ(LE16(w.bytes, 10), 1 + 5 + 4 + 4 + 1);
    // the I field gets BinaryColumn besides its own flag
    EXPECT_EQ(U8(w.bytes, 32 + 2 * 32 + 18), 0x02 | 0x04);
    EXPECT_EQ(w.bytes.substr(32 + 3 * 32, 11), std::string("_NULLFLAGS\0", 11));
    EXPECT_EQ(w.bytes[32 + 3 * 32 + 11], '0');
    EXPECT_EQ(U8(w.bytes, 32 + 3 * 32 + 18), 0x05);
    EXPECT_EQ(U8(w.bytes, 32 + 4 * 32), 0x0D);
    EXPECT_EQ(U8(w.bytes, 32 + 4 * 32 + 1), 0x1A);
    for (int i = 32 + 4 * 32 + 2; i < hl; ++i) ASSERT_EQ(U8(w.bytes, i), 0) << i;

    // a second creation from the same definitions reuses the null-flags field
    TTableFlag flags2;
    Written again = Write(xVisualFoxPro, defs, flags2);
    ASSERT_EQ(again.error, "");
    EXPECT_EQ(defs.Count(), 4);
    EXPECT_EQ(again.bytes, w.bytes);

    // nine nullable fields take two bytes
    THXDBFFieldDefs nine(nullptr, xVisualFoxPro);
    for (int i = 0; i < 9; ++i) Fill(nine, {{"F", 'L', 1, 0, TFieldFlag::kCanStoreNull}});
    Written w9 = Write(xVisualFoxPro, nine, flags2);
    ASSERT_EQ(w9.error, "");
    EXPECT_EQ(nine[9].len(), 2);
}

TEST(CreateStructure, LengthBytesAndWidthsOfEveryLetter) {
    THXDBFFieldDefs defs(nullptr, xVisualFoxPro);
    Fill(defs, {{"C", 'C', 300, 0}, {"D", 'D', 0, 0}, {"L", 'L', 0, 0}, {"T", 'T', 3, 3}, {"Y", 'Y', 19, 4},
                {"I", 'I', 9, 9}, {"P", '+', 0, 0}, {"AT", '@', 0, 0}, {"O", 'O', 0, 0}, {"F", 'F', 12, 3},
                {"M", 'M', 0, 0}, {"G", 'G', 0, 0}, {"B", 'B', 0, 0}});
    TTableFlag flags;
    Written w = Write(xVisualFoxPro, defs, flags);
    ASSERT_EQ(w.error, "");
    // the widths themselves also for the binary kinds (readers locate fields by them)
    const int expectLen[][2] = {{0x2C, 0x01}, {8, 0}, {1, 0}, {8, 0}, {8, 4}, {4, 0}, {4, 0},
                                {8, 0},       {8, 0}, {12, 3}, {4, 0}, {4, 0}, {8, 0}};
    for (int i = 0; i < 13; ++i) {
        EXPECT_EQ(U8(w.bytes, 32 + 32 * i + 16), expectLen[i][0]) << i;
        EXPECT_EQ(U8(w.bytes, 32 + 32 * i + 17), expectLen[i][1]) << i;
    }
    EXPECT_EQ(w.result.RecordLength, 1 + 300 + 8 + 1 + 8 + 8 + 4 + 4 + 8 + 8 + 12 + 4 + 4 + 8);
    // a C field of length 300 in a dBase IV table
    THXDBFFieldDefs c300(nullptr, xBaseIV);
    Fill(c300, {{"TEXT", 'C', 300, 0}});
    Written w2 = Write(xBaseIV, c300, flags);
    ASSERT_EQ(w2.error, "");
    EXPECT_EQ(U8(w2.bytes, 48), 0x2C);
    EXPECT_EQ(U8(w2.bytes, 49), 0x01);
    EXPECT_EQ(w2.result.RecordLength, 301);
}

TEST(CreateStructure, ExtendedKindsUseTheReadersWidths) {
    THXDBFFieldDefs defs(nullptr, xBaseIV);
    Fill(defs, {{"S", 'E', 12, 0, 0, dbftString}, {"W", 'E', 7, 0, 0, dbftWideString},
                {"BCD", 'E', 9, 2, 0, dbftBCD},    {"R6", 'E', 0, 0, 0, dbftR6_N},
                {"CU", 'E', 20, 4, 0, dbftCurrency_N}, {"CL", 'E', 0, 0, 0, dbftClob}});
    TTableFlag flags;
    Written w = Write(xBaseIV, defs, flags);
    ASSERT_EQ(w.error, "");
    // the widths the reader computes from the written descriptors
    TDescriptorWalk walk = WalkDescriptors(reinterpret_cast<const std::uint8_t*>(w.bytes.data()),
                                           static_cast<std::int64_t>(w.bytes.size()), xBaseIV,
                                           static_cast<std::uint16_t>(w.result.HeaderLength));
    ASSERT_TRUE(walk.Terminated);
    ASSERT_EQ(walk.Descriptors.size(), 6u);
    int sum = 1;
    for (const TRawDescriptor& d : walk.Descriptors)
        sum += FieldStorageSize(static_cast<char>(d.Bytes[11]), d.Bytes[12], d.Bytes[16], d.Bytes[17], xBaseIV,
                                xBaseIV);
    EXPECT_EQ(sum, w.result.RecordLength);
    EXPECT_EQ(w.result.RecordLength, 1 + 14 + (2 * 7 + 5) + (10 / 2 + 1) + 7 + 9 + 10);
    EXPECT_EQ(U8(w.bytes, 0), 0x8B);  // the Clob needs a memo file
    EXPECT_EQ(U8(w.bytes, 32 + 2 * 32 + 16), 9);  // BCD: length and decimals
    EXPECT_EQ(U8(w.bytes, 32 + 2 * 32 + 17), 2);
    EXPECT_EQ(U8(w.bytes, 32 + 3 * 32 + 16), 0);  // R6_N: none
}

TEST(CreateStructure, FailuresCarryTheirMessagesAndKeepWhatWasWritten) {
    struct Case {
        xBaseVersion v;
        Field f;
        const char* msg;
    };
    const Case cases[] = {
        {xBaseIV, {"T", 'T', 0, 0}, kCreateTMsg},
        {xBaseIV, {"Y", 'Y', 8, 2}, kCreateYMsg},
        {xBaseIV, {"P", 'P', 0, 0}, kCreatePMsg},
        {xBaseIII, {"F", 'F', 8, 2}, kCreateFMsg},
        {xBaseIV, {"B", 'B', 0, 0}, kCreateBGMsg},
        {xBaseIV, {"G", 'G', 0, 0}, kCreateBGMsg},
        {xBaseV, {"I", 'I', 0, 0}, kCreateVIIMsg},
        {xBaseIV, {"A", '+', 0, 0}, kCreateVIIMsg},
        {xBaseIV, {"O", 'O', 0, 0}, kCreateVIIMsg},
        {xBaseIV, {"AT", '@', 0, 0}, kCreateVIIMsg},
        {xBaseIV, {"X", 'X', 5, 0}, kFieldTypeIncorrectMsg},
        {xBaseIV, {"X", 'c', 5, 0}, kFieldTypeIncorrectMsg},
        {xBaseIV, {"U", 'E', 0, 0, 0, dbftUndefined}, kExtendTypeIncorrectMsg},
        {xBaseIV, {"G", 'E', 0, 0, 0, dbftGuid}, kExtendTypeIncorrectMsg},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.msg);
        THXDBFFieldDefs defs(nullptr, c.v);
        Fill(defs, {{"FIRST", 'C', 4, 0}, c.f});
        TTableFlag flags;
        Written w = Write(c.v, defs, flags);
        EXPECT_EQ(w.error, c.msg);
        // the first header and the descriptor before the failing one are in the file
        EXPECT_EQ(static_cast<int>(w.bytes.size()), CreatedStart(c.v) + DescriptorSize(c.v));
        EXPECT_EQ(w.bytes.substr(CreatedStart(c.v), 5), "FIRST");
    }
    EXPECT_STREQ(kCreateTMsg,
                 "THXSmartDBF.CreateTable: DBF Version must be xFoxPro or greater for field type \"T\"!");
    EXPECT_STREQ(kCreateVIIMsg, "THXSmartDBF.CreateTable: DBF Version must be greater then xBaseVII for fields "
                                "\"I\", \"+\", \"O\", \"@\"!");
    THXDBFFieldDefs none(nullptr, xBaseIV);
    TTableFlag flags;
    Written w = Write(xBaseIV, none, flags);
    EXPECT_EQ(w.error, "THXSmartDBF.CreateTable: You should define one field at least to create table!");
    EXPECT_EQ(w.bytes.size(), 32u);

    // the 16-bit record length cannot be exceeded
    THXDBFFieldDefs wide(nullptr, xBaseIV);
    Fill(wide, {{"A", 'C', 65000, 0}, {"B", 'C', 600, 0}});
    Written big = Write(xBaseIV, wide, flags);
    EXPECT_EQ(big.error, kCreateRecordTooLongMsg);
}

TEST(CreateStructure, DBaseVIIHasExtensionAndLongDescriptors) {
    THXDBFFieldDefs defs(nullptr, xBaseVII);
    Fill(defs, {{"A_VERY_LONG_FIELD_NAME", 'C', 10, 0}, {"ID", '+', 0, 0}, {"AMOUNT", 'N', 12, 2}});
    defs[1].SetNativeNextAutoInc(7);
    TTableFlag flags;
    Written w = Write(xBaseVII, defs, flags);
    ASSERT_EQ(w.error, "");
    const int hl = 32 + 36 + 3 * 48 + 1 + 1;
    ASSERT_EQ(static_cast<int>(w.bytes.size()), hl);
    EXPECT_EQ(U8(w.bytes, 0), 0x04);
    for (int i = 32; i < 68; ++i) EXPECT_EQ(U8(w.bytes, i), 0);
    EXPECT_EQ(w.bytes.substr(68, 22), "A_VERY_LONG_FIELD_NAME");
    EXPECT_EQ(w.bytes[68 + 32], 'C');
    EXPECT_EQ(U8(w.bytes, 68 + 33), 10);
    EXPECT_EQ(w.bytes[68 + 48 + 32], '+');
    EXPECT_EQ(U8(w.bytes, 68 + 48 + 33), 4);                       // width of +
    EXPECT_EQ(U8(w.bytes, 68 + 48 + 37), 0x04);                    // BinaryColumn
    EXPECT_EQ(U8(w.bytes, 68 + 48 + 42), 7);                       // NativeNextAutoInc
    EXPECT_EQ(U8(w.bytes, 68 + 96 + 33), 12);
    EXPECT_EQ(U8(w.bytes, 68 + 96 + 34), 2);
    EXPECT_EQ(U8(w.bytes, hl - 2), 0x0D);
    EXPECT_EQ(U8(w.bytes, hl - 1), 0x1A);
    EXPECT_EQ(w.result.RecordLength, 1 + 10 + 4 + 12);
}

TEST(CreateStructure, NestedListsEndWithAWholeTerminatorBlock) {
    THXDBFFieldDefs defs(nullptr, xBaseIV);
    Fill(defs, {{"ID", 'C', 4, 0}, {"ROWS", 'E', 0, 0, 0, dbftDBFDataSet}, {"AFTER", 'L', 1, 0}});
    Fill(defs[1].DBFFieldDefs(), {{"QTY", 'N', 5, 0}, {"NOTE", 'C', 8, 0}});
    TTableFlag flags;
    Written w = Write(xBaseIV, defs, flags);
    ASSERT_EQ(w.error, "");
    // header, ID, ROWS, QTY, NOTE, terminator block, AFTER, 0x0D, 0x1A
    const int hl = 32 + 6 * 32 + 2;
    ASSERT_EQ(static_cast<int>(w.bytes.size()), hl);
    EXPECT_EQ(w.bytes.substr(32 + 2 * 32, 3), "QTY");
    EXPECT_EQ(U8(w.bytes, 32 + 4 * 32), 0x0D);
    EXPECT_EQ(w.bytes.substr(32 + 5 * 32, 5), "AFTER");
    EXPECT_EQ(U8(w.bytes, 0), 0x8B);  // the nested rows live in the memo file
    // only the outer record holds bytes: ID, the reference, AFTER
    EXPECT_EQ(w.result.RecordLength, 1 + 4 + 10 + 1 + 5 + 8);
    TDescriptorWalk walk = WalkDescriptors(reinterpret_cast<const std::uint8_t*>(w.bytes.data()),
                                           static_cast<std::int64_t>(w.bytes.size()), xBaseIV,
                                           static_cast<std::uint16_t>(hl));
    EXPECT_TRUE(walk.Terminated);
    ASSERT_EQ(walk.Descriptors.size(), 5u);
    EXPECT_EQ(walk.Descriptors[2].Depth, 1);

    THXDBFFieldDefs emptyNested(nullptr, xBaseIV);
    Fill(emptyNested, {{"ROWS", 'E', 0, 0, 0, dbftDBFDataSet}});
    Written e = Write(xBaseIV, emptyNested, flags);
    EXPECT_EQ(e.error, kCreateNoFieldsMsg);
}

TEST(CreateStructure, FieldNamesAreWrittenInTheOemCodePage) {
    THXDBFFieldDefs defs(nullptr, xBaseIV);
    const std::string ansiName = "\xC8\xCC\xDF";  // CP1251 capital letters I, M, YA
    Fill(defs, {{ansiName.c_str(), 'C', 5, 0}});
    TTableFlag flags;
    Written w = Write(xBaseIV, defs, flags, 0, true);
    ASSERT_EQ(w.error, "");
    EXPECT_EQ(w.bytes.substr(32, 3), AnsiToOem(ansiName));
    EXPECT_EQ(defs[0].Name(), ansiName);  // the definition keeps its own text
}
