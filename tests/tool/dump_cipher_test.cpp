// zarbel-dump --cipher/--password: an enciphered table (dBase IV with memo, FoxPro, Visual
// FoxPro) dumps exactly as its plain twin, with the password typed on a UTF-8 or an OEM
// terminal; the option forms and the parameter errors.
#include <gtest/gtest.h>

#include "index/HXDBFNTX.h"
#include "platform/locale.h"
#include "testutil/temp_dir.h"
#include "tool/dump.h"
#include "tool/dump_run.h"

namespace zarbel {
namespace {

using test::Dump;
using test::DumpRun;

// The same records, plain or under the cipher (the password as CP1251 bytes).
void Write(const std::string& path, xBaseVersion v, TCryptMethod m, const std::string& password) {
    THXDBFNTX t;
    t.SetDBFFileName(path);
    t.SetDbfVersion(v);
    const char* names[] = {"NAME", "QTY", "NOTE"};
    const char types[] = {'C', 'N', 'M'};
    const int lens[] = {10, 6, v == xVisualFoxPro ? 4 : 10};
    for (int i = 0; i < 3; ++i) {
        THXDBFFieldDef& d = t.DBFFieldDefs().Add();
        d.SetName(names[i]);
        d.Setfield_type(types[i]);
        d.Setlen(static_cast<std::uint16_t>(lens[i]));
    }
    t.CreateTable();
    if (m != cmNone) {
        t.Crypt().SetCryptMethod(m);
        t.Crypt().SetPassword(password);
        t.Crypt().SetActive(true);
    }
    t.AccessMode().SetAccessMode(2);
    t.Open();
    for (int i = 1; i <= 5; ++i) {
        t.Append();
        t.FieldByName("NAME").SetAsString("\xC8\xEC\xFF" + std::to_string(i));
        t.FieldByName("QTY").SetAsInteger(i * 11);
        t.FieldByName("NOTE").SetAsString(std::string(i * 90, static_cast<char>('a' + i)) + "\xDF");
        t.Post();
    }
    t.Close();
}

TEST(DumpCipher, EncipheredTablesDumpAsTheirPlainTwinsWithThePasswordFromTheTerminal) {
    testutil::TempDir dir;
    const std::string utf8Password = "\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87 1";  // "Ключ 1"
    const std::string ansiPassword = "\xCA\xEB\xFE\xF7 1";
    const std::string oemPassword = "\x8A\xAB\xEE\xE7 1";
    const struct {
        TCryptMethod method;
        const char* name;
    } methods[] = {{cmXOR, "xor"}, {cmGost, "GOST"}, {cmGost1, "gost1"}};
    for (xBaseVersion v : {xBaseIV, xFoxPro, xVisualFoxPro}) {
        const std::string plain = dir.File("p" + std::to_string(v) + ".dbf");
        Write(plain, v, cmNone, "");
        const std::string want = Dump({"--json", "-win", plain}).out;
        ASSERT_NE(want.find("\"recno\":5"), std::string::npos);
        for (const auto& m : methods) {
            SCOPED_TRACE(std::to_string(v) + " " + m.name);
            const std::string enc = dir.File("e" + std::to_string(v) + m.name + ".dbf");
            Write(enc, v, m.method, ansiPassword);
            auto same = [&](const DumpRun& r) {
                EXPECT_EQ(r.status, 0) << r.err;
                std::string out = r.out;
                out.replace(out.find(enc), enc.size(), plain);
                EXPECT_EQ(out, want);
            };
            same(Dump({"--json", "-win", "--cipher", m.name, "--password", utf8Password, enc}));
            same(Dump({"--json", "-win", std::string("--cipher=") + m.name, "--password=" + oemPassword, enc},
                      ConsoleEncoding::Oem));
            // a wrong password (a byte that is not UTF-8 is taken as it is) still dumps every record
            const DumpRun wrong = Dump({"--json", "-win", "--cipher", m.name, "--password=\xC3", enc});
            EXPECT_NE(wrong.out.find("\"recno\":5"), std::string::npos);
            EXPECT_NE(wrong.out, Dump({"--json", "-win", "--cipher", m.name, "--password", utf8Password, enc}).out);
        }
    }
}

TEST(DumpCipher, ParameterErrors) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--cipher", "gost", "t.dbf"}, "zarbel-dump: --cipher needs --password\n"},
        {{"--password=x", "t.dbf"}, "zarbel-dump: --password needs --cipher\n"},
        {{"--cipher=des", "--password", "x", "t.dbf"}, "zarbel-dump: unknown cipher des (xor, gost or gost1)\n"},
        {{"t.dbf", "--cipher"}, "zarbel-dump: --cipher needs a value\n"},
    };
    for (const auto& c : cases) {
        const DumpRun r = Dump(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), c.message);
        EXPECT_NE(r.err.find("Usage: zarbel-dump"), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
}  // namespace zarbel
