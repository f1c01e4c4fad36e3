#include "index/HXNTXTree.h"

#include <algorithm>

#include "engine/HXDBFPrx.h"
#include "platform/exception.h"

namespace zarbel {

namespace {

std::string AtPage(std::uint32_t offset) { return " at page " + std::to_string(offset); }

// The largest offset a page may start at (offsets are 32-bit).
constexpr std::uint32_t kLastPage = 0xFFFFFC00u - kNTXPageSize;

std::uint32_t PagesEnd(std::int64_t size) {
    if (size > static_cast<std::int64_t>(kLastPage) + kNTXPageSize) size = static_cast<std::int64_t>(kLastPage) + kNTXPageSize;
    return static_cast<std::uint32_t>(size) & ~(kNTXPageSize - 1);
}

}  // namespace

int THXNTXByteCompare::Compare(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) const {
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
        if (a[i] == 0) return 0;
    }
    return 0;
}

THXNTXTree::THXNTXTree() = default;
THXNTXTree::~THXNTXTree() = default;

void THXNTXTree::SetCompare(const THXNTXKeyCompare* c) { Compare_ = c ? c : &ByteCompare_; }

void THXNTXTree::Corrupt(const std::string& reasonAtPage) const { throw Exception(CorruptPrefix_ + reasonAtPage); }

void THXNTXTree::RaiseIO() const {
    throw Exception("THXSmartDBF: " + (Stream_ ? Stream_->Env().LastErrorText() : std::string("no file")));
}

// ---------------------------------------------------------------------------------------
// Opening, creating, header
// ---------------------------------------------------------------------------------------
TNTXOpenStatus THXNTXTree::Open(TProxyStream& stream, TDBFCipher* cipher, std::string& reason) {
    Close();
    reason.clear();
    std::array<std::uint8_t, kNTXHeaderSize> buf{};
    const std::int64_t got = stream.PRead(0, buf.data(), kNTXHeaderSize);
    if (got < 0) {
        reason = stream.Env().LastErrorText();
        return TNTXOpenStatus::ReadFailed;
    }
    TNTXHeader h;
    h.Parse(buf.data());  // a short file reads as zeros: signature 0, not NTX
    if (got < 2 || !IsNTXSignature(h.Signature)) return TNTXOpenStatus::NotNTX;
    if (got < static_cast<std::int64_t>(kNTXHeaderSize)) {
        reason = "the file is shorter than its header";
        return TNTXOpenStatus::Corrupt;
    }
    const std::int64_t size = stream.GetFileSize();
    if (size < 0) {
        reason = stream.Env().LastErrorText();
        return TNTXOpenStatus::ReadFailed;
    }
    reason = NTXValidateHeader(h, std::min<std::int64_t>(size, PagesEnd(size)));
    if (!reason.empty()) return TNTXOpenStatus::Corrupt;
    Header_ = h;
    Geom_ = h.Geometry();
    Stream_ = &stream;
    Cipher_ = cipher;
    EndOfFile_ = PagesEnd(size);
    Buffers_.Attach(&stream, cipher, this);
    InUpdate_ = Building_ = PageChanged_ = Failed_ = SignatureZeroOnDisk_ = false;
    ++Generation_;
    return TNTXOpenStatus::Ok;
}

void THXNTXTree::Close() {
    Buffers_.Attach(nullptr, nullptr, nullptr);
    Stream_ = nullptr;
    Cipher_ = nullptr;
    InUpdate_ = Building_ = PageChanged_ = Failed_ = SignatureZeroOnDisk_ = false;
    ++Generation_;
}

bool THXNTXTree::WriteFresh(TProxyStream& stream, const TNTXHeader& header, TDBFCipher* cipher) {
    std::array<std::uint8_t, 2 * kNTXPageSize> buf{};
    header.Serialize(buf.data());
    const TNTXGeometry g = header.Geometry();
    TNTXPage(buf.data() + kNTXPageSize, g).LayoutFresh();
    if (cipher && cipher->Active()) cipher->Encipher(kNTXPageSize, buf.data() + kNTXPageSize, kNTXPageSize);
    return stream.Seek(0, 0) == 0 && stream.SetEndOfFile() &&
           stream.PWrite(0, buf.data(), static_cast<std::int64_t>(buf.size())) == static_cast<std::int64_t>(buf.size());
}

bool THXNTXTree::CreateEmpty(TProxyStream& stream, const TNTXHeader& header, TDBFCipher* cipher) {
    TNTXHeader h = header;
    h.Version = 1;
    h.Root = kNTXPageSize;
    h.NextFree = 0;
    if (h.MaxItems < 2 || h.ItemSize != h.KeySize + 8) return false;
    return WriteFresh(stream, h, cipher);
}

bool THXNTXTree::WriteHeader() {
    std::array<std::uint8_t, kNTXHeaderSize> buf{};
    Header_.Serialize(buf.data());
    return Stream_->PWrite(0, buf.data(), kNTXHeaderSize) == static_cast<std::int64_t>(kNTXHeaderSize);
}

