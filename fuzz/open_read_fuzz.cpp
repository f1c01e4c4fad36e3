// libFuzzer target for the open-and-read road: the input becomes a table file (and, after a
// split marker, its memo file); the table is opened and every field of every record is read,
// as JSON values and as texts, through zarbel-dump's own code, and once more as an enciphered
// table. The engine may refuse the input with zarbel::Exception; anything else (a crash, a
// sanitizer report, another exception) is a finding.
//
// Input layout: table bytes, optionally followed by "\nMEMO\n" and the memo file's bytes (written
// both as .dbt and .fpt, so either memo dialect finds it).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/exception.h"
#include "tool/dump.h"

namespace {

class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

void Put(const std::string& path, std::string_view bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

const std::string& Dir() {
    static const std::string dir = [] {
        const char* t = std::getenv("TMPDIR");
        return std::string(t && *t ? t : "/tmp") + "/zarbel_fuzz_" + std::to_string(::getpid());
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool made = false;
    if (!made) {
        std::string cmd = Dir();
        ::mkdir(cmd.c_str(), 0700);
        made = true;
    }
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::string_view table = in, memo;
    const std::size_t split = in.find("\nMEMO\n");
    if (split != std::string_view::npos) {
        table = in.substr(0, split);
        memo = in.substr(split + 6);
    }
    const std::string base = Dir() + "/t";
    Put(base + ".dbf", table);
    if (split != std::string_view::npos) {
        Put(base + ".dbt", memo);
        Put(base + ".fpt", memo);
    } else {
        std::remove((base + ".dbt").c_str());
        std::remove((base + ".fpt").c_str());
    }
    NullBuffer nb;
    std::ostream out(&nb);
    // JSON, plain text, and JSON read through a cipher (every record and memo entry deciphered
    // before it is parsed: GOST or XOR by the input's length)
    for (int pass = 0; pass < 3; ++pass) {
        const bool json = pass != 1;
        zarbel::TDumpOptions o;
        o.Json = json;
        o.CodePage = json ? zarbel::TDumpCodePage::Auto : zarbel::TDumpCodePage::Oem;
        if (pass == 2) {
            o.Cipher = size % 2 ? zarbel::cmGost : zarbel::cmXOR;
            o.Password = "fuzz";
        }
        try {
            zarbel::DumpTable(base + ".dbf", o, out);
        } catch (const zarbel::Exception&) {
            // a clean refusal
        }
    }
    return 0;
}
