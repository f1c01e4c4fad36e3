// Known answers from an independent implementation: libgcrypt's GOST 28147-89 (a test-only
// dependency; the engine does not link it). Its default substitution boxes are GOST R 34.11-94's
// test parameter set, the one the engine uses; the block functions E and D, the key schedules
// and the enciphering of whole buffers are recomputed here with libgcrypt's E.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "engine/HXDBFCrypt.h"
#include "engine/HXDBFFormat.h"
#include "engine/HXDBFGostCrypt.h"

#if ZARBEL_HAVE_GCRYPT
#include <gcrypt.h>
#endif

namespace zarbel {
namespace {

#if ZARBEL_HAVE_GCRYPT

// libgcrypt's ECB over one block; sbox: null for its default set, else the set's OID.
struct TGcryGost {
    gcry_cipher_hd_t h = nullptr;
    explicit TGcryGost(const TGostKey& k, const char* sbox = nullptr) {
        gcry_check_version(nullptr);
        EXPECT_EQ(gcry_cipher_open(&h, GCRY_CIPHER_GOST28147, GCRY_CIPHER_MODE_ECB, 0), 0u);
        if (sbox) {
            EXPECT_EQ(gcry_cipher_ctl(h, GCRYCTL_SET_SBOX, const_cast<char*>(sbox), 0), 0u);
        }
        std::uint8_t key[32];
        for (int i = 0; i < 8; ++i) PutLE32(key + 4 * i, k[static_cast<std::size_t>(i)]);
        EXPECT_EQ(gcry_cipher_setkey(h, key, sizeof key), 0u);
    }
    ~TGcryGost() { gcry_cipher_close(h); }
    TGostBlock Run(TGostBlock x, bool encrypt) {
        std::uint8_t b[8];
        PutLE32(b, x.lo);
        PutLE32(b + 4, x.hi);
        if (encrypt) gcry_cipher_encrypt(h, b, 8, nullptr, 0);
        else gcry_cipher_decrypt(h, b, 8, nullptr, 0);
        return {GetLE32(b), GetLE32(b + 4)};
    }
};

TGostBlock E(const TGostKey& k, TGostBlock x) { return TGcryGost(k).Run(x, true); }

// The schedules' steps, with libgcrypt's E.
TGostKey Schedule1(const std::string& pw) {
    TGostKey k{};
    const std::uint32_t a = Crc32(pw);
    TGostBlock v{a, a ^ kCrc32Table[10]};
    for (int i = 0; i < 4; ++i) {
        v = E(k, GostStep(v));
        k[static_cast<std::size_t>(2 * i)] = v.lo;
        k[static_cast<std::size_t>(2 * i + 1)] = v.hi;
    }
    return k;
}

TGostKey Schedule2(const std::string& pw) {
    std::string s[8];
    const std::size_t n = pw.size();
    for (std::size_t p = 1; p <= n; ++p) {
        const char ch = pw[p - 1], back = pw[n - p];
        const std::size_t q = n - p + 1;  // position of back
        s[0] += ch;
        s[1] += back;
        s[p % 2 == 0 ? 2 : 3] += ch;
        s[q % 2 == 0 ? 4 : 5] += back;
        s[p % 3 == 0 ? 6 : 7] += ch;
    }
    TGostKey k{};
    TGostBlock v{Crc32(s[0]), Crc32(s[5]) ^ kCrc32Table[100]};
    v = E(k, GostStep(v));
    k[0] = v.lo;
    for (std::size_t i = 1; i < 8; ++i) {
        v.hi ^= Crc32(s[i]);
        v = E(k, GostStep(v));
        k[i] = v.lo;
    }
    return k;
}

std::string Encipher(const TGostKey& k, std::uint32_t ctx, std::string data) {
    TGcryGost g(k);
    TGostBlock s = GostIV(ctx);
    std::size_t i = 0;
    auto* p = reinterpret_cast<std::uint8_t*>(data.data());
    for (; i + 8 <= data.size(); i += 8) {
        s = GostStep(g.Run(s, true));
        const TGostBlock b = g.Run({GetLE32(p + i), GetLE32(p + i + 4)}, true);
        PutLE32(p + i, b.lo ^ s.lo);
        PutLE32(p + i + 4, b.hi ^ s.hi);
    }
    if (i < data.size()) {
        s = GostStep(g.Run(s, true));
        std::uint8_t gamma[8];
        PutLE32(gamma, s.lo);
        PutLE32(gamma + 4, s.hi);
        for (std::size_t j = 0; i + j < data.size(); ++j) p[i + j] ^= gamma[j];
    }
    return data;
}

TEST(GostOracle, BlockFunctionsMatchLibgcryptWhoseDefaultBoxesAreTheTestSet) {
    std::mt19937 rng(2811);
    for (int round = 0; round < 50; ++round) {
        TGostKey k;
        for (auto& w : k) w = static_cast<std::uint32_t>(rng());
        const TGostBlock x{static_cast<std::uint32_t>(rng()), static_cast<std::uint32_t>(rng())};
        TGcryGost byDefault(k), byOid(k, "1.2.643.2.2.30.0");
        const TGostBlock e = byDefault.Run(x, true);
        EXPECT_EQ(byOid.Run(x, true), e);
        EXPECT_EQ(GostE(k, x), e) << round;
        EXPECT_EQ(GostD(k, e), x) << round;
        EXPECT_EQ(GostD(k, x), byDefault.Run(x, false)) << round;
    }
    // and a set libgcrypt knows that is not the test set gives other blocks
    TGostKey k{1, 2, 3, 4, 5, 6, 7, 8};
    TGcryGost cryptoProA(k, "1.2.643.2.2.31.1");
    EXPECT_NE(cryptoProA.Run({1, 2}, true), GostE(k, {1, 2}));
}

TEST(GostOracle, KeySchedulesAndBufferEnciphermentMatchTheStepsWithLibgcrypt) {
    for (const std::string pw : {"", "a", "Secret42x", "\xCA\xEB\xFE\xF7" "7", "a much longer password of 37 bytes.."}) {
        EXPECT_EQ(GostKeySchedule1(pw), Schedule1(pw)) << pw;
        EXPECT_EQ(GostKeySchedule2(pw), Schedule2(pw)) << pw;
    }
    std::string text;
    for (int i = 0; i < 12; ++i) text += "Records, memo entries and index pages: 0123456789ABCDEF";
    for (TCryptMethod m : {cmGost, cmGost1}) {
        THXDBFCrypt c;
        c.SetCryptMethod(m);
        c.SetPassword("Secret42x");
        c.SetActive(true);
        const TGostKey k = m == cmGost ? Schedule1("Secret42x") : Schedule2("Secret42x");
        for (std::uint32_t ctx : {0u, 1u, 255u, 257u, 1024u, 0xFFFFFFFFu})
            // past 512 bytes the gammas are no longer kept: both sides of that, twice each
            for (std::size_t n : {1u, 3u, 7u, 8u, 9u, 16u, 23u, 55u, 509u, 515u, 655u, 16u, 655u}) {
                std::string got = text.substr(0, n);
                c.Encrypt(ctx, got.data(), got.size());
                EXPECT_EQ(got, Encipher(k, ctx, text.substr(0, n))) << m << " " << ctx << " " << n;
            }
    }
}

#else

TEST(GostOracle, NeedsLibgcrypt) {
    GTEST_SKIP() << "libgcrypt's development package (libgcrypt20-dev) is not installed: the GOST known answers "
                    "from an independent implementation are not checked";
}

#endif

}  // namespace
}  // namespace zarbel
