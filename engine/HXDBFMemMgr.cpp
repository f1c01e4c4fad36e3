#include "engine/HXDBFMemMgr.h"

#include <cstdlib>
#include <utility>

#include "platform/exception.h"

namespace zarbel {

namespace {

std::uintptr_t Addr(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

[[noreturn]] void ThrowCannotAllocate(std::int64_t size) {
    throw Exception("THXDBFOneAlloc: Can not allocate " + std::to_string(size) + " bytes memory!");
}

}  // namespace

// ---------------------------------------------------------------------------------------
// THXDBFOneAlloc
// ---------------------------------------------------------------------------------------
THXDBFOneAlloc::~THXDBFOneAlloc() { std::free(Pointer_); }

THXDBFOneAlloc::THXDBFOneAlloc(THXDBFOneAlloc&& o) noexcept
    : Pointer_(std::exchange(o.Pointer_, nullptr)),
      Owner_(o.Owner_),
      Tag_(std::move(o.Tag_)),
      Size_(o.Size_),
      Serial_(o.Serial_) {}

THXDBFOneAlloc& THXDBFOneAlloc::operator=(THXDBFOneAlloc&& o) noexcept {
    if (this != &o) {
        std::free(Pointer_);
        Pointer_ = std::exchange(o.Pointer_, nullptr);
        Owner_ = o.Owner_;
        Tag_ = std::move(o.Tag_);
        Size_ = o.Size_;
        Serial_ = o.Serial_;
    }
    return *this;
}

// ---------------------------------------------------------------------------------------
// THXDBFMemMgr
// ---------------------------------------------------------------------------------------
THXDBFMemMgr::~THXDBFMemMgr() {
    std::lock_guard<std::mutex> g(Lock_);
    Blocks_.clear();  // each record frees its block
}

std::size_t THXDBFMemMgr::Lookup(const void* p, bool& found) const {
    std::size_t lo = 0, hi = Blocks_.size();
    const std::uintptr_t a = Addr(p);
    while (lo < hi) {
        std::size_t mid = lo + (hi - lo) / 2;
        if (Addr(Blocks_[mid].Pointer()) < a)
            lo = mid + 1;
        else
            hi = mid;
    }
    found = lo < Blocks_.size() && Addr(Blocks_[lo].Pointer()) == a;
    return lo;
}

void* THXDBFMemMgr::AllocateLocked(const void* owner, std::string tag, std::int64_t size) {
    if (size < 0 || static_cast<std::uint64_t>(size) > SIZE_MAX) ThrowCannotAllocate(size);
    void* p = std::malloc(size == 0 ? 1 : static_cast<std::size_t>(size));
    if (!p) ThrowCannotAllocate(size);
    THXDBFOneAlloc rec(p, owner, std::move(tag), size, Serial_);
    bool found = false;
    std::size_t at = Lookup(p, found);
    // A fresh block can never already be recorded; keep the vector consistent regardless.
    if (found)
        Blocks_[at] = std::move(rec);
    else
        Blocks_.insert(Blocks_.begin() + static_cast<std::ptrdiff_t>(at), std::move(rec));
    ++Serial_;
    return p;
}

void* THXDBFMemMgr::Allocate(const void* owner, std::int64_t size, std::string_view ownerClassName) {
    std::lock_guard<std::mutex> g(Lock_);
    if (size == 0) ThrowCannotAllocate(0);
    return AllocateLocked(owner, owner ? std::string(ownerClassName) : std::string(), size);
}

void* THXDBFMemMgr::AllocateTagged(std::string_view tag, std::int64_t size) {
    std::lock_guard<std::mutex> g(Lock_);
    return AllocateLocked(nullptr, std::string(tag), size);
}

void THXDBFMemMgr::Free(void* p) {
    if (!p) return;
    std::lock_guard<std::mutex> g(Lock_);
    bool found = false;
    std::size_t at = Lookup(p, found);
    if (found) Blocks_.erase(Blocks_.begin() + static_cast<std::ptrdiff_t>(at));
}

int THXDBFMemMgr::Count() const {
    std::lock_guard<std::mutex> g(Lock_);
    return static_cast<int>(Blocks_.size());
}

bool THXDBFMemMgr::IsRecorded(const void* p) const {
    std::lock_guard<std::mutex> g(Lock_);
    bool found = false;
    Lookup(p, found);
    return found;
}

bool THXDBFMemMgr::Info(const void* p, TAllocInfo& out) const {
    std::lock_guard<std::mutex> g(Lock_);
    bool found = false;
    std::size_t at = Lookup(p, found);
    if (!found) return false;
    const THXDBFOneAlloc& r = Blocks_[at];
    out.Owner = r.Owner();
    out.Tag = r.Tag();
    out.Size = r.Size();
    out.Serial = r.Serial();
    return true;
}

std::uint64_t THXDBFMemMgr::NextSerial() const {
    std::lock_guard<std::mutex> g(Lock_);
    return Serial_;
}

THXDBFMemMgr& HXDBFMemMgr() {
    static THXDBFMemMgr instance;
    return instance;
}

// ---------------------------------------------------------------------------------------
// TMemBlock
// ---------------------------------------------------------------------------------------
TMemBlock TMemBlock::Allocate(const void* owner, std::int64_t size, std::string_view ownerClassName,
                              THXDBFMemMgr& mgr) {
    void* p = mgr.Allocate(owner, size, ownerClassName);
    return TMemBlock(&mgr, p, size);
}

TMemBlock TMemBlock::Tagged(std::string_view tag, std::int64_t size, THXDBFMemMgr& mgr) {
    void* p = mgr.AllocateTagged(tag, size);
    return TMemBlock(&mgr, p, size);
}

TMemBlock& TMemBlock::operator=(TMemBlock&& o) noexcept {
    if (this != &o) {
        Reset();
        Mgr_ = o.Mgr_;
        Ptr_ = std::exchange(o.Ptr_, nullptr);
        Size_ = std::exchange(o.Size_, 0);
    }
    return *this;
}

void TMemBlock::Reset() {
    if (Ptr_ && Mgr_) Mgr_->Free(Ptr_);
    Ptr_ = nullptr;
    Size_ = 0;
}

}  // namespace zarbel
