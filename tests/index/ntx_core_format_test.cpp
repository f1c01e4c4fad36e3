// NTX layout: derived sizes, the header image byte for byte, the reading rules of its texts,
// a new empty file, and hostile headers and pages refused with a reason instead of being read
// outside a page or walked forever.
#include <gtest/gtest.h>
#include <random>

#include "ntx_core_util.h"
#include "platform/exception.h"

namespace zarbel {
namespace {

using namespace ntxtest;

TEST(NtxCoreFormat, DerivedSizes) {
    struct Case {
        int key, item, max, half;
    } cases[] = {{10, 18, 50, 25}, {8, 16, 54, 27}, {1, 9, 90, 45}, {100, 108, 8, 4}, {330, 338, 2, 1}, {5, 13, 66, 33}};
    for (const Case& c : cases) {
        TNTXGeometry g;
        ASSERT_TRUE(NTXDerivedSizes(c.key, g)) << c.key;
        EXPECT_EQ(g.ItemSize, c.item);
        EXPECT_EQ(g.MaxItems, c.max) << c.key;
        EXPECT_EQ(g.HalfPage, c.half) << c.key;
        // count + (max + 1) offsets + (max + 1) slots fit the page
        EXPECT_LE(g.SlotBase() + (g.MaxItems + 1) * g.ItemSize, 1024);
    }
    TNTXGeometry g;
    EXPECT_FALSE(NTXDerivedSizes(0, g));
    EXPECT_FALSE(NTXDerivedSizes(331, g));
}

TEST(NtxCoreFormat, HeaderImageAndTextRules) {
    TNTXHeader h;
    ASSERT_TRUE(h.InitNew(v520, 10, 2, "NAME+CITY", "AGE>3", true, true, "CUSTOMERS1"));
    std::array<std::uint8_t, 1024> b{};
    b.fill(0xEE);
    h.Serialize(b.data());
    EXPECT_EQ(NTXGet16(&b[0]), 7);
    EXPECT_EQ(NTXGet16(&b[2]), 1);
    EXPECT_EQ(NTXGet32(&b[4]), 1024u);
    EXPECT_EQ(NTXGet32(&b[8]), 0u);
    EXPECT_EQ(NTXGet16(&b[12]), 18);
    EXPECT_EQ(NTXGet16(&b[14]), 10);
    EXPECT_EQ(NTXGet16(&b[16]), 2);
    EXPECT_EQ(NTXGet16(&b[18]), 50);
    EXPECT_EQ(NTXGet16(&b[20]), 25);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[22])), "NAME+CITY");
    EXPECT_EQ(b[278], 1);
    EXPECT_EQ(b[279], 0);
    EXPECT_EQ(b[280], 1);
    EXPECT_EQ(b[281], 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[282])), "AGE>3");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[538]), 12), std::string("CUSTOMER\0\0\0\0", 12));
    for (std::size_t i = 550; i < 1024; ++i) ASSERT_EQ(b[i], 0) << i;
    TNTXHeader back;
    back.Parse(b.data());
    EXPECT_EQ(back.OrderNameText(), "CUSTOMER");
    EXPECT_EQ(back.KeyExpression(), "NAME+CITY");
    EXPECT_EQ(back.ForExpression(), "AGE>3");
    std::array<std::uint8_t, 1024> again{};
    back.Serialize(again.data());
    EXPECT_EQ(again, b);

    EXPECT_EQ(NTXSignatureFor(v500), 6);
    EXPECT_EQ(NTXSignatureFor(v501), 6);
    EXPECT_EQ(NTXSignatureFor(v530), 7);
    EXPECT_TRUE(IsNTXSignature(6) && IsNTXSignature(7) && !IsNTXSignature(0) && !IsNTXSignature(0x106));
    EXPECT_EQ(NTXNextVersion(65530), 65531);
    EXPECT_EQ(NTXNextVersion(65531), 0);
    EXPECT_EQ(NTXNextVersion(65535), 0);

    // Names and expressions with a control character read (or store) as empty.
    h.SetOrderNameText(std::string("AB\x01", 3));
    EXPECT_EQ(h.OrderNameText(), "");
    h.OrderName = {'A', 'B', 0x05, 'C', 0};
    EXPECT_EQ(h.OrderNameText(), "");
    h.OrderName = {'N', 'A', 'M', 'E', '9', '0', '1', '2', '3', '4', '5', '6'};  // no NUL at all
    EXPECT_EQ(h.OrderNameText(), "NAME9012");
    h.KeyExpr.fill('X');  // no NUL inside the field: cut at its end
    EXPECT_EQ(h.KeyExpression().size(), 256u);
    h.KeyExpr[3] = '\t';
    EXPECT_EQ(h.KeyExpression(), "");
    EXPECT_FALSE(h.SetForExpression(std::string(256, 'F')));
    EXPECT_TRUE(h.SetForExpression(std::string(255, 'F')));
    EXPECT_FALSE(h.InitNew(v500, 10, 0, std::string(256, 'K'), "", false, false, ""));
    EXPECT_FALSE(h.InitNew(v500, 331, 0, "K", "", false, false, ""));
}

