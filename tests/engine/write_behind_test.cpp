// Tables nobody else can write (share bits 0x00, 0x10, 0x20): the write block of the table and
// its memo file, the lock held over every protocol's lock bytes while open, and the shared
// road beside it (0x42: locks and a write per post).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"
#include "platform/mem_env.h"
#include "test_util.h"

namespace zarbel {
namespace {

using test::ReadFile;
using test::TempDir;

constexpr std::uint32_t kShared = TAccessMode::kOpenReadWrite | TAccessMode::kShareDenyNone;  // 0x42
constexpr std::uint32_t kExclusive = TAccessMode::kOpenReadWrite;                             // 2

void CreateTable(THXSmartDBF& t, const std::string& path, xBaseVersion v) {
    t.SetDBFFileName(path);
    t.SetDbfVersion(v);
    struct F {
        const char* name;
        char type;
        int len;
    };
    for (const F& f : {F{"NAME", 'C', 12}, F{"NOTE", 'M', 10}}) {
        THXDBFFieldDef& d = t.DBFFieldDefs().Add();
        d.SetName(f.name);
        d.Setfield_type(f.type);
        d.Setlen(static_cast<std::uint16_t>(f.len));
    }
    t.CreateTable();
}

void OpenTable(THXSmartDBF& t, const std::string& path, std::uint32_t mode, int bufferSize = 2048) {
    t.SetDBFFileName(path);
    t.SetLockProtocol(lpClipperLock);
    t.SetLobLockProtocol(lpClipperLock);
    t.SetBufferSize(bufferSize);
    t.AccessMode().SetAccessMode(mode);
    t.Open();
}

std::string Note(int i) { return i % 3 == 0 ? "" : "note " + std::to_string(i) + std::string(i % 700, 'x'); }

// The same appends, edits of records still in the block and of records long written, deletions.
void Work(THXSmartDBF& t, int records) {
    for (int i = 0; i < records; ++i) {
        t.Append();
        t.FieldByName("NAME").SetAsString("rec" + std::to_string(i));
        t.FieldByName("NOTE").SetAsString(Note(i));
        t.Post();
        if (i % 17 == 5) {  // the record just appended
            t.Edit();
            t.FieldByName("NOTE").SetAsString("edited " + std::to_string(i));
            t.Post();
        }
        if (i == records / 2) {  // the first record, on disk long ago
            t.First();
            t.Edit();
            t.FieldByName("NAME").SetAsString("first");
            t.Post();
            t.Delete();
            t.Last();
        }
    }
}

// The header's record count and the whole records behind the header of a table file's bytes.
std::pair<std::uint32_t, std::uint32_t> CountedAndWhole(const std::string& bytes) {
    if (bytes.size() < 32) return {0, 0};
    auto u8 = [&](int i) { return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i])); };
    const std::uint32_t counted = u8(4) | u8(5) << 8 | u8(6) << 16 | u8(7) << 24;
    const std::uint32_t hl = u8(8) | u8(9) << 8, rl = u8(10) | u8(11) << 8;
    return {counted, bytes.size() < hl ? 0 : static_cast<std::uint32_t>((bytes.size() - hl) / rl)};
}

// Once closed, the files are byte for byte those of the shared road, in each memo dialect and
// with the cipher on (the block carries enciphered records, the memo file enciphered entries).
TEST(WriteBehind, ClosedFilesEqualTheSharedRoads) {
    TempDir d;
    for (xBaseVersion v : {xBaseIV, xFoxPro}) {
        for (bool cipher : {false, true}) {
            SCOPED_TRACE(std::string(v == xBaseIV ? "dBase IV" : "FoxPro") + (cipher ? ", GOST" : ""));
            std::vector<std::string> images;
            for (std::uint32_t mode : {kShared, kExclusive, 0x12u, 0x22u}) {
                const std::string path = d / ("t" + std::to_string(mode) + ".dbf");
                {
                    THXSmartDBF c;
                    CreateTable(c, path, v);
                }
                THXSmartDBF t;
                if (cipher) {
                    t.Crypt().SetCryptMethod(cmGost);
                    t.Crypt().SetPassword("key");
                    t.Crypt().SetActive(true);
                }
                OpenTable(t, path, mode);
                Work(t, 600);
                t.Close();
                const std::string memo = path.substr(0, path.size() - 3) + (v == xBaseIV ? "dbt" : "fpt");
                images.push_back(ReadFile(path) + "|" + ReadFile(memo));
            }
            for (std::size_t i = 1; i < images.size(); ++i) EXPECT_TRUE(images[i] == images[0]) << "mode #" << i;
        }
    }
}

