// The table's collaborators through their interfaces: an index order that walks the records
// backwards fills the read block, the table deciphers every record it loads, and maintenance
// and creation reach the index with the record numbers they concern.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clipper_table.h"
#include "dbf_builder.h"
#include "engine/HXDBFCollaborators.h"
#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"

namespace zarbel {
namespace {

using test::BuildDbf;
using test::Pad;
using test::ReadFile;
using test::TempPath;
using test::WriteFile;

// n records of one C(9) field "r01".."rNN"; flipped: every byte after the deletion flag
// inverted, as TFlip enciphers it.
std::string Records(int n, bool flipped = false) {
    std::vector<std::string> recs;
    for (int i = 1; i <= n; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "r%02d", i);
        std::string r = " " + Pad(name, 9);
        if (flipped)
            for (std::size_t j = 1; j < r.size(); ++j) r[j] = static_cast<char>(~r[j]);
        recs.push_back(r);
    }
    return BuildDbf(0x03, {{"NAME", 'C', 9}}, recs, true);
}

class TFlip : public TDBFCipher {
public:
    bool Active() const override { return true; }
    void Encipher(std::uint32_t context, void* data, std::size_t size) override {
        Contexts.push_back(context);
        auto* b = static_cast<std::uint8_t*>(data);
        for (std::size_t i = 1; i < size; ++i) b[i] = static_cast<std::uint8_t>(~b[i]);
    }
    void Decipher(std::uint32_t context, void* data, std::size_t size) override { Encipher(context, data, size); }
    std::vector<std::uint32_t> Contexts;
};

// Key order = record numbers descending. Keeps the key positions (0 = record N) of the block
// it filled last.
class TReverseOrder : public TDBFIndexOrder {
public:
    std::vector<std::string> Calls;

    void Open(THXSmartDBF& t) override {
        Calls.push_back("Open");
        Table = &t;
    }
    void Close() override { Calls.push_back("Close"); }
    void CreateFiles(THXSmartDBF&) override { Calls.push_back("CreateFiles"); }
    bool HasCurrentOrder() const override { return Current && Table; }
    int ReadFirst(TDBFReadBlock& b) override { return Forward(b, 0); }
    int ReadLast(TDBFReadBlock& b) override { return Backward(b, Count() - 1); }
    int ReadForward(TDBFReadBlock& b) override { return Forward(b, Last + 1); }
    int ReadBackward(TDBFReadBlock& b) override { return Backward(b, First - 1); }
    int ReadAround(TDBFReadBlock& b, std::uint32_t n) override {
        return Forward(b, Count() - static_cast<int>(n));
    }
    std::uint32_t Seek(const std::uint8_t*, std::size_t, bool) override { return 0; }
    bool InRange(const std::uint8_t*) override { return true; }
    void EditBegins(const std::uint8_t* rec) override { Calls.push_back("Edit " + Name(rec)); }
    std::uint32_t Appended(std::uint32_t n, const std::uint8_t* rec, bool) override {
        Calls.push_back("Appended " + std::to_string(n) + " " + Name(rec));
        return n;
    }
    std::uint32_t Updated(std::uint32_t n, const std::uint8_t* rec, bool) override {
        Calls.push_back("Updated " + std::to_string(n) + " " + Name(rec));
        return n;
    }
    void PackBegin() override { Calls.push_back("PackBegin"); }
    void PackAdd(const std::uint8_t* rec, std::uint32_t n) override {
        Calls.push_back("PackAdd " + std::to_string(n) + " " + Name(rec));
    }
    void PackEnd() override { Calls.push_back("PackEnd"); }

