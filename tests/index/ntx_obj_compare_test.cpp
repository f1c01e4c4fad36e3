// The index's key order: the custom collation sequence, weights indexed by the CP866 byte
// whatever the table's code page, byte order over the ANSI form with the NUL stop, the
// direction, OnCompareKeys; and the page-cache limit setters.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "index/HXNTXBag.h"
#include "index/HXNTXKeyCompare.h"
#include "platform/codepage.h"
#include "platform/exception.h"

namespace zarbel {
namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

int Cmp(const THXNTXIndexCompare& c, const std::string& a, const std::string& b) {
    return Sign(c.Compare(reinterpret_cast<const std::uint8_t*>(a.data()), reinterpret_cast<const std::uint8_t*>(b.data()),
                          std::min(a.size(), b.size())));
}

TEST(NtxCollation, CustomSequence) {
    // "1;0;" swaps the weights of bytes 0 and 1 and leaves the rest as identity
    TCollationWeights w = THXCollation::ParseSequence("1;0;");
    EXPECT_EQ(w[0], 1);
    EXPECT_EQ(w[1], 0);
    for (int i = 2; i < 256; ++i) ASSERT_EQ(w[static_cast<std::size_t>(i)], i);
    // a piece that is not a number keeps that byte's weight; a last number without ";" counts
    // for nothing
    w = THXCollation::ParseSequence("9;x;;300;7");
    EXPECT_EQ(w[0], 9);
    EXPECT_EQ(w[1], 1);
    EXPECT_EQ(w[2], 2);
    EXPECT_EQ(w[3], 3);
    EXPECT_EQ(w[4], 4);
    // the initial sequence is the identity, and cltNone has no table
    THXCollation c;
    EXPECT_EQ(THXCollation::ParseSequence(c.CustomCollatingSequence()), THXCollation::ParseSequence(""));
    EXPECT_FALSE(c.Weights(w));
    c.SetCollationType(static_cast<THXCollationTypes>(20));  // out of range: compares as bytes
    EXPECT_FALSE(c.Weights(w));
    c.SetCollationType(cltCustom);
    EXPECT_TRUE(c.Weights(w));
}

// A random permutation as weights: the same caller keys order the same way in an OEM file
// (weighed as stored) and in an ANSI file (weighed through the CP866 form), and the order is
// the one the weights give the CP866 bytes.
TEST(NtxCollation, WeightsAreIndexedByTheOemByteForBothCodePages) {
    std::mt19937 rng(7);
    TCollationWeights w;
    for (int i = 0; i < 256; ++i) w[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    std::shuffle(w.begin(), w.end(), rng);
    THXNTXIndexCompare oem, ansi;
    oem.Setup(true, &w, false);
    ansi.Setup(false, &w, false);
    std::string a(1, '\0'), b(1, '\0');
    for (int x = 0; x < 256; ++x)
        for (int y = 0; y < 256; ++y) {
            a[0] = static_cast<char>(x);
            b[0] = static_cast<char>(y);
            std::string sa, sb, oa, ob;
            oem.Prepare(a, oa);  // caller's ANSI key -> the OEM file's stored form
            oem.Prepare(b, ob);
            const int inOem = Cmp(oem, oa, ob);
            const int inAnsi = Cmp(ansi, a, b);
            const std::string ca = AnsiToOem(a), cb = AnsiToOem(b);
            const int want = Sign(int(w[static_cast<unsigned char>(ca[0])]) - int(w[static_cast<unsigned char>(cb[0])]));
            ASSERT_EQ(inOem, want) << x << " " << y;
            ASSERT_EQ(inAnsi, want) << x << " " << y;
        }
}

TEST(NtxCollation, BytesCompareInAnsiUpToTheFirstNul) {
    THXNTXIndexCompare ansi, oem;
    ansi.Setup(false, nullptr, false);
    oem.Setup(true, nullptr, false);
    EXPECT_LT(Cmp(ansi, std::string("AB\0Z", 4), "ABC "), 0);  // a key sorts before a longer one it begins
    EXPECT_EQ(Cmp(ansi, std::string("AB\0Z", 4), std::string("AB\0A", 4)), 0);
    // stored CP866 keys order by their ANSI bytes: capital IO (CP1251 0xA8) before capital A
    // (0xC0), although in CP866 it is 0xF0 and A is 0x80
    std::string io, a;
    oem.Prepare("\xA8", io);
    oem.Prepare("\xC0", a);
    EXPECT_EQ(static_cast<unsigned char>(io[0]), 0xF0);
    EXPECT_LT(Cmp(oem, io, a), 0);
    std::string back;
    oem.ToAnsi(io, back);
    EXPECT_EQ(back, "\xA8");
}

TEST(NtxCollation, DescendingAndTheCompareEvent) {
    THXNTXIndexCompare c;
    c.Setup(false, nullptr, true);
    EXPECT_GT(Cmp(c, "A", "B"), 0);
    EXPECT_LT(c.Raw(reinterpret_cast<const std::uint8_t*>("A"), reinterpret_cast<const std::uint8_t*>("B"), 1), 0);
    // the handler decides, and is handed ANSI text of MaxLen bytes
    c.Setup(true, nullptr, false);
    std::string seen;
    TOnCompareKeys ev = [&](THXNTXIndex*, const char* cur, const char* item, std::uint32_t n, int& r) {
        seen = std::string(cur, n) + "|" + std::string(item, n);
        r = -5;
    };
    c.SetEvent(nullptr, &ev);
    std::string k;
    c.Prepare("\xC0\xC1", k);  // stored as CP866
    EXPECT_LT(Cmp(c, k, k), 0);
    EXPECT_EQ(seen, "\xC0\xC1|\xC0\xC1");
}

TEST(NtxLimits, SettersRefuseOutOfRangeValues) {
    THXLimitIndexPages l;
    EXPECT_THROW(l.SetPagesPerBuffer(0), Exception);
    EXPECT_THROW(l.SetPagesPerBuffer(511), Exception);
    l.SetPagesPerBuffer(510);
    EXPECT_EQ(l.PagesPerBuffer(), 510);
    EXPECT_THROW(l.SetLimitPagesType(lbtLimited), Exception);  // LimitBuffers is still 0
    l.SetLimitBuffers(2);
    l.SetLimitPagesType(lbtLimited);
    EXPECT_THROW(l.SetLimitBuffers(0), Exception);
    EXPECT_EQ(l.LimitBuffers(), 2);
}

}  // namespace
}  // namespace zarbel