TEST(NtxCoreFormat, NewEmptyIndexIsHeaderAndOneFreshLeaf) {
    TMemEnv env;
    CreateNtx(env, "/d/e.ntx", 8, nullptr, v501);
    const std::string f = env.Contents("/d/e.ntx");
    ASSERT_EQ(f.size(), 2048u);
    EXPECT_EQ(Get16(f, 0), 6);
    EXPECT_EQ(Get16(f, 2), 1);
    EXPECT_EQ(Get32(f, 4), 1024u);
    EXPECT_EQ(Get32(f, 8), 0u);
    EXPECT_EQ(Get16(f, 18), 54);
    EXPECT_EQ(Get16(f, 1024), 0);
    for (int i = 0; i <= 54; ++i) ASSERT_EQ(Get16(f, 1024 + 2 + 2 * i), 2 * 54 + 4 + i * 16) << i;
    EXPECT_EQ(Get32(f, 1024 + 2 * 54 + 4), 0u);
    TOpenNtx o(env, "/d/e.ntx");
    ASSERT_EQ(o.Status, TNTXOpenStatus::Ok);
    THXNTXCursor c;
    EXPECT_FALSE(o.Tree.First(c));
    EXPECT_FALSE(o.Tree.Last(c));
    EXPECT_FALSE(o.Tree.Seek(c, U("A"), 1, true));
    EXPECT_TRUE(o.Tree.Verify().Ok());
}

// A valid two-level file (root and leaves) in the environment, for corrupting.
std::string TwoLevelFile(TMemEnv& env) {
    CreateNtx(env, "/d/t.ntx", 10);
    TOpenNtx o(env, "/d/t.ntx");
    o.Tree.BeginUpdate();
    for (unsigned i = 1; i <= 60; ++i) o.Tree.AddKey(U(NumKey(i, 10)), i);
    o.Tree.EndUpdate();
    return env.Contents("/d/t.ntx");
}

std::string OpenError(TMemEnv& env, const std::string& bytes, bool walk = false) {
    env.SetContents("/d/h.ntx", bytes);
    TOpenNtx o(env, "/d/h.ntx");
    if (o.Status != TNTXOpenStatus::Ok) return o.Reason.empty() ? "status " + std::to_string(int(o.Status)) : o.Reason;
    try {
        if (walk) {
            Walk(o.Tree);
            WalkBack(o.Tree);
            o.Tree.FindKey(U("x"), 1, true, 0, true, [](std::uint32_t) { return false; });
            o.Tree.Verify();
        }
    } catch (const Exception& e) {
        return e.what();
    }
    return "";
}

