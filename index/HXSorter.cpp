#include "index/HXSorter.h"

#include <cstring>

#include "index/HXMergeSorters.h"
#include "index/HXQuickSorter.h"
#include "index/HXTreeSorters.h"
#include "platform/exception.h"

namespace zarbel {

namespace {

// The widest hash table actually allocated. Fewer top bits of the hash still give buckets in
// key order, only coarser ones.
constexpr int kMaxTableBits = 20;

std::uint32_t Load32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

}  // namespace

const char* SorterClassName(THXSorterClass c) {
    switch (c) {
        case scQuick: return "THXQuickSorter";
        case scBinaryTree: return "THXBinaryTreeSorter";
        case scRedBlackTree: return "THXRedBlackTreeSorter";
        case scAVLTree: return "THXAVLTreeSorter";
        case scTrieTree: return "THXTrieTreeSorter";
        case scMerge: return "THXMergeSorter";
        case sc4PathMerge: return "THX4PathMergeSorter";
        case sc8PathMerge: return "THX8PathMergeSorter";
    }
    return "?";
}

// ---- THXKeyOrder ----
THXSorterCompare THXKeyOrder::Comparison() const {
    THXSorterCompare c;
    c.Keys = &CompareKeys;
    c.KeysOwner = this;
    c.Chars = &CompareChars;
    c.CharsOwner = this;
    c.KeyEndsAtNul = Weights == nullptr;
    return c;
}

void THXKeyOrder::FillBucketMap(std::uint8_t map[256]) const {
    for (int i = 0; i < 256; ++i) {
        std::uint8_t w = Weights ? Weights[i] : static_cast<std::uint8_t>(i);
        map[i] = Desc ? static_cast<std::uint8_t>(255 - w) : w;
    }
}

int THXKeyOrder::CompareKeys(const void* owner, const std::uint8_t* a, const std::uint8_t* b, int keySize) {
    const auto* o = static_cast<const THXKeyOrder*>(owner);
    int r = 0;
    if (o->Weights) {
        for (int i = 0; i < keySize; ++i) {
            int d = int(o->Weights[a[i]]) - int(o->Weights[b[i]]);
            if (d != 0) {
                r = d;
                break;
            }
        }
    } else {
        for (int i = 0; i < keySize; ++i) {
            if (a[i] != b[i]) {
                r = int(a[i]) - int(b[i]);
                break;
            }
            if (a[i] == 0) break;
        }
    }
    return o->Desc ? -r : r;
}

int THXKeyOrder::CompareChars(const void* owner, std::uint8_t a, std::uint8_t b) {
    const auto* o = static_cast<const THXKeyOrder*>(owner);
    int r = o->Weights ? int(o->Weights[a]) - int(o->Weights[b]) : int(a) - int(b);
    return o->Desc ? -r : r;
}

namespace {
const THXKeyOrder kByteOrder;
}

// ---- THXSortItem ----
std::int32_t THXSortItem::Hash() const { return static_cast<std::int32_t>(Load32(P_)); }
std::uint32_t THXSortItem::RecNo() const { return Load32(P_ + 4); }

// ---- THXSorterAbstract ----
namespace {
THXSorterCompare WithDefaults(THXSorterCompare c) {
    if (!c.Keys) {
        c.Keys = &THXKeyOrder::CompareKeys;
        c.KeysOwner = &kByteOrder;
    }
    if (!c.Chars) {
        c.Chars = &THXKeyOrder::CompareChars;
        c.CharsOwner = &kByteOrder;
    }
    return c;
}
}  // namespace

THXSorterAbstract::THXSorterAbstract(const THXSorterParams& p)
    : Params_(p), Cmp_(WithDefaults(p.Compare)), KeySize_(p.KeySize), Capacity_(p.Capacity < 0 ? 0 : p.Capacity),
      Unique_(p.Unique) {
    if (p.KeySize < 1)
        throw Exception("THXSorterAbstract.Create: Key size must be at least 1 byte (" + std::to_string(p.KeySize) +
                        " given)");
    const THXSorterHash& h = p.Hash;
    if (h.HashType < httsDefault || h.HashType > htts4294967296 || h.MaxBitsInHashCode < mbhc0 ||
        h.MaxBitsInHashCode > mbhc32)
        throw Exception("THXSorterAbstract.Create: Unknown hash settings");
    if (h.HashType == htts4294967296)
        throw Exception(
            "THXSorterAbstract.Create: HashTypeForTreeSorters htts4294967296 asks for a hash table of 2^32 "
            "entries, more than can be addressed; use htts2147483648 or less");
    Scratch_ = TMemBlock::Allocate(this, ItemSize(), "THXSorterAbstract");
    for (int i = 0; i < 256; ++i) Map_[i] = h.BucketMap ? h.BucketMap[i] : static_cast<std::uint8_t>(i);
    if (h.HashType != httsDefault) {
        const int c = h.HashType - 1;
        Bits_ = h.MaxBitsInHashCode;
        if (Bits_ < c)
            throw Exception(
                "THXSorterAbstract.Create: MaxBitsInHashCode must be greater then number of bits used for "
                "HashTableSize!");
        const int used = c < kMaxTableBits ? c : kMaxTableBits;
        Shift_ = Bits_ - used;
        BucketCount_ = 1u << used;
        Mode_ = TBucketMode::Hash;
    }
    if (h.SingleBucket) {
        Mode_ = TBucketMode::Single;
        BucketCount_ = 1;
    }
}

int THXSorterAbstract::CompareRecNos(const std::uint8_t* a, const std::uint8_t* b) const {
    std::uint32_t ra = Load32(a + 4), rb = Load32(b + 4);
    if (Cmp_.RecNos) return Cmp_.RecNos(Cmp_.RecNosOwner, ra, rb);
    return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

std::uint32_t THXSorterAbstract::Bucket(const std::uint8_t* item) const {
    switch (Mode_) {
        case TBucketMode::FirstByte: return Map_[item[8]];
        case TBucketMode::Single: return 0;
        case TBucketMode::Hash: break;
    }
    const std::int64_t h = static_cast<std::int32_t>(Load32(item));
    const std::int64_t posLimit = (std::int64_t{1} << Bits_) - 1;
    const std::int64_t negLimit = Bits_ > 0 ? (std::int64_t{1} << (Bits_ - 1)) - 1 : 0;
    if (h < 0 ? -h > negLimit : h > posLimit)
        throw Exception("THXSorterAbstract.Hash: Hash value (" + std::to_string(h) + ") must be less than " +
                        std::to_string(h < 0 ? negLimit : posLimit));
    const std::uint64_t bits = static_cast<std::uint64_t>(h) & static_cast<std::uint64_t>(posLimit);
    return static_cast<std::uint32_t>(bits >> Shift_);
}

void THXSorterAbstract::CheckRoom(const char* op) const {
    if (Sorted_) throw Exception(std::string(ClassName()) + "." + op + ": The sorter is sorted; clear it first");
    if (Added_ >= Capacity_)
        throw Exception(std::string(ClassName()) + "." + op + ": The sorter is full (capacity " +
                        std::to_string(Capacity_) + " items)");
}

bool THXSorterAbstract::Add(std::int32_t hash, std::uint32_t recNo, const std::uint8_t* key) {
    std::uint8_t* item = Scratch_.Bytes();
    std::memcpy(item, &hash, 4);
    std::memcpy(item + 4, &recNo, 4);
    std::memcpy(item + 8, key, static_cast<std::size_t>(KeySize_));
    return AddItem(item);
}

// ---- THXMemorySorter ----
THXMemorySorter::THXMemorySorter(const THXSorterParams& p) : THXSorterAbstract(p) {
    const std::int64_t n = Capacity_ > 0 ? Capacity_ : 1;
    Items_ = TMemBlock::Allocate(this, n * ItemSize(), "THXSorterAbstract");
    Index_ = TMemBlock::Allocate(this, n * 4, "THXSorterAbstract");
}

bool THXMemorySorter::AddItem(const std::uint8_t* item) {
    CheckRoom("AddSortItem");
    const auto slot = static_cast<std::uint32_t>(Added_);
    std::memcpy(Item(slot), item, static_cast<std::size_t>(ItemSize()));
    (void)Bucket(Item(slot));  // the hash range is checked for every sorter
    if (!Link(slot)) return false;
    Index()[slot] = slot;
    ++Count_;
    ++Added_;
    return true;
}

bool THXMemorySorter::First() {
    Pos_ = 0;
    Cur_ = Count_ > 0 ? Item(Index()[0]) : nullptr;
    return Count_ == 0;
}

bool THXMemorySorter::Next() {
    if (Pos_ + 1 >= Count_) {
        Pos_ = Count_;
        Cur_ = nullptr;
        return true;
    }
    Cur_ = Item(Index()[++Pos_]);
    return false;
}

void THXMemorySorter::Sort() {
    if (Sorted_) return;
    SortItems();
    Sorted_ = true;
}

void THXMemorySorter::Clear() {
    Sorted_ = false;
    Count_ = 0;
    Added_ = 0;
    Pos_ = 0;
    Cur_ = nullptr;
    ClearLinks();
}

// ---- Factory ----
std::unique_ptr<THXSorterAbstract> CreateSorter(THXSorterClass c, const THXSorterParams& p) {
    switch (c) {
        case scQuick: return std::make_unique<THXQuickSorter>(p);
        case scBinaryTree: return std::make_unique<THXBinaryTreeSorter>(p);
        case scRedBlackTree: return std::make_unique<THXRedBlackTreeSorter>(p);
        case scAVLTree: return std::make_unique<THXAVLTreeSorter>(p);
        case scTrieTree: return std::make_unique<THXTrieTreeSorter>(p);
        case scMerge: return std::make_unique<THXMergeSorter>(p);
        case sc4PathMerge: return std::make_unique<THX4PathMergeSorter>(p);
        case sc8PathMerge: return std::make_unique<THX8PathMergeSorter>(p);
    }
    throw Exception("CreateSorter: Unknown sorter class " + std::to_string(static_cast<int>(c)));
}

}  // namespace zarbel
