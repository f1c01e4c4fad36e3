// Opening, closing and moving over tables: the read buffer of R records and its refills, going to
// a record, deleted records, end-of-file bytes, and the open failures.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "clipper_table.h"
#include "dbf_builder.h"
#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"

namespace zarbel {
namespace {

using test::BuildDbf;
using test::FieldSpec;
using test::Pad;
using test::ReadFile;
using test::TempPath;
using test::WriteFile;

std::string OpenMessage(THXSmartDBF& t) {
    try {
        t.Open();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(opened)";
}

// n records of one C(9) field "r01".."rNN" (record length 10); deleted: their numbers.
std::string Numbered(int n, const std::vector<int>& deleted = {}, bool eof = true) {
    std::vector<std::string> recs;
    for (int i = 1; i <= n; ++i) {
        bool del = std::find(deleted.begin(), deleted.end(), i) != deleted.end();
        char name[16];
        std::snprintf(name, sizeof name, "r%02d", i);
        recs.push_back(std::string(del ? "*" : " ") + Pad(name, 9));
    }
    return BuildDbf(0x03, {{"NAME", 'C', 9}}, recs, eof);
}

struct Table {
    std::string path;
    test::TClipperDBF t;
    Table(const std::string& name, const std::string& bytes, int bufferSize) : path(TempPath(name)) {
        WriteFile(path, bytes);
        t.SetDBFFileName(path);
        t.SetBufferSize(bufferSize);
    }
    ~Table() {
        t.Close();
        std::remove(path.c_str());
    }
    std::string Name() { return t.FieldByName("NAME").AsString(); }
};

TEST(Navigation, BlockRefillsForwardWithFourRecordsPerBlock) {
    Table tb("fwd.dbf", Numbered(10), 40);
    tb.t.Open();
    EXPECT_EQ(tb.t.RecordsPerBuffer(), 4);
    EXPECT_EQ(tb.t.RecordCount(), 10);
    EXPECT_TRUE(tb.t.Bof());
    // reads: 0 after open (the count restarts there), 1 at record 5, 1 at record 9, 1 at the end
    std::vector<std::uint64_t> readsAt;
    std::vector<std::string> names;
    for (; !tb.t.Eof(); tb.t.Next()) {
        names.push_back(tb.Name());
        readsAt.push_back(tb.t.BlockReads());
        EXPECT_EQ(tb.t.RecNo(), static_cast<int>(names.size()));
    }
    ASSERT_EQ(names.size(), 10u);
    EXPECT_EQ(names.front(), "r01      ");
    EXPECT_EQ(names.back(), "r10      ");
    EXPECT_EQ(readsAt, (std::vector<std::uint64_t>{0, 0, 0, 0, 1, 1, 1, 1, 2, 2}));
    EXPECT_EQ(tb.t.BlockReads(), 3u);  // the next past record 10 found nothing
    EXPECT_EQ(tb.t.RecNo(), 10);       // the cursor stays on the last record
    tb.t.Next();
    EXPECT_EQ(tb.t.BlockReads(), 3u);  // at the end nothing more is read
}

TEST(Navigation, LastFillsTheLastSlotsAndPriorRefillsBackward) {
    Table tb("bwd.dbf", Numbered(10), 40);
    tb.t.Open();
    tb.t.Last();
    EXPECT_TRUE(tb.t.Eof());
    EXPECT_EQ(tb.t.RecNo(), 10);
    for (int n = 7; n <= 10; ++n) EXPECT_NE(tb.t.BufferedRecord(static_cast<std::uint32_t>(n)), nullptr) << n;
    EXPECT_EQ(tb.t.BufferedRecord(6), nullptr);
    std::uint64_t reads = tb.t.BlockReads();
    std::vector<int> order;
    for (; !tb.t.Bof(); tb.t.Prior()) order.push_back(tb.t.RecNo());
    EXPECT_EQ(order, (std::vector<int>{10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(tb.t.BlockReads() - reads, 2u);  // 3-6, then 1-2
    EXPECT_EQ(tb.t.RecNo(), 1);
}

TEST(Navigation, GoingToARecordLoadsTheBlockAroundIt) {
    Table tb("goto.dbf", Numbered(100), 80);  // R = 8
    tb.t.Open();
    tb.t.SetRecNo(10);
    EXPECT_EQ(tb.t.RecNo(), 10);
    EXPECT_EQ(tb.Name(), "r10      ");
    for (int n = 6; n <= 13; ++n) EXPECT_NE(tb.t.BufferedRecord(static_cast<std::uint32_t>(n)), nullptr) << n;
    EXPECT_EQ(tb.t.BufferedRecord(5), nullptr);
    EXPECT_EQ(tb.t.BufferedRecord(14), nullptr);
    std::uint64_t reads = tb.t.BlockReads();
    tb.t.MoveBy(3);
    EXPECT_EQ(tb.t.RecNo(), 13);
    tb.t.MoveBy(-7);
    EXPECT_EQ(tb.t.RecNo(), 6);
    EXPECT_EQ(tb.t.BlockReads(), reads);
    tb.t.SetRecNo(2);
    for (int n = 1; n <= 8; ++n) EXPECT_NE(tb.t.BufferedRecord(static_cast<std::uint32_t>(n)), nullptr) << n;
    EXPECT_EQ(tb.t.RecNo(), 2);
    tb.t.SetRecNo(101);  // not a record: nothing happens
    EXPECT_EQ(tb.t.RecNo(), 2);
    tb.t.SetRecNo(0);
    EXPECT_EQ(tb.t.RecNo(), 2);
}

TEST(Navigation, RefillThatHitsTheEndOfFileByteKeepsTheBufferedRecord) {
    // record 5 is deleted and will sit in slot 0 when the refill reads only the 0x1A
    Table tb("eofbyte.dbf", Numbered(8, {5}), 40);
    tb.t.Open();
    tb.t.MoveBy(7);
    EXPECT_EQ(tb.t.RecNo(), 8);
    tb.t.Next();
    EXPECT_TRUE(tb.t.Eof());
    const std::uint8_t* r5 = tb.t.BufferedRecord(5);
    ASSERT_NE(r5, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r5), 10), "*r05      ");
    EXPECT_EQ(tb.t.ReadBlockForward(), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(tb.t.BufferedRecord(5)), 10), "*r05      ");
    tb.t.Prior();
    EXPECT_EQ(tb.t.RecNo(), 7);
}

TEST(Navigation, PartialRecordAtTheEndIsNotARecordAndDoesNotLeakIntoTheBuffer) {
    std::string bytes = Numbered(4, {}, false) + "\x1A" + "xyz";  // a broken tail shorter than a record
    Table tb("partial.dbf", bytes, 10);                            // R = 1
    tb.t.Open();
    EXPECT_EQ(tb.t.RecordCount(), 4);
    int n = 0;
    for (; !tb.t.Eof(); tb.t.Next()) ++n;
    EXPECT_EQ(n, 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(tb.t.BufferedRecord(4)), 10), " r04      ");
    tb.t.Prior();
    EXPECT_EQ(tb.Name(), "r03      ");
}

TEST(Navigation, SetDeletedHidesDeletedRecordsBothWays) {
    Table tb("deleted.dbf", Numbered(10, {1, 5, 6, 10}), 40);
    tb.t.Open();
    std::vector<int> seen;
    for (; !tb.t.Eof(); tb.t.Next()) seen.push_back(tb.t.RecNo() * (tb.t.IsDeleted() ? -1 : 1));
    EXPECT_EQ(seen, (std::vector<int>{-1, 2, 3, 4, -5, -6, 7, 8, 9, -10}));

    tb.t.SetSetDeleted(true);  // refreshes the open table
    EXPECT_EQ(tb.t.RecordCount(), 10);
    seen.clear();
    for (tb.t.First(); !tb.t.Eof(); tb.t.Next()) seen.push_back(tb.t.RecNo());
    EXPECT_EQ(seen, (std::vector<int>{2, 3, 4, 7, 8, 9}));
    seen.clear();
    for (tb.t.Last(); !tb.t.Bof(); tb.t.Prior()) seen.push_back(tb.t.RecNo());
    EXPECT_EQ(seen, (std::vector<int>{9, 8, 7, 4, 3, 2}));
    tb.t.SetRecNo(5);  // hidden: refused
    EXPECT_EQ(tb.t.RecNo(), 2);

    tb.t.Close();
    test::TClipperDBF other;  // set before opening
    other.SetSetDeleted(true);
    other.SetDBFFileName(tb.path);
    other.Open();
    EXPECT_EQ(other.RecNo(), 2);
}

TEST(Navigation, EmptyTable) {
    Table tb("empty.dbf", Numbered(0), 4096);
    tb.t.Open();
    EXPECT_TRUE(tb.t.Bof());
    EXPECT_TRUE(tb.t.Eof());
    EXPECT_EQ(tb.t.RecordCount(), 0);
    tb.t.First();
    EXPECT_TRUE(tb.t.Eof());
    tb.t.Last();
    EXPECT_TRUE(tb.t.Bof());
    EXPECT_TRUE(tb.t.Eof());
    EXPECT_TRUE(tb.t.FieldByName("NAME").IsNull());
    EXPECT_EQ(tb.t.RecNo(), -1);
}

TEST(Navigation, BufferSizeOneByteTooSmall) {
    std::vector<std::string> recs(3, " " + std::string(100, 'x'));
    std::string bytes = BuildDbf(0x03, {{"TEXT", 'C', 100}}, recs);
    Table small("small.dbf", bytes, 100);
    EXPECT_EQ(OpenMessage(small.t), "THXSmartDBF.InternalOpen: BufferSize too small!");
    EXPECT_FALSE(small.t.Active());
    Table exact("exact.dbf", bytes, 101);
    exact.t.Open();
    EXPECT_EQ(exact.t.RecordsPerBuffer(), 1);
    int n = 0;
    for (; !exact.t.Eof(); exact.t.Next()) ++n;
    EXPECT_EQ(n, 3);
    EXPECT_EQ(exact.t.BlockReads(), 3u);  // records 2, 3 and the end: one read each
}

TEST(Navigation, RecordCountComesFromTheFileSize) {
    std::string bytes = Numbered(3);
    bytes[4] = 5;  // the header says 5
    Table tb("count.dbf", bytes, 4096);
    tb.t.Open();
    EXPECT_EQ(tb.t.RecordCount(), 3);
    EXPECT_EQ(tb.t.Header().RecordCount(), 3u);
}

TEST(OpenClose, ReadOnlyOpenLeavesTheFileByteIdentical) {
    std::string bytes = Numbered(2, {}, false);  // no 0x1A at the end
    Table tb("ro.dbf", bytes, 4096);
    tb.t.Open();
    tb.t.Last();
    tb.t.Close();
    EXPECT_EQ(ReadFile(tb.path), bytes);
}

TEST(OpenClose, ReadWriteCloseRestoresTheEndOfFileByte) {
    std::string bytes = Numbered(2, {}, false);
    Table tb("rw.dbf", bytes, 4096);
    tb.t.AccessMode().SetAccessMode(2);
    tb.t.Open();
    EXPECT_EQ(tb.t.RecordCount(), 2);
    tb.t.Close();
    EXPECT_EQ(ReadFile(tb.path), bytes + "\x1A");
    tb.t.Open();  // already there: unchanged
    tb.t.Close();
    EXPECT_EQ(ReadFile(tb.path), bytes + "\x1A");
}

// Only regular files open, without waiting, and every failure says why.
TEST(OpenClose, OnlyRegularFilesOpenAndFailuresSayWhy) {
    // A FIFO (no writer: opening it the ordinary way would wait for ever) and a directory.
    const std::string fifo = TempPath("open_fifo.dbf");
    std::remove(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    test::TClipperDBF f;
    f.SetDBFFileName(fifo);
    EXPECT_EQ(OpenMessage(f), "THXSmartDBF.InternalOpen: Open error \"" + fifo + "\" (not a regular file)");
    std::remove(fifo.c_str());
    const std::string dir = TempPath("open_dir.dbf");
    ::mkdir(dir.c_str(), 0700);
    test::TClipperDBF d;
    d.SetDBFFileName(dir);
    EXPECT_EQ(OpenMessage(d), "THXSmartDBF.InternalOpen: Open error \"" + dir + "\" (not a regular file)");
    ::rmdir(dir.c_str());

    // A memo file that is a FIFO refuses the table: its memo values would be lost.
    Table memo("open_fifomemo.dbf", BuildDbf(0x83, {{"M", 'M', 10}}, {" " + std::string(10, ' ')}), 4096);
    const std::string dbt = TempPath("open_fifomemo.dbt");
    std::remove(dbt.c_str());
    ASSERT_EQ(::mkfifo(dbt.c_str(), 0600), 0);
    EXPECT_EQ(OpenMessage(memo.t), "THXSmartDBF.InternalOpen: Open error \"" + dbt + "\" (not a regular file)");
    EXPECT_FALSE(memo.t.Active());
    std::remove(dbt.c_str());

    // A table that a writer holds exclusively.
    Table held("open_held.dbf", Numbered(1), 4096);
    test::TClipperDBF writer;
    writer.SetDBFFileName(held.path);
    writer.AccessMode().SetAccessMode(2);
    writer.Open();
    EXPECT_EQ(OpenMessage(held.t),
              "THXSmartDBF.InternalOpen: Open error \"" + held.path + "\" (locked by another process)");
    writer.Close();

    // Without the permission (root reads everything: checked only for other users).
    if (::geteuid() != 0) {
        Table denied("open_denied.dbf", Numbered(1), 4096);
        ::chmod(denied.path.c_str(), 0);
        EXPECT_EQ(OpenMessage(denied.t),
                  "THXSmartDBF.InternalOpen: Open error \"" + denied.path + "\" (Permission denied)");
    }
}

// Headers whose lengths contradict the descriptors and the file refuse to open instead of
// inventing or losing records; the near misses that real files show still open.
TEST(OpenClose, InconsistentHeadersAreRefusedNearMissesOpen) {
    const std::vector<FieldSpec> fields{{"NAME", 'C', 9}, {"CODE", 'C', 5}};
    const std::vector<std::string> recs{" first    one  ", " second   two  "};
    // header length cutting the second descriptor: today 0 fields, the records lost
    std::string bytes = BuildDbf(0x03, fields, recs);
    bytes[8] = 80;  // 32 + 32 + 16
    Table cut("hdr_cut.dbf", bytes, 4096);
    EXPECT_EQ(OpenMessage(cut.t), "THXSmartDBF.InternalOpen: File \"" + cut.path +
                                      "\" has field descriptors cut by its header length (80)");

    // record length 2 for 15 bytes of fields, size disagreeing with the header (2 records would
    // read as 2 + 15)
    bytes = BuildDbf(0x03, fields, recs, true, 0, 2);
    Table shortRec("hdr_short.dbf", bytes, 4096);
    EXPECT_EQ(OpenMessage(shortRec.t), "THXSmartDBF.InternalOpen: File \"" + shortRec.path +
                                           "\" has fields (15 bytes) longer than its record length (2) and a size "
                                           "(128) that disagrees with its header (2 records)");
    // the same with 1 record
    bytes = BuildDbf(0x03, fields, {recs[0]}, true, 0, 2);
    Table shortOne("hdr_short1.dbf", bytes, 4096);
    EXPECT_NE(OpenMessage(shortOne.t).find("longer than its record length (2)"), std::string::npos);

    // a field past the record, but the size agrees: opens, the field gets no dataset field
    bytes = BuildDbf(0x03, fields, {" first    ", " second   "}, true, 0, 10);
    Table past("hdr_past.dbf", bytes, 4096);
    ASSERT_EQ(OpenMessage(past.t), "(opened)");
    EXPECT_EQ(past.t.RecordCount(), 2);
    EXPECT_EQ(past.t.FindField("CODE"), nullptr);
    past.t.Close();

    // a header ending without a terminator where a descriptor would start, or one byte later
    for (int extra : {0, 1}) {
        bytes = BuildDbf(0x03, {{"NAME", 'C', 9}}, {" first    "}, false);
        bytes.erase(64, 1);  // no 0x0D
        if (extra) bytes.insert(64, 1, '\0');
        bytes[8] = static_cast<char>(64 + extra);
        Table open("hdr_noterm.dbf", bytes, 4096);
        ASSERT_EQ(OpenMessage(open.t), "(opened)") << extra;
        EXPECT_EQ(open.t.RecordCount(), 1);
        EXPECT_EQ(open.t.FieldByName("NAME").AsString(), "first    ");
    }

    // no fields: the end-of-file byte is no record; a real one-byte record is
    Table none("hdr_nofields.dbf", BuildDbf(0x03, {}, {}), 4096);
    ASSERT_EQ(OpenMessage(none.t), "(opened)");
    EXPECT_EQ(none.t.RecordCount(), 0);
    EXPECT_TRUE(none.t.Eof());
    none.t.Close();
    Table one("hdr_onerec.dbf", BuildDbf(0x03, {}, {" "}, true), 4096);
    ASSERT_EQ(OpenMessage(one.t), "(opened)");
    EXPECT_EQ(one.t.RecordCount(), 1);
    int seen = 0;
    for (one.t.First(); !one.t.Eof(); one.t.Next()) ++seen;
    EXPECT_EQ(seen, 1);
    one.t.Last();
    EXPECT_EQ(one.t.RecNo(), 1);
}

TEST(OpenClose, FailuresNameTheFile) {
    test::TClipperDBF t;
    t.SetDBFFileName(TempPath("missing.dbf"));
    EXPECT_EQ(OpenMessage(t),
              "THXSmartDBF.InternalOpen: Open error \"" + TempPath("missing.dbf") + "\" (No such file or directory)");

    std::string bytes = Numbered(2);
    bytes[0] = 0x02;
    Table notDbf("notdbf.dbf", bytes, 4096);
    EXPECT_EQ(OpenMessage(notDbf.t), "THXSmartDBF.InternalOpen: File \"" + notDbf.path + "\" is not DBF file");
    EXPECT_FALSE(notDbf.t.Active());

    Table tiny("tiny.dbf", std::string("\x03\x01", 2), 4096);
    EXPECT_EQ(OpenMessage(tiny.t), "THXSmartDBF.InternalOpen: File \"" + tiny.path + "\" is not DBF file");

    bytes = Numbered(2);
    bytes[8] = 0;
    bytes[9] = 0;
    Table noHeader("hl0.dbf", bytes, 4096);
    EXPECT_EQ(OpenMessage(noHeader.t).rfind("THXSmartDBF.InternalOpen: File \"" + noHeader.path + "\" has a bad header length", 0), 0u);

    bytes = Numbered(2);
    bytes[9] = 0x7F;  // beyond the file
    Table far("hlfar.dbf", bytes, 4096);
    EXPECT_EQ(OpenMessage(far.t).rfind("THXSmartDBF.InternalOpen: File \"" + far.path + "\" has a bad header length", 0), 0u);

    bytes = Numbered(2);
    bytes[10] = 0;
    bytes[11] = 0;
    Table noRec("rl0.dbf", bytes, 4096);
    EXPECT_EQ(OpenMessage(noRec.t), "THXSmartDBF.InternalOpen: File \"" + noRec.path + "\" has a bad record length (0)");
}

TEST(OpenClose, InconsistentLayoutsReadOnlyWhatIsConsistent) {
    // record length 6 while the fields need 1 + 4 + 5: B runs past the record and gets no field
    std::string bytes = BuildDbf(0x03, {{"A", 'C', 4}, {"B", 'C', 5}}, {" abcdX", " efghY"}, true, 0, 6);
    Table tb("short.dbf", bytes, 4096);
    tb.t.Open();
    EXPECT_EQ(tb.t.FieldCount(), 1);
    EXPECT_EQ(tb.t.DBFFieldDefs().Count(), 2);
    EXPECT_EQ(tb.t.FieldByName("A").AsString(), "abcd");
    tb.t.Next();
    EXPECT_EQ(tb.t.FieldByName("A").AsString(), "efgh");
}

TEST(OpenClose, DescriptorListWithoutTerminatorEndsAtTheHeaderLength) {
    std::string bytes = BuildDbf(0x03, {{"A", 'C', 2}, {"B", 'N', 3}}, {" ab 12"});
    // overwrite the 0x0D with the first record byte: header length now ends right after B
    std::string cut = bytes.substr(0, 32 + 64) + bytes.substr(32 + 64 + 1);
    cut[8] = static_cast<char>(32 + 64);
    Table tb("noterm.dbf", cut, 4096);
    tb.t.Open();
    ASSERT_EQ(tb.t.FieldCount(), 2);
    EXPECT_EQ(tb.t.FieldByName("A").AsString(), "ab");
    EXPECT_EQ(tb.t.FieldByName("B").AsInteger(), 12);
}

TEST(OpenClose, UnknownTypeLetterKeepsItsPlace) {
    std::string bytes = BuildDbf(0x03, {{"A", 'C', 2}, {"Q", 'q', 3}, {"B", 'C', 2}}, {" ab???cd"});
    Table tb("unknown.dbf", bytes, 4096);
    tb.t.Open();
    EXPECT_EQ(tb.t.FieldCount(), 2);
    EXPECT_EQ(tb.t.FindField("Q"), nullptr);
    EXPECT_EQ(tb.t.FieldByName("B").AsString(), "cd");
    EXPECT_EQ(tb.t.DBFFieldDefs()[2].Offset(), 6);
}

TEST(Properties, DefaultsAndLockProtocolSetters) {
    THXSmartDBF s;
    EXPECT_EQ(s.DbfVersion(), xBaseIII);
    EXPECT_EQ(s.BufferSize(), 4096);
    EXPECT_FALSE(s.OEM());
    EXPECT_EQ(s.Codepage(), 0);
    EXPECT_FALSE(s.SetDeleted());
    EXPECT_FALSE(s.FastPostRecord());
    EXPECT_FALSE(s.TrimInLocate());
    EXPECT_FALSE(s.TrimCType());
    EXPECT_EQ(s.LookupOptions(), 0u);
    EXPECT_EQ(s.StorageType(), pstFile);
    EXPECT_EQ(s.LobBlockSize(), 512);
    EXPECT_EQ(s.LockProtocol(), lpNone);
    EXPECT_EQ(s.LobLockProtocol(), lpNone);
    EXPECT_EQ(s.WaitBusyRes(), 3000);
    EXPECT_FALSE(s.CreateNow());
    EXPECT_EQ(s.FoxTableFlag().TableFlag(), 0);
    EXPECT_EQ(s.DBFFieldDefs().Count(), 0);
    s.SetLobBlockSize(1000);
    EXPECT_EQ(s.LobBlockSize(), 896);
    s.SetDbfVersion(xBaseVII);
    EXPECT_EQ(s.DBFFieldDefs().Dialect(), xBaseVII);

    test::TClipperDBF n;
    EXPECT_EQ(n.LockProtocol(), lpClipperLock);
    EXPECT_EQ(n.LobLockProtocol(), lpClipperLock);

    Table tb("lp.dbf", Numbered(1), 4096);
    tb.t.Open();
    try {
        tb.t.SetLockProtocol(lpFoxLock);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "THXSmartDBF.SetLockProtocol: Can't change lock protocol while dataset is active!");
    }
    try {
        tb.t.SetLobLockProtocol(lpFoxLock);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "THXSmartDBF.SetLobLockProtocol: Can't change lock protocol while dataset is active!");
    }
    EXPECT_EQ(tb.t.LockProtocol(), lpClipperLock);
    tb.t.Close();
    tb.t.SetLockProtocol(lpFoxLock);
    EXPECT_EQ(tb.t.LockProtocol(), lpFoxLock);
}

}  // namespace
}  // namespace zarbel

