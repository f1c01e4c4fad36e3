// File access layer: access-mode bits, every storage type, share modes, LoadFromFile,
// outer-stream lock events, byte-range locks and temporary names.
#include <gtest/gtest.h>

#include <limits>

#include <sys/stat.h>

#include <cstring>

#include "engine/HXDBFMemMgr.h"
#include "engine/HXDBFPrx.h"
#include "test_util.h"

using namespace zarbel;
using zarbel::test::TempDir;

TEST(AccessMode, BitsAndCachedValue) {
    TAccessMode m;
    EXPECT_EQ(m.CachedAccessMode(), 0u);
    EXPECT_EQ(m.AccessMode(), 0x10u);
    EXPECT_EQ(m.CachedAccessMode(), 0x10u);
    EXPECT_TRUE(m.NoSharing());

    m.SetAccessMode(2);
    EXPECT_EQ(m.CachedAccessMode(), 0x10u);  // writing does not refresh the cache
    EXPECT_EQ(m.AccessMode(), 2u);
    EXPECT_TRUE(m.OpenRead());
    EXPECT_FALSE(m.OpenWrite());
    EXPECT_TRUE(m.OpenReadWrite());
    EXPECT_FALSE(m.ShareExclusive());
    EXPECT_TRUE(m.NoSharing());  // share bits 0x00 keep other writers out too
    EXPECT_TRUE(m.KeepsWritersOut());
    m.SetAccessMode(0x42);
    m.AccessMode();
    EXPECT_FALSE(m.NoSharing());
    EXPECT_FALSE(m.KeepsWritersOut());
    m.SetAccessMode(0x32);  // others may write: the protocols still skip their locks
    m.AccessMode();
    EXPECT_TRUE(m.NoSharing());
    EXPECT_FALSE(m.KeepsWritersOut());
    m.SetAccessMode(2);

    m.SetOpenRead(false);
    m.SetAccessMode(0xFF);
    EXPECT_TRUE(m.OpenRead());
    EXPECT_EQ(m.AccessMode(), 0x73u);  // bits 2, 3 and 7 are ignored
    m.SetAccessMode(0x20);
    EXPECT_EQ(m.AccessMode(), 0x20u);
    EXPECT_TRUE(m.NoSharing());
    m.SetAccessMode(0x42);
    EXPECT_EQ(m.AccessMode(), 0x42u);
    EXPECT_FALSE(m.NoSharing());
}

namespace {

// Runs the same script over any storage type: write, seek, read, size, cut, close, reopen.
void ExerciseStorage(TProxyStream& p) {
    p.CreateProxyStream();
    ASSERT_TRUE(p.IsOpen());
    EXPECT_EQ(p.GetFileSize(), 0);
    EXPECT_EQ(p.Write("hello, world", 12), 12);
    EXPECT_EQ(p.GetFileSize(), 12);
    EXPECT_EQ(p.Seek(7, soBeginning), 7);
    char buf[16] = {};
    EXPECT_EQ(p.Read(buf, 16), 5);
    EXPECT_EQ(std::string(buf, 5), "world");
    EXPECT_EQ(p.Read(buf, 16), 0);
    EXPECT_EQ(p.Seek(-5, soEnd), 7);
    EXPECT_EQ(p.Seek(-2, soCurrent), 5);
    EXPECT_TRUE(p.SetEndOfFile());
    EXPECT_EQ(p.GetFileSize(), 5);
    EXPECT_EQ(p.Seek(0, soCurrent), 5);  // the size query leaves the position alone
    EXPECT_TRUE(p.WriteAt(3, "LO!", 3));
    EXPECT_TRUE(p.ReadAt(0, buf, 6));
    EXPECT_EQ(std::string(buf, 6), "helLO!");
    EXPECT_FALSE(p.ReadAt(0, buf, 7));
    EXPECT_EQ(p.Seek(-1, soBeginning), -1);
    p.Close();
    EXPECT_FALSE(p.IsOpen());
    p.OpenProxyStream();
    ASSERT_TRUE(p.IsOpen());
    EXPECT_EQ(p.Seek(0, soCurrent), 0);
    EXPECT_EQ(p.Read(buf, 16), 6);
    EXPECT_EQ(std::string(buf, 6), "helLO!");
}

}  // namespace

TEST(ProxyStream, DiskFileStorage) {
    TempDir d;
    TProxyStream p;
    p.SetFileName(d.File("t.dbf"));
    p.AccessMode().SetAccessMode(2);
    ExerciseStorage(p);
    p.Close();
    EXPECT_EQ(zarbel::test::ReadFile(d.File("t.dbf")), "helLO!");
}

