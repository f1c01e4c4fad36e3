// The corpus's 13 NTX files and their tables, and what expected/*.ntx.json says of each: the
// entries in tree order (record number, key bytes in hex).
#pragma once
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "testutil/corpus.h"

namespace zarbel::testutil {

struct TCorpusNtx {
    const char* Ntx;    // relative to the corpus
    const char* Table;  // its table
    bool Oem;           // the table's text is OEM
    bool FreePageNote;  // VerifyIndex notes a free page with a count
};

inline const TCorpusNtx kFiles[] = {
    {"dbd-xbase/ntx-char.ntx", "dbd-xbase/ntx-char.dbf", false, false},
    {"xsharp/Explorer/Custname.ntx", "xsharp/Explorer/Customer.dbf", false, false},
    {"xsharp/Explorer/Custnum.ntx", "xsharp/Explorer/Customer.dbf", false, false},
    {"xsharp/RddTests/TESTNTX2.NTX", "xsharp/RddTests/TESTNTX2.DBF", false, false},
    {"xsharp/VO/test2Ansi1.ntx", "xsharp/VO/TEST2ANSI.DBF", false, true},
    {"xsharp/VO/test2Ansi2.ntx", "xsharp/VO/TEST2ANSI.DBF", false, false},
    {"xsharp/VO/test2Ansi3.ntx", "xsharp/VO/TEST2ANSI.DBF", false, true},
    {"xsharp/VO/German/TEST1ANSI1.NTX", "xsharp/VO/German/TEST1ANSI.DBF", false, false},
    {"xsharp/VO/German/TEST1ANSI2.NTX", "xsharp/VO/German/TEST1ANSI.DBF", false, false},
    {"xsharp/VO/German/test1Ansi3.ntx", "xsharp/VO/German/TEST1ANSI.DBF", false, false},
    {"xsharp/VO/German/test1Oem1.ntx", "xsharp/VO/German/TEST1OEM.DBF", true, false},
    {"xsharp/VO/German/test1Oem2.ntx", "xsharp/VO/German/TEST1OEM.DBF", true, false},
    {"xsharp/VO/German/test1Oem3.ntx", "xsharp/VO/German/TEST1OEM.DBF", true, false},
};

// The two character indexes written under a German collation: their order is not the bytes'.
inline bool GermanCollated(const std::string& ntx) {
    return ntx == "xsharp/VO/German/test1Oem1.ntx" || ntx == "xsharp/VO/German/TEST1ANSI1.NTX";
}

struct TEntry {
    std::uint32_t RecNo;
    std::string KeyHex;
    bool operator==(const TEntry&) const = default;
};

inline std::string Hex(const std::string& bytes) {
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : bytes) {
        s += d[c >> 4];
        s += d[c & 15];
    }
    return s;
}

inline std::string Unhex(const std::string& hex) {
    std::string s;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) s += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return s;
}

inline std::vector<TEntry> Expected(const std::string& ntx) {
    const std::string json = Slurp(CorpusDir() / "expected" / (ntx + ".json"));
    static const std::regex entry("\"recno\":\\s*(\\d+),\\s*\"key_hex\":\\s*\"([0-9a-f]*)\"");
    std::vector<TEntry> out;
    for (auto it = std::sregex_iterator(json.begin(), json.end(), entry); it != std::sregex_iterator(); ++it)
        out.push_back({static_cast<std::uint32_t>(std::stoul((*it)[1])), (*it)[2]});
    return out;
}

// A test name for a parameter: the file's stem and its place in kFiles.
inline std::string NtxParamName(const ::testing::TestParamInfo<TCorpusNtx>& info) {
    std::string n = std::filesystem::path(info.param.Ntx).stem().string();
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n + "_" + std::to_string(info.index);
}

}  // namespace zarbel::testutil
