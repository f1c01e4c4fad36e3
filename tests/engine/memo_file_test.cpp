// Memo file unit: layouts byte for byte, reference forms, entry reading and writing, the
// dBase IV free chain, FoxPro next-free advance, damaged files and the pack file swap.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/HXDBFMemoFile.h"
#include "platform/exception.h"
#include "platform/filesys.h"
#include "dbf_builder.h"
#include "test_util.h"

namespace zarbel {
namespace {

using test::BE32;
using test::DB4MemoHeader;
using test::FptMemoHeader;
using test::LE32;

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string Bytes(const TMemoryStream& s) {
    return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<std::size_t>(const_cast<TMemoryStream&>(s).Size()));
}


// A memo file opened read/write in a scratch directory.
struct MemoFixture {
    TempDir dir;
    std::string name;
    TProxyStream proxy;
    THXMemoFile memo{proxy};

    explicit MemoFixture(const std::string& file = "t.dbt") : name(dir.File(file)) {}
    void Create() {
        proxy.SetFileName(name);
        proxy.CreateProxyStream();
        ASSERT_TRUE(proxy.IsOpen());
    }
    void OpenExisting(const std::string& bytes, std::uint8_t version, xBaseVersion memoDialect) {
        WriteFile(name, bytes);
        proxy.SetFileName(name);
        proxy.AccessMode().SetAccessMode(2);
        proxy.OpenProxyStream();
        ASSERT_TRUE(proxy.IsOpen());
        memo.ReadHeader(version, memoDialect);
    }
    std::string File() {
        proxy.Close();
        return ReadFile(name);
    }
};

TMemoFieldForm Form(xBaseVersion d, char type, std::uint8_t ext = 0, bool binaryColumn = false) {
    return MemoFieldForm(d, type, ext, binaryColumn);
}

std::uint32_t Save(THXMemoFile& m, const TMemoFieldForm& f, std::string data, bool hasOld = false,
                   std::uint32_t old = 0, THXMemoFile::TSaveMode mode = THXMemoFile::smNormal) {
    return m.WriteEntry(f, reinterpret_cast<std::uint8_t*>(data.data()), static_cast<std::int64_t>(data.size()), hasOld,
                        old, mode);
}

std::string Load(THXMemoFile& m, const TMemoFieldForm& f, std::uint32_t number) {
    TMemoryStream s;
    m.ReadEntry(f, number, s);
    return Bytes(s);
}

void ExpectMessage(const std::function<void()>& fn, const std::string& message) {
    try {
        fn();
        ADD_FAILURE() << "no exception, expected " << message;
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), message);
    }
}

// ---------------------------------------------------------------------------------------
TEST(MemoFileForms, ReferenceFormsByDialectGroup) {
    // dBase III group: M as text; B/G have no entry form; _NB kinds are byte offsets.
    EXPECT_EQ(Form(xBaseIII, 'M').Ref, mrfText);
    EXPECT_TRUE(Form(xBaseIII, 'M').Terminated);
    EXPECT_FALSE(Form(xBaseIII, 'G').Valid());
    EXPECT_EQ(Form(xBaseIII, 'E', dbftBlob).Ref, mrfText);
    EXPECT_FALSE(Form(xBaseIII, 'E', dbftBlob).Terminated);
    EXPECT_EQ(Form(xClipper, 'E', dbftClob_NB).Ref, mrfBinary);
    EXPECT_TRUE(Form(xClipper, 'E', dbftClob_NB).ByteOffset);
    EXPECT_TRUE(Form(xClipper, 'E', dbftClob_NB).Text);
    // dBase IV group: M, B, G as text block numbers; _NB as binary block numbers.
    for (xBaseVersion d : {xBaseIV, xBaseV, xBaseVII}) {
        for (char t : {'M', 'B', 'G'}) EXPECT_EQ(Form(d, t).Ref, mrfText) << t;
        EXPECT_FALSE(Form(d, 'P').Valid());
        EXPECT_EQ(Form(d, 'E', dbftGraphic_NB).Ref, mrfBinary);
        EXPECT_FALSE(Form(d, 'E', dbftGraphic_NB).ByteOffset);
    }
    EXPECT_TRUE(Form(xBaseIV, 'M').Text);
    EXPECT_FALSE(Form(xBaseIV, 'B').Text);
    // FoxPro: M, P, G as text; Visual FoxPro: everything binary; BinaryColumn makes M binary.
    EXPECT_EQ(Form(xFoxPro, 'P').Ref, mrfText);
    EXPECT_FALSE(Form(xFoxPro, 'B').Valid());
    EXPECT_EQ(Form(xVisualFoxPro, 'M').Ref, mrfBinary);
    EXPECT_EQ(Form(xVisualFoxPro, 'E', dbftFmtMemo).Ref, mrfBinary);
    EXPECT_TRUE(Form(xVisualFoxPro, 'M').Text);
    EXPECT_FALSE(Form(xVisualFoxPro, 'M', 0, true).Text);
    EXPECT_TRUE(Form(xFoxPro, 'M', 0, true).Text);  // the flag matters in Visual FoxPro only
    EXPECT_TRUE(Form(xBaseIV, 'E', dbftDBFDataSet).Nested);
    EXPECT_FALSE(Form(xBaseIV, 'E', dbftR8).Valid());
}

