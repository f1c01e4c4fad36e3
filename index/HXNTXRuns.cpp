// The runs of CreateCompactIndex (see HXNTXRuns.h).
#include "index/HXNTXRuns.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "index/HXNTXKeyCompare.h"
#include "platform/exception.h"

namespace zarbel {

int THXNTXRunOrder::CompareKeys(const std::uint8_t* a, const std::uint8_t* b) const {
    return Cmp_.Compare(a + 4, b + 4, static_cast<std::size_t>(KeySize_));
}

int THXNTXRunOrder::CompareItems(const std::uint8_t* a, const std::uint8_t* b) const {
    const int c = CompareKeys(a, b);
    if (c != 0) return c;
    const std::uint32_t x = NTXGet32(a), y = NTXGet32(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

std::int64_t NTXBlockItems(std::int64_t size, int keySize) {
    return ((size - (keySize + 4) - 4) / (keySize + 6)) & ~std::int64_t{1};
}

// ---------------------------------------------------------------------------------------
// THXNTXBlock
// ---------------------------------------------------------------------------------------
THXNTXBlock::THXNTXBlock(const THXNTXRunOrder& order, int maxItems, bool unique)
    : Order_(order),
      MaxItems_(maxItems),
      Unique_(unique),
      Mem_(TMemBlock::Allocate(this, SlotBase() + std::int64_t{maxItems + 1} * ItemSize(), "THXNTXBlock")) {
    Clear();
}

bool THXNTXBlock::Insert(std::uint32_t recNo, const std::uint8_t* key) {
    std::uint8_t* const mem = Mem_.Bytes();
    const int n = Count();
    const std::int64_t itemSize = ItemSize();
    std::uint8_t* const slots = mem + SlotBase();
    // The new item goes into the next free slot first, so that it compares as an item.
    std::uint8_t* const item = slots + n * itemSize;
    NTXPut32(item, recNo);
    std::memcpy(item + 4, key, static_cast<std::size_t>(Order_.KeySize()));
    int lo = 0, hi = n;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        const std::uint8_t* other = slots + NTXGet16(mem + 2 + 2 * mid) * itemSize;
        int c = Order_.CompareKeys(item, other);
        // An equal key, when present, is always probed: the held one stays.
        if (c == 0 && Unique_) return false;
        if (c == 0) c = recNo < NTXGet32(other) ? -1 : 1;
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    std::memmove(mem + 2 + 2 * (lo + 1), mem + 2 + 2 * lo, static_cast<std::size_t>(2 * (n - lo)));
    NTXPut16(mem + 2 + 2 * lo, static_cast<std::uint16_t>(n));
    NTXPut16(mem, static_cast<std::uint16_t>(n + 1));
    return true;
}

// ---------------------------------------------------------------------------------------
// THXNTXPageWriter
// ---------------------------------------------------------------------------------------
THXNTXPageWriter::THXNTXPageWriter(TSink sink, std::int64_t bufferBytes)
    : Sink_(std::move(sink)),
      Buf_(TMemBlock::Allocate(this, std::max<std::int64_t>(bufferBytes, kNTXPageSize), "THXNTXPageWriter")) {}

THXNTXPageWriter::THXNTXPageWriter(THXTempFile& file, std::int64_t bufferBytes)
    : THXNTXPageWriter([&file](std::uint32_t at, const std::uint8_t* data,
                               std::int64_t size) { file.Write(at, data, size); },
                       bufferBytes) {}

void THXNTXPageWriter::Write(std::uint32_t at, const std::uint8_t* data, std::int64_t size) {
    if (at >= Start_ && at + size <= Start_ + Len_) {
        std::memcpy(Buf_.Bytes() + (at - Start_), data, static_cast<std::size_t>(size));
        return;
    }
    if (Len_ == 0 || at != Start_ + Len_ || Len_ + size > Buf_.Size()) {
        Flush();
        if (size > Buf_.Size()) {
            Sink_(at, data, size);
            return;
        }
        Start_ = at;
    }
    std::memcpy(Buf_.Bytes() + Len_, data, static_cast<std::size_t>(size));
    Len_ += size;
}

void THXNTXPageWriter::Flush() {
    if (Len_ > 0) Sink_(static_cast<std::uint32_t>(Start_), Buf_.Bytes(), Len_);
    Len_ = 0;
}

// ---------------------------------------------------------------------------------------
// THXNTXBlockIterator
// ---------------------------------------------------------------------------------------
THXNTXBlockIterator::THXNTXBlockIterator(TEnv& env, int keySize, int maxItems)
    : Env_(env), KeySize_(keySize), MaxItems_(maxItems) {}

void THXNTXBlockIterator::Open(const std::string& name) {
    const std::int64_t base = NTXBlockSlotBase(MaxItems_);
    const std::int64_t itemSize = KeySize_ + 4;
    if (!Buf_) Buf_ = TMemBlock::Allocate(this, base + (MaxItems_ + 1) * itemSize, "THXNTXBlockIterator");
    Count_ = 0;
    TEnvHandle h(Env_, Env_.Open(name, faRead, TShareLock::None));
    const std::int64_t size = h.Get() == kInvalidHandle ? -1 : Env_.SizeOf(h.Get());
    bool ok = size >= 2 && size <= Buf_.Size() && Env_.ReadAt(h.Get(), 0, Buf_.Bytes(), size) == size;
    if (ok) {
        // The block as written: a count within the block, every entry a slot that was written.
        const int n = NTXGet16(Buf_.Bytes());
        ok = n <= MaxItems_ && size == base + n * itemSize;
        for (int i = 0; ok && i < n; ++i) ok = NTXGet16(Buf_.Bytes() + 2 + 2 * i) < n;
        if (ok) Count_ = n;
    }
    if (!ok) throw Exception("THXNTXBlockIterator.Open: Open Error \"" + name + "\"");
}

bool THXNTXBlockIterator::At(int i) {
    Pos_ = i;
    if (i >= Count_) {
        Cur_ = nullptr;
        return true;
    }
    const std::int64_t slot = NTXGet16(Buf_.Bytes() + 2 + 2 * i);
    Cur_ = Buf_.Bytes() + NTXBlockSlotBase(MaxItems_) + slot * (KeySize_ + 4);
    return false;
}

bool THXNTXBlockIterator::First() { return At(0); }

bool THXNTXBlockIterator::Next() { return Cur_ == nullptr || At(Pos_ + 1); }

void THXNTXBlockIterator::Close() {
    Count_ = 0;
    Cur_ = nullptr;
}

// ---------------------------------------------------------------------------------------
// THXNTXIterator
// ---------------------------------------------------------------------------------------
namespace {
const char* const kOpenError = "Open: Open Error";
const char* const kReadError = "Next: Read Error";  // a page of the walk
}  // namespace

void THXNTXIterator::Fail(const char* what, const std::string& why) const {
    throw Exception(std::string("THXNTXIterator.") + what + " \"" + Name_ + "\"" + why);
}

void THXNTXIterator::Open(const std::string& name) {
    Close();
    Name_ = name;
    if (!Rb_) Rb_ = TMemBlock::Allocate(this, std::max<std::int64_t>(ReadBytes_, kNTXPageSize), "THXNTXIterator");
    RbLen_ = 0;
    H_ = Env_.Open(name, faRead, TShareLock::None);
    std::uint8_t head[kNTXHeaderSize];
    Size_ = H_ == kInvalidHandle ? -1 : Env_.SizeOf(H_);
    if (Size_ < static_cast<std::int64_t>(kNTXHeaderSize) || Env_.ReadAt(H_, 0, head, kNTXHeaderSize) != kNTXHeaderSize)
        Fail(kOpenError, "");
    Header_.Parse(head);
    if (!IsNTXSignature(Header_.Signature)) Fail(kOpenError, "");
    const std::string why = NTXValidateHeader(Header_, Size_);
    if (!why.empty()) Fail(kOpenError, ": " + why);
    G_ = Header_.Geometry();
}

void THXNTXIterator::Close() {
    if (H_ != kInvalidHandle) Env_.Close(H_);
    H_ = kInvalidHandle;
    Depth_ = 0;
    Cur_ = nullptr;
}

// Reads page and the leftmost path below it, one level each.
void THXNTXIterator::Descend(std::uint32_t page) {
    for (;;) {
        if (Depth_ == kNTXMaxDepth)
            Fail(kReadError, ": the tree is deeper than " + std::to_string(kNTXMaxDepth) + " levels");
        if (Levels_.size() <= static_cast<std::size_t>(Depth_))
            Levels_.push_back({std::vector<std::uint8_t>(kNTXPageSize), 0});
        TLevel& l = Levels_[Depth_++];
        l.Index = 0;
        ReadPage(page, l.Page.data());
        const std::string why = NTXValidatePage(l.Page.data(), page, G_, Size_);
        if (!why.empty()) Fail(kReadError, ": " + why);
        const std::uint32_t child = TNTXPage(l.Page.data(), G_).Child(0);
        if (child == 0) return;
        page = child;
    }
}

void THXNTXIterator::ReadPage(std::uint32_t at, std::uint8_t* page) {
    if (at < RbStart_ || at + std::int64_t{kNTXPageSize} > RbStart_ + RbLen_) {
        RbStart_ = at;
        const std::int64_t want = std::min(Rb_.Size(), Size_ - at);
        RbLen_ = want < kNTXPageSize ? 0 : Env_.ReadAt(H_, at, Rb_.Bytes(), want);
        if (RbLen_ < kNTXPageSize) {
            RbLen_ = 0;
            Fail(kReadError, ": " + Env_.LastErrorText());
        }
    }
    std::memcpy(page, Rb_.Bytes() + (at - RbStart_), kNTXPageSize);
}

// Moves up from finished pages to the next key, if any.
bool THXNTXIterator::Settle() {
    while (Depth_ > 0) {
        TLevel& l = Levels_[Depth_ - 1];
        TNTXPage p(l.Page.data(), G_);
        if (l.Index < p.Count()) {
            Cur_ = p.Item(l.Index) + 4;
            return false;
        }
        --Depth_;
    }
    Cur_ = nullptr;
    return true;
}

bool THXNTXIterator::First() {
    Depth_ = 0;
    Descend(Header_.Root);
    return Settle();
}

bool THXNTXIterator::Next() {
    if (Cur_ == nullptr) return true;
    // After key i comes the subtree of entry i + 1, then key i + 1.
    TLevel& l = Levels_[Depth_ - 1];
    ++l.Index;
    const std::uint32_t child = TNTXPage(l.Page.data(), G_).Child(l.Index);
    if (child != 0) Descend(child);
    return Settle();
}

}  // namespace zarbel
