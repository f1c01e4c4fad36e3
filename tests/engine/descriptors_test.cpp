// The descriptor walk over well-formed and hostile table headers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/HXDBFDescriptors.h"
#include "engine/HXDBFFieldRec.h"
#include "engine/HXDBFPrx.h"

using namespace zarbel;

namespace {

std::vector<std::uint8_t> Descriptor(xBaseVersion dialect, const char* name, char type, std::uint8_t len,
                                     THXDBFType ext = dbftS1) {
    FIELD_REC r(dialect);
    r.SetName(name);
    r.SetFieldType(type);
    r.SetExtendType(ext);
    r.SetLenDec(len, 0);
    return std::vector<std::uint8_t>(r.Image(), r.Image() + r.DescriptorSize());
}

// Header + extension (VII) + the given blocks; header length patched to the result's size
// unless headerLength says otherwise.
std::vector<std::uint8_t> Table(xBaseVersion dialect, std::uint8_t version,
                                const std::vector<std::vector<std::uint8_t>>& blocks, int headerLength = -1) {
    std::vector<std::uint8_t> f(static_cast<std::size_t>(DescriptorStart(dialect)), 0);
    f[0] = version;
    for (const auto& b : blocks) f.insert(f.end(), b.begin(), b.end());
    PutLE16(&f[8], static_cast<std::uint16_t>(headerLength < 0 ? f.size() : headerLength));
    return f;
}

TProxyStream& Load(TProxyStream& p, const std::vector<std::uint8_t>& bytes) {
    p.SetProxyStreamType(pstInnerStream);
    p.CreateProxyStream();
    p.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    return p;
}

}  // namespace

TEST(Descriptors, PlainListEndsAtTheTerminator) {
    auto f = Table(xBaseIII, 0x03,
                   {Descriptor(xBaseIII, "NAME", 'C', 20), Descriptor(xBaseIII, "QTY", 'N', 5), {0x0D, 0x1A}});
    TProxyStream p;
    TDescriptorWalk w = ReadDescriptors(Load(p, f), xBaseIII, static_cast<std::uint16_t>(f.size()));
    EXPECT_TRUE(w.Terminated);
    ASSERT_EQ(w.Descriptors.size(), 2u);
    EXPECT_EQ(w.Descriptors[0].FileOffset, 32);
    EXPECT_EQ(w.Descriptors[1].FileOffset, 64);
    EXPECT_EQ(w.Descriptors[1].Bytes[11], 'N');
    EXPECT_EQ(w.EndOffset, 97);
    // A header length of 33 + 32 n (terminator as the last header byte) reads the same.
    TDescriptorWalk w2 = WalkDescriptors(f.data(), static_cast<std::int64_t>(f.size()), xBaseIII, 97);
    EXPECT_TRUE(w2.Terminated);
    EXPECT_EQ(w2.Descriptors.size(), 2u);
}

TEST(Descriptors, LongFormAfterTheSevenExtension) {
    auto f = Table(xBaseVII, 0x04, {Descriptor(xBaseVII, "A_LONGER_NAME", 'I', 4), {0x0D}});
    TDescriptorWalk w = WalkDescriptors(f.data(), static_cast<std::int64_t>(f.size()), xBaseVII,
                                        static_cast<std::uint16_t>(f.size()));
    EXPECT_TRUE(w.Terminated);
    ASSERT_EQ(w.Descriptors.size(), 1u);
    EXPECT_EQ(w.Descriptors[0].FileOffset, 68);
    EXPECT_EQ(w.Descriptors[0].Size, 48);
    EXPECT_EQ(w.Descriptors[0].Bytes[32], 'I');
}

TEST(Descriptors, NestedListsAreWalkedInPreOrder) {
    std::vector<std::uint8_t> term(32, 0xEE);
    term[0] = 0x0D;  // a nested terminator block: the other bytes are not defined
    auto f = Table(xBaseIV, 0x8B,
                   {Descriptor(xBaseIV, "ID", 'N', 5), Descriptor(xBaseIV, "ROWS", 'E', 0, dbftDBFDataSet),
                    Descriptor(xBaseIV, "SUB", 'C', 4), Descriptor(xBaseIV, "DEEP", 'E', 0, dbftDBFDataSet_NB),
                    Descriptor(xBaseIV, "X", 'L', 1), term, term, Descriptor(xBaseIV, "LAST", 'D', 8), {0x0D}});
    TDescriptorWalk w = WalkDescriptors(f.data(), static_cast<std::int64_t>(f.size()), xBaseIV,
                                        static_cast<std::uint16_t>(f.size()));
    EXPECT_TRUE(w.Terminated);
    ASSERT_EQ(w.Descriptors.size(), 6u);
    const int depths[] = {0, 0, 1, 1, 2, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(w.Descriptors[i].Depth, depths[i]) << i;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(w.Descriptors[5].Bytes.data())), "LAST");
    EXPECT_EQ(w.Descriptors[5].FileOffset, 32 + 5 * 32 + 2 * 32);
}

