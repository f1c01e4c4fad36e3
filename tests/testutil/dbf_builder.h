// Test helper: the bytes of a table of any dialect, laid out by hand (independent of the engine).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zarbel::testutil {

struct FieldSpec {
    std::string name;
    char type;
    int len;         // bytes in the record
    int dec = 0;
    std::uint8_t flags = 0;
};

// version: the version byte (0x04 / 0x8C get the 36-byte extension and 48-byte descriptors).
// records: whole record images, deletion flag first (each must be the record length long).
inline std::string BuildTable(std::uint8_t version, const std::vector<FieldSpec>& fields,
                              const std::vector<std::string>& records, std::uint8_t tableFlags = 0,
                              bool eof = true) {
    const bool longForm = version == 0x04 || version == 0x8C;
    const int descSize = longForm ? 48 : 32;
    int recordLength = 1;
    for (const auto& f : fields) recordLength += f.len;
    const int headerLength = 32 + (longForm ? 36 : 0) + descSize * static_cast<int>(fields.size()) + 1;
    std::string b(32, '\0');
    auto put16 = [&](std::string& s, std::size_t at, int v) {
        s[at] = static_cast<char>(v & 0xFF);
        s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
    };
    b[0] = static_cast<char>(version);
    b[1] = 124;
    b[2] = 5;
    b[3] = 17;
    const std::uint32_t n = static_cast<std::uint32_t>(records.size());
    for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<char>((n >> (8 * i)) & 0xFF);
    put16(b, 8, headerLength);
    put16(b, 10, recordLength);
    b[28] = static_cast<char>(tableFlags);
    if (longForm) b += std::string(36, '\0');
    for (const auto& f : fields) {
        std::string d(static_cast<std::size_t>(descSize), '\0');
        const std::size_t maxName = longForm ? 31 : 10;
        d.replace(0, f.name.size() < maxName ? f.name.size() : maxName, f.name.substr(0, maxName));
        if (longForm) {
            d[32] = f.type;
            if (f.type == 'C') put16(d, 33, f.len);
            else {
                d[33] = static_cast<char>(f.len);
                d[34] = static_cast<char>(f.dec);
            }
            d[37] = static_cast<char>(f.flags);
        } else {
            d[11] = f.type;
            if (f.type == 'C') put16(d, 16, f.len);
            else {
                d[16] = static_cast<char>(f.len);
                d[17] = static_cast<char>(f.dec);
            }
            d[18] = static_cast<char>(f.flags);
        }
        b += d;
    }
    b += '\x0D';
    for (const auto& r : records) {
        std::string rec = r;
        rec.resize(static_cast<std::size_t>(recordLength), ' ');
        b += rec;
    }
    if (eof) b += '\x1A';
    return b;
}

// A record image from field texts: C left-aligned, everything else right-aligned, blank-padded.
inline std::string Record(const std::vector<FieldSpec>& fields, const std::vector<std::string>& values,
                          bool deleted = false) {
    std::string r(1, deleted ? '*' : ' ');
    for (std::size_t i = 0; i < fields.size(); ++i) {
        std::string v = i < values.size() ? values[i] : std::string();
        const std::size_t w = static_cast<std::size_t>(fields[i].len);
        if (v.size() > w) v.resize(w);
        if (fields[i].type == 'C' || fields[i].type == 'D' || fields[i].type == 'L')
            r += v + std::string(w - v.size(), ' ');
        else
            r += std::string(w - v.size(), ' ') + v;
    }
    return r;
}

}  // namespace zarbel::testutil