TEST(MemoFileForms, ReferenceEncodeDecode) {
    std::uint8_t f[10];
    EncodeMemoReference(f, 10, mrfText, 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(f), 10), "         1");
    std::uint32_t n = 0;
    EXPECT_TRUE(DecodeMemoReference(f, 10, mrfText, n));
    EXPECT_EQ(n, 1u);
    EncodeMemoReference(f, 10, mrfText, 4294967295u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(f), 10), "4294967295");
    EXPECT_TRUE(DecodeMemoReference(f, 10, mrfText, n));
    EXPECT_EQ(n, 4294967295u);
    auto dec = [&](const std::string& s) {
        std::uint32_t v = 0;
        bool ok = DecodeMemoReference(reinterpret_cast<const std::uint8_t*>(s.data()), static_cast<int>(s.size()), mrfText, v);
        return ok ? static_cast<std::int64_t>(v) : -1;
    };
    EXPECT_EQ(dec("          "), -1);
    EXPECT_EQ(dec("       abc"), -1);
    EXPECT_EQ(dec("         0"), -1);  // block 0 is the header
    EXPECT_EQ(dec("0000000012"), 12);
    EXPECT_EQ(dec("12        "), 12);
    EXPECT_EQ(dec("  1 2     "), -1);
    EXPECT_EQ(dec("9999999999"), -1);  // beyond 32 bits
    EncodeMemoReference(f, 4, mrfBinary, 0x01020304);
    EXPECT_EQ(f[0], 4);
    EXPECT_EQ(f[3], 1);
    EXPECT_TRUE(DecodeMemoReference(f, 4, mrfBinary, n));
    EXPECT_EQ(n, 0x01020304u);
    std::uint8_t zero[4] = {0, 0, 0, 0}, spaces[4] = {' ', ' ', ' ', ' '};
    EXPECT_FALSE(DecodeMemoReference(zero, 4, mrfBinary, n));
    EXPECT_FALSE(DecodeMemoReference(spaces, 4, mrfBinary, n));
}

TEST(MemoFileForms, NamesAndBlockSizes) {
    EXPECT_EQ(MemoFileNameFor("/d/a.dbf", 0x83, xBaseIII), "/d/a.dbt");
    EXPECT_EQ(MemoFileNameFor("/d/a.dbf", 0x8B, xBaseIV), "/d/a.dbt");
    EXPECT_EQ(MemoFileNameFor("/d/A.DBF", 0xF5, xFoxPro), "/d/A.fpt");
    EXPECT_EQ(MemoFileNameFor("/d/a.dbf", 0x30, xVisualFoxPro), "/d/a.fpt");
    EXPECT_EQ(MemoFileNameFor("/d/a.dbf", 0x30, xUnknown), "");
    EXPECT_EQ(MemoFileNameFor("/d.x/a", 0x83, xBaseIII), "/d.x/a.dbt");
    EXPECT_EQ(RoundLobBlockSize(1000), 896);
    EXPECT_EQ(RoundLobBlockSize(600), 512);
    EXPECT_EQ(RoundLobBlockSize(100), 0);
    EXPECT_EQ(CreationBlockSize(0), 512);
    EXPECT_EQ(CreationBlockSize(384), 512);
    EXPECT_EQ(CreationBlockSize(896), 896);
    EXPECT_EQ(CreationBlockSize(1 << 20), 65408);

    TempDir dir;
    WriteFile(dir.File("T.DBT"), "x");
    EXPECT_EQ(LocateMemoFile(TEnv::Default(), dir.File("T.dbt")), dir.File("T.DBT"));
    EXPECT_EQ(LocateMemoFile(TEnv::Default(), dir.File("U.dbt")), dir.File("U.dbt"));
}

