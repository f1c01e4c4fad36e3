// libFuzzer target for NTX reading: the input becomes an NTX file beside a fixed table of 255
// records (CHARFIELD C(10), NUMFIELD N(3), DATEFIELD D, the fields the corpus's VO indexes are
// keyed on); the index is opened with the table, walked both ways, every key it gave is
// sought, the table is walked through it both ways, and VerifyIndex runs. The engine may refuse
// the input with zarbel::Exception; anything else (a crash, a hang, a sanitizer report, another
// exception) is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "index/HXDBFNTX.h"
#include "platform/exception.h"

namespace {

void Put(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

const std::string& Dir() {
    static const std::string dir = [] {
        const char* t = std::getenv("TMPDIR");
        std::string d = std::string(t && *t ? t : "/tmp") + "/zarbel_ntx_fuzz_" + std::to_string(::getpid());
        ::mkdir(d.c_str(), 0700);
        return d;
    }();
    return dir;
}

// A dBase III table: record i has CHARFIELD i repeated, NUMFIELD i, DATEFIELD 2000-01-01 + i.
std::string Table() {
    const int fields = 3, recLen = 1 + 10 + 3 + 8, count = 255;
    const int headerLen = 32 + 32 * fields + 1;
    std::string h(32, '\0');
    h[0] = 0x03;
    h[4] = static_cast<char>(count);
    h[8] = static_cast<char>(headerLen & 0xFF);
    h[9] = static_cast<char>(headerLen >> 8);
    h[10] = static_cast<char>(recLen);
    auto field = [](const char* name, char type, int len) {
        std::string d(32, '\0');
        for (int i = 0; name[i]; ++i) d[static_cast<std::size_t>(i)] = name[i];
        d[11] = type;
        d[16] = static_cast<char>(len);
        return d;
    };
    std::string out = h + field("CHARFIELD", 'C', 10) + field("NUMFIELD", 'N', 3) + field("DATEFIELD", 'D', 8) + "\r";
    for (int i = 1; i <= count; ++i) {
        char num[8], date[16];
        std::snprintf(num, sizeof num, "%3d", i);
        std::snprintf(date, sizeof date, "2000%02d%02d", 1 + (i / 28) % 12, 1 + i % 28);
        out += ' ' + std::string(10, static_cast<char>(i)) + num + date;
    }
    return out + '\x1A';
}

void Run(const std::string& table, const std::string& ntx, bool oem, bool limited) {
    zarbel::THXDBFNTX t;
    t.SetDBFFileName(table);
    t.SetOEM(oem);
    t.SetBufferSize(22 * 7);  // 7 records a block: many refills
    t.AccessMode().SetAccessMode(0);
    zarbel::THXNTXIndex& ix = t.Indexes().Add();
    ix.SetNTXFileName(ntx);
    if (limited) {
        ix.LimitPages().SetLimitBuffers(2);
        ix.LimitPages().SetLimitPagesType(zarbel::lbtLimited);
        ix.LimitPages().SetPagesPerBuffer(1);
    }
    try {
        t.Open();
    } catch (const zarbel::Exception&) {
        return;
    }
    std::vector<std::string> keys;
    try {
        ix.SetActive(true);
        int n = 0;
        for (bool on = ix.First(); on && n < 5000; on = ix.Next(), ++n) keys.push_back(ix.CurrentKey());
        n = 0;
        for (bool on = ix.Last(); on && n < 5000; on = ix.Prior()) ++n;
    } catch (const zarbel::Exception&) {
    }
    for (const std::string& k : keys) {
        try {
            ix.Seek(k, false);
            ix.FindKey(k.substr(0, k.size() / 2), true, 0, true);
        } catch (const zarbel::Exception&) {
        }
    }
    try {
        int n = 0;
        for (t.First(); !t.Eof() && n < 5000; t.Next()) ++n;
        for (t.Last(); !t.Bof() && n < 10000; t.Prior()) ++n;
        t.SetRecNo(100);
    } catch (const zarbel::Exception&) {
    }
    try {
        ix.VerifyIndex();
    } catch (const zarbel::Exception&) {
    }
    try {
        t.Close();
    } catch (const zarbel::Exception&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string table = [] {
        std::string p = Dir() + "/TEST2ANSI.DBF";
        Put(p, Table());
        return p;
    }();
    const std::string ntx = Dir() + "/t.ntx";
    Put(ntx, std::string(reinterpret_cast<const char*>(data), size));
    // the input's length picks the table's code page and a cache of two one-page blocks
    Run(table, ntx, size % 2 == 1, size % 3 == 0);
    return 0;
}
