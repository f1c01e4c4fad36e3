// Memo fields through the table: blob streams, saving into the record reference, OEM
// translation of memo text, the corpus's damaged memo files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <stdlib.h>

#include "engine/HXDBFBlob.h"
#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"
#include "dbf_builder.h"
#include "testutil/temp_dir.h"

namespace zarbel {
namespace {

using test::BE32;
using test::DB4MemoHeader;
using test::LE32;

using test::BuildDbf;
using test::FieldSpec;
using test::Pad;

std::string DB4Entry(const std::string& data) {
    std::string e = std::string("\xFF\xFF\x08\x00", 4) + LE32(static_cast<std::uint32_t>(data.size() + 8)) + data;
    e.resize((e.size() + 511) / 512 * 512, '\0');
    return e;
}

struct MemoTable {
    testutil::TempDir dir;
    std::string dbf;
    THXSmartDBF t;
    MemoTable() : dbf(dir.File("m.dbf")) { t.SetDBFFileName(dbf); }
};

TEST(MemoTable, DBase3TextReadWithOemTranslation) {
    MemoTable m;
    // "\x8F\xE0\xA8\xA2\xA5\xE2" is "Privet" in Cyrillic letters, CP866
    std::string text = "\x8F\xE0\xA8\xA2\xA5\xE2 memo";
    test::WriteFile(m.dbf, BuildDbf(0x83, {{"NAME", 'C', 4}, {"NOTE", 'M', 10}},
                                    {" abcd" + Pad("1", 10, true), " efgh" + std::string(10, ' ')}));
    test::WriteFile(m.dir.File("m.dbt"), std::string("This is Lob!") + std::string(500, '\0') + text + "\x1A\x1A");
    m.t.SetOEM(true);
    m.t.Open();
    EXPECT_EQ(m.t.FieldByName("NOTE").AsString(), "\xCF\xF0\xE8\xE2\xE5\xF2 memo");  // CP1251
    m.t.Next();
    EXPECT_EQ(m.t.FieldByName("NOTE").AsString(), "");
    EXPECT_TRUE(m.t.FieldByName("NOTE").IsNull());
    m.t.Close();
    m.t.SetOEM(false);
    m.t.Open();
    EXPECT_EQ(m.t.FieldByName("NOTE").AsString(), text);
}

TEST(MemoTable, MemoFileWithUpperCaseExtensionIsFound) {
    MemoTable m;
    test::WriteFile(m.dbf, BuildDbf(0x8B, {{"NOTE", 'M', 10}}, {" " + Pad("1", 10, true)}));
    test::WriteFile(m.dir.File("m.DBT"), DB4MemoHeader(2, 512) + DB4Entry("upper"));
    m.t.Open();
    EXPECT_EQ(m.t.FieldByName("NOTE").AsString(), "upper");
}

TEST(MemoTable, SavingIntoTheRecordReference) {
    MemoTable m;
    test::WriteFile(m.dbf, BuildDbf(0x8B, {{"NOTE", 'M', 10}}, {" " + Pad("1", 10, true)}));
    std::string memo = m.dir.File("m.dbt");
    test::WriteFile(memo, DB4MemoHeader(2, 512) + DB4Entry("old value"));
    m.t.AccessMode().SetAccessMode(0x42);  // shared: every save reaches the file at once
    m.t.SetOEM(true);
    m.t.Open();
    TField& f = m.t.FieldByName("NOTE");
    EXPECT_EQ(f.AsString(), "old value");
    // a blob stream for writing needs edit or insert state
    try {
        f.SetAsString("x");
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Dataset not in edit or insert mode");
    }
    m.t.Edit();
    f.SetAsString("\xCF\xF0\xE8");  // CP1251 text, stored as CP866
    EXPECT_EQ(f.AsString(), "\xCF\xF0\xE8");
    std::string file = test::ReadFile(memo);
    // a new run; the old one stays while the record in the file still references it
    EXPECT_EQ(file.substr(1024, 11), std::string("\xFF\xFF\x08\x00", 4) + LE32(11) + "\x8F\xE0\xA8");
    EXPECT_EQ(file.substr(512, 17), std::string("\xFF\xFF\x08\x00", 4) + LE32(17) + "old value");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.t.ActiveRecord()) + 1, 10), Pad("2", 10, true));
    // an empty value clears the field
    f.SetAsString("");
    EXPECT_TRUE(f.IsNull());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.t.ActiveRecord()) + 1, 10), std::string(10, ' '));
    // a value written through a stream
    {
        std::unique_ptr<TStream> s = m.t.CreateBlobStream(&f, bmWrite);
        s->Write("streamed", 8);
    }
    EXPECT_EQ(f.AsString(), "streamed");
    // a cancelled edit keeps the old value and frees the runs it wrote
    m.t.Cancel();
    EXPECT_EQ(f.AsString(), "old value");
    file = test::ReadFile(memo);
    EXPECT_EQ(file.substr(512, 17), std::string("\xFF\xFF\x08\x00", 4) + LE32(17) + "old value");
    EXPECT_NE(file.substr(1024, 4), std::string("\xFF\xFF\x08\x00", 4));  // block 2 is free again
    EXPECT_NE(file.substr(1536, 4), std::string("\xFF\xFF\x08\x00", 4));  // block 3 too
    EXPECT_TRUE(GetLE32(reinterpret_cast<const std::uint8_t*>(file.data())) == 2 ||
                GetLE32(reinterpret_cast<const std::uint8_t*>(file.data())) == 3);
    // the next value takes a freed run instead of growing the file
    m.t.Edit();
    f.SetAsString("again");
    m.t.Post();
    EXPECT_EQ(test::ReadFile(memo).size(), file.size());
    EXPECT_EQ(f.AsString(), "again");
    m.t.Close();
    m.t.Open();
    EXPECT_EQ(m.t.FieldByName("NOTE").AsString(), "again");
}