// ---------------------------------------------------------------------------------------
TEST(MemoFileDBase3, FreshFileAndFirstMemoAtBlockOne) {
    MemoFixture m;
    m.Create();
    ASSERT_TRUE(m.memo.CreateHeader(0x83, xBaseIII, 512));
    EXPECT_EQ(ReadFile(m.name), "This is Lob!");
    TMemoFieldForm f = Form(xBaseIII, 'M');
    EXPECT_EQ(Save(m.memo, f, "hello"), 1u);
    EXPECT_EQ(Save(m.memo, f, "second"), 2u);
    EXPECT_EQ(Load(m.memo, f, 1), "hello");
    EXPECT_EQ(Load(m.memo, f, 2), "second");
    std::string file = m.File();
    ASSERT_EQ(file.size(), 1024u + 7u);
    EXPECT_EQ(file.substr(0, 12), "This is Lob!");
    EXPECT_EQ(file.substr(12, 500), std::string(500, '\0'));  // the rest of block 0 is never written
    EXPECT_EQ(file.substr(512, 6), std::string("hello\x1A"));
    EXPECT_EQ(file.substr(1024), std::string("second\x1A"));
}

TEST(MemoFileDBase3, TextWithoutEndMarkReadsToEndOfFile) {
    MemoFixture m;
    std::string text(1300, 'q');
    m.OpenExisting(std::string("This is Lob!") + std::string(500, '\0') + text, 0x83, xBaseIII);
    EXPECT_EQ(Load(m.memo, Form(xBaseIII, 'M'), 1), text);
    // a text ended inside its second piece stops there
    MemoFixture m2;
    m2.OpenExisting(std::string(512, '\0') + std::string(700, 'a') + "\x1A\x1A" + "tail", 0x83, xBaseIII);
    EXPECT_EQ(Load(m2.memo, Form(xBaseIII, 'M'), 1), std::string(700, 'a'));
    // a reference past the end reads as empty
    EXPECT_EQ(Load(m2.memo, Form(xBaseIII, 'M'), 99), "");
}

TEST(MemoFileDBase3, LengthPrefixedKindsAndByteOffsets) {
    MemoFixture m;
    m.Create();
    ASSERT_TRUE(m.memo.CreateHeader(0x83, xBaseIII, 512));
    TMemoFieldForm blob = Form(xBaseIII, 'E', dbftBlob);
    TMemoFieldForm nb = Form(xBaseIII, 'E', dbftBlob_NB);
    EXPECT_EQ(Save(m.memo, nb, std::string("ab\x1A" "c", 4)), 12u);  // offset = file size
    EXPECT_EQ(Save(m.memo, blob, "xyz"), 1u);                      // ceil(20 / 512)
    EXPECT_EQ(Save(m.memo, nb, "Q"), 519u);
    EXPECT_EQ(Load(m.memo, nb, 12), std::string("ab\x1A" "c", 4));
    EXPECT_EQ(Load(m.memo, blob, 1), "xyz");
    EXPECT_EQ(Load(m.memo, nb, 519), "Q");
    std::string file = m.File();
    EXPECT_EQ(file.substr(12, 8), LE32(4) + std::string("ab\x1A" "c", 4));
    EXPECT_EQ(file.substr(512, 7), LE32(3) + "xyz");
    EXPECT_EQ(file.substr(519), LE32(1) + "Q");
}

// ---------------------------------------------------------------------------------------
TEST(MemoFileDBase4, HeaderAndHundredByteEntry) {
    MemoFixture m;
    m.Create();
    ASSERT_TRUE(m.memo.CreateHeader(0x8B, xBaseIV, 512));
    std::string file = ReadFile(m.name);
    EXPECT_EQ(file, DB4MemoHeader(1, 512));
    EXPECT_EQ(file[22], 0);
    std::string data(100, 'd');
    TMemoFieldForm f = Form(xBaseIV, 'M');
    EXPECT_EQ(Save(m.memo, f, data), 1u);
    EXPECT_EQ(Load(m.memo, f, 1), data);
    file = m.File();
    ASSERT_EQ(file.size(), 512u + 108u);
    EXPECT_EQ(file.substr(0, 8), LE32(2) + LE32(0));  // next free advanced, second value kept
    EXPECT_EQ(file.substr(512, 8), std::string("\xFF\xFF\x08\x00", 4) + LE32(108));
    EXPECT_EQ(file.substr(520), data);
}

