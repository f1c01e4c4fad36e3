// The ciphers of THXDBFCrypt: CRC-32, GOST 28147-89 block functions, key schedules, and the
// buffer transforms.
#include "engine/HXDBFGostCrypt.h"

#include "engine/HXDBFFormat.h"

namespace zarbel {

namespace {

inline std::uint32_t CrcUpdate(std::uint32_t crc, std::uint8_t b) { return kCrc32Table[(crc ^ b) & 0xFF] ^ (crc >> 8); }

inline std::uint32_t RoundF(std::uint32_t x) {
    const auto& t = kGostRoundTables;
    return t[0][x & 0xFF] | t[1][(x >> 8) & 0xFF] | t[2][(x >> 16) & 0xFF] | t[3][x >> 24];
}

inline TGostBlock Load(const std::uint8_t* p) { return {GetLE32(p), GetLE32(p + 4)}; }
inline void Store(std::uint8_t* p, TGostBlock b) {
    PutLE32(p, b.lo);
    PutLE32(p + 4, b.hi);
}

// The first n (< 8) bytes at p xored with the bytes of s.
inline void XorTail(std::uint8_t* p, std::size_t n, TGostBlock s) {
    std::uint8_t g[8];
    Store(g, s);
    for (std::size_t i = 0; i < n; ++i) p[i] ^= g[i];
}

// CRC-32 of the password bytes at the positions (counted from 1) that take() accepts, in order
// or from the last to the first.
template <class Take>
std::uint32_t CrcOfPositions(std::string_view pw, bool backwards, Take take) {
    std::uint32_t crc = 0xFFFFFFFFu;
    const std::size_t n = pw.size();
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t pos = backwards ? n - k : k + 1;
        if (take(pos)) crc = CrcUpdate(crc, static_cast<std::uint8_t>(pw[pos - 1]));
    }
    return ~crc;
}

}  // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) crc = CrcUpdate(crc, data[i]);
    return ~crc;
}

namespace {

// Subkey order of the 32 rounds: E takes K0..K7 three times then K7..K0, D the reverse.
constexpr std::uint8_t kOrderE[32] = {0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7,
                                      0, 1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 0};
constexpr std::uint8_t kOrderD[32] = {0, 1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 0,
                                      7, 6, 5, 4, 3, 2, 1, 0, 7, 6, 5, 4, 3, 2, 1, 0};

// N blocks through the 32 rounds side by side: the rounds of one block depend on each other,
// those of different blocks do not, so the processor overlaps them.
template <std::size_t N>
void Rounds(const TGostKey& k, const std::uint8_t (&order)[32], TGostBlock* x) {
    std::uint32_t n1[N], n2[N];
    for (std::size_t j = 0; j < N; ++j) {
        n1[j] = x[j].lo;
        n2[j] = x[j].hi;
    }
    for (std::size_t r = 0; r < 32; r += 2) {
        const std::uint32_t ka = k[order[r]], kb = k[order[r + 1]];
        for (std::size_t j = 0; j < N; ++j) n2[j] ^= RoundF(n1[j] + ka);
        for (std::size_t j = 0; j < N; ++j) n1[j] ^= RoundF(n2[j] + kb);
    }
    for (std::size_t j = 0; j < N; ++j) x[j] = {n2[j], n1[j]};  // halves exchanged on output
}

}  // namespace

TGostBlock GostE(const TGostKey& k, TGostBlock x) {
    Rounds<1>(k, kOrderE, &x);
    return x;
}

TGostBlock GostD(const TGostKey& k, TGostBlock x) {
    Rounds<1>(k, kOrderD, &x);
    return x;
}

TGostBlock GostStep(TGostBlock x) {
    x.lo += 0x01010101u;
    const std::uint32_t hi = x.hi + 0x01010104u;
    x.hi = hi < x.hi ? hi + 1 : hi;  // modulo 2^32 - 1: a carry out comes back in
    return x;
}

TGostBlock GostIV(std::uint32_t context) {
    const std::uint32_t c = context & 0xFF;
    return {kCrc32Table[c] ^ kCrc32Table[255 - c], kCrc32Table[c]};
}

