// Tree changes byte for byte: the first split, equal keys, versions and their wrap, rebuilds,
// the free list, both delete styles, the page cache's limits and stamps, other writers seen
// through the version, enciphered pages and failed writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "ntx_core_util.h"
#include "platform/exception.h"

namespace zarbel {
namespace {

using namespace ntxtest;

const char* const kExhausted =
    "THXNTXBuffers.GetNTXBuffer: There is no enough free NTX page buffers! Increase LimitPages property.";

std::string Page(const std::string& file, std::uint32_t off) { return file.substr(off, 1024); }

TEST(NtxCoreTree, FirstSplitLeavesHalfPageEachSideAndOneKeyInTheRoot) {
    TMemEnv env;
    CreateNtx(env, "/d/s.ntx", 10);
    TOpenNtx o(env, "/d/s.ntx");
    o.Tree.BeginUpdate();
    for (unsigned i = 1; i <= 50; ++i) o.Tree.AddKey(U(NumKey(i, 10)), i);
    o.Tree.EndUpdate();
    std::string f = env.Contents("/d/s.ntx");
    ASSERT_EQ(f.size(), 2048u);
    EXPECT_EQ(Get16(f, 1024), 50);
    // Items never move: key i went into the first unused slot, slot i; entry 50 keeps slot 0.
    for (int i = 0; i < 50; ++i) ASSERT_EQ(Get16(f, 1024 + 2 + 2 * i), 104 + (i + 1) * 18) << i;
    EXPECT_EQ(Get16(f, 1024 + 2 + 100), 104);
    EXPECT_EQ(Get16(f, 2), 2);  // version moved once

    o.Tree.BeginUpdate();
    o.Tree.AddKey(U(NumKey(51, 10)), 51);
    o.Tree.EndUpdate();
    f = env.Contents("/d/s.ntx");
    ASSERT_EQ(f.size(), 4096u);
    EXPECT_EQ(Get32(f, 4), 3072u);  // the new root
    EXPECT_EQ(Get16(f, 2), 3);
    const std::string left = Page(f, 1024), right = Page(f, 2048), root = Page(f, 3072);
    EXPECT_EQ(Get16(left, 0), 25);
    EXPECT_EQ(Get16(right, 0), 25);
    ASSERT_EQ(Get16(root, 0), 1);
    const std::uint16_t r0 = Get16(root, 2), r1 = Get16(root, 4);
    EXPECT_EQ(Get32(root, r0), 1024u);
    EXPECT_EQ(Get32(root, r0 + 4), 26u);  // the separator
    EXPECT_EQ(root.substr(r0 + 8, 10), NumKey(26, 10));
    EXPECT_EQ(Get32(root, r1), 2048u);
    // The last child's item carries no record number and no key (readers take one there).
    EXPECT_EQ(root.substr(r1 + 4, 14), std::string(14, '\0'));
    EXPECT_EQ(left.substr(Get16(left, 2 + 2 * 25) + 4, 14), std::string(14, '\0'));
    // The new page is a copy of the full one with its offset table rotated: its first key is
    // the 27th, still in slot 27.
    EXPECT_EQ(Get16(right, 2), 104 + 27 * 18);
    EXPECT_EQ(right.substr(104 + 27 * 18 + 8, 10), NumKey(27, 10));
    EXPECT_EQ(Walk(o.Tree).size(), 51u);
    EXPECT_TRUE(o.Tree.Verify().Ok());
}

TEST(NtxCoreTree, EqualKeysStayInRecordOrderAndSearchesFindTheFirst) {
    TMemEnv env;
    CreateNtx(env, "/d/e.ntx", 10);
    TOpenNtx o(env, "/d/e.ntx");
    std::vector<std::uint32_t> recs(400);
    for (std::uint32_t i = 0; i < recs.size(); ++i) recs[i] = i + 1;
    std::shuffle(recs.begin(), recs.end(), std::mt19937(7));
    o.Tree.BeginUpdate();
    for (std::uint32_t r : recs) o.Tree.AddKey(U(r % 2 ? "SAME      " : "OTHER     "), r);
    o.Tree.EndUpdate();
    const auto w = Walk(o.Tree);
    ASSERT_EQ(w.size(), 400u);
    for (std::size_t i = 1; i < w.size(); ++i)
        ASSERT_TRUE(w[i - 1].first < w[i].first || (w[i - 1].first == w[i].first && w[i - 1].second < w[i].second)) << i;
    THXNTXCursor c;
    EXPECT_TRUE(o.Tree.Seek(c, U("SAME      "), 10, false));
    EXPECT_EQ(c.RecNo(), 1u);
    EXPECT_TRUE(o.Tree.Seek(c, U("SA"), 2, false));  // a shorter key compares over its length
    EXPECT_EQ(c.RecNo(), 1u);
    EXPECT_FALSE(o.Tree.Seek(c, U("P"), 1, false));
    EXPECT_FALSE(c.Valid());
    EXPECT_FALSE(o.Tree.Seek(c, U("P"), 1, true));  // soft: the next key, not equal
    ASSERT_TRUE(c.Valid());
    EXPECT_EQ(c.RecNo(), 1u);
    EXPECT_FALSE(o.Tree.Seek(c, U("T"), 1, true));
    EXPECT_FALSE(c.Valid());  // nothing at or above
    ASSERT_TRUE(o.Tree.SeekEntry(c, U("SAME      "), 151));
    EXPECT_EQ(c.RecNo(), 151u);
    ASSERT_TRUE(o.Tree.SeekEntry(c, U("SAME      "), 150));  // absent: the next entry
    EXPECT_EQ(c.RecNo(), 151u);

    auto all = [](std::uint32_t) { return true; };
    EXPECT_EQ(o.Tree.FindKey(U("OTHER     "), 10, false, 0, false, all), 2u);
    EXPECT_EQ(o.Tree.FindKey(U("SAME      "), 10, false, 201, false, all), 201u);
    EXPECT_EQ(o.Tree.FindKey(U("SAME      "), 10, false, 200, false, all), 0u);  // 200 holds OTHER
    EXPECT_EQ(o.Tree.FindKey(U("SAME      "), 10, false, 0, false, [](std::uint32_t r) { return r > 300; }), 301u);
    EXPECT_EQ(o.Tree.FindKey(U("SAM"), 3, false, 0, false, all), 0u);  // short, neither soft nor partial
    EXPECT_EQ(o.Tree.FindKey(U("SAM"), 3, false, 0, true, all), 1u);
    EXPECT_EQ(o.Tree.FindKey(U("P"), 1, false, 0, true, all), 0u);
    EXPECT_EQ(o.Tree.FindKey(U("P"), 1, true, 0, true, all), 1u);
    // The table refuses every OTHER record: a soft search goes on to the next key.
    EXPECT_EQ(o.Tree.FindKey(U("OTHER     "), 10, true, 0, false, [](std::uint32_t r) { return r % 2 == 1; }), 1u);
    EXPECT_EQ(o.Tree.FindKey(U("OTHER     "), 10, false, 0, false, [](std::uint32_t r) { return r % 2 == 1; }), 0u);
}

TEST(NtxCoreTree, ReadAheadStepsBothWaysAndStopsWhereTheCallerSays) {
    TMemEnv env;
    CreateNtx(env, "/d/ra.ntx", 10);
    TOpenNtx o(env, "/d/ra.ntx");
    o.Tree.BeginUpdate();
    for (unsigned i = 1; i <= 500; ++i) o.Tree.AddKey(U(NumKey(i, 10)), i);
    o.Tree.EndUpdate();
    THXNTXCursor c;
    ASSERT_TRUE(o.Tree.Seek(c, U(NumKey(100, 10)), 10, false));
    std::vector<std::uint32_t> got;
    auto upTo = [&](std::uint32_t last) {
        return [&got, last](std::uint32_t r, const std::uint8_t*) {
            if (r > last) return false;
            got.push_back(r);
            return true;
        };
    };
    EXPECT_EQ(o.Tree.Step(c, true, 30, upTo(1000)), 30);
    EXPECT_EQ(c.RecNo(), 130u);
    EXPECT_EQ(got.front(), 101u);
    EXPECT_EQ(got.back(), 130u);
    // The tree changes between two runs: the cursor finds its place again by key and record.
    o.Tree.BeginUpdate();
    for (unsigned i = 131; i <= 140; ++i) o.Tree.DeleteKey(U(NumKey(i, 10)), i);
    o.Tree.EndUpdate();
    got.clear();
    EXPECT_EQ(o.Tree.Step(c, true, 100, upTo(160)), 20);  // 141..160, then past the range
    EXPECT_EQ(c.RecNo(), 160u);
    got.clear();
    EXPECT_EQ(o.Tree.Step(c, false, 5, upTo(1000)), 5);
    EXPECT_EQ(got, (std::vector<std::uint32_t>{159, 158, 157, 156, 155}));
    EXPECT_EQ(c.RecNo(), 155u);
    got.clear();
    ASSERT_TRUE(o.Tree.Last(c));
    EXPECT_EQ(o.Tree.Step(c, true, 10, upTo(1000)), 0);
    EXPECT_EQ(c.RecNo(), 500u);  // stays on the last key
}

TEST(NtxCoreTree, VersionMovesOnlyWhenPagesChangedAndWrapsAt65531) {
    TMemEnv env;
    CreateNtx(env, "/d/v.ntx", 4);
    std::string f = env.Contents("/d/v.ntx");
    NTXPut16(reinterpret_cast<std::uint8_t*>(&f[2]), 65531);
    env.SetContents("/d/v.ntx", f);
    TOpenNtx o(env, "/d/v.ntx");
    env.ClearFaults();
    o.Tree.BeginUpdate();
    o.Tree.EndUpdate();
    EXPECT_EQ(env.Calls(TEnvOp::Write), 0);
    EXPECT_EQ(env.Contents("/d/v.ntx"), f);
    o.Tree.BeginUpdate();
    o.Tree.AddKey(U("ABCD"), 1);
    o.Tree.EndUpdate();
    EXPECT_EQ(Get16(env.Contents("/d/v.ntx"), 2), 0);
    o.Tree.BeginUpdate();
    o.Tree.AddKey(U("ABCE"), 2);
    o.Tree.EndUpdate();
    EXPECT_EQ(Get16(env.Contents("/d/v.ntx"), 2), 1);
}

TEST(NtxCoreTree, RebuildEndsWithTheFoundVersionPlusOne) {
    TMemEnv env;
    CreateNtx(env, "/d/r.ntx", 4);
    for (std::uint16_t found : {std::uint16_t{7}, std::uint16_t{65531}}) {
        std::string f = env.Contents("/d/r.ntx");
        NTXPut16(reinterpret_cast<std::uint8_t*>(&f[2]), found);
        env.SetContents("/d/r.ntx", f);
        TOpenNtx o(env, "/d/r.ntx");
        o.Tree.BeginRebuild();
        for (unsigned i = 1; i <= 300; ++i) o.Tree.AddKey(U(NumKey(i, 4)), i);
        o.Tree.EndRebuild();
        EXPECT_FALSE(o.Tree.InUpdate());
        const std::string g = env.Contents("/d/r.ntx");
        EXPECT_EQ(Get16(g, 2), NTXNextVersion(found));
        EXPECT_EQ(Get32(g, 8), 0u);
        EXPECT_EQ(g.substr(12, 1012), f.substr(12, 1012));  // the rest of the header kept
        TOpenNtx again(env, "/d/r.ntx");
        EXPECT_EQ(Walk(again.Tree).size(), 300u);
        EXPECT_TRUE(again.Tree.Verify().Ok());
    }
}

// 51 keys of size 10: leaves at 1024 (keys 1..25) and 2048 (27..51), root 3072.
void Build51(TMemEnv& env, TOpenNtx& o) {
    o.Tree.BeginUpdate();
    for (unsigned i = 1; i <= 51; ++i) o.Tree.AddKey(U(NumKey(i, 10)), i);
    o.Tree.EndUpdate();
    (void)env;
}

TEST(NtxCoreTree, FreedPageIsReusedWithItsOffsetTable) {
    TMemEnv env;
    CreateNtx(env, "/d/f.ntx", 10);
    TOpenNtx o(env, "/d/f.ntx");
    Build51(env, o);
    o.Tree.SetDeleteKeyStyle(dksApolloHalcyon);
    o.Tree.BeginUpdate();
    std::vector<unsigned> order;
    for (unsigned i = 27; i <= 51; ++i) order.push_back(i);
    std::shuffle(order.begin(), order.end(), std::mt19937(3));
    for (unsigned i : order) ASSERT_TRUE(o.Tree.DeleteKey(U(NumKey(i, 10)), i));
    EXPECT_FALSE(o.Tree.DeleteKey(U(NumKey(27, 10)), 27));
    o.Tree.EndUpdate();
    std::string f = env.Contents("/d/f.ntx");
    ASSERT_EQ(Get32(f, 8), 2048u);  // the emptied leaf heads the free list
    EXPECT_EQ(Get16(f, 2048), 0);
    std::vector<std::uint16_t> table(51);
    for (int i = 0; i <= 50; ++i) table[i] = Get16(f, 2048 + 2 + 2 * i);
    bool permuted = false;  // removals rotated it
    for (int i = 0; i <= 50; ++i) permuted |= table[i] != 104 + 18 * i;
    ASSERT_TRUE(permuted);
    const std::string root = Page(f, 3072);
    EXPECT_EQ(Get32(root, Get16(root, 4)), 0u);  // the parent's pointer is 0
    // Pages below half and a 0 child are what the structural check reports after this style.
    TNTXVerifyReport rep = o.Tree.Verify();
    EXPECT_FALSE(rep.Ok());

    o.Tree.BeginUpdate();
    o.Tree.AddKey(U(NumKey(60, 10)), 60);
    o.Tree.EndUpdate();
    f = env.Contents("/d/f.ntx");
    EXPECT_EQ(f.size(), 4096u);  // nothing appended
    EXPECT_EQ(Get32(f, 8), 0u);
    EXPECT_EQ(Get16(f, 2048), 1);
    // One insertion into the kept table: its unused entry 1 came to the front.
    EXPECT_EQ(Get16(f, 2048 + 2), table[1]);
    EXPECT_EQ(Get16(f, 2048 + 4), table[0]);
    for (int i = 2; i <= 50; ++i) ASSERT_EQ(Get16(f, 2048 + 2 + 2 * i), table[i]) << i;
    EXPECT_EQ(Get32(Page(f, 3072), Get16(Page(f, 3072), 4)), 2048u);
    rep = o.Tree.Verify();
    ASSERT_EQ(rep.Findings.size(), 1u);
    EXPECT_EQ(rep.Findings[0].Message,
              "THXNTXIndex.VerifyIndex: For page = 2048 item count (1) less then half_page count (25)");
    EXPECT_EQ(Walk(o.Tree).size(), 27u);  // 25 left, the separator, the new key
}

TEST(NtxCoreTree, FreeListHeadsThatCannotBeTrustedAreNotUsed) {
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind);
        TMemEnv env;
        CreateNtx(env, "/d/f.ntx", 10);
        std::string f = env.Contents("/d/f.ntx");
        f.resize(3072);
        TNTXGeometry g;
        NTXDerivedSizes(10, g);
        TNTXPage page(reinterpret_cast<std::uint8_t*>(&f[2048]), g);
        page.LayoutFresh();
        if (kind == 0) NTXPut32(reinterpret_cast<std::uint8_t*>(&f[8]), 1024);  // the root
        if (kind == 1) {
            NTXPut32(reinterpret_cast<std::uint8_t*>(&f[8]), 2048);
            page.SetChild(0, 2048);  // links to itself
        }
        if (kind == 2) {
            NTXPut32(reinterpret_cast<std::uint8_t*>(&f[8]), 2048);
            page.SetEntry(7, page.Entry(8));  // not a permutation: usable, laid out fresh
        }
        env.SetContents("/d/f.ntx", f);
        TOpenNtx o(env, "/d/f.ntx");
        ASSERT_EQ(o.Status, TNTXOpenStatus::Ok) << o.Reason;
        o.Tree.BeginUpdate();
        for (unsigned i = 1; i <= 51; ++i) o.Tree.AddKey(U(NumKey(i, 10)), i);
        o.Tree.EndUpdate();
        const std::string h = env.Contents("/d/f.ntx");
        if (kind == 2) {
            EXPECT_EQ(h.size(), 4096u);  // 2048 reused
            EXPECT_EQ(Get32(h, 8), 0u);
            TNTXPage reused(reinterpret_cast<std::uint8_t*>(const_cast<char*>(&h[2048])), g);
            EXPECT_TRUE(reused.IsPermutation());
        } else {
            EXPECT_EQ(h.size(), 5120u);  // appended instead
        }
        EXPECT_EQ(Walk(o.Tree).size(), 51u);
    }
}

