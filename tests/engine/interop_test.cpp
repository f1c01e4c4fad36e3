// Interop with independent DBF programs (Debian's python3-dbfread and python3-dbf, run by the
// system interpreter): tables created and filled by the engine read back with the same values
// by dbfread, and tables written by python3-dbf read by the engine with the values it wrote.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "clipper_table.h"
#include "dbf_builder.h"
#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"
#include "platform/locale.h"

namespace zarbel {
namespace {

using test::TempPath;
using test::WriteFile;

const char* const kPython = "/usr/bin/python3";

// Prints one line per live record: "NAME=value|..." with values in a fixed form.
const char* const kReadScript = R"PY(
import sys, datetime, decimal
import dbfread
t = dbfread.DBF(sys.argv[1], encoding='cp1251', load=True)
print('version=%02x' % t.header.dbversion)
def show(v):
    if v is None: return 'None'
    if isinstance(v, (bytes, bytearray)): return 'hex:' + bytes(v).hex()
    if isinstance(v, bool): return str(v)
    if isinstance(v, float): return repr(v)
    if isinstance(v, decimal.Decimal): return 'dec:' + str(v.normalize())
    if isinstance(v, datetime.datetime): return v.isoformat()
    if isinstance(v, datetime.date): return v.isoformat()
    if isinstance(v, str): return v.rstrip('\x00')
    return str(v)
for rec in t:
    print('|'.join('%s=%s' % (k, show(v)) for k, v in rec.items()))
)PY";

// Writes three tables with python3-dbf.
const char* const kWriteScript = R"PY(
import sys, datetime, dbf
d = sys.argv[1]
t = dbf.Table(d + '/db3.dbf', 'NAME C(10); QTY N(6,2); BORN D; OK L; NOTE M', dbf_type='db3', codepage='cp1251')
t.open(dbf.READ_WRITE)
t.append(('\u0418\u0432\u0430\u043d', 12.5, datetime.date(2024, 3, 5), True, 'memo one'))
t.append(('Bob', -3, None, False, 'second memo'))
t.close()
t = dbf.Table(d + '/fp.dbf', 'NAME C(10); QTY N(6,2); RATE F(8,3); BORN D; OK L; NOTE M', dbf_type='fp', codepage='cp1251')
t.open(dbf.READ_WRITE)
t.append(('Ann', 0.75, 1.25, datetime.date(1999, 12, 31), False, 'fox memo'))
t.close()
t = dbf.Table(d + '/vfp.dbf', 'NAME C(10) NULL; QTY N(6,0) NULL; ID I; PRICE Y; WHEN T; RATIO B; OK L', dbf_type='vfp', codepage='cp1251')
t.open(dbf.READ_WRITE)
t.append(('Zed', 42, 7, 12.25, datetime.datetime(2024, 3, 5, 13, 45, 30), 2.5, True))
t.append((dbf.Null, dbf.Null, -8, 0, None, 0, False))
t.close()
)PY";

struct RunResult {
    int status = -1;
    std::string output;
};

RunResult RunPython(const std::string& scriptText, const std::string& arg) {
    const std::string script = TempPath("interop.py");
    WriteFile(script, scriptText);
    RunResult r;
    std::string cmd = std::string(kPython) + " '" + script + "' '" + arg + "' 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
    int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    std::remove(script.c_str());
    return r;
}

// Skips the test when the independent reader/writer is not installed.
bool HaveModule(const char* module) {
    if (!std::filesystem::exists(kPython)) return false;
    RunResult r = RunPython(std::string("import ") + module + "\n", "");
    return r.status == 0;
}

std::vector<std::string> Lines(const std::string& s) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < s.size()) {
        std::size_t nl = s.find('\n', at);
        if (nl == std::string::npos) nl = s.size();
        out.push_back(s.substr(at, nl - at));
        at = nl + 1;
    }
    return out;
}

struct FieldSpec {
    const char* name;
    char type;
    int len;
    int dec;
    std::uint8_t flags = 0;
};