bool THXNTXTree::WriteVolatile() {
    std::array<std::uint8_t, kNTXVolatileSize> buf{};
    Header_.SerializeVolatile(buf.data());
    return Stream_->PWrite(0, buf.data(), kNTXVolatileSize) == static_cast<std::int64_t>(kNTXVolatileSize);
}

bool THXNTXTree::WriteSignature(std::uint16_t sig) {
    std::uint8_t b[2];
    NTXPut16(b, sig);
    return Stream_->PWrite(0, b, 2) == 2;
}

void THXNTXTree::Poison() {
    if (!Stream_) return;
    if (!WriteSignature(0)) {
        // The signature cannot be written: an empty file does not open as an index either.
        if (Stream_->Seek(0, 0) == 0) Stream_->SetEndOfFile();
    }
}

void THXNTXTree::FailWrite() {
    std::string text = FailText_.empty() && Stream_ ? Stream_->Env().LastErrorText() : FailText_;
    if (!Failed_) Poison();  // a failed page write has done it already
    Buffers_.DropAll();
    ++Generation_;
    InUpdate_ = Building_ = PageChanged_ = Failed_ = false;
    FailText_.clear();
    throw Exception("THXSmartDBF: " + text);
}

bool THXNTXTree::FlushPages() {
    try {
        return Buffers_.Flush();
    } catch (const Exception&) {
        if (FailText_.empty()) FailText_ = Stream_->Env().LastErrorText();
        return false;
    }
}

void THXNTXTree::BeforeWrite() {
    if (!GuardSignature_ || SignatureZeroOnDisk_) return;
    if (!WriteSignature(0)) RaiseIO();
    SignatureZeroOnDisk_ = true;
}

void THXNTXTree::WriteFailed() {
    // Pages on disk may now be half old, half new: make sure the file is not taken for a
    // good index before anything else happens.
    FailText_ = Stream_->Env().LastErrorText();
    Failed_ = true;
    Poison();
}

// ---------------------------------------------------------------------------------------
// Volatile header, updates
// ---------------------------------------------------------------------------------------
void THXNTXTree::ReadVolatile() {
    std::array<std::uint8_t, kNTXVolatileSize> v{};
    if (Stream_->PRead(0, v.data(), kNTXVolatileSize) != static_cast<std::int64_t>(kNTXVolatileSize)) RaiseIO();
    TNTXHeader h;
    h.ParseVolatile(v.data());
    if (!IsNTXSignature(h.Signature)) Corrupt("the signature is no longer 6 or 7" + AtPage(0));
    if (h.Version != Header_.Version || h.Root != Header_.Root || h.NextFree != Header_.NextFree) {
        // Another process changed the file: nothing cached can be trusted.
        DropCache();
        const std::int64_t size = Stream_->GetFileSize();
        if (size < 0) RaiseIO();
        EndOfFile_ = PagesEnd(size);
        auto pageOk = [&](std::uint32_t off) {
            return off % kNTXPageSize == 0 && off >= kNTXPageSize && off + kNTXPageSize <= EndOfFile_;
        };
        if (!pageOk(h.Root)) Corrupt("root " + std::to_string(h.Root) + " is not a page of the file" + AtPage(0));
        if (h.NextFree != 0 && !pageOk(h.NextFree))
            Corrupt("next free page " + std::to_string(h.NextFree) + " is not a page of the file" + AtPage(0));
    }
    Header_.Signature = h.Signature;
    Header_.Version = h.Version;
    Header_.Root = h.Root;
    Header_.NextFree = h.NextFree;
}

void THXNTXTree::AutoRefresh() {
    if (!InUpdate_ && !Building_) ReadVolatile();
}

void THXNTXTree::Refresh() { AutoRefresh(); }

void THXNTXTree::DropCache() {
    Buffers_.DropAll();
    ++Generation_;
}

void THXNTXTree::Changed() {
    PageChanged_ = true;
    ++Generation_;
}

void THXNTXTree::BeginUpdate() {
    if (InUpdate_) return;
    ReadVolatile();
    const std::int64_t size = Stream_->GetFileSize();
    if (size < 0) RaiseIO();
    EndOfFile_ = PagesEnd(size);
    InUpdate_ = true;
    PageChanged_ = false;
}

void THXNTXTree::EndUpdate() {
    if (!InUpdate_) return;
    if (Failed_) FailWrite();
    if (!PageChanged_) {
        InUpdate_ = false;
        return;
    }
    if (!FlushPages()) FailWrite();
    if (!Building_) {
        Header_.Version = NTXNextVersion(Header_.Version);
        if (!WriteVolatile()) FailWrite();
        SignatureZeroOnDisk_ = false;
    }
    InUpdate_ = false;
    PageChanged_ = false;
}

void THXNTXTree::Empty() {
    DropCache();
    Header_.Version = 1;
    Header_.Root = kNTXPageSize;
    Header_.NextFree = 0;
    Header_.Reserved1 = 0;
    Header_.Reserved2 = 0;
    if (!WriteFresh(*Stream_, Header_, Cipher_)) FailWrite();
    EndOfFile_ = 2 * kNTXPageSize;
    SignatureZeroOnDisk_ = false;
    Changed();
}

