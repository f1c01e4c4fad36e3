// The byte layout of an NTX index file: the 1024-byte header in block 0 and the 1024-byte
// pages after it, the sizes derived from the key size, and the checks that keep a hostile or
// damaged file from ever making the engine read or write outside a page.
//
// Header (little-endian):
//   0 signature (6 or 7)   2 version   4 root   8 next free page   12 item size   14 key size
//   16 key decimals   18 max items   20 half page   22 key expression (256, NUL-terminated)
//   278 unique   279 reserved   280 descending   281 reserved   282 FOR expression (256)
//   538 order name (12)   550 unused (474)
// The first 12 bytes are the volatile part: re-read before positioning, written after updates.
//
// Page:
//   0 count   2 offset table (max items + 1 entries of 2 bytes)   2*max+4 item slots
//   Item: 0 child page offset (0: none)   4 record number   8 key (key size bytes)
// Entry i of the offset table gives the slot of the i-th item in key order. A page with n keys
// uses entries 0..n-1 for keys and entry n only for its child (the subtree after key n-1); the
// record number and key of that last item are kept zero, as other writers keep them.
// Items never move inside a page: insertion and removal rotate the offset table.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace zarbel {

inline constexpr std::uint32_t kNTXPageSize = 1024;
inline constexpr std::size_t kNTXHeaderSize = 1024;
inline constexpr std::size_t kNTXVolatileSize = 12;
inline constexpr int kNTXMaxKeySize = 330;
inline constexpr std::size_t kNTXExprSize = 256;       // key and FOR expression fields
inline constexpr std::size_t kNTXOrderNameSize = 12;   // the order name field
inline constexpr std::size_t kNTXOrderNameChars = 8;   // characters of it that count
inline constexpr std::uint16_t kNTXVersionWrap = 65531;  // at or above: the next version is 0
inline constexpr int kNTXMaxDepth = 64;                // deepest descent accepted

// The xBase program version an index is written for; it decides the signature word.
enum TCLIPPER_VERSION : std::uint8_t { v500, v501, v520, v530 };
// How keys are deleted: with rebalancing and merging, or by removal only.
enum TDeleteKeyStyle : std::uint8_t { dksClipper, dksApolloHalcyon };

// Little-endian integers at any address.
inline std::uint16_t NTXGet16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t NTXGet32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void NTXPut16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void NTXPut32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

// The page geometry that follows from a key size.
struct TNTXGeometry {
    std::uint16_t KeySize = 0;
    std::uint16_t ItemSize = 0;
    std::uint16_t MaxItems = 0;
    std::uint16_t HalfPage = 0;
    // Byte offset of the first item slot in a page.
    std::uint16_t SlotBase() const { return static_cast<std::uint16_t>(2 * MaxItems + 4); }
};

// Item size, max items and half page for a key size; false (out unchanged) for a key size
// outside 1..330.
bool NTXDerivedSizes(int keySize, TNTXGeometry& out);

// Signature word for a program version: 6 for v500/v501, 7 for v520/v530.
std::uint16_t NTXSignatureFor(TCLIPPER_VERSION v);
inline bool IsNTXSignature(std::uint16_t s) { return s == 6 || s == 7; }
// The next version under the wrap rule (65531 and above become 0).
inline std::uint16_t NTXNextVersion(std::uint16_t v) {
    return v >= kNTXVersionWrap ? std::uint16_t{0} : static_cast<std::uint16_t>(v + 1);
}

// The whole header, every field. Texts are kept as the raw field bytes; the accessors apply
// the reading rules.
struct TNTXHeader {
    std::uint16_t Signature = 6;
    std::uint16_t Version = 1;
    std::uint32_t Root = kNTXPageSize;
    std::uint32_t NextFree = 0;
    std::uint16_t ItemSize = 0;
    std::uint16_t KeySize = 0;
    std::uint16_t KeyDecimals = 0;
    std::uint16_t MaxItems = 0;
    std::uint16_t HalfPage = 0;
    std::array<std::uint8_t, kNTXExprSize> KeyExpr{};
    std::uint8_t Unique = 0;
    std::uint8_t Reserved1 = 0;
    std::uint8_t Descending = 0;
    std::uint8_t Reserved2 = 0;
    std::array<std::uint8_t, kNTXExprSize> ForExpr{};
    std::array<std::uint8_t, kNTXOrderNameSize> OrderName{};
    std::array<std::uint8_t, 474> Tail{};

    // Parses / writes the 1024-byte image.
    void Parse(const std::uint8_t* bytes);
    void Serialize(std::uint8_t* bytes) const;
    // The first 12 bytes (signature, version, root, next free).
    void ParseVolatile(const std::uint8_t* bytes);
    void SerializeVolatile(std::uint8_t* bytes) const;