TEST(MemoFileDBase4, SmallBlockSizeCreatesWith512) {
    for (int lob : {0, 128, 384}) {
        MemoFixture m;
        m.Create();
        ASSERT_TRUE(m.memo.CreateHeader(0x8C, xBaseVII, lob));
        EXPECT_EQ(m.memo.BlockSize(), 512u);
        EXPECT_EQ(m.File(), DB4MemoHeader(1, 512)) << lob;
    }
    MemoFixture big;
    big.Create();
    ASSERT_TRUE(big.memo.CreateHeader(0x8B, xBaseIV, 1024));
    EXPECT_EQ(big.File(), DB4MemoHeader(1, 1024));
}

TEST(MemoFileDBase4, ChangedValueFreesOldRunAndReusesIt) {
    MemoFixture m;
    m.Create();
    ASSERT_TRUE(m.memo.CreateHeader(0x8B, xBaseIV, 512));
    TMemoFieldForm f = Form(xBaseIV, 'M');
    ASSERT_EQ(Save(m.memo, f, std::string(100, 'a')), 1u);
    ASSERT_EQ(Save(m.memo, f, std::string(600, 'b')), 2u);  // blocks 2-3
    // the free alone: block 1 becomes the head of the chain, pointing at the old head
    m.memo.ReadHeader(0x8B, xBaseIV);
    ASSERT_TRUE(m.memo.FreeEntry(1));
    std::string file = ReadFile(m.name);
    EXPECT_EQ(file.substr(0, 8), LE32(1) + LE32(0));
    EXPECT_EQ(file.substr(512, 8), LE32(4) + LE32(1));
    EXPECT_FALSE(m.memo.FreeEntry(1));  // no longer a used run: not freed twice
    // a value that fits takes the freed run again
    EXPECT_EQ(Save(m.memo, f, std::string(200, 'c')), 1u);
    file = ReadFile(m.name);
    EXPECT_EQ(file.substr(0, 8), LE32(4) + LE32(0));
    EXPECT_EQ(file.substr(512, 8), std::string("\xFF\xFF\x08\x00", 4) + LE32(208));
    // a save with the old reference frees it first and takes it again
    EXPECT_EQ(Save(m.memo, f, std::string(300, 'e'), true, 1), 1u);
    EXPECT_EQ(Load(m.memo, f, 1), std::string(300, 'e'));
    // a changed value that no longer fits: the old run goes to the chain, the new one to the end
    EXPECT_EQ(Save(m.memo, f, std::string(1000, 'g'), true, 1), 4u);
    file = ReadFile(m.name);
    EXPECT_EQ(file.substr(0, 8), LE32(1) + LE32(0));
    EXPECT_EQ(file.substr(512, 8), LE32(6) + LE32(1));  // chain: 1 -> end (6)
    EXPECT_EQ(Load(m.memo, f, 4), std::string(1000, 'g'));
    EXPECT_EQ(Load(m.memo, f, 2), std::string(600, 'b'));
    // a longer free run is split: the rest stays free
    ASSERT_TRUE(m.memo.FreeEntry(2));  // run 2-3 on top: 2 -> 1 -> 6
    EXPECT_EQ(Save(m.memo, f, std::string(10, 'h')), 2u);
    file = ReadFile(m.name);
    EXPECT_EQ(file.substr(0, 8), LE32(3) + LE32(0));
    EXPECT_EQ(file.substr(3 * 512, 8), LE32(1) + LE32(1));
}

TEST(MemoFileDBase4, PackModeFreesNothingAndRewriteKeepsThePlace) {
    MemoFixture m;
    m.Create();
    ASSERT_TRUE(m.memo.CreateHeader(0x8B, xBaseIV, 512));
    TMemoFieldForm f = Form(xBaseIV, 'M');
    ASSERT_EQ(Save(m.memo, f, "one"), 1u);
    EXPECT_EQ(Save(m.memo, f, "two", true, 1, THXMemoFile::smPack), 2u);
    EXPECT_EQ(Load(m.memo, f, 1), "one");
    EXPECT_EQ(Save(m.memo, f, "TWO", true, 2, THXMemoFile::smRewrite), 2u);
    EXPECT_EQ(Load(m.memo, f, 2), "TWO");
}

// ---------------------------------------------------------------------------------------
TEST(MemoFileFoxPro, EntryAtNextFreeBlockAdvancesIt) {
    MemoFixture m("t.fpt");
    m.OpenExisting(FptMemoHeader(3, 512) + std::string(1024, '\0'), 0xF5, xFoxPro);
    EXPECT_EQ(m.memo.BlockSize(), 512u);
    TMemoFieldForm f = Form(xFoxPro, 'M');
    EXPECT_EQ(Save(m.memo, f, "0123456789"), 3u);
    EXPECT_EQ(Load(m.memo, f, 3), "0123456789");
    std::string file = m.File();
    ASSERT_EQ(file.size(), 1536u + 18u);
    EXPECT_EQ(file.substr(0, 8), BE32(4) + BE32(512));
    EXPECT_EQ(file.substr(1536), BE32(1) + BE32(10) + "0123456789");
}

