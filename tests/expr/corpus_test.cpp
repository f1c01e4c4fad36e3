// Real files written by other programs: a filter over the harbour table against an
// independent reader's values, and the key expressions of every NTX file of the corpus,
// evaluated on every record, against the keys those files store.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>

#include "engine/HXDBFDataSet.h"
#include "expr/HXDBFExprParser.h"
#include "testutil/corpus.h"

using namespace zarbel;
namespace fs = std::filesystem;

namespace {

const fs::path kCorpus = testutil::CorpusDir();
using testutil::Slurp;

std::string Hex(const std::string& s) {
    std::string h;
    char b[3];
    for (unsigned char c : s) {
        std::snprintf(b, sizeof b, "%02x", c);
        h += b;
    }
    return h;
}

struct TOpen {
    explicit TOpen(const fs::path& p) {
        T.SetDBFFileName(p.string());
        T.AccessMode().SetAccessMode(0);  // read only: the corpus is never written
        T.SetOEM(false);                  // bytes compare as stored
        T.Open();
    }
    ~TOpen() { T.Close(); }
    THXSmartDBF T;
};

}  // namespace

TEST(ExprCorpus, AgeFilterOverTheHarbourTableMatchesAnIndependentReader) {
    const fs::path json = kCorpus / "expected" / "harbour" / "test.dbf.json";
    if (!fs::exists(json)) GTEST_SKIP() << "corpus not found at " << kCorpus;
    const std::string text = Slurp(json);
    const std::string records = text.substr(text.find("\"records\""));
    std::vector<int> ages;
    const std::regex age("\"AGE\": (-?\\d+|null)");
    for (auto it = std::sregex_iterator(records.begin(), records.end(), age); it != std::sregex_iterator(); ++it)
        ages.push_back((*it)[1] == "null" ? -1 : std::stoi((*it)[1]));
    ASSERT_EQ(ages.size(), 500u);

    TOpen t(kCorpus / "harbour" / "test.dbf");
    ASSERT_EQ(t.T.RecordCount(), 500);
    THXDBFExprParser p(&t.T, 0, 0, "AGE>20 .AND. AGE<30");
    int accepted = 0, expected = 0;
    for (int r = 1; r <= 500; ++r) {
        t.T.SetRecNo(r);
        const int a = ages[static_cast<std::size_t>(r - 1)];
        const bool want = a > 20 && a < 30;
        EXPECT_EQ(p.EvaluateBoolean(), want) << "record " << r << " AGE " << a;
        accepted += p.EvaluateBoolean();
        expected += want;
    }
    EXPECT_EQ(accepted, expected);
    EXPECT_GT(accepted, 0);
}

TEST(ExprCorpus, KeyExpressionsOfEveryNtxFileGiveTheStoredKeys) {
    if (!fs::exists(kCorpus / "expected")) GTEST_SKIP() << "corpus not found at " << kCorpus;
    // index file -> its table
    const std::pair<const char*, const char*> files[] = {
        {"dbd-xbase/ntx-char.ntx", "dbd-xbase/ntx-char.dbf"},
        {"xsharp/Explorer/Custname.ntx", "xsharp/Explorer/Customer.dbf"},
        {"xsharp/Explorer/Custnum.ntx", "xsharp/Explorer/Customer.dbf"},
        {"xsharp/RddTests/TESTNTX2.NTX", "xsharp/RddTests/TESTNTX2.DBF"},
        {"xsharp/VO/test2Ansi1.ntx", "xsharp/VO/TEST2ANSI.DBF"},
        {"xsharp/VO/test2Ansi2.ntx", "xsharp/VO/TEST2ANSI.DBF"},
        {"xsharp/VO/test2Ansi3.ntx", "xsharp/VO/TEST2ANSI.DBF"},
        {"xsharp/VO/German/TEST1ANSI1.NTX", "xsharp/VO/German/TEST1ANSI.DBF"},
        {"xsharp/VO/German/TEST1ANSI2.NTX", "xsharp/VO/German/TEST1ANSI.DBF"},
        {"xsharp/VO/German/test1Ansi3.ntx", "xsharp/VO/German/TEST1ANSI.DBF"},
        {"xsharp/VO/German/test1Oem1.ntx", "xsharp/VO/German/TEST1OEM.DBF"},
        {"xsharp/VO/German/test1Oem2.ntx", "xsharp/VO/German/TEST1OEM.DBF"},
        {"xsharp/VO/German/test1Oem3.ntx", "xsharp/VO/German/TEST1OEM.DBF"},
    };
    const std::regex keyRe("\"recno\": (\\d+),\\s*\"key_hex\": \"([0-9a-f]*)\"");
    int indexes = 0, keys = 0;
    std::vector<std::string> expressions;
    for (const auto& [ntx, dbf] : files) {
        SCOPED_TRACE(ntx);
        const std::string header = Slurp(kCorpus / ntx).substr(0, 1024);
        ASSERT_EQ(header.size(), 1024u);
        const std::string expression(header.c_str() + 22);  // NUL-terminated text at offset 22
        const int keySize = static_cast<unsigned char>(header[14]) | static_cast<unsigned char>(header[15]) << 8;
        expressions.push_back(expression);
        TOpen t(kCorpus / dbf);
        THXDBFExprParser p(&t.T);
        p.SetIndexMode(true);
        p.Compile(expression, 0, poExtendedSyntax);
        const std::string json = Slurp(kCorpus / "expected" / (std::string(ntx) + ".json"));
        int n = 0;
        for (auto it = std::sregex_iterator(json.begin(), json.end(), keyRe); it != std::sregex_iterator(); ++it, ++n) {
            const int recno = std::stoi((*it)[1]);
            t.T.SetRecNo(recno);
            ASSERT_EQ(t.T.RecNo(), recno);
            const std::string& key = p.EvaluateKey();
            EXPECT_EQ(static_cast<int>(key.size()), keySize) << "record " << recno;
            EXPECT_EQ(Hex(key), (*it)[2].str()) << "record " << recno;
        }
        EXPECT_EQ(n, t.T.RecordCount());  // one key per record
        keys += n;
        ++indexes;
    }
    EXPECT_EQ(indexes, 13);
    EXPECT_GT(keys, 2000);
    // plain fields, "+", lower-case names and an alias reference
    EXPECT_NE(std::find(expressions.begin(), expressions.end(), "ntx_char->v1"), expressions.end());
    EXPECT_NE(std::find(expressions.begin(), expressions.end(), "lastname + firstname"), expressions.end());
}
