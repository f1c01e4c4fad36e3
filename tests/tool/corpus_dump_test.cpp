// The compatibility corpus through zarbel-dump: every table of a dialect the engine knows opens
// and its JSON gives the values that expected/ records (python3-dbfread's view, an independent
// reader), checked by tests/tool/corpus_compare.py; the tables the engine must refuse are
// refused with its exact messages.
//
// The deliberate differences from dbfread, each with its reason, are listed at the top of
// corpus_compare.py and counted per table in its report (nullbit, nullflags, flagbyte, logical,
// numeric, date, textnul, notype, memo, memolen, pastrecord, driftreader, partialrecord,
// odouble). The tables are read with the dump's default code page choice (the code page byte
// or a dBase 7 language driver naming CP866 selects OEM); the comparison decodes the engine's
// bytes with the encoding dbfread used for the file, so text is compared byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "engine/HXDBFFormat.h"
#include "platform/exception.h"
#include "testutil/temp_dir.h"
#include "tool/dump.h"

namespace zarbel {
namespace {

namespace fs = std::filesystem;

const std::string kCorpus = ZARBEL_SOURCE_DIR "/../shared/corpus";
const char* const kPython = "/usr/bin/python3";

// Tables whose version byte the engine knows but whose fields its dialect does not allow.
const std::map<std::string, std::string> kDialectRefusals = {
    // dBase III (0x03) with T and Y fields: the first failing descriptor is Y.
    {"dbd-xbase/types.dbf",
     "THXSmartDBF.HiddenInitFieldDefs: DBF Version must be xVisualFoxPro or greater for field type \"Y\"!"},
};

std::vector<std::string> CorpusTables() {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(kCorpus)) {
        if (!e.is_regular_file()) continue;
        std::string ext = e.path().extension().string();
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::string rel = fs::relative(e.path(), kCorpus).string();
        if (ext != ".dbf" || rel.rfind("expected/", 0) == 0 || rel.rfind("tools/", 0) == 0) continue;
        out.push_back(rel);
    }
    std::sort(out.begin(), out.end());
    return out;
}

int VersionByte(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    char c;
    return f.get(c) ? static_cast<unsigned char>(c) : -1;
}

TEST(CorpusDump, KnownDialectsOpenAndReadAsTheIndependentReaderOthersAreRefused) {
    if (!fs::is_directory(kCorpus)) GTEST_SKIP() << "compatibility corpus not found at " << kCorpus;
    const std::vector<std::string> tables = CorpusTables();
    ASSERT_GT(tables.size(), 80u);
    testutil::TempDir dir;
    std::vector<std::string> opened;
    int refused = 0;
    for (const std::string& rel : tables) {
        const std::string path = kCorpus + "/" + rel;
        const int version = VersionByte(path);
        std::string expectedError;
        if (version < 0 || LookupVersionByte(static_cast<std::uint8_t>(version), 0).Dialect == xUnknown)
            expectedError = NotDbfFileMessage(path);
        else if (auto it = kDialectRefusals.find(rel); it != kDialectRefusals.end())
            expectedError = it->second;
        const std::string out = dir / (rel + ".json");
        fs::create_directories(fs::path(out).parent_path());
        std::ofstream f(out, std::ios::binary);
        TDumpOptions o;
        o.Json = true;
        try {
            DumpTable(path, o, f);
            EXPECT_EQ(expectedError, "") << rel << " opened but must be refused";
            opened.push_back(rel);
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), expectedError) << rel;
            ++refused;
        }
    }
    EXPECT_EQ(refused, 3);  // two unknown version bytes (0x02, 0x0A) and one dialect check

    if (!fs::exists(kPython)) GTEST_SKIP() << kPython << " not found: values not compared";
    std::string cmd = std::string(kPython) + " " ZARBEL_SOURCE_DIR "/tests/tool/corpus_compare.py '" + kCorpus +
                      "' '" + dir.path() + "'";
    for (const std::string& rel : opened) cmd += " '" + rel + "'";
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string report;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) report.append(buf, n);
    ASSERT_EQ(::pclose(p), 0) << report;

    std::set<std::string> ok;
    std::istringstream lines(report);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("OK ", 0) == 0) {
            ok.insert(line.substr(3, line.find(' ', 3) - 3));
            if (line.find('=') != std::string::npos) std::printf("%s\n", line.c_str());
        } else {
            ADD_FAILURE() << line;
        }
    }
    for (const std::string& rel : opened) EXPECT_TRUE(ok.count(rel)) << rel << " not confirmed by the comparison";
}

}  // namespace
}  // namespace zarbel