TEST(MemoFileFoxPro, CreationTypeWordsAndOldEntriesKept) {
    MemoFixture m("t.fpt");
    m.Create();
    ASSERT_TRUE(m.memo.CreateHeader(0x30, xVisualFoxPro, 512));
    EXPECT_EQ(ReadFile(m.name), FptMemoHeader(1, 512));
    TMemoFieldForm text = Form(xVisualFoxPro, 'M');
    TMemoFieldForm bin = Form(xVisualFoxPro, 'M', 0, true);
    TMemoFieldForm gen = Form(xVisualFoxPro, 'G');
    EXPECT_EQ(Save(m.memo, text, std::string(600, 't')), 1u);  // two blocks
    EXPECT_EQ(Save(m.memo, bin, "b", true, 1), 3u);            // the old entry is not freed
    EXPECT_EQ(Save(m.memo, gen, "g"), 4u);
    std::string file = m.File();
    EXPECT_EQ(file.substr(512, 4), BE32(1));
    EXPECT_EQ(file.substr(3 * 512, 4), BE32(0));
    EXPECT_EQ(file.substr(4 * 512, 4), BE32(0));
    EXPECT_EQ(file.substr(0, 4), BE32(5));
}

TEST(MemoFileFoxPro, OpeningTakesBlockSizeFromHeader) {
    MemoFixture m("t.fpt");
    m.OpenExisting(FptMemoHeader(9, 64) + std::string(64, '\0') + BE32(1) + BE32(3) + "abc", 0x30, xVisualFoxPro);
    EXPECT_EQ(m.memo.BlockSize(), 64u);
    EXPECT_EQ(Load(m.memo, Form(xVisualFoxPro, 'M'), 9), "abc");
}

// ---------------------------------------------------------------------------------------
TEST(MemoFileDamaged, BlockSizeZeroNeitherDividesNorHangs) {
    const std::string readErr = "THXSmartDBF: Lob stream read block error!";
    const std::string saveErr = "THXSmartDBF: Lob stream save error!";
    {
        MemoFixture m;
        m.OpenExisting(DB4MemoHeader(1, 0) + std::string("\xFF\xFF\x08\x00", 4) + LE32(11) + "abc", 0x8B, xBaseIV);
        EXPECT_EQ(m.memo.BlockSize(), 0u);
        ExpectMessage([&] { Load(m.memo, Form(xBaseIV, 'M'), 1); }, readErr);
        ExpectMessage([&] { Save(m.memo, Form(xBaseIV, 'M'), "x"); }, saveErr);
    }
    {
        MemoFixture m("t.fpt");
        m.OpenExisting(FptMemoHeader(1, 0), 0xF5, xFoxPro);
        ExpectMessage([&] { Load(m.memo, Form(xFoxPro, 'M'), 1); }, readErr);
        ExpectMessage([&] { Save(m.memo, Form(xFoxPro, 'M'), "x"); }, saveErr);
    }
    {
        MemoFixture m;  // a header cut short reads as block size 0
        m.OpenExisting(std::string(10, '\0'), 0x8B, xBaseIV);
        ExpectMessage([&] { Load(m.memo, Form(xBaseIV, 'M'), 1); }, readErr);
    }
}

TEST(MemoFileDamaged, InvalidBlockHeadersRaise) {
    const std::string readErr = "THXSmartDBF: Lob stream read block error!";
    MemoFixture m;
    m.OpenExisting(DB4MemoHeader(3, 512) + LE32(7) + LE32(1) + std::string(504, '\0') + std::string("\xFF\xFF\x08\x00", 4) +
                       LE32(3),
                   0x8B, xBaseIV);
    ExpectMessage([&] { Load(m.memo, Form(xBaseIV, 'M'), 1); }, readErr);   // a free run
    ExpectMessage([&] { Load(m.memo, Form(xBaseIV, 'M'), 2); }, readErr);   // length below 8
    ExpectMessage([&] { Load(m.memo, Form(xBaseIV, 'M'), 40); }, readErr);  // past the end
    // a huge block size times a huge block number passes the largest file position
    MemoFixture huge;
    huge.OpenExisting(DB4MemoHeader(3, 0xB8201F31u), 0x8B, xBaseIV);
    ExpectMessage([&] { Load(huge.memo, Form(xBaseIV, 'M'), 0xEF9380C5u); }, readErr);
    ExpectMessage([&] { Load(m.memo, Form(xBaseIV, 'P'), 1); }, "THXSmartDBF: Lob stream create error!");
    MemoFixture f("t.fpt");
    f.OpenExisting(FptMemoHeader(2, 512) + BE32(3) + BE32(1) + "z", 0xF5, xFoxPro);
    ExpectMessage([&] { Load(f.memo, Form(xFoxPro, 'M'), 1); }, readErr);   // type 3
}