// The block goes out when it is full (one write for the records, one for the header), and at
// every moment the file on disk holds whole records with a header count never above them;
// reading the table meanwhile sees every record posted.
TEST(WriteBehind, BlockFlushesKeepTheFileWholeAndCountFewCalls) {
    TMemEnv env;
    env.AddDirectory("/d");
    THXSmartDBF c;
    c.SetEnv(env);
    CreateTable(c, "/d/t.dbf", xBaseIV);
    THXSmartDBF t;
    t.SetEnv(env);
    OpenTable(t, "/d/t.dbf", kExclusive, 2400);  // 100 records of 24 bytes a block
    env.ClearFaults();
    for (int i = 0; i < 1000; ++i) {
        t.Append();
        t.FieldByName("NAME").SetAsString("rec" + std::to_string(i));
        t.Post();
        const auto [counted, whole] = CountedAndWhole(env.Contents("/d/t.dbf"));
        ASSERT_LE(counted, whole) << "after record " << i + 1;
        ASSERT_GE(counted + 2400 / 23, static_cast<std::uint32_t>(i + 1)) << "more than a block waits";
    }
    EXPECT_LE(env.Calls(TEnvOp::Write), 2 * 10 + 2);
    EXPECT_EQ(env.Calls(TEnvOp::Lock), 0);
    // Navigation reads past what is on disk: the block goes out first.
    EXPECT_EQ(t.RecordCount(), 1000);
    int seen = 0;
    for (t.First(); !t.Eof(); t.Next()) ++seen;
    EXPECT_EQ(seen, 1000);
    t.Close();
    const auto [counted, whole] = CountedAndWhole(env.Contents("/d/t.dbf"));
    EXPECT_EQ(counted, 1000u);
    EXPECT_EQ(whole, 1000u);
}

// A write of the table's or the memo file's block that fails (no space, an input/output
// error, a short write) raises, at the post that made the block full or at close; the file
// then holds whole records, a header count never above them, every record posted before
// the last block began, and each record's memo value whole.
TEST(WriteBehind, FailedBlockWriteRaisesAndLeavesWholeRecords) {
    auto run = [](TMemEnv& env, int& posted, int nth, std::int64_t shortBy) {
        THXSmartDBF t;
        t.SetEnv(env);
        OpenTable(t, "/d/t.dbf", kExclusive, 1200);
        env.ClearFaults();
        if (nth > 0) env.FailNth(TEnvOp::Write, nth, ENOSPC, shortBy);
        try {
            for (int i = 0; i < 120; ++i) {
                t.Append();
                t.FieldByName("NAME").SetAsString("rec" + std::to_string(i));
                t.FieldByName("NOTE").SetAsString(Note(i));
                t.Post();
                posted = i + 1;
            }
        } catch (const Exception&) {
            t.Cancel();
            t.Close();  // what the block held after the failure may still go out
            throw;
        }
        t.Close();
    };
    TMemEnv clean;
    clean.AddDirectory("/d");
    {
        THXSmartDBF c;
        c.SetEnv(clean);
        CreateTable(c, "/d/t.dbf", xBaseIV);
    }
    const auto base = clean.Files();
    int cleanPosted = 0;
    run(clean, cleanPosted, 0, 0);
    const int writes = clean.Calls(TEnvOp::Write);
    ASSERT_GT(writes, 6);
    int provoked = 0;
    for (int nth = 1; nth < writes; ++nth) {  // the last write is the end-of-file byte
        for (std::int64_t shortBy : {0, 1}) {
            SCOPED_TRACE("write " + std::to_string(nth) + " of " + std::to_string(writes) + " short by " +
                         std::to_string(shortBy));
            TMemEnv env;
            env.SetFiles(base);
            env.AddDirectory("/d");
            int posted = 0;
            bool raised = false;
            try {
                run(env, posted, nth, shortBy);
            } catch (const Exception& e) {
                raised = true;
                EXPECT_EQ(e.Message().rfind("THXSmartDBF: ", 0), 0u) << e.Message();
            }
            EXPECT_TRUE(raised) << "the failure went unreported";
            env.ClearFaults();
            ++provoked;
            const auto [counted, whole] = CountedAndWhole(env.Contents("/d/t.dbf"));
            EXPECT_LE(counted, whole);
            THXSmartDBF t;
            t.SetEnv(env);
            OpenTable(t, "/d/t.dbf", kShared);
            int n = 0;
            for (t.First(); !t.Eof(); t.Next(), ++n) {
                const std::string name = "rec" + std::to_string(n);
                ASSERT_EQ(t.FieldByName("NAME").AsString(), name + std::string(12 - name.size(), ' ')) << n;
                ASSERT_EQ(t.FieldByName("NOTE").AsString(), Note(n)) << n;
            }
            EXPECT_GE(n + 1200 / 23, posted) << "more than a block lost";
        }
    }
    EXPECT_GT(provoked, 12);
}