// A table created by the engine; rows are filled the way the merge tool does (Append, each
// field by name, Post).
class EngineTable {
public:
    EngineTable(const std::string& name, xBaseVersion v, std::initializer_list<FieldSpec> fields)
        : Path_(TempPath(name)) {
        Remove();
        t.SetDBFFileName(Path_);
        t.SetDbfVersion(v);
        for (const FieldSpec& f : fields) {
            THXDBFFieldDef& d = t.DBFFieldDefs().Add();
            d.SetName(f.name);
            d.Setfield_type(f.type);
            d.Setlen(static_cast<std::uint16_t>(f.len));
            d.Setdec(static_cast<std::uint16_t>(f.dec));
            d.FieldFlag().SetFieldFlag(f.flags);
        }
        t.CreateTable();
        t.AccessMode().SetAccessMode(TAccessMode::kOpenReadWrite);
        t.Open();
    }
    ~EngineTable() {
        t.Close();
        Remove();
    }
    void Row(const std::function<void(test::TClipperDBF&)>& fill) {
        t.Append();
        fill(t);
        t.Post();
    }
    std::vector<std::string> ReadBack() {
        t.Close();
        RunResult r = RunPython(kReadScript, Path_);
        EXPECT_EQ(r.status, 0) << r.output;
        return Lines(r.output);
    }
    void Set(const char* field, const std::string& text) { t.FieldByName(field).SetAsString(text); }
    test::TClipperDBF t;

private:
    void Remove() {
        std::filesystem::path p(Path_);
        std::remove(Path_.c_str());
        std::remove(p.replace_extension(".dbt").c_str());
        std::remove(p.replace_extension(".fpt").c_str());
    }
    std::string Path_;
};

#define REQUIRE_MODULE(m)                                                                      \
    if (!HaveModule(m)) GTEST_SKIP() << "/usr/bin/python3 with " m " is not installed "        \
                                        "(scripts/test.sh installs python3-dbfread and python3-dbf)"

TEST(Interop, DBaseIIITablesReadByDbfread) {
    REQUIRE_MODULE("dbfread");
    {
        EngineTable e("io_db3.dbf", xBaseIII,
                      {{"NAME", 'C', 10, 0}, {"QTY", 'N', 8, 2}, {"CNT", 'N', 5, 0}, {"BORN", 'D', 8, 0}, {"OK", 'L', 1, 0}});
        e.Row([&](test::TClipperDBF&) {
            e.Set("NAME", "\xC8\xE2\xE0\xED");  // CP1251 text
            e.Set("QTY", "12,5");
            e.Set("CNT", "-42");
            e.Set("BORN", "05.03.2024");
            e.Set("OK", "True");
        });
        e.Row([&](test::TClipperDBF&) {
            e.Set("NAME", "Bob");
            e.Set("QTY", "");
            e.Set("OK", "False");
        });
        std::vector<std::string> lines = e.ReadBack();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], "version=03");
        EXPECT_EQ(lines[1], "NAME=\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD|QTY=12.5|CNT=-42|BORN=2024-03-05|OK=True");
        EXPECT_EQ(lines[2], "NAME=Bob|QTY=None|CNT=None|BORN=None|OK=False");
    }
    {
        EngineTable e("io_db3m.dbf", xBaseIII, {{"NAME", 'C', 6, 0}, {"NOTE", 'M', 10, 0}});
        e.Row([&](test::TClipperDBF&) {
            e.Set("NAME", "a");
            e.Set("NOTE", "first memo text");
        });
        e.Row([&](test::TClipperDBF&) { e.Set("NAME", "b"); });
        e.Row([&](test::TClipperDBF&) {
            e.Set("NAME", "c");
            e.Set("NOTE", std::string(700, 'x'));  // more than one block
        });
        std::vector<std::string> lines = e.ReadBack();
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[0], "version=83");
        EXPECT_EQ(lines[1], "NAME=a|NOTE=first memo text");
        EXPECT_EQ(lines[2], "NAME=b|NOTE=None");
        EXPECT_EQ(lines[3], "NAME=c|NOTE=" + std::string(700, 'x'));
    }
}