TEST(ProxyStream, InnerStreamStorageKeepsBytesAcrossCloseAndReopen) {
    TProxyStream p;
    p.SetProxyStreamType(pstInnerStream);
    EXPECT_FALSE(p.IsOpen());
    ExerciseStorage(p);
    EXPECT_EQ(p.InnerStream().Size(), 6);
    EXPECT_TRUE(p.Lock(1000000000, 1));
    EXPECT_TRUE(p.Unlock(1000000000, 1));
    EXPECT_EQ(p.PlatformLockCalls(), 0u);
}

TEST(ProxyStream, OuterStreamStorage) {
    TMemoryStream outer;
    {
        TProxyStream p;
        p.SetProxyStreamType(pstOuterStream);
        p.OpenProxyStream();
        EXPECT_FALSE(p.IsOpen());  // no stream supplied
        p.SetOuterStream(&outer);
        ExerciseStorage(p);
    }
    // The proxy never frees the application's stream.
    EXPECT_EQ(outer.Size(), 6);
    EXPECT_EQ(std::memcmp(outer.Memory(), "helLO!", 6), 0);
}

TEST(ProxyStream, OuterStreamLockEvents) {
    TMemoryStream outer;
    TProxyStream p;
    p.SetProxyStreamType(pstOuterStream);
    p.SetOuterStream(&outer);
    p.OpenProxyStream();
    EXPECT_TRUE(p.Lock(5, 1));  // no handler: success
    EXPECT_TRUE(p.Unlock(5, 1));

    int calls = 0;
    p.OnLockEvent = [&](TProxyStream* sender, TProxyStreamType type, TStream* stream, bool&) {
        ++calls;
        EXPECT_EQ(sender, &p);
        EXPECT_EQ(type, pstOuterStream);
        EXPECT_EQ(stream, &outer);
    };
    EXPECT_FALSE(p.Lock(5, 1));  // the handler left the flag alone
    EXPECT_EQ(calls, 1);
    p.OnLockEvent = [](TProxyStream*, TProxyStreamType, TStream*, bool& ok) { ok = true; };
    EXPECT_TRUE(p.Lock(5, 1));
    p.OnUnlockEvent = [](TProxyStream*, TProxyStreamType, TStream*, bool&) {};
    EXPECT_FALSE(p.Unlock(5, 1));
    p.OnUnlockEvent = [](TProxyStream*, TProxyStreamType, TStream*, bool& ok) { ok = true; };
    EXPECT_TRUE(p.Unlock(5, 1));
}

TEST(ProxyStream, InvalidModesAndMissingFilesLeaveItClosed) {
    TempDir d;
    zarbel::test::WriteFile(d.File("a.dbf"), "abc");
    TProxyStream p;
    p.SetFileName(d.File("a.dbf"));
    for (std::uint32_t v : {0x50u, 0x03u, 0x13u, 0x60u, 0x70u}) {
        p.AccessMode().SetAccessMode(v);
        p.OpenProxyStream();
        EXPECT_FALSE(p.IsOpen()) << v;
    }
    for (std::uint32_t v : {0x00u, 0x01u, 0x10u, 0x20u, 0x30u, 0x40u, 0x42u}) {
        p.AccessMode().SetAccessMode(v);
        p.OpenProxyStream();
        EXPECT_TRUE(p.IsOpen()) << v;
        EXPECT_EQ(p.AccessMode().CachedAccessMode(), v);  // the open read the value
        p.Close();
    }
    p.SetFileName(d.File("missing.dbf"));
    p.AccessMode().SetAccessMode(0x42);
    p.OpenProxyStream();
    EXPECT_FALSE(p.IsOpen());
    EXPECT_EQ(p.Read(nullptr, 0), -1);
    EXPECT_EQ(p.Seek(0, soBeginning), -1);
    EXPECT_EQ(p.GetFileSize(), -1);
    EXPECT_FALSE(p.Lock(0, 1));
    p.SetFileName(d.path());  // a directory is not a table file
    p.OpenProxyStream();
    EXPECT_FALSE(p.IsOpen());
    p.SetFileName(d.File("no/such/dir.dbf"));
    p.CreateProxyStream();
    EXPECT_FALSE(p.IsOpen());
}

