// Locking protocols: offsets, retries, the no-sharing rule, the locked-record list, the
// header re-read, conflicts between objects and between processes.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "engine/HXDBFLocks.h"
#include "engine/HXDBFPrx.h"
#include "platform/exception.h"
#include "test_util.h"

using namespace zarbel;
using zarbel::test::TempDir;

TEST(LockOffsets, EveryProtocol) {
    struct Row { LockProtocolType p; std::uint32_t header, rec5, memo, index; };
    const Row rows[] = {
        {lpDB4Lock, 0xEFFFFFFFu, 0xEFFFFFF9u, 0xEFFFFFFFu, 0xEFFFFFFFu},
        {lpClipperLock, 1000000000u, 1000000005u, 1000000000u, 1000000000u},
        {lpFoxLock, 0x7FFFFFFEu, 0x7FFFFFF9u, 0x40000000u, 0x7FFFFFFEu},
        {lpClipperForFoxLob, 0u, 5u, 0u, 0u},
    };
    for (const Row& r : rows) {
        TLockRange h = LockRangeFor(r.p, TLockTarget::Header);
        TLockRange rec = LockRangeFor(r.p, TLockTarget::Record, 5);
        TLockRange m = LockRangeFor(r.p, TLockTarget::Memo);
        TLockRange i = LockRangeFor(r.p, TLockTarget::Index);
        for (const TLockRange* x : {&h, &rec, &m, &i}) EXPECT_EQ(x->kind, TLockRange::Byte);
        EXPECT_EQ(h.Offset, r.header) << int(r.p);
        EXPECT_EQ(rec.Offset, r.rec5) << int(r.p);
        EXPECT_EQ(m.Offset, r.memo) << int(r.p);
        EXPECT_EQ(i.Offset, r.index) << int(r.p);
    }
    EXPECT_EQ(LockRangeFor(lpNone, TLockTarget::Record, 5).kind, TLockRange::NoLock);
    EXPECT_EQ(LockRangeFor(static_cast<LockProtocolType>(9), TLockTarget::Header).kind, TLockRange::Invalid);
    // Offsets wrap modulo 2^32.
    EXPECT_EQ(LockRangeFor(lpClipperLock, TLockTarget::Record, 0xFFFFFFFFu).Offset, 999999999u);
    EXPECT_EQ(LockRangeFor(lpFoxLock, TLockTarget::Record, 0x80000000u).Offset, 0xFFFFFFFEu);
}

namespace {

// A table file shared by several lock states, each with its own deny-none read/write proxy.
struct SharedTable {
    TProxyStream File;
    TAccessMode Mode;
    TDBFHeader Header;
    THXDBFLockState Locks;

    SharedTable(const std::string& name, LockProtocolType p, std::uint32_t access = 0x42) {
        File.SetFileName(name);
        File.AccessMode().SetAccessMode(access);
        File.OpenProxyStream();
        Mode.SetAccessMode(access);
        Mode.AccessMode();  // the table reads its mode at open, which fills the cache
        Locks.Bind(&File, &Mode, &Header);
        Locks.SetLockProtocol(p, false);
        Locks.SetLobLockProtocol(p, false);
        Locks.Reset();
    }
};

std::string MakeTable(const TempDir& d) {
    std::string bytes(64, '\0');
    bytes[0] = 0x03;
    bytes[4] = 7;  // record count
    bytes[8] = 34;
    zarbel::test::WriteFile(d.File("t.dbf"), bytes);
    return d.File("t.dbf");
}

}  // namespace