    bool Current = true;
    THXSmartDBF* Table = nullptr;

private:
    int First = 0, Last = -1;
    int Count() const { return static_cast<int>(Table->Header().RecordCount()); }
    static std::string Name(const std::uint8_t* rec) { return std::string(reinterpret_cast<const char*>(rec) + 1, 3); }
    std::uint32_t RecordAt(int pos) const { return static_cast<std::uint32_t>(Count() - pos); }
    int Forward(TDBFReadBlock& b, int from) {
        int k = 0;
        while (k < b.Capacity() && from + k < Count() && b.Load(k, RecordAt(from + k))) ++k;
        if (k > 0) First = from, Last = from + k - 1;
        return k;
    }
    int Backward(TDBFReadBlock& b, int from) {
        int k = 0;
        while (k < b.Capacity() && from - k >= 0 && b.Load(b.Capacity() - 1 - k, RecordAt(from - k))) ++k;
        if (k > 0) First = from - k + 1, Last = from;
        return k;
    }
};

struct Table {
    std::string path;
    TReverseOrder index;
    TFlip cipher;
    test::TClipperDBF t;
    Table(const std::string& name, const std::string& bytes, bool enciphered) : path(TempPath(name)) {
        WriteFile(path, bytes);
        t.SetDBFFileName(path);
        t.SetBufferSize(40);  // four records a block
        t.SetIndexOrder(&index);
        if (enciphered) t.SetCipher(&cipher);
        t.AccessMode().SetAccessMode(TAccessMode::kOpenReadWrite);
    }
    ~Table() {
        t.Close();
        std::remove(path.c_str());
    }
    std::string Walk(bool backwards) {
        std::string seen;
        if (backwards) {
            for (t.Last(); !t.Bof(); t.Prior()) seen += t.FieldByName("NAME").AsString().substr(1, 2) + " ";
        } else {
            for (t.First(); !t.Eof(); t.Next()) seen += t.FieldByName("NAME").AsString().substr(1, 2) + " ";
        }
        return seen;
    }
};

TEST(Collaborators, IndexFillsTheReadBlockAndTheTableDecipheringEveryRecord) {
    for (bool enciphered : {false, true}) {
        Table tb("co_walk.dbf", Records(10, enciphered), enciphered);
        tb.t.Open();
        EXPECT_EQ(tb.Walk(false), "10 09 08 07 06 05 04 03 02 01 ");
        EXPECT_EQ(tb.Walk(true), "01 02 03 04 05 06 07 08 09 10 ");
        tb.t.SetRecNo(3);  // a block from record 3 on, in key order
        EXPECT_EQ(tb.t.FieldByName("NAME").AsString(), "r03      ");
        tb.t.Next();
        EXPECT_EQ(tb.t.FieldByName("NAME").AsString(), "r02      ");
        // without a current order the table walks in file order through the same cipher
        tb.index.Current = false;
        EXPECT_EQ(tb.Walk(false), "01 02 03 04 05 06 07 08 09 10 ");
        if (enciphered) {
            EXPECT_FALSE(tb.cipher.Contexts.empty());
        }
    }
}

TEST(Collaborators, MaintenanceAndPackReachTheIndexWithRecordNumbersAndPlainImages) {
    Table tb("co_maint.dbf", Records(3, true), true);
    tb.t.Open();
    tb.index.Calls.clear();
    tb.t.Append();
    tb.t.FieldByName("NAME").SetAsString("new");
    tb.t.Post();
    tb.t.SetRecNo(2);
    tb.t.Edit();
    tb.t.FieldByName("NAME").SetAsString("chg");
    tb.t.Post();
    tb.t.SetRecNo(1);
    tb.t.Delete();
    tb.t.Pack();
    EXPECT_EQ(tb.index.Calls, (std::vector<std::string>{"Appended 4 new", "Edit r02", "Updated 2 chg", "PackBegin",
                                                         "PackAdd 1 chg", "PackAdd 2 r03", "PackAdd 3 new", "PackEnd"}));
    tb.t.Close();
    // the moved records were enciphered again under their new numbers
    std::string first = " chg      ";
    for (std::size_t j = 1; j < first.size(); ++j) first[j] = static_cast<char>(~first[j]);
    EXPECT_EQ(ReadFile(tb.path).substr(65, 10), first);
    tb.index.Current = false;
    tb.t.Open();
    EXPECT_EQ(tb.Walk(false), "hg 03 ew ");
}

TEST(Collaborators, CreationOpensTheNewTableOnceForItsIndexFiles) {
    // A table with an index collaborator opens the table it created (which checks it the way
    // every later open will) and creates the index files meanwhile; one without does neither.
    // FoxPro allows T at creation; the reader wants Visual FoxPro for it.
    auto create = [](THXSmartDBF& t, const std::string& path) {
        t.SetDBFFileName(path);
        t.SetDbfVersion(xFoxPro);
        THXDBFFieldDef& d = t.DBFFieldDefs().Add();
        d.SetName("WHEN");
        d.Setfield_type('T');
        d.Setlen(8);
        try {
            t.CreateTable();
        } catch (const Exception& e) {
            return e.Message();
        }
        return std::string("(created)");
    };
    const std::string plainPath = TempPath("co_plain.dbf"), indexedPath = TempPath("co_indexed.dbf");
    THXSmartDBF plain;
    EXPECT_EQ(create(plain, plainPath), "(created)");
    TReverseOrder index;
    THXSmartDBF indexed;
    indexed.SetIndexOrder(&index);
    EXPECT_EQ(create(indexed, indexedPath),
              "THXSmartDBF.HiddenInitFieldDefs: DBF Version must be xVisualFoxPro or greater for field type \"T\"!");
    EXPECT_EQ(ReadFile(indexedPath), ReadFile(plainPath));
    std::remove(plainPath.c_str());
    std::remove(indexedPath.c_str());

    const std::string goodPath = TempPath("co_good.dbf");
    THXSmartDBF good;
    TReverseOrder goodIndex;
    good.SetIndexOrder(&goodIndex);
    good.SetDBFFileName(goodPath);
    good.SetDbfVersion(xBaseIV);
    THXDBFFieldDef& d = good.DBFFieldDefs().Add();
    d.SetName("A");
    d.Setfield_type('C');
    d.Setlen(3);
    good.CreateTable();
    EXPECT_EQ(goodIndex.Calls, (std::vector<std::string>{"CreateFiles", "Close"}));
    EXPECT_FALSE(good.Active());
    std::remove(goodPath.c_str());
}

}  // namespace
}  // namespace zarbel
