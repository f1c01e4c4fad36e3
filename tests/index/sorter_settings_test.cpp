// The sorters' settings and messages: the hash table sizes against MaxBitsInHashCode, the
// refused htts4294967296, hash values out of range, capacities, Unique refusing at add, and
// the items per inner sorter of the outer sorters.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "index/HXMergeSorters.h"
#include "platform/exception.h"
#include "platform/mem_env.h"
#include "testutil/platform_helpers.h"

using namespace zarbel;

namespace {

const THXSorterClass kAll[] = {scQuick,   scBinaryTree, scRedBlackTree, scAVLTree,
                               scTrieTree, scMerge,     sc4PathMerge,   sc8PathMerge};

using testutil::Message;

THXSorterParams Params(int capacity, THXHashTypeForTreeSorters h = httsDefault, THXMaxBitsInHashCode b = mbhc32) {
    THXSorterParams p;
    p.Capacity = capacity;
    p.KeySize = 4;
    p.Hash.HashType = h;
    p.Hash.MaxBitsInHashCode = b;
    return p;
}

TEST(SorterSettings, HashTableWiderThanHashBitsIsRefused) {
    for (THXSorterClass c : kAll) {
        EXPECT_EQ(Message([&] { CreateSorter(c, Params(10, htts256, mbhc4)); }),
                  "THXSorterAbstract.Create: MaxBitsInHashCode must be greater then number of bits used for "
                  "HashTableSize!")
            << SorterClassName(c);
        // c = b is allowed, and httsDefault ignores b.
        EXPECT_NO_THROW(CreateSorter(c, Params(10, htts16, mbhc4)));
        EXPECT_NO_THROW(CreateSorter(c, Params(10, httsDefault, mbhc0)));
    }
    const std::string m = Message([] { CreateSorter(scAVLTree, Params(10, htts4294967296, mbhc32)); });
    EXPECT_EQ(m.rfind("THXSorterAbstract.Create: HashTypeForTreeSorters htts4294967296 ", 0), 0u) << m;
    // The widest table that may be asked for still works (the allocated table is capped).
    auto s = CreateSorter(scRedBlackTree, Params(10, htts2147483648, mbhc32));
    const std::uint8_t key[4] = {'a', 'b', 'c', 'd'};
    EXPECT_TRUE(s->Add(-5, 1, key));
    EXPECT_TRUE(s->Add(0x7FFFFFFF, 2, key));
}

// b = 4: hashes 0..15 and -7..-1 are valid; 16 and -8 are not.
TEST(SorterSettings, HashOutOfRange) {
    const std::uint8_t key[4] = {'a', 'b', 'c', 'd'};
    for (THXSorterClass c : kAll) {
        auto s = CreateSorter(c, Params(10, htts16, mbhc4));
        EXPECT_TRUE(s->Add(15, 1, key));
        EXPECT_TRUE(s->Add(-7, 2, key));
        EXPECT_EQ(Message([&] { s->Add(16, 3, key); }), "THXSorterAbstract.Hash: Hash value (16) must be less than 15")
            << SorterClassName(c);
        EXPECT_EQ(Message([&] { s->Add(-8, 4, key); }), "THXSorterAbstract.Hash: Hash value (-8) must be less than 7");
        s->Sort();
        EXPECT_EQ(s->Count(), 2) << SorterClassName(c);
    }
}

TEST(SorterSettings, CapacityIsNeverExceeded) {
    TMemEnv env;
    env.AddDirectory("/tmp/");
    const std::uint8_t key[4] = {'a', 'b', 'c', 'd'};
    for (THXSorterClass c : kAll) {
        THXSorterParams p = Params(3);
        p.Env = &env;
        p.Outer.SetSortItemPerInnerSorter(2);
        auto s = CreateSorter(c, p);
        for (std::uint32_t r = 1; r <= 3; ++r) EXPECT_TRUE(s->Add(0, r, key));
        EXPECT_TRUE(s->Full());
        EXPECT_EQ(Message([&] { s->Add(0, 4, key); }),
                  std::string(SorterClassName(c)) + ".AddSortItem: The sorter is full (capacity 3 items)");
        s->Sort();
        EXPECT_EQ(s->Count(), 3);
        // An empty sorter of no capacity sorts to nothing.
        auto e = CreateSorter(c, Params(0));
        e->Sort();
        EXPECT_TRUE(e->First());
    }
}

// Tree sorters refuse an equal key when it is added; the quick sorter drops it when sorting.
// Either way the first one added stays and Full counts only what is held.
TEST(SorterSettings, UniqueKeepsTheFirstOfEqualKeys) {
    const std::uint8_t a[4] = {'a', ' ', ' ', ' '}, b[4] = {'b', ' ', ' ', ' '};
    for (THXSorterClass c : {scBinaryTree, scRedBlackTree, scAVLTree, scTrieTree}) {
        THXSorterParams p = Params(2);
        p.Unique = true;
        auto s = CreateSorter(c, p);
        EXPECT_TRUE(s->Add(0, 1, b));
        EXPECT_FALSE(s->Add(0, 2, b));
        EXPECT_FALSE(s->Full());
        EXPECT_TRUE(s->Add(0, 3, a));
        s->Sort();
        ASSERT_FALSE(s->First());
        EXPECT_EQ(s->Current().RecNo(), 3u);
        ASSERT_FALSE(s->Next());
        EXPECT_EQ(s->Current().RecNo(), 1u);
        EXPECT_TRUE(s->Next());
    }
}

TEST(SorterSettings, ItemsPerInnerSorter) {
    TMemEnv env;
    struct {
        int Given;
        std::int64_t Items;  // 0: refused
    } cases[] = {{-32, 32768}, {-1, 1024}, {2, 2}, {5000, 5000}, {1, 0}, {0, 0}};
    for (const auto& c : cases) {
        THXSorterParams p = Params(100000);
        p.Env = &env;
        p.Outer.SetSortItemPerInnerSorter(c.Given);
        if (c.Items == 0) {
            EXPECT_EQ(Message([&] { THX4PathMergeSorter s(p); }),
                      "THX4PathMergeSorter.Create: SortItemPerInnerSorter must be at least 2 items, or a negative "
                      "number of 1024-item blocks (" + std::to_string(c.Given) + " given)");
        } else {
            EXPECT_EQ(THXMergeSorter(p).ItemsPerInnerSorter(), c.Items) << c.Given;
        }
    }
    THXSorterParams p = Params(10);
    p.Env = &env;
    p.Outer.SetBufferSize(11);
    EXPECT_EQ(Message([&] { THXMergeSorter s(p); }),
              "THXMergeSorter.Create: BufferSize (11 bytes) must hold at least one sort item of 12 bytes");
    p.Outer.SetBufferSize(12);
    // A trie needs the character order of a caller's key order.
    p.Compare.Keys = [](const void*, const std::uint8_t*, const std::uint8_t*, int) { return 0; };
    p.Outer.SetInnerSorter(scTrieTree);
    EXPECT_EQ(Message([&] { THXMergeSorter s(p); }).rfind("THXTrieTreeSorter.Create: The trie compares keys one ", 0),
              0u);
    p.Outer.SetInnerSorter(scMerge);
    EXPECT_EQ(Message([&] { THXMergeSorter s(p); }),
              "THXMergeSorter.Create: The inner sorter must sort in memory (THXMergeSorter given)");
}

}  // namespace
