// The sorters of index building: a family of classes sharing THXSorterAbstract.
//
// A sort item is the key's 4-byte signed sort hash, its 4-byte record number and the key bytes
// (item size = key size + 8). A sorter is created with its capacity, key size, comparison,
// unique flag, hash settings and (outer sorters) the outer settings; items are added, the
// sorter sorts once, and the items are walked in order:
//
//     auto s = CreateSorter(scAVLTree, params);
//     while (...) if (!s->Full()) s->Add(hash, recNo, key);
//     s->Sort();
//     for (bool end = s->First(); !end; end = s->Next()) use(s->Current());
//
// The order is the key comparison, equal keys by record number (ascending, or by the
// record-number callback). With Unique a sorter keeps one item per key (compared without the
// record number): the first one added, which is the lowest record number when items arrive in
// record order. A sorter never holds more than its capacity: Add on a full sorter throws.
//
// The in-memory sorters (quick, binary tree, red-black, AVL, trie) keep their items in one
// block of capacity items and an index array from the memory manager. The outer sorters
// (HXMergeSorters.h) sort runs in an inner sorter and spill them to temporary files.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "engine/HXDBFMemMgr.h"

namespace zarbel {

class TEnv;

// The hash table of the tree sorters: httsDefault uses no hash function (buckets by the first
// key byte); htts1 .. htts4294967296 name a table of 2^c buckets, c = value - 1.
enum THXHashTypeForTreeSorters : int {
    httsDefault, htts1, htts2, htts4, htts8, htts16, htts32, htts64, htts128, htts256, htts512,
    htts1024, htts2048, htts4096, htts8192, htts16384, htts32768, htts65536, htts131072,
    htts262144, htts524288, htts1048576, htts2097152, htts4194304, htts8388608, htts16777216,
    htts33554432, htts67108864, htts134217728, htts268435456, htts536870912, htts1073741824,
    htts2147483648, htts4294967296
};

// b: how many low bits of the sort hash are significant.
enum THXMaxBitsInHashCode : int {
    mbhc0, mbhc1, mbhc2, mbhc3, mbhc4, mbhc5, mbhc6, mbhc7, mbhc8, mbhc9, mbhc10, mbhc11, mbhc12,
    mbhc13, mbhc14, mbhc15, mbhc16, mbhc17, mbhc18, mbhc19, mbhc20, mbhc21, mbhc22, mbhc23,
    mbhc24, mbhc25, mbhc26, mbhc27, mbhc28, mbhc29, mbhc30, mbhc31, mbhc32
};

// The sorter classes, for CreateSorter and as the inner sorter of an outer sorter.
enum THXSorterClass : int {
    scQuick, scBinaryTree, scRedBlackTree, scAVLTree, scTrieTree, scMerge, sc4PathMerge, sc8PathMerge
};
const char* SorterClassName(THXSorterClass c);

// Callbacks of the order, each with its owner. Keys: <0, 0, >0 for the key bytes of a and b
// (key size bytes each). Chars: the same for one key character (the trie's order; it must
// agree with Keys). RecNos: optional order of equal keys (null: ascending record numbers).
using THXCompareKeysFn = int (*)(const void* owner, const std::uint8_t* a, const std::uint8_t* b, int keySize);
using THXCompareCharsFn = int (*)(const void* owner, std::uint8_t a, std::uint8_t b);
using THXCompareRecNosFn = int (*)(const void* owner, std::uint32_t a, std::uint32_t b);

struct THXSorterCompare {
    THXCompareKeysFn Keys = nullptr;  // null: THXKeyOrder's byte order
    const void* KeysOwner = nullptr;
    THXCompareCharsFn Chars = nullptr;  // null: bytes
    const void* CharsOwner = nullptr;
    THXCompareRecNosFn RecNos = nullptr;
    const void* RecNosOwner = nullptr;
    // The key ends at its first NUL byte (what the byte order does); the trie stops there.
    bool KeyEndsAtNul = true;
};

// The index's order of keys: bytes up to the key size stopping at a NUL, or every byte through
// a 256-byte weight table; Desc reverses it. Comparison() binds its callbacks to this object,
// which must outlive the sorter.
struct THXKeyOrder {
    const std::uint8_t* Weights = nullptr;  // null: plain bytes
    bool Desc = false;