TEST(MemoTable, InsertsFreeTheRunsTheirRecordDoesNotKeep) {
    MemoTable m;
    test::WriteFile(m.dbf, BuildDbf(0x8B, {{"NOTE", 'M', 10}}, {}));
    std::string memo = m.dir.File("m.dbt");
    test::WriteFile(memo, DB4MemoHeader(1, 512));
    m.t.AccessMode().SetAccessMode(0x42);  // shared: every save reaches the file at once
    m.t.Open();
    TField& f = m.t.FieldByName("NOTE");
    // two values during one insert: the first one's run is freed once the record is posted
    m.t.Append();
    f.SetAsString("first try");
    f.SetAsString("second try");
    m.t.Post();
    std::string file = test::ReadFile(memo);
    EXPECT_EQ(GetLE32(reinterpret_cast<const std::uint8_t*>(file.data())), 1u);
    EXPECT_EQ(file.substr(1024 + 8, 10), "second try");
    EXPECT_EQ(f.AsString(), "second try");
    // a cancelled insert frees what it wrote: the next value takes block 1 again
    m.t.Append();
    f.SetAsString("cancelled");
    m.t.Cancel();
    m.t.Append();
    f.SetAsString("kept");
    m.t.Post();
    file = test::ReadFile(memo);
    EXPECT_EQ(file.substr(512 + 8, 4), "kept");
    EXPECT_EQ(file.size(), 1024u + 18u);
    m.t.First();
    EXPECT_EQ(f.AsString(), "second try");
    m.t.Next();
    EXPECT_EQ(f.AsString(), "kept");
}

TEST(MemoTable, VisualFoxProBinaryColumnIsNotTranslated) {
    MemoTable m;
    std::string rec = " " + LE32(8) + LE32(9);
    test::WriteFile(m.dbf, BuildDbf(0x30, {{"T", 'M', 4}, {"B", 'M', 4, 0, 0x04}}, {rec}, true, 0x02));
    std::string fpt(512, '\0');
    fpt.replace(0, 4, BE32(10));
    fpt.replace(4, 4, BE32(64));
    fpt += std::string(0, '\0');
    fpt.resize(8 * 64, '\0');
    fpt += BE32(1) + BE32(2) + "\x8F\xE0";
    fpt.resize(9 * 64, '\0');
    fpt += BE32(0) + BE32(2) + "\x8F\xE0";
    test::WriteFile(m.dir.File("m.fpt"), fpt);
    m.t.SetOEM(true);
    m.t.Open();
    EXPECT_EQ(m.t.FieldByName("T").AsString(), "\xCF\xF0");
    EXPECT_EQ(m.t.FieldByName("B").AsString(), "\x8F\xE0");
    EXPECT_EQ(m.t.LobBlockSize(), 64);
}

