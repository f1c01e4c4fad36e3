// Helpers of the index maintenance tests: a table of four fields made in any dialect, an
// index created on it, the index's entries as the engine walks them and as Perl XBase reads
// the file.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "index/HXDBFNTX.h"
#include "platform/locale.h"
#include "testutil/ntx_corpus.h"

namespace zarbel::wiringtest {

using testutil::TEntry;

// A table shared with other openers, and one held alone.
constexpr std::uint32_t kShared = TAccessMode::kOpenReadWrite | TAccessMode::kShareDenyNone;
constexpr std::uint32_t kExclusive = TAccessMode::kOpenReadWrite | TAccessMode::kShareExclusive;

// NAME C(10), QTY N(8,2), BORN D, NOTE C(6), in the given dialect; the table is closed again.
inline void CreateTable(const std::string& path, xBaseVersion v) {
    THXDBFNTX t;
    t.SetDBFFileName(path);
    t.SetDbfVersion(v);
    struct F {
        const char* name;
        char type;
        int len, dec;
    };
    for (const F& f : {F{"NAME", 'C', 10, 0}, F{"QTY", 'N', 8, 2}, F{"BORN", 'D', 8, 0}, F{"NOTE", 'C', 6, 0}}) {
        THXDBFFieldDef& d = t.DBFFieldDefs().Add();
        d.SetName(f.name);
        d.Setfield_type(f.type);
        d.Setlen(static_cast<std::uint16_t>(f.len));
        d.Setdec(static_cast<std::uint8_t>(f.dec));
    }
    t.CreateTable();
    t.Close();
}

// Adds an index of the open table and creates its file.
inline THXNTXIndex& NewIndex(THXDBFNTX& t, const std::string& file, const std::string& key,
                             const std::string& cond = "", bool unique = false) {
    THXNTXIndex& ix = t.Indexes().Add();
    ix.SetNTXFileName(file);
    ix.SetKeyExpresion(key);
    ix.SetForExpresion(cond);
    ix.SetUnique(unique);
    ix.CreateIndex();
    return ix;
}

// The entries in index order, as the engine walks them (stored key bytes).
inline std::vector<TEntry> EngineWalk(THXNTXIndex& ix) {
    std::vector<TEntry> out;
    for (bool ok = ix.First(); ok; ok = ix.Next()) out.push_back({ix.CurrentRecNo(), testutil::Hex(ix.CurrentKey())});
    return out;
}

// Entries as text, one "recno:keyhex" a line (readable when a comparison fails).
inline std::string Show(const std::vector<TEntry>& v) {
    std::string s;
    for (const TEntry& e : v) s += std::to_string(e.RecNo) + ':' + e.KeyHex + '\n';
    return s;
}

inline bool HavePerlXBase() { return std::system("perl -MXBase::Index -e 1 2>/dev/null") == 0; }

// The entries as Perl XBase reads the file.
inline std::vector<TEntry> PerlWalk(const std::string& file) {
    std::vector<TEntry> out;
    const std::string cmd = "perl " ZARBEL_SOURCE_DIR "/tests/index/ntx_xbase.pl '" + file + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char line[2048];
    while (std::fgets(line, sizeof line, p)) {
        unsigned rec = 0;
        char hex[1024] = {};
        if (std::sscanf(line, "%u %1023s", &rec, hex) == 2) out.push_back({rec, hex});
    }
    pclose(p);
    return out;
}

}  // namespace zarbel::wiringtest