TEST(Interop, DBaseIVAndFoxProMemoTablesReadByDbfread) {
    REQUIRE_MODULE("dbfread");
    {
        EngineTable e("io_db4.dbf", xBaseIV, {{"NAME", 'C', 8, 0}, {"RATE", 'F', 10, 3}, {"NOTE", 'M', 10, 0}});
        e.Row([&](test::TClipperDBF&) {
            e.Set("NAME", "one");
            e.Set("RATE", "3,25");
            e.Set("NOTE", "dBase IV memo");
        });
        e.Row([&](test::TClipperDBF&) {
            e.Set("NAME", "two");
            e.Set("RATE", "-0,5");
            e.Set("NOTE", "\xEF\xF0\xE8\xEC\xE5\xF7\xE0\xED\xE8\xE5");  // CP1251
        });
        std::vector<std::string> lines = e.ReadBack();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], "version=8b");
        EXPECT_EQ(lines[1], "NAME=one|RATE=3.25|NOTE=dBase IV memo");
        EXPECT_EQ(lines[2],
                  "NAME=two|RATE=-0.5|NOTE=\xD0\xBF\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x87\xD0\xB0\xD0\xBD\xD0\xB8\xD0\xB5");
    }
    {
        EngineTable e("io_fox.dbf", xFoxPro, {{"NAME", 'C', 8, 0}, {"NOTE", 'M', 10, 0}, {"DAY", 'D', 8, 0}});
        e.Row([&](test::TClipperDBF&) {
            e.Set("NAME", "fox");
            e.Set("NOTE", "FoxPro memo");
            e.Set("DAY", "31.12.1999");
        });
        e.Row([&](test::TClipperDBF&) {
            e.Set("NAME", "den");
            e.Set("NOTE", std::string(600, 'y'));
        });
        std::vector<std::string> lines = e.ReadBack();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], "version=f5");
        EXPECT_EQ(lines[1], "NAME=fox|NOTE=FoxPro memo|DAY=1999-12-31");
        EXPECT_EQ(lines[2], "NAME=den|NOTE=" + std::string(600, 'y') + "|DAY=None");
    }
}

TEST(Interop, VisualFoxProTableReadByDbfread) {
    REQUIRE_MODULE("dbfread");
    EngineTable e("io_vfp.dbf", xVisualFoxPro,
                  {{"ID", 'I', 4, 0, TFieldFlag::kAutoIncrement},
                   {"NAME", 'C', 10, 0, TFieldFlag::kCanStoreNull},
                   {"QTY", 'N', 6, 0, TFieldFlag::kCanStoreNull},
                   {"PRICE", 'Y', 8, 4},
                   {"WHEN", 'T', 8, 0},
                   {"RATIO", 'B', 8, 0},
                   {"NOTE", 'M', 4, 0}});
    e.Row([&](test::TClipperDBF&) {
        e.Set("NAME", "Zed");
        e.Set("QTY", "42");
        e.Set("PRICE", "12,3456");
        e.t.FieldByName("WHEN").SetAsDateTime(EncodeDate(2024, 3, 5) + EncodeTime(13, 45, 30, 0));
        e.Set("RATIO", "2,5");
        e.Set("NOTE", "vfp memo");
    });
    e.Row([&](test::TClipperDBF&) {
        e.Set("NAME", "");  // no value: the null bit
        e.t.FieldByName("NAME").Clear();
        e.t.FieldByName("QTY").Clear();
        e.Set("PRICE", "-7");
    });
    std::vector<std::string> lines = e.ReadBack();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "version=30");
    // ID counts from 1; _NULLFLAGS: NAME bit 0, QTY bit 1 (a new record starts all null, 0xFF)
    EXPECT_EQ(lines[1],
              "ID=1|NAME=Zed|QTY=42|PRICE=dec:12.3456|WHEN=2024-03-05T13:45:30|RATIO=2.5|NOTE=vfp memo|_NULLFLAGS=hex:fc");
    EXPECT_EQ(lines[2], "ID=2|NAME=|QTY=None|PRICE=dec:-7|WHEN=None|RATIO=0.0|NOTE=None|_NULLFLAGS=hex:ff");
}

