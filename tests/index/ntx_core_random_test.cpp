// Randomized differential test: random adds and deletes against an ordered multiset, in both
// delete styles. Every 1,000 operations the walk (both ways) must equal the multiset and the
// structural check must pass: key order, free pages and page count always, page fields and
// half page too for the rebalancing style. Updates end and begin again now and then, and the
// file is reopened from disk, through a small cache with enciphered pages, so that block reuse,
// enciphering and the free list all take part.
//
// 100,000 operations per style in the optimised build, fewer under the sanitizers;
// ZARBEL_NTX_RANDOM_OPS overrides the number.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <set>

#include "ntx_core_util.h"

namespace zarbel {
namespace {

using namespace ntxtest;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultOps = 20000;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int kDefaultOps = 20000;
#else
constexpr int kDefaultOps = 100000;
#endif
#else
constexpr int kDefaultOps = 100000;
#endif

int Ops() {
    const char* v = std::getenv("ZARBEL_NTX_RANDOM_OPS");
    return v && std::atoi(v) > 0 ? std::atoi(v) : kDefaultOps;
}

// Every inner page reachable from the root keeps record number 0 and a zero key in the item of
// its last child, as other writers do (readers take a record number there for a key).
void ExpectClearLastItems(TMemEnv& env) {
    std::string f = env.Contents("/d/r.ntx");
    TXorCipher x;
    for (std::size_t p = 1024; p + 1024 <= f.size(); p += 1024) x.Decipher(static_cast<std::uint32_t>(p), &f[p], 1024);
    TNTXHeader h;
    h.Parse(U(f));
    const TNTXGeometry g = h.Geometry();
    std::vector<std::uint32_t> todo{h.Root};
    int inner = 0;
    while (!todo.empty()) {
        const std::uint32_t at = todo.back();
        todo.pop_back();
        TNTXPage pg(reinterpret_cast<std::uint8_t*>(&f[at]), g);
        for (int e = 0; e <= pg.Count(); ++e)
            if (pg.Child(e) != 0) todo.push_back(pg.Child(e));
        if (pg.Child(pg.Count()) == 0) continue;
        ++inner;
        ASSERT_EQ(pg.RecNo(pg.Count()), 0u) << "page " << at;
        ASSERT_EQ(std::string(reinterpret_cast<const char*>(pg.Key(pg.Count())), g.KeySize), std::string(g.KeySize, '\0'));
    }
    EXPECT_GT(inner, 0);
}

void RunDifferential(TDeleteKeyStyle style, unsigned seed) {
    TMemEnv env;
    TXorCipher cipher;
    const int keySize = 6;  // 66 keys a page: deep enough trees within the operations
    CreateNtx(env, "/d/r.ntx", keySize, &cipher);
    auto open = [&] {
        auto o = std::make_unique<TOpenNtx>(env, "/d/r.ntx", &cipher);
        EXPECT_EQ(o->Status, TNTXOpenStatus::Ok);
        o->Tree.SetDeleteKeyStyle(style);
        THXNTXBuffers& b = o->Tree.Buffers();
        b.SetPagesPerBuffer(2);
        b.SetLimitType(lbtLimited);
        b.SetLimitBuffers(12);
        o->Tree.BeginUpdate();
        return o;
    };
    auto o = open();
    std::multiset<Entry> model;
    std::vector<Entry> live;  // the same entries, for picking one at random
    std::mt19937 rng(seed);
    std::uint32_t nextRec = 1;
    const int ops = Ops();
    for (int op = 1; op <= ops; ++op) {
        const unsigned dice = rng() % 100;
        if (live.empty() || dice < 58) {
            // Few distinct keys near each other: long runs of equal keys.
            std::string k = NumKey(rng() % 3000, keySize);
            if (rng() % 8 == 0) k = "ZZZZZZ";
            const Entry e(k, nextRec++);
            o->Tree.AddKey(U(e.first), e.second);
            model.insert(e);
            live.push_back(e);
        } else if (dice < 98) {
            const std::size_t i = rng() % live.size();
            const Entry e = live[i];
            ASSERT_TRUE(o->Tree.DeleteKey(U(e.first), e.second)) << op;
            model.erase(model.find(e));
            live[i] = live.back();
            live.pop_back();
        } else {
            // Entries that are not there: a known key with an unknown record, and the reverse.
            const Entry& e = live[rng() % live.size()];
            EXPECT_FALSE(o->Tree.DeleteKey(U(e.first), nextRec + 5));
            EXPECT_FALSE(o->Tree.DeleteKey(U("!!!!!!"), e.second));
        }
        if (op % 7000 == 0) {
            o->Tree.EndUpdate();
            o->Tree.BeginUpdate();
        }
        if (op % 25000 == 0) {
            o->Tree.EndUpdate();
            o.reset();
            ExpectClearLastItems(env);
            o = open();
        }
        if (op % 1000 == 0) {
            const std::vector<Entry> want(model.begin(), model.end());
            ASSERT_EQ(Walk(o->Tree), want) << "after " << op;
            std::vector<Entry> back = WalkBack(o->Tree);
            std::reverse(back.begin(), back.end());
            ASSERT_EQ(back, want) << "after " << op;
            TNTXVerifyOptions opt;
            opt.HalfPage = style == dksClipper;
            const TNTXVerifyReport rep = o->Tree.Verify(opt);
            for (const TNTXFinding& f : rep.Findings)
                if (style == dksClipper || f.Check == TNTXCheck::KeyOrder || f.Check == TNTXCheck::PageCount) FAIL() << "after " << op << ": " << f.Message;
            EXPECT_TRUE(rep.Notes.empty());
            ASSERT_EQ(rep.KeyCount, model.size());
        }
    }
    o->Tree.EndUpdate();
    o.reset();
    o = open();
    o->Tree.EndUpdate();
    EXPECT_EQ(Walk(o->Tree), std::vector<Entry>(model.begin(), model.end()));
    if (style == dksClipper) {
        const TNTXVerifyReport rep = o->Tree.Verify();
        for (const TNTXFinding& f : rep.Findings) ADD_FAILURE() << f.Message;
    }
    // Everything deleted: no key is left, every page but the tree's is free.
    o->Tree.BeginUpdate();
    for (const Entry& e : live) ASSERT_TRUE(o->Tree.DeleteKey(U(e.first), e.second));
    THXNTXCursor c;
    EXPECT_FALSE(o->Tree.First(c));
    o->Tree.EndUpdate();
    TNTXVerifyOptions opt;
    opt.HalfPage = false;
    const TNTXVerifyReport rep = o->Tree.Verify(opt);
    EXPECT_EQ(rep.KeyCount, 0u);
    for (const TNTXFinding& f : rep.Findings)
        if (f.Check == TNTXCheck::PageCount || style == dksClipper) ADD_FAILURE() << f.Message;
}

TEST(NtxCoreRandom, ClipperStyleAgainstMultiset) { RunDifferential(dksClipper, 20260101); }
TEST(NtxCoreRandom, ApolloHalcyonStyleAgainstMultiset) { RunDifferential(dksApolloHalcyon, 777); }

}  // namespace
}  // namespace zarbel