void THXNTXTree::BeginRebuild() {
    WasInUpdate_ = InUpdate_;
    if (!InUpdate_) ReadVolatile();
    RebuildVersion_ = Header_.Version;
    Empty();
    Building_ = true;
    InUpdate_ = true;
    PageChanged_ = false;
}

void THXNTXTree::EndRebuild() {
    if (!Building_) return;
    if (Failed_) FailWrite();
    if (!FlushPages()) FailWrite();
    Header_.Version = NTXNextVersion(RebuildVersion_);
    if (!WriteHeader()) FailWrite();
    SignatureZeroOnDisk_ = false;
    InUpdate_ = WasInUpdate_;
    Building_ = false;
    PageChanged_ = false;
    DropCache();
}

void THXNTXTree::MarkFailed() {
    Poison();
    Buffers_.DropAll();
    ++Generation_;
    InUpdate_ = Building_ = PageChanged_ = Failed_ = false;
}

// ---------------------------------------------------------------------------------------
// Pages
// ---------------------------------------------------------------------------------------
TNTXPageRef THXNTXTree::Page(std::uint32_t offset) {
    if (offset % kNTXPageSize != 0 || offset < kNTXPageSize || offset + kNTXPageSize > EndOfFile_ ||
        offset > kLastPage)
        Corrupt("page " + std::to_string(offset) + " is outside the file" + AtPage(offset));
    TNTXPageRef r = Buffers_.Get(offset);
    if (!r.Node().Checked()) {
        const std::string why = NTXValidatePage(r.Data(), offset, Geom_, EndOfFile_);
        if (!why.empty()) Corrupt(why);
        r.Node().SetChecked(true);
    }
    return r;
}

void THXNTXTree::RequireSlots(TNTXPageRef& r) {
    if (r.Node().Writable()) return;
    if (!View(r).IsPermutation())
        Corrupt("the offset table is not a permutation of the item slots" + AtPage(r.Offset()));
    r.Node().SetWritable(true);
}

int THXNTXTree::CompareItem(const std::uint8_t* key, std::size_t n, std::uint32_t recNo, const TNTXPage& p,
                            int i) const {
    const int c = Compare_->Compare(key, p.Key(i), n);
    if (c != 0 || recNo == 0) return c;
    const std::uint32_t r = p.RecNo(i);
    return recNo < r ? -1 : (recNo > r ? 1 : 0);
}

std::uint32_t THXNTXTree::AllocPage(TNTXPageRef& out) {
    const std::uint32_t head = Header_.NextFree;
    if (head != 0 && head % kNTXPageSize == 0 && head + kNTXPageSize <= EndOfFile_ && head != Header_.Root) {
        TNTXPageRef r = Buffers_.Get(head);
        TNTXPage p = View(r);
        const int e0 = p.Entry(0);
        const int base = Geom_.SlotBase();
        if (e0 >= base && (e0 - base) % Geom_.ItemSize == 0 && e0 + Geom_.ItemSize <= static_cast<int>(kNTXPageSize) &&
            p.Child(0) != head) {
            const std::uint32_t link = p.Child(0);
            if (!p.IsPermutation()) p.LayoutFresh();
            p.SetCount(0);
            p.SetChild(0, 0);
            p.ClearRecKey(0);
            Header_.NextFree = link;
            r.MarkDirty();
            r.Node().SetChecked(true);
            r.Node().SetWritable(true);
            Changed();
            out = std::move(r);
            return head;
        }
    }
    const std::uint32_t off = EndOfFile_;
    if (off > kLastPage) throw Exception(CorruptPrefix_ + "the index file cannot grow past 4 GB" + AtPage(off));
    out = Buffers_.GetNew(off);
    EndOfFile_ += kNTXPageSize;
    View(out).LayoutFresh();
    out.Node().SetChecked(true);
    out.Node().SetWritable(true);
    Changed();
    return off;
}

void THXNTXTree::FreePage(TNTXPageRef& r) {
    TNTXPage p = View(r);
    p.SetCount(0);
    p.SetChild(0, Header_.NextFree);
    Header_.NextFree = r.Offset();
    r.MarkDirty();
    Changed();
}

// ---------------------------------------------------------------------------------------
// Positioning
// ---------------------------------------------------------------------------------------
void THXNTXTree::StartWalk(THXNTXCursor& c) {
    c.Depth_ = 0;
    c.Valid_ = false;
    c.Generation_ = Generation_;
    c.Budget_ = EndOfFile_ / kNTXPageSize + kNTXMaxDepth;
}

void THXNTXTree::Push(THXNTXCursor& c, std::uint32_t page, int index) {
    if (c.Depth_ >= kNTXMaxDepth) Corrupt("the tree is deeper than 64 levels" + AtPage(page));
    if (c.Budget_ == 0) Corrupt("a walk entered more pages than the file holds" + AtPage(page));
    --c.Budget_;
    c.Path_[static_cast<std::size_t>(c.Depth_++)] = {page, static_cast<std::uint16_t>(index)};
}

bool THXNTXTree::Take(THXNTXCursor& c, const TNTXPage& p, int i) {
    c.RecNo_ = p.RecNo(i);
    if (c.RecNo_ == 0) Corrupt("record number 0" + AtPage(c.Path_[static_cast<std::size_t>(c.Depth_ - 1)].Page));
    std::memcpy(c.Key_.data(), p.Key(i), Geom_.KeySize);
    c.Valid_ = true;
    c.Generation_ = Generation_;
    return true;
}

