// The tree sorters: a binary search tree per hash bucket (unbalanced, red-black or AVL), and a
// character trie. Nodes are slots of the item area: the links are arrays of 32-bit slot
// numbers beside it, all from the memory manager. Inserting and walking never recurse, so an
// unbalanced tree fed ordered keys grows a long list but never overflows the stack.
//
// Sort walks the buckets in order (buckets follow the key order) and each tree in order, and
// writes the walk into the index array; First/Next then read the index array.
#pragma once
#include <vector>

#include "index/HXSorter.h"

namespace zarbel {

class THXBinaryTreeSorterAbstract : public THXMemorySorter {
public:
    void SortItems() override;

protected:
    explicit THXBinaryTreeSorterAbstract(const THXSorterParams& p);
    static constexpr std::uint32_t kNil = 0xFFFFFFFFu;
    bool Link(std::uint32_t slot) override;
    void ClearLinks() override;
    // Restores the balance after slot was linked in as a leaf of bucket's tree.
    virtual void Rebalance(std::uint32_t slot, std::uint32_t bucket) = 0;
    void RotateLeft(std::uint32_t x, std::uint32_t bucket);
    void RotateRight(std::uint32_t x, std::uint32_t bucket);

    std::uint32_t* Left_ = nullptr;
    std::uint32_t* Right_ = nullptr;
    std::uint32_t* Parent_ = nullptr;
    std::uint8_t* Meta_ = nullptr;  // red-black: colour; AVL: balance (right height - left)
    std::uint32_t* Roots_ = nullptr;
    std::uint32_t* Min_ = nullptr;  // each bucket's smallest and largest node
    std::uint32_t* Max_ = nullptr;

private:
    // Item against a node: key, then record number; equalKey tells whether the keys were equal.
    int Compare(const std::uint8_t* item, std::uint32_t node, bool& equalKey) const;
    TMemBlock Links_;  // Left, Right, Parent and Meta of every slot
    TMemBlock RootsBlock_;
};

class THXBinaryTreeSorter : public THXBinaryTreeSorterAbstract {
public:
    explicit THXBinaryTreeSorter(const THXSorterParams& p) : THXBinaryTreeSorterAbstract(p) {}
    const char* ClassName() const override { return "THXBinaryTreeSorter"; }

protected:
    void Rebalance(std::uint32_t, std::uint32_t) override {}
};

class THXRedBlackTreeSorter : public THXBinaryTreeSorterAbstract {
public:
    explicit THXRedBlackTreeSorter(const THXSorterParams& p) : THXBinaryTreeSorterAbstract(p) {}
    const char* ClassName() const override { return "THXRedBlackTreeSorter"; }

protected:
    void Rebalance(std::uint32_t slot, std::uint32_t bucket) override;
};

class THXAVLTreeSorter : public THXBinaryTreeSorterAbstract {
public:
    explicit THXAVLTreeSorter(const THXSorterParams& p) : THXBinaryTreeSorterAbstract(p) {}
    const char* ClassName() const override { return "THXAVLTreeSorter"; }

protected:
    void Rebalance(std::uint32_t slot, std::uint32_t bucket) override;
};

// A trie over key characters, ordered by the character callback (characters it calls equal
// share a branch). A leaf stands for every key that agrees with its first item from the leaf's
// depth on; a key that differs splits the leaf where they part. A leaf's items are listed by
// record number. With KeyEndsAtNul a key ends at its first NUL.
class THXTrieTreeSorter : public THXMemorySorter {
public:
    explicit THXTrieTreeSorter(const THXSorterParams& p);
    void SortItems() override;
    const char* ClassName() const override { return "THXTrieTreeSorter"; }

protected:
    bool Link(std::uint32_t slot) override;
    void ClearLinks() override;

private:
    static constexpr std::uint32_t kNil = 0xFFFFFFFFu;
    struct TNode {
        std::uint32_t FirstChild, Next, Parent, Head, Tail;
        std::uint32_t Depth;  // characters on the path from the root
        std::uint8_t Ch;
    };
    static constexpr int kChunkBits = 14;
    TNode& Node(std::uint32_t i) {
        return reinterpret_cast<TNode*>(Chunks_[i >> kChunkBits].Data())[i & ((1u << kChunkBits) - 1)];
    }
    std::uint32_t NewNode(std::uint32_t parent, std::uint32_t depth, std::uint8_t ch);
    // Puts child among parent's children in character order.
    void InsertChild(std::uint32_t parent, std::uint32_t child);
    // Adds slot to a leaf's item list in record-number order.
    void AddToLeaf(std::uint32_t leaf, std::uint32_t slot);
    // The key ends before position i (a NUL at i-1 when keys end at NUL).
    bool Ended(const std::uint8_t* key, std::uint32_t i) const {
        return i >= static_cast<std::uint32_t>(KeySize_) || (i > 0 && Cmp_.KeyEndsAtNul && key[i - 1] == 0);
    }
    int Chars(std::uint8_t a, std::uint8_t b) const { return Cmp_.Chars(Cmp_.CharsOwner, a, b); }

    std::vector<TMemBlock> Chunks_;
    std::uint32_t Nodes_ = 0;
    TMemBlock NextItem_;
};

}  // namespace zarbel
