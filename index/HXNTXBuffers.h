// THXNTXBuffers: the page cache of one NTX file. Pages are held in blocks (THXNTXBuffer) of
// PagesPerBuffer consecutive pages, kept in a list sorted by block offset; each page of a
// block is a THXNTXNode with its dirty flag.
//
// File access goes through the TProxyStream of the index file (the same path the table uses
// for its own files), with positioned transfers: one read per block, one write per dirty run.
// With a cipher that is active, every page is deciphered with its file offset right after it
// is read, and enciphered into a scratch copy right before it is written, never in the cache:
// a failed write cannot leave enciphered pages behind in it.
//
// Limits: lbtUnlimited keeps every block; lbtLimited and lbtAuto keep at most LimitBuffers
// blocks and reuse the unpinned block used longest ago (smallest stamp; on equal stamps the
// later in the list). When every block is pinned the request fails with
// "THXNTXBuffers.GetNTXBuffer: There is no enough free NTX page buffers! Increase LimitPages
// property.".
//
// Stamps: a signed 32-bit use counter goes up by one on every pin, and the pinned block takes
// its value. When it stands at -2 before a pin it is reset: the counter becomes 6, blocks
// stamped -2..-6 get 5..1, all others 0, and the pinned block gets 6. Past the largest value
// it wraps to the smallest (defined arithmetic, no overflow).
//
// Failures raise the engine's exception: a failed read or write "THXSmartDBF: " and the host's
// text. Before a dirty block is first written the owner's BeforeWrite runs; a failed write
// runs WriteFailed, then raises (or, from Flush, returns false).
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/HXDBFCollaborators.h"
#include "engine/HXDBFMemMgr.h"
#include "index/HXNTXFormat.h"

namespace zarbel {

class TProxyStream;
class THXNTXBuffer;
class THXNTXBuffers;

enum THXLimitBuffersType : std::uint8_t { lbtAuto, lbtLimited, lbtUnlimited };

inline constexpr int kNTXMaxPagesPerBuffer = 510;

// One page of a block.
class THXNTXNode {
public:
    THXNTXBuffer& Buffer() const { return *Buffer_; }
    int IndexInBuffer() const { return Index_; }
    std::uint32_t Offset() const;
    std::uint8_t* Data() const;
    bool Dirty() const { return Dirty_; }
    // Set by the tree once the page passed its checks; cleared whenever the page is re-read.
    bool Checked() const { return Checked_; }
    void SetChecked(bool v) { Checked_ = v; }
    // Set by the tree once the whole offset table was found to be a permutation of the item
    // slots (so that insertions write only into slots); cleared whenever the page is re-read.
    bool Writable() const { return Writable_; }
    void SetWritable(bool v) { Writable_ = v; }

private:
    friend class THXNTXBuffer;
    friend class THXNTXBuffers;
    THXNTXBuffer* Buffer_ = nullptr;
    int Index_ = 0;
    bool Dirty_ = false;
    bool Checked_ = false;
    bool Writable_ = false;
};

// One block of PagesPerBuffer pages.
class THXNTXBuffer {
public:
    THXNTXBuffer(int pages, const void* owner);
    THXNTXBuffer(const THXNTXBuffer&) = delete;
    THXNTXBuffer& operator=(const THXNTXBuffer&) = delete;

    std::uint32_t Offset() const { return Offset_; }
    int Pins() const { return Pins_; }
    std::int32_t Stamp() const { return Stamp_; }
    int Pages() const { return static_cast<int>(Nodes_.size()); }
    std::uint8_t* Page(int i) const { return Mem_.Bytes() + static_cast<std::size_t>(i) * kNTXPageSize; }
    THXNTXNode& Node(int i) { return Nodes_[static_cast<std::size_t>(i)]; }
    bool AnyDirty() const;

private:
    friend class THXNTXBuffers;
    std::uint32_t Offset_ = 0;
    int Pins_ = 0;
    std::int32_t Stamp_ = 0;
    TMemBlock Mem_;
    std::vector<THXNTXNode> Nodes_;
};

// A pinned page: unpinned when the reference goes.
class TNTXPageRef {
public:
    TNTXPageRef() = default;
    TNTXPageRef(THXNTXBuffers* owner, THXNTXNode* node) : Owner_(owner), Node_(node) {}
    ~TNTXPageRef() { Release(); }
    TNTXPageRef(TNTXPageRef&& o) noexcept : Owner_(o.Owner_), Node_(o.Node_) { o.Node_ = nullptr; }
    TNTXPageRef& operator=(TNTXPageRef&& o) noexcept;
    TNTXPageRef(const TNTXPageRef&) = delete;
    TNTXPageRef& operator=(const TNTXPageRef&) = delete;