TEST(Descriptors, HostileHeadersNeverReadOutside) {
    auto good = Table(xBaseIII, 0x03, {Descriptor(xBaseIII, "A", 'C', 1), Descriptor(xBaseIII, "B", 'C', 1)});
    // No terminator at all: the walk stops at the end of the header.
    TDescriptorWalk w = WalkDescriptors(good.data(), static_cast<std::int64_t>(good.size()), xBaseIII,
                                        static_cast<std::uint16_t>(good.size()));
    EXPECT_FALSE(w.Terminated);
    EXPECT_EQ(w.Descriptors.size(), 2u);
    // Header length far beyond the file: stops at the end of the file.
    TProxyStream p;
    w = ReadDescriptors(Load(p, good), xBaseIII, 60000);
    EXPECT_FALSE(w.Terminated);
    EXPECT_EQ(w.Descriptors.size(), 2u);
    // Header length 0, or one that ends inside the first descriptor.
    w = ReadDescriptors(p, xBaseIII, 0);
    EXPECT_FALSE(w.Terminated);
    EXPECT_TRUE(w.Descriptors.empty());
    w = ReadDescriptors(p, xBaseIII, 40);
    EXPECT_TRUE(w.Descriptors.empty());
    // A few-byte file.
    std::vector<std::uint8_t> tiny = {0x03, 0, 0};
    TProxyStream t;
    w = ReadDescriptors(Load(t, tiny), xBaseIII, 200);
    EXPECT_TRUE(w.Descriptors.empty());
    EXPECT_FALSE(w.Terminated);
    TProxyStream e;
    w = ReadDescriptors(Load(e, {}), xBaseVII, 200);
    EXPECT_TRUE(w.Descriptors.empty());
    // A nested list that is never closed, and a truncated descriptor at the end.
    auto open = Table(xBaseIV, 0x03,
                      {Descriptor(xBaseIV, "N", 'E', 0, dbftDBFDataSet), Descriptor(xBaseIV, "C", 'C', 1), {0x0D}});
    w = WalkDescriptors(open.data(), static_cast<std::int64_t>(open.size()), xBaseIV,
                        static_cast<std::uint16_t>(open.size()));
    EXPECT_FALSE(w.Terminated);  // the 0x0D closes no full nested block
    EXPECT_EQ(w.Descriptors.size(), 2u);
    std::vector<std::uint8_t> cut(good.begin(), good.end() - 5);
    w = WalkDescriptors(cut.data(), static_cast<std::int64_t>(cut.size()), xBaseIII, 65535);
    EXPECT_EQ(w.Descriptors.size(), 1u);
    EXPECT_FALSE(w.Terminated);
}

TEST(Descriptors, HeaderReadAndEndOfFileMarkerOnClose) {
    TProxyStream p;
    p.SetProxyStreamType(pstInnerStream);
    p.CreateProxyStream();
    TDBFHeader h;
    h.SetVersion(0x30);
    EXPECT_FALSE(ReadTableHeader(p, h));  // empty: unchanged
    EXPECT_EQ(h.Version(), 0x30);
    EXPECT_TRUE(EnsureEndOfFileMarker(p));  // nothing to mark in an empty storage
    EXPECT_EQ(p.GetFileSize(), 0);

    // Header length 34, record length 10, two records and one stray byte.
    std::vector<std::uint8_t> f(34 + 2 * 10 + 1, ' ');
    f[0] = 0x03;
    PutLE16(&f[8], 34);
    PutLE16(&f[10], 10);
    p.Write(f.data(), static_cast<std::int64_t>(f.size()));
    ASSERT_TRUE(ReadTableHeader(p, h));
    EXPECT_EQ(h.Version(), 0x03);
    EXPECT_EQ(h.RecordLength(), 10);
    std::uint32_t n = 0;
    ASSERT_TRUE(RecordCountFromFileSize(p.GetFileSize(), h.HeaderLength(), h.RecordLength(), n));
    EXPECT_EQ(n, 2u);
    EXPECT_TRUE(EnsureEndOfFileMarker(p));
    EXPECT_EQ(p.GetFileSize(), 56);
    std::uint8_t last = 0;
    ASSERT_TRUE(p.ReadAt(55, &last, 1));
    EXPECT_EQ(last, kEndOfFileMarker);
    EXPECT_TRUE(EnsureEndOfFileMarker(p));  // already marked: nothing added
    EXPECT_EQ(p.GetFileSize(), 56);
}

TEST(Descriptors, ProxyDestructorClosesAFileLeftOpenUnderAnotherStorageType) {
    std::string dir = TEnv::Default().TempDirectory();
    std::string name = TEnv::Default().CreateUniqueFile(dir, "zarbel_prx_");
    ASSERT_FALSE(name.empty());
    {
        TProxyStream p;
        p.SetFileName(name);
        p.AccessMode().SetAccessMode(0x12);
        p.OpenProxyStream();
        ASSERT_TRUE(p.IsOpen());
        p.SetProxyStreamType(pstInnerStream);
    }
    TProxyStream q;  // the exclusive share lock went with the handle
    q.SetFileName(name);
    q.AccessMode().SetAccessMode(0x12);
    q.OpenProxyStream();
    EXPECT_TRUE(q.IsOpen());
    q.Close();
    std::remove(name.c_str());
}
