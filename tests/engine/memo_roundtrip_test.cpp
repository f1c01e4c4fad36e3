// Memo values end to end: a table created and filled by the engine, memo values changed (the
// dBase IV layout reuses the freed run), records deleted and packed, then read back by the
// engine and by an independent reader (Debian's python3-dbfread).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <stdlib.h>

#include "clipper_table.h"
#include "engine/HXDBFBlob.h"
#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"
#include "testutil/temp_dir.h"

namespace zarbel {
namespace {

std::string ReadAll(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::string s;
    if (!f) return s;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
    return s;
}

// Lines "NAME=..|NOTE=.." of the live records as dbfread sees them; empty when it cannot run.
std::vector<std::string> Dbfread(const testutil::TempDir& dir, const std::string& table) {
    const char* script = R"PY(
import sys, dbfread
for rec in dbfread.DBF(sys.argv[1], encoding='cp1251'):
    print('|'.join('%s=%s' % (k, v) for k, v in rec.items()))
)PY";
    std::string py = dir.File("read.py");
    std::FILE* f = std::fopen(py.c_str(), "wb");
    std::fputs(script, f);
    std::fclose(f);
    std::vector<std::string> lines;
    if (!std::filesystem::exists("/usr/bin/python3")) return lines;
    std::string cmd = "/usr/bin/python3 '" + py + "' '" + table + "' 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return lines;
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int st = ::pclose(p);
    if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) {
        ADD_FAILURE() << out;
        return lines;
    }
    std::size_t at = 0;
    while (at < out.size()) {
        std::size_t nl = out.find('\n', at);
        if (nl == std::string::npos) nl = out.size();
        lines.push_back(out.substr(at, nl - at));
        at = nl + 1;
    }
    return lines;
}

bool HaveDbfread() {
    return std::filesystem::exists("/usr/bin/python3") &&
           std::system("/usr/bin/python3 -c 'import dbfread' >/dev/null 2>&1") == 0;
}

void Create(test::TClipperDBF& t, const std::string& path, xBaseVersion v) {
    t.SetDBFFileName(path);
    t.SetDbfVersion(v);
    THXDBFFieldDef& a = t.DBFFieldDefs().Add();
    a.SetName("NAME");
    a.Setfield_type('C');
    a.Setlen(6);
    THXDBFFieldDef& m = t.DBFFieldDefs().Add();
    m.SetName("NOTE");
    m.Setfield_type('M');
    m.Setlen(10);
    t.CreateTable();
    t.AccessMode().SetAccessMode(TAccessMode::kOpenReadWrite | TAccessMode::kShareDenyNone);  // shared: the files are read while open
    t.Open();
}

void Add(test::TClipperDBF& t, const std::string& name, const std::string& note) {
    t.Append();
    t.FieldByName("NAME").SetAsString(name);
    if (!note.empty()) t.FieldByName("NOTE").SetAsString(note);
    t.Post();
}

std::vector<std::string> Walk(THXSmartDBF& t) {
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next())
        out.push_back(t.FieldByName("NAME").AsString() + "|" + t.FieldByName("NOTE").AsString());
    return out;
}

TEST(MemoRoundTrip, ChangedValuesDeletedRecordsPackAndAnIndependentReader) {
    for (xBaseVersion v : {xBaseIII, xBaseIV, xFoxPro}) {
        SCOPED_TRACE(static_cast<int>(v));
        testutil::TempDir dir;
        std::string path = dir.File("r.dbf");
        std::string memoPath = dir.File(v == xFoxPro ? "r.fpt" : "r.dbt");
        {
            test::TClipperDBF t;
            Create(t, path, v);
            Add(t, "one", "first");
            Add(t, "two", std::string(700, 'b'));
            Add(t, "three", "third");
            Add(t, "four", "");
            // a changed value: in the dBase IV layout the old run is freed when the edit is
            // posted (it becomes the head of the free chain) and the next value takes it
            t.First();
            t.Edit();
            t.FieldByName("NOTE").SetAsString("FIRST, changed");
            t.Post();
            if (v == xBaseIV) {
                std::string memo = ReadAll(memoPath);
                EXPECT_EQ(GetLE32(reinterpret_cast<const std::uint8_t*>(memo.data())), 1u);
                EXPECT_EQ(GetLE32(reinterpret_cast<const std::uint8_t*>(memo.data()) + 516), 1u);  // run of 1 block
            }
            t.Next();
            t.Next();
            t.Edit();
            t.FieldByName("NOTE").SetAsString("3rd");
            t.Post();
            if (v == xBaseIV) {
                std::string memo = ReadAll(memoPath);
                EXPECT_EQ(memo.substr(512, 4), std::string("\xFF\xFF\x08\x00", 4));
                EXPECT_EQ(memo.substr(520, 3), "3rd");
            }
            // an empty value clears a field
            t.Edit();
            t.FieldByName("NOTE").SetAsString("");
            t.Post();
            EXPECT_EQ(Walk(t), (std::vector<std::string>{"one   |FIRST, changed", "two   |" + std::string(700, 'b'),
                                                         "three |", "four  |"}));
            // delete "two" and pack
            t.First();
            t.Next();
            t.Delete();
            t.Pack(true);
            EXPECT_EQ(Walk(t), (std::vector<std::string>{"one   |FIRST, changed", "three |", "four  |"}));
            t.Close();
        }
        {
            test::TClipperDBF t;
            t.SetDBFFileName(path);
            t.Open();
            EXPECT_EQ(Walk(t), (std::vector<std::string>{"one   |FIRST, changed", "three |", "four  |"}));
        }
        if (!HaveDbfread()) continue;
        EXPECT_EQ(Dbfread(dir, path),
                  (std::vector<std::string>{"NAME=one|NOTE=FIRST, changed", "NAME=three|NOTE=None", "NAME=four|NOTE=None"}));
    }
}