    // Key and FOR expression as read: cut at the first NUL (or the field's end), empty when a
    // character below 32 remains.
    std::string KeyExpression() const;
    std::string ForExpression() const;
    // Stores a text cut to 255 bytes and NUL-filled; false when it was longer than 255 bytes
    // (the field then holds nothing, so no half expression is ever stored).
    bool SetKeyExpression(const std::string& text);
    bool SetForExpression(const std::string& text);
    // Order name as read: at most 8 characters, stopping at NUL; empty when a character below
    // 32 is among them.
    std::string OrderNameText() const;
    // Stores at most 8 characters and a NUL (the rest of the field zero); a name with a
    // character below 32 is stored as empty.
    void SetOrderNameText(const std::string& name);

    // Fills a header for a new, empty index: signature from the version, version 1, root
    // 1024, next free 0, sizes derived from keySize, reserved bytes and tail zero. False when
    // the key size is outside 1..330 or an expression is over 255 bytes.
    bool InitNew(TCLIPPER_VERSION ver, int keySize, int keyDecimals, const std::string& keyExpr,
                 const std::string& forExpr, bool unique, bool descending, const std::string& orderName);

    TNTXGeometry Geometry() const { return {KeySize, ItemSize, MaxItems, HalfPage}; }
};

// Checks a header before any page is read: item size = key size + 8; 1 <= key size <= 330;
// max items and half page fit one page (1 <= half page <= max items / 2); root and next free
// multiples of 1024 inside a file of fileSize bytes, the root not 0. "" when usable, else the
// reason ("key size 400 is outside 1..330"). The signature is not looked at: callers
// recognise the file by IsNTXSignature first.
std::string NTXValidateHeader(const TNTXHeader& h, std::int64_t fileSize);

// A view of one page's bytes under a geometry. No bounds are checked here: a page read from a
// file is validated (NTXValidatePage) before its entries are used.
class TNTXPage {
public:
    TNTXPage(std::uint8_t* data, const TNTXGeometry& g) : D_(data), G_(&g) {}
    std::uint8_t* Data() const { return D_; }

    int Count() const { return NTXGet16(D_); }
    void SetCount(int n) { NTXPut16(D_, static_cast<std::uint16_t>(n)); }
    std::uint16_t Entry(int i) const { return NTXGet16(D_ + 2 + 2 * i); }
    void SetEntry(int i, std::uint16_t off) { NTXPut16(D_ + 2 + 2 * i, off); }
    // The item at offset-table entry i.
    std::uint8_t* Item(int i) const { return D_ + Entry(i); }
    std::uint32_t Child(int i) const { return NTXGet32(Item(i)); }
    void SetChild(int i, std::uint32_t page) { NTXPut32(Item(i), page); }
    std::uint32_t RecNo(int i) const { return NTXGet32(Item(i) + 4); }
    const std::uint8_t* Key(int i) const { return Item(i) + 8; }

    // Count 0, entry i = slot i for every entry, child of entry 0 zero.
    void LayoutFresh();
    // The offset table is a permutation of the slot offsets.
    bool IsPermutation() const;
    // Opens a place for an item at entry p (0 <= p <= count < max items): entries p..count+1
    // rotate up by one, so the unused slot of entry count+1 comes to p; count + 1. Returns the
    // item at p for the caller to fill.
    std::uint8_t* InsertAt(int p);
    // Removes the key at entry p together with its child (entry p's item): entries p+1..count
    // move down by one and p's slot goes to entry count; count - 1.
    void RemoveAt(int p);
    // Removes the last key but keeps its child as the page's last child; the record number and
    // key of that item are cleared (other programs take a record number there for a key).
    void DropLast();
    // Clears the record number and key of the item at entry i (its child stays).
    void ClearRecKey(int i) { std::memset(Item(i) + 4, 0, static_cast<std::size_t>(G_->ItemSize - 4)); }
    // Rotates the whole offset table (max items + 1 entries) left by k places.
    void RotateLeft(int k);

private:
    std::uint8_t* D_;
    const TNTXGeometry* G_;
};

// Checks a page as loaded from the file at offset, for a file whose pages end at fileEnd:
// count <= max items; entries 0..count point at item slots inside the page; their children are
// 0 or multiples of 1024 inside the file, neither the header nor the page itself. "" when
// usable, else the reason ending in " at page <offset>".
std::string NTXValidatePage(const std::uint8_t* page, std::uint32_t offset, const TNTXGeometry& g,
                            std::int64_t fileEnd);

}  // namespace zarbel