TEST(NtxCoreTree, LimitedCacheRunsOutWhenEveryBlockIsPinned) {
    TMemEnv env;
    CreateNtx(env, "/d/l.ntx", 10);
    {
        TOpenNtx o(env, "/d/l.ntx");
        Build51(env, o);
    }
    TOpenNtx o(env, "/d/l.ntx");
    THXNTXBuffers& b = o.Tree.Buffers();
    EXPECT_FALSE(b.SetPagesPerBuffer(0));
    EXPECT_FALSE(b.SetPagesPerBuffer(511));
    EXPECT_TRUE(b.SetPagesPerBuffer(1));
    b.SetLimitType(lbtLimited);
    EXPECT_FALSE(b.SetLimitBuffers(0));
    EXPECT_TRUE(b.SetLimitBuffers(1));
    THXNTXCursor c;
    try {
        o.Tree.First(c);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), kExhausted);
    }
    EXPECT_TRUE(b.SetLimitBuffers(2));  // the depth: enough, blocks are reused
    EXPECT_EQ(Walk(o.Tree).size(), 51u);
    EXPECT_EQ(b.BlockCount(), 2);
    // Auto: 3 * round(log base 26 of (records + 100000)).
    b.SetLimitType(lbtAuto);
    b.ApplyAutoLimit(0, 25);
    EXPECT_EQ(b.LimitBuffers(), 12);
    b.ApplyAutoLimit(10000000, 1);
    EXPECT_EQ(b.LimitBuffers(), 3 * 23);
}