void THXNTXTree::DescendChildren(THXNTXCursor& c, bool forward) {
    TNTXPageRef r = Page(c.Path_[static_cast<std::size_t>(c.Depth_ - 1)].Page);
    for (;;) {
        const std::uint32_t child = View(r).Child(c.Path_[static_cast<std::size_t>(c.Depth_ - 1)].Index);
        if (child == 0) return;
        r = Page(child);
        Push(c, child, forward ? 0 : View(r).Count());
    }
}

void THXNTXTree::Descend(THXNTXCursor& c, const std::uint8_t* key, std::size_t n, std::uint32_t recNo, bool strict) {
    StartWalk(c);
    std::uint32_t page = Header_.Root;
    for (;;) {
        TNTXPageRef r = Page(page);
        const TNTXPage p = View(r);
        int lo = 0, hi = p.Count();
        while (lo < hi) {
            const int mid = (lo + hi) / 2;
            const int cmp = CompareItem(key, n, recNo, p, mid);
            if (strict ? cmp >= 0 : cmp > 0) lo = mid + 1;
            else hi = mid;
        }
        Push(c, page, lo);
        const std::uint32_t child = p.Child(lo);
        if (child == 0) return;
        page = child;
    }
}

bool THXNTXTree::SettleForward(THXNTXCursor& c) {
    while (c.Depth_ > 0) {
        const auto& top = c.Path_[static_cast<std::size_t>(c.Depth_ - 1)];
        TNTXPageRef r = Page(top.Page);
        const TNTXPage p = View(r);
        if (top.Index < p.Count()) return Take(c, p, top.Index);
        --c.Depth_;
    }
    c.Valid_ = false;
    return false;
}

bool THXNTXTree::SettleBackward(THXNTXCursor& c) {
    while (c.Depth_ > 0) {
        auto& top = c.Path_[static_cast<std::size_t>(c.Depth_ - 1)];
        if (top.Index > 0) {
            --top.Index;
            TNTXPageRef r = Page(top.Page);
            return Take(c, View(r), top.Index);
        }
        --c.Depth_;
    }
    c.Valid_ = false;
    return false;
}

bool THXNTXTree::First(THXNTXCursor& c) {
    AutoRefresh();
    StartWalk(c);
    Push(c, Header_.Root, 0);
    DescendChildren(c, true);
    return SettleForward(c);
}

bool THXNTXTree::Last(THXNTXCursor& c) {
    AutoRefresh();
    StartWalk(c);
    {
        TNTXPageRef r = Page(Header_.Root);
        Push(c, Header_.Root, View(r).Count());
    }
    DescendChildren(c, false);
    return SettleBackward(c);
}

bool THXNTXTree::Seek(THXNTXCursor& c, const std::uint8_t* key, std::size_t len, bool soft) {
    AutoRefresh();
    const std::size_t n = std::min<std::size_t>(len, Geom_.KeySize);
    Descend(c, key, n, 0, false);
    if (!SettleForward(c)) return false;
    const bool equal = Compare_->Compare(key, c.Key_.data(), n) == 0;
    if (!equal && !soft) c.Valid_ = false;
    return equal;
}

bool THXNTXTree::SeekEntry(THXNTXCursor& c, const std::uint8_t* key, std::uint32_t recNo) {
    AutoRefresh();
    Descend(c, key, Geom_.KeySize, recNo, false);
    return SettleForward(c);
}

bool THXNTXTree::Next(THXNTXCursor& c) {
    if (!c.Valid_) return false;
    if (c.Generation_ != Generation_) {
        // The tree changed since: find the first entry after the cursor's.
        Descend(c, c.Key_.data(), Geom_.KeySize, c.RecNo_, true);
        return SettleForward(c);
    }
    ++c.Path_[static_cast<std::size_t>(c.Depth_ - 1)].Index;
    DescendChildren(c, true);
    return SettleForward(c);
}

bool THXNTXTree::Prev(THXNTXCursor& c) {
    if (!c.Valid_) return false;
    if (c.Generation_ != Generation_) {
        Descend(c, c.Key_.data(), Geom_.KeySize, c.RecNo_, false);
        return SettleBackward(c);
    }
    DescendChildren(c, false);
    return SettleBackward(c);
}

int THXNTXTree::Step(THXNTXCursor& c, bool forward, int max,
                     const std::function<bool(std::uint32_t recNo, const std::uint8_t* key)>& take) {
    int n = 0;
    THXNTXCursor probe = c;
    while (n < max && (forward ? Next(probe) : Prev(probe))) {
        if (!take(probe.RecNo_, probe.Key_.data())) break;
        c = probe;
        ++n;
    }
    return n;
}

