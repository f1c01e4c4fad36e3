// The corpus's 13 NTX files, written by Clipper and CA-Visual Objects, opened with their tables
// through the index object: the walk equals expected/*.ntx.json, every distinct key is found
// at its smallest record number, the table walked through the active index (both ways, in
// small read blocks) visits the records in that order, VerifyIndex passes, Perl's XBase::Index
// (an independent reader) walks the same order.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include "index/HXDBFNTX.h"
#include "ntx_wiring_util.h"
#include "platform/codepage.h"
#include "platform/exception.h"
#include "testutil/corpus.h"
#include "testutil/ntx_corpus.h"
#include "testutil/platform_helpers.h"
#include "testutil/temp_dir.h"

namespace zarbel {
namespace {

namespace fs = std::filesystem;
using namespace testutil;

// The cltCustom sequence that a file's own order stands for: each of its keys is one byte
// repeated, so the walk ranks the bytes. The weight table is indexed by the CP866 byte, so an
// ANSI file's bytes are ranked through their CP866 form.
std::string SequenceFromOrder(const std::vector<TEntry>& walk, bool oemTable) {
    TCollationWeights w{};
    std::vector<bool> used(256, false);
    int rank = 1;
    for (const TEntry& e : walk) {
        char b = Unhex(e.KeyHex.substr(0, 2))[0];
        if (!oemTable) CharToOemBuffA(&b, &b, 1);
        const auto u = static_cast<unsigned char>(b);
        if (!used[u]) {
            used[u] = true;
            w[u] = static_cast<std::uint8_t>(rank++);
        }
    }
    return THXCollation::SequenceOf(w);
}

class NtxCorpus : public ::testing::TestWithParam<TCorpusNtx> {
protected:
    void SetUp() override {
        if (!fs::exists(testutil::CorpusDir() / "expected")) GTEST_SKIP() << "corpus not found at " << testutil::CorpusDir();
    }
    // Opens the table read-only with the index active; small read blocks (5 records) so that
    // walking the table refills through the index again and again.
    THXNTXIndex& OpenWith(THXDBFNTX& t, const TCorpusNtx& f, const std::vector<TEntry>* orderFrom = nullptr) {
        t.SetDBFFileName((testutil::CorpusDir() / f.Table).string());
        t.SetOEM(f.Oem);
        t.AccessMode().SetAccessMode(0);
        THXNTXIndex& ix = t.Indexes().Add();
        ix.SetNTXFileName((testutil::CorpusDir() / f.Ntx).string());
        if (orderFrom) {
            ix.Collation().SetCustomCollatingSequence(SequenceFromOrder(*orderFrom, f.Oem));
            ix.SetCollationType(cltCustom);
        }
        t.Open();
        t.SetBufferSize(t.RecordLength() * 5);
        t.Close();
        t.Open();
        ix.SetActive(true);
        return ix;
    }
};

TEST_P(NtxCorpus, WalkSeekTableOrderAndVerify) {
    const TCorpusNtx& f = GetParam();
    const std::vector<TEntry> expected = Expected(f.Ntx);
    ASSERT_FALSE(expected.empty());
    THXDBFNTX t;
    THXNTXIndex& ix = OpenWith(t, f, GermanCollated(f.Ntx) ? &expected : nullptr);
    EXPECT_EQ(ix.Name(), NTXFileStem(f.Ntx));
    EXPECT_EQ(t.IndexName(), ix.Name());

    // the index's own walk, both ways
    std::vector<TEntry> walk, back;
    for (bool on = ix.First(); on; on = ix.Next()) walk.push_back({ix.CurrentRecNo(), Hex(ix.CurrentKey())});
    for (bool on = ix.Last(); on; on = ix.Prior()) back.push_back({ix.CurrentRecNo(), Hex(ix.CurrentKey())});
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(walk, expected);
    EXPECT_EQ(back, expected);

    // every distinct key at its smallest record number (keys handed over as ANSI text)
    std::map<std::string, std::uint32_t> smallest;
    for (const TEntry& e : expected) {
        auto [it, fresh] = smallest.emplace(e.KeyHex, e.RecNo);
        if (!fresh) it->second = std::min(it->second, e.RecNo);
    }
    for (const auto& [hex, rec] : smallest) {
        const std::string ansi = f.Oem ? OemToAnsi(Unhex(hex)) : Unhex(hex);
        ASSERT_TRUE(ix.Seek(ansi, false)) << f.Ntx << " key " << hex;
        EXPECT_EQ(ix.CurrentRecNo(), rec) << f.Ntx << " key " << hex;
        EXPECT_EQ(ix.FindKey(ansi, false, 0, false), rec) << f.Ntx << " key " << hex;
    }

    // the table through the active index, forward and backward
    std::vector<std::uint32_t> recs, recsBack, want;
    for (const TEntry& e : expected) want.push_back(e.RecNo);
    for (t.First(); !t.Eof(); t.Next()) recs.push_back(static_cast<std::uint32_t>(t.RecNo()));
    for (t.Last(); !t.Bof(); t.Prior()) recsBack.push_back(static_cast<std::uint32_t>(t.RecNo()));
    std::reverse(recsBack.begin(), recsBack.end());
    EXPECT_EQ(recs, want);
    EXPECT_EQ(recsBack, want);
    // going to a record reads the block around it in key order
    const std::size_t mid = want.size() / 2;
    t.SetRecNo(static_cast<int>(want[mid]));
    EXPECT_EQ(static_cast<std::uint32_t>(t.RecNo()), want[mid]);
    t.Next();
    if (mid + 1 < want.size()) {
        EXPECT_EQ(static_cast<std::uint32_t>(t.RecNo()), want[mid + 1]);
    }

    // VerifyIndex: no finding; the free-page note exactly where a writer left counts there
    const TVerifyNotes notes = ix.VerifyIndex();
    EXPECT_EQ(ix.VerifiedKeys(), expected.size());
    if (f.FreePageNote)
        EXPECT_EQ(notes, TVerifyNotes{"THXNTXIndex.VerifyIndex: page count for free page must be 0!"});
    else
        EXPECT_TRUE(notes.empty()) << notes.front();
}

// The German character indexes are out of byte order: under cltNone the order check finds that.
TEST_P(NtxCorpus, ByteOrderCheckedUnlessCollated) {
    const TCorpusNtx& f = GetParam();
    THXDBFNTX t;
    THXNTXIndex& ix = OpenWith(t, f);
    if (!GermanCollated(f.Ntx)) {
        EXPECT_NO_THROW(ix.VerifyIndex());
        return;
    }
    const std::string finding = testutil::Message([&] { ix.VerifyIndex(); });
    EXPECT_EQ(finding.rfind("THXNTXIndex.VerifyIndex: Key ", 0), 0u) << finding;
    EXPECT_NE(finding.find(" must be lager then "), std::string::npos) << finding;
}

TEST_P(NtxCorpus, PerlXBaseWalksTheSameOrder) {
    const TCorpusNtx& f = GetParam();
    if (!wiringtest::HavePerlXBase()) GTEST_SKIP() << "Perl XBase not installed";
    const std::vector<TEntry> perl = wiringtest::PerlWalk((testutil::CorpusDir() / f.Ntx).string());
    THXDBFNTX t;
    const std::vector<TEntry> ours = wiringtest::EngineWalk(OpenWith(t, f));
    EXPECT_EQ(ours, perl);
}

// The range test takes a record's key with its string fields unpadded: over "lastname +
// firstname", "ByrneMaria" is the key of Maria Byrne's record, not "Byrne     Maria     ".
TEST(NtxRange, CompoundKeysCompareTheirFieldsUnpadded) {
    if (!fs::exists(CorpusDir() / "xsharp/Explorer/Custname.ntx")) GTEST_SKIP() << "corpus not found";
    THXDBFNTX t;
    t.SetDBFFileName((CorpusDir() / "xsharp/Explorer/Customer.dbf").string());
    t.AccessMode().SetAccessMode(0);
    THXNTXIndex& ix = t.Indexes().Add();
    ix.SetNTXFileName((CorpusDir() / "xsharp/Explorer/Custname.ntx").string());
    ix.SetActive(true);
    t.Open();
    auto walk = [&] {
        std::vector<int> r;
        for (t.First(); !t.Eof(); t.Next()) r.push_back(t.RecNo());
        return r;
    };
    ix.NTXRange().SetLoKey("ByrneMaria");
    ix.NTXRange().SetHiKey("ByrneMaria");
    ix.NTXRange().SetActive(true);
    EXPECT_EQ(walk(), std::vector<int>{2});
    ix.NTXRange().SetLoKey("Baker");
    ix.NTXRange().SetHiKey("Byrne");
    EXPECT_EQ(walk(), (std::vector<int>{6, 2}));
}

INSTANTIATE_TEST_SUITE_P(Corpus, NtxCorpus, ::testing::ValuesIn(kFiles), NtxParamName);

}  // namespace
}  // namespace zarbel
