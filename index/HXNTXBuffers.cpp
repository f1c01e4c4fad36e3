#include "index/HXNTXBuffers.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/HXDBFPrx.h"
#include "platform/exception.h"

namespace zarbel {

namespace {
const char* const kExhausted =
    "THXNTXBuffers.GetNTXBuffer: There is no enough free NTX page buffers! Increase LimitPages property.";
}

std::uint32_t THXNTXNode::Offset() const { return Buffer_->Offset() + static_cast<std::uint32_t>(Index_) * kNTXPageSize; }
std::uint8_t* THXNTXNode::Data() const { return Buffer_->Page(Index_); }

THXNTXBuffer::THXNTXBuffer(int pages, const void* owner)
    : Mem_(TMemBlock::Allocate(owner, static_cast<std::int64_t>(pages) * kNTXPageSize, "THXNTXBuffer")),
      Nodes_(static_cast<std::size_t>(pages)) {
    for (int i = 0; i < pages; ++i) {
        Nodes_[static_cast<std::size_t>(i)].Buffer_ = this;
        Nodes_[static_cast<std::size_t>(i)].Index_ = i;
    }
}

bool THXNTXBuffer::AnyDirty() const {
    return std::any_of(Nodes_.begin(), Nodes_.end(), [](const THXNTXNode& n) { return n.Dirty(); });
}

TNTXPageRef& TNTXPageRef::operator=(TNTXPageRef&& o) noexcept {
    if (this != &o) {
        Release();
        Owner_ = o.Owner_;
        Node_ = o.Node_;
        o.Node_ = nullptr;
    }
    return *this;
}

void TNTXPageRef::MarkDirty() { Owner_->MarkDirty(*Node_); }

void TNTXPageRef::Release() {
    if (Node_) Owner_->Unpin(*Node_);
    Node_ = nullptr;
}

THXNTXBuffers::THXNTXBuffers() = default;
THXNTXBuffers::~THXNTXBuffers() = default;

void THXNTXBuffers::Attach(TProxyStream* stream, TDBFCipher* cipher, THXNTXBufferEvents* events) {
    DropAll();
    Stream_ = stream;
    Cipher_ = cipher;
    Events_ = events;
}

bool THXNTXBuffers::SetLimitBuffers(int n) {
    if (n < 1 && LimitType_ == lbtLimited) return false;
    LimitBuffers_ = n;
    return true;
}

bool THXNTXBuffers::SetPagesPerBuffer(int n) {
    if (n < 1 || n > kNTXMaxPagesPerBuffer || !Blocks_.empty()) return false;
    if (n != PagesPerBuffer_) Scratch_.Reset();
    PagesPerBuffer_ = n;
    return true;
}

void THXNTXBuffers::ApplyAutoLimit(std::uint32_t recordCount, int halfPage) {
    if (LimitType_ != lbtAuto) return;
    const double base = static_cast<double>(std::max(halfPage, 1) + 1);
    const double levels = std::log(static_cast<double>(recordCount) + 100000.0) / std::log(base);
    LimitBuffers_ = std::max(1, 3 * static_cast<int>(std::lround(levels)));
}

int THXNTXBuffers::Find(std::uint32_t blockOffset, std::size_t& pos) const {
    std::size_t lo = 0, hi = Offsets_.size();
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        const std::uint32_t o = Offsets_[mid];
        if (o == blockOffset) return static_cast<int>(mid);
        if (o < blockOffset) lo = mid + 1;
        else hi = mid;
    }
    pos = lo;
    return -1;
}

void THXNTXBuffers::Pin(THXNTXBuffer& b) {
    ++b.Pins_;
    if (Counter_ == -2) {
        for (auto& blk : Blocks_) {
            const std::int32_t s = blk->Stamp_;
            blk->Stamp_ = (s <= -2 && s >= -6) ? s + 7 : 0;
        }
        Counter_ = 6;
    } else {
        // Wraps from the largest value to the smallest instead of overflowing.
        Counter_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(Counter_) + 1u);
    }
    b.Stamp_ = Counter_;
}

void THXNTXBuffers::Unpin(THXNTXNode& node) {
    THXNTXBuffer& b = *node.Buffer_;
    if (b.Pins_ > 0) --b.Pins_;
}

void THXNTXBuffers::MarkDirty(THXNTXNode& node) { node.Dirty_ = true; }

void THXNTXBuffers::RaiseIO() const {
    throw Exception("THXSmartDBF: " + (Stream_ ? Stream_->Env().LastErrorText() : std::string("no file")));
}

void THXNTXBuffers::ReadBlock(THXNTXBuffer& b) {
    const std::int64_t bytes = BlockBytes();
    const std::int64_t got = Stream_->PRead(b.Offset_, b.Mem_.Data(), bytes);
    ++Reads_;
    if (got < 0) RaiseIO();
    if (got < bytes) std::memset(b.Mem_.Bytes() + got, 0, static_cast<std::size_t>(bytes - got));
    const bool decipher = Cipher_ && Cipher_->Active();
    for (auto& n : b.Nodes_) {
        n.Dirty_ = false;
        n.Checked_ = false;
        n.Writable_ = false;
        const std::uint32_t off = n.Offset();
        if (decipher && off != 0 && static_cast<std::int64_t>(n.Index_ + 1) * kNTXPageSize <= got)
            Cipher_->Decipher(off, n.Data(), kNTXPageSize);
    }
}

