// Real tables written by other programs: the header, the version byte, the descriptor walk,
// the field sizes and the record count agree with an independent reader's view.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "engine/HXDBFDescriptors.h"
#include "engine/HXDBFFieldRec.h"
#include "engine/HXDBFPrx.h"
#include "testutil/corpus.h"

using namespace zarbel;
namespace fs = std::filesystem;

namespace {

const fs::path kCorpus = testutil::CorpusDir();
using testutil::Slurp;

long JsonInt(const std::string& text, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex("\"" + key + "\": (-?\\d+)"))) return -1;
    return std::stol(m[1]);
}

std::string JsonStr(const std::string& text, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex("\"" + key + "\": \"([^\"]*)\""))) return {};
    return m[1];
}

struct ExpectedField {
    std::string name;
    char type;
    int length;
};

}  // namespace

TEST(CorpusFormat, HeadersDescriptorsAndCountsMatchAnIndependentReader) {
    if (!fs::exists(kCorpus / "expected")) GTEST_SKIP() << "corpus not found at " << kCorpus;
    int tables = 0, rejected = 0, walked = 0, sized = 0;
    for (const auto& e : fs::recursive_directory_iterator(kCorpus / "expected")) {
        if (e.path().extension() != ".json") continue;
        const std::string json = Slurp(e.path());
        const std::string rel = JsonStr(json, "file");
        if (rel.empty() || json.find("\"header\": {") == std::string::npos) continue;
        std::string upper = rel;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (upper.size() < 4 || upper.substr(upper.size() - 4) != ".DBF") continue;
        const std::size_t hb = json.find("\"header\": {");
        const std::size_t he = json.find("\"dbfread\"", hb);
        const std::string header = json.substr(hb, he == std::string::npos ? std::string::npos : he - hb);
        SCOPED_TRACE(rel);
        ++tables;

        TProxyStream p;
        p.SetFileName((kCorpus / rel).string());
        p.AccessMode().SetAccessMode(0);  // read only, no sharing: as the merge tool opens sources
        p.OpenProxyStream();
        ASSERT_TRUE(p.IsOpen());
        const std::int64_t size = p.GetFileSize();
        EXPECT_EQ(size, JsonInt(header, "file_size"));
        std::uint8_t raw[32];
        if (!p.ReadAt(0, raw, 32)) {
            ++rejected;  // a few-byte file is no table
            continue;
        }
        TDBFHeader h;
        h.Load(raw);
        const TVersionInfo vi = LookupVersionByte(h.Version(), h.TableFlags());
        if (vi.Dialect == xUnknown) {
            // FoxBASE 0x02 and a one-byte file.
            ++rejected;
            EXPECT_TRUE(h.Version() == 0x02 || h.Version() == 0x0A) << int(h.Version());
            continue;
        }
        ++walked;
        EXPECT_EQ(h.HeaderLength(), JsonInt(header, "header_length"));
        EXPECT_EQ(h.RecordLength(), JsonInt(header, "record_length"));
        std::uint32_t count = 0;
        ASSERT_TRUE(RecordCountFromFileSize(size, h.HeaderLength(), h.RecordLength(), count));
        // The other reader stops at the header's count when the file holds more.
        const long present = JsonInt(header, "records_present_in_file");
        const long stated = JsonInt(header, "record_count");
        EXPECT_TRUE(static_cast<long>(count) == present || (present == stated && present < static_cast<long>(count)))
            << count << " " << present;

        std::vector<ExpectedField> want;
        const std::regex fieldRe(
            "\\{\\s*\"name\": \"((?:[^\"\\\\]|\\\\.)*)\",\\s*\"type\": \"(.)\",\\s*\"length\": (\\d+)");
        for (auto it = std::sregex_iterator(header.begin(), header.end(), fieldRe); it != std::sregex_iterator();
             ++it)
            want.push_back({(*it)[1], std::string((*it)[2])[0], std::stoi((*it)[3])});

        TDescriptorWalk w = ReadDescriptors(p, vi.Dialect, h.HeaderLength());
        EXPECT_EQ(w.Terminated, JsonStr(header, "field_terminator") == "0x0D");
        ASSERT_EQ(w.Descriptors.size(), want.size());
        int recordBytes = 1;
        bool comparable = true;  // every letter known, and no C field with a decimal byte
        for (std::size_t i = 0; i < want.size(); ++i) {
            FIELD_REC r(vi.Dialect);
            std::memcpy(r.Image(), w.Descriptors[i].Bytes.data(), static_cast<std::size_t>(r.DescriptorSize()));
            EXPECT_EQ(r.FieldType(), want[i].type) << i;
            EXPECT_EQ(r.LengthByte(), want[i].length) << i;
            const bool ascii = std::all_of(want[i].name.begin(), want[i].name.end(),
                                           [](char c) { return c > ' ' && c < 0x7F && c != '\\'; });
            if (ascii) {
                EXPECT_EQ(r.Name(), want[i].name) << i;
            }
            const int bytes = FieldStorageSize(r.FieldType(), r.ExtendType(), r.LengthByte(), r.DecimalByte(),
                                               vi.Dialect, vi.MemoDialect);
            if (bytes == 0 || (r.FieldType() == 'C' && r.DecimalByte() != 0)) comparable = false;
            recordBytes += bytes;
        }
        // Some writers leave a record length that differs from their own fields; compare with
        // the sum of the descriptors' lengths as the other reader sees them.
        if (comparable) {
            ++sized;
            EXPECT_EQ(recordBytes, JsonInt(header, "sum_field_lengths_plus_1"));
        }
    }
    EXPECT_GT(sized, 60);
    EXPECT_GT(tables, 80);
    EXPECT_GT(walked, 70);
    RecordProperty("tables", tables);
    RecordProperty("rejected", rejected);
}
