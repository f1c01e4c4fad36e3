#include "index/HXNTXKeyCompare.h"

#include <algorithm>
#include <cstring>

#include "platform/codepage.h"

namespace zarbel {

namespace {

unsigned char OemOf(unsigned char ansi) {
    char c = static_cast<char>(ansi);
    CharToOemBuffA(&c, &c, 1);
    return static_cast<unsigned char>(c);
}

unsigned char AnsiOf(unsigned char oem) {
    char c = static_cast<char>(oem);
    OemToCharBuffA(&c, &c, 1);
    return static_cast<unsigned char>(c);
}

}  // namespace

void THXNTXIndexCompare::Setup(bool storedOem, const TCollationWeights* weights, bool desc) {
    StoredOem_ = storedOem;
    Desc_ = desc;
    Weighted_ = weights != nullptr;
    for (int b = 0; b < 256; ++b) {
        const auto u = static_cast<unsigned char>(b);
        if (weights)
            Rank_[b] = (*weights)[storedOem ? u : OemOf(u)];
        else
            Rank_[b] = storedOem ? AnsiOf(u) : u;
    }
    bool seen[256] = {};
    Injective_ = true;
    for (const std::uint8_t r : Rank_) {
        if (seen[r]) Injective_ = false;
        seen[r] = true;
    }
}

void THXNTXIndexCompare::Prepare(std::string_view ansi, std::string& out) const {
    if (out.data() != ansi.data()) out.assign(ansi.data(), ansi.size());
    if (StoredOem_) CharToOemBuffA(out.data(), out.data(), out.size());
}

void THXNTXIndexCompare::ToAnsi(std::string_view stored, std::string& out) const {
    if (out.data() != stored.data()) out.assign(stored.data(), stored.size());
    if (StoredOem_) OemToCharBuffA(out.data(), out.data(), out.size());
}

int THXNTXIndexCompare::EventCompare(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) const {
    // Both keys in ANSI, zero-terminated, for the handler.
    char x[kNTXMaxKeySize + 1], y[kNTXMaxKeySize + 1];
    n = std::min(n, static_cast<std::size_t>(kNTXMaxKeySize));
    std::memcpy(x, a, n);
    std::memcpy(y, b, n);
    x[n] = y[n] = 0;
    if (StoredOem_) {
        OemToCharBuffA(x, x, n);
        OemToCharBuffA(y, y, n);
    }
    int c = 0;
    (*Event_)(Sender_, x, y, static_cast<std::uint32_t>(n), c);
    return c;
}

}  // namespace zarbel