std::uint32_t THXNTXTree::FindRec(std::uint32_t page, int depth, const std::uint8_t* key, std::size_t n, bool soft,
                                  std::uint32_t recNo, const std::function<bool(std::uint32_t)>& accept, int& state,
                                  std::uint64_t& budget) {
    if (depth >= kNTXMaxDepth) Corrupt("the tree is deeper than 64 levels" + AtPage(page));
    if (budget == 0) Corrupt("a search entered more pages than the file holds" + AtPage(page));
    --budget;
    TNTXPageRef r = Page(page);
    const int count = View(r).Count();
    for (int i = 0; i <= count; ++i) {
        const TNTXPage p = View(r);
        int cmp = 0;
        if (i < count) {
            cmp = CompareItem(key, n, recNo, p, i);
            if (cmp > 0) continue;  // the item and its subtree sort before the key
        }
        const std::uint32_t child = p.Child(i);
        if (child != 0) {
            const std::uint32_t got = FindRec(child, depth + 1, key, n, soft, recNo, accept, state, budget);
            if (state != 0) return got;
        }
        if (i == count) break;
        if (cmp != 0 && !soft) {
            state = 2;  // past the key: nothing further can match
            return 0;
        }
        const std::uint32_t rec = View(r).RecNo(i);
        if (accept(rec)) {
            state = 1;
            return rec;
        }
    }
    return 0;
}

std::uint32_t THXNTXTree::FindKey(const std::uint8_t* key, std::size_t len, bool soft, std::uint32_t recNo,
                                  bool partial, const std::function<bool(std::uint32_t recNo)>& accept) {
    const std::size_t n = std::min<std::size_t>(len, Geom_.KeySize);
    if (!soft && !partial && n < Geom_.KeySize) return 0;
    AutoRefresh();
    int state = 0;
    std::uint64_t budget = EndOfFile_ / kNTXPageSize + kNTXMaxDepth;
    return FindRec(Header_.Root, 0, key, n, soft, recNo, accept, state, budget);
}

// ---------------------------------------------------------------------------------------
// Adding
// ---------------------------------------------------------------------------------------
void THXNTXTree::RequireUpdate(const char* op) const {
    if (!InUpdate_) throw Exception(std::string("THXNTXIndex.") + op + ": keys change only inside an update!");
}

void THXNTXTree::AddKey(const std::uint8_t* key, std::uint32_t recNo) {
    RequireUpdate("AddKey");
    const int itemSize = Geom_.ItemSize;
    const int half = Geom_.HalfPage;
    std::array<TNTXPageRef, kNTXMaxDepth> refs;
    std::array<int, kNTXMaxDepth> pos{};
    int depth = 0;
    std::uint32_t page = Header_.Root;
    for (;;) {
        if (depth >= kNTXMaxDepth) Corrupt("the tree is deeper than 64 levels" + AtPage(page));
        refs[static_cast<std::size_t>(depth)] = Page(page);
        const TNTXPage p = View(refs[static_cast<std::size_t>(depth)]);
        int lo = 0, hi = p.Count();
        while (lo < hi) {
            const int mid = (lo + hi) / 2;
            if (CompareItem(key, Geom_.KeySize, recNo, p, mid) > 0) lo = mid + 1;
            else hi = mid;
        }
        pos[static_cast<std::size_t>(depth)] = lo;
        ++depth;
        const std::uint32_t child = p.Child(lo);
        if (child == 0) break;
        page = child;
    }
    // The new item: no child, the record number, the key.
    NTXPut32(Up_.data(), 0);
    NTXPut32(Up_.data() + 4, recNo);
    std::memcpy(Up_.data() + 8, key, Geom_.KeySize);
    std::uint32_t upRight = 0;

    {
        // A page whose other children exist but whose child here was freed (deletions that
        // do not rebalance): the key gets a leaf of its own there.
        TNTXPageRef& r = refs[static_cast<std::size_t>(depth - 1)];
        const TNTXPage p = View(r);
        bool inner = false;
        for (int i = 0; i <= p.Count() && !inner; ++i) inner = p.Child(i) != 0;
        if (inner) {
            TNTXPageRef leaf;
            const std::uint32_t off = AllocPage(leaf);
            TNTXPage l = View(leaf);
            std::memcpy(l.InsertAt(0), Up_.data(), static_cast<std::size_t>(itemSize));
            l.SetChild(1, 0);
            View(r).SetChild(pos[static_cast<std::size_t>(depth - 1)], off);
            r.MarkDirty();
            Changed();
            return;
        }
    }

    for (int level = depth - 1; level >= 0; --level) {
        TNTXPageRef& r = refs[static_cast<std::size_t>(level)];
        RequireSlots(r);
        TNTXPage p = View(r);
        const int at = pos[static_cast<std::size_t>(level)];
        r.MarkDirty();
        Changed();
        if (p.Count() < Geom_.MaxItems) {
            std::memcpy(p.InsertAt(at), Up_.data(), static_cast<std::size_t>(itemSize));
            p.SetChild(at + 1, upRight);
            return;
        }
        // Full: the upper part goes to a new page, which starts as a copy of this one.
        TNTXPageRef nr;
        const std::uint32_t noff = AllocPage(nr);
        TNTXPage n = View(nr);
        std::memcpy(nr.Data(), r.Data(), kNTXPageSize);  // its offset table too, a permutation
        const int max = p.Count();
        p.SetCount(half);
        n.RotateLeft(half);
        n.SetCount(max - half);
        TNTXPage& dst = at < half ? p : n;
        const int dpos = at < half ? at : at - half;
        std::memcpy(dst.InsertAt(dpos), Up_.data(), static_cast<std::size_t>(itemSize));
        dst.SetChild(dpos + 1, upRight);
        // The separator moves up with the old page as its child.
        if (p.Count() < n.Count()) {
            std::memcpy(Up_.data(), n.Item(0), static_cast<std::size_t>(itemSize));
            const std::uint32_t y = n.Child(0);
            n.RemoveAt(0);
            p.SetChild(p.Count(), y);
            p.ClearRecKey(p.Count());
        } else {
            std::memcpy(Up_.data(), p.Item(p.Count() - 1), static_cast<std::size_t>(itemSize));
            p.DropLast();  // the separator's child stays as the old page's last child
        }
        NTXPut32(Up_.data(), r.Offset());
        upRight = noff;
    }
    // The root split: a new root with the separator and the two halves.
    TNTXPageRef rr;
    const std::uint32_t roff = AllocPage(rr);
    TNTXPage root = View(rr);
    std::memcpy(root.InsertAt(0), Up_.data(), static_cast<std::size_t>(itemSize));
    root.SetChild(1, upRight);
    Header_.Root = roff;
}

