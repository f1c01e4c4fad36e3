// Every NTX file of the corpus, written by other programs, read in place: the walk forward and
// backward gives exactly the entries the corpus's expected/*.ntx.json lists, header fields as
// listed, seeks and key searches land on the smallest record number of each key, and the
// structural check passes (with the free-page note where a writer left counts there).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>

#include "../testutil/corpus.h"
#include "ntx_core_util.h"

namespace zarbel {
namespace {

using ntxtest::Entry;

struct Expected {
    std::vector<Entry> keys;
    bool byteSorted = false;
    std::map<std::string, std::string> header;  // field -> raw JSON value
};

std::string Unhex(const std::string& h) {
    std::string out;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2) out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

Expected Load(const std::filesystem::path& json) {
    const std::string text = testutil::Slurp(json);
    Expected e;
    static const std::regex entry(R"re("recno":\s*(\d+),\s*"key_hex":\s*"([0-9a-f]*)")re");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), entry); it != std::sregex_iterator(); ++it)
        e.keys.emplace_back(Unhex((*it)[2]), static_cast<std::uint32_t>(std::stoul((*it)[1])));
    e.byteSorted = text.find("\"byte_sorted\": true") != std::string::npos;
    static const std::regex field(R"re("(\w+)":\s*("[^"]*"|\d+))re");
    const std::string head = text.substr(0, text.find("\"keys\""));
    for (auto it = std::sregex_iterator(head.begin(), head.end(), field); it != std::sregex_iterator(); ++it)
        e.header.emplace((*it)[1], (*it)[2]);
    return e;
}

std::vector<std::filesystem::path> CorpusNtxFiles() {
    std::vector<std::filesystem::path> out;
    const auto root = testutil::CorpusDir();
    if (!std::filesystem::is_directory(root)) return out;
    for (const auto& de : std::filesystem::recursive_directory_iterator(root)) {
        const std::string rel = std::filesystem::relative(de.path(), root).string();
        if (rel.rfind("expected", 0) == 0 || !de.is_regular_file()) continue;
        std::string ext = de.path().extension().string();
        for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (ext == ".ntx") out.push_back(de.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(NtxCoreCorpus, EveryFileWalksSeeksAndVerifiesAsExpected) {
    const auto files = CorpusNtxFiles();
    if (files.empty()) GTEST_SKIP() << "corpus not found at " << testutil::CorpusDir();
    EXPECT_EQ(files.size(), 13u);
    const auto root = testutil::CorpusDir();
    for (const auto& f : files) {
        const std::string rel = std::filesystem::relative(f, root).string();
        SCOPED_TRACE(rel);
        const auto json = root / "expected" / (rel + ".json");
        ASSERT_TRUE(std::filesystem::exists(json));
        const Expected e = Load(json);
        ASSERT_FALSE(e.keys.empty());

        TProxyStream s;
        s.SetFileName(f.string());
        s.AccessMode().SetAccessMode(TAccessMode::kShareDenyNone);  // read, shared
        s.OpenProxyStream();
        ASSERT_TRUE(s.IsOpen());
        THXNTXTree t;
        std::string why;
        ASSERT_EQ(t.Open(s, nullptr, why), TNTXOpenStatus::Ok) << why;

        const TNTXHeader& h = t.Header();
        EXPECT_EQ(std::to_string(h.KeySize), e.header.at("key_size"));
        EXPECT_EQ(std::to_string(h.MaxItems), e.header.at("max_items_per_page"));
        EXPECT_EQ(std::to_string(h.HalfPage), e.header.at("half_page"));
        EXPECT_EQ(std::to_string(h.Root), e.header.at("root_page_offset"));
        EXPECT_EQ(std::to_string(h.NextFree), e.header.at("next_free_page"));
        EXPECT_EQ(std::to_string(h.Version), e.header.at("indexing_version"));
        EXPECT_EQ("\"" + h.KeyExpression() + "\"", e.header.at("key_expression"));
        const std::string name = e.header.at("order_name");
        EXPECT_EQ("\"" + h.OrderNameText() + "\"", name.size() > 10 ? name.substr(0, 9) + "\"" : name);

        const auto walk = ntxtest::Walk(t);
        EXPECT_EQ(walk, e.keys);
        auto back = ntxtest::WalkBack(t);
        std::reverse(back.begin(), back.end());
        EXPECT_EQ(back, e.keys);

        if (e.byteSorted) {
            // Seek and key search of every distinct key find its first entry.
            std::map<std::string, std::uint32_t> first;
            for (const auto& [k, r] : e.keys) first.emplace(k, r);
            for (const auto& [k, r] : first) {
                THXNTXCursor c;
                ASSERT_TRUE(t.Seek(c, ntxtest::U(k), k.size(), false));
                EXPECT_EQ(c.RecNo(), r);
                EXPECT_EQ(t.FindKey(ntxtest::U(k), k.size(), false, 0, false, [](std::uint32_t) { return true; }), r);
            }
            const TNTXVerifyReport rep = t.Verify();
            for (const auto& fnd : rep.Findings) ADD_FAILURE() << fnd.Message;
            EXPECT_EQ(rep.KeyCount, e.keys.size());
            const bool freeCounts = rel.find("test2Ansi1") != std::string::npos || rel.find("test2Ansi3") != std::string::npos;
            EXPECT_EQ(rep.Notes.size(), freeCounts ? 1u : 0u);
        }
        // Reading never writes: nothing of the file changed.
        EXPECT_EQ(testutil::Slurp(f).size(), static_cast<std::size_t>(s.GetFileSize()));
    }
}

}  // namespace
}  // namespace zarbel
