// Test helper: the bytes of a small dBase III table (character fields only).
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zarbel::testutil {

// fields: (name, length); records: one text per field, blank-padded or cut to the length.
inline std::string DbaseIIITable(const std::vector<std::pair<std::string, int>>& fields,
                                 const std::vector<std::vector<std::string>>& records) {
    int recordLength = 1;
    for (const auto& f : fields) recordLength += f.second;
    const int headerLength = 32 + 32 * static_cast<int>(fields.size()) + 1;
    std::string b(32, '\0');
    b[0] = 0x03;
    b[1] = 126;  // 2026
    b[2] = 12;
    b[3] = 7;
    const std::uint32_t n = static_cast<std::uint32_t>(records.size());
    for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<char>((n >> (8 * i)) & 0xFF);
    b[8] = static_cast<char>(headerLength & 0xFF);
    b[9] = static_cast<char>(headerLength >> 8);
    b[10] = static_cast<char>(recordLength & 0xFF);
    b[11] = static_cast<char>(recordLength >> 8);
    for (const auto& f : fields) {
        std::string d(32, '\0');
        d.replace(0, f.first.size() < 10 ? f.first.size() : 10, f.first.substr(0, 10));
        d[11] = 'C';
        d[16] = static_cast<char>(f.second);
        b += d;
    }
    b += '\x0D';
    for (const auto& r : records) {
        b += ' ';
        for (std::size_t i = 0; i < fields.size(); ++i) {
            std::string v = i < r.size() ? r[i] : std::string();
            v.resize(static_cast<std::size_t>(fields[i].second), ' ');
            b += v;
        }
    }
    b += '\x1A';
    return b;
}

}  // namespace zarbel::testutil