TEST(NtxCoreTree, StampsResetAtMinusTwoAndNeverOverflow) {
    TMemEnv env;
    CreateNtx(env, "/d/st.ntx", 10);
    {
        TOpenNtx o(env, "/d/st.ntx");
        o.Tree.BeginUpdate();
        for (unsigned i = 1; i <= 400; ++i) o.Tree.AddKey(U(NumKey(i, 10)), i);
        o.Tree.EndUpdate();
    }
    TOpenNtx o(env, "/d/st.ntx");
    THXNTXBuffers& b = o.Tree.Buffers();
    ASSERT_TRUE(b.SetPagesPerBuffer(1));
    auto stampOf = [&](std::uint32_t off) {
        for (int i = 0; i < b.BlockCount(); ++i)
            if (b.Block(i).Offset() == off) return b.Block(i).Stamp();
        return -99;
    };
    b.SetUseCounter(2147483647);
    b.Get(1024);
    EXPECT_EQ(b.UseCounter(), -2147483647 - 1);  // wrapped, no overflow
    EXPECT_EQ(stampOf(1024), -2147483647 - 1);
    b.SetUseCounter(-7);
    for (std::uint32_t off = 2048; off <= 6144; off += 1024) b.Get(off);  // -6 .. -2
    EXPECT_EQ(b.UseCounter(), -2);
    {
        TNTXPageRef pinned = b.Get(7168);  // the reset
        EXPECT_EQ(pinned.Node().Buffer().Pins(), 1);
    }
    EXPECT_EQ(b.UseCounter(), 6);
    EXPECT_EQ(stampOf(7168), 6);
    EXPECT_EQ(stampOf(2048), 1);
    EXPECT_EQ(stampOf(4096), 3);
    EXPECT_EQ(stampOf(6144), 5);
    EXPECT_EQ(stampOf(1024), 0);
    b.Get(2048);
    EXPECT_EQ(stampOf(2048), 7);
    for (int i = 0; i < b.BlockCount(); ++i) EXPECT_EQ(b.Block(i).Pins(), 0);
}