// ---------------------------------------------------------------------------------------
// Deleting
// ---------------------------------------------------------------------------------------
bool THXNTXTree::FindPath(const std::uint8_t* key, std::uint32_t recNo, THXNTXCursor& c) {
    Descend(c, key, Geom_.KeySize, recNo, false);
    if (SettleForward(c) && c.RecNo_ == recNo && Compare_->Compare(key, c.Key_.data(), Geom_.KeySize) == 0)
        return true;
    // Equal keys that another program did not keep in record order: look through all of them.
    Descend(c, key, Geom_.KeySize, 0, false);
    for (bool on = SettleForward(c); on && Compare_->Compare(key, c.Key_.data(), Geom_.KeySize) == 0; on = Next(c))
        if (c.RecNo_ == recNo) return true;
    return false;
}

bool THXNTXTree::DeleteKey(const std::uint8_t* key, std::uint32_t recNo) {
    RequireUpdate("DeleteKey");
    THXNTXCursor& c = Work_;
    if (!FindPath(key, recNo, c)) return false;
    if (DeleteKeyStyle_ == dksApolloHalcyon) DeleteApollo(c);
    else DeleteClipper(c);
    c.Valid_ = false;
    return true;
}

void THXNTXTree::DeleteApollo(THXNTXCursor& c) {
    const int L = c.Depth_ - 1;
    const std::uint32_t poff = c.Path_[static_cast<std::size_t>(L)].Page;
    const int i = c.Path_[static_cast<std::size_t>(L)].Index;
    TNTXPageRef pr = Page(poff);
    pr.MarkDirty();
    Changed();
    // The page (at path level lvl) is freed when it is an empty leaf and not the root; its
    // parent's pointer becomes 0.
    auto freeIfEmpty = [&](TNTXPageRef& r, std::uint32_t parent, int parentIndex) {
        const TNTXPage q = View(r);
        if (q.Count() != 0 || q.Child(0) != 0 || r.Offset() == Header_.Root || parent == 0) return;
        FreePage(r);
        TNTXPageRef par = Page(parent);
        View(par).SetChild(parentIndex, 0);
        par.MarkDirty();
    };
    for (;;) {
        const std::uint32_t child = View(pr).Child(i);
        if (child == 0) {
            View(pr).RemoveAt(i);
            if (L > 0)
                freeIfEmpty(pr, c.Path_[static_cast<std::size_t>(L - 1)].Page,
                            c.Path_[static_cast<std::size_t>(L - 1)].Index);
            return;
        }
        // The key is replaced by the last key of the rightmost leaf under its child.
        std::uint32_t parent = poff;
        int parentIndex = i;
        std::uint32_t q = child;
        TNTXPageRef qr = Page(q);
        for (int d = L + 1;; ++d) {
            if (d >= kNTXMaxDepth) Corrupt("the tree is deeper than 64 levels" + AtPage(q));
            const TNTXPage v = View(qr);
            const std::uint32_t right = v.Child(v.Count());
            if (right == 0) break;
            parent = q;
            parentIndex = v.Count();
            q = right;
            qr = Page(q);
        }
        TNTXPage v = View(qr);
        if (v.Count() == 0) {
            // An empty page left by earlier deletions: it goes, and the search starts again.
            freeIfEmpty(qr, parent, parentIndex);
            continue;
        }
        std::memcpy(View(pr).Item(i) + 4, v.Item(v.Count() - 1) + 4, static_cast<std::size_t>(Geom_.ItemSize - 4));
        v.DropLast();
        qr.MarkDirty();
        freeIfEmpty(qr, parent, parentIndex);
        return;
    }
}

