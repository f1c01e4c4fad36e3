// The outer sorters' files and buffers: writes never larger than BufferSize, buffer memory
// within (paths + 1) buffers, temporary files in TmpPath and gone when the sorter is, and
// gone at once when creating, writing or reading one fails.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "index/HXMergeSorters.h"
#include "platform/exception.h"
#include "platform/mem_env.h"
#include "sorter_keys.h"
#include "testutil/platform_helpers.h"
#include "testutil/temp_dir.h"

using namespace zarbel;
using namespace zarbel::sortertest;

namespace {

const THXSorterClass kOuter[] = {scMerge, sc4PathMerge, sc8PathMerge};

THXSorterParams OuterParams(const TKeys& k, TEnv& env, int bufferSize) {
    THXSorterParams p;
    p.Capacity = static_cast<int>(k.Keys.size());
    p.KeySize = k.KeySize;
    p.Env = &env;
    p.Outer.SetTmpPath("/sort");
    p.Outer.SetSortItemPerInnerSorter(500);
    p.Outer.SetBufferSize(bufferSize);
    return p;
}

TEST(OuterSorter, StaysWithinItsBuffersAndRemovesItsFiles) {
    const TKeys k = TextKeys(20000, 21, "ABCDEFGH");
    const int bufferSize = 16 * 10 + 5;  // 10 items of 16 bytes
    for (THXSorterClass c : kOuter) {
        for (bool unique : {false, true}) {
            TMemEnv env;
            env.AddDirectory("/sort/");
            std::vector<std::string> trace;
            env.Trace = &trace;
            {
                THXSorterParams p = OuterParams(k, env, bufferSize);
                p.Unique = unique;
                auto s = CreateSorter(c, p);
                auto& m = static_cast<THXMergeSorter&>(*s);
                AddAll(*s, k);
                s->Sort();
                EXPECT_EQ(Walk(*s, k), Reference(k, THXKeyOrder().Comparison(), unique));
                EXPECT_LE(m.PeakBufferBytes(), std::int64_t{m.Paths() + 1} * bufferSize);
                EXPECT_GT(m.PeakBufferBytes(), 0);
                // 40 runs spilled; each merge pass writes ceil(runs / paths) more.
                EXPECT_GT(m.RunsWritten(), 40);
                EXPECT_FALSE(env.Files().empty());
                for (const auto& [name, bytes] : env.Files()) EXPECT_EQ(name.rfind("/sort/HXT", 0), 0u) << name;
            }
            EXPECT_TRUE(env.Files().empty()) << SorterClassName(c);
            ASSERT_FALSE(trace.empty());
            for (const std::string& t : trace) {
                const std::int64_t bytes = std::stoll(t.substr(t.rfind('+') + 1));
                EXPECT_LE(bytes, 160) << t;
            }
        }
    }
}

// Every kind of file failure, at several points of the spills and merges: the message says
// what failed and why, and no temporary file is left behind even before the sorter dies.
TEST(OuterSorter, FileFailuresLeaveNoTemporaryFiles) {
    const TKeys k = TextKeys(6000, 22, "ABCDEFGH");
    struct {
        TEnvOp Op;
        int Nth;
        const char* What;
    } faults[] = {{TEnvOp::Create, 1, "Can not create"}, {TEnvOp::Create, 2, "Can not create"},
                  {TEnvOp::Open, 1, "Can not open"},     {TEnvOp::Write, 1, "Can not write"},
                  {TEnvOp::Write, 40, "Can not write"},  {TEnvOp::Write, 700, "Can not write"},
                  {TEnvOp::Read, 1, "Can not read"},     {TEnvOp::Read, 300, "Can not read"}};
    for (THXSorterClass c : kOuter) {
        for (const auto& f : faults) {
            TMemEnv env;
            env.AddDirectory("/sort/");
            auto s = CreateSorter(c, OuterParams(k, env, 16 * 10));
            env.FailNth(f.Op, f.Nth, ENOSPC);
            const std::string message = testutil::Message([&] {
                AddAll(*s, k);
                s->Sort();
                for (bool end = s->First(); !end; end = s->Next()) {
                }
            });
            const std::string where = std::string(SorterClassName(c)) + " " + f.What + " #" + std::to_string(f.Nth);
            EXPECT_EQ(message.rfind(std::string(SorterClassName(c)) + ": " + f.What + " temporary file \"/sort/HXT", 0),
                      0u)
                << where << ": " << message;
            EXPECT_NE(message.find("No space left on device"), std::string::npos) << message;
            EXPECT_TRUE(env.Files().empty()) << where;
            // The spilled runs are gone: the sorter refuses to give a partial result.
            const std::string refused = testutil::Message([&] { s->First(); });
            EXPECT_NE(refused.find("clear the sorter first"), std::string::npos) << where << ": " << refused;
            s->Clear();
            env.ClearFaults();
            AddAll(*s, k);
            s->Sort();
            EXPECT_EQ(Walk(*s, k), Reference(k, THXKeyOrder().Comparison(), false)) << where;
        }
    }
}

// On the host's file system: the files go to TmpPath while the sorter works and are gone
// after it; the whole order survives the real reads and writes.
TEST(OuterSorter, HostFilesInTmpPath) {
    testutil::TempDir dir;
    const TKeys k = TextKeys(20000, 23, "ABCDEFGH");
    THXSorterParams p = OuterParams(k, TEnv::Default(), 4096);
    p.Outer.SetTmpPath(dir.path());
    {
        THX8PathMergeSorter s(p);
        AddAll(s, k);
        s.Sort();
        EXPECT_EQ(dir.Names().size(), 1u);  // 40 runs merged once into 5; the spill file is gone
        EXPECT_EQ(Walk(s, k), Reference(k, THXKeyOrder().Comparison(), false));
    }
    EXPECT_TRUE(dir.Names().empty());
}

}  // namespace
