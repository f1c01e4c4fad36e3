// Helpers of the NTX core tests: an index file in a TMemEnv, opened through a proxy stream, a
// walk of the whole tree, and keys made from numbers.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "engine/HXDBFPrx.h"
#include "index/HXNTXTree.h"
#include "platform/mem_env.h"

namespace zarbel::ntxtest {

using Entry = std::pair<std::string, std::uint32_t>;  // key bytes, record number

// A cipher that garbles every page differently by its offset (its own inverse).
class TXorCipher final : public TDBFCipher {
public:
    bool Active() const override { return true; }
    void Encipher(std::uint32_t ctx, void* data, std::size_t size) override { Apply(ctx, data, size); }
    void Decipher(std::uint32_t ctx, void* data, std::size_t size) override { Apply(ctx, data, size); }

private:
    static void Apply(std::uint32_t ctx, void* data, std::size_t size) {
        auto* b = static_cast<std::uint8_t*>(data);
        for (std::size_t i = 0; i < size; ++i) b[i] ^= static_cast<std::uint8_t>(0x5A + ctx / 1024 * 7 + i * 13);
    }
};

// One open handle on an index file of a memory environment.
struct TOpenNtx {
    TProxyStream Stream;
    THXNTXTree Tree;
    TOpenNtx(TMemEnv& env, const std::string& name, TDBFCipher* cipher = nullptr) {
        Stream.SetEnv(env);
        Stream.SetFileName(name);
        Stream.AccessMode().SetAccessMode(TAccessMode::kOpenReadWrite | TAccessMode::kShareDenyNone);
        Stream.OpenProxyStream();
        EXPECT_TRUE(Stream.IsOpen());
        std::string why;
        Status = Tree.Open(Stream, cipher, why);
        Reason = why;
    }
    TNTXOpenStatus Status;
    std::string Reason;
};

// A new empty index named name in env, with the given key size.
inline void CreateNtx(TMemEnv& env, const std::string& name, int keySize, TDBFCipher* cipher = nullptr,
                      TCLIPPER_VERSION ver = v500) {
    env.AddDirectory("/d");
    TProxyStream s;
    s.SetEnv(env);
    s.SetFileName(name);
    s.CreateProxyStream();
    ASSERT_TRUE(s.IsOpen());
    TNTXHeader h;
    ASSERT_TRUE(h.InitNew(ver, keySize, 0, "KEYFIELD", "", false, false, "TEST"));
    ASSERT_TRUE(THXNTXTree::CreateEmpty(s, h, cipher));
}

inline std::vector<Entry> Walk(THXNTXTree& t) {
    std::vector<Entry> out;
    THXNTXCursor c;
    for (bool on = t.First(c); on; on = t.Next(c))
        out.emplace_back(std::string(reinterpret_cast<const char*>(c.Key()), t.Header().KeySize), c.RecNo());
    return out;
}

inline std::vector<Entry> WalkBack(THXNTXTree& t) {
    std::vector<Entry> out;
    THXNTXCursor c;
    for (bool on = t.Last(c); on; on = t.Prev(c))
        out.emplace_back(std::string(reinterpret_cast<const char*>(c.Key()), t.Header().KeySize), c.RecNo());
    return out;
}

// A key of width w holding n right-aligned in decimal.
inline std::string NumKey(unsigned n, int w) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%*u", w, n);
    return std::string(buf).substr(0, static_cast<std::size_t>(w));
}

inline const std::uint8_t* U(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

inline std::uint16_t Get16(const std::string& b, std::size_t at) { return NTXGet16(U(b) + at); }
inline std::uint32_t Get32(const std::string& b, std::size_t at) { return NTXGet32(U(b) + at); }

}  // namespace zarbel::ntxtest