    THXSorterCompare Comparison() const;
    // The first-byte bucket of each byte value: its weight, complemented for Desc, so that
    // buckets follow this order.
    void FillBucketMap(std::uint8_t map[256]) const;
    static int CompareKeys(const void* owner, const std::uint8_t* a, const std::uint8_t* b, int keySize);
    static int CompareChars(const void* owner, std::uint8_t a, std::uint8_t b);
};

// Where an item goes before it is compared (the tree sorters' hash table).
struct THXSorterHash {
    // httsDefault: no hash function; the bucket is the first key byte through BucketMap
    // (null: the byte itself), 256 buckets. Otherwise the top c bits of the b-bit sort hash.
    THXHashTypeForTreeSorters HashType = httsDefault;
    THXMaxBitsInHashCode MaxBitsInHashCode = mbhc32;
    const std::uint8_t* BucketMap = nullptr;  // 256 entries, kept by the caller
    // One bucket for everything: for a hash that does not grow with the key order (a
    // collation, Desc, negative numbers). Creation still checks the settings.
    bool SingleBucket = false;
};

// Settings of the outer sorters.
class THXOuterSorterProperties {
public:
    // Directory of the temporary files; empty: the system's temporary directory.
    const std::string& TmpPath() const { return TmpPath_; }
    void SetTmpPath(const std::string& v) { TmpPath_ = v; }
    // Items per inner sorter: n >= 2 items; n <= 0 means |n| * 1024 items; 1 is refused.
    int SortItemPerInnerSorter() const { return SortItemPerInnerSorter_; }
    void SetSortItemPerInnerSorter(int v) { SortItemPerInnerSorter_ = v; }
    // Bytes of each file buffer (one for writing, one per merged run for reading).
    int BufferSize() const { return BufferSize_; }
    void SetBufferSize(int v) { BufferSize_ = v; }
    THXSorterClass InnerSorter() const { return InnerSorter_; }
    void SetInnerSorter(THXSorterClass v) { InnerSorter_ = v; }

private:
    std::string TmpPath_;
    int SortItemPerInnerSorter_ = -32;
    int BufferSize_ = 65536;
    THXSorterClass InnerSorter_ = scAVLTree;
};

// Everything a sorter is created with.
struct THXSorterParams {
    int Capacity = 0;  // items
    int KeySize = 0;   // bytes, >= 1
    THXSorterCompare Compare;
    bool Unique = false;
    THXSorterHash Hash;
    THXOuterSorterProperties Outer;  // outer sorters only
    TEnv* Env = nullptr;             // outer sorters' files; null: the host's
};

// A view of one item (valid until the sorter moves on or changes).
class THXSortItem {
public:
    explicit THXSortItem(const std::uint8_t* item = nullptr) : P_(item) {}
    const std::uint8_t* Data() const { return P_; }
    std::int32_t Hash() const;
    std::uint32_t RecNo() const;
    const std::uint8_t* Key() const { return P_ + 8; }

private:
    const std::uint8_t* P_;
};

class THXSorterAbstract {
public:
    virtual ~THXSorterAbstract() = default;
    THXSorterAbstract(const THXSorterAbstract&) = delete;
    THXSorterAbstract& operator=(const THXSorterAbstract&) = delete;