TEST(MemoTable, LobBlockSizeRoundsDown) {
    THXSmartDBF t;
    EXPECT_EQ(t.LobBlockSize(), 512);
    t.SetLobBlockSize(1000);
    EXPECT_EQ(t.LobBlockSize(), 896);
    t.SetLobBlockSize(100);
    EXPECT_EQ(t.LobBlockSize(), 0);
}

TEST(MemoTable, CreateMemoFileForVersionByte) {
    testutil::TempDir dir;
    THXSmartDBF t;
    t.SetDBFFileName(dir.File("c.dbf"));
    t.CreateMemoFile(0x83, true);
    EXPECT_EQ(test::ReadFile(dir.File("c.dbt")), "This is Lob!");
    t.SetLobBlockSize(1000);
    t.CreateMemoFile(0x8B, true);
    EXPECT_EQ(test::ReadFile(dir.File("c.dbt")), DB4MemoHeader(1, 896));
    t.SetLobBlockSize(128);  // below 512: created with 512
    t.CreateMemoFile(0x8C, true);
    EXPECT_EQ(test::ReadFile(dir.File("c.dbt")), DB4MemoHeader(1, 512));
    t.CreateMemoFile(0xF5, true);
    std::string fpt = test::ReadFile(dir.File("c.fpt"));
    ASSERT_EQ(fpt.size(), 512u);
    EXPECT_EQ(fpt.substr(0, 8), BE32(1) + BE32(512));
    std::filesystem::remove(dir.File("c.fpt"));
    t.CreateMemoFile(0x30, true);  // memo dialect not Visual FoxPro: no memo file
    EXPECT_FALSE(std::filesystem::exists(dir.File("c.fpt")));
    t.CreateMemoFile(0x03, false);
    THXSmartDBF bad;
    bad.SetDBFFileName(dir.File("no/such/dir/x.dbf"));
    EXPECT_THROW(bad.CreateMemoFile(0x83, true), Exception);
}

// ---------------------------------------------------------------------------------------
// Corpus: damaged memo situations, compared with an independent reader's view.
// ---------------------------------------------------------------------------------------
const std::string kCorpus = std::string(ZARBEL_SOURCE_DIR) + "/../shared/corpus";

// The memo texts of the dbfread view in the expected JSON, in record order: null for none.
// The JSON is simple enough to pick the "MEMO" values by hand.
std::vector<std::string> ExpectedMemos(const std::string& json, const std::string& field, std::vector<bool>& isNull) {
    std::vector<std::string> out;
    std::string key = "\"" + field + "\": ";
    std::size_t at = json.find("\"records\"");
    std::size_t end = json.find("\"deleted\"", at);  // the live records only
    while ((at = json.find(key, at)) != std::string::npos && at < end) {
        at += key.size();
        if (json.compare(at, 4, "null") == 0) {
            out.emplace_back();
            isNull.push_back(true);
            continue;
        }
        std::string v;
        for (++at; at < json.size() && json[at] != '"'; ++at) {
            if (json[at] == '\\') {
                char c = json[++at];
                if (c == 'n') {
                    v += '\n';
                } else if (c == 'r') {
                    v += '\r';
                } else if (c == 't') {
                    v += '\t';
                } else if (c == 'u') {
                    unsigned code = static_cast<unsigned>(std::stoul(json.substr(at + 1, 4), nullptr, 16));
                    v += code < 0x80 ? static_cast<char>(code) : '?';  // non-ASCII: compared as a wildcard
                    at += 4;
                } else {
                    v += c;
                }
            } else if (static_cast<unsigned char>(json[at]) >= 0x80) {
                // a UTF-8 sequence of one cp437 character
                while (at + 1 < json.size() && (static_cast<unsigned char>(json[at + 1]) & 0xC0) == 0x80) ++at;
                v += '?';
            } else {
                v += json[at];
            }
        }
        out.push_back(v);
        isNull.push_back(false);
    }
    return out;
}