TGostKey GostKeySchedule1(std::string_view password) {
    TGostKey k{};
    const std::uint32_t a = Crc32(password);
    TGostBlock v{a, a ^ kCrc32Table[10]};
    for (std::size_t i = 0; i < 4; ++i) {
        v = GostE(k, GostStep(v));
        k[2 * i] = v.lo;
        k[2 * i + 1] = v.hi;
    }
    return k;
}

TGostKey GostKeySchedule2(std::string_view password) {
    auto all = [](std::size_t) { return true; };
    auto even = [](std::size_t p) { return p % 2 == 0; };
    auto odd = [](std::size_t p) { return p % 2 == 1; };
    auto third = [](std::size_t p) { return p % 3 == 0; };
    auto notThird = [](std::size_t p) { return p % 3 != 0; };
    const std::uint32_t c[8] = {
        CrcOfPositions(password, false, all),  CrcOfPositions(password, true, all),
        CrcOfPositions(password, false, even), CrcOfPositions(password, false, odd),
        CrcOfPositions(password, true, even),  CrcOfPositions(password, true, odd),
        CrcOfPositions(password, false, third), CrcOfPositions(password, false, notThird),
    };
    TGostKey k{};
    TGostBlock v{c[0], c[5] ^ kCrc32Table[100]};
    v = GostE(k, GostStep(v));
    k[0] = v.lo;
    for (std::size_t i = 1; i < 8; ++i) {
        v.hi ^= c[i];
        v = GostE(k, GostStep(v));
        k[i] = v.lo;
    }
    return k;
}

TGostCrypt::TGostCrypt(std::string_view password, TSchedule schedule, bool gamma)
    : K_(schedule == ksOne ? GostKeySchedule1(password) : GostKeySchedule2(password)), Crc_(Crc32(password)) {
    if (gamma) Gamma_.resize(256 * kGammaBlocks);
}

TGostBlock TGostCrypt::Gamma(std::uint32_t c, std::size_t i, TGostBlock previous) const {
    if (i >= kGammaBlocks || Gamma_.empty()) return GostStep(GostE(K_, previous));
    TGostBlock* row = &Gamma_[c * kGammaBlocks];
    std::uint8_t& known = Known_[c];
    while (known <= i) {
        row[known] = GostStep(GostE(K_, known == 0 ? previous : row[known - 1]));
        ++known;
    }
    return row[i];
}

void TGostCrypt::Transform(std::uint32_t context, std::uint8_t* data, std::size_t size, bool encipher) const {
    constexpr std::size_t kLanes = 4;
    const std::uint32_t c = context & 0xFF;
    TGostBlock s = GostIV(c);
    TGostBlock b[kLanes], g[kLanes];
    const auto& order = encipher ? kOrderE : kOrderD;
    std::size_t i = 0, n = 0;
    while (i + 8 <= size) {
        const std::size_t lanes = (size - i) / 8 >= kLanes ? kLanes : 1;
        for (std::size_t j = 0; j < lanes; ++j) {
            s = g[j] = Gamma(c, n + j, s);
            b[j] = Load(data + i + 8 * j);
            if (!encipher) b[j] = {b[j].lo ^ g[j].lo, b[j].hi ^ g[j].hi};
        }
        if (lanes == kLanes) Rounds<kLanes>(K_, order, b);
        else Rounds<1>(K_, order, b);
        for (std::size_t j = 0; j < lanes; ++j) {
            if (encipher) b[j] = {b[j].lo ^ g[j].lo, b[j].hi ^ g[j].hi};
            Store(data + i + 8 * j, b[j]);
        }
        i += 8 * lanes;
        n += lanes;
    }
    if (i < size) XorTail(data + i, size - i, Gamma(c, n, s));
}

void TGostCrypt::Xor(std::uint32_t context, std::uint8_t* data, std::size_t size) const {
    const std::uint32_t t = kCrc32Table[context & 0xFF];
    TGostBlock l{t ^ Crc_, t};
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        TGostBlock b = Load(data + i);
        Store(data + i, {b.lo ^ l.lo, b.hi ^ l.hi});
        l = GostStep(l);
    }
    if (i < size) XorTail(data + i, size - i, l);
}

}  // namespace zarbel