TEST(Locks, TwoObjectsInOneProcessConflict) {
    TempDir d;
    std::string name = MakeTable(d);
    for (LockProtocolType p : {lpDB4Lock, lpClipperLock, lpFoxLock, lpClipperForFoxLob}) {
        SharedTable a(name, p), b(name, p);
        ASSERT_TRUE(a.File.IsOpen() && b.File.IsOpen());
        b.Locks.SetWaitBusyRes(2);
        EXPECT_TRUE(a.Locks.RecordLock(5));
        EXPECT_FALSE(b.Locks.RecordLock(5)) << int(p);
        EXPECT_TRUE(b.Locks.RecordLock(6)) << int(p);
        EXPECT_TRUE(b.Locks.LockedRecords() == std::vector<std::uint32_t>{6});
        EXPECT_TRUE(a.Locks.HeaderLock());
        EXPECT_FALSE(b.Locks.HeaderLock()) << int(p);
        EXPECT_FALSE(b.Locks.IsHeaderLocked());
        EXPECT_TRUE(a.Locks.HeaderUnlock());
        EXPECT_FALSE(a.Locks.IsHeaderLocked());
        EXPECT_TRUE(b.Locks.HeaderLock());
        EXPECT_TRUE(a.Locks.RecordUnlock(5));
        EXPECT_TRUE(b.Locks.RecordLock(5));
        EXPECT_TRUE(b.Locks.HeaderUnlock());
        EXPECT_TRUE(b.Locks.RecordUnlock(5));
        EXPECT_TRUE(b.Locks.RecordUnlock(6));
        EXPECT_TRUE(b.Locks.LockedRecords().empty());
    }
}

TEST(Locks, MemoAndIndexLocksConflictAndTrackTheirFlags) {
    TempDir d;
    std::string name = MakeTable(d);
    zarbel::test::WriteFile(d.File("t.fpt"), std::string(512, '\0'));
    zarbel::test::WriteFile(d.File("t.ntx"), std::string(1024, '\0'));
    SharedTable a(name, lpFoxLock), b(name, lpFoxLock);
    b.Locks.SetWaitBusyRes(1);
    TProxyStream memoA, memoB, ntxA, ntxB;
    for (auto [p, f] : {std::pair{&memoA, "t.fpt"}, {&memoB, "t.fpt"}, {&ntxA, "t.ntx"}, {&ntxB, "t.ntx"}}) {
        p->SetFileName(d.File(f));
        p->AccessMode().SetAccessMode(0x42);
        p->OpenProxyStream();
        ASSERT_TRUE(p->IsOpen());
    }
    EXPECT_TRUE(a.Locks.MemoLock(memoA));
    EXPECT_TRUE(a.Locks.IsMemoLocked());
    EXPECT_TRUE(a.Locks.MemoLock(memoA));  // already held: no second host call
    EXPECT_FALSE(b.Locks.MemoLock(memoB));
    EXPECT_FALSE(b.Locks.IsMemoLocked());
    EXPECT_TRUE(a.Locks.MemoUnlock(memoA));
    EXPECT_FALSE(a.Locks.IsMemoLocked());
    EXPECT_TRUE(b.Locks.MemoLock(memoB));
    EXPECT_TRUE(b.Locks.MemoUnlock(memoB));

    THXDBFIndexLockState ia, ib;
    EXPECT_TRUE(ia.IndexLock(ntxA, a.Locks));
    EXPECT_TRUE(ia.IsIndexLocked());
    EXPECT_FALSE(ib.IndexLock(ntxB, b.Locks));
    EXPECT_FALSE(ib.IsIndexLocked());
    EXPECT_TRUE(ia.IndexUnlock(ntxA, a.Locks));
    EXPECT_FALSE(ia.IsIndexLocked());
    EXPECT_TRUE(ib.IndexLock(ntxB, b.Locks));
    EXPECT_TRUE(ib.IndexUnlock(ntxB, b.Locks));
}