    // Adds an item (hash, record number, key of key size bytes). False when it is refused: an
    // equal key is held and the sorter is unique (the quick sorter drops such items when it
    // sorts instead). A full sorter throws.
    bool Add(std::int32_t hash, std::uint32_t recNo, const std::uint8_t* key);
    // The same from an item laid out as a sort item.
    virtual bool AddItem(const std::uint8_t* item) = 0;
    // Items held (after Sort: the items the walk gives).
    std::int64_t Count() const { return Count_; }
    std::int64_t Capacity() const { return Capacity_; }
    bool Full() const { return Added_ >= Capacity_; }
    int KeySize() const { return KeySize_; }
    int ItemSize() const { return KeySize_ + 8; }
    bool Unique() const { return Unique_; }
    virtual void Sort() = 0;
    // The walk in order: First and Next return true when there is no (further) item.
    virtual bool First() = 0;
    virtual bool Next() = 0;
    THXSortItem Current() const { return THXSortItem(Cur_); }
    // Empties the sorter for new items; settings stay.
    virtual void Clear() = 0;
    virtual const char* ClassName() const = 0;

    // Full comparison of two items (key, then record number); KeysEqual without the record
    // number (what Unique tests).
    int CompareItems(const std::uint8_t* a, const std::uint8_t* b) const {
        int r = Cmp_.Keys(Cmp_.KeysOwner, a + 8, b + 8, KeySize_);
        return r != 0 ? r : CompareRecNos(a, b);
    }
    bool KeysEqual(const std::uint8_t* a, const std::uint8_t* b) const {
        return Cmp_.Keys(Cmp_.KeysOwner, a + 8, b + 8, KeySize_) == 0;
    }

protected:
    // Checks the settings; raises the creation messages.
    explicit THXSorterAbstract(const THXSorterParams& p);
    int CompareRecNos(const std::uint8_t* a, const std::uint8_t* b) const;
    // The bucket of an item (0 .. BucketCount()-1), following the key order; raises the hash
    // range message.
    std::uint32_t Bucket(const std::uint8_t* item) const;
    std::uint32_t BucketCount() const { return BucketCount_; }
    // Raises the full-sorter message when no more items may be added, and refuses items
    // after Sort.
    void CheckRoom(const char* op) const;

    const THXSorterParams Params_;
    const THXSorterCompare Cmp_;
    const int KeySize_;
    const std::int64_t Capacity_;
    const bool Unique_;
    std::int64_t Count_ = 0;
    std::int64_t Added_ = 0;  // items taken since the last Clear (Count_ may be less)
    bool Sorted_ = false;     // adding needs a Clear first
    const std::uint8_t* Cur_ = nullptr;

private:
    enum class TBucketMode { FirstByte, Hash, Single };
    TBucketMode Mode_ = TBucketMode::FirstByte;
    std::uint8_t Map_[256];
    int Bits_ = 32;      // b
    int Shift_ = 0;      // b - c (c capped for the table size)
    std::uint32_t BucketCount_ = 256;
    TMemBlock Scratch_;  // one item, for Add
};

// An in-memory sorter: an item area and an index array of capacity entries.
class THXMemorySorter : public THXSorterAbstract {
public:
    bool AddItem(const std::uint8_t* item) override;
    void Sort() final;
    bool First() override;
    bool Next() override;
    void Clear() override;

protected:
    explicit THXMemorySorter(const THXSorterParams& p);
    std::uint8_t* Item(std::uint32_t slot) const {
        return Items_.Bytes() + static_cast<std::size_t>(slot) * static_cast<std::size_t>(ItemSize());
    }
    // Links the item just copied into slot Added_; false refuses it (the slot is reused).
    virtual bool Link(std::uint32_t slot) = 0;
    virtual void ClearLinks() = 0;
    // Puts the first Count_ entries of the index array in order (and may lower Count_).
    virtual void SortItems() = 0;
    // Default walk over the index array (Sort fills its first Count_ entries in order).
    std::uint32_t* Index() const { return static_cast<std::uint32_t*>(Index_.Data()); }
    TMemBlock Items_;
    TMemBlock Index_;
    std::int64_t Pos_ = 0;
};

// A new sorter of the class. Creation checks the settings and raises their messages.
std::unique_ptr<THXSorterAbstract> CreateSorter(THXSorterClass c, const THXSorterParams& p);

}  // namespace zarbel