void THXNTXTree::DeleteClipper(THXNTXCursor& c) {
    int L = c.Depth_ - 1;
    const std::uint32_t poff = c.Path_[static_cast<std::size_t>(L)].Page;
    const int i = c.Path_[static_cast<std::size_t>(L)].Index;
    {
        TNTXPageRef pr = Page(poff);
        TNTXPage p = View(pr);
        pr.MarkDirty();
        Changed();
        const std::uint32_t child = p.Child(i);
        if (child == 0) {
            p.RemoveAt(i);
        } else {
            // Replace by the largest key of the left subtree, then take that key out of its leaf.
            std::uint32_t q = child;
            TNTXPageRef qr = Page(q);
            for (;;) {
                const TNTXPage v = View(qr);
                Push(c, q, v.Count());
                const std::uint32_t right = v.Child(v.Count());
                if (right == 0) break;
                q = right;
                qr = Page(q);
            }
            TNTXPage v = View(qr);
            if (v.Count() == 0) {
                p.RemoveAt(i);
                c.Depth_ = L + 1;
            } else {
                std::memcpy(p.Item(i) + 4, v.Item(v.Count() - 1) + 4, static_cast<std::size_t>(Geom_.ItemSize - 4));
                v.DropLast();
                qr.MarkDirty();
                L = c.Depth_ - 1;
            }
        }
    }
    // Bring every page on the way back up to half page.
    for (int lvl = L; lvl >= 1; --lvl) {
        const auto& par = c.Path_[static_cast<std::size_t>(lvl - 1)];
        {
            TNTXPageRef r = Page(c.Path_[static_cast<std::size_t>(lvl)].Page);
            if (View(r).Count() >= Geom_.HalfPage) break;
        }
        Rebalance(par.Page, par.Index);
    }
}

void THXNTXTree::Rebalance(std::uint32_t parent, int j) {
    const int half = Geom_.HalfPage;
    const std::size_t tail = static_cast<std::size_t>(Geom_.ItemSize - 4);  // record number and key
    TNTXPageRef pr = Page(parent);
    TNTXPage par = View(pr);
    const std::uint32_t coff = par.Child(j);
    if (coff == 0) return;
    TNTXPageRef cr = Page(coff);
    TNTXPage ch = View(cr);
    if (ch.Count() >= half) return;
    RequireSlots(cr);
    // Appends the parent's separator k and then every item of src (and its last child) to dst.
    auto merge = [&](TNTXPage& dst, int k, const TNTXPage& src) {
        const int dn = dst.Count();
        std::uint8_t* it = dst.InsertAt(dn);
        std::memcpy(it + 4, par.Item(k) + 4, tail);
        dst.SetChild(dn, dst.Child(dn + 1));
        for (int m = 0; m < src.Count(); ++m)
            std::memcpy(dst.InsertAt(dst.Count()), src.Item(m), static_cast<std::size_t>(Geom_.ItemSize));
        dst.SetChild(dst.Count(), src.Child(src.Count()));
    };
    pr.MarkDirty();
    cr.MarkDirty();
    Changed();
    if (j > 0 && par.Child(j - 1) != 0) {
        TNTXPageRef lr = Page(par.Child(j - 1));
        RequireSlots(lr);
        TNTXPage left = View(lr);
        lr.MarkDirty();
        if (left.Count() > half) {
            const int k = (left.Count() - half + 1) / 2;
            for (int t = 0; t < k; ++t) {
                // The separator comes down to the front of the child with the left page's last
                // child; the left page's last key goes up.
                const int ln = left.Count();
                std::uint8_t* it = ch.InsertAt(0);
                std::memcpy(it + 4, par.Item(j - 1) + 4, tail);
                NTXPut32(it, left.Child(ln));
                std::memcpy(par.Item(j - 1) + 4, left.Item(ln - 1) + 4, tail);
                left.DropLast();
            }
        } else {
            merge(left, j - 1, ch);
            par.SetChild(j, par.Child(j - 1));
            par.RemoveAt(j - 1);
            FreePage(cr);
        }
    } else if (j < par.Count() && par.Child(j + 1) != 0) {
        TNTXPageRef rr = Page(par.Child(j + 1));
        RequireSlots(rr);
        TNTXPage right = View(rr);
        rr.MarkDirty();
        if (right.Count() > half) {
            const int k = (right.Count() - half + 1) / 2;
            for (int t = 0; t < k; ++t) {
                // The separator goes down to the end of the child, the right page's first child
                // becomes the child's last; the right page's first key goes up.
                const int cn = ch.Count();
                std::uint8_t* it = ch.InsertAt(cn);
                std::memcpy(it + 4, par.Item(j) + 4, tail);
                ch.SetChild(cn, ch.Child(cn + 1));
                ch.SetChild(cn + 1, right.Child(0));
                std::memcpy(par.Item(j) + 4, right.Item(0) + 4, tail);
                right.RemoveAt(0);
            }
        } else {
            merge(ch, j, right);
            par.SetChild(j + 1, coff);
            par.RemoveAt(j);
            FreePage(rr);
        }
    }
}