// Opens a file of the host and tries one write or read lock byte; the process's own exit code
// says whether the lock was granted (0) or refused (1).
int LockInChild(const std::string& path, std::uint64_t offset, bool write) {
    const pid_t pid = fork();
    if (pid == 0) {
        TEnv& env = TEnv::Default();
        const THandle h = env.Open(path, write ? faReadWrite : faRead, TShareLock::None);
        if (h == kInvalidHandle) _exit(2);
        _exit(env.LockRange(h, offset, 1, write) ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 3;
}

// While a no-sharing open is held, another process that honours the xBase byte locks cannot
// lock a record or the header at any protocol's offsets, on the table or its memo file; a
// read-only one (share bits 0) holds a read lock, which other readers share. Closed, the bytes
// are free again.
TEST(WriteBehind, NoSharingOpenHoldsEveryProtocolsLockBytes) {
    TempDir d;
    const std::string path = d / "t.dbf", memo = d / "t.dbt";
    {
        THXSmartDBF c;
        CreateTable(c, path, xBaseIV);
    }
    const std::uint64_t offsets[] = {1000000000u, 1000000001u + 5, 0xEFFFFFFFu, 0xEFFFFFFEu - 5,
                                     0x7FFFFFFEu, 0x7FFFFFFEu - 5, 0x40000000u, 5};
    for (std::uint32_t mode : {0x02u, 0x12u, 0x22u, 0x00u}) {
        SCOPED_TRACE("access mode " + std::to_string(mode));
        THXSmartDBF t;
        OpenTable(t, path, mode);
        for (std::uint64_t at : offsets) {
            EXPECT_EQ(LockInChild(path, at, true), 1) << at;
            EXPECT_EQ(LockInChild(memo, at, true), 1) << at;
            EXPECT_EQ(LockInChild(path, at, false), mode == 0 ? 0 : 1) << at;
        }
        t.Close();
        EXPECT_EQ(LockInChild(path, 1000000001u, true), 0);
    }
    // the shared road holds nothing between operations
    THXSmartDBF t;
    OpenTable(t, path, kShared);
    EXPECT_EQ(LockInChild(path, 1000000001u, true), 0);
}

// Two processes append 10,000 records each to one table opened with 0x42 under lpClipperLock:
// every record of both is there once, and the header counts them all.
TEST(WriteBehind, TwoSharedAppendersLoseNothing) {
    TempDir d;
    const std::string path = d / "t.dbf";
    {
        THXSmartDBF c;
        CreateTable(c, path, xBaseIII);
    }
    constexpr int kEach = 10000;
    std::vector<pid_t> pids;
    for (int p = 0; p < 2; ++p) {
        const pid_t pid = fork();
        if (pid == 0) {
            int rc = 0;
            try {
                THXSmartDBF t;
                OpenTable(t, path, kShared);
                t.SetFastPostRecord(true);
                for (int i = 0; i < kEach; ++i) {
                    t.Append();
                    t.FieldByName("NAME").SetAsString(std::to_string(p) + "-" + std::to_string(i));
                    t.Post();
                }
                t.Close();
            } catch (...) {
                rc = 1;
            }
            _exit(rc);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::string bytes = ReadFile(path);
    ASSERT_FALSE(bytes.empty());
    bytes.pop_back();  // the end-of-file byte
    const auto [counted, whole] = CountedAndWhole(bytes);
    EXPECT_EQ(counted, 2u * kEach);
    EXPECT_EQ(whole, 2u * kEach);
    THXSmartDBF t;
    OpenTable(t, path, 0);
    std::set<std::string> names;
    for (t.First(); !t.Eof(); t.Next()) {
        std::string n = t.FieldByName("NAME").AsString();
        EXPECT_TRUE(names.insert(n).second) << "twice: " << n;
    }
    EXPECT_EQ(names.size(), 2u * kEach);
}

}  // namespace
}  // namespace zarbel