bool THXNTXBuffers::WriteBlock(THXNTXBuffer& b) {
    int first = -1, last = -1;
    for (const auto& n : b.Nodes_) {
        if (!n.Dirty_) continue;
        if (first < 0) first = n.Index_;
        last = n.Index_;
    }
    if (first < 0) return true;
    if (Events_) Events_->BeforeWrite();
    const std::size_t bytes = static_cast<std::size_t>(last - first + 1) * kNTXPageSize;
    const std::uint8_t* src = b.Page(first);
    if (Cipher_ && Cipher_->Active()) {
        if (!Scratch_) Scratch_ = TMemBlock::Allocate(this, BlockBytes(), "THXNTXBuffers");
        std::memcpy(Scratch_.Data(), src, bytes);
        for (int i = first; i <= last; ++i) {
            const std::uint32_t off = b.Offset_ + static_cast<std::uint32_t>(i) * kNTXPageSize;
            if (off != 0)
                Cipher_->Encipher(off, Scratch_.Bytes() + static_cast<std::size_t>(i - first) * kNTXPageSize,
                                  kNTXPageSize);
        }
        src = Scratch_.Bytes();
    }
    const std::int64_t pos = b.Offset_ + static_cast<std::int64_t>(first) * kNTXPageSize;
    const std::int64_t put = Stream_->PWrite(pos, src, static_cast<std::int64_t>(bytes));
    ++Writes_;
    if (put != static_cast<std::int64_t>(bytes)) {
        if (Events_) Events_->WriteFailed();
        return false;
    }
    for (auto& n : b.Nodes_) n.Dirty_ = false;
    return true;
}

std::size_t THXNTXBuffers::Load(std::uint32_t blockOffset, std::size_t pos) {
    Hit_ = nullptr;
    const bool unlimited = LimitType_ == lbtUnlimited;
    if (unlimited || static_cast<int>(Blocks_.size()) < std::max(LimitBuffers_, 1)) {
        auto blk = std::make_unique<THXNTXBuffer>(PagesPerBuffer_, this);
        blk->Offset_ = blockOffset;
        ReadBlock(*blk);
        Blocks_.insert(Blocks_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(blk));
        Offsets_.insert(Offsets_.begin() + static_cast<std::ptrdiff_t>(pos), blockOffset);
        return pos;
    }
    // Reuse the unpinned block used longest ago; on equal stamps the later one.
    std::size_t victim = Blocks_.size();
    for (std::size_t i = 0; i < Blocks_.size(); ++i) {
        const THXNTXBuffer& b = *Blocks_[i];
        if (b.Pins_ > 0) continue;
        if (victim == Blocks_.size() || b.Stamp_ <= Blocks_[victim]->Stamp_) victim = i;
    }
    if (victim == Blocks_.size()) throw Exception(kExhausted);
    if (!WriteBlock(*Blocks_[victim])) RaiseIO();
    std::unique_ptr<THXNTXBuffer> blk = std::move(Blocks_[victim]);
    Blocks_.erase(Blocks_.begin() + static_cast<std::ptrdiff_t>(victim));
    Offsets_.erase(Offsets_.begin() + static_cast<std::ptrdiff_t>(victim));
    if (victim < pos) --pos;
    blk->Offset_ = blockOffset;
    blk->Stamp_ = 0;
    ReadBlock(*blk);  // a failure drops the block with the exception
    Blocks_.insert(Blocks_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(blk));
    Offsets_.insert(Offsets_.begin() + static_cast<std::ptrdiff_t>(pos), blockOffset);
    return pos;
}

TNTXPageRef THXNTXBuffers::Get(std::uint32_t offset) {
    const std::uint32_t bb = BlockBytes();
    const std::uint32_t blockOffset = offset - offset % bb;
    THXNTXBuffer* hit = Hit_;
    if (!hit || hit->Offset_ != blockOffset) {
        std::size_t pos = 0;
        const int idx = Find(blockOffset, pos);
        hit = Blocks_[idx >= 0 ? static_cast<std::size_t>(idx) : Load(blockOffset, pos)].get();
        Hit_ = hit;
    }
    THXNTXBuffer& b = *hit;
    Pin(b);
    return TNTXPageRef(this, &b.Node(static_cast<int>((offset - blockOffset) / kNTXPageSize)));
}

TNTXPageRef THXNTXBuffers::GetNew(std::uint32_t offset) {
    TNTXPageRef r = Get(offset);
    std::memset(r.Data(), 0, kNTXPageSize);
    r.Node().Checked_ = false;
    r.Node().Writable_ = false;
    MarkDirty(r.Node());
    return r;
}

bool THXNTXBuffers::Flush() {
    for (auto& b : Blocks_)
        if (!WriteBlock(*b)) return false;
    return true;
}

bool THXNTXBuffers::HasDirty() const {
    return std::any_of(Blocks_.begin(), Blocks_.end(), [](const auto& b) { return b->AnyDirty(); });
}

void THXNTXBuffers::DropAll() {
    Hit_ = nullptr;
    Blocks_.clear();
    Offsets_.clear();
}

}  // namespace zarbel