TEST(NtxCoreTree, AnotherWritersVersionDropsTheCache) {
    TMemEnv env;
    CreateNtx(env, "/d/w.ntx", 10);
    TOpenNtx a(env, "/d/w.ntx"), b(env, "/d/w.ntx");
    Build51(env, a);
    EXPECT_EQ(Walk(b.Tree).size(), 51u);
    const std::uint64_t reads = b.Tree.Buffers().Reads();
    EXPECT_EQ(Walk(b.Tree).size(), 51u);
    EXPECT_EQ(b.Tree.Buffers().Reads(), reads);  // cached
    a.Tree.BeginUpdate();
    a.Tree.AddKey(U(NumKey(10, 10)), 52);
    a.Tree.EndUpdate();
    EXPECT_EQ(Walk(b.Tree).size(), 52u);
    EXPECT_GT(b.Tree.Buffers().Reads(), reads);
    // An update of b starts from a's pages, not from its own stale cache.
    EXPECT_EQ(Walk(b.Tree).size(), 52u);
    a.Tree.BeginUpdate();
    a.Tree.AddKey(U(NumKey(11, 10)), 53);
    a.Tree.EndUpdate();
    b.Tree.BeginUpdate();
    b.Tree.AddKey(U(NumKey(12, 10)), 54);
    b.Tree.EndUpdate();
    TOpenNtx c(env, "/d/w.ntx");
    EXPECT_EQ(Walk(c.Tree).size(), 54u);
    EXPECT_TRUE(c.Tree.Verify().Ok());
}

