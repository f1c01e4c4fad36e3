// The bottom-up NTX builder (see HXNTXCompactIndex.h). Pages keep item i in slot i, as a fresh
// page lays them out; the rightmost child of a page sits in the slot after its last key.
#include "index/HXNTXCompactIndex.h"

#include <cstring>


namespace zarbel {

THXNTXCompactIndex::THXNTXCompactIndex(const TNTXGeometry& g, std::uint32_t firstPage, TWritePage write)
    : G_(g), Next_(firstPage), Write_(std::move(write)), Out_(kNTXPageSize) {}

namespace {

std::uint8_t* Slot(std::vector<std::uint8_t>& p, const TNTXGeometry& g, int i) {
    return p.data() + g.SlotBase() + static_cast<std::size_t>(i) * g.ItemSize;
}

void Fresh(std::vector<std::uint8_t>& p, const TNTXGeometry& g) {
    p.assign(kNTXPageSize, 0);
    TNTXPage(p.data(), g).LayoutFresh();
}

}  // namespace

std::uint32_t THXNTXCompactIndex::Write(std::vector<std::uint8_t>& page, std::uint32_t at) {
    std::memcpy(Out_.data(), page.data(), kNTXPageSize);
    Write_(at, Out_.data());
    return at;
}

void THXNTXCompactIndex::Add(const std::uint8_t* key, std::uint32_t recNo) {
    AddAt(0, 0, recNo, key);
    ++Count_;
}

void THXNTXCompactIndex::AddAt(std::size_t level, std::uint32_t child, std::uint32_t recNo, const std::uint8_t* key) {
    if (Levels_.size() <= level) {
        Levels_.emplace_back();
        Fresh(Levels_.back().Cur, G_);
    }
    TLevel& l = Levels_[level];
    TNTXPage page(l.Cur.data(), G_);
    const int n = page.Count();
    if (n == G_.MaxItems) {
        // The page is complete: the incoming item's child becomes its rightmost child, and the
        // item goes up as the separator pointing at it.
        NTXPut32(Slot(l.Cur, G_, n), child);
        const std::uint32_t at = Write(l.Cur, Next_);
        Next_ += kNTXPageSize;
        l.Full.swap(l.Cur);
        l.FullAt = at;
        Fresh(l.Cur, G_);
        AddAt(level + 1, at, recNo, key);
        return;
    }
    std::uint8_t* item = Slot(l.Cur, G_, n);
    NTXPut32(item, child);
    NTXPut32(item + 4, recNo);
    std::memcpy(item + 8, key, G_.KeySize);
    page.SetCount(n + 1);
}

std::uint32_t THXNTXCompactIndex::Finish() {
    if (Levels_.empty()) {
        Levels_.emplace_back();
        Fresh(Levels_.back().Cur, G_);
    }
    std::uint32_t below = 0;
    for (TLevel& l : Levels_) {
        const int n = TNTXPage(l.Cur.data(), G_).Count();
        NTXPut32(Slot(l.Cur, G_, n), below);
        l.CurAt = Write(l.Cur, Next_);
        Next_ += kNTXPageSize;
        below = l.CurAt;
    }
    for (std::size_t i = Levels_.size() - 1; i-- > 0;) {
        if (TNTXPage(Levels_[i].Cur.data(), G_).Count() < G_.HalfPage) Repair(Levels_[i + 1], Levels_[i]);
    }
    return Levels_.back().CurAt;
}

// The right-edge page (level.Cur) takes keys from its left sibling (level.Full) through the
// parent's last separator until it holds half page keys.
void THXNTXCompactIndex::Repair(TLevel& parent, TLevel& level) {
    const std::size_t is = G_.ItemSize;
    TNTXPage p(parent.Cur.data(), G_), c(level.Cur.data(), G_), l(level.Full.data(), G_);
    const int pc = p.Count(), cc = c.Count(), lc = l.Count();
    const int k = G_.HalfPage - cc;
    std::vector<std::uint8_t> moved(static_cast<std::size_t>(cc + k + 1) * is);
    // The last k-1 keys of the sibling with their children, the separator with the sibling's
    // rightmost child, then the page's own keys and its rightmost child.
    for (int j = 0; j < k - 1; ++j) std::memcpy(&moved[j * is], Slot(level.Full, G_, lc - k + 1 + j), is);
    std::uint8_t* sep = Slot(parent.Cur, G_, pc - 1);
    std::memcpy(&moved[(k - 1) * is], sep, is);
    std::memcpy(&moved[(k - 1) * is], Slot(level.Full, G_, lc), 4);
    for (int j = 0; j <= cc; ++j) std::memcpy(&moved[(k + j) * is], Slot(level.Cur, G_, j), is);
    for (int j = 0; j <= cc + k; ++j) std::memcpy(Slot(level.Cur, G_, j), &moved[j * is], is);
    c.SetCount(cc + k);
    // The sibling's key at lc-k becomes the separator; its child stays as the sibling's
    // rightmost child.
    std::memcpy(sep + 4, Slot(level.Full, G_, lc - k) + 4, is - 4);
    std::memset(Slot(level.Full, G_, lc - k) + 4, 0, is - 4);
    for (int j = lc - k + 1; j <= lc; ++j) std::memset(Slot(level.Full, G_, j), 0, is);
    l.SetCount(lc - k);
    Write(level.Full, level.FullAt);
    Write(level.Cur, level.CurAt);
    Write(parent.Cur, parent.CurAt);
}

}  // namespace zarbel
