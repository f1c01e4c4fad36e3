// Appending and posting: where a new record goes, the header count, the end-of-file byte,
// autoincrement counters, edits in place, cancel, deletion, lock and write failures, the
// encryption scratch area, and where the cursor stands afterwards (without block re-reads).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "clipper_table.h"
#include "testutil/platform_helpers.h"
#include "dbf_builder.h"
#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"

namespace zarbel {
namespace {

using test::BuildDbf;
using test::Pad;
using test::ReadFile;
using test::TempPath;
using test::WriteFile;

constexpr std::uint32_t kReadWrite = TAccessMode::kOpenReadWrite;
constexpr std::uint32_t kReadWriteShared = TAccessMode::kOpenReadWrite | TAccessMode::kShareDenyNone;

// n records of one C(9) field NAME "r01".. (record length 10, header length 65).
std::string Numbered(int n, bool eof = true, int headerCount = -1) {
    std::vector<std::string> recs;
    for (int i = 1; i <= n; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "r%02d", i);
        recs.push_back(" " + Pad(name, 9));
    }
    std::string b = BuildDbf(0x03, {{"NAME", 'C', 9}}, recs, eof);
    if (headerCount >= 0) b[4] = static_cast<char>(headerCount);
    return b;
}

std::uint32_t Count(const std::string& b) {
    return static_cast<std::uint8_t>(b[4]) | (static_cast<std::uint8_t>(b[5]) << 8) |
           (static_cast<std::uint8_t>(b[6]) << 16) | (static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[7])) << 24);
}

struct Table {
    std::string path;
    test::TClipperDBF t;
    // Shared by default: the tests look at the file while the table is open.
    Table(const std::string& name, const std::string& bytes, std::uint32_t mode = kReadWriteShared,
          int bufferSize = 4096)
        : path(TempPath(name)) {
        WriteFile(path, bytes);
        t.SetDBFFileName(path);
        t.SetBufferSize(bufferSize);
        t.AccessMode().SetAccessMode(mode);
    }
    ~Table() {
        t.Close();
        std::remove(path.c_str());
    }
    std::string Name() { return t.FieldByName("NAME").AsString(); }
    void Add(const std::string& name) {
        t.Append();
        t.FieldByName("NAME").SetAsString(name);
        t.Post();
    }
};

using testutil::Message;

TEST(AppendPost, NewRecordOverwritesTheEndMarkerWhichCloseRestoresOnce) {
    Table tb("ap_eof.dbf", Numbered(2));
    tb.t.Open();
    tb.Add("third");
    tb.Add("fourth");
    std::string b = ReadFile(tb.path);
    ASSERT_EQ(b.size(), 65u + 4 * 10);  // no 0x1A while open
    EXPECT_EQ(b.substr(65 + 20, 20), " third     fourth   ");
    EXPECT_EQ(Count(b), 4u);
    EXPECT_EQ(tb.t.RecNo(), 4);
    EXPECT_EQ(tb.Name(), "fourth   ");
    tb.t.Close();
    b = ReadFile(tb.path);
    ASSERT_EQ(b.size(), 65u + 4 * 10 + 1);
    EXPECT_EQ(b.back(), '\x1A');
    // the date bytes are the ones the table had
    EXPECT_EQ(b.substr(1, 3), Numbered(2).substr(1, 3));
}

TEST(AppendPost, RecordCountComesFromTheFileNotTheHeader) {
    Table tb("ap_count.dbf", Numbered(3, true, 1));
    tb.t.Open();
    tb.Add("new");
    const std::string b = ReadFile(tb.path);
    EXPECT_EQ(Count(b), 4u);
    EXPECT_EQ(b.substr(65 + 30, 10), " new      ");
    EXPECT_EQ(tb.t.RecNo(), 4);
    // a partial record at the end is overwritten as well
    Table tp("ap_part.dbf", Numbered(2, false) + " par");
    tp.t.Open();
    tp.Add("whole");
    EXPECT_EQ(ReadFile(tp.path).substr(65 + 20), " whole    ");
}