TEST(Locks, WaitBusyResOfOneFailsAfterExactlyOneAttempt) {
    TempDir d;
    std::string name = MakeTable(d);
    SharedTable a(name, lpClipperLock), b(name, lpClipperLock);
    ASSERT_TRUE(a.Locks.RecordLock(5));
    ASSERT_TRUE(a.Locks.HeaderLock());
    for (int n : {1, 0, -3}) {  // at least one attempt is always made
        b.Locks.SetWaitBusyRes(n);
        std::uint64_t before = b.File.PlatformLockCalls();
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_FALSE(b.Locks.RecordLock(5));
        auto elapsed = std::chrono::steady_clock::now() - t0;
        EXPECT_EQ(b.File.PlatformLockCalls() - before, 1u) << n;
        EXPECT_GE(elapsed, std::chrono::microseconds(900));
        EXPECT_LT(elapsed, std::chrono::milliseconds(500));
    }
    b.Locks.SetWaitBusyRes(3);
    std::uint64_t before = b.File.PlatformLockCalls();
    EXPECT_FALSE(b.Locks.HeaderLock());
    EXPECT_EQ(b.File.PlatformLockCalls() - before, 3u);
    EXPECT_TRUE(b.Locks.LockedRecords().empty());
}

TEST(Locks, NoSharingRuleMakesNoHostCallAndKeepsTheListEmpty) {
    TempDir d;
    std::string name = MakeTable(d);
    zarbel::test::WriteFile(d.File("t.dbt"), std::string(512, '\0'));
    for (std::uint32_t access : {0x10u, 0x20u, 0x12u, 0x30u}) {
        SharedTable t(name, lpClipperLock, access);
        ASSERT_TRUE(t.File.IsOpen()) << access;
        TProxyStream memo, ntx;
        memo.SetFileName(d.File("t.dbt"));
        memo.AccessMode().SetAccessMode(access);
        memo.OpenProxyStream();
        ASSERT_TRUE(memo.IsOpen());
        THXDBFIndexLockState ix;
        EXPECT_TRUE(t.Locks.HeaderLock());
        EXPECT_EQ(t.Header.RecordCount(), 7u);  // the header is still read
        EXPECT_TRUE(t.Locks.RecordLock(5));
        EXPECT_TRUE(t.Locks.RecordLock(6));
        EXPECT_TRUE(t.Locks.MemoLock(memo));
        EXPECT_TRUE(ix.IndexLock(memo, t.Locks));
        EXPECT_TRUE(ix.IsIndexLocked());
        EXPECT_TRUE(t.Locks.LockedRecords().empty());
        EXPECT_TRUE(t.Locks.RecordUnlock(5));
        EXPECT_TRUE(t.Locks.MemoUnlock(memo));
        EXPECT_TRUE(ix.IndexUnlock(memo, t.Locks));
        EXPECT_TRUE(t.Locks.HeaderUnlock());
        EXPECT_EQ(t.File.PlatformLockCalls(), 0u) << access;
        EXPECT_EQ(memo.PlatformLockCalls(), 0u) << access;
    }
}

TEST(Locks, RecordLockedTwiceIsUnlockedOnce) {
    TempDir d;
    std::string name = MakeTable(d);
    SharedTable a(name, lpDB4Lock), b(name, lpDB4Lock);
    b.Locks.SetWaitBusyRes(1);
    EXPECT_TRUE(a.Locks.RecordLock(5));
    EXPECT_TRUE(a.Locks.RecordLock(5));
    EXPECT_EQ(a.File.PlatformLockCalls(), 1u);
    EXPECT_TRUE(a.Locks.LockedRecords() == std::vector<std::uint32_t>{5});
    EXPECT_TRUE(a.Locks.RecordUnlock(5));
    EXPECT_TRUE(a.Locks.LockedRecords().empty());
    EXPECT_TRUE(b.Locks.RecordLock(5));
    // An unlock is attempted on the file even for a record not in the list.
    std::uint64_t before = a.File.PlatformLockCalls();
    EXPECT_TRUE(a.Locks.RecordUnlock(9));
    EXPECT_EQ(a.File.PlatformLockCalls() - before, 1u);
}

