// Code-page conversion: byte tables for CP1251 <-> CP866, UTF-8 at the edges.
#include "platform/codepage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/codepage_tables.h"

namespace zarbel {

namespace {

void MapBuffer(const unsigned char* table, const char* src, char* dst, std::size_t count) {
    // Both tables keep ASCII as it is: a run of 8 ASCII bytes is copied whole (or, in place,
    // left alone). src and dst are the same buffer or do not overlap.
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, src + i, 8);
        if ((w & 0x8080808080808080ull) == 0) {
            if (dst != src) std::memcpy(dst + i, &w, 8);
            continue;
        }
        for (std::size_t k = i; k < i + 8; ++k) dst[k] = static_cast<char>(table[static_cast<unsigned char>(src[k])]);
    }
    for (; i < count; ++i) dst[i] = static_cast<char>(table[static_cast<unsigned char>(src[i])]);
}

std::size_t MapText(const unsigned char* table, const char* src, char* dst) {
    // Byte by byte up to the zero, which is written too (src == dst works). Single-byte loads
    // only: the text has often just been copied in, and wider loads would wait for those stores.
    std::size_t i = 0;
    for (;; ++i) {
        const unsigned char c = static_cast<unsigned char>(src[i]);
        if (c == 0) break;
        dst[i] = static_cast<char>(table[c]);
    }
    dst[i] = '\0';
    return i;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string TableToUtf8(const char16_t* table, std::string_view s) {
    std::string out;
    out.reserve(s.size() * 2);
    for (unsigned char c : s) AppendUtf8(out, table[c]);
    return out;
}

// Reverse map Unicode -> CP1251 for the upper half (the lower half is ASCII).
struct UnicodeToAnsiMap {
    struct Entry {
        char16_t unit;
        unsigned char byte;
    };
    Entry entries[128];
    UnicodeToAnsiMap() {
        for (int b = 0; b < 128; ++b) entries[b] = {cptables::kAnsiToUnicode[128 + b], static_cast<unsigned char>(128 + b)};
        // Insertion sort by code unit (128 entries, once).
        for (int i = 1; i < 128; ++i)
            for (int j = i; j > 0 && entries[j - 1].unit > entries[j].unit; --j) std::swap(entries[j - 1], entries[j]);
    }
    char Find(char32_t cp) const {
        if (cp < 0x80) return static_cast<char>(cp);
        int lo = 0, hi = 127;
        while (lo <= hi) {
            int mid = (lo + hi) / 2;
            if (entries[mid].unit == cp) return static_cast<char>(entries[mid].byte);
            if (entries[mid].unit < cp) lo = mid + 1; else hi = mid - 1;
        }
        return kCodePageReplacement;
    }
};

const UnicodeToAnsiMap& AnsiMap() {
    static const UnicodeToAnsiMap map;
    return map;
}

// Decodes one UTF-8 sequence at s[i]; returns its length, or 0 when malformed.
std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t& cp) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t len;
    char32_t min;
    if (c < 0x80) { cp = c; return 1; }
    if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; min = 0x80; }
    else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; min = 0x800; }
    else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; min = 0x10000; }
    else return 0;
    if (i + len > s.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

}  // namespace

bool CharToOemA(const char* src, char* dst) {
    MapText(cptables::kAnsiToOem, src, dst);
    return true;
}

bool OemToCharA(const char* src, char* dst) {
    MapText(cptables::kOemToAnsi, src, dst);
    return true;
}

bool CharToOemBuffA(const char* src, char* dst, std::size_t count) {
    MapBuffer(cptables::kAnsiToOem, src, dst, count);
    return true;
}

std::size_t CharToOemLen(const char* src, char* dst) { return MapText(cptables::kAnsiToOem, src, dst); }

std::size_t OemToCharLen(const char* src, char* dst) { return MapText(cptables::kOemToAnsi, src, dst); }

bool OemToCharBuffA(const char* src, char* dst, std::size_t count) {
    MapBuffer(cptables::kOemToAnsi, src, dst, count);
    return true;
}

std::string AnsiToOem(std::string_view ansi) {
    std::string out(ansi.size(), '\0');
    MapBuffer(cptables::kAnsiToOem, ansi.data(), out.data(), ansi.size());
    return out;
}

std::string AnsiToOemShown(std::string_view ansi) {
    std::string out = AnsiToOem(ansi);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const unsigned char o = static_cast<unsigned char>(out[i]);
        if (cptables::kOemToUnicode[o] != cptables::kAnsiToUnicode[static_cast<unsigned char>(ansi[i])])
            out[i] = kCodePageReplacement;
    }
    return out;
}

std::string OemToAnsi(std::string_view oem) {
    std::string out(oem.size(), '\0');
    MapBuffer(cptables::kOemToAnsi, oem.data(), out.data(), oem.size());
    return out;
}

std::string AnsiToUtf8(std::string_view ansi) { return TableToUtf8(cptables::kAnsiToUnicode, ansi); }

std::string OemToUtf8(std::string_view oem) { return TableToUtf8(cptables::kOemToUnicode, oem); }

std::string TableTextToUtf8(std::string_view ansi, bool oemTable) {
    if (!oemTable) return AnsiToUtf8(ansi);
    std::string out;
    out.reserve(ansi.size() * 2);
    for (unsigned char c : ansi) AppendUtf8(out, cptables::kOemToUnicode[cptables::kAnsiToOem[c]]);
    return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
    const UnicodeToAnsiMap& map = AnsiMap();
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp = 0;
        std::size_t len = DecodeUtf8(utf8, i, cp);
        if (len == 0) {  // a malformed byte stands for one unknown character
            out.push_back(kCodePageReplacement);
            ++i;
            continue;
        }
        out.push_back(map.Find(cp));
        i += len;
    }
    return out;
}

char16_t AnsiCharToUnicode(unsigned char c) { return cptables::kAnsiToUnicode[c]; }

char16_t OemCharToUnicode(unsigned char c) { return cptables::kOemToUnicode[c]; }

bool IsValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        char32_t cp;
        std::size_t len = DecodeUtf8(s, i, cp);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string FileNameToAnsi(std::string_view nameBytes) {
    if (!IsValidUtf8(nameBytes)) return std::string(nameBytes);
    return Utf8ToAnsi(nameBytes);
}

bool Utf8ToUtf16(std::string_view utf8, std::u16string& out) {
    out.clear();
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp;
        std::size_t len = DecodeUtf8(utf8, i, cp);
        if (len == 0) return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return true;
}

char16_t UpcaseUnit(char16_t unit) {
    if (unit < 0x80) return (unit >= u'a' && unit <= u'z') ? static_cast<char16_t>(unit - 32) : unit;
    const cptables::UpcasePair* begin = cptables::kUpcasePairs;
    const cptables::UpcasePair* end = begin + cptables::kUpcasePairCount;
    const cptables::UpcasePair* it =
        std::lower_bound(begin, end, unit, [](const cptables::UpcasePair& p, char16_t u) { return p.from < u; });
    return (it != end && it->from == unit) ? it->to : unit;
}

}  // namespace zarbel