TEST(AppendPost, CancelLeavesTheFileByteIdenticalAndEditWritesInPlace) {
    const std::string orig = BuildDbf(0x30, {{"NAME", 'C', 9}, {"ID", 'I', 4, 0, TFieldFlag::kAutoIncrement}},
                                      {std::string(" r01      \x01\0\0\0", 14), std::string(" r02      \x02\0\0\0", 14)}, true);
    std::string bytes = orig;
    bytes[32 + 32 + 19] = 3;  // next value 3, step 1
    bytes[32 + 32 + 23] = 1;
    Table tb("ap_cancel.dbf", bytes);
    tb.t.Open();
    tb.t.Append();
    tb.t.FieldByName("NAME").SetAsString("gone");
    tb.t.Cancel();
    tb.t.Last();
    tb.t.Edit();
    tb.t.Cancel();
    EXPECT_EQ(ReadFile(tb.path), bytes);

    // an edit rewrites its own record only
    tb.t.First();
    tb.t.Edit();
    tb.t.FieldByName("NAME").SetAsString("first");
    tb.t.Post();
    std::string expect = bytes;
    expect.replace(static_cast<std::size_t>(32 + 64 + 1 + 1), 9, "first    ");
    EXPECT_EQ(ReadFile(tb.path), expect);
    EXPECT_EQ(tb.t.RecNo(), 1);
    EXPECT_EQ(tb.Name(), "first    ");
    tb.t.Next();
    EXPECT_FALSE(tb.t.Eof());
    EXPECT_EQ(tb.t.RecNo(), 2);
    EXPECT_EQ(tb.Name(), "r02      ");
    tb.t.Close();
    EXPECT_EQ(ReadFile(tb.path), expect);  // the 0x1A was never lost
}

TEST(AppendPost, TwoAutoincrementFieldsWithStepsOneAndFive) {
    const std::string path = TempPath("ap_auto.dbf");
    {
        test::TClipperDBF c;
        c.SetDBFFileName(path);
        c.SetDbfVersion(xVisualFoxPro);
        for (const char* n : {"A", "B"}) {
            THXDBFFieldDef& d = c.DBFFieldDefs().Add();
            d.SetName(n);
            d.Setfield_type('I');
            d.FieldFlag().SetAutoIncrement(true);
        }
        c.DBFFieldDefs()[0].SetNativeNextAutoInc(10);
        c.DBFFieldDefs()[0].SetNativeStepAutoInc(1);
        c.DBFFieldDefs()[1].SetNativeNextAutoInc(100);
        c.DBFFieldDefs()[1].SetNativeStepAutoInc(5);
        THXDBFFieldDef& name = c.DBFFieldDefs().Add();
        name.SetName("NAME");
        name.Setfield_type('C');
        name.Setlen(9);
        c.CreateTable();
    }
    Table tb("ap_auto_t.dbf", ReadFile(path));
    std::remove(path.c_str());
    tb.t.Open();
    tb.Add("one");
    EXPECT_EQ(tb.t.FieldByName("A").AsInteger(), 10);
    EXPECT_EQ(tb.t.FieldByName("B").AsInteger(), 100);
    tb.t.Append();
    tb.t.FieldByName("A").SetAsInteger(777);  // ignored: the values come from the descriptors
    tb.t.FieldByName("NAME").SetAsString("two");
    tb.t.Post();
    EXPECT_EQ(tb.t.FieldByName("A").AsInteger(), 11);
    EXPECT_EQ(tb.t.FieldByName("B").AsInteger(), 105);
    const std::string b = ReadFile(tb.path);
    auto le32 = [&](std::size_t at) {
        return static_cast<std::uint8_t>(b[at]) | (static_cast<std::uint8_t>(b[at + 1]) << 8);
    };
    EXPECT_EQ(le32(32 + 19), 12);
    EXPECT_EQ(le32(32 + 32 + 19), 110);
    EXPECT_EQ(static_cast<std::uint8_t>(b[32 + 32 + 23]), 5);
    // the definitions keep their names while their counters follow the file
    EXPECT_EQ(tb.t.DBFFieldDefs()[1].Name(), "B");
    const int hl = 32 + 3 * 32 + 1 + 1 + 263;
    EXPECT_EQ(le32(static_cast<std::size_t>(hl + 18 + 1)), 11);
    EXPECT_EQ(le32(static_cast<std::size_t>(hl + 18 + 5)), 105);
}