TEST(ProxyStream, SecondExclusiveOpenFailsAtOnce) {
    TempDir d;
    zarbel::test::WriteFile(d.File("t.dbf"), "table bytes");
    TProxyStream a, b;
    a.SetFileName(d.File("t.dbf"));
    b.SetFileName(d.File("t.dbf"));
    a.AccessMode().SetAccessMode(2);  // read/write, no sharing (the merge tool's output)
    a.OpenProxyStream();
    ASSERT_TRUE(a.IsOpen());
    for (std::uint32_t v : {0x00u, 0x02u, 0x10u, 0x20u, 0x40u, 0x42u}) {
        b.AccessMode().SetAccessMode(v);
        b.OpenProxyStream();
        EXPECT_FALSE(b.IsOpen()) << v;
    }
    // Creating over a file that another open holds fails and leaves its bytes alone.
    b.CreateProxyStream();
    EXPECT_FALSE(b.IsOpen());
    EXPECT_EQ(zarbel::test::ReadFile(d.File("t.dbf")), "table bytes");
    a.Close();
    b.AccessMode().SetAccessMode(0);
    b.OpenProxyStream();
    EXPECT_TRUE(b.IsOpen());

    // Deny-none opens share the file; an exclusive open then fails.
    b.Close();
    a.AccessMode().SetAccessMode(0x42);
    b.AccessMode().SetAccessMode(0x40);
    a.OpenProxyStream();
    b.OpenProxyStream();
    EXPECT_TRUE(a.IsOpen());
    EXPECT_TRUE(b.IsOpen());
    TProxyStream c;
    c.SetFileName(d.File("t.dbf"));
    c.AccessMode().SetAccessMode(0x12);  // a writer that excludes others
    c.OpenProxyStream();
    EXPECT_FALSE(c.IsOpen());
}

TEST(ProxyStream, ReadersShareAndAWriterExcludesThemWithTheReasonGiven) {
    TempDir d;
    zarbel::test::WriteFile(d.File("t.dbf"), "table bytes");
    // Read-only opens with share bits 0x00, 0x10 and 0x20 (0x00 is how the merge opens its
    // sources) all coexist.
    TProxyStream r0, r1, r2, w;
    for (TProxyStream* p : {&r0, &r1, &r2, &w}) p->SetFileName(d.File("t.dbf"));
    r0.AccessMode().SetAccessMode(0x00);
    r1.AccessMode().SetAccessMode(0x10);
    r2.AccessMode().SetAccessMode(0x20);
    for (TProxyStream* p : {&r0, &r1, &r2}) {
        p->OpenProxyStream();
        EXPECT_TRUE(p->IsOpen());
    }
    // A writer's exclusive open is kept out while they read, and says why.
    w.AccessMode().SetAccessMode(0x02);
    w.OpenProxyStream();
    EXPECT_FALSE(w.IsOpen());
    EXPECT_EQ(w.OpenError(), kFileLockedElsewhere);
    EXPECT_EQ(w.OpenFailureNote(), " (locked by another process)");
    for (TProxyStream* p : {&r0, &r1, &r2}) p->Close();
    w.OpenProxyStream();
    ASSERT_TRUE(w.IsOpen());
    EXPECT_EQ(w.OpenFailureNote(), "");
    // ...and keeps them out in turn.
    r0.OpenProxyStream();
    EXPECT_FALSE(r0.IsOpen());
    EXPECT_EQ(r0.OpenFailureNote(), " (locked by another process)");
}

TEST(ProxyStream, ByteRangeLocksConflictBetweenHandlesOfOneProcess) {
    TempDir d;
    zarbel::test::WriteFile(d.File("t.dbf"), "x");
    TProxyStream a, b, r;
    for (TProxyStream* p : {&a, &b, &r}) p->SetFileName(d.File("t.dbf"));
    a.AccessMode().SetAccessMode(0x42);
    b.AccessMode().SetAccessMode(0x42);
    r.AccessMode().SetAccessMode(0x40);  // read-only handle
    a.OpenProxyStream();
    b.OpenProxyStream();
    r.OpenProxyStream();
    ASSERT_TRUE(a.IsOpen() && b.IsOpen() && r.IsOpen());

    for (std::uint32_t off : {0u, 1000000005u, 0x7FFFFFF9u, 0xEFFFFFF9u, 0xEFFFFFFFu, 0xFFFFFFFFu}) {
        EXPECT_TRUE(a.Lock(off, 1)) << off;
        EXPECT_FALSE(b.Lock(off, 1)) << off;
        EXPECT_FALSE(r.Lock(off, 1)) << off;
        EXPECT_TRUE(b.Lock(off + 1u == 0 ? 1u : off - 1u, 1)) << off;  // a neighbouring byte is free
        EXPECT_TRUE(a.Unlock(off, 1));
        EXPECT_TRUE(b.Lock(off, 1));
        EXPECT_TRUE(b.Unlock(off, 1));
        EXPECT_TRUE(b.Unlock(off + 1u == 0 ? 1u : off - 1u, 1));
    }
    // A read-only handle's lock still keeps writers out.
    EXPECT_TRUE(r.Lock(77, 1));
    EXPECT_FALSE(a.Lock(77, 1));
    EXPECT_TRUE(r.Unlock(77, 1));
    EXPECT_TRUE(a.Lock(77, 1));
    // Closing the handle releases its locks.
    a.Close();
    EXPECT_TRUE(b.Lock(77, 1));
    EXPECT_FALSE(b.Lock(77, 0));  // an empty range is refused
    EXPECT_GT(b.PlatformLockCalls(), 0u);
}

