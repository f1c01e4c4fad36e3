#include "index/HXNTXFormat.h"

#include <algorithm>
#include <bitset>

namespace zarbel {

namespace {

constexpr std::size_t kOffSignature = 0;
constexpr std::size_t kOffVersion = 2;
constexpr std::size_t kOffRoot = 4;
constexpr std::size_t kOffNextFree = 8;
constexpr std::size_t kOffItemSize = 12;
constexpr std::size_t kOffKeySize = 14;
constexpr std::size_t kOffKeyDecimals = 16;
constexpr std::size_t kOffMaxItems = 18;
constexpr std::size_t kOffHalfPage = 20;
constexpr std::size_t kOffKeyExpr = 22;
constexpr std::size_t kOffUnique = 278;
constexpr std::size_t kOffDescending = 280;
constexpr std::size_t kOffForExpr = 282;
constexpr std::size_t kOffOrderName = 538;
constexpr std::size_t kOffTail = 550;

// Text of a NUL-terminated field: cut at the first NUL or the field's end; empty when a
// character below 32 remains.
template <std::size_t N>
std::string FieldText(const std::array<std::uint8_t, N>& f, std::size_t limit) {
    std::size_t n = 0;
    while (n < limit && n < N && f[n] != 0) ++n;
    for (std::size_t i = 0; i < n; ++i)
        if (f[i] < 32) return {};
    return std::string(reinterpret_cast<const char*>(f.data()), n);
}

bool StoreExpr(std::array<std::uint8_t, kNTXExprSize>& f, const std::string& text) {
    f.fill(0);
    if (text.size() > kNTXExprSize - 1) return false;
    std::memcpy(f.data(), text.data(), text.size());
    return true;
}

std::string AtPage(std::uint32_t offset) { return " at page " + std::to_string(offset); }

}  // namespace

bool NTXDerivedSizes(int keySize, TNTXGeometry& out) {
    if (keySize < 1 || keySize > kNTXMaxKeySize) return false;
    const int item = keySize + 8;
    const int m = (1020 - item) / (item + 2);
    out.KeySize = static_cast<std::uint16_t>(keySize);
    out.ItemSize = static_cast<std::uint16_t>(item);
    out.HalfPage = static_cast<std::uint16_t>(m / 2);
    out.MaxItems = static_cast<std::uint16_t>((m / 2) * 2);
    return true;
}

std::uint16_t NTXSignatureFor(TCLIPPER_VERSION v) { return (v == v520 || v == v530) ? 7 : 6; }

void TNTXHeader::Parse(const std::uint8_t* b) {
    ParseVolatile(b);
    ItemSize = NTXGet16(b + kOffItemSize);
    KeySize = NTXGet16(b + kOffKeySize);
    KeyDecimals = NTXGet16(b + kOffKeyDecimals);
    MaxItems = NTXGet16(b + kOffMaxItems);
    HalfPage = NTXGet16(b + kOffHalfPage);
    std::memcpy(KeyExpr.data(), b + kOffKeyExpr, KeyExpr.size());
    Unique = b[kOffUnique];
    Reserved1 = b[kOffUnique + 1];
    Descending = b[kOffDescending];
    Reserved2 = b[kOffDescending + 1];
    std::memcpy(ForExpr.data(), b + kOffForExpr, ForExpr.size());
    std::memcpy(OrderName.data(), b + kOffOrderName, OrderName.size());
    std::memcpy(Tail.data(), b + kOffTail, Tail.size());
}

void TNTXHeader::Serialize(std::uint8_t* b) const {
    SerializeVolatile(b);
    NTXPut16(b + kOffItemSize, ItemSize);
    NTXPut16(b + kOffKeySize, KeySize);
    NTXPut16(b + kOffKeyDecimals, KeyDecimals);
    NTXPut16(b + kOffMaxItems, MaxItems);
    NTXPut16(b + kOffHalfPage, HalfPage);
    std::memcpy(b + kOffKeyExpr, KeyExpr.data(), KeyExpr.size());
    b[kOffUnique] = Unique;
    b[kOffUnique + 1] = Reserved1;
    b[kOffDescending] = Descending;
    b[kOffDescending + 1] = Reserved2;
    std::memcpy(b + kOffForExpr, ForExpr.data(), ForExpr.size());
    std::memcpy(b + kOffOrderName, OrderName.data(), OrderName.size());
    std::memcpy(b + kOffTail, Tail.data(), Tail.size());
}

void TNTXHeader::ParseVolatile(const std::uint8_t* b) {
    Signature = NTXGet16(b + kOffSignature);
    Version = NTXGet16(b + kOffVersion);
    Root = NTXGet32(b + kOffRoot);
    NextFree = NTXGet32(b + kOffNextFree);
}

void TNTXHeader::SerializeVolatile(std::uint8_t* b) const {
    NTXPut16(b + kOffSignature, Signature);
    NTXPut16(b + kOffVersion, Version);
    NTXPut32(b + kOffRoot, Root);
    NTXPut32(b + kOffNextFree, NextFree);
}

std::string TNTXHeader::KeyExpression() const { return FieldText(KeyExpr, KeyExpr.size()); }
std::string TNTXHeader::ForExpression() const { return FieldText(ForExpr, ForExpr.size()); }
bool TNTXHeader::SetKeyExpression(const std::string& text) { return StoreExpr(KeyExpr, text); }
bool TNTXHeader::SetForExpression(const std::string& text) { return StoreExpr(ForExpr, text); }
std::string TNTXHeader::OrderNameText() const { return FieldText(OrderName, kNTXOrderNameChars); }

void TNTXHeader::SetOrderNameText(const std::string& name) {
    OrderName.fill(0);
    const std::size_t n = std::min(name.size(), kNTXOrderNameChars);
    for (std::size_t i = 0; i < n; ++i)
        if (static_cast<unsigned char>(name[i]) < 32) return;
    std::memcpy(OrderName.data(), name.data(), n);
}

bool TNTXHeader::InitNew(TCLIPPER_VERSION ver, int keySize, int keyDecimals, const std::string& keyExpr,
                         const std::string& forExpr, bool unique, bool descending, const std::string& orderName) {
    TNTXGeometry g;
    if (!NTXDerivedSizes(keySize, g) || keyExpr.size() > kNTXExprSize - 1 || forExpr.size() > kNTXExprSize - 1)
        return false;
    *this = TNTXHeader{};
    Signature = NTXSignatureFor(ver);
    Version = 1;
    Root = kNTXPageSize;
    NextFree = 0;
    ItemSize = g.ItemSize;
    KeySize = g.KeySize;
    KeyDecimals = static_cast<std::uint16_t>(keyDecimals);
    MaxItems = g.MaxItems;
    HalfPage = g.HalfPage;
    SetKeyExpression(keyExpr);
    SetForExpression(forExpr);
    Unique = unique ? 1 : 0;
    Descending = descending ? 1 : 0;
    SetOrderNameText(orderName);
    return true;
}

std::string NTXValidateHeader(const TNTXHeader& h, std::int64_t fileSize) {
    if (h.KeySize < 1 || h.KeySize > kNTXMaxKeySize)
        return "key size " + std::to_string(h.KeySize) + " is outside 1..330 in the header";
    if (h.ItemSize != h.KeySize + 8)
        return "item size " + std::to_string(h.ItemSize) + " is not key size + 8 in the header";
    // count, max items + 1 offsets and max items + 1 slots must fit one page
    const std::int64_t need = 2 + (static_cast<std::int64_t>(h.MaxItems) + 1) * (2 + h.ItemSize);
    if (h.MaxItems < 2 || need > kNTXPageSize)
        return "max items " + std::to_string(h.MaxItems) + " does not fit a page in the header";
    if (h.HalfPage < 1 || h.HalfPage > h.MaxItems / 2)
        return "half page " + std::to_string(h.HalfPage) + " does not match max items in the header";
    auto pageOk = [&](std::uint32_t off) {
        return off % kNTXPageSize == 0 && off >= kNTXPageSize && static_cast<std::int64_t>(off) + kNTXPageSize <= fileSize;
    };
    if (!pageOk(h.Root)) return "root " + std::to_string(h.Root) + " is not a page of the file in the header";
    if (h.NextFree != 0 && !pageOk(h.NextFree))
        return "next free page " + std::to_string(h.NextFree) + " is not a page of the file in the header";
    return {};
}

void TNTXPage::LayoutFresh() {
    SetCount(0);
    for (int i = 0; i <= G_->MaxItems; ++i) SetEntry(i, static_cast<std::uint16_t>(G_->SlotBase() + i * G_->ItemSize));
    SetChild(0, 0);
}

bool TNTXPage::IsPermutation() const {
    std::bitset<kNTXPageSize> seen;
    const int base = G_->SlotBase();
    for (int i = 0; i <= G_->MaxItems; ++i) {
        const int off = Entry(i);
        if (off < base || (off - base) % G_->ItemSize != 0 || (off - base) / G_->ItemSize > G_->MaxItems) return false;
        const int slot = (off - base) / G_->ItemSize;
        if (seen[static_cast<std::size_t>(slot)]) return false;
        seen[static_cast<std::size_t>(slot)] = true;
    }
    return true;
}

std::uint8_t* TNTXPage::InsertAt(int p) {
    const int n = Count();
    const std::uint16_t freeSlot = Entry(n + 1);
    std::memmove(D_ + 2 + 2 * (p + 1), D_ + 2 + 2 * p, static_cast<std::size_t>(2 * (n + 1 - p)));
    SetEntry(p, freeSlot);
    SetCount(n + 1);
    return Item(p);
}

void TNTXPage::RemoveAt(int p) {
    const int n = Count();
    const std::uint16_t slot = Entry(p);
    std::memmove(D_ + 2 + 2 * p, D_ + 2 + 2 * (p + 1), static_cast<std::size_t>(2 * (n - p)));
    SetEntry(n, slot);
    SetCount(n - 1);
}

void TNTXPage::DropLast() {
    const int n = Count() - 1;
    SetCount(n);
    ClearRecKey(n);
}

void TNTXPage::RotateLeft(int k) {
    const int entries = G_->MaxItems + 1;
    std::uint8_t* t = D_ + 2;
    // Rotating 2-byte units of an unaligned table: rotate the bytes by 2k.
    std::rotate(t, t + 2 * (k % entries), t + 2 * entries);
}

std::string NTXValidatePage(const std::uint8_t* page, std::uint32_t offset, const TNTXGeometry& g,
                            std::int64_t fileEnd) {
    const int n = NTXGet16(page);
    if (n > g.MaxItems)
        return "key count " + std::to_string(n) + " above max items " + std::to_string(g.MaxItems) + AtPage(offset);
    const int base = g.SlotBase();
    for (int i = 0; i <= n; ++i) {
        const int off = NTXGet16(page + 2 + 2 * i);
        if (off < base || (off - base) % g.ItemSize != 0 || off + g.ItemSize > static_cast<int>(kNTXPageSize))
            return "offset table entry " + std::to_string(i) + " (" + std::to_string(off) +
                   ") is not an item slot" + AtPage(offset);
        const std::uint32_t child = NTXGet32(page + off);
        if (child == 0) continue;
        if (child % kNTXPageSize != 0 || static_cast<std::int64_t>(child) + kNTXPageSize > fileEnd)
            return "child " + std::to_string(child) + " is not a page of the file" + AtPage(offset);
        if (child == offset) return "page links to itself" + AtPage(offset);
    }
    return {};
}

}  // namespace zarbel