TEST(Interop, TablesWrittenByPythonDbfReadByTheEngine) {
    REQUIRE_MODULE("dbf");
    const std::string dir = TempPath("io_pydbf");
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    RunResult r = RunPython(kWriteScript, dir);
    ASSERT_EQ(r.status, 0) << r.output;
    auto open = [&](test::TClipperDBF& t, const char* name) {
        t.SetDBFFileName(dir + "/" + name);
        t.Open();
    };
    {
        test::TClipperDBF t;
        open(t, "db3.dbf");
        ASSERT_EQ(t.RecordCount(), 2);
        EXPECT_EQ(t.FieldByName("NAME").AsString(), "\xC8\xE2\xE0\xED      ");
        EXPECT_DOUBLE_EQ(t.FieldByName("QTY").AsFloat(), 12.5);
        EXPECT_EQ(t.FieldByName("BORN").AsDateTime(), EncodeDate(2024, 3, 5));
        EXPECT_TRUE(t.FieldByName("OK").AsBoolean());
        EXPECT_EQ(t.FieldByName("NOTE").AsString(), "memo one");
        t.Next();
        EXPECT_EQ(t.FieldByName("NAME").AsString(), "Bob       ");
        EXPECT_DOUBLE_EQ(t.FieldByName("QTY").AsFloat(), -3);
        EXPECT_TRUE(t.FieldByName("BORN").IsNull());
        EXPECT_FALSE(t.FieldByName("OK").AsBoolean());
        EXPECT_EQ(t.FieldByName("NOTE").AsString(), "second memo");
    }
    {
        test::TClipperDBF t;
        open(t, "fp.dbf");
        ASSERT_EQ(t.RecordCount(), 1);
        EXPECT_EQ(t.FieldByName("NAME").AsString(), "Ann       ");
        EXPECT_DOUBLE_EQ(t.FieldByName("QTY").AsFloat(), 0.75);
        EXPECT_DOUBLE_EQ(t.FieldByName("RATE").AsFloat(), 1.25);
        EXPECT_EQ(t.FieldByName("BORN").AsDateTime(), EncodeDate(1999, 12, 31));
        EXPECT_FALSE(t.FieldByName("OK").AsBoolean());
        EXPECT_EQ(t.FieldByName("NOTE").AsString(), "fox memo");
    }
    {
        test::TClipperDBF t;
        open(t, "vfp.dbf");
        ASSERT_EQ(t.RecordCount(), 2);
        EXPECT_EQ(t.FieldByName("NAME").AsString(), "Zed       ");
        EXPECT_EQ(t.FieldByName("QTY").AsInteger(), 42);
        EXPECT_EQ(t.FieldByName("ID").AsInteger(), 7);
        EXPECT_DOUBLE_EQ(t.FieldByName("PRICE").AsFloat(), 12.25);
        EXPECT_EQ(t.FieldByName("WHEN").AsDateTime(), EncodeDate(2024, 3, 5) + EncodeTime(13, 45, 30, 0));
        EXPECT_DOUBLE_EQ(t.FieldByName("RATIO").AsFloat(), 2.5);
        EXPECT_TRUE(t.FieldByName("OK").AsBoolean());
        t.Next();
        EXPECT_TRUE(t.FieldByName("NAME").IsNull());
        EXPECT_TRUE(t.FieldByName("QTY").IsNull());
        EXPECT_EQ(t.FieldByName("ID").AsInteger(), -8);
        EXPECT_FALSE(t.FieldByName("OK").AsBoolean());
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zarbel
