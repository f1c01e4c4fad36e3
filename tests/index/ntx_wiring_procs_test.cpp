// Two processes appending to one table with one open index under the Clipper lock protocol:
// every key arrives exactly once and the index verifies.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "ntx_wiring_util.h"
#include "platform/exception.h"
#include "testutil/temp_dir.h"

namespace zarbel {
namespace {

using namespace wiringtest;

// Appends n records named <tag><number> to the table with its index; 0 when all went in.
int Appender(const std::string& table, const std::string& ntx, char tag, int n) {
    try {
        THXDBFNTX t;
        t.SetDBFFileName(table);
        t.AccessMode().SetAccessMode(kShared);
        t.SetWaitBusyRes(1000000);  // wait for the other appender rather than fail
        t.SetFastPostRecord(true);
        THXNTXIndex& ix = t.Indexes().Add();
        ix.SetNTXFileName(ntx);
        t.Open();
        for (int i = 0; i < n; ++i) {
            t.Append();
            t.FieldByName("NAME").SetAsString(std::string(1, tag) + std::to_string(i));
            t.Post();
        }
        t.Close();
        return 0;
    } catch (const Exception& e) {
        std::fprintf(stderr, "appender %c: %s\n", tag, e.Message().c_str());
        return 1;
    }
}

TEST(NtxWiringProcesses, TwoAppendersLoseAndDuplicateNoKey) {
    testutil::TempDir dir;
    const std::string table = dir.File("P.DBF"), ntx = dir.File("P.NTX");
    CreateTable(table, xClipper);
    {
        THXDBFNTX t;
        t.SetDBFFileName(table);
        t.Open();
        NewIndex(t, ntx, "NAME");
    }
    constexpr int kEach = 2000;
    pid_t kids[2];
    for (int k = 0; k < 2; ++k) {
        kids[k] = fork();
        ASSERT_GE(kids[k], 0);
        if (kids[k] == 0) _exit(Appender(table, ntx, k ? 'B' : 'A', kEach));
    }
    for (pid_t pid : kids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    THXDBFNTX t;
    t.SetDBFFileName(table);
    THXNTXIndex& ix = t.Indexes().Add();
    ix.SetNTXFileName(ntx);
    t.Open();
    EXPECT_EQ(t.RecordCount(), 2 * kEach);
    EXPECT_NO_THROW(ix.VerifyIndex());  // every record's key, and as many keys as records
    std::map<std::string, int> seen;
    for (bool ok = ix.First(); ok; ok = ix.Next()) ++seen[ix.CurrentKey()];
    EXPECT_EQ(seen.size(), 2u * kEach);
    for (const auto& [key, n] : seen) EXPECT_EQ(n, 1) << key;
}

}  // namespace
}  // namespace zarbel