TEST(AppendPost, AutoincrementKeepsTheOemTableFieldNames) {
    // the counter is rewritten in the file's descriptor; the definition keeps its ANSI name
    const std::string path = TempPath("ap_auto_oem.dbf");
    const std::string name = "\xCD\xCE\xCC";  // CP1251 capitals; stored in CP866
    {
        test::TClipperDBF c;
        c.SetDBFFileName(path);
        c.SetDbfVersion(xVisualFoxPro);
        c.SetOEM(true);
        THXDBFFieldDef& d = c.DBFFieldDefs().Add();
        d.SetName(name);
        d.Setfield_type('I');
        d.FieldFlag().SetAutoIncrement(true);
        c.CreateTable();
    }
    Table tb("ap_auto_oem_t.dbf", ReadFile(path));
    std::remove(path.c_str());
    tb.t.SetOEM(true);
    tb.t.Open();
    tb.t.Append();
    tb.t.Post();
    tb.t.Append();
    tb.t.Post();
    EXPECT_EQ(tb.t.DBFFieldDefs()[0].Name(), name);
    EXPECT_EQ(tb.t.DBFFieldDefs().FindByName(name), &tb.t.DBFFieldDefs()[0]);
    EXPECT_EQ(tb.t.FieldByName(name).AsInteger(), 2);
    EXPECT_EQ(ReadFile(tb.path).substr(32, 3), "\x8D\x8E\x8C");  // CP866 in the file
}

TEST(AppendPost, DeleteMarksInPlaceAndSetDeletedHidesIt) {
    Table tb("ap_del.dbf", Numbered(3));
    tb.t.Open();
    tb.t.Next();
    ASSERT_EQ(tb.t.RecNo(), 2);
    tb.t.Delete();
    std::string b = ReadFile(tb.path);
    EXPECT_EQ(b[65 + 10], '*');
    EXPECT_EQ(b.substr(65 + 11, 9), "r02      ");
    EXPECT_EQ(b[65], ' ');
    EXPECT_TRUE(tb.t.IsDeleted());
    tb.t.SetSetDeleted(true);
    tb.t.First();
    std::vector<std::string> seen;
    while (!tb.t.Eof()) {
        seen.push_back(tb.Name());
        tb.t.Next();
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"r01      ", "r03      "}));
    EXPECT_EQ(tb.t.RecordCount(), 3);
    // a new record that the filter hides: the cursor shows its nearest visible neighbour
    tb.t.OnFilterRecord = [](TDataSet& ds, bool& accept) {
        accept = ds.FieldByName("NAME").AsString() != "hidden   ";
    };
    tb.t.SetFiltered(true);
    tb.t.Append();
    tb.t.FieldByName("NAME").SetAsString("hidden");
    tb.t.Post();
    EXPECT_EQ(tb.t.RecordCount(), 4);
    EXPECT_EQ(tb.t.RecNo(), 3);
    EXPECT_EQ(ReadFile(tb.path).substr(65 + 30, 10), " hidden   ");
}

TEST(AppendPost, CursorFollowsAppendsWithoutReadingBlocksAgain) {
    for (int bufferRecords : {1, 2, 4, 7}) {
        SCOPED_TRACE(bufferRecords);
        Table tb("ap_cursor.dbf", Numbered(0), kReadWrite, 10 * bufferRecords);
        tb.t.Open();
        const std::uint64_t reads = tb.t.BlockReads();
        for (int i = 1; i <= 20; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "n%02d", i);
            tb.Add(name);
            ASSERT_EQ(tb.t.RecNo(), i);
            ASSERT_EQ(tb.Name(), Pad(name, 9));
        }
        EXPECT_EQ(tb.t.BlockReads(), reads);
        // what the cursor shows: nothing after the new record, every record before it
        tb.t.Next();
        EXPECT_TRUE(tb.t.Eof());
        EXPECT_EQ(tb.t.RecNo(), 20);
        for (int i = 19; i >= 1; --i) {
            tb.t.Prior();
            char name[16];
            std::snprintf(name, sizeof name, "n%02d", i);
            ASSERT_EQ(tb.Name(), Pad(name, 9)) << i;
            ASSERT_EQ(tb.t.RecNo(), i);
        }
        tb.t.Prior();
        EXPECT_TRUE(tb.t.Bof());
    }
}

TEST(AppendPost, CursorAfterAppendFromFirstAndFromLast) {
    Table tb("ap_place.dbf", Numbered(10), kReadWriteShared, 40);  // four records per block
    tb.t.Open();
    tb.Add("after1");  // the buffer holds 1-4: the new record stands alone
    EXPECT_EQ(tb.t.RecNo(), 11);
    tb.t.Prior();
    EXPECT_EQ(tb.Name(), "r10      ");
    tb.t.Last();  // filled backwards with 8-11
    tb.Add("after2");
    EXPECT_EQ(tb.t.RecNo(), 12);
    tb.t.Prior();
    EXPECT_EQ(tb.Name(), "after1   ");
    tb.t.Prior();
    EXPECT_EQ(tb.Name(), "r10      ");
    tb.t.Last();
    EXPECT_EQ(tb.Name(), "after2   ");
    // FastPostRecord: written, the cursor is left to the caller
    tb.t.SetFastPostRecord(true);
    tb.Add("fast");
    EXPECT_EQ(tb.t.RecordCount(), 13);
    EXPECT_EQ(ReadFile(tb.path).substr(65 + 120, 10), " fast     ");
}