    explicit operator bool() const { return Node_ != nullptr; }
    THXNTXNode& Node() const { return *Node_; }
    std::uint8_t* Data() const { return Node_->Data(); }
    std::uint32_t Offset() const { return Node_->Offset(); }
    // Marks the page changed (written at the next flush or when its block is reused).
    void MarkDirty();
    void Release();

private:
    THXNTXBuffers* Owner_ = nullptr;
    THXNTXNode* Node_ = nullptr;
};

// What the owner of a cache is told about writes.
class THXNTXBufferEvents {
public:
    virtual ~THXNTXBufferEvents() = default;
    // Before the first dirty block of a flush or a reuse is written.
    virtual void BeforeWrite() = 0;
    // A block write failed (the host's reason is the stream's last error).
    virtual void WriteFailed() = 0;
};

class THXNTXBuffers {
public:
    THXNTXBuffers();
    ~THXNTXBuffers();
    THXNTXBuffers(const THXNTXBuffers&) = delete;
    THXNTXBuffers& operator=(const THXNTXBuffers&) = delete;

    // The file, cipher (may be null or inactive) and listener; the cache must be empty.
    void Attach(TProxyStream* stream, TDBFCipher* cipher, THXNTXBufferEvents* events);
    TProxyStream* Stream() const { return Stream_; }

    // ---- Limits ----
    THXLimitBuffersType LimitType() const { return LimitType_; }
    void SetLimitType(THXLimitBuffersType t) { LimitType_ = t; }
    int LimitBuffers() const { return LimitBuffers_; }
    // Refused (false, unchanged) below 1 under lbtLimited.
    bool SetLimitBuffers(int n);
    int PagesPerBuffer() const { return PagesPerBuffer_; }
    // Refused (false, unchanged) outside 1..510, or while blocks are cached.
    bool SetPagesPerBuffer(int n);
    // With lbtAuto: LimitBuffers := 3 * round(log base (halfPage + 1) of (recordCount + 100000)).
    void ApplyAutoLimit(std::uint32_t recordCount, int halfPage);

    // ---- Pages ----
    // The page at offset, read from the file when its block is not cached; pinned.
    TNTXPageRef Get(std::uint32_t offset);
    // A page appended at the end of the file (not read: its bytes are zero until laid out);
    // pinned and dirty.
    TNTXPageRef GetNew(std::uint32_t offset);
    void Unpin(THXNTXNode& node);
    void MarkDirty(THXNTXNode& node);

    // Writes every dirty block (ascending offsets); false when a write failed (WriteFailed
    // ran; the failed block stays dirty).
    bool Flush();
    bool HasDirty() const;
    // Forgets every block, dirty or not. No page may be pinned.
    void DropAll();

    // ---- Observation (tests and tools) ----
    int BlockCount() const { return static_cast<int>(Blocks_.size()); }
    const THXNTXBuffer& Block(int i) const { return *Blocks_[static_cast<std::size_t>(i)]; }
    std::int32_t UseCounter() const { return Counter_; }
    void SetUseCounter(std::int32_t v) { Counter_ = v; }
    // Block reads and writes made so far.
    std::uint64_t Reads() const { return Reads_; }
    std::uint64_t Writes() const { return Writes_; }

private:
    std::uint32_t BlockBytes() const { return static_cast<std::uint32_t>(PagesPerBuffer_) * kNTXPageSize; }
    // Finds the block for blockOffset: its index, or -1 with pos = where it would go.
    int Find(std::uint32_t blockOffset, std::size_t& pos) const;
    // Makes or reuses a block for blockOffset, read from the file; returns its index.
    std::size_t Load(std::uint32_t blockOffset, std::size_t pos);
    void ReadBlock(THXNTXBuffer& b);
    bool WriteBlock(THXNTXBuffer& b);
    void Pin(THXNTXBuffer& b);
    [[noreturn]] void RaiseIO() const;

    TProxyStream* Stream_ = nullptr;
    TDBFCipher* Cipher_ = nullptr;
    THXNTXBufferEvents* Events_ = nullptr;
    THXLimitBuffersType LimitType_ = lbtUnlimited;
    int LimitBuffers_ = 0;
    int PagesPerBuffer_ = 4;
    std::int32_t Counter_ = 0;
    std::vector<std::unique_ptr<THXNTXBuffer>> Blocks_;
    std::vector<std::uint32_t> Offsets_;  // Blocks_[i]->Offset(), searched without touching the blocks
    THXNTXBuffer* Hit_ = nullptr;         // the block found last
    TMemBlock Scratch_;  // enciphered copy of a run being written
    std::uint64_t Reads_ = 0;
    std::uint64_t Writes_ = 0;
};

}  // namespace zarbel