TEST(MemoRoundTrip, NestedTableEntriesReadRawAndRewriteInPlace) {
    testutil::TempDir dir;
    std::string path = dir.File("n.dbf");
    test::TClipperDBF t;
    t.SetDBFFileName(path);
    t.SetDbfVersion(xBaseIV);
    THXDBFFieldDef& a = t.DBFFieldDefs().Add();
    a.SetName("NAME");
    a.Setfield_type('C');
    a.Setlen(4);
    THXDBFFieldDef& n = t.DBFFieldDefs().Add();
    n.SetName("KIDS");
    n.Setfield_type('E');
    n.Setextend_type(dbftDBFDataSet);
    THXDBFFieldDef& c = n.DBFFieldDefs().Add();
    c.SetName("KID");
    c.Setfield_type('C');
    c.Setlen(8);
    t.CreateTable();
    t.AccessMode().SetAccessMode(TAccessMode::kOpenReadWrite | TAccessMode::kShareDenyNone);  // shared: the memo file is damaged while open
    t.SetOEM(true);  // nested entries are never translated
    t.Open();
    TField* kids = t.FindField("KIDS");
    ASSERT_NE(kids, nullptr);
    TMemoryStream out;
    t.Append();
    t.FieldByName("NAME").SetAsString("a");
    EXPECT_FALSE(t.LoadNestedStream(kids, out));  // holds nothing yet
    const std::string raw("\x03\x8F\x00\x1A nested table bytes", 24);
    {
        std::unique_ptr<TStream> s = t.CreateBlobStream(kids, bmWrite);
        s->Write(raw.data(), static_cast<std::int64_t>(raw.size()));
    }
    t.Post();
    ASSERT_TRUE(t.LoadNestedStream(kids, out));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Memory()), static_cast<std::size_t>(out.Size())), raw);
    std::string ref(reinterpret_cast<const char*>(t.ActiveRecord()) + 5, 10);
    t.Edit();
    TMemoryStream again;
    const std::string changed(raw.size(), 'z');
    again.Write(changed.data(), static_cast<std::int64_t>(changed.size()));
    t.RewriteBlob(kids, again);
    t.Post();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.ActiveRecord()) + 5, 10), ref);  // same entry
    ASSERT_TRUE(t.LoadNestedStream(kids, out));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Memory()), static_cast<std::size_t>(out.Size())), changed);
    try {
        t.LoadNestedStream(&t.FieldByName("NAME"), out);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "THXSmartDBF: Nested stream create error!");
    }
}

TEST(MemoRoundTrip, FailedSaveInsideTheStreamIsRaisedByPost) {
    testutil::TempDir dir;
    std::string path = dir.File("f.dbf");
    test::TClipperDBF t;
    Create(t, path, xBaseIV);
    Add(t, "one", "first");
    // the memo file's block size damaged behind the table's back: the next save cannot work
    {
        std::string memo = ReadAll(dir.File("f.dbt"));
        memo[20] = 0;
        memo[21] = 0;
        std::FILE* f = std::fopen(dir.File("f.dbt").c_str(), "r+b");
        std::fwrite(memo.data(), 1, 24, f);
        std::fclose(f);
    }
    t.First();
    t.Edit();
    t.FieldByName("NOTE").SetAsString("second");  // the stream's destructor cannot throw
    try {
        t.Post();
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "THXSmartDBF: Lob stream save error!");
    }
    t.Cancel();
    // an explicit save raises at once
    t.Edit();
    {
        std::unique_ptr<TStream> s = t.CreateBlobStream(&t.FieldByName("NOTE"), bmWrite);
        s->Write("x", 1);
        EXPECT_THROW(static_cast<THXDBTStream&>(*s).Save(), Exception);
    }
    t.Post();  // nothing pending any more
}

}  // namespace
}  // namespace zarbel