namespace zarbel {
namespace {

TEST(Deletion, DeleteMarksTheRecordInPlaceAndMovesOnWhenHidden) {
    std::string bytes = Numbered(5);
    Table tb("del.dbf", bytes, 40);
    tb.t.AccessMode().SetAccessMode(2);
    tb.t.Open();
    tb.t.SetRecNo(2);
    tb.t.Delete();
    EXPECT_EQ(tb.t.RecNo(), 2);  // still visible: deleted records are shown
    EXPECT_TRUE(tb.t.IsDeleted());
    const std::size_t rec2 = 32 + 32 + 1 + 10;
    EXPECT_EQ(ReadFile(tb.path)[rec2], '*');
    tb.t.SetSetDeleted(true);
    EXPECT_EQ(tb.t.RecNo(), 3);  // the refresh moved off the hidden record
    tb.t.Delete();
    EXPECT_EQ(tb.t.RecNo(), 4);
    EXPECT_EQ(tb.t.RecordCount(), 5);
    tb.t.SetSetDeleted(false);
    tb.t.SetRecNo(2);
    tb.t.MarkDeleted(false);
    tb.t.Close();
    std::string expected = bytes;
    expected[rec2 + 10] = '*';
    EXPECT_EQ(ReadFile(tb.path), expected);
}

TEST(Deletion, FailedWriteLeavesRecordAndFileAsTheyWere) {
    std::string bytes = Numbered(3);
    Table tb("delro.dbf", bytes, 4096);
    tb.t.Open();  // read only
    try {
        tb.t.Delete();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message().rfind("THXSmartDBF: ", 0), 0u);
        EXPECT_GT(e.Message().size(), 13u);
    }
    EXPECT_FALSE(tb.t.IsDeleted());
    EXPECT_EQ(tb.t.State(), dsBrowse);
    tb.t.Close();
    EXPECT_EQ(ReadFile(tb.path), bytes);
}

}  // namespace
}  // namespace zarbel