// ---------------------------------------------------------------------------------------
// Verification
// ---------------------------------------------------------------------------------------
void THXNTXTree::VerifyPage(std::uint32_t page, int depth, bool root, const TNTXVerifyOptions& o,
                            TNTXVerifyReport& rep, std::vector<bool>& seen, std::vector<std::uint8_t>& prev,
                            std::uint32_t& prevRec, bool& havePrev) {
    if (depth >= kNTXMaxDepth) Corrupt("the tree is deeper than 64 levels" + AtPage(page));
    TNTXPageRef r = Page(page);
    const std::size_t idx = page / kNTXPageSize;
    if (seen[idx]) Corrupt("page is linked more than once" + AtPage(page));
    seen[idx] = true;
    ++rep.TreePages;
    auto find = [&](TNTXCheck check, std::string msg) {
        if (rep.Findings.size() < o.MaxFindings) rep.Findings.push_back({check, std::move(msg)});
    };
    auto text = [&](const std::uint8_t* k) {
        return o.KeyText ? o.KeyText(k, Geom_.KeySize)
                         : std::string(reinterpret_cast<const char*>(k), Geom_.KeySize);
    };
    const int n = View(r).Count();
    const bool leaf = View(r).Child(0) == 0;
    bool step1 = false;
    for (int e = 0; e <= n && !step1; ++e) {
        const std::uint32_t ch = View(r).Child(e);
        if (leaf && ch != 0) {
            find(TNTXCheck::PageFields, "THXNTXIndex.VerifyIndex: item.page must be null on the leaf node item!");
            step1 = true;
        } else if (!leaf && ch == 0) {
            find(TNTXCheck::PageFields, "THXNTXIndex.VerifyIndex: item.page must be not null on the not leaf node item!");
            step1 = true;
        }
    }
    if (!root && o.HalfPage && n < Geom_.HalfPage)
        find(TNTXCheck::HalfPage, "THXNTXIndex.VerifyIndex: For page = " + std::to_string(page) + " item count (" + std::to_string(n) +
                    ") less then half_page count (" + std::to_string(Geom_.HalfPage) + ")");
    for (int e = 0; e <= n; ++e) {
        const std::uint32_t ch = View(r).Child(e);
        if (ch != 0) VerifyPage(ch, depth + 1, false, o, rep, seen, prev, prevRec, havePrev);
        if (e == n) break;
        const TNTXPage p = View(r);
        const std::uint8_t* k = p.Key(e);
        const std::uint32_t rec = p.RecNo(e);
        if (havePrev) {
            const int cmp = Compare_->Compare(k, prev.data(), Geom_.KeySize);
            if (cmp < 0 || (cmp == 0 && rec <= prevRec))
                find(TNTXCheck::KeyOrder, "THXNTXIndex.VerifyIndex: Key " + text(k) + " must be lager then " + text(prev.data()));
        }
        std::memcpy(prev.data(), k, Geom_.KeySize);
        prevRec = rec;
        havePrev = true;
        ++rep.KeyCount;
        if (o.OnKey) o.OnKey(rec, k);
    }
}

TNTXVerifyReport THXNTXTree::Verify(const TNTXVerifyOptions& o) {
    if (!Buffers_.HasDirty()) DropCache();
    AutoRefresh();
    std::int64_t size = EndOfFile_;
    if (!InUpdate_ && !Building_) {
        size = Stream_->GetFileSize();
        if (size < 0) RaiseIO();
        EndOfFile_ = PagesEnd(size);
    }
    TNTXVerifyReport rep;
    std::vector<bool> seen(EndOfFile_ / kNTXPageSize + 1, false);
    std::vector<std::uint8_t> prev(Geom_.KeySize, 0);
    std::uint32_t prevRec = 0;
    bool havePrev = false;
    VerifyPage(Header_.Root, 0, true, o, rep, seen, prev, prevRec, havePrev);
    bool noted = false;
    for (std::uint32_t f = Header_.NextFree; f != 0;) {
        if (f % kNTXPageSize != 0 || f < kNTXPageSize || f + kNTXPageSize > EndOfFile_)
            Corrupt("free page " + std::to_string(f) + " is outside the file" + AtPage(f));
        if (seen[f / kNTXPageSize]) Corrupt("free page is also in use or listed twice" + AtPage(f));
        seen[f / kNTXPageSize] = true;
        ++rep.FreePages;
        TNTXPageRef r = Buffers_.Get(f);
        const TNTXPage p = View(r);
        const int e0 = p.Entry(0);
        const int base = Geom_.SlotBase();
        if (e0 < base || (e0 - base) % Geom_.ItemSize != 0 || e0 + Geom_.ItemSize > static_cast<int>(kNTXPageSize))
            Corrupt("the free list link is not an item slot" + AtPage(f));
        if (p.Count() != 0 && !noted) {
            rep.Notes.push_back("THXNTXIndex.VerifyIndex: page count for free page must be 0!");
            noted = true;
        }
        f = p.Child(0);
    }
    const std::uint64_t counted = rep.TreePages + rep.FreePages + 1;
    const std::uint64_t need = static_cast<std::uint64_t>(size) / kNTXPageSize;
    if (counted != need && rep.Findings.size() < o.MaxFindings)
        rep.Findings.push_back({TNTXCheck::PageCount, "THXNTXIndex.VerifyIndex: Page count in index " + std::to_string(counted) +
                                       ", but need " + std::to_string(need)});
    return rep;
}

}  // namespace zarbel
