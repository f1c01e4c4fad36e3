// CreateTable and CreateNow on the table classes: the files written and the failures before
// anything is written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "clipper_table.h"
#include "dbf_builder.h"
#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"
#include "platform/locale.h"
#include "platform/streams.h"

namespace zarbel {
namespace {

using test::ReadFile;
using test::TempPath;
using test::WriteFile;

void AddField(THXSmartDBF& t, const char* name, char type, int len, int dec = 0, std::uint8_t flags = 0) {
    THXDBFFieldDef& d = t.DBFFieldDefs().Add();
    d.SetName(name);
    d.Setfield_type(type);
    d.Setlen(static_cast<std::uint16_t>(len));
    d.Setdec(static_cast<std::uint16_t>(dec));
    d.FieldFlag().SetFieldFlag(flags);
}

std::string CreateMessage(THXSmartDBF& t) {
    try {
        t.CreateTable();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(created)";
}

struct Scratch {
    std::string path;
    explicit Scratch(const std::string& name) : path(TempPath(name)) {}
    ~Scratch() {
        std::remove(path.c_str());
        std::filesystem::path p(path);
        std::remove(p.replace_extension(".dbt").c_str());
        std::remove(p.replace_extension(".fpt").c_str());
    }
};

TEST(CreateTable, DBaseIVTableIsByteExactAndOpensEmpty) {
    Scratch f("ct_iv.dbf");
    test::TClipperDBF t;
    t.SetDBFFileName(f.path);
    t.SetDbfVersion(xBaseIV);
    t.SetCodepage(2);
    AddField(t, "NAME", 'C', 20);
    AddField(t, "SUM", 'N', 10, 2);
    ASSERT_EQ(CreateMessage(t), "(created)");
    EXPECT_FALSE(t.Active());
    const std::string b = ReadFile(f.path);
    ASSERT_EQ(b.size(), 98u);
    int y, m, d;
    DecodeDate(Date(), y, m, d);
    std::string head("\x03\0\0\0\0\0\0\0\x62\0\x1f\0", 12);
    head[1] = static_cast<char>(y - 1900);
    head[2] = static_cast<char>(m);
    head[3] = static_cast<char>(d);
    EXPECT_EQ(b.substr(0, 12), head);
    EXPECT_EQ(b.substr(12, 20), std::string("\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x02\0\0", 20));
    EXPECT_EQ(b.substr(32, 18), std::string("NAME\0\0\0\0\0\0\0C\0\0\0\0\x14\0", 18));
    EXPECT_EQ(b.substr(64, 18), std::string("SUM\0\0\0\0\0\0\0\0N\0\0\0\0\x0A\x02", 18));
    EXPECT_EQ(b.substr(96), "\x0D\x1A");

    t.Open();
    EXPECT_EQ(t.RecordCount(), 0);
    EXPECT_TRUE(t.Eof());
    EXPECT_EQ(t.FieldCount(), 2);
    t.Close();
    EXPECT_EQ(ReadFile(f.path), b);  // opened read-only: untouched
}

TEST(CreateTable, FailuresBeforeAndAfterTheFileIsWritten) {
    // an open table: nothing changes
    Scratch f("ct_open.dbf");
    test::TClipperDBF t;
    t.SetDBFFileName(f.path);
    t.SetDbfVersion(xBaseIV);
    AddField(t, "A", 'C', 5);
    ASSERT_EQ(CreateMessage(t), "(created)");
    t.Open();
    const std::string before = ReadFile(f.path);
    EXPECT_EQ(CreateMessage(t), "THXSmartDBF.CreateTable: Can not create table while dataset is open");
    EXPECT_TRUE(t.Active());
    t.Close();
    EXPECT_EQ(ReadFile(f.path), before);

    // a file that cannot be created
    test::TClipperDBF n;
    n.SetDBFFileName(TempPath("no_such_dir/x.dbf"));
    AddField(n, "A", 'C', 5);
    EXPECT_EQ(CreateMessage(n), "THXSmartDBF.CreateTable: Create error (No such file or directory)");
    // a path that is a directory, and one that is a FIFO (refused without waiting)
    const std::string dir = TempPath("ct_dir.dbf");
    ::mkdir(dir.c_str(), 0700);
    n.SetDBFFileName(dir);
    EXPECT_EQ(CreateMessage(n), "THXSmartDBF.CreateTable: Create error (Is a directory)");
    ::rmdir(dir.c_str());
    const std::string fifo = TempPath("ct_fifo.dbf");
    std::remove(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    n.SetDBFFileName(fifo);
    EXPECT_EQ(CreateMessage(n), "THXSmartDBF.CreateTable: Create error (not a regular file)");
    std::remove(fifo.c_str());
    // a read-only directory (root writes everywhere: checked only for other users)
    if (::geteuid() != 0) {
        const std::string ro = TempPath("ct_ro");
        ::mkdir(ro.c_str(), 0500);
        n.SetDBFFileName(ro + "/x.dbf");
        EXPECT_EQ(CreateMessage(n), "THXSmartDBF.CreateTable: Create error (Permission denied)");
        ::rmdir(ro.c_str());
    }

    // a record longer than BufferSize: both files are written, then the opening check fails
    Scratch g("ct_small.dbf");
    test::TClipperDBF s;
    s.SetDBFFileName(g.path);
    s.SetDbfVersion(xBaseIV);
    s.SetBufferSize(100);
    AddField(s, "TEXT", 'C', 100);
    EXPECT_EQ(CreateMessage(s), "THXSmartDBF.InternalOpen: BufferSize too small!");
    EXPECT_FALSE(s.Active());
    EXPECT_EQ(ReadFile(g.path).size(), 32u + 32u + 2u);

    // a dialect rule fails after the header: the file keeps what was written
    Scratch h("ct_rule.dbf");
    test::TClipperDBF r;
    r.SetDBFFileName(h.path);
    r.SetDbfVersion(xBaseIV);
    AddField(r, "A", 'C', 5);
    AddField(r, "T", 'T', 8);
    EXPECT_EQ(CreateMessage(r),
              "THXSmartDBF.CreateTable: DBF Version must be xFoxPro or greater for field type \"T\"!");
    EXPECT_EQ(ReadFile(h.path).size(), 64u);
}

TEST(CreateTable, CreateNowRunsCreationAndVisualFoxProKeepsItsNullFlagsField) {
    Scratch f("ct_now.dbf");
    test::TClipperDBF t;
    t.SetDBFFileName(f.path);
    t.SetDbfVersion(xVisualFoxPro);
    AddField(t, "A", 'C', 5, 0, TFieldFlag::kCanStoreNull);
    AddField(t, "B", 'N', 4);
    AddField(t, "C", 'Y', 8, 4, TFieldFlag::kCanStoreNull);
    EXPECT_FALSE(t.CreateNow());
    t.SetCreateNow(true);
    EXPECT_TRUE(t.CreateNow());
    const std::string b = ReadFile(f.path);
    ASSERT_EQ(b.size(), static_cast<std::size_t>(32 + 4 * 32 + 1 + 1 + 263));
    EXPECT_EQ(static_cast<std::uint8_t>(b[0]), 0x30);
    // the check opened the table: its definitions are the file's now
    ASSERT_EQ(t.DBFFieldDefs().Count(), 4);
    EXPECT_EQ(t.DBFFieldDefs()[3].Name(), "_NULLFLAGS");
    EXPECT_EQ(t.DBFFieldDefs()[3].FieldFlag().FieldFlag(), 0x05);
    t.SetCreateNow(false);
    EXPECT_FALSE(t.CreateNow());
    EXPECT_EQ(ReadFile(f.path), b);
}

TEST(CreateTable, MemoFieldWritesTheDBaseIVMemoFile) {
    Scratch f("ct_memo.dbf");
    {
        test::TClipperDBF t;
        t.SetDBFFileName(f.path);
        t.SetDbfVersion(xBaseIV);
        AddField(t, "NAME", 'C', 8);
        AddField(t, "NOTE", 'M', 10);
        ASSERT_EQ(CreateMessage(t), "(created)");
        EXPECT_EQ(t.MemoDialect(), xBaseIV);
    }
    const std::string b = ReadFile(f.path);
    ASSERT_EQ(b.size(), 32u + 2 * 32 + 2);
    EXPECT_EQ(static_cast<std::uint8_t>(b[0]), 0x8B);
    EXPECT_EQ(b[10], 1 + 8 + 10);
    EXPECT_EQ(static_cast<std::uint8_t>(b[64 + 16]), 10);
    const std::string memo = ReadFile(std::filesystem::path(f.path).replace_extension(".dbt").string());
    ASSERT_EQ(memo.size(), 512u);
    EXPECT_EQ(memo.substr(0, 4), std::string("\x01\0\0\0", 4));
    EXPECT_EQ(memo.substr(20, 4), std::string("\0\x02\0\0", 4));  // block size 512
    for (std::size_t i = 24; i < 512; ++i) ASSERT_EQ(memo[i], '\0') << i;

    // a memo value appended through the table lands in block 1 of that file
    test::TClipperDBF t;
    t.SetDBFFileName(f.path);
    t.AccessMode().SetAccessMode(TAccessMode::kOpenReadWrite);
    t.Open();
    t.Append();
    t.FieldByName("NAME").SetAsString("x");
    t.FieldByName("NOTE").SetAsString("hello memo");
    t.Post();
    t.Close();
    const std::string rec = ReadFile(f.path).substr(98, 19);
    EXPECT_EQ(rec, " x                1");
    t.Open();
    EXPECT_EQ(t.FieldByName("NOTE").AsString(), "hello memo");
}

TEST(CreateTable, OuterStreamTableIsCreatedFilledAndClosedInMemory) {
    TMemoryStream stream;
    stream.Write("old bytes", 9);
    test::TClipperDBF t;
    t.SetStorageType(pstOuterStream);
    t.SetOuterStream(&stream);
    t.SetDbfVersion(xBaseIV);
    AddField(t, "NAME", 'C', 4);
    ASSERT_EQ(CreateMessage(t), "(created)");
    ASSERT_EQ(stream.Size(), 32 + 32 + 2);
    t.AccessMode().SetAccessMode(TAccessMode::kOpenReadWrite);
    t.Open();
    for (const char* v : {"ab", "cd"}) {
        t.Append();
        t.FieldByName("NAME").SetAsString(v);
        t.Post();
    }
    t.Close();
    std::string b(reinterpret_cast<const char*>(stream.Memory()), static_cast<std::size_t>(stream.Size()));
    ASSERT_EQ(b.size(), 66u + 2 * 5 + 1);
    EXPECT_EQ(b[4], 2);
    EXPECT_EQ(b.substr(66), " ab   cd  \x1A");
}

}  // namespace
}  // namespace zarbel