TEST(NtxCoreTree, EncipheredPagesReadBackOnlyWithTheCipher) {
    TMemEnv env;
    TXorCipher x;
    CreateNtx(env, "/d/x.ntx", 10, &x);
    {
        TOpenNtx o(env, "/d/x.ntx", &x);
        o.Tree.BeginUpdate();
        for (unsigned i = 1; i <= 120; ++i) {
            o.Tree.AddKey(U(NumKey(i, 10)), i);
            if (i % 40 == 0) {
                o.Tree.EndUpdate();  // pages written enciphered, the cache must stay plain
                o.Tree.BeginUpdate();
            }
        }
        o.Tree.EndUpdate();
        EXPECT_EQ(Walk(o.Tree).size(), 120u);
    }
    const std::string f = env.Contents("/d/x.ntx");
    EXPECT_EQ(f.find(NumKey(77, 10)), std::string::npos);  // no key in clear
    EXPECT_EQ(Get16(f, 0), 6);                              // the header is never enciphered
    TOpenNtx with(env, "/d/x.ntx", &x);
    const auto w = Walk(with.Tree);
    ASSERT_EQ(w.size(), 120u);
    EXPECT_EQ(w[76], Entry(NumKey(77, 10), 77));
    EXPECT_TRUE(with.Tree.Verify().Ok());
    TOpenNtx without(env, "/d/x.ntx");
    ASSERT_EQ(without.Status, TNTXOpenStatus::Ok);
    THXNTXCursor c;
    try {
        without.Tree.First(c);
        ADD_FAILURE() << "garbage pages were read";
    } catch (const Exception& e) {
        EXPECT_NE(std::string(e.what()).find("NTX file is corrupt: "), std::string::npos) << e.what();
    }
}

