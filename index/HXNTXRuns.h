// The runs of CreateCompactIndex: keys gathered in a block buffer, spilled to temporary files,
// and read back in key order to be merged two at a time.
//
// A run item is a record number (4 bytes, little-endian) followed by the key (key size bytes).
//
// THXNTXBlock is the block buffer, laid out like an NTX page: a 2-byte count, an offset table
// of max items + 1 two-byte entries, then the item slots. Items stay in the slot they arrived
// in (slot i holds the i-th item taken); the offset table lists the slots in key order, so an
// insertion moves table entries, never items. The entries are slot numbers rather than byte
// offsets, so that a block of up to 65535 items of any key size can be addressed. A full block
// is written as it is, up to its last used slot, and becomes a run read by THXNTXBlockIterator.
//
// A merge of two runs writes a whole NTX file (header and pages, bottom-up), which is read back
// by THXNTXIterator, an in-order walk of its tree.
//
// Both iterators are merge sources (First, Next, Current) that open their file by name and
// keep their own read-only handle. A file that cannot be opened or read raises
// "THXNTXBlockIterator.Open: Open Error "<file>"" (or "THXNTXIterator.Open: Open Error
// "<file>""); a page of a tree that cannot be read during the walk raises
// "THXNTXIterator.Next: Read Error "<file>": <reason>". Buffers are taken on the first open and
// kept for the next, so a walk allocates nothing per item. The NTX runs are written and read
// through buffers of several pages (THXNTXPageWriter, the iterator's read block), so that a
// merge makes one system call per buffer rather than one per page.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/HXDBFMemMgr.h"
#include "index/HXMergeSorters.h"
#include "index/HXNTXFormat.h"
#include "platform/env.h"

namespace zarbel {

class THXNTXIndexCompare;

// Orders run items: key by the index's comparison, then record number ascending.
class THXNTXRunOrder {
public:
    THXNTXRunOrder(const THXNTXIndexCompare& cmp, int keySize) : Cmp_(cmp), KeySize_(keySize) {}
    int KeySize() const { return KeySize_; }
    int CompareKeys(const std::uint8_t* a, const std::uint8_t* b) const;
    int CompareItems(const std::uint8_t* a, const std::uint8_t* b) const;

private:
    const THXNTXIndexCompare& Cmp_;
    int KeySize_;
};

// Items per block for a block buffer of size bytes: (size - item - 4) div (key size + 6),
// rounded down to even (may be below 2 or above 65535: the caller refuses those).
std::int64_t NTXBlockItems(std::int64_t size, int keySize);
// Where a block's item slots begin: after the count and the offset table.
inline std::int64_t NTXBlockSlotBase(int maxItems) { return 2 * std::int64_t{maxItems} + 4; }

class THXNTXBlock {
public:
    THXNTXBlock(const THXNTXRunOrder& order, int maxItems, bool unique);
    int Count() const { return NTXGet16(Mem_.Bytes()); }
    bool Full() const { return Count() == MaxItems_; }
    // Takes an item in key order; false when the block is unique and holds the key already
    // (records arrive in record order, so the one held has the lower record number).
    bool Insert(std::uint32_t recNo, const std::uint8_t* key);
    void Clear() { NTXPut16(Mem_.Bytes(), 0); }
    // The bytes to write: the count, the offset table and the used slots.
    const std::uint8_t* Data() const { return Mem_.Bytes(); }
    std::int64_t UsedBytes() const { return SlotBase() + std::int64_t{Count()} * ItemSize(); }

private:
    int ItemSize() const { return Order_.KeySize() + 4; }
    std::int64_t SlotBase() const { return NTXBlockSlotBase(MaxItems_); }
    const THXNTXRunOrder& Order_;
    int MaxItems_;
    bool Unique_;
    TMemBlock Mem_;
};

// Gathers what a bottom-up build writes (into a temporary file or the index file): writes that
// continue the gathered bytes are added to them, a write inside them replaces its part, and any
// other write first sends out what is gathered (so the later write always wins). Flush at the
// end. A build writes its pages in file order, so a few large writes replace one per page.
class THXNTXPageWriter {
public:
    using TSink = std::function<void(std::uint32_t at, const std::uint8_t* data, std::int64_t size)>;
    THXNTXPageWriter(TSink sink, std::int64_t bufferBytes);
    THXNTXPageWriter(THXTempFile& file, std::int64_t bufferBytes);
    void Write(std::uint32_t at, const std::uint8_t* data, std::int64_t size);
    void Flush();

private:
    TSink Sink_;
    TMemBlock Buf_;
    std::int64_t Start_ = 0, Len_ = 0;
};

// A spilled block, read back whole.
class THXNTXBlockIterator final : public THXMergeIterator {
public:
    THXNTXBlockIterator(TEnv& env, int keySize, int maxItems);
    ~THXNTXBlockIterator() override { Close(); }
    void Open(const std::string& name);
    bool First() override;
    bool Next() override;
    void Close();

private:
    bool At(int i);
    TEnv& Env_;
    int KeySize_, MaxItems_;
    TMemBlock Buf_;
    int Count_ = 0, Pos_ = 0;
};

// An NTX file walked in key order.
class THXNTXIterator final : public THXMergeIterator {
public:
    // Pages are read ahead in blocks of readBytes (at least one page).
    THXNTXIterator(TEnv& env, std::int64_t readBytes) : Env_(env), ReadBytes_(readBytes) {}
    ~THXNTXIterator() override { Close(); }
    void Open(const std::string& name);
    bool First() override;
    bool Next() override;
    void Close();

private:
    struct TLevel {
        std::vector<std::uint8_t> Page;
        int Index = 0;
    };
    void Descend(std::uint32_t page);
    bool Settle();
    void ReadPage(std::uint32_t at, std::uint8_t* page);
    // Raises "THXNTXIterator.<what> "<file>"<why>".
    [[noreturn]] void Fail(const char* what, const std::string& why) const;
    TEnv& Env_;
    std::int64_t ReadBytes_;
    TMemBlock Rb_;
    std::int64_t RbStart_ = 0, RbLen_ = 0;
    std::string Name_;
    THandle H_ = kInvalidHandle;
    TNTXHeader Header_;
    TNTXGeometry G_;
    std::int64_t Size_ = 0;
    std::vector<TLevel> Levels_;  // kept between walks; Depth_ of them in use
    int Depth_ = 0;
};

}  // namespace zarbel