TEST(NtxCoreFormat, HostileHeadersAndPagesAreRefusedWithReasons) {
    TMemEnv env;
    const std::string good = TwoLevelFile(env);
    ASSERT_EQ(good.size(), 4096u);  // root at 3072, leaves at 1024 and 2048
    ASSERT_EQ(Get32(good, 4), 3072u);
    EXPECT_EQ(OpenError(env, good, true), "");
    auto with16 = [&](std::size_t at, std::uint16_t v) {
        std::string b = good;
        NTXPut16(reinterpret_cast<std::uint8_t*>(&b[at]), v);
        return b;
    };
    auto with32 = [&](std::size_t at, std::uint32_t v) {
        std::string b = good;
        NTXPut32(reinterpret_cast<std::uint8_t*>(&b[at]), v);
        return b;
    };
    EXPECT_EQ(OpenError(env, with16(0, 8)), "status 2");  // not NTX
    EXPECT_EQ(OpenError(env, good.substr(0, 1)), "status 2");
    EXPECT_EQ(OpenError(env, good.substr(0, 600)), "the file is shorter than its header");
    EXPECT_EQ(OpenError(env, with16(14, 0)), "key size 0 is outside 1..330 in the header");
    EXPECT_EQ(OpenError(env, with16(14, 331)), "key size 331 is outside 1..330 in the header");
    EXPECT_EQ(OpenError(env, with16(12, 19)), "item size 19 is not key size + 8 in the header");
    EXPECT_EQ(OpenError(env, with16(18, 51)), "max items 51 does not fit a page in the header");
    EXPECT_EQ(OpenError(env, with16(20, 0)), "half page 0 does not match max items in the header");
    EXPECT_EQ(OpenError(env, with16(20, 26)), "half page 26 does not match max items in the header");
    EXPECT_EQ(OpenError(env, with32(4, 0)), "root 0 is not a page of the file in the header");
    EXPECT_EQ(OpenError(env, with32(4, 3000)), "root 3000 is not a page of the file in the header");
    EXPECT_EQ(OpenError(env, with32(4, 4096)), "root 4096 is not a page of the file in the header");
    EXPECT_EQ(OpenError(env, with32(8, 8192)), "next free page 8192 is not a page of the file in the header");

    // Pages: the root at 3072 has one key; its items are at the slots its table names.
    const std::size_t root = 3072, slot0 = root + Get16(good, root + 2);
    EXPECT_EQ(OpenError(env, with16(root, 51), true), "NTX file is corrupt: key count 51 above max items 50 at page 3072");
    EXPECT_EQ(OpenError(env, with16(root + 2, 1020), true),
              "NTX file is corrupt: offset table entry 0 (1020) is not an item slot at page 3072");
    EXPECT_EQ(OpenError(env, with16(root + 2, 105), true),
              "NTX file is corrupt: offset table entry 0 (105) is not an item slot at page 3072");
    EXPECT_EQ(OpenError(env, with32(slot0, 1000), true),
              "NTX file is corrupt: child 1000 is not a page of the file at page 3072");
    EXPECT_EQ(OpenError(env, with32(slot0, 8192), true),
              "NTX file is corrupt: child 8192 is not a page of the file at page 3072");
    EXPECT_EQ(OpenError(env, with32(slot0, 3072), true), "NTX file is corrupt: page links to itself at page 3072");
    // A leaf made to point back at the root: a cycle that no walk may follow forever.
    const std::size_t leaf = 1024, leafSlot0 = leaf + Get16(good, leaf + 2);
    const std::string cyc = OpenError(env, with32(leafSlot0, 3072), true);
    EXPECT_NE(cyc.find("NTX file is corrupt: "), std::string::npos) << cyc;
    // Record number 0.
    EXPECT_EQ(OpenError(env, with32(leafSlot0 + 4, 0), true), "NTX file is corrupt: record number 0 at page 1024");
}

TEST(NtxCoreFormat, AnUnusedOffsetEntryOutsideThePageIsRefusedBeforeAnInsertion) {
    TMemEnv env;
    std::string b = TwoLevelFile(env);
    // The right leaf (2048) holds 34 keys; entry 35 is unused, read never looks at it.
    ASSERT_EQ(Get16(b, 2048), 34);
    NTXPut16(reinterpret_cast<std::uint8_t*>(&b[2048 + 2 + 2 * 35]), 1020);
    EXPECT_EQ(OpenError(env, b, true), "");
    TOpenNtx o(env, "/d/h.ntx");
    o.Tree.BeginUpdate();
    try {
        o.Tree.AddKey(U(NumKey(99, 10)), 99);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "NTX file is corrupt: the offset table is not a permutation of the item slots at page 2048");
    }
}

