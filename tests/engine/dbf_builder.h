// Writes small table files byte by byte for the engine's tests.
#pragma once
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "testutil/temp_dir.h"

namespace zarbel::test {

struct FieldSpec {
    std::string name;
    char type;
    int len;
    int dec = 0;
    std::uint8_t flags = 0;
    std::uint8_t ext = 0;
    int bytes = -1;  // bytes in the record when they differ from len
};

// Header, 32-byte (or 48-byte for version 0x04/0x8C) descriptors, 0x0D, then the records and
// optionally 0x1A. Records are given as their full images (deletion flag first).
inline std::string BuildDbf(std::uint8_t version, const std::vector<FieldSpec>& fields,
                            const std::vector<std::string>& records, bool eofMarker = true,
                            std::uint8_t tableFlags = 0, int recLenOverride = -1) {
    const bool longForm = version == 0x04 || version == 0x8C;
    const int dsize = longForm ? 48 : 32;
    const int start = longForm ? 68 : 32;
    int recLen = 1;
    std::string desc;
    for (const FieldSpec& f : fields) {
        std::string d(static_cast<std::size_t>(dsize), '\0');
        for (std::size_t i = 0; i < f.name.size() && i < (longForm ? 31u : 10u); ++i) d[i] = f.name[i];
        int lenAt = longForm ? 33 : 16;
        d[static_cast<std::size_t>(longForm ? 32 : 11)] = f.type;
        d[static_cast<std::size_t>(longForm ? 35 : 12)] = static_cast<char>(f.ext);
        if (f.type == 'C' || f.type == '0') {
            d[static_cast<std::size_t>(lenAt)] = static_cast<char>(f.len & 0xFF);
            d[static_cast<std::size_t>(lenAt + 1)] = static_cast<char>(f.len >> 8);
        } else {
            d[static_cast<std::size_t>(lenAt)] = static_cast<char>(f.len);
            d[static_cast<std::size_t>(lenAt + 1)] = static_cast<char>(f.dec);
        }
        d[static_cast<std::size_t>(longForm ? 37 : 18)] = static_cast<char>(f.flags);
        desc += d;
        recLen += f.bytes >= 0 ? f.bytes : f.len;
    }
    if (recLenOverride >= 0) recLen = recLenOverride;
    const int headerLen = start + static_cast<int>(desc.size()) + 1;
    std::string h(static_cast<std::size_t>(start), '\0');
    h[0] = static_cast<char>(version);
    h[1] = 124;
    h[2] = 1;
    h[3] = 1;
    std::uint32_t n = static_cast<std::uint32_t>(records.size());
    for (int i = 0; i < 4; ++i) h[static_cast<std::size_t>(4 + i)] = static_cast<char>(n >> (8 * i));
    h[8] = static_cast<char>(headerLen & 0xFF);
    h[9] = static_cast<char>(headerLen >> 8);
    h[10] = static_cast<char>(recLen & 0xFF);
    h[11] = static_cast<char>(recLen >> 8);
    h[28] = static_cast<char>(tableFlags);
    std::string out = h + desc + "\r";
    for (const std::string& r : records) out += r;
    if (eofMarker) out += '\x1A';
    return out;
}

// A record image from field texts: C, D and L left-aligned, the rest right-aligned, blank-padded
// to each field's length.
inline std::string Record(const std::vector<FieldSpec>& fields, const std::vector<std::string>& values,
                          bool deleted = false) {
    std::string r(1, deleted ? '*' : ' ');
    for (std::size_t i = 0; i < fields.size(); ++i) {
        std::string v = i < values.size() ? values[i] : std::string();
        const std::size_t w = static_cast<std::size_t>(fields[i].bytes >= 0 ? fields[i].bytes : fields[i].len);
        if (v.size() > w) v.resize(w);
        if (fields[i].type == 'C' || fields[i].type == 'D' || fields[i].type == 'L')
            r += v + std::string(w - v.size(), ' ');
        else
            r += std::string(w - v.size(), ' ') + v;
    }
    return r;
}

using testutil::ReadFile;
using testutil::WriteFile;

// Little- and big-endian byte strings of 32-bit values.
inline std::string LE32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    return s;
}
inline std::string BE32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(3 - i)] = static_cast<char>(v >> (8 * i));
    return s;
}

// 512-byte memo file headers: dBase IV (first free block, block size) and FoxPro (next free
// block, block size).
inline std::string DB4MemoHeader(std::uint32_t firstFree, std::uint32_t blockSize) {
    std::string h(512, '\0');
    h.replace(0, 4, LE32(firstFree));
    h.replace(20, 4, LE32(blockSize));
    return h;
}
inline std::string FptMemoHeader(std::uint32_t nextFree, std::uint32_t blockSize) {
    std::string h(512, '\0');
    h.replace(0, 4, BE32(nextFree));
    h.replace(4, 4, BE32(blockSize));
    return h;
}

// A scratch file name unique to this process and test.
inline std::string TempPath(const std::string& name) {
    return std::string(ZARBEL_BINARY_DIR) + "/tmp_" + std::to_string(::getpid()) + "_" + name;
}

// Pads or cuts s to n characters (left-aligned), or right-aligns it with `right`.
inline std::string Pad(const std::string& s, std::size_t n, bool right = false) {
    if (s.size() >= n) return s.substr(0, n);
    return right ? std::string(n - s.size(), ' ') + s : s + std::string(n - s.size(), ' ');
}

}  // namespace zarbel::test