bool SameText(const std::string& expected, const std::string& actual) {
    if (expected.size() != actual.size()) return false;
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (expected[i] != '?' && expected[i] != actual[i]) return false;
    return true;
}

void CheckCorpusTable(const std::string& rel, const std::string& expectedRel, const std::string& field) {
    std::string path = kCorpus + "/" + rel;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "corpus not present at " << kCorpus;
    std::ifstream js(kCorpus + "/expected/" + expectedRel, std::ios::binary);
    std::stringstream ss;
    ss << js.rdbuf();
    std::vector<bool> isNull;
    std::vector<std::string> expected = ExpectedMemos(ss.str(), field, isNull);
    THXSmartDBF t;
    t.SetDBFFileName(path);
    t.Open();
    std::size_t i = 0;
    for (t.First(); !t.Eof(); t.Next(), ++i) {
        std::string v = t.FieldByName(field).AsString();
        if (i < expected.size()) {
            EXPECT_TRUE(SameText(expected[i], v)) << rel << " record " << i + 1 << ": " << v.substr(0, 60);
        }
    }
    EXPECT_EQ(i, expected.size()) << rel;
    t.Close();
}

TEST(MemoTableCorpus, PointerErrorReadsCleanly) {
    CheckCorpusTable("dans-dbf-lib/dbase3plus/fileExceptions/PNTRERR.DBF",
                     "dans-dbf-lib/dbase3plus/fileExceptions/PNTRERR.DBF.json", "MEMO");
}

TEST(MemoTableCorpus, OneByteMemoFileReadsCleanly) {
    CheckCorpusTable("dans-dbf-lib/dbase3plus/fileExceptions/MEMEMPTY.DBF",
                     "dans-dbf-lib/dbase3plus/fileExceptions/MEMEMPTY.DBF.json", "MEMO");
}

TEST(MemoTableCorpus, MissingMemoFileReadsAsEmpty) {
    std::string path = kCorpus + "/dans-dbf-lib/dbase3plus/fileExceptions/MISSMEMO.DBF";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "corpus not present at " << kCorpus;
    THXSmartDBF t;
    t.SetDBFFileName(path);
    t.Open();
    int n = 0;
    for (t.First(); !t.Eof(); t.Next(), ++n) EXPECT_EQ(t.FieldByName("MEMO").AsString(), "");
    EXPECT_EQ(n, 4);
}

TEST(MemoTableCorpus, DBase7WithoutItsMemoFileReadsAsEmpty) {
    std::string path = kCorpus + "/infused-dbf/dbase_8c.dbf";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "corpus not present at " << kCorpus;
    THXSmartDBF t;
    t.SetDBFFileName(path);
    t.Open();
    int n = 0;
    for (t.First(); !t.Eof(); t.Next(), ++n) {
        for (int i = 0; i < t.FieldCount(); ++i) {
            TFieldType ft = t.Fields()[i].DataType();
            if (ft == ftMemo || ft == ftGraphic || ft == ftBlob) {
                EXPECT_EQ(t.Fields()[i].AsString(), "");
            }
        }
    }
    EXPECT_EQ(n, 10);
}