TEST(NtxCoreFormat, ManyLinksToOnePageCannotMakeAWalkExplode) {
    // A chain of inner pages whose every child is the next page: the number of root-to-leaf
    // paths is astronomic, the walk must stop at once.
    TMemEnv env;
    CreateNtx(env, "/d/t.ntx", 330);  // 2 keys per page
    std::string b = env.Contents("/d/t.ntx");
    const int pages = 40;
    b.resize(1024 * (pages + 1));
    TNTXGeometry g;
    NTXDerivedSizes(330, g);
    for (int p = 1; p <= pages; ++p) {
        TNTXPage pg(reinterpret_cast<std::uint8_t*>(&b[1024 * p]), g);
        pg.LayoutFresh();
        pg.SetCount(2);
        for (int e = 0; e <= 2; ++e) {
            pg.SetChild(e, p < pages ? 1024u * (p + 1) : 0u);
            if (e < 2) NTXPut32(pg.Item(e) + 4, 1);
        }
    }
    const std::string why = OpenError(env, b, true);
    EXPECT_NE(why.find("more pages than the file holds"), std::string::npos) << why;
}

}  // namespace
}  // namespace zarbel

namespace zarbel {
namespace {

using namespace ntxtest;

// Damaged copies of a three-level file: random bytes of its pages changed, then every read and
// write the tree offers. A damaged file may raise the engine's exception; it never reads or
// writes outside a page, never hangs (the sanitizer build checks the first).
TEST(NtxCoreFormat, DamagedFilesRaiseOrWorkButNeverBreakMemory) {
    TMemEnv env;
    CreateNtx(env, "/d/m.ntx", 12);
    {
        TOpenNtx o(env, "/d/m.ntx");
        o.Tree.BeginUpdate();
        for (unsigned i = 1; i <= 3000; ++i) o.Tree.AddKey(U(NumKey(i * 37 % 3001, 12)), i);
        for (unsigned i = 1; i <= 3000; i += 3) o.Tree.DeleteKey(U(NumKey(i * 37 % 3001, 12)), i);
        o.Tree.EndUpdate();
    }
    const std::string good = env.Contents("/d/m.ntx");
    std::mt19937 rng(4242);
    int raised = 0;
    for (int trial = 0; trial < 300; ++trial) {
        std::string b = good;
        const int flips = 1 + static_cast<int>(rng() % 6);
        for (int k = 0; k < flips; ++k) {
            const std::size_t at = 1024 + rng() % (b.size() - 1024);
            b[at] = static_cast<char>(rng() % 4 == 0 ? 0 : rng());
        }
        env.SetContents("/d/m.ntx", b);
        TOpenNtx o(env, "/d/m.ntx");
        ASSERT_EQ(o.Status, TNTXOpenStatus::Ok);
        o.Tree.SetDeleteKeyStyle(trial % 2 ? dksApolloHalcyon : dksClipper);
        try {
            Walk(o.Tree);
            WalkBack(o.Tree);
            THXNTXCursor c;
            o.Tree.Seek(c, U(NumKey(500, 12)), 12, true);
            o.Tree.FindKey(U("  "), 2, true, 0, true, [](std::uint32_t) { return false; });
            o.Tree.Verify();
            o.Tree.BeginUpdate();
            for (unsigned i = 1; i <= 200; ++i) {
                o.Tree.AddKey(U(NumKey(rng() % 4000, 12)), 5000 + i);
                o.Tree.DeleteKey(U(NumKey(i * 37 % 3001, 12)), i);
            }
            o.Tree.EndUpdate();
            Walk(o.Tree);
        } catch (const Exception&) {
            ++raised;
        }
    }
    EXPECT_GT(raised, 30);
}

}  // namespace
}  // namespace zarbel