TEST(Locks, HeaderLockIsNotCountedAndRereadsTheHeaderEveryTime) {
    TempDir d;
    std::string name = MakeTable(d);
    SharedTable a(name, lpClipperLock), b(name, lpClipperLock);
    a.Header.SetRecordCount(123);
    ASSERT_TRUE(a.Locks.HeaderLock());
    EXPECT_EQ(a.Header.RecordCount(), 7u);
    EXPECT_EQ(a.Header.HeaderLength(), 34);
    // Another writer changes the count; the second (already held) lock reads it again.
    std::uint8_t n[4] = {9, 0, 0, 0};
    ASSERT_TRUE(b.File.WriteAt(4, n, 4));
    std::uint64_t calls = a.File.PlatformLockCalls();
    ASSERT_TRUE(a.Locks.HeaderLock());
    EXPECT_EQ(a.File.PlatformLockCalls(), calls);  // no second host lock
    EXPECT_EQ(a.Header.RecordCount(), 9u);
    EXPECT_TRUE(a.Locks.HeaderUnlock());  // the first unlock releases it
    b.Locks.SetWaitBusyRes(1);
    EXPECT_TRUE(b.Locks.HeaderLock());
    EXPECT_TRUE(a.Locks.HeaderUnlock());  // not held: true, nothing unlocked
}

TEST(Locks, ProtocolsCannotChangeWhileActive) {
    THXDBFLockState s;
    EXPECT_EQ(s.LockProtocol(), lpNone);
    EXPECT_EQ(s.LobLockProtocol(), lpNone);
    EXPECT_EQ(s.WaitBusyRes(), 3000);
    try {
        s.SetLockProtocol(lpFoxLock, true);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "THXSmartDBF.SetLockProtocol: Can't change lock protocol while dataset is active!");
    }
    try {
        s.SetLobLockProtocol(lpFoxLock, true);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(),
                  "THXSmartDBF.SetLobLockProtocol: Can't change lock protocol while dataset is active!");
    }
    EXPECT_EQ(s.LockProtocol(), lpNone);
    EXPECT_EQ(s.LobLockProtocol(), lpNone);
    s.SetLockProtocol(lpClipperLock, false);
    EXPECT_EQ(s.LockProtocol(), lpClipperLock);
}

TEST(Locks, NoneSucceedsWithoutHostAndInvalidAlwaysFails) {
    TempDir d;
    std::string name = MakeTable(d);
    SharedTable t(name, lpNone);
    EXPECT_TRUE(t.Locks.HeaderLock());
    EXPECT_TRUE(t.Locks.RecordLock(3));
    EXPECT_TRUE(t.Locks.IsRecordLocked(3));
    EXPECT_TRUE(t.Locks.RecordUnlock(3));
    EXPECT_TRUE(t.Locks.HeaderUnlock());
    EXPECT_EQ(t.File.PlatformLockCalls(), 0u);

    SharedTable bad(name, static_cast<LockProtocolType>(7));
    bad.Locks.SetWaitBusyRes(2);
    EXPECT_FALSE(bad.Locks.HeaderLock());
    EXPECT_FALSE(bad.Locks.RecordLock(3));
    EXPECT_FALSE(bad.Locks.RecordUnlock(3));
    EXPECT_EQ(bad.File.PlatformLockCalls(), 0u);
}

TEST(Locks, OuterStreamLocksGoThroughTheEvent) {
    TMemoryStream outer;
    outer.Write(std::string(32, '\0').data(), 32);
    TProxyStream p;
    p.SetProxyStreamType(pstOuterStream);
    p.SetOuterStream(&outer);
    p.OpenProxyStream();
    TAccessMode mode;
    mode.SetAccessMode(0x42);
    mode.AccessMode();
    TDBFHeader h;
    THXDBFLockState s;
    s.Bind(&p, &mode, &h);
    s.SetLockProtocol(lpClipperLock, false);
    s.SetWaitBusyRes(2);
    int calls = 0;
    p.OnLockEvent = [&](TProxyStream*, TProxyStreamType, TStream*, bool&) { ++calls; };
    EXPECT_FALSE(s.HeaderLock());
    EXPECT_EQ(calls, 2);
    p.OnLockEvent = nullptr;
    EXPECT_TRUE(s.HeaderLock());
}