namespace zarbel {
namespace {

TEST(Filtering, FilterEventHidesRecordsBothWaysAndAppliesWhenSwitchedOn) {
    Table tb("filter.dbf", Numbered(10, {4}), 40);
    tb.t.OnFilterRecord = [](TDataSet& ds, bool& accept) {
        EXPECT_EQ(ds.State(), dsFilter);
        accept = ds.FieldByName("NAME").AsString() != "r02      " && ds.FieldByName("NAME").AsString() != "r07      ";
    };
    tb.t.Open();
    std::vector<int> seen;
    for (; !tb.t.Eof(); tb.t.Next()) seen.push_back(tb.t.RecNo());
    EXPECT_EQ(seen.size(), 10u);  // not filtered yet
    tb.t.SetFiltered(true);
    seen.clear();
    for (tb.t.First(); !tb.t.Eof(); tb.t.Next()) seen.push_back(tb.t.RecNo());
    EXPECT_EQ(seen, (std::vector<int>{1, 3, 4, 5, 6, 8, 9, 10}));
    tb.t.SetSetDeleted(true);  // both tests apply
    seen.clear();
    for (tb.t.Last(); !tb.t.Bof(); tb.t.Prior()) seen.push_back(tb.t.RecNo());
    EXPECT_EQ(seen, (std::vector<int>{10, 9, 8, 6, 5, 3, 1}));
    EXPECT_EQ(tb.t.State(), dsBrowse);
}

}  // namespace
}  // namespace zarbel