TEST(MemoFileFoxPro, ObjectBlocksOfGeneralFieldsRead) {
    // Visual FoxPro stores an OLE object of a General field in a block of type 2.
    MemoFixture f("t.fpt");
    f.OpenExisting(FptMemoHeader(9, 64) + BE32(2) + BE32(3) + "ole", 0x30, xVisualFoxPro);
    EXPECT_EQ(Load(f.memo, Form(xVisualFoxPro, 'G'), 8), "ole");
}

TEST(MemoFileDamaged, LengthsPastTheEndReadWhatIsThere) {
    {
        MemoFixture m;
        m.OpenExisting(DB4MemoHeader(2, 512) + std::string("\xFF\xFF\x08\x00", 4) + LE32(0xFFFFFFF0u) + "partial", 0x8B, xBaseIV);
        EXPECT_EQ(Load(m.memo, Form(xBaseIV, 'M'), 1), "partial");
    }
    {
        MemoFixture m("t.fpt");
        m.OpenExisting(FptMemoHeader(2, 512) + BE32(1) + BE32(0x7FFFFFFF) + "fox", 0xF5, xFoxPro);
        EXPECT_EQ(Load(m.memo, Form(xFoxPro, 'M'), 1), "fox");
    }
    {
        MemoFixture m;
        m.OpenExisting(std::string(512, '\0') + LE32(0xFFFFFFFFu) + "e", 0x83, xBaseIII);
        EXPECT_EQ(Load(m.memo, Form(xBaseIII, 'E', dbftBlob), 1), "e");
        EXPECT_EQ(Load(m.memo, Form(xBaseIII, 'E', dbftBlob), 7), "");
    }
}

TEST(MemoFileDamaged, AllocationStopsAtTheEndOfTheFile) {
    TMemoFieldForm f = Form(xBaseIV, 'M');
    {   // a run pointing at itself (a loop) that is too small
        MemoFixture m;
        m.OpenExisting(DB4MemoHeader(1, 512) + LE32(1) + LE32(1) + std::string(504, '\0'), 0x8B, xBaseIV);
        EXPECT_EQ(Save(m.memo, f, std::string(700, 'x')), 2u);
        EXPECT_EQ(Load(m.memo, f, 2), std::string(700, 'x'));
        std::string file = m.File();
        EXPECT_EQ(file.substr(512, 8), LE32(4) + LE32(1));  // the loop is cut: 1 -> 4
    }
    {   // a loop of two runs
        MemoFixture m;
        m.OpenExisting(DB4MemoHeader(1, 512) + LE32(2) + LE32(1) + std::string(504, '\0') + LE32(1) + LE32(1) +
                           std::string(504, '\0'),
                       0x8B, xBaseIV);
        EXPECT_EQ(Save(m.memo, f, std::string(700, 'y')), 3u);
    }
    {   // a first free block far past the end (as in a header written with the wrong byte order)
        MemoFixture m;
        m.OpenExisting(DB4MemoHeader(0x01000000, 512), 0x8B, xBaseIV);
        EXPECT_EQ(Save(m.memo, f, "z"), 1u);
        std::string file = m.File();
        EXPECT_EQ(file.size(), 512u + 9u);
        EXPECT_EQ(file.substr(0, 4), LE32(2));
    }
    {   // a chain pointing into the header, with a small block size
        MemoFixture m;
        m.OpenExisting(DB4MemoHeader(1, 64) + std::string(64, 'u'), 0x8B, xBaseIV);
        EXPECT_EQ(Save(m.memo, f, "w"), 9u);  // block 8 is data of the file; 9 is its end
        EXPECT_EQ(Load(m.memo, f, 9), "w");
    }
    {   // a run whose length claims blocks past the end is not split beyond it
        MemoFixture m;
        m.OpenExisting(DB4MemoHeader(1, 512) + LE32(0) + LE32(1000) + std::string(504, '\0'), 0x8B, xBaseIV);
        EXPECT_EQ(Save(m.memo, f, std::string(600, 'v')), 2u);
        std::string file = m.File();
        EXPECT_EQ(file.size(), 1024u + 608u);
        EXPECT_EQ(file.substr(512, 8), LE32(4) + LE32(1));
    }
    {   // FoxPro: next free inside the header or past the end goes to the end
        MemoFixture m("t.fpt");
        m.OpenExisting(FptMemoHeader(0, 512) + std::string(100, 'k'), 0xF5, xFoxPro);
        EXPECT_EQ(Save(m.memo, Form(xFoxPro, 'M'), "n"), 2u);
        MemoFixture p("u.fpt");
        p.OpenExisting(FptMemoHeader(0x7FFFFFFF, 512), 0xF5, xFoxPro);
        EXPECT_EQ(Save(p.memo, Form(xFoxPro, 'M'), "n"), 1u);
        EXPECT_EQ(p.File().substr(0, 4), BE32(2));
    }
    {   // a used entry whose length claims the rest of the world frees only what the file has
        MemoFixture m;
        m.OpenExisting(DB4MemoHeader(2, 512) + std::string("\xFF\xFF\x08\x00", 4) + LE32(0x7FFFFFFF) + "abc", 0x8B, xBaseIV);
        ASSERT_TRUE(m.memo.FreeEntry(1));
        EXPECT_EQ(ReadFile(m.name).substr(512, 8), LE32(2) + LE32(1));
    }
}

