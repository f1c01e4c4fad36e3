// The tracking allocator: serials, tags, double and foreign frees, the zero-size message,
// and release of whatever is left when a manager dies.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/HXDBFMemMgr.h"
#include "platform/exception.h"

using namespace zarbel;

TEST(MemMgr, SerialsTagsAndOwners) {
    THXDBFMemMgr m;
    EXPECT_EQ(m.NextSerial(), 10u);
    int owner = 0;
    void* a = m.Allocate(&owner, 100, "THXSmartDBF");
    void* b = m.AllocateTagged("TProxyStream.LoadFromFile", 61440);
    void* c = m.Allocate(nullptr, 8, "ignored");
    TAllocInfo ia, ib, ic;
    ASSERT_TRUE(m.Info(a, ia));
    ASSERT_TRUE(m.Info(b, ib));
    ASSERT_TRUE(m.Info(c, ic));
    EXPECT_EQ(ia.Serial, 10u);
    EXPECT_EQ(ib.Serial, 11u);
    EXPECT_EQ(ic.Serial, 12u);
    EXPECT_EQ(ia.Owner, &owner);
    EXPECT_EQ(ia.Tag, "THXSmartDBF");
    EXPECT_EQ(ia.Size, 100);
    EXPECT_EQ(ib.Tag, "TProxyStream.LoadFromFile");
    EXPECT_EQ(ib.Owner, nullptr);
    EXPECT_EQ(ic.Tag, "");
    std::memset(a, 1, 100);
    std::memset(b, 2, 61440);
    EXPECT_EQ(m.Count(), 3);
    m.Free(a);
    m.Free(b);
    m.Free(c);
    EXPECT_EQ(m.Count(), 0);
    EXPECT_EQ(m.NextSerial(), 13u);
}

TEST(MemMgr, DoubleFreeAndForeignPointersAreIgnored) {
    THXDBFMemMgr m;
    void* a = m.AllocateTagged("x", 16);
    void* b = m.AllocateTagged("y", 16);
    m.Free(a);
    m.Free(a);  // second free does nothing
    EXPECT_EQ(m.Count(), 1);
    EXPECT_TRUE(m.IsRecorded(b));
    EXPECT_FALSE(m.IsRecorded(a));

    void* foreign = std::malloc(32);
    m.Free(foreign);  // not ours: not released
    std::memset(foreign, 0x5A, 32);  // still usable (ASan would report a use after free)
    std::free(foreign);
    int local = 0;
    m.Free(&local);
    m.Free(nullptr);
    EXPECT_EQ(m.Count(), 1);
    m.Free(b);
}

TEST(MemMgr, ZeroSizeIsRefusedWithTheMessage) {
    THXDBFMemMgr m;
    try {
        m.Allocate(nullptr, 0);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "THXDBFOneAlloc: Can not allocate 0 bytes memory!");
    }
    EXPECT_EQ(m.Count(), 0);
    EXPECT_EQ(m.NextSerial(), 10u);
    EXPECT_THROW(m.Allocate(nullptr, -5), Exception);
    EXPECT_THROW(m.AllocateTagged("t", -1), Exception);
    void* z = m.AllocateTagged("t", 0);  // the tagged form has no size check
    EXPECT_NE(z, nullptr);
    m.Free(z);
}

TEST(MemMgr, KeepsAddressOrderUnderManyAllocations) {
    THXDBFMemMgr m;
    std::vector<void*> ps;
    for (int i = 0; i < 500; ++i) ps.push_back(m.AllocateTagged("t", 1 + (i * 37) % 4000));
    for (void* p : ps) EXPECT_TRUE(m.IsRecorded(p));
    for (std::size_t i = 0; i < ps.size(); i += 2) m.Free(ps[i]);
    EXPECT_EQ(m.Count(), 250);
    for (std::size_t i = 0; i < ps.size(); ++i) EXPECT_EQ(m.IsRecorded(ps[i]), i % 2 == 1);
    for (std::size_t i = 1; i < ps.size(); i += 2) m.Free(ps[i]);
    EXPECT_EQ(m.Count(), 0);
}

TEST(MemMgr, EverythingLeftIsFreedWithTheManager) {
    // Under the sanitizer build a block that outlived its manager would be reported as a leak.
    auto m = std::make_unique<THXDBFMemMgr>();
    for (int i = 0; i < 10; ++i) m->Allocate(m.get(), 1000, "THXDBFMemMgr");
    EXPECT_EQ(m->Count(), 10);
    m.reset();
}

TEST(MemMgr, BlockHandleGivesTheBlockBack) {
    THXDBFMemMgr m;
    {
        TMemBlock b = TMemBlock::Tagged("scan", 4096, m);
        ASSERT_TRUE(b);
        EXPECT_EQ(b.Size(), 4096);
        b.Bytes()[4095] = 1;
        TMemBlock moved = std::move(b);
        EXPECT_FALSE(b);
        EXPECT_EQ(m.Count(), 1);
        TMemBlock other = TMemBlock::Allocate(&m, 10, "THXDBFMemMgr", m);
        EXPECT_EQ(m.Count(), 2);
        other = std::move(moved);  // the handle's old block goes back
        EXPECT_EQ(m.Count(), 1);
    }
    EXPECT_EQ(m.Count(), 0);
    TMemBlock g = TMemBlock::Tagged("global", 8);
    EXPECT_TRUE(HXDBFMemMgr().IsRecorded(g.Data()));
    g.Reset();
    EXPECT_FALSE(g);
}
