// Enciphered tables end to end. For dBase IV and FoxPro with memo files and for Visual FoxPro,
// under XOR, GOST and GOST1, the same records are written into a plain table and an enciphered
// one; the enciphered files must be the plain ones with every record enciphered under its
// number and every memo entry's data under its byte position, all else (header, descriptors,
// memo header and block headers) byte for byte the same. The values come back through every
// read road with the password, every field reads without a crash without it or with a wrong
// one, and pack re-enciphers the records it moves under their new numbers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clipper_table.h"
#include "engine/HXDBFBlob.h"
#include "engine/HXDBFDataSet.h"
#include "engine/HXDBFMemoFile.h"
#include "platform/exception.h"
#include "platform/locale.h"
#include "testutil/temp_dir.h"

namespace zarbel {
namespace {

using testutil::ReadFile;

struct TDialectCase {
    xBaseVersion Version;
    xBaseVersion MemoDialect;
    const char* MemoExt;
    int MemoLen;  // length of the M field
};
const TDialectCase kDialects[] = {
    {xBaseIV, xBaseIV, ".dbt", 10},
    {xFoxPro, xFoxPro, ".fpt", 10},
    {xVisualFoxPro, xVisualFoxPro, ".fpt", 4},
};
const TCryptMethod kMethods[] = {cmXOR, cmGost, cmGost1};
const char* const kPassword = "\xCF\xE0\xF0\xEE\xEB\xFC-1";  // CP1251 text

void Activate(THXDBFCrypt& c, TCryptMethod m, const std::string& password) {
    c.SetCryptMethod(m);
    c.SetPassword(password);
    c.SetActive(true);
}
void SetCrypt(THXSmartDBF& t, TCryptMethod m, const std::string& password) { Activate(t.Crypt(), m, password); }

void Create(THXSmartDBF& t, const std::string& path, const TDialectCase& d) {
    t.SetDBFFileName(path);
    t.SetDbfVersion(d.Version);
    struct F {
        const char* name;
        char type;
        int len, dec;
    };
    for (const F& f : {F{"NAME", 'C', 12, 0}, F{"QTY", 'N', 8, 2}, F{"BORN", 'D', 8, 0}, F{"OK", 'L', 1, 0},
                       F{"NOTE", 'M', d.MemoLen, 0}}) {
        THXDBFFieldDef& def = t.DBFFieldDefs().Add();
        def.SetName(f.name);
        def.Setfield_type(f.type);
        def.Setlen(static_cast<std::uint16_t>(f.len));
        def.Setdec(static_cast<std::uint8_t>(f.dec));
    }
    t.CreateTable();
    t.AccessMode().SetAccessMode(TAccessMode::kOpenReadWrite);
    t.SetBufferSize(3 * 40);  // a few records a block: every refill road is taken
    t.Open();
}

std::string Note(int i) {
    switch (i % 4) {
        case 0: return "";
        case 1: return "short " + std::to_string(i);
        case 2: return std::string(700 + i, static_cast<char>('a' + i % 26));  // more than one block
        default: return "\xCF\xF0\xE8\xEC\xE5\xF7\xE0\xED\xE8\xE5 " + std::to_string(i);
    }
}

// The same writes into any table: appends, an edit of a memo value (dBase IV frees the old run
// when it is posted, after reading the record back), a deletion.
void Fill(THXSmartDBF& t, int count) {
    for (int i = 1; i <= count; ++i) {
        t.Append();
        t.FieldByName("NAME").SetAsString("\xC8\xEC\xFF " + std::to_string(i));
        t.FieldByName("QTY").SetAsFloat(i * 1.25);
        t.FieldByName("BORN").SetAsDateTime(EncodeDate(1950 + i, 1 + i % 12, 1 + i % 28));
        t.FieldByName("OK").SetAsBoolean(i % 2 == 0);
        if (!Note(i).empty()) t.FieldByName("NOTE").SetAsString(Note(i));
        t.Post();
    }
    t.SetRecNo(2);
    t.Edit();
    t.FieldByName("NOTE").SetAsString("changed");
    t.Post();
    t.SetRecNo(5);
    t.Delete();
}

// Every value of every record, in file order, as text ("!" for a value that raised).
std::vector<std::string> Values(THXSmartDBF& t) {
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) {
        std::string row = t.IsDeleted() ? "*" : " ";
        for (int f = 0; f < t.Fields().Count(); ++f) {
            try {
                row += t.Fields()[f].AsString() + "|";
            } catch (const Exception&) {
                row += "!|";
            }
        }
        out.push_back(row);
    }
    return out;
}

// What a table shows through every read road: every value forward, the backward refills, the
// block around a record number and the direct read of a record.
std::vector<std::string> EveryRoad(THXSmartDBF& t) {
    std::vector<std::string> out = Values(t);
    for (t.Last(); !t.Bof(); t.Prior()) out.push_back(t.FieldByName("NAME").AsString() + t.FieldByName("NOTE").AsString());
    const int count = t.RecordCount();
    for (int n : {7, 1, count}) {
        t.SetRecNo(n);
        out.push_back(std::to_string(t.RecNo()) + t.FieldByName("NOTE").AsString());
        if (t.ReadRecordDirect(n % count + 1)) out.push_back(t.FieldByName("NAME").AsString());
        t.ReleaseRecordDirect();
    }
    return out;
}

// The enciphered table and memo file are the plain ones with the record images and the memo
// entries' data enciphered, and nothing else changed.
void ExpectEncipheredImage(const std::string& plainPath, const std::string& encPath, const TDialectCase& d,
                           TCryptMethod m) {
    THXDBFCrypt crypt;
    Activate(crypt, m, kPassword);
    const std::string p = ReadFile(plainPath), e = ReadFile(encPath);
    ASSERT_EQ(e.size(), p.size());
    const auto* pb = reinterpret_cast<const std::uint8_t*>(p.data());
    const int headerLen = GetLE16(pb + 8), recLen = GetLE16(pb + 10);
    const std::uint32_t count = GetLE32(pb + 4);
    std::string want = p;
    for (std::uint32_t n = 1; n <= count; ++n)
        crypt.Encrypt(n, want.data() + headerLen + static_cast<std::size_t>(n - 1) * recLen, static_cast<std::size_t>(recLen));
    EXPECT_EQ(want.substr(0, headerLen), p.substr(0, headerLen));
    EXPECT_TRUE(e == want) << "table image";

    const std::string pm = ReadFile(plainPath.substr(0, plainPath.size() - 4) + d.MemoExt);
    const std::string em = ReadFile(encPath.substr(0, encPath.size() - 4) + d.MemoExt);
    ASSERT_EQ(em.size(), pm.size());
    const auto* mb = reinterpret_cast<const std::uint8_t*>(pm.data());
    const bool fox = d.MemoDialect != xBaseIV;
    const std::uint32_t blockSize = fox ? GetBE32(mb + 4) : GetLE16(mb + 20);
    EXPECT_EQ(em.substr(0, 512), pm.substr(0, 512)) << "memo header";
    const TMemoFieldForm form = MemoFieldForm(d.MemoDialect, 'M', 0, false);
    const int noteAt = recLen - d.MemoLen;  // NOTE is the last field
    int entries = 0;
    for (std::uint32_t n = 1; n <= count; ++n) {
        std::uint32_t block = 0;
        if (!DecodeMemoReference(pb + headerLen + static_cast<std::size_t>(n - 1) * recLen + noteAt, d.MemoLen, form.Ref,
                                 block))
            continue;
        const std::size_t pos = static_cast<std::size_t>(block) * blockSize;
        const std::uint32_t len = fox ? GetBE32(mb + pos + 4) : GetLE32(mb + pos + 4) - 8;
        EXPECT_EQ(em.substr(pos, 8), pm.substr(pos, 8)) << "block header of record " << n;
        std::string data = pm.substr(pos + 8, len);
        crypt.Encrypt(static_cast<std::uint32_t>(pos), data.data(), data.size());
        EXPECT_EQ(em.substr(pos + 8, len), data) << "entry of record " << n;
        EXPECT_NE(em.substr(pos + 8, len), pm.substr(pos + 8, len));
        ++entries;
    }
    EXPECT_GE(entries, 4);
}

// The plain table and the enciphered one reopened, a few records a block.
void OpenPair(THXSmartDBF& plain, THXSmartDBF& enc, const std::string& plainPath, const std::string& encPath,
              TCryptMethod m) {
    plain.SetDBFFileName(plainPath);
    enc.SetDBFFileName(encPath);
    for (THXSmartDBF* t : {&plain, &enc}) t->SetBufferSize(120);
    SetCrypt(enc, m, kPassword);
    plain.Open();
    enc.Open();
}

TEST(CryptTableRoundTrip, EveryDialectAndMethodWritesEncipheredImagesAndReadsBack) {
    for (const TDialectCase& d : kDialects)
        for (TCryptMethod m : kMethods) {
            SCOPED_TRACE(std::to_string(d.Version) + " method " + std::to_string(m));
            testutil::TempDir dir;
            const std::string plainPath = dir.File("plain.dbf"), encPath = dir.File("enc.dbf");
            const int count = 11;
            {
                test::TClipperDBF plain, enc;
                Create(plain, plainPath, d);
                SetCrypt(enc, m, kPassword);
                Create(enc, encPath, d);
                Fill(plain, count);
                Fill(enc, count);
            }
            ExpectEncipheredImage(plainPath, encPath, d, m);

            test::TClipperDBF plain, enc;
            OpenPair(plain, enc, plainPath, encPath, m);
            EXPECT_EQ(EveryRoad(enc), EveryRoad(plain));
            const std::vector<std::string> values = Values(plain);
            EXPECT_EQ(values[1].find("changed") != std::string::npos, true);
            EXPECT_EQ(values[4][0], '*');
            enc.Close();

            // without the password, with a wrong one: every field reads, nothing crashes
            for (const char* wrong : {"", "wrong"}) {
                test::TClipperDBF other;
                other.SetDBFFileName(encPath);
                if (*wrong) SetCrypt(other, m, wrong);
                other.Open();
                EXPECT_NE(Values(other), values);
                EXPECT_EQ(Values(other).size(), values.size());
            }
        }
}

TEST(CryptTableRoundTrip, PackReEnciphersMovedRecordsUnderTheirNewNumbers) {
    for (const TDialectCase& d : kDialects) {
        SCOPED_TRACE(d.Version);
        testutil::TempDir dir;
        const std::string plainPath = dir.File("plain.dbf"), encPath = dir.File("enc.dbf");
        {
            test::TClipperDBF plain, enc;
            Create(plain, plainPath, d);
            SetCrypt(enc, cmGost, kPassword);
            Create(enc, encPath, d);
            for (THXSmartDBF* t : {static_cast<THXSmartDBF*>(&plain), static_cast<THXSmartDBF*>(&enc)}) {
                Fill(*t, 9);
                for (int n : {1, 3}) {
                    t->SetRecNo(n);
                    t->Delete();
                }
                t->Pack(true);
                EXPECT_EQ(t->RecordCount(), 6);
            }
            EXPECT_EQ(Values(enc), Values(plain));
        }
        ExpectEncipheredImage(plainPath, encPath, d, cmGost);
        test::TClipperDBF plain, enc;
        OpenPair(plain, enc, plainPath, encPath, cmGost);
        EXPECT_EQ(Values(enc), Values(plain));
        EXPECT_EQ(Values(enc).front().substr(0, 8), " \xC8\xEC\xFF 2  ");
    }
}

TEST(CryptTableRoundTrip, ActiveCryptNeverWritesPlainAndKeepsTheCallersStreamPlain) {
    testutil::TempDir dir;
    const TDialectCase& d = kDialects[0];
    const std::string path = dir.File("c.dbf");
    test::TClipperDBF t;
    Create(t, path, d);
    Fill(t, 2);
    // cmCustomer without an OnEncrypt handler: the post raises and the file keeps its records
    const std::string before = ReadFile(path);
    t.Crypt().SetCryptMethod(cmCustomer);
    t.Crypt().OnDecrypt = [](THXDBFCrypt&, std::uint32_t, void*, std::size_t) {};
    t.Crypt().SetActive(true);
    t.SetRecNo(1);
    t.Edit();
    t.FieldByName("NAME").SetAsString("plain?");
    try {
        t.Post();
        ADD_FAILURE() << "posted";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "THXDBFCrypt.Encrypt: CryptMethod cmCustomer needs an OnEncrypt handler!");
    }
    t.Cancel();
    EXPECT_EQ(ReadFile(path), before);
    // a blob stream saved while the crypt is on still holds the plain value afterwards
    t.Crypt().SetActive(false);
    t.Crypt().OnDecrypt = nullptr;
    t.Crypt().SetCryptMethod(cmXOR);
    t.Crypt().SetPassword("x");
    t.Crypt().SetActive(true);
    t.Edit();
    {
        auto s = t.CreateBlobStream(&t.FieldByName("NOTE"), bmWrite);
        auto* blob = static_cast<THXDBTStream*>(s.get());
        blob->Write("stream value", 12);
        blob->Save();
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob->Memory()), 12), "stream value");
    }
    t.Post();
    EXPECT_EQ(t.FieldByName("NOTE").AsString(), "stream value");
    // a password changed while open takes effect when the table opens again
    t.Crypt().SetPassword("y");
    t.Close();
    t.Open();
    EXPECT_NE(t.FieldByName("NAME").AsString(), "\xC8\xEC\xFF 1       ");
}

}  // namespace
}  // namespace zarbel
