// THXDBFMemMgr: the process-wide tracking allocator every engine buffer comes from.
//
// Each block is recorded (address, owner, tag, size, serial number from 10 upward) in a
// vector sorted by address; addresses are compared as unsigned integers of pointer width,
// which is the natural order on a 64-bit host. Free of an address that is null, unknown or
// already freed is ignored. Destroying a manager frees every block still recorded.
// All operations run under one mutex.
//
// This is the only place of the engine that allocates raw memory. Engine objects hold their
// buffers through TMemBlock, which gives the block back when it goes out of scope.
#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zarbel {

// The record of one allocation; destroying it frees the block.
class THXDBFOneAlloc {
public:
    THXDBFOneAlloc(void* pointer, const void* owner, std::string tag, std::int64_t size, std::uint64_t serial)
        : Pointer_(pointer), Owner_(owner), Tag_(std::move(tag)), Size_(size), Serial_(serial) {}
    ~THXDBFOneAlloc();
    THXDBFOneAlloc(THXDBFOneAlloc&& o) noexcept;
    THXDBFOneAlloc& operator=(THXDBFOneAlloc&& o) noexcept;
    THXDBFOneAlloc(const THXDBFOneAlloc&) = delete;
    THXDBFOneAlloc& operator=(const THXDBFOneAlloc&) = delete;

    void* Pointer() const { return Pointer_; }
    const void* Owner() const { return Owner_; }
    const std::string& Tag() const { return Tag_; }
    std::int64_t Size() const { return Size_; }
    std::uint64_t Serial() const { return Serial_; }

private:
    void* Pointer_;
    const void* Owner_;
    std::string Tag_;
    std::int64_t Size_;
    std::uint64_t Serial_;
};

// What the manager knows about one live block (for diagnostics and tests).
struct TAllocInfo {
    const void* Owner = nullptr;
    std::string Tag;
    std::int64_t Size = 0;
    std::uint64_t Serial = 0;
};

class THXDBFMemMgr {
public:
    THXDBFMemMgr() = default;
    ~THXDBFMemMgr();
    THXDBFMemMgr(const THXDBFMemMgr&) = delete;
    THXDBFMemMgr& operator=(const THXDBFMemMgr&) = delete;

    // A new uninitialised block of size bytes, recorded with its owner and the owner's class
    // name as tag. Size 0 throws "THXDBFOneAlloc: Can not allocate 0 bytes memory!"; a
    // negative size or an exhausted heap throws the same text with that size.
    void* Allocate(const void* owner, std::int64_t size, std::string_view ownerClassName = {});
    // The same with a caller's tag and no owner; a 0-byte request is served (one byte).
    void* AllocateTagged(std::string_view tag, std::int64_t size);
    // Frees a recorded block; null, unknown and already freed addresses are ignored.
    void Free(void* p);

    // Diagnostics.
    int Count() const;
    bool IsRecorded(const void* p) const;
    bool Info(const void* p, TAllocInfo& out) const;
    std::uint64_t NextSerial() const;

private:
    void* AllocateLocked(const void* owner, std::string tag, std::int64_t size);
    // Insertion point of p and whether the entry there has exactly that address.
    std::size_t Lookup(const void* p, bool& found) const;

    mutable std::mutex Lock_;
    std::vector<THXDBFOneAlloc> Blocks_;
    std::uint64_t Serial_ = 10;
};

// The one manager of the process (created on first use, destroyed at program end).
THXDBFMemMgr& HXDBFMemMgr();

// RAII owner of one block of a manager: the block is given back when the handle dies.
class TMemBlock {
public:
    TMemBlock() = default;
    // Allocate(owner, size) / AllocateTagged(tag, size) of the given manager.
    static TMemBlock Allocate(const void* owner, std::int64_t size, std::string_view ownerClassName = {},
                              THXDBFMemMgr& mgr = HXDBFMemMgr());
    static TMemBlock Tagged(std::string_view tag, std::int64_t size, THXDBFMemMgr& mgr = HXDBFMemMgr());
    ~TMemBlock() { Reset(); }
    TMemBlock(TMemBlock&& o) noexcept : Mgr_(o.Mgr_), Ptr_(o.Ptr_), Size_(o.Size_) {
        o.Ptr_ = nullptr;
        o.Size_ = 0;
    }
    TMemBlock& operator=(TMemBlock&& o) noexcept;
    TMemBlock(const TMemBlock&) = delete;
    TMemBlock& operator=(const TMemBlock&) = delete;

    void* Data() const { return Ptr_; }
    std::uint8_t* Bytes() const { return static_cast<std::uint8_t*>(Ptr_); }
    char* Chars() const { return static_cast<char*>(Ptr_); }
    std::int64_t Size() const { return Size_; }
    explicit operator bool() const { return Ptr_ != nullptr; }
    // Gives the block back now.
    void Reset();

private:
    TMemBlock(THXDBFMemMgr* mgr, void* p, std::int64_t size) : Mgr_(mgr), Ptr_(p), Size_(size) {}
    THXDBFMemMgr* Mgr_ = nullptr;
    void* Ptr_ = nullptr;
    std::int64_t Size_ = 0;
};

}  // namespace zarbel
