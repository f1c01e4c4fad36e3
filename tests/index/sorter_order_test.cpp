// Every sorter against std::stable_sort with the same comparison: 20,000 random keys in byte,
// descending, collated and numeric order (hash buckets of each kind), with and without Unique;
// ordered and reverse-ordered input; the record-number callback; a cleared sorter reused.
#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "index/HXMergeSorters.h"
#include "platform/mem_env.h"
#include "sorter_keys.h"

using namespace zarbel;
using namespace zarbel::sortertest;

namespace {

const THXSorterClass kAll[] = {scQuick,   scBinaryTree, scRedBlackTree, scAVLTree,
                               scTrieTree, scMerge,     sc4PathMerge,   sc8PathMerge};

// Case-insensitive letters, digits weighted in reverse: different bytes of equal weight.
struct TCollation {
    std::uint8_t W[256];
    TCollation() {
        for (int i = 0; i < 256; ++i) W[i] = static_cast<std::uint8_t>(i);
        for (int c = 'a'; c <= 'z'; ++c) W[c] = static_cast<std::uint8_t>(c - 'a' + 'A');
        for (int c = '0'; c <= '9'; ++c) W[c] = static_cast<std::uint8_t>('9' - (c - '0'));
    }
};
const TCollation kCollation;

enum TKind { kAscending, kDescending, kCollated, kNegativeNumbers, kHashBuckets };
const char* kKindNames[] = {"Ascending", "Descending", "Collated", "NegativeNumbers", "HashBuckets"};

// A key set with its order and hash settings.
struct TCase {
    TKeys Keys;
    THXKeyOrder Order;
    std::uint8_t Map[256];
    THXSorterHash Hash;
};

const TCase& CaseOf(TKind kind) {
    static std::unique_ptr<TCase> cases[5];
    auto& c = cases[kind];
    if (c) return *c;
    c = std::make_unique<TCase>();
    switch (kind) {
        case kAscending: c->Keys = TextKeys(20000, 1, "ABCDEF"); break;
        case kDescending:
            c->Keys = TextKeys(20000, 2, "ABCDEF");
            c->Order.Desc = true;
            break;
        case kCollated:
            c->Keys = TextKeys(20000, 3, "aAbB09");
            c->Order.Weights = kCollation.W;
            break;
        case kNegativeNumbers:
            // Negative hashes do not grow with the order: one bucket.
            c->Keys = NumberKeys(20000, 4, -5000, 5000);
            c->Hash.HashType = htts1024;
            c->Hash.MaxBitsInHashCode = mbhc20;
            c->Hash.SingleBucket = true;
            break;
        case kHashBuckets:
            // Hashes below 2^20 that grow with the key: the top 10 of 20 bits pick the bucket.
            c->Keys = NumberKeys(20000, 5, 0, (1 << 20) - 1);
            c->Hash.HashType = htts1024;
            c->Hash.MaxBitsInHashCode = mbhc20;
            break;
    }
    c->Order.FillBucketMap(c->Map);
    if (c->Hash.HashType == httsDefault) c->Hash.BucketMap = c->Map;
    return *c;
}

THXSorterParams ParamsFor(const TCase& c, bool unique, TEnv* env) {
    THXSorterParams p;
    p.Capacity = static_cast<int>(c.Keys.Keys.size());
    p.KeySize = c.Keys.KeySize;
    p.Compare = c.Order.Comparison();
    p.Unique = unique;
    p.Hash = c.Hash;
    // Outer sorters: 20 runs, 7 items a buffer, so that merges take several passes.
    p.Outer.SetSortItemPerInnerSorter(1000);
    p.Outer.SetBufferSize((c.Keys.KeySize + 8) * 7 + 3);
    p.Env = env;
    return p;
}

using TParam = std::tuple<THXSorterClass, TKind, bool>;

class SorterOrder : public ::testing::TestWithParam<TParam> {};

TEST_P(SorterOrder, SameOrderAsStableSort) {
    const auto [cls, kind, unique] = GetParam();
    const TCase& c = CaseOf(kind);
    TMemEnv env;
    env.AddDirectory("/tmp/");
    {
        THXSorterParams p = ParamsFor(c, unique, &env);
        // The outer sorters try each kind of inner sorter in turn.
        if (cls == sc4PathMerge) p.Outer.SetInnerSorter(scQuick);
        if (cls == sc8PathMerge) p.Outer.SetInnerSorter(scTrieTree);
        auto s = CreateSorter(cls, p);
        AddAll(*s, c.Keys);
        s->Sort();
        const auto expected = Reference(c.Keys, p.Compare, unique);
        EXPECT_EQ(s->Count(), static_cast<std::int64_t>(expected.size()));
        EXPECT_EQ(Walk(*s, c.Keys), expected);
        if (unique) {
            EXPECT_LT(expected.size(), c.Keys.Keys.size());  // the keys do repeat
        }
    }
    EXPECT_TRUE(env.Files().empty());
}

INSTANTIATE_TEST_SUITE_P(AllSorters, SorterOrder,
                         ::testing::Combine(::testing::ValuesIn(kAll),
                                            ::testing::Values(kAscending, kDescending, kCollated,
                                                              kNegativeNumbers, kHashBuckets),
                                            ::testing::Bool()),
                         [](const ::testing::TestParamInfo<TParam>& i) {
                             return std::string(SorterClassName(std::get<0>(i.param))) + "_" +
                                    kKindNames[std::get<1>(i.param)] + (std::get<2>(i.param) ? "_Unique" : "");
                         });

class SorterInput : public ::testing::TestWithParam<THXSorterClass> {};

// Ordered input (an index on a counter) and its reverse, each key twice in a row: the
// unbalanced tree becomes a list of 20,000 nodes, walked without recursion.
TEST_P(SorterInput, OrderedAndReversedInput) {
    for (int round = 0; round < 4; ++round) {
        const bool reversed = round & 1, unique = round & 2;
        TKeys k;
        k.KeySize = 8;
        for (int i = 0; i < 20000; ++i) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%08d", reversed ? 20000 - i / 2 : i / 2);
            k.Keys.push_back(buf);
            k.Hashes.push_back(i);
        }
        TMemEnv env;
        env.AddDirectory("/tmp/");
        THXSorterParams p;
        p.Capacity = 20000;
        p.KeySize = 8;
        p.Unique = unique;
        p.Env = &env;
        p.Outer.SetSortItemPerInnerSorter(3000);
        auto s = CreateSorter(GetParam(), p);
        AddAll(*s, k);
        s->Sort();
        EXPECT_EQ(Walk(*s, k), Reference(k, THXKeyOrder().Comparison(), unique)) << round;
    }
}

