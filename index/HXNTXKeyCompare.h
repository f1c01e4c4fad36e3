// The key comparison of an NTX index, in the form the keys have in its pages.
//
// A page key is stored in OEM (CP866) when the index translates keys (KeyTranslate) and its
// table works in OEM; otherwise it is stored as evaluated, in ANSI (CP1251). A caller's key is
// ANSI; it is turned into the stored form once (Prepare), and from then on every comparison
// runs over stored bytes through a rank table, without converting anything:
//   - under a collation, keys weigh through the collation's table, which is indexed by the
//     CP866 byte: OEM keys are weighed as stored, ANSI keys through their CP866 form (the
//     engine's code-page tables are a bijection, so nothing is lost on the way); the first
//     position whose weights differ decides, and keys equal over the length compare equal;
//   - without one, keys compare as unsigned bytes of their ANSI form, up to the first NUL in
//     either key (so a key sorts before a longer one that it begins).
// A descending index negates the result. OnCompareKeys, when set, decides instead; it is
// handed both keys in ANSI.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "index/HXCollation.h"
#include "index/HXNTXTree.h"

namespace zarbel {

class THXNTXIndex;

// Sender, CurrentKey (the key searched for), ItemKey (the page's key), MaxLen, out c.
using TOnCompareKeys =
    std::function<void(THXNTXIndex* Sender, const char* CurrentKey, const char* ItemKey, std::uint32_t MaxLen, int& c)>;

class THXNTXIndexCompare final : public THXNTXKeyCompare {
public:
    // storedOem: page keys are CP866; weights: the collation's table, or null for bytes.
    void Setup(bool storedOem, const TCollationWeights* weights, bool desc);
    void SetEvent(THXNTXIndex* sender, const TOnCompareKeys* event) {
        Sender_ = sender;
        Event_ = event && *event ? event : nullptr;
    }
    bool StoredOem() const { return StoredOem_; }
    bool Desc() const { return Desc_; }
    bool Weighted() const { return Weighted_; }
    bool HasEvent() const { return Event_ != nullptr; }
    // Keys compare equal only when their bytes are equal (no OnCompareKeys, and no collation
    // that weighs two bytes alike).
    bool EqualMeansSame() const { return !Event_ && Injective_; }

    // A caller's ANSI key in the stored form (out may be the same string as ansi).
    void Prepare(std::string_view ansi, std::string& out) const;
    // A stored key back in ANSI.
    void ToAnsi(std::string_view stored, std::string& out) const;

    // Compares the first n bytes of two stored keys (search key a, page key b): below 0, 0 or
    // above 0, with the index's direction applied.
    int Compare(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) const override {
        int c = Event_ ? EventCompare(a, b, n) : Raw(a, b, n);
        return Desc_ ? -c : c;
    }
    // The same without the direction (range tests compare in key order as written).
    int Raw(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) const {
        if (Event_) return EventCompare(a, b, n);
        if (Weighted_) {
            for (std::size_t i = 0; i < n; ++i) {
                const int d = int(Rank_[a[i]]) - int(Rank_[b[i]]);
                if (d) return d;
            }
            return 0;
        }
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t x = a[i], y = b[i];
            if (x == 0 || y == 0) return int(x != 0) - int(y != 0);
            const int d = int(Rank_[x]) - int(Rank_[y]);
            if (d) return d;
        }
        return 0;
    }

private:
    int EventCompare(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) const;

    std::uint8_t Rank_[256] = {};
    bool Weighted_ = false;
    bool Injective_ = true;  // no two bytes share a rank
    bool StoredOem_ = false;
    bool Desc_ = false;
    THXNTXIndex* Sender_ = nullptr;
    const TOnCompareKeys* Event_ = nullptr;
};

}  // namespace zarbel