TEST(ProxyStream, PositionsBeyondFourGigabytesDoNotWrap) {
    TempDir d;
    TProxyStream p;
    p.SetFileName(d.File("big.dbf"));
    p.CreateProxyStream();
    ASSERT_TRUE(p.IsOpen());
    const std::int64_t far = 0x100000005LL;  // 4 GiB + 5: a wrapped 32-bit position would be 5
    ASSERT_EQ(p.Seek(far, soBeginning), far);
    ASSERT_EQ(p.Write("Z", 1), 1);  // sparse file
    EXPECT_EQ(p.GetFileSize(), far + 1);
    char c = 0;
    EXPECT_TRUE(p.ReadAt(far, &c, 1));
    EXPECT_EQ(c, 'Z');
    EXPECT_TRUE(p.ReadAt(5, &c, 1));
    EXPECT_EQ(c, 0);
}

TEST(ProxyStream, LoadFromFileForEveryStorage) {
    TempDir d;
    std::string content(150000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    zarbel::test::WriteFile(d.File("src.tmp"), content);
    zarbel::test::WriteFile(d.File("empty.tmp"), "");
    const int blocksBefore = HXDBFMemMgr().Count();

    TProxyStream f;
    f.SetFileName(d.File("t.dbf"));
    f.CreateProxyStream();
    f.Write("old contents that are longer", 28);
    ASSERT_TRUE(f.LoadFromFile(d.File("src.tmp")));
    EXPECT_TRUE(f.IsOpen());
    EXPECT_EQ(f.GetFileSize(), 150000);
    EXPECT_EQ(f.Seek(0, soCurrent), 0);
    f.Close();
    EXPECT_EQ(zarbel::test::ReadFile(d.File("t.dbf")), content);
    f.AccessMode().SetAccessMode(2);
    f.OpenProxyStream();
    ASSERT_TRUE(f.LoadFromFile(d.File("empty.tmp")));
    EXPECT_EQ(f.GetFileSize(), 0);
    EXPECT_EQ(f.Seek(0, soCurrent), 0);
    EXPECT_FALSE(f.LoadFromFile(d.File("missing.tmp")));
    EXPECT_EQ(HXDBFMemMgr().Count(), blocksBefore);  // the copy buffer went back

    TProxyStream in;
    in.SetProxyStreamType(pstInnerStream);
    ASSERT_TRUE(in.LoadFromFile(d.File("src.tmp")));
    EXPECT_FALSE(in.IsOpen());  // the open state is not changed
    in.OpenProxyStream();
    EXPECT_EQ(in.GetFileSize(), 150000);
    EXPECT_EQ(std::memcmp(in.InnerStream().Memory(), content.data(), content.size()), 0);
    EXPECT_FALSE(in.LoadFromFile(d.File("missing.tmp")));
    EXPECT_EQ(in.GetFileSize(), 150000);

    TMemoryStream outer;
    outer.Write("previous", 8);
    TProxyStream out;
    out.SetProxyStreamType(pstOuterStream);
    out.SetOuterStream(&outer);
    ASSERT_TRUE(out.LoadFromFile(d.File("src.tmp")));
    EXPECT_EQ(outer.Size(), 150000);
    EXPECT_EQ(outer.Position(), 0);
    ASSERT_TRUE(out.LoadFromFile(d.File("empty.tmp")));
    EXPECT_EQ(outer.Size(), 0);
}

TEST(ProxyStream, TempNames) {
    TempDir d;
    std::string a = GetTempName(TEnv::Default(), d.path());
    std::string b = GetTempName(TEnv::Default(), d.path() + "/");
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind(d.path() + "/HXT", 0), 0u) << a;
    struct stat st {};
    ASSERT_EQ(stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    std::string s = GetTempName(TEnv::Default(), "SYSTEM_TMP_PATH");
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s.rfind(TEnv::Default().TempDirectory() + "HXT", 0), 0u) << s;
    std::remove(s.c_str());
    EXPECT_EQ(GetTempName(TEnv::Default(), d.File("missing")), "");
}

