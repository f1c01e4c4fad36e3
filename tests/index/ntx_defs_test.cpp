// Index definitions, bags and orders on the create side, the built-in collations on real
// files, choosing an index for a field list, ranges by field values, and the properties that
// act while the index is open.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "index/HXCollationTables.h"
#include "index/HXDBFIndexDefs.h"
#include "index/HXDBFNTX.h"
#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/variant.h"
#include "testutil/corpus.h"
#include "testutil/ntx_corpus.h"
#include "testutil/platform_helpers.h"
#include "testutil/temp_dir.h"

namespace zarbel {
namespace {

namespace fs = std::filesystem;
using testutil::CorpusDir;

using testutil::Message;

TEST(NtxDefsCollation, BuiltinTablesArePermutationsAndClipperRussianKeepsItsRows) {
    for (int t = cltClipper501Rus; t <= cltHungarian852Collation; ++t) {
        THXCollation c;
        c.SetCollationType(static_cast<THXCollationTypes>(t));
        TCollationWeights w{};
        ASSERT_TRUE(c.Weights(w)) << t;
        EXPECT_EQ(w[0], 0) << t;
        TCollationWeights sorted = w;
        std::sort(sorted.begin(), sorted.end());
        for (int i = 0; i < 256; ++i) ASSERT_EQ(sorted[static_cast<std::size_t>(i)], i) << "type " << t;
    }
    // a custom sequence: numbers after the 256th are ignored, one above 255 keeps the weight
    std::string seq = "300;";
    for (int i = 1; i < 256; ++i) seq += "9;";
    const TCollationWeights custom = THXCollation::ParseSequence(seq + "1;2;");
    EXPECT_EQ(custom[0], 0);
    EXPECT_EQ(custom[1], 9);
    EXPECT_EQ(custom[255], 9);
    THXCollation rus;
    rus.SetCollationType(cltClipper501Rus);
    TCollationWeights w{};
    rus.Weights(w);
    for (int b = 0; b < 48; ++b) EXPECT_EQ(w[static_cast<std::size_t>(b)], b);
    for (int d = 0; d < 10; ++d) EXPECT_EQ(w['0' + d], 180 + d);
    for (int l = 0; l < 26; ++l) {
        EXPECT_EQ(w['A' + l], 56 + l);
        EXPECT_EQ(w['a' + l], 82 + l);
    }
    EXPECT_EQ(w[128], 108);  // CP866 capital A
    EXPECT_EQ(w[133], 113);  // capital IE
    EXPECT_EQ(w[240], 114);  // capital IO between IE and ZHE
    EXPECT_EQ(w[134], 115);
    EXPECT_LT(w[0xAF], w[0xE0]);  // small PE before small ER across the code page's gap
    EXPECT_LT(w[0xEF], w['0']);   // every letter before the digits
    // the German table puts the umlauts after their letters: A, Ä (CP437 0x8E), B
    THXCollation de;
    de.SetCollationType(cltGermanCollation);
    de.Weights(w);
    EXPECT_EQ(w[0x8E], w['A'] + 1);
    EXPECT_EQ(w['B'], w[0x8E] + 2);  // ANSI Ä (0xC4) in between, as Visual Objects has it
}

// Visual Objects' German collation ordered test1Oem1.ntx (byte n repeated in record n): under
// cltGermanCollation the file walks, seeks and verifies as written.
TEST(NtxDefsCollation, GermanTableOrdersTheFileVisualObjectsWrote) {
    const std::string ntx = "xsharp/VO/German/test1Oem1.ntx";
    if (!fs::exists(CorpusDir() / ntx)) GTEST_SKIP() << "corpus not found at " << CorpusDir();
    const auto expected = testutil::Expected(ntx);
    ASSERT_EQ(expected.size(), 255u);
    THXDBFNTX t;
    t.SetDBFFileName((CorpusDir() / "xsharp/VO/German/TEST1OEM.DBF").string());
    t.SetOEM(true);
    t.AccessMode().SetAccessMode(0);
    THXNTXIndex& ix = t.Indexes().Add();
    ix.SetNTXFileName((CorpusDir() / ntx).string());
    ix.SetCollationType(cltGermanCollation);
    t.Open();
    ix.SetActive(true);
    std::vector<testutil::TEntry> walk;
    for (bool on = ix.First(); on; on = ix.Next()) walk.push_back({ix.CurrentRecNo(), testutil::Hex(ix.CurrentKey())});
    EXPECT_EQ(walk, expected);
    std::vector<std::uint32_t> recs, want;
    for (t.First(); !t.Eof(); t.Next()) recs.push_back(static_cast<std::uint32_t>(t.RecNo()));
    for (const auto& e : expected) want.push_back(e.RecNo);
    EXPECT_EQ(recs, want);
    for (const auto& e : expected) {
        ASSERT_TRUE(ix.Seek(OemToAnsi(testutil::Unhex(e.KeyHex)), false)) << e.KeyHex;
        EXPECT_EQ(ix.CurrentRecNo(), e.RecNo);
    }
    EXPECT_TRUE(ix.VerifyIndex().empty());
    EXPECT_EQ(ix.VerifiedKeys(), 255u);
}

// Custname.ntx (lastname + firstname): the index is chosen by its fields and the range is built
// from values, strings unpadded ("ByrneMaria", as the range test takes a record's key).
TEST(NtxDefsChoice, RangeByFieldValues) {
    if (!fs::exists(CorpusDir() / "xsharp/Explorer/Custname.ntx")) GTEST_SKIP() << "corpus not found";
    THXDBFNTX t;
    t.SetDBFFileName((CorpusDir() / "xsharp/Explorer/Customer.dbf").string());
    t.AccessMode().SetAccessMode(0);
    THXNTXIndex& num = t.Indexes().Add();
    num.SetNTXFileName((CorpusDir() / "xsharp/Explorer/Custnum.ntx").string());
    THXNTXIndex& name = t.Indexes().Add();
    name.SetNTXFileName((CorpusDir() / "xsharp/Explorer/Custname.ntx").string());
    t.Open();
    auto walk = [&] {
        std::vector<int> r;
        for (t.First(); !t.Eof(); t.Next()) r.push_back(t.RecNo());
        return r;
    };
    EXPECT_EQ(&t.Indexes().IndexForFields("lastname ; FIRSTNAME"), &name);
    EXPECT_EQ(&t.Indexes().IndexForFields("CUSTNUM"), &num);
    t.SetRangeFields("LASTNAME;FIRSTNAME", TVariant::ArrayOf({TVariant("Byrne"), TVariant("Maria")}));
    EXPECT_TRUE(name.Active());
    EXPECT_EQ(name.NTXRange().LoKey(), "ByrneMaria");
    EXPECT_EQ(walk(), std::vector<int>{2});
    t.SetRangeFields("LASTNAME;FIRSTNAME", TVariant::ArrayOf({TVariant("Baker"), TVariant("")}),
                     TVariant::ArrayOf({TVariant("Byrne"), TVariant("")}));
    EXPECT_EQ(walk(), (std::vector<int>{6, 2}));
    // a field no key starts with, or a list only partly covered
    const std::string none = "THXSmartDBF: There is no suitable index!";
    EXPECT_EQ(Message([&] { t.Indexes().IndexForFields("FIRSTNAME"); }), none);
    EXPECT_EQ(Message([&] { t.Indexes().IndexForFields("CUSTNUM;LASTNAME"); }), none);
    EXPECT_EQ(Message([&] { t.Indexes().IndexForFields(""); }), none);
}

void AddField(THXDBFNTX& t, const char* name, int len) {
    THXDBFFieldDef& d = t.DBFFieldDefs().Add();
    d.SetName(name);
    d.Setfield_type('C');
    d.Setlen(static_cast<std::uint16_t>(len));
}

THXNTXBag& AddBag(THXDBFNTX& t, const std::string& file, const std::string& key) {
    THXNTXBag& bag = t.DBFIndexDefs().Add();
    bag.SetIndexFileName(file);
    bag.AddOrder().SetKeyExpresion(key);
    return bag;
}

// CreateTable creates the index file of every bag; the files open as indexes of the table; the
// field list NAME;CITY picks NAME+CITY even when CITY+NAME comes first; Order while open.
TEST(NtxDefsCreate, CreateTableCreatesEveryBagAndTheyOpen) {
    testutil::TempDir dir;
    THXDBFNTX t;
    t.SetDBFFileName(dir.File("people.dbf"));
    AddField(t, "NAME", 10);
    AddField(t, "CITY", 12);
    AddField(t, "PHONE", 8);
    AddBag(t, dir.File("cn.ntx"), "CITY+NAME");
    THXNTXBag& nc = AddBag(t, dir.File("nc.ntx"), "NAME+CITY");
    nc.Order().SetUnique(true);
    nc.Order().SetClipperVer(v520);
    t.CreateTable();
    EXPECT_FALSE(t.Active());
    for (const char* f : {"cn.ntx", "nc.ntx"}) {
        ASSERT_TRUE(fs::exists(dir.File(f))) << f;
        EXPECT_EQ(fs::file_size(dir.File(f)), 2048u) << f;
    }
    const std::string raw = testutil::ReadFile(dir.File("nc.ntx"));
    TNTXHeader h;
    h.Parse(reinterpret_cast<const std::uint8_t*>(raw.data()));
    EXPECT_EQ(h.Signature, 7);  // v520
    EXPECT_EQ(h.KeySize, 22);
    EXPECT_EQ(h.KeyExpression(), "NAME+CITY");
    EXPECT_EQ(h.Unique, 1);
    EXPECT_EQ(h.OrderNameText(), "nc");
    EXPECT_EQ(nc.Order().Name(), "nc");  // named after the file

    THXDBFNTX u;
    u.SetDBFFileName(dir.File("people.dbf"));
    u.AccessMode().SetAccessMode(TAccessMode::kOpenReadWrite | TAccessMode::kShareExclusive);
    THXNTXIndex& cn = u.Indexes().Add();
    cn.SetNTXFileName(dir.File("cn.ntx"));
    THXNTXIndex& ncx = u.Indexes().Add();
    ncx.SetNTXFileName(dir.File("nc.ntx"));
    u.Open();
    EXPECT_TRUE(cn.IsOpen());
    EXPECT_TRUE(ncx.IsOpen());
    EXPECT_EQ(ncx.KeySize(), 22);
    EXPECT_TRUE(ncx.Unique());
    EXPECT_TRUE(cn.VerifyIndex().empty());
    EXPECT_EQ(&u.Indexes().IndexForFields("NAME;CITY"), &ncx);
    EXPECT_EQ(&u.Indexes().IndexForFields("CITY;NAME"), &cn);
    EXPECT_EQ(&u.Indexes().IndexForFields("NAME"), &ncx);
    EXPECT_EQ(Message([&] { u.Indexes().IndexForFields("PHONE"); }), "THXSmartDBF: There is no suitable index!");
    // records go into both indexes; one index is active at a time and the table stays on its
    // record when the active index changes
    for (const auto& [name, city] : {std::pair{"Smith", "Berlin"}, {"Adams", "Paris"}, {"Jones", "Athens"}}) {
        u.Append();
        u.FieldByName("NAME").SetAsString(name);
        u.FieldByName("CITY").SetAsString(city);
        u.Post();
    }
    auto walk = [&] {
        std::vector<int> r;
        for (u.First(); !u.Eof(); u.Next()) r.push_back(u.RecNo());
        return r;
    };
    u.SetRecNo(1);
    cn.SetActive(true);  // by city: Athens 3, Berlin 1, Paris 2
    EXPECT_EQ(u.RecNo(), 1);
    EXPECT_EQ(walk(), (std::vector<int>{3, 1, 2}));
    u.SetRecNo(1);
    ncx.SetActive(true);  // by name: Adams 2, Jones 3, Smith 1
    EXPECT_FALSE(cn.Active());
    EXPECT_EQ(u.IndexName(), "nc");
    EXPECT_EQ(u.RecNo(), 1);
    EXPECT_EQ(walk(), (std::vector<int>{2, 3, 1}));
    ncx.SetActive(false);
    EXPECT_EQ(u.IndexName(), "");
    u.SetRangeFields("NAME;CITY", TVariant::ArrayOf({TVariant("Jones"), TVariant("Athens")}));
    EXPECT_TRUE(ncx.Active());
    EXPECT_EQ(walk(), std::vector<int>{3});
    ncx.NTXRange().SetActive(false);
    EXPECT_TRUE(ncx.VerifyIndex().empty());
    EXPECT_TRUE(cn.VerifyIndex().empty());
    // the order name while open is the header's; setting it renames the index
    EXPECT_EQ(cn.Order(), "cn");
    cn.SetOrder("bycity");
    EXPECT_EQ(cn.Name(), "bycity");
    u.SetIndexName("BYCITY");
    EXPECT_TRUE(cn.Active());
    u.Close();
    const std::string again = testutil::ReadFile(dir.File("cn.ntx"));
    h.Parse(reinterpret_cast<const std::uint8_t*>(again.data()));
    EXPECT_EQ(h.OrderNameText(), "bycity");
    EXPECT_EQ(cn.Order(), "bycity");  // kept while closed
}

TEST(NtxDefsProps, NamesKindsAndLoading) {
    THXDBFNTX t;
    THXNTXBag& bag = t.DBFIndexDefs().Add();
    bag.SetIndexFileName("C:\\DATA\\CUST.NTX");
    EXPECT_EQ(bag.Name(), "CUST");
    bag.SetIndexFileName("C:\\DATA\\OTHER.NTX");  // renamed once: the name stays
    EXPECT_EQ(bag.Name(), "CUST");
    EXPECT_EQ(IndexKindOfClass("THXCDXBag"), ikCDX);
    EXPECT_EQ(IndexKindOfClass("THXMDXIndex"), ikMDX);
    EXPECT_EQ(IndexKindOfClass("THXNDXIndex"), ikNDX);
    EXPECT_EQ(IndexKindOfClass("TSomethingElse"), ikUnknown);
    EXPECT_FALSE(THXCDXIndex().Open());

    THXNTXIndex& a = t.Indexes().Add();
    a.SetNTXFileName("/x/y/Alpha.Old.ntx");
    EXPECT_EQ(a.Name(), "Alpha");  // cut at the first "."
    THXNTXIndex& b = t.Indexes().Add();
    b.SetNTXFileName("beta.ntx");
    // while loading the name is only kept; Loaded activates it
    t.BeginLoading();
    t.SetIndexName("BETA");
    EXPECT_EQ(t.IndexName(), "BETA");
    EXPECT_FALSE(b.Active());
    t.Loaded();
    EXPECT_TRUE(b.Active());
    a.SetActive(true);  // one index active at a time
    EXPECT_FALSE(b.Active());
    t.SetIndexName("");  // no match: nothing changes
    EXPECT_TRUE(a.Active());
}

}  // namespace
}  // namespace zarbel
