// Test helpers for the compatibility corpus: where it lies (used in place, never written) and
// a file's whole contents.
#pragma once
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zarbel::testutil {

inline std::filesystem::path CorpusDir() {
    return std::filesystem::path(ZARBEL_SOURCE_DIR) / ".." / "shared" / "corpus";
}

inline std::string Slurp(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace zarbel::testutil