TEST(NtxCoreTree, FailedWritesLeaveAFileThatDoesNotOpen) {
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind);
        TMemEnv env;
        CreateNtx(env, "/d/w.ntx", 10);
        TOpenNtx o(env, "/d/w.ntx");
        o.Tree.BeginUpdate();
        for (unsigned i = 1; i <= 120; ++i) o.Tree.AddKey(U(NumKey(i, 10)), i);
        env.ClearFaults();
        if (kind == 0) env.FailNth(TEnvOp::Write, 1, ENOSPC);  // a page write
        if (kind == 1) {
            env.FailNth(TEnvOp::Write, 1, ENOSPC);
            env.FailNth(TEnvOp::Write, 2, ENOSPC);  // and the signature
        }
        if (kind == 2) env.FailNth(TEnvOp::Write, 3, ENOSPC);  // the volatile header, after two blocks
        try {
            o.Tree.EndUpdate();
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(std::string(e.what()).rfind("THXSmartDBF: ", 0), 0u) << e.what();
        }
        EXPECT_FALSE(o.Tree.InUpdate());
        const std::string f = env.Contents("/d/w.ntx");
        if (kind == 1) EXPECT_EQ(f.size(), 0u);
        else EXPECT_EQ(Get16(f, 0), 0);
        TOpenNtx again(env, "/d/w.ntx");
        EXPECT_EQ(again.Status, TNTXOpenStatus::NotNTX);
    }
}

TEST(NtxCoreTree, GuardedWriterZeroesTheSignatureBeforeTheFirstPageAndRestoresItLast) {
    TMemEnv env;
    CreateNtx(env, "/d/g.ntx", 10);
    TOpenNtx o(env, "/d/g.ntx");
    o.Tree.SetGuardSignature(true);
    THXNTXBuffers& b = o.Tree.Buffers();
    b.SetPagesPerBuffer(1);
    b.SetLimitType(lbtLimited);
    b.SetLimitBuffers(3);
    std::vector<std::string> trace;
    env.Trace = &trace;
    o.Tree.BeginUpdate();
    for (unsigned i = 1; i <= 300; ++i) o.Tree.AddKey(U(NumKey(i, 10)), i);
    ASSERT_FALSE(trace.empty());  // blocks were reused: pages already went out
    EXPECT_EQ(trace.front(), "write /d/g.ntx @0+2");
    EXPECT_EQ(Get16(env.Contents("/d/g.ntx"), 0), 0);
    o.Tree.EndUpdate();
    EXPECT_EQ(trace.back(), "write /d/g.ntx @0+12");
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "write /d/g.ntx @0+2"), 1);
    env.Trace = nullptr;
    EXPECT_EQ(Get16(env.Contents("/d/g.ntx"), 0), 6);
    TOpenNtx again(env, "/d/g.ntx");
    EXPECT_EQ(Walk(again.Tree).size(), 300u);
}

}  // namespace
}  // namespace zarbel