TEST(MemoTableCorpus, MemoFilesOfManyWritersMatchTheIndependentReader) {
    struct Case {
        const char* rel;
        const char* field;
        // The independent reader does not take a dBase IV entry's length as length - 8: it
        // reads on to a 0x1F mark or up to 8 bytes more. The engine's value (length - 8 bytes)
        // must then be the start of the reader's view.
        bool readerAddsEight;
    } cases[] = {
        {"dans-dbf-lib/dbase4/types/MEMOTEST.DBF", "MEMO", true},
        {"infused-dbf/dbase_83.dbf", "DESC", false},
        {"infused-dbf/dbase_8b.dbf", "MEMO", true},
        {"dbfread/memotest.dbf", "MEMO", false},
        {"dbffile/vfp9_memo_bs1.dbf", "NOTES", false},
        {"php-xbase/dBase/dBaseIII.dbf", "BIO", false},
        {"infused-dbf/dbase_f5.dbf", "OBSE", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rel);
        std::string path = kCorpus + "/" + c.rel;
        if (!std::filesystem::exists(path)) GTEST_SKIP() << "corpus not present at " << kCorpus;
        std::ifstream js(kCorpus + "/expected/" + c.rel + ".json", std::ios::binary);
        std::stringstream ss;
        ss << js.rdbuf();
        std::vector<bool> isNull;
        std::vector<std::string> expected = ExpectedMemos(ss.str(), c.field, isNull);
        THXSmartDBF t;
        t.SetDBFFileName(path);
        t.Open();
        TField* f = t.FindField(c.field);
        ASSERT_NE(f, nullptr);
        std::size_t i = 0;
        for (t.First(); !t.Eof(); t.Next()) {
            if (t.IsDeleted()) continue;  // the independent reader lists live records
            std::string v = f->AsString();
            if (i < expected.size() && c.readerAddsEight && expected[i].size() >= v.size() &&
                expected[i].size() <= v.size() + 8)
                expected[i].resize(v.size());
            if (i < expected.size()) {
                EXPECT_TRUE(SameText(expected[i], v)) << "record " << i + 1 << ": [" << v.substr(0, 60) << "] expected ["
                                                      << expected[i].substr(0, 60) << "]";
            }
            ++i;
        }
        EXPECT_EQ(i, expected.size());
    }
}

}  // namespace
}  // namespace zarbel

namespace zarbel {
namespace {

// Under a lock protocol an append takes the header and record locks and releases both in one
// host call; a memo value written takes the memo lock once, and clearing a field that holds
// nothing, or keeping the run a new record references, needs no memo lock at all. Replacing
// the value of a record in the file still settles its old run under the memo lock.
TEST(MemoTable, LockCallsOfAppendsAndMemoSaves) {
    MemoTable m;
    test::WriteFile(m.dbf, BuildDbf(0x8B, {{"NAME", 'C', 5}, {"NOTE", 'M', 10}}, {}));
    std::string memo = m.dir.File("m.dbt");
    test::WriteFile(memo, DB4MemoHeader(1, 512));
    m.t.SetLockProtocol(lpClipperLock);
    m.t.SetLobLockProtocol(lpClipperLock);
    m.t.AccessMode().SetAccessMode(0x42);
    m.t.Open();
    TField& name = m.t.FieldByName("NAME");
    TField& note = m.t.FieldByName("NOTE");
    const std::uint64_t table0 = m.t.TableLockCalls(), memo0 = m.t.MemoLockCalls();
    m.t.Append();
    name.SetAsString("one");
    note.SetAsString("");
    m.t.Post();
    EXPECT_EQ(m.t.TableLockCalls() - table0, 3u);
    EXPECT_EQ(m.t.MemoLockCalls() - memo0, 0u);
    m.t.Append();
    name.SetAsString("two");
    note.SetAsString("hello");
    m.t.Post();
    EXPECT_EQ(m.t.TableLockCalls() - table0, 6u);
    EXPECT_EQ(m.t.MemoLockCalls() - memo0, 2u);
    EXPECT_EQ(note.AsString(), "hello");
    // an edit replaces the run: the save and the freeing of the old run take the memo lock
    m.t.Edit();
    note.SetAsString("world!");
    m.t.Post();
    EXPECT_EQ(m.t.MemoLockCalls() - memo0, 6u);
    m.t.Append();
    note.SetAsString("again");  // takes the freed block 1 again
    m.t.Post();
    std::string file = test::ReadFile(memo);
    EXPECT_EQ(file.substr(512 + 8, 5), "again");
    EXPECT_EQ(file.substr(1024 + 8, 6), "world!");
    m.t.Close();
    m.t.Open();
    std::vector<std::string> seen;
    for (m.t.First(); !m.t.Eof(); m.t.Next())
        seen.push_back(m.t.FieldByName("NAME").AsString() + "=" + m.t.FieldByName("NOTE").AsString());
    EXPECT_EQ(seen, (std::vector<std::string>{"one  =", "two  =world!", "     =again"}));
}

}  // namespace
}  // namespace zarbel
