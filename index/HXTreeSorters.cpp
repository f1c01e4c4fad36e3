#include "index/HXTreeSorters.h"

#include <cstring>

#include "platform/exception.h"

namespace zarbel {

namespace {
constexpr std::uint8_t kBlack = 0, kRed = 1;
}

// ---------------------------------------------------------------------------------------
// THXBinaryTreeSorterAbstract
// ---------------------------------------------------------------------------------------
THXBinaryTreeSorterAbstract::THXBinaryTreeSorterAbstract(const THXSorterParams& p) : THXMemorySorter(p) {
    const std::int64_t n = Capacity_ > 0 ? Capacity_ : 1;
    Links_ = TMemBlock::Allocate(this, n * 13, "THXBinaryTreeSorterAbstract");
    Left_ = static_cast<std::uint32_t*>(Links_.Data());
    Right_ = Left_ + n;
    Parent_ = Right_ + n;
    Meta_ = reinterpret_cast<std::uint8_t*>(Parent_ + n);
    RootsBlock_ = TMemBlock::Allocate(this, std::int64_t{12} * BucketCount(), "THXBinaryTreeSorterAbstract");
    Roots_ = static_cast<std::uint32_t*>(RootsBlock_.Data());
    Min_ = Roots_ + BucketCount();
    Max_ = Min_ + BucketCount();
    ClearLinks();
}

void THXBinaryTreeSorterAbstract::ClearLinks() { std::memset(Roots_, 0xFF, std::size_t{12} * BucketCount()); }

int THXBinaryTreeSorterAbstract::Compare(const std::uint8_t* item, std::uint32_t node, bool& equalKey) const {
    const int c = Cmp_.Keys(Cmp_.KeysOwner, item + 8, Item(node) + 8, KeySize_);
    equalKey = c == 0;
    return c != 0 ? c : CompareRecNos(item, Item(node));
}

bool THXBinaryTreeSorterAbstract::Link(std::uint32_t slot) {
    const std::uint8_t* item = Item(slot);
    const std::uint32_t bucket = Bucket(item);
    Left_[slot] = Right_[slot] = kNil;
    Meta_[slot] = 0;
    std::uint32_t cur = Roots_[bucket];
    if (cur == kNil) {
        Parent_[slot] = kNil;
        Roots_[bucket] = Min_[bucket] = Max_[bucket] = slot;
        Rebalance(slot, bucket);
        return true;
    }
    // Keys in order (an index on a counter or a date) go past the largest or the smallest
    // node: the place a descent would find, without the descent.
    bool equal = false;
    if (Compare(item, Max_[bucket], equal) > 0) {
        if (equal && Unique_) return false;
        Right_[Max_[bucket]] = slot;
        Parent_[slot] = Max_[bucket];
        Max_[bucket] = slot;
        Rebalance(slot, bucket);
        return true;
    }
    if (equal && Unique_) return false;
    if (Compare(item, Min_[bucket], equal) < 0) {
        if (equal && Unique_) return false;
        Left_[Min_[bucket]] = slot;
        Parent_[slot] = Min_[bucket];
        Min_[bucket] = slot;
        Rebalance(slot, bucket);
        return true;
    }
    if (equal && Unique_) return false;
    for (;;) {
        const int c = Compare(item, cur, equal);
        if (equal && Unique_) return false;
        std::uint32_t& next = c < 0 ? Left_[cur] : Right_[cur];
        if (next == kNil) {
            next = slot;
            Parent_[slot] = cur;
            break;
        }
        cur = next;
    }
    Rebalance(slot, bucket);
    return true;
}

void THXBinaryTreeSorterAbstract::RotateLeft(std::uint32_t x, std::uint32_t bucket) {
    const std::uint32_t y = Right_[x];
    Right_[x] = Left_[y];
    if (Left_[y] != kNil) Parent_[Left_[y]] = x;
    const std::uint32_t p = Parent_[x];
    Parent_[y] = p;
    if (p == kNil)
        Roots_[bucket] = y;
    else if (Left_[p] == x)
        Left_[p] = y;
    else
        Right_[p] = y;
    Left_[y] = x;
    Parent_[x] = y;
}

void THXBinaryTreeSorterAbstract::RotateRight(std::uint32_t x, std::uint32_t bucket) {
    const std::uint32_t y = Left_[x];
    Left_[x] = Right_[y];
    if (Right_[y] != kNil) Parent_[Right_[y]] = x;
    const std::uint32_t p = Parent_[x];
    Parent_[y] = p;
    if (p == kNil)
        Roots_[bucket] = y;
    else if (Right_[p] == x)
        Right_[p] = y;
    else
        Left_[p] = y;
    Right_[y] = x;
    Parent_[x] = y;
}

void THXBinaryTreeSorterAbstract::SortItems() {
    // In-order walk by parent links: leftmost node, then the successor (the leftmost node of
    // the right subtree, or the first ancestor reached from its left side).
    std::uint32_t* out = Index();
    std::int64_t k = 0;
    for (std::uint32_t b = 0; b < BucketCount(); ++b) {
        std::uint32_t n = Roots_[b];
        if (n == kNil) continue;
        while (Left_[n] != kNil) n = Left_[n];
        while (n != kNil) {
            out[k++] = n;
            if (Right_[n] != kNil) {
                n = Right_[n];
                while (Left_[n] != kNil) n = Left_[n];
            } else {
                std::uint32_t p = Parent_[n];
                while (p != kNil && Right_[p] == n) {
                    n = p;
                    p = Parent_[p];
                }
                n = p;
            }
        }
    }
    Count_ = k;
}

// ---------------------------------------------------------------------------------------
// THXRedBlackTreeSorter
// ---------------------------------------------------------------------------------------
void THXRedBlackTreeSorter::Rebalance(std::uint32_t x, std::uint32_t bucket) {
    Meta_[x] = kRed;
    while (x != Roots_[bucket] && Meta_[Parent_[x]] == kRed) {
        std::uint32_t p = Parent_[x];
        const std::uint32_t g = Parent_[p];  // a red node is never the root
        if (p == Left_[g]) {
            const std::uint32_t u = Right_[g];
            if (u != kNil && Meta_[u] == kRed) {
                Meta_[p] = Meta_[u] = kBlack;
                Meta_[g] = kRed;
                x = g;
                continue;
            }
            if (x == Right_[p]) {
                x = p;
                RotateLeft(x, bucket);
                p = Parent_[x];
            }
            Meta_[p] = kBlack;
            Meta_[g] = kRed;
            RotateRight(g, bucket);
        } else {
            const std::uint32_t u = Left_[g];
            if (u != kNil && Meta_[u] == kRed) {
                Meta_[p] = Meta_[u] = kBlack;
                Meta_[g] = kRed;
                x = g;
                continue;
            }
            if (x == Left_[p]) {
                x = p;
                RotateRight(x, bucket);
                p = Parent_[x];
            }
            Meta_[p] = kBlack;
            Meta_[g] = kRed;
            RotateLeft(g, bucket);
        }
    }
    Meta_[Roots_[bucket]] = kBlack;
}

// ---------------------------------------------------------------------------------------
// THXAVLTreeSorter
// ---------------------------------------------------------------------------------------
void THXAVLTreeSorter::Rebalance(std::uint32_t x, std::uint32_t bucket) {
    auto bf = [&](std::uint32_t n) -> std::int8_t& { return reinterpret_cast<std::int8_t&>(Meta_[n]); };
    bf(x) = 0;
    // Walk up while the subtree just grew; one (single or double) rotation ends it.
    for (std::uint32_t p = Parent_[x]; p != kNil; x = p, p = Parent_[x]) {
        if (x == Left_[p]) {
            if (bf(p) == 1) {
                bf(p) = 0;
                return;
            }
            if (bf(p) == 0) {
                bf(p) = -1;
                continue;
            }
            if (bf(x) == -1) {
                RotateRight(p, bucket);
                bf(p) = bf(x) = 0;
            } else {
                const std::uint32_t y = Right_[x];
                RotateLeft(x, bucket);
                RotateRight(p, bucket);
                bf(x) = bf(y) == 1 ? -1 : 0;
                bf(p) = bf(y) == -1 ? 1 : 0;
                bf(y) = 0;
            }
            return;
        }
        if (bf(p) == -1) {
            bf(p) = 0;
            return;
        }
        if (bf(p) == 0) {
            bf(p) = 1;
            continue;
        }
        if (bf(x) == 1) {
            RotateLeft(p, bucket);
            bf(p) = bf(x) = 0;
        } else {
            const std::uint32_t y = Left_[x];
            RotateRight(x, bucket);
            RotateLeft(p, bucket);
            bf(x) = bf(y) == -1 ? 1 : 0;
            bf(p) = bf(y) == 1 ? -1 : 0;
            bf(y) = 0;
        }
        return;
    }
}

// ---------------------------------------------------------------------------------------
// THXTrieTreeSorter
// ---------------------------------------------------------------------------------------
THXTrieTreeSorter::THXTrieTreeSorter(const THXSorterParams& p) : THXMemorySorter(p) {
    if (p.Compare.Keys && !p.Compare.Chars)
        throw Exception(
            "THXTrieTreeSorter.Create: The trie compares keys one character at a time; a key comparison needs "
            "the character comparison that agrees with it");
    const std::int64_t n = Capacity_ > 0 ? Capacity_ : 1;
    NextItem_ = TMemBlock::Allocate(this, n * 4, "THXTrieTreeSorter");
    ClearLinks();
}

void THXTrieTreeSorter::ClearLinks() {
    Nodes_ = 0;
    NewNode(kNil, 0, 0);  // the root
}

std::uint32_t THXTrieTreeSorter::NewNode(std::uint32_t parent, std::uint32_t depth, std::uint8_t ch) {
    const std::uint32_t i = Nodes_;
    if ((i >> kChunkBits) >= Chunks_.size())
        Chunks_.push_back(TMemBlock::Allocate(this, std::int64_t{sizeof(TNode)} << kChunkBits, "THXTrieTreeSorter"));
    ++Nodes_;
    Node(i) = TNode{kNil, kNil, parent, kNil, kNil, depth, ch};
    return i;
}

void THXTrieTreeSorter::InsertChild(std::uint32_t parent, std::uint32_t child) {
    const std::uint8_t ch = Node(child).Ch;
    std::uint32_t prev = kNil, cur = Node(parent).FirstChild;
    while (cur != kNil && Chars(Node(cur).Ch, ch) < 0) {
        prev = cur;
        cur = Node(cur).Next;
    }
    Node(child).Next = cur;
    if (prev == kNil)
        Node(parent).FirstChild = child;
    else
        Node(prev).Next = child;
}

void THXTrieTreeSorter::AddToLeaf(std::uint32_t leaf, std::uint32_t slot) {
    auto* next = static_cast<std::uint32_t*>(NextItem_.Data());
    TNode& n = Node(leaf);
    next[slot] = kNil;
    if (n.Head == kNil) {
        n.Head = n.Tail = slot;
        return;
    }
    const std::uint8_t* item = Item(slot);
    // Items mostly come in record order: the tail is the usual place.
    if (CompareRecNos(Item(n.Tail), item) < 0) {
        next[n.Tail] = slot;
        n.Tail = slot;
        return;
    }
    std::uint32_t prev = kNil, cur = n.Head;
    while (cur != kNil && CompareRecNos(Item(cur), item) < 0) {
        prev = cur;
        cur = next[cur];
    }
    next[slot] = cur;
    if (prev == kNil)
        n.Head = slot;
    else
        next[prev] = slot;
}

bool THXTrieTreeSorter::Link(std::uint32_t slot) {
    const std::uint8_t* key = Item(slot) + 8;
    std::uint32_t node = 0;
    for (;;) {
        TNode& n = Node(node);
        if (n.Head != kNil) {
            // A leaf: its keys agree from its depth on. Find where this key parts from them.
            const std::uint8_t* rep = Item(n.Head) + 8;
            std::uint32_t d = n.Depth;
            while (!Ended(key, d) && Chars(key[d], rep[d]) == 0) ++d;
            if (Ended(key, d)) {
                if (Unique_) return false;
                AddToLeaf(node, slot);
                return true;
            }
            // Split: the leaf becomes a path of inner nodes down to depth d, where the old
            // items and the new key part into two leaves.
            const std::uint32_t head = n.Head, tail = n.Tail;
            n.Head = n.Tail = kNil;
            std::uint32_t at = node;
            for (std::uint32_t i = Node(node).Depth; i < d; ++i) {
                const std::uint32_t c = NewNode(at, i + 1, rep[i]);
                Node(at).FirstChild = c;
                at = c;
            }
            const std::uint32_t old = NewNode(at, d + 1, rep[d]);
            Node(old).Head = head;
            Node(old).Tail = tail;
            Node(at).FirstChild = old;
            const std::uint32_t fresh = NewNode(at, d + 1, key[d]);
            InsertChild(at, fresh);
            AddToLeaf(fresh, slot);
            return true;
        }
        const std::uint32_t d = n.Depth;
        std::uint32_t c = n.FirstChild;
        int r = 1;
        while (c != kNil && (r = Chars(Node(c).Ch, key[d])) < 0) c = Node(c).Next;
        if (c == kNil || r != 0) {
            const std::uint32_t fresh = NewNode(node, d + 1, key[d]);
            InsertChild(node, fresh);
            AddToLeaf(fresh, slot);
            return true;
        }
        node = c;
    }
}

void THXTrieTreeSorter::SortItems() {
    const auto* next = static_cast<const std::uint32_t*>(NextItem_.Data());
    std::uint32_t* out = Index();
    std::int64_t k = 0;
    // Depth first, children in order, without recursion: down the first children to a leaf,
    // then to the next sibling of the nearest node that has one.
    std::uint32_t n = Node(0).FirstChild;
    while (n != kNil) {
        while (Node(n).FirstChild != kNil) n = Node(n).FirstChild;
        for (std::uint32_t s = Node(n).Head; s != kNil; s = next[s]) out[k++] = s;
        while (n != 0 && Node(n).Next == kNil) n = Node(n).Parent;
        n = n == 0 ? kNil : Node(n).Next;
    }
    Count_ = k;
}

}  // namespace zarbel