TEST(AppendPost, LockAndWriteFailuresKeepTheInsertState) {
    // another handle holds the header lock byte of the Clipper protocol
    Table tb("ap_lock.dbf", Numbered(1), kReadWriteShared);
    tb.t.SetWaitBusyRes(1);
    tb.t.Open();
    TProxyStream other;
    other.SetFileName(tb.path);
    other.AccessMode().SetAccessMode(kReadWriteShared);
    other.OpenProxyStream();
    ASSERT_TRUE(other.IsOpen());
    ASSERT_TRUE(other.Lock(1000000000u, 1));
    const std::string before = ReadFile(tb.path);
    tb.t.Append();
    tb.t.FieldByName("NAME").SetAsString("x");
    EXPECT_EQ(Message([&] { tb.t.Post(); }), "THXSmartDBF.InternalAddRecord: Can not lock DBF header.");
    EXPECT_EQ(tb.t.State(), dsInsert);
    other.Unlock(1000000000u, 1);
    // the new record's lock (record 2)
    ASSERT_TRUE(other.Lock(1000000002u, 1));
    EXPECT_EQ(Message([&] { tb.t.Post(); }), "THXSmartDBF.InternalAddRecord: Can not lock DBF record.");
    other.Unlock(1000000002u, 1);
    EXPECT_EQ(ReadFile(tb.path), before);
    tb.t.Post();
    EXPECT_EQ(tb.t.RecordCount(), 2);
    // an update under a held record lock
    tb.t.First();
    tb.t.Edit();
    ASSERT_TRUE(other.Lock(1000000001u, 1));
    EXPECT_EQ(Message([&] { tb.t.Post(); }), "THXSmartDBF.InternalPost: Can not lock DBF record.");
    EXPECT_EQ(tb.t.State(), dsEdit);
    other.Unlock(1000000001u, 1);
    tb.t.Cancel();

    // a table opened for reading cannot be written: the system's message, locks released
    Table ro("ap_ro.dbf", Numbered(1), 0);
    ro.t.Open();
    ro.t.Append();
    ro.t.FieldByName("NAME").SetAsString("x");
    EXPECT_EQ(Message([&] { ro.t.Post(); }), "THXSmartDBF: Bad file descriptor");
    EXPECT_EQ(ro.t.State(), dsInsert);
    ro.t.Cancel();
    ro.t.Close();
    EXPECT_EQ(ReadFile(ro.path), Numbered(1));
}

// A cipher that flips every byte after the deletion flag.
class TFlipCipher : public TDBFCipher {
public:
    bool Active() const override { return true; }
    void Encipher(std::uint32_t context, void* data, std::size_t size) override {
        LastContext = context;
        auto* b = static_cast<std::uint8_t*>(data);
        for (std::size_t i = 1; i < size; ++i) b[i] = static_cast<std::uint8_t>(~b[i]);
    }
    void Decipher(std::uint32_t context, void* data, std::size_t size) override { Encipher(context, data, size); }
    std::uint32_t LastContext = 0;
};

TEST(AppendPost, EncryptionWorksOnTheScratchAreaKeyedByRecordNumber) {
    const std::string path = TempPath("ap_crypt.dbf");
    WriteFile(path, Numbered(1));
    TFlipCipher cipher;
    test::TClipperDBF t;
    t.SetCipher(&cipher);
    t.SetDBFFileName(path);
    t.AccessMode().SetAccessMode(kReadWriteShared);  // the file is read while open
    t.Open();
    t.Append();
    t.FieldByName("NAME").SetAsString("plain");
    t.Post();
    EXPECT_EQ(cipher.LastContext, 2u);
    EXPECT_EQ(t.FieldByName("NAME").AsString(), "plain    ");  // the caller's record stays plain
    const std::string b = ReadFile(path);
    EXPECT_EQ(b[65 + 10], ' ');
    EXPECT_EQ(static_cast<std::uint8_t>(b[65 + 11]), static_cast<std::uint8_t>(~'p'));
    t.Close();
    std::remove(path.c_str());
}

}  // namespace
}  // namespace zarbel