// Equal keys ordered by the record-number callback (here: descending); a cleared sorter sorts
// a second set from scratch.
TEST_P(SorterInput, RecordNumberCallbackAndClear) {
    TKeys k = TextKeys(3000, 9, "AB");
    THXKeyOrder order;
    TMemEnv env;
    env.AddDirectory("/tmp/");
    THXSorterParams p;
    p.Capacity = 3000;
    p.KeySize = k.KeySize;
    p.Compare = order.Comparison();
    p.Compare.RecNos = [](const void*, std::uint32_t a, std::uint32_t b) { return a > b ? -1 : (a < b ? 1 : 0); };
    p.Env = &env;
    p.Outer.SetSortItemPerInnerSorter(700);
    p.Outer.SetBufferSize(100);
    auto s = CreateSorter(GetParam(), p);
    for (int round = 0; round < 2; ++round) {
        AddAll(*s, k);
        s->Sort();
        std::vector<std::uint32_t> expected(k.Keys.size());
        for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<std::uint32_t>(i + 1);
        std::sort(expected.begin(), expected.end(), [&](std::uint32_t a, std::uint32_t b) {
            int c = THXKeyOrder::CompareKeys(&order, reinterpret_cast<const std::uint8_t*>(k.Keys[a - 1].data()),
                                             reinterpret_cast<const std::uint8_t*>(k.Keys[b - 1].data()), 8);
            return c != 0 ? c < 0 : a > b;
        });
        EXPECT_EQ(Walk(*s, k), expected) << "round " << round;
        s->Clear();
        EXPECT_EQ(s->Count(), 0);
        EXPECT_TRUE(s->First());
        k = TextKeys(3000, 10, "ABC");
    }
}

INSTANTIATE_TEST_SUITE_P(AllSorters, SorterInput, ::testing::ValuesIn(kAll),
                         [](const ::testing::TestParamInfo<THXSorterClass>& i) {
                             return std::string(SorterClassName(i.param));
                         });

}  // namespace
