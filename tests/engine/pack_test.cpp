// Pack: kept records move down in place, the memo file is rebuilt, a table open for reading
// only changes no file, failures raise.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"
#include "platform/fileio.h"
#include "platform/mem_env.h"
#include "dbf_builder.h"
#include "testutil/temp_dir.h"

namespace zarbel {
namespace {

using test::BE32;
using test::LE32;

using test::BuildDbf;
using test::Pad;
using test::ReadFile;
using test::WriteFile;


// A table of five records (NAME C 4, NOTE M 10) with records 2 and 4 deleted; every record has
// a memo "memo <n>" written in the memo layout of the version byte, each in its own block,
// with a dead block before each entry.
struct FiveRecords {
    testutil::TempDir dir;
    std::string dbf, memo;
    std::uint8_t version;
    FiveRecords(std::uint8_t v) : dbf(dir.File("t.dbf")), version(v) {
        std::vector<std::string> recs;
        std::string file;
        if (v == 0x83) {
            file = std::string("This is Lob!") + std::string(500, '\0');
        } else if (v == 0x8B) {
            file = std::string(512, '\0');
            file.replace(0, 4, LE32(11));
            file.replace(20, 4, LE32(512));
        } else {
            file = std::string(512, '\0');
            file.replace(0, 4, BE32(11));
            file.replace(4, 4, BE32(512));
        }
        for (int i = 1; i <= 5; ++i) {
            std::string dead(512, 'x');
            file += dead;  // never referenced
            std::uint32_t block = static_cast<std::uint32_t>(file.size() / 512);
            std::string data = "memo " + std::to_string(i);
            std::string entry;
            if (v == 0x83) entry = data + "\x1A";
            else if (v == 0x8B) entry = std::string("\xFF\xFF\x08\x00", 4) + LE32(static_cast<std::uint32_t>(data.size() + 8)) + data;
            else entry = BE32(1) + BE32(static_cast<std::uint32_t>(data.size())) + data;
            entry.resize(512, '\0');
            file += entry;
            std::string flag = (i == 2 || i == 4) ? "*" : " ";
            recs.push_back(flag + "rec" + std::to_string(i) + Pad(std::to_string(block), 10, true));
        }
        memo = dir.File(v == 0xF5 ? "t.fpt" : "t.dbt");
        WriteFile(memo, file);
        WriteFile(dbf, BuildDbf(v, {{"NAME", 'C', 4}, {"NOTE", 'M', 10}}, recs));
    }
};

std::vector<std::string> Walk(THXSmartDBF& t) {
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next())
        out.push_back(t.FieldByName("NAME").AsString() + "/" + t.FieldByName("NOTE").AsString());
    return out;
}

TEST(Pack, FiveRecordsWithTwoDeletedKeepOneThreeFiveAndRebuildTheMemoFile) {
    for (std::uint8_t v : {0x83, 0x8B, 0xF5}) {
        SCOPED_TRACE(static_cast<int>(v));
        FiveRecords f(v);
        std::size_t memoBefore = ReadFile(f.memo).size();
        THXSmartDBF t;
        t.SetDBFFileName(f.dbf);
        t.AccessMode().SetAccessMode(2);
        t.Open();
        t.Pack(true);
        EXPECT_EQ(t.Header().RecordCount(), 3u);
        EXPECT_EQ(Walk(t), (std::vector<std::string>{"rec1/memo 1", "rec3/memo 3", "rec5/memo 5"}));
        // the table file ends right after record 3 (its end-of-file byte comes back at close)
        std::string file = ReadFile(f.dbf);
        const std::size_t hl = 32 + 2 * 32 + 1, rl = 15;
        ASSERT_EQ(file.size(), hl + 3 * rl);
        EXPECT_EQ(GetLE32(reinterpret_cast<const std::uint8_t*>(file.data()) + 4), 3u);
        EXPECT_EQ(file.substr(hl, 5), " rec1");
        EXPECT_EQ(file.substr(hl + rl, 5), " rec3");
        EXPECT_EQ(file.substr(hl + 2 * rl, 5), " rec5");
        // the memo file was rebuilt: three entries, from block 1 on, no dead blocks
        std::string memo = ReadFile(f.memo);
        EXPECT_LT(memo.size(), memoBefore);
        EXPECT_EQ(file.substr(hl + 5, 10), Pad("1", 10, true));
        EXPECT_EQ(file.substr(hl + rl + 5, 10), Pad("2", 10, true));
        EXPECT_EQ(file.substr(hl + 2 * rl + 5, 10), Pad("3", 10, true));
        t.Close();
        EXPECT_EQ(ReadFile(f.dbf).back(), '\x1A');
        EXPECT_EQ(f.dir.Names(), (std::vector<std::string>{"t.dbf", f.version == 0xF5 ? "t.fpt" : "t.dbt"}));
        t.Open();
        EXPECT_EQ(Walk(t), (std::vector<std::string>{"rec1/memo 1", "rec3/memo 3", "rec5/memo 5"}));
    }
}

TEST(Pack, TemporaryMemoFileOnAnotherFileSystem) {
    // The system temporary directory on a memory file system, the table on disk: the rebuilt
    // memo file cannot be renamed into place and is copied instead.
    if (!std::filesystem::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm";
    std::string dir = std::string(ZARBEL_BINARY_DIR) + "/pack_xfs_" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    FiveRecords f(0x8B);
    std::string dbf = dir + "/t.dbf", memo = dir + "/t.dbt";
    std::filesystem::copy_file(f.dbf, dbf, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(f.memo, memo, std::filesystem::copy_options::overwrite_existing);
    const char* old = std::getenv("TMPDIR");
    std::string saved = old ? old : "";
    ::setenv("TMPDIR", "/dev/shm", 1);
    {
        THXSmartDBF t;
        t.SetDBFFileName(dbf);
        t.AccessMode().SetAccessMode(2);
        t.Open();
        EXPECT_NO_THROW(t.Pack());
        EXPECT_EQ(Walk(t), (std::vector<std::string>{"rec1/memo 1", "rec3/memo 3", "rec5/memo 5"}));
    }
    if (old) ::setenv("TMPDIR", saved.c_str(), 1);
    else ::unsetenv("TMPDIR");
    std::filesystem::remove_all(dir);
}

TEST(Pack, ReadOnlyTableAndMemoFileStayByteIdentical) {
    FiveRecords f(0x8B);
    std::string dbfBefore = ReadFile(f.dbf), memoBefore = ReadFile(f.memo);
    struct stat s1 {}, s2 {};
    ::stat(f.dbf.c_str(), &s1);
    ::stat(f.memo.c_str(), &s2);
    THXSmartDBF t;
    t.SetDBFFileName(f.dbf);
    t.AccessMode().SetAccessMode(0);
    t.Open();
    t.Pack(true);
    EXPECT_EQ(t.Header().RecordCount(), 3u);  // the header copy counts the kept records
    t.Close();
    EXPECT_EQ(ReadFile(f.dbf), dbfBefore);
    EXPECT_EQ(ReadFile(f.memo), memoBefore);
    struct stat a1 {}, a2 {};
    ::stat(f.dbf.c_str(), &a1);
    ::stat(f.memo.c_str(), &a2);
    EXPECT_EQ(a1.st_mtim.tv_sec, s1.st_mtim.tv_sec);
    EXPECT_EQ(a1.st_mtim.tv_nsec, s1.st_mtim.tv_nsec);
    EXPECT_EQ(a2.st_mtim.tv_sec, s2.st_mtim.tv_sec);
    EXPECT_EQ(a2.st_mtim.tv_nsec, s2.st_mtim.tv_nsec);
    EXPECT_EQ(f.dir.Names(), (std::vector<std::string>{"t.dbf", "t.dbt"}));  // no temporary memo file
    // the merge tool's road: pack, close, open again: every record is still there with its memo
    t.Open();
    EXPECT_EQ(Walk(t).size(), 5u);
}

TEST(Pack, OemMemoBytesMoveUntranslated) {
    FiveRecords f(0x83);
    // a CP866 box-drawing byte that has no counterpart in CP1251
    std::string memo = ReadFile(f.memo);
    memo[1024] = '\xB3';
    WriteFile(f.memo, memo);
    THXSmartDBF t;
    t.SetDBFFileName(f.dbf);
    t.AccessMode().SetAccessMode(2);
    t.SetOEM(true);
    t.Open();
    t.Pack(true);
    t.Close();
    EXPECT_EQ(ReadFile(f.memo).substr(512, 7), "\xB3" "emo 1\x1A");
}

TEST(Pack, KeepsOnlyRecordsFlaggedWithASpace) {
    testutil::TempDir dir;
    std::string dbf = dir.File("k.dbf");
    WriteFile(dbf, BuildDbf(0x03, {{"A", 'C', 2}}, {" aa", std::string("\0bb", 3), "*cc", " dd", "#ee"}));
    THXSmartDBF t;
    t.SetDBFFileName(dbf);
    t.AccessMode().SetAccessMode(2);
    t.SetBufferSize(6);  // two records per chunk: the writes trail the reads
    t.Open();
    t.Pack();
    t.Close();
    std::string file = ReadFile(dbf);
    EXPECT_EQ(file.substr(file.size() - 7), " aa dd\x1A");
    EXPECT_EQ(file[4], 2);
}

TEST(Pack, EmptyAndUnchangedTables) {
    testutil::TempDir dir;
    std::string dbf = dir.File("e.dbf");
    std::string empty = BuildDbf(0x03, {{"A", 'C', 2}}, {});
    WriteFile(dbf, empty);
    THXSmartDBF t;
    t.SetDBFFileName(dbf);
    t.AccessMode().SetAccessMode(2);
    t.Open();
    t.Pack();
    EXPECT_EQ(ReadFile(dbf), empty.substr(0, empty.size() - 1));  // cut at the header length
    t.Close();
    std::string full = BuildDbf(0x03, {{"A", 'C', 2}}, {" aa", " bb"});
    WriteFile(dbf, full);
    t.Open();
    t.Pack();
    EXPECT_EQ(ReadFile(dbf), full.substr(0, full.size() - 1));  // the 0x1A is gone until close
    t.Close();
    EXPECT_EQ(ReadFile(dbf), full);
}

// The first write of a pack failing for want of space: the message says so, the table is as
// it was and stays open.
TEST(Pack, FailedWriteRaises) {
    TMemEnv env;
    env.AddDirectory("/tmp");
    std::string bytes = BuildDbf(0x03, {{"A", 'C', 2}}, {"*aa", " bb"});
    env.SetContents("/d/t.dbf", bytes);
    THXSmartDBF t;
    t.SetEnv(env);
    t.SetDBFFileName("/d/t.dbf");
    t.AccessMode().SetAccessMode(2);
    t.Open();
    env.FailNth(TEnvOp::Write, 1, ENOSPC);
    try {
        t.Pack();
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "THXSmartDBF: " + std::string(std::strerror(ENOSPC)));
    }
    EXPECT_TRUE(t.Active());
    EXPECT_EQ(env.Contents("/d/t.dbf"), bytes);
    EXPECT_EQ(env.Files().size(), 1u);  // no temporary file left
}

TEST(Pack, RecordSizeTooLargeAndHeaderLockRefused) {
    testutil::TempDir dir;
    std::string dbf = dir.File("l.dbf");
    WriteFile(dbf, BuildDbf(0x03, {{"A", 'C', 20}}, {" aaaaaaaaaaaaaaaaaaaa"}));
    {
        THXSmartDBF t;
        t.SetDBFFileName(dbf);
        t.AccessMode().SetAccessMode(2);
        t.Open();
        t.SetBufferSize(10);
        try {
            t.Pack();
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "THXSmartDBF.Pack: Record size too large");
        }
    }
    std::string before = ReadFile(dbf);
    THXSmartDBF t;
    t.SetDBFFileName(dbf);
    t.AccessMode().SetAccessMode(0x42);  // read/write, shared: locks count
    t.SetLockProtocol(lpClipperLock);
    t.SetWaitBusyRes(1);
    t.Open();
    THandle other = FileOpen(dbf, faReadWrite, TShareLock::None);
    ASSERT_NE(other, kInvalidHandle);
    ASSERT_TRUE(FileLockRange(other, 1000000000u, 1, true));
    try {
        t.Pack();
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "THXSmartDBF.Pack: Can not lock DBF header.");
    }
    FileClose(other);
    t.Close();
    EXPECT_EQ(ReadFile(dbf), before);
}

}  // namespace
}  // namespace zarbel