TEST(MemoFileCrypt, HooksGetEntryPositionAndSkipDBase3Text) {
    MemoFixture m;
    m.Create();
    ASSERT_TRUE(m.memo.CreateHeader(0x8B, xBaseIV, 512));
    std::vector<std::uint32_t> enc, decs;
    m.memo.OnEncryptEntry = [&](std::uint32_t ctx, void* buf, std::int64_t n) {
        enc.push_back(ctx);
        for (std::int64_t i = 0; i < n; ++i) static_cast<std::uint8_t*>(buf)[i] ^= 0x55;
    };
    m.memo.OnDecryptEntry = [&](std::uint32_t ctx, void* buf, std::int64_t n) {
        decs.push_back(ctx);
        for (std::int64_t i = 0; i < n; ++i) static_cast<std::uint8_t*>(buf)[i] ^= 0x55;
    };
    TMemoFieldForm f = Form(xBaseIV, 'M');
    Save(m.memo, f, "abc");
    Save(m.memo, f, "def");
    EXPECT_EQ(Load(m.memo, f, 2), "def");
    EXPECT_EQ(enc, (std::vector<std::uint32_t>{512, 1024}));
    EXPECT_EQ(decs, (std::vector<std::uint32_t>{1024}));
    EXPECT_EQ(ReadFile(m.name).substr(1032, 3), std::string("\x31\x30\x33"));  // 'd'^0x55 ...
    MemoFixture t;
    t.Create();
    ASSERT_TRUE(t.memo.CreateHeader(0x83, xBaseIII, 512));
    int calls = 0;
    t.memo.OnEncryptEntry = t.memo.OnDecryptEntry = [&](std::uint32_t, void*, std::int64_t) { ++calls; };
    Save(t.memo, Form(xBaseIII, 'M'), "plain");
    EXPECT_EQ(Load(t.memo, Form(xBaseIII, 'M'), 1), "plain");
    EXPECT_EQ(calls, 0);
    Save(t.memo, Form(xBaseIII, 'E', dbftClob), "c");
    EXPECT_EQ(calls, 1);
}

TEST(MemoFileCrypt, WriteFailureRaisesSystemMessage) {
    TempDir dir;
    std::string name = dir.File("r.dbt");
    WriteFile(name, DB4MemoHeader(1, 512));
    TProxyStream proxy;
    proxy.SetFileName(name);
    proxy.AccessMode().SetAccessMode(0);  // read only: every write is refused
    proxy.OpenProxyStream();
    ASSERT_TRUE(proxy.IsOpen());
    THXMemoFile memo(proxy);
    memo.ReadHeader(0x8B, xBaseIV);
    try {
        Save(memo, Form(xBaseIV, 'M'), "x");
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message().rfind("THXSmartDBF: ", 0), 0u) << e.Message();
        EXPECT_GT(e.Message().size(), 13u);
    }
    proxy.Close();
    EXPECT_EQ(ReadFile(name), DB4MemoHeader(1, 512));
}

