// The ciphers of THXDBFCrypt: the CRC-32 table, GOST 28147-89 in simple-replacement mode (the
// block functions E and D), the two key schedules derived from a password, the GOST
// encipherment of a buffer of any length in the table's feedback arrangement, and the XOR
// keystream.
//
// A 64-bit value is two 32-bit words: lo holds bytes 0..3 of a buffer, hi bytes 4..7, each
// little-endian. Only the low 8 bits of a context select the starting state, so records 1 and
// 257 start alike and every index page (offsets are multiples of 1024) starts like context 0.
// These ciphers give file-format compatibility with tables written elsewhere, not secrecy.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zarbel {

// ---- CRC-32 (reflected polynomial 0xEDB88320) ----
inline constexpr std::array<std::uint32_t, 256> kCrc32Table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}();
// Initial value 0xFFFFFFFF, final complement (0 for no bytes).
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size);
inline std::uint32_t Crc32(std::string_view bytes) {
    return Crc32(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// ---- GOST 28147-89 ----
// The substitution boxes: GOST R 34.11-94's test parameter set (OID 1.2.643.2.2.30.0). Row i is
// box i + 1; entries for inputs 0..15.
inline constexpr std::uint8_t kGostSBox[8][16] = {
    {4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
    {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
    {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
    {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
    {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
    {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
    {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
    {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12},
};
// The round function's lookup: table j maps byte j of the round input through boxes 2j+1
// (low nibble) and 2j+2 (high nibble), placed at bits 8j.. and rotated left by 11 bits, so
// f(x) = T0[x & 255] | T1[x >> 8 & 255] | T2[x >> 16 & 255] | T3[x >> 24].
inline constexpr std::array<std::array<std::uint32_t, 256>, 4> kGostRoundTables = [] {
    std::array<std::array<std::uint32_t, 256>, 4> t{};
    for (int j = 0; j < 4; ++j)
        for (std::uint32_t x = 0; x < 256; ++x) {
            std::uint32_t v = (static_cast<std::uint32_t>(kGostSBox[2 * j][x & 15]) |
                               static_cast<std::uint32_t>(kGostSBox[2 * j + 1][x >> 4]) << 4)
                              << (8 * j);
            t[static_cast<std::size_t>(j)][x] = (v << 11) | (v >> 21);
        }
    return t;
}();

struct TGostBlock {
    std::uint32_t lo = 0;
    std::uint32_t hi = 0;
    bool operator==(const TGostBlock&) const = default;
};
using TGostKey = std::array<std::uint32_t, 8>;

// Simple-replacement encipherment / decipherment of one block under key K0..K7 (32 rounds,
// K0..K7 three times then K7..K0 for E; the halves exchanged on output).
TGostBlock GostE(const TGostKey& k, TGostBlock x);
TGostBlock GostD(const TGostKey& k, TGostBlock x);
// The gamma step: lo + 0x01010101 modulo 2^32, hi + 0x01010104 modulo 2^32 - 1.
TGostBlock GostStep(TGostBlock x);
// The starting state for a context: (T[c] xor T[255 - c], T[c]) with c its low byte.
TGostBlock GostIV(std::uint32_t context);

// Key schedule 1 (the XOR and GOST methods) and key schedule 2 (GOST1) of a password's bytes.
TGostKey GostKeySchedule1(std::string_view password);
TGostKey GostKeySchedule2(std::string_view password);

// The cipher context: a key built from a password by one of the schedules, and the password's
// CRC for the XOR keystream. Built once at activation; the transforms use nothing else.
class TGostCrypt {
public:
    enum TSchedule { ksOne, ksTwo };
    // gamma: GOST will be used (the gamma store is made); the XOR keystream needs none.
    TGostCrypt(std::string_view password, TSchedule schedule, bool gamma = true);

    const TGostKey& Key() const { return K_; }
    std::uint32_t PasswordCrc() const { return Crc_; }

    // GOST: every whole 8-byte block B becomes E(B) xor S, with S stepped on from the
    // context's starting state through E and the gamma step; a tail of 1..7 bytes is xored
    // with the next S. Decipher is the inverse.
    void Encipher(std::uint32_t context, std::uint8_t* data, std::size_t size) const {
        Transform(context, data, size, true);
    }
    void Decipher(std::uint32_t context, std::uint8_t* data, std::size_t size) const {
        Transform(context, data, size, false);
    }
    // XOR keystream (its own inverse): byte j xored with byte j mod 8 of
    // L = (T[c] xor CRC(password), T[c]), L stepped after every eighth byte.
    void Xor(std::uint32_t context, std::uint8_t* data, std::size_t size) const;

private:
    TGostKey K_{};
    std::uint32_t Crc_ = 0;
    // The gamma depends only on the key, the context's low byte and the block's place, so the
    // first kGammaBlocks gammas of each of the 256 starting states are kept once worked out:
    // a record then costs one block encipherment a block instead of two.
    static constexpr std::size_t kGammaBlocks = 64;
    mutable std::vector<TGostBlock> Gamma_;          // 256 x kGammaBlocks (GOST only)
    mutable std::array<std::uint8_t, 256> Known_{};  // gammas worked out per starting state
    // The gamma of whole block i (from 0) of context c, given the gamma of block i - 1 (or
    // the starting state for block 0).
    TGostBlock Gamma(std::uint32_t c, std::size_t i, TGostBlock previous) const;
    void Transform(std::uint32_t context, std::uint8_t* data, std::size_t size, bool encipher) const;
};

}  // namespace zarbel