TEST(Locks, ForkedChildsLockBlocksTheParentUntilReleased) {
    TempDir d;
    std::string name = MakeTable(d);
    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Child: take the header lock, report, wait for the word, release, report.
        int rc = 1;
        {
            SharedTable c(name, lpClipperLock);
            char ch = 0;
            if (c.Locks.HeaderLock() && c.Locks.RecordLock(5)) {
                ch = 'L';
                if (write(toParent[1], &ch, 1) == 1 && read(toChild[0], &ch, 1) == 1) {
                    usleep(50000);  // keep it a little longer, the parent is now waiting
                    if (c.Locks.HeaderUnlock() && c.Locks.RecordUnlock(5)) rc = 0;
                }
            }
        }
        _exit(rc);
    }
    char ch = 0;
    ASSERT_EQ(read(toParent[0], &ch, 1), 1);
    ASSERT_EQ(ch, 'L');
    {
        SharedTable p(name, lpClipperLock);
        p.Locks.SetWaitBusyRes(5);
        EXPECT_FALSE(p.Locks.HeaderLock());  // held by the child: fails after 5 attempts
        EXPECT_FALSE(p.Locks.RecordLock(5));
        EXPECT_EQ(p.File.PlatformLockCalls(), 10u);
        p.Locks.SetWaitBusyRes(3000);
        ASSERT_EQ(write(toChild[1], "g", 1), 1);
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_TRUE(p.Locks.HeaderLock());  // retried until the child let go
        EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(20));
        EXPECT_GT(p.File.PlatformLockCalls(), 11u);
        EXPECT_TRUE(p.Locks.RecordLock(5));
        EXPECT_TRUE(p.Locks.HeaderUnlock());
        EXPECT_TRUE(p.Locks.RecordUnlock(5));
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
}

// The end of an append releases the record and the header lock; with nothing else held that
// is one host call, otherwise (another record locked) the two are released one by one and the
// other record stays locked.
TEST(Locks, RecordAndHeaderUnlockReleasesBothAndNothingElse) {
    TempDir d;
    std::string name = MakeTable(d);
    SharedTable a(name, lpClipperLock), b(name, lpClipperLock);
    b.Locks.SetWaitBusyRes(1);
    ASSERT_TRUE(a.Locks.HeaderLock());
    ASSERT_TRUE(a.Locks.RecordLock(8));
    std::uint64_t before = a.File.PlatformLockCalls();
    a.Locks.RecordAndHeaderUnlock(8);
    EXPECT_EQ(a.File.PlatformLockCalls() - before, 1u);
    EXPECT_FALSE(a.Locks.IsHeaderLocked());
    EXPECT_TRUE(a.Locks.LockedRecords().empty());
    EXPECT_TRUE(b.Locks.HeaderLock());
    EXPECT_TRUE(b.Locks.RecordLock(8));
    b.Locks.RecordAndHeaderUnlock(8);

    ASSERT_TRUE(a.Locks.RecordLock(5));
    ASSERT_TRUE(a.Locks.HeaderLock());
    ASSERT_TRUE(a.Locks.RecordLock(9));
    before = a.File.PlatformLockCalls();
    a.Locks.RecordAndHeaderUnlock(9);
    EXPECT_EQ(a.File.PlatformLockCalls() - before, 2u);
    EXPECT_FALSE(a.Locks.IsHeaderLocked());
    EXPECT_TRUE(a.Locks.LockedRecords() == std::vector<std::uint32_t>{5});
    EXPECT_TRUE(b.Locks.HeaderLock());
    EXPECT_TRUE(b.Locks.RecordLock(9));
    EXPECT_FALSE(b.Locks.RecordLock(5));  // still a's
    EXPECT_TRUE(a.Locks.RecordUnlock(5));
    EXPECT_TRUE(b.Locks.RecordLock(5));
}