TEST(MemoryStream, SeekPastEndWriteFillsWithZerosAndSetSizeClampsPosition) {
    TMemoryStream m;
    EXPECT_EQ(m.Seek(4, soBeginning), 4);
    EXPECT_EQ(m.Read(nullptr, 1), 0);
    EXPECT_EQ(m.Write("ab", 2), 2);
    EXPECT_EQ(m.Size(), 6);
    EXPECT_EQ(m.Memory()[0], 0);
    EXPECT_TRUE(m.SetSize(3));
    EXPECT_EQ(m.Position(), 3);
    EXPECT_FALSE(m.SetSize(-1));
    EXPECT_EQ(m.Seek(0, 7), -1);
    TMemoryStream copy;
    EXPECT_TRUE(copy.LoadFromStream(m));
    EXPECT_EQ(copy.Size(), 3);
}

// An opened disk file serves the bytes it had at its start through a shared view: what is
// written there is in the file at once for every other reader, reads see other writers' bytes,
// and cutting the file keeps writes past the cut on the host (they extend the file again).
TEST(ProxyStream, MappedHeadIsTheFileItself) {
    TempDir d;
    const std::string name = d.File("h.bin");
    zarbel::test::WriteFile(name, std::string(100, 'a'));
    TProxyStream p;
    p.SetFileName(name);
    p.AccessMode().SetAccessMode(0x42);
    p.OpenProxyStream();
    ASSERT_TRUE(p.IsOpen());
    EXPECT_EQ(p.MappedHeadLength(), 100);

    EXPECT_EQ(p.PWrite(10, "XY", 2), 2);
    EXPECT_EQ(zarbel::test::ReadFile(name).substr(8, 6), "aaXYaa");  // another open sees it
    TProxyStream other;
    other.SetFileName(name);
    other.AccessMode().SetAccessMode(0x42);
    other.OpenProxyStream();
    ASSERT_TRUE(other.IsOpen());
    ASSERT_EQ(other.PWrite(20, "QQ", 2), 2);
    char buf[4] = {};
    EXPECT_EQ(p.PRead(19, buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "aQQa");
    // a position whose sum with the count passes the largest one is no place in the head
    const std::int64_t far = std::numeric_limits<std::int64_t>::max();
    EXPECT_LE(p.PRead(far, buf, 4), 0);
    EXPECT_LE(p.PWrite(far - 1, "ZZZZ", 4), 0);
    // a transfer that runs past the bytes the view serves goes to the host
    EXPECT_EQ(p.PWrite(98, "1234", 4), 4);
    EXPECT_EQ(p.GetFileSize(), 102);
    EXPECT_EQ(p.PRead(96, buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "aa12");

    // cut to 30 bytes: a write at 40 extends the file (zeros between) instead of vanishing
    ASSERT_EQ(p.Seek(30, soBeginning), 30);
    ASSERT_TRUE(p.SetEndOfFile());
    EXPECT_EQ(p.MappedHeadLength(), 30);
    EXPECT_EQ(p.PWrite(40, "Z", 1), 1);
    std::string bytes = zarbel::test::ReadFile(name);
    ASSERT_EQ(bytes.size(), 41u);
    EXPECT_EQ(bytes.substr(28, 13), std::string("aa") + std::string(10, '\0') + "Z");
    EXPECT_EQ(p.PRead(35, buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), std::string(4, '\0'));
    p.Close();
    EXPECT_EQ(p.MappedHeadLength(), 0);

    // read only: the view reads, but a write still fails as it does on the host
    TProxyStream r;
    r.SetFileName(name);
    r.AccessMode().SetAccessMode(0x40);
    r.OpenProxyStream();
    ASSERT_TRUE(r.IsOpen());
    EXPECT_EQ(r.MappedHeadLength(), 41);
    EXPECT_EQ(r.PRead(10, buf, 2), 2);
    EXPECT_EQ(std::string(buf, 2), "XY");
    EXPECT_EQ(r.PWrite(10, "no", 2), -1);
    EXPECT_EQ(zarbel::test::ReadFile(name).substr(10, 2), "XY");
    // an empty file has nothing to map
    zarbel::test::WriteFile(d.File("e.bin"), "");
    TProxyStream e;
    e.SetFileName(d.File("e.bin"));
    e.AccessMode().SetAccessMode(0x42);
    e.OpenProxyStream();
    ASSERT_TRUE(e.IsOpen());
    EXPECT_EQ(e.MappedHeadLength(), 0);
    EXPECT_EQ(e.PWrite(0, "abc", 3), 3);
    EXPECT_EQ(zarbel::test::ReadFile(d.File("e.bin")), "abc");
}