// ---------------------------------------------------------------------------------------
TEST(MemoFilePack, SwapReplacesTheMemoFile) {
    TempDir dir;
    std::string memoName = dir.File("p.dbt");
    WriteFile(memoName, DB4MemoHeader(9, 512) + std::string(4000, 'o'));
    TProxyStream memo, temp;
    memo.SetFileName(memoName);
    memo.AccessMode().SetAccessMode(2);
    memo.OpenProxyStream();
    ASSERT_TRUE(memo.IsOpen());
    std::string tempName = GetTempName(TEnv::Default(), dir.path());
    ASSERT_FALSE(tempName.empty());
    ASSERT_TRUE(PackLobOpen(temp, tempName, 2, 0x8B, xBaseIV, 512));
    THXMemoFile t(temp);
    t.ReadHeader(0x8B, xBaseIV);
    EXPECT_EQ(Save(t, Form(xBaseIV, 'M'), "kept", true, 5, THXMemoFile::smPack), 1u);
    PackLobClose(temp, memo, memoName, tempName);
    EXPECT_TRUE(memo.IsOpen());
    EXPECT_FALSE(FileExists(tempName));
    THXMemoFile m(memo);
    m.ReadHeader(0x8B, xBaseIV);
    EXPECT_EQ(Load(m, Form(xBaseIV, 'M'), 1), "kept");
    memo.Close();
    EXPECT_EQ(ReadFile(memoName).size(), 512u + 12u);
}

TEST(MemoFilePack, MemoryStorageLoadsTheTemporaryFile) {
    TempDir dir;
    TProxyStream memo, temp;
    memo.SetProxyStreamType(pstInnerStream);
    memo.CreateProxyStream();
    memo.Write("old", 3);
    std::string tempName = GetTempName(TEnv::Default(), dir.path());
    ASSERT_TRUE(PackLobOpen(temp, tempName, 2, 0x83, xBaseIII, 512));
    PackLobClose(temp, memo, "unused.dbt", tempName);
    EXPECT_FALSE(FileExists(tempName));
    ASSERT_TRUE(memo.IsOpen());
    EXPECT_EQ(memo.GetFileSize(), 12);
    char buf[12];
    EXPECT_EQ(memo.Read(buf, 12), 12);
    EXPECT_EQ(std::string(buf, 12), "This is Lob!");
}

TEST(MemoFilePack, FailedDeleteAndRenameMessages) {
    TempDir dir;
    TProxyStream memo, temp;
    std::string missing = dir.File("missing.dbt");
    std::string tempName = GetTempName(TEnv::Default(), dir.path());
    ASSERT_TRUE(PackLobOpen(temp, tempName, 2, 0x83, xBaseIII, 512));
    ExpectMessage([&] { PackLobClose(temp, memo, missing, tempName); },
                  "THXSmartDBF.PackLobHandlerClose: Can not delete file \"" + missing + "\" !\r\n####> OS info\r\n"
                  "Error code: 2\r\nError message: " + std::string(std::strerror(2)));
    std::string memoName = dir.File("m.dbt");
    WriteFile(memoName, "x");
    std::string gone = dir.File("gone.tmp");
    ExpectMessage([&] { PackLobClose(temp, memo, memoName, gone); },
                  "THXSmartDBF.PackLobHandlerClose: Can not rename file \"" + gone + "\" to \"" + memoName +
                      "\" !\r\n####> OS info\r\nError code: 2\r\nError message: " + std::string(std::strerror(2)));
}

}  // namespace
}  // namespace zarbel

namespace zarbel {
namespace {

// An entry is first read together with the start of its block: values that end inside that
// first read, exactly at its end and one byte past it (the second read) all come back whole,
// in both block layouts, also when the entry is the last thing in the file.
TEST(MemoFileEntries, ValuesAroundTheFirstReadComeBackWhole) {
    struct Layout { std::uint8_t version; xBaseVersion dialect; };
    for (const Layout l : {Layout{0x8B, xBaseIV}, Layout{0xF5, xFoxPro}}) {
        MemoFixture m;
        m.Create();
        ASSERT_TRUE(m.memo.CreateHeader(l.version, l.dialect, 512));
        const TMemoFieldForm f = Form(l.dialect, 'M');
        std::vector<std::pair<std::uint32_t, std::string>> saved;
        for (std::size_t size : {1u, 503u, 504u, 505u, 1100u}) {
            std::string value(size, static_cast<char>('a' + size % 26));
            value.back() = 'Z';
            saved.emplace_back(Save(m.memo, f, value), value);
            EXPECT_EQ(Load(m.memo, f, saved.back().first), value) << size << " last in the file";
        }
        for (const auto& [number, value] : saved) EXPECT_EQ(Load(m.memo, f, number), value) << value.size();
    }
}

}  // namespace
}  // namespace zarbel
