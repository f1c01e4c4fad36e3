// The field codecs of every storage kind and the table that holds them (see HXDBFCodecs.h).
//
// Storage forms decided here (the format leaves them open):
//  * dbftR6: the 48-bit real: byte 0 the exponent biased by 129 (0: the value 0), bytes 1-5 a
//    39-bit fraction (little-endian) with an implied leading 1, bit 7 of byte 5 the sign.
//  * dbftR10: the 80-bit extended value (64-bit mantissa with explicit integer bit, then a
//    16-bit word: sign bit and 15-bit exponent biased by 16383), converted to and from a double
//    with integer arithmetic and ldexp/frexp, never through long double.
//  * dbftBCD and dbftWideString: the layouts documented in engine/HXDBFFormat.h.
//  * Y (currency): the value times 10000 as a signed 64-bit integer, as other xBase programs
//    store it.
//
// The extended kinds (letter E) are one value form each (a 16-bit integer, a 48-bit real, a
// counted string...) in one of three framings: plain; "_N", a marker byte before the value
// (0x20: no value, 0x01: a value); "_NB", the top bit of the value's last byte set when there
// is a value. ExtCodec<framing, value form> composes the two.
#include "engine/HXDBFCodecs.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/locale.h"
#include "platform/numtext.h"

namespace zarbel {

namespace {

constexpr double kMs = 86400000.0;
constexpr std::int64_t kJulianDelta = 1721425;  // Julian day number of day 0 of the day numbers

bool AllSpaces(const std::uint8_t* p, int n) {
    for (int i = 0; i < n; ++i)
        if (p[i] != ' ') return false;
    return true;
}

double ReadDouble(const std::uint8_t* p) { return std::bit_cast<double>(GetLE64(p)); }
void WriteDouble(std::uint8_t* p, double d) { PutLE64(p, std::bit_cast<std::uint64_t>(d)); }
float ReadSingle(const std::uint8_t* p) { return std::bit_cast<float>(GetLE32(p)); }
void WriteSingle(std::uint8_t* p, float f) { PutLE32(p, std::bit_cast<std::uint32_t>(f)); }

// A memo reference as the field holds it: a 4-byte block number (0: none), or the text form
// (blanks: none), whose first 16 bytes at most are handed over.
bool ReadMemoReference(const std::uint8_t* p, int n, void* buffer) {
    if (n == 4) {
        const std::uint32_t block = GetLE32(p);
        if (block == 0) return false;
        if (buffer) std::memcpy(buffer, &block, sizeof block);
        return true;
    }
    if (AllSpaces(p, n)) return false;
    if (buffer) std::memcpy(buffer, p, static_cast<std::size_t>(std::min(n, 16)));
    return true;
}

// 48-bit real.
double ReadReal48(const std::uint8_t* p) {
    if (p[0] == 0) return 0;
    std::uint64_t frac = static_cast<std::uint64_t>(p[1]) | (static_cast<std::uint64_t>(p[2]) << 8) |
                         (static_cast<std::uint64_t>(p[3]) << 16) | (static_cast<std::uint64_t>(p[4]) << 24) |
                         (static_cast<std::uint64_t>(p[5] & 0x7F) << 32);
    double v = std::ldexp(1.0 + std::ldexp(static_cast<double>(frac), -39), p[0] - 129);
    return (p[5] & 0x80) ? -v : v;
}
bool WriteReal48(std::uint8_t* p, double v) {
    std::memset(p, 0, 6);
    if (v == 0 || !std::isfinite(v)) return v == 0;
    int e = 0;
    double m = std::frexp(std::fabs(v), &e);  // |v| = m * 2^e, m in [0.5, 1)
    int exp = e + 128;                        // (2m) * 2^(e-1), biased by 129
    std::uint64_t frac = static_cast<std::uint64_t>(std::llround(std::ldexp(2 * m - 1, 39)));
    if (frac >> 39) {
        frac = 0;
        ++exp;
    }
    if (exp > 255) return false;
    if (exp < 1) return true;  // below the smallest 48-bit real: 0
    p[0] = static_cast<std::uint8_t>(exp);
    for (int i = 0; i < 4; ++i) p[1 + i] = static_cast<std::uint8_t>(frac >> (8 * i));
    p[5] = static_cast<std::uint8_t>((frac >> 32) & 0x7F) | (v < 0 ? 0x80 : 0);
    return true;
}

// 80-bit extended.
double ReadExtended(const std::uint8_t* p) {
    std::uint64_t mant = GetLE64(p);
    std::uint16_t se = GetLE16(p + 8);
    int exp = se & 0x7FFF;
    bool neg = se & 0x8000;
    double v;
    if (exp == 0x7FFF)
        v = (mant << 1) ? std::nan("") : INFINITY;
    else if (exp == 0 && mant == 0)
        v = 0;
    else
        v = std::ldexp(static_cast<double>(mant), (exp == 0 ? 1 : exp) - 16383 - 63);
    return neg ? -v : v;
}
void WriteExtended(std::uint8_t* p, double v) {
    std::uint64_t mant = 0;
    std::uint16_t se = 0;
    if (std::isnan(v)) {
        mant = 0xC000000000000000ull;
        se = 0x7FFF;
    } else if (std::isinf(v)) {
        mant = 0x8000000000000000ull;
        se = 0x7FFF;
    } else if (v != 0) {
        int e = 0;
        double m = std::frexp(std::fabs(v), &e);
        mant = static_cast<std::uint64_t>(std::ldexp(m, 64));
        se = static_cast<std::uint16_t>(e - 1 + 16383);
    }
    if (std::signbit(v)) se |= 0x8000;
    PutLE64(p, mant);
    PutLE16(p + 8, se);
}

// Day number (1 = 1 January of year 1) of a valid date.
bool DayNumberOf(int y, int m, int d, std::int32_t& day) {
    std::int32_t days;
    if (!TryEncodeDateDays(y, m, d, days)) return false;
    day = days + kDateDelta;
    return true;
}

std::int32_t Get32(const void* b) {
    std::int32_t v;
    std::memcpy(&v, b, 4);
    return v;
}
std::int64_t Get64(const void* b) {
    std::int64_t v;
    std::memcpy(&v, b, 8);
    return v;
}
double GetD(const void* b) {
    double v;
    std::memcpy(&v, b, 8);
    return v;
}
std::int16_t Get16(const void* b) {
    std::int16_t v;
    std::memcpy(&v, b, 2);
    return v;
}
template <class T>
void Put(void* b, T v) {
    std::memcpy(b, &v, sizeof v);
}

// UTF-16 unit -> CP1251 byte ('?' when CP1251 lacks it).
char UnitToAnsi(char16_t u) {
    if (u < 0x80) return static_cast<char>(u);
    struct Pair {
        char16_t unit;
        unsigned char byte;
    };
    static const std::array<Pair, 128> table = [] {
        std::array<Pair, 128> t{};
        for (int i = 0; i < 128; ++i) t[static_cast<std::size_t>(i)] = {AnsiCharToUnicode(static_cast<unsigned char>(128 + i)), static_cast<unsigned char>(128 + i)};
        std::sort(t.begin(), t.end(), [](const Pair& a, const Pair& b) { return a.unit < b.unit; });
        return t;
    }();
    auto it = std::lower_bound(table.begin(), table.end(), u, [](const Pair& a, char16_t x) { return a.unit < x; });
    return (it != table.end() && it->unit == u) ? static_cast<char>(it->byte) : kCodePageReplacement;
}

[[noreturn]] void TooWide(const TDBFFieldStore& s, std::string_view text) {
    throw Exception("THXSmartDBF.SetFieldData: Value " + std::string(text) + " does not fit into field \"" +
                    s.Def->Name() + "\" (" + std::string(1, s.Letter) + " " + std::to_string(s.LenByte) + "," +
                    std::to_string(s.Dec) + ")");
}

// Right-aligned text of len characters.
void PutRightAligned(std::uint8_t* p, int len, const char* text, std::size_t n, const TDBFFieldStore& s) {
    if (n > static_cast<std::size_t>(len)) TooWide(s, std::string_view(text, n));
    std::memset(p, ' ', static_cast<std::size_t>(len) - n);
    std::memcpy(p + (len - static_cast<int>(n)), text, n);
}

// The readers of the plain kinds.
inline bool ReadText(const std::uint8_t* p, int n, bool trim, void* buffer) {
    if (trim) {
        int e = n;
        while (e > 0 && p[e - 1] == ' ') --e;
        if (e == 0) return false;
        if (buffer) {
            std::memcpy(buffer, p, static_cast<std::size_t>(e));
            std::memset(static_cast<char*>(buffer) + e, 0, static_cast<std::size_t>(n - e + 1));
        }
        return true;
    }
    if (buffer) {
        std::memcpy(buffer, p, static_cast<std::size_t>(n));
        static_cast<char*>(buffer)[n] = '\0';
    }
    return true;
}

// N and F: blanks only find no digits in the parses and give false.
inline bool ReadDecimal(const std::uint8_t* p, int n, TFieldType type, void* buffer) {
    std::string_view text(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
    if (type == ftFloat) {
        double v;
        if (!ParseFloat(text, '.', v) && !ParseFloat(text, ',', v)) return false;
        if (buffer) Put(buffer, v);
        return true;
    }
    std::int64_t v;
    if (!ParseInt64(text, v)) return false;
    if (type == ftInteger) {
        if (v < INT32_MIN || v > INT32_MAX) return false;
        if (buffer) Put(buffer, static_cast<std::int32_t>(v));
    } else if (buffer) {
        Put(buffer, v);
    }
    return true;
}

// D: eight digits of a valid date (blanks: the first byte is no digit).
inline bool ReadDate(const std::uint8_t* p, void* buffer) {
    int d[8];
    for (int i = 0; i < 8; ++i) {
        if (p[i] < '0' || p[i] > '9') return false;
        d[i] = p[i] - '0';
    }
    std::int32_t day;
    if (!DayNumberOf(d[0] * 1000 + d[1] * 100 + d[2] * 10 + d[3], d[4] * 10 + d[5], d[6] * 10 + d[7], day))
        return false;
    if (buffer) Put(buffer, day);
    return true;
}

// L: the letters dBase and FoxPro write (T/t/Y/y true, F/f/N/n false); a blank, "?" or
// anything else has no value.
inline bool ReadLogical(const std::uint8_t* p, void* buffer) {
    bool value;
    switch (p[0]) {
        case 'T': case 't': case 'Y': case 'y': value = true; break;
        case 'F': case 'f': case 'N': case 'n': value = false; break;
        default: return false;
    }
    if (buffer) Put(buffer, static_cast<std::int16_t>(value ? -1 : 0));
    return true;
}

// Significant digits a double carries exactly: numbers with more go as text.
constexpr int kDoubleDigits = 15;

// A number's text split as it stands: blanks, a sign, digits, a separator and digits.
struct TNumberParts {
    std::string_view Sign, Whole, Decimals;
    bool Separator = false;
    int Significant = 0;  // from the first to the last non-zero digit
};

// Splits text of the form [blanks][sign]digits[separator digits] (at least one digit, nothing
// after the digits); separator is one of sep1, sep2.
bool SplitNumber(std::string_view t, char sep1, char sep2, TNumberParts& n) {
    std::size_t i = 0;
    while (i < t.size() && t[i] == ' ') ++i;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) n.Sign = t.substr(i++, 1);
    const std::size_t w = i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    n.Whole = t.substr(w, i - w);
    if (i < t.size() && (t[i] == sep1 || t[i] == sep2)) {
        n.Separator = true;
        const std::size_t d = ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
        n.Decimals = t.substr(d, i - d);
    }
    if (i != t.size() || n.Whole.size() + n.Decimals.size() == 0) return false;
    int first = -1, last = -1, at = 0;
    for (std::string_view part : {n.Whole, n.Decimals})
        for (char c : part) {
            if (c != '0') {
                if (first < 0) first = at;
                last = at;
            }
            ++at;
        }
    n.Significant = first < 0 ? 0 : last - first + 1;
    return true;
}

// Whether a number's parts go as text in a field of this dataset type: more digits than a
// double carries in a floating field, an integer beyond 64 bits in an integer field.
bool NeedsText(const TNumberParts& n, TFieldType type) {
    if (type == ftFloat) return n.Significant > kDoubleDigits;
    if (n.Separator) return false;
    std::int64_t v;  // the sign stands right before the digits
    return !ParseInt64(std::string_view(n.Whole.data() - n.Sign.size(), n.Sign.size() + n.Whole.size()), v);
}


// ---------------------------------------------------------------------------------------
// Codecs of the type letters
// ---------------------------------------------------------------------------------------

using TCtx = TFieldCodecContext;
using TStore = TDBFFieldStore;

void BlankNone(const TStore&, std::uint8_t*, bool) {}
void BlankZero(const TStore& s, std::uint8_t* p, bool) { std::memset(p, 0, static_cast<std::size_t>(s.Size)); }
// Visual FoxPro keeps B, G, M and P binary (a double, block numbers): zero, not blanks.
void BlankZeroInVfp(const TStore& s, std::uint8_t* p, bool vfp) {
    if (vfp) std::memset(p, 0, static_cast<std::size_t>(s.Size));
}

// Fields without a dataset field: nothing to read, nothing written.
bool ReadNone(const TStore&, const TCtx&, const std::uint8_t*, void*) { return false; }
void WriteNone(const TStore&, const TCtx&, std::uint8_t*, const void*) {}

// C as text.
bool ReadC(const TStore& s, const TCtx& c, const std::uint8_t* p, void* buffer) {
    return ReadText(p, s.Size, c.TrimCType, buffer);
}
void WriteC(const TStore& s, const TCtx&, std::uint8_t* p, const void* buffer) {
    std::size_t n = 0;
    if (buffer) {
        const char* src = static_cast<const char*>(buffer);
        n = ::strnlen(src, static_cast<std::size_t>(s.Size));
        std::memcpy(p, src, n);
    }
    std::memset(p + n, ' ', static_cast<std::size_t>(s.Size) - n);
}

// C of Visual FoxPro's binary columns: the bytes as they are, always a value.
bool ReadBytes(const TStore& s, const TCtx&, const std::uint8_t* p, void* buffer) {
    if (buffer) std::memcpy(buffer, p, static_cast<std::size_t>(s.Size));
    return true;
}
void WriteBytes(const TStore& s, const TCtx&, std::uint8_t* p, const void* buffer) {
    if (buffer) std::memcpy(p, buffer, static_cast<std::size_t>(s.Size));
}

// V and Q of Visual FoxPro: a value shorter than the field ends the field with its length
// byte and sets the field's bit in the null bitmap; a value that fills the field clears it.
// Without a bitmap to hold the bit, every value is as long as the field.
std::uint8_t* VarLengthBits(const TStore& s, const TCtx& c, const std::uint8_t* p) {
    if (!s.VarLength || c.NullFlagsOffset <= 0 || s.VarByte >= c.NullFlagsSize) return nullptr;
    return const_cast<std::uint8_t*>(p - s.Offset + c.NullFlagsOffset + s.VarByte);
}
int VarValueLength(const TStore& s, const TCtx& c, const std::uint8_t* p) {
    const std::uint8_t* bits = VarLengthBits(s, c, p);
    if (!bits || !(*bits & s.VarMask)) return s.Size;
    return std::min<int>(p[s.Size - 1], s.Size - 1);
}
// Stores n bytes of src; the rest of a shorter value is filled with `pad`.
void PutVarValue(const TStore& s, const TCtx& c, std::uint8_t* p, const void* src, int n, std::uint8_t pad) {
    std::uint8_t* bits = VarLengthBits(s, c, p);
    if (!bits) n = std::min(n, s.Size);
    else n = std::min(n, n < s.Size ? s.Size - 1 : s.Size);
    std::memcpy(p, src, static_cast<std::size_t>(n));
    std::memset(p + n, pad, static_cast<std::size_t>(s.Size - n));
    if (!bits) return;
    if (n < s.Size) {
        p[s.Size - 1] = static_cast<std::uint8_t>(n);
        *bits |= s.VarMask;
    } else {
        *bits &= static_cast<std::uint8_t>(~s.VarMask);
    }
}

bool ReadV(const TStore& s, const TCtx& c, const std::uint8_t* p, void* buffer) {
    return ReadText(p, VarValueLength(s, c, p), c.TrimCType, buffer);
}
void WriteV(const TStore& s, const TCtx& c, std::uint8_t* p, const void* buffer) {
    const char* src = static_cast<const char*>(buffer);
    const int n = src ? static_cast<int>(::strnlen(src, static_cast<std::size_t>(s.Size))) : 0;
    PutVarValue(s, c, p, src ? src : "", n, ' ');
}
// The value buffer of Q (ftVarBytes): the byte count (16 bits), then the bytes.
bool ReadQ(const TStore& s, const TCtx& c, const std::uint8_t* p, void* buffer) {
    if (buffer) {
        const int n = VarValueLength(s, c, p);
        Put(buffer, static_cast<std::uint16_t>(n));
        std::memcpy(static_cast<char*>(buffer) + 2, p, static_cast<std::size_t>(n));
    }
    return true;
}
void WriteQ(const TStore& s, const TCtx& c, std::uint8_t* p, const void* buffer) {
    if (!buffer) return;
    const int n = static_cast<std::uint16_t>(Get16(buffer));
    PutVarValue(s, c, p, static_cast<const char*>(buffer) + 2, n, 0);
}
// A fresh record's bitmap is all set: the length byte 0 makes the value empty.
void BlankVar(const TStore& s, std::uint8_t* p, bool) {
    if (s.Letter == 'Q') std::memset(p, 0, static_cast<std::size_t>(s.Size));
    p[s.Size - 1] = 0;
}

// N and F, one codec per dataset type.
template <TFieldType Type>
bool ReadNumber(const TStore& s, const TCtx&, const std::uint8_t* p, void* buffer) {
    return ReadDecimal(p, s.Size, Type, buffer);
}
template <TFieldType Type>
void WriteNumber(const TStore& s, const TCtx&, std::uint8_t* p, const void* buffer) {
    if (!buffer) {
        std::memset(p, ' ', static_cast<std::size_t>(s.Size));
        return;
    }
    char text[kNumTextMax];
    std::size_t len;
    if constexpr (Type == ftFloat) {
        double v = GetD(buffer);
        if (!std::isfinite(v)) TooWide(s, "NAN");
        len = FormatFloatFixed(v, s.Dec, '.', text);
    } else if constexpr (Type == ftInteger) {
        len = FormatInt64(Get32(buffer), text);
    } else {
        len = FormatInt64(Get64(buffer), text);
    }
    PutRightAligned(p, s.Size, text, len, s);
}

// The text roads of N and F fields wider than a double's digits.
bool ReadNumberText(const TStore& s, const std::uint8_t* p, char sep, std::string& out) {
    TNumberParts n;
    if (!SplitNumber(std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(s.Size)), '.', ',', n) ||
        !NeedsText(n, s.DataType))
        return false;
    out.assign(n.Sign);
    out += n.Whole;
    if (n.Separator) {
        out.push_back(sep);
        out += n.Decimals;
    }
    return true;
}

bool TakesNumberText(const TStore& s, std::string_view text, char sep) {
    TNumberParts n;
    if (!SplitNumber(text, sep, sep, n) || !NeedsText(n, s.DataType)) return false;
    // Only where the field holds every digit: no more decimals than it has, and the whole
    // part (without leading zeros) in the width that is left.
    if (n.Decimals.size() > s.Dec) return false;
    std::size_t whole = n.Whole.find_first_not_of('0');
    whole = whole == std::string_view::npos ? 1 : n.Whole.size() - whole;
    const std::size_t width = (n.Sign == "-" ? 1 : 0) + whole + (s.Dec > 0 ? 1u + s.Dec : 0u);
    return width <= static_cast<std::size_t>(s.Size);
}

void WriteNumberText(const TStore& s, const TCtx& c, std::uint8_t* rec, std::string_view text, char sep) {
    TNumberParts n;
    if (!SplitNumber(text, sep, sep, n)) return;
    if (c.Vfp && s.Nullable && c.NullFlagsOffset > 0 && s.NullByte < c.NullFlagsSize)
        rec[c.NullFlagsOffset + s.NullByte] &= static_cast<std::uint8_t>(~s.NullMask);
    // Fixed point as every number is written: the digits, "." and exactly dec decimals,
    // right-aligned. The text is built in place (no allocation); what does not fit the
    // field (TakesNumberText refuses it) is reported by PutRightAligned.
    std::string_view whole = n.Whole.substr(std::min(n.Whole.find_first_not_of('0'), n.Whole.size()));
    if (whole.empty()) whole = "0";
    const std::size_t decimals = s.Dec > 0 ? std::max<std::size_t>(s.Dec, n.Decimals.size()) : 0;
    const std::size_t len = (n.Sign == "-" ? 1 : 0) + whole.size() + (s.Dec > 0 ? 1 + decimals : 0);
    std::array<char, 2 * 256 + 8> t;
    if (len > t.size()) TooWide(s, text);
    std::size_t at = 0;
    if (n.Sign == "-") t[at++] = '-';
    std::memcpy(t.data() + at, whole.data(), whole.size());
    at += whole.size();
    if (s.Dec > 0) {
        t[at++] = '.';
        std::memcpy(t.data() + at, n.Decimals.data(), n.Decimals.size());
        at += n.Decimals.size();
        std::memset(t.data() + at, '0', decimals - n.Decimals.size());
        at += decimals - n.Decimals.size();
    }
    PutRightAligned(rec + s.Offset, s.Size, t.data(), at, s);
}

// D and L.
bool ReadD(const TStore&, const TCtx&, const std::uint8_t* p, void* buffer) { return ReadDate(p, buffer); }
void WriteD(const TStore& s, const TCtx&, std::uint8_t* p, const void* buffer) {
    if (!buffer) {
        std::memset(p, ' ', 8);
        return;
    }
    int y, m, d;
    const std::int64_t days = static_cast<std::int64_t>(Get32(buffer)) - kDateDelta;
    if (days >= -3000000 && days <= 3000000)  // whole days, no floating point
        DecodeDateDays(days, y, m, d);
    else  // beyond any valid year: as the general decoding clamps it (for the message)
        DecodeDate(static_cast<double>(days), y, m, d);
    if (y < 1 || y > 9999) TooWide(s, std::to_string(y));
    const int parts[3][2] = {{y, 4}, {m, 2}, {d, 2}};
    int at = 0;
    for (const auto& [value, width] : parts) {
        for (int i = width - 1, v = value; i >= 0; --i, v /= 10) p[at + i] = static_cast<std::uint8_t>('0' + v % 10);
        at += width;
    }
}

bool ReadL(const TStore&, const TCtx&, const std::uint8_t* p, void* buffer) { return ReadLogical(p, buffer); }
void WriteL(const TStore&, const TCtx&, std::uint8_t* p, const void* buffer) {
    p[0] = buffer ? (Get16(buffer) ? 'T' : 'F') : ' ';
}

// M, G, P and B outside Visual FoxPro: the memo reference.
bool ReadMemo(const TStore& s, const TCtx&, const std::uint8_t* p, void* buffer) {
    return ReadMemoReference(p, s.Size, buffer);
}
void WriteMemo(const TStore& s, const TCtx&, std::uint8_t* p, const void* buffer) {
    if (s.Size == 4) {
        if (buffer) std::memcpy(p, buffer, 4);
        return;
    }
    if (buffer)
        std::memcpy(p, buffer, static_cast<std::size_t>(std::min(s.Size, 16)));
    else
        std::memset(p, ' ', static_cast<std::size_t>(s.Size));
}

// B: a double in Visual FoxPro, a memo reference elsewhere.
bool ReadB(const TStore& s, const TCtx& c, const std::uint8_t* p, void* buffer) {
    if (!c.Vfp) return ReadMemo(s, c, p, buffer);
    if (buffer) Put(buffer, ReadDouble(p));
    return true;
}
void WriteB(const TStore& s, const TCtx& c, std::uint8_t* p, const void* buffer) {
    if (!c.Vfp) return WriteMemo(s, c, p, buffer);
    if (buffer) WriteDouble(p, GetD(buffer));
}

// T: Julian day and milliseconds.
// A blank T is eight blanks. A first byte of 0x20 alone is no sign of it: that is the low byte
// of every day number congruent to 32 modulo 256 (2022-04-10 among them).
bool ReadT(const TStore&, const TCtx&, const std::uint8_t* p, void* buffer) {
    if (AllSpaces(p, 8)) return false;
    std::int64_t julian = GetLE32(p);
    std::int64_t ms = static_cast<std::int32_t>(GetLE32(p + 4));
    if (julian == 0 && ms == 0) return false;  // a freshly initialised record
    std::int64_t day = julian - kJulianDelta;
    if (day < 1 || ms < 0 || ms >= 86400000) return false;
    if (buffer) Put(buffer, static_cast<double>(day) * kMs + static_cast<double>(ms));
    return true;
}
void WriteT(const TStore&, const TCtx&, std::uint8_t* p, const void* buffer) {
    if (!buffer) return;  // T is Visual FoxPro's: no value is its null bit
    double ms = GetD(buffer);
    std::int64_t days = static_cast<std::int64_t>(std::trunc(ms / kMs));
    std::int64_t rest = std::llround(ms - static_cast<double>(days) * kMs);
    if (rest >= 86400000) {
        ++days;
        rest -= 86400000;
    }
    PutLE32(p, static_cast<std::uint32_t>(days + kJulianDelta));
    PutLE32(p + 4, static_cast<std::uint32_t>(rest));
}

// Y: currency.
bool ReadY(const TStore&, const TCtx&, const std::uint8_t* p, void* buffer) {
    if (buffer) Put(buffer, static_cast<double>(static_cast<std::int64_t>(GetLE64(p))) / 10000.0);
    return true;
}
void WriteY(const TStore& s, const TCtx&, std::uint8_t* p, const void* buffer) {
    if (!buffer) return;
    double v = GetD(buffer) * 10000.0;
    if (!(std::fabs(v) < 9.2e18)) {
        char text[kNumTextMax];
        TooWide(s, std::string(text, FormatFloatGeneral(GetD(buffer), '.', text)));
    }
    PutLE64(p, static_cast<std::uint64_t>(std::llround(v)));
}

// I and +: little-endian in Visual FoxPro; dBase 7 stores value - 0x80000000 big-endian, 0 for
// no value.
bool ReadI(const TStore&, const TCtx& c, const std::uint8_t* p, void* buffer) {
    std::int32_t v;
    if (c.Vfp) {
        v = static_cast<std::int32_t>(GetLE32(p));
    } else {
        std::uint32_t u = GetBE32(p);
        if (u == 0) return false;
        v = static_cast<std::int32_t>(u ^ 0x80000000u);
    }
    if (buffer) Put(buffer, v);
    return true;
}
void WriteI(const TStore&, const TCtx& c, std::uint8_t* p, const void* buffer) {
    if (!buffer)
        std::memset(p, 0, 4);
    else if (c.Vfp)
        PutLE32(p, static_cast<std::uint32_t>(Get32(buffer)));
    else
        PutBE32(p, static_cast<std::uint32_t>(Get32(buffer)) ^ 0x80000000u);
}

// @: the double's bytes in reversed order; zero bytes: no value.
bool ReadAt(const TStore&, const TCtx&, const std::uint8_t* p, void* buffer) {
    std::uint64_t u = GetBE64(p);
    if (u == 0) return false;
    if (buffer) Put(buffer, std::bit_cast<double>(u));
    return true;
}
void WriteAt(const TStore&, const TCtx&, std::uint8_t* p, const void* buffer) {
    PutBE64(p, buffer ? std::bit_cast<std::uint64_t>(GetD(buffer)) : 0);
}

// O: a double that sorts as its bytes (sign bit flipped for positives, all bits for negatives).
bool ReadO(const TStore&, const TCtx&, const std::uint8_t* p, void* buffer) {
    std::uint64_t u = GetBE64(p);
    if (u == 0) return false;
    if (u & 0x8000000000000000ull)
        u &= ~0x8000000000000000ull;
    else
        u = ~u;
    if (buffer) Put(buffer, std::bit_cast<double>(u));
    return true;
}
void WriteO(const TStore&, const TCtx&, std::uint8_t* p, const void* buffer) {
    if (!buffer) {
        std::memset(p, 0, 8);
        return;
    }
    double v = GetD(buffer);
    std::uint64_t u = std::bit_cast<std::uint64_t>(v);
    if (v >= 0)
        u |= 0x8000000000000000ull;
    else
        u = ~u;
    PutBE64(p, u);
}

// 0 (_NULLFLAGS): the bytes are handed over, but the field never counts as holding a value.
bool ReadFlags(const TStore& s, const TCtx&, const std::uint8_t* p, void* buffer) {
    if (buffer) std::memcpy(buffer, p, static_cast<std::size_t>(s.Size));
    return false;
}
void WriteFlags(const TStore& s, const TCtx&, std::uint8_t* p, const void* buffer) {
    if (buffer)
        std::memcpy(p, buffer, static_cast<std::size_t>(s.Size));
    else
        std::memset(p, ' ', static_cast<std::size_t>(s.Size));
}
void BlankFlags(const TStore& s, std::uint8_t* p, bool) { std::memset(p, 0xFF, static_cast<std::size_t>(s.Size)); }

constexpr TFieldCodec kNone{ReadNone, WriteNone, nullptr, nullptr, nullptr, BlankNone};
constexpr TFieldCodec kText{ReadC, WriteC, nullptr, nullptr, nullptr, BlankNone};
constexpr TFieldCodec kBytes{ReadBytes, WriteBytes, nullptr, nullptr, nullptr, BlankNone};
constexpr TFieldCodec kVarText{ReadV, WriteV, nullptr, nullptr, nullptr, BlankVar};
constexpr TFieldCodec kVarBytes{ReadQ, WriteQ, nullptr, nullptr, nullptr, BlankVar};
constexpr TFieldCodec kInteger{ReadNumber<ftInteger>, WriteNumber<ftInteger>, nullptr, nullptr, nullptr, BlankNone};
constexpr TFieldCodec kLargeint{ReadNumber<ftLargeint>, WriteNumber<ftLargeint>, nullptr, nullptr, nullptr, BlankNone};
constexpr TFieldCodec kFloat{ReadNumber<ftFloat>, WriteNumber<ftFloat>, nullptr, nullptr, nullptr, BlankNone};
constexpr TFieldCodec kLongLargeint{ReadNumber<ftLargeint>, WriteNumber<ftLargeint>, ReadNumberText, TakesNumberText,
                                    WriteNumberText, BlankNone};
constexpr TFieldCodec kLongFloat{ReadNumber<ftFloat>, WriteNumber<ftFloat>, ReadNumberText, TakesNumberText,
                                 WriteNumberText, BlankNone};
constexpr TFieldCodec kDate{ReadD, WriteD, nullptr, nullptr, nullptr, BlankNone};
constexpr TFieldCodec kLogical{ReadL, WriteL, nullptr, nullptr, nullptr, BlankNone};
constexpr TFieldCodec kMemo{ReadMemo, WriteMemo, nullptr, nullptr, nullptr, BlankZeroInVfp};
constexpr TFieldCodec kB{ReadB, WriteB, nullptr, nullptr, nullptr, BlankZeroInVfp};
constexpr TFieldCodec kT{ReadT, WriteT, nullptr, nullptr, nullptr, BlankZero};
constexpr TFieldCodec kY{ReadY, WriteY, nullptr, nullptr, nullptr, BlankZero};
constexpr TFieldCodec kI{ReadI, WriteI, nullptr, nullptr, nullptr, BlankZero};
constexpr TFieldCodec kAt{ReadAt, WriteAt, nullptr, nullptr, nullptr, BlankZero};
constexpr TFieldCodec kO{ReadO, WriteO, nullptr, nullptr, nullptr, BlankZero};
constexpr TFieldCodec kFlags{ReadFlags, WriteFlags, nullptr, nullptr, nullptr, BlankFlags};

// ---------------------------------------------------------------------------------------
// Codecs of the extended kinds
// ---------------------------------------------------------------------------------------

// Value forms. Read(s, v, n, buffer) and Write(s, v, n, buffer) see the value's n bytes (after
// the marker byte of an "_N" kind; with the top bit cleared for an "_NB" kind); Clear stores
// no value in a plain kind that has a way to (most have none and keep their bytes).
struct TNoClear {
    static void Clear(std::uint8_t*, int) {}
};
struct VS1 : TNoClear {
    static bool Read(const TStore&, const std::uint8_t* v, int, void* b) {
        if (b) Put(b, static_cast<std::int16_t>(static_cast<std::int8_t>(v[0])));
        return true;
    }
    static void Write(const TStore&, std::uint8_t* v, int, const void* b) { v[0] = static_cast<std::uint8_t>(Get16(b)); }
};
struct VU1 : VS1 {
    static bool Read(const TStore&, const std::uint8_t* v, int, void* b) {
        if (b) Put(b, static_cast<std::uint16_t>(v[0]));
        return true;
    }
};
struct V16 : TNoClear {
    static bool Read(const TStore&, const std::uint8_t* v, int, void* b) {
        if (b) Put(b, GetLE16(v));
        return true;
    }
    static void Write(const TStore&, std::uint8_t* v, int, const void* b) { PutLE16(v, static_cast<std::uint16_t>(Get16(b))); }
};
struct V32 : TNoClear {  // 32-bit integers, dates and times
    static bool Read(const TStore&, const std::uint8_t* v, int, void* b) {
        if (b) Put(b, GetLE32(v));
        return true;
    }
    static void Write(const TStore&, std::uint8_t* v, int, const void* b) { PutLE32(v, static_cast<std::uint32_t>(Get32(b))); }
};
struct V64 : TNoClear {
    static bool Read(const TStore&, const std::uint8_t* v, int, void* b) {
        if (b) Put(b, GetLE64(v));
        return true;
    }
    static void Write(const TStore&, std::uint8_t* v, int, const void* b) { PutLE64(v, static_cast<std::uint64_t>(Get64(b))); }
};
struct VR4 : TNoClear {
    static bool Read(const TStore&, const std::uint8_t* v, int, void* b) {
        if (b) Put(b, static_cast<double>(ReadSingle(v)));
        return true;
    }
    static void Write(const TStore&, std::uint8_t* v, int, const void* b) { WriteSingle(v, static_cast<float>(GetD(b))); }
};
struct VR6 : TNoClear {
    static bool Read(const TStore&, const std::uint8_t* v, int, void* b) {
        if (b) Put(b, ReadReal48(v));
        return true;
    }
    static void Write(const TStore& s, std::uint8_t* v, int, const void* b) {
        if (WriteReal48(v, GetD(b))) return;
        char text[kNumTextMax];
        TooWide(s, std::string(text, FormatFloatGeneral(GetD(b), '.', text)));
    }
};
struct VR8 : TNoClear {  // doubles: R8, currency, D2
    static bool Read(const TStore&, const std::uint8_t* v, int, void* b) {
        if (b) Put(b, ReadDouble(v));
        return true;
    }
    static void Write(const TStore&, std::uint8_t* v, int, const void* b) { WriteDouble(v, GetD(b)); }
};
struct VR10 : TNoClear {
    static bool Read(const TStore&, const std::uint8_t* v, int, void* b) {
        if (b) Put(b, ReadExtended(v));
        return true;
    }
    static void Write(const TStore&, std::uint8_t* v, int, const void* b) { WriteExtended(v, GetD(b)); }
};
struct VD1 : TNoClear {  // days since 1899 as a double
    static bool Read(const TStore&, const std::uint8_t* v, int, void* b) {
        if (b) Put(b, DateTimeToMSecs(ReadDouble(v)));
        return true;
    }
    static void Write(const TStore&, std::uint8_t* v, int, const void* b) { WriteDouble(v, MSecsToDateTime(GetD(b))); }
};
struct VD3 : TNoClear {  // days since 1899 as a 48-bit real
    static bool Read(const TStore&, const std::uint8_t* v, int, void* b) {
        if (b) Put(b, DateTimeToMSecs(ReadReal48(v)));
        return true;
    }
    static void Write(const TStore& s, std::uint8_t* v, int, const void* b) {
        if (!WriteReal48(v, MSecsToDateTime(GetD(b)))) TooWide(s, "date");
    }
};
struct VString : TNoClear {  // a 16-bit count, then the characters (zero-filled)
    static bool Read(const TStore& s, const std::uint8_t* v, int n, void* b) {
        std::uint16_t count = GetLE16(v);
        if (count >= 0x2020) return false;
        int c = std::min<int>(count, std::min<int>(n - 2, s.Len));
        if (c < 0) c = 0;
        if (b) {
            std::memcpy(b, v + 2, static_cast<std::size_t>(c));
            static_cast<char*>(b)[c] = '\0';
        }
        return true;
    }
    static void Write(const TStore& s, std::uint8_t* v, int n, const void* b) {
        const int room = std::min<int>(n - 2, s.Len);
        const char* src = static_cast<const char*>(b);
        int c = 0;
        while (c < room && src[c]) ++c;
        PutLE16(v, static_cast<std::uint16_t>(c));
        std::memcpy(v + 2, src, static_cast<std::size_t>(c));
        std::memset(v + 2 + c, 0, static_cast<std::size_t>(n - 2 - c));
    }
};
struct VFixedChar {  // len characters and a zero byte; blanks: no value
    static bool Read(const TStore& s, const std::uint8_t* v, int n, void* b) {
        if (AllSpaces(v, n)) return false;
        if (b) {
            std::memcpy(b, v, static_cast<std::size_t>(s.Len));
            static_cast<char*>(b)[s.Len] = '\0';
        }
        return true;
    }
    static void Write(const TStore& s, std::uint8_t* v, int, const void* b) {
        const char* src = static_cast<const char*>(b);
        int c = 0;
        while (c < s.Len && src[c]) ++c;
        std::memcpy(v, src, static_cast<std::size_t>(c));
        std::memset(v + c, ' ', static_cast<std::size_t>(s.Len - c));
        v[s.Len] = 0;
    }
    static void Clear(std::uint8_t* v, int n) { std::memset(v, ' ', static_cast<std::size_t>(n)); }
};
struct VWide {  // 0x01, a 16-bit count, UTF-16 units
    static bool Read(const TStore& s, const std::uint8_t* v, int, void* b) {
        if (v[0] != 0x01) return false;
        int count = std::min<int>(GetLE16(v + 1), s.Len);
        if (b) {
            char* out = static_cast<char*>(b);
            for (int i = 0; i < count; ++i) out[i] = UnitToAnsi(static_cast<char16_t>(GetLE16(v + 3 + 2 * i)));
            out[count] = '\0';
        }
        return true;
    }
    static void Write(const TStore& s, std::uint8_t* v, int n, const void* b) {
        const char* src = static_cast<const char*>(b);
        int c = 0;
        while (c < s.Len && src[c]) ++c;
        std::memset(v, 0, static_cast<std::size_t>(n));
        v[0] = 0x01;
        PutLE16(v + 1, static_cast<std::uint16_t>(c));
        for (int i = 0; i < c; ++i) PutLE16(v + 3 + 2 * i, AnsiCharToUnicode(static_cast<unsigned char>(src[i])));
    }
    static void Clear(std::uint8_t* v, int n) {
        std::memset(v, 0, static_cast<std::size_t>(n));
        v[0] = 0x20;
    }
};
struct VBCD {  // places and sign byte, then packed decimal digits right-aligned
    static bool Read(const TStore&, const std::uint8_t* v, int n, void* b) {
        if (AllSpaces(v, n)) return false;
        double val = 0;
        int digits = 2 * (n - 1);
        for (int i = 0; i < digits; ++i) {
            int nib = (i % 2 == 0) ? (v[1 + i / 2] >> 4) : (v[1 + i / 2] & 0x0F);
            if (nib > 9) return false;
            val = val * 10 + nib;
        }
        val /= std::pow(10.0, v[0] & 0x3F);
        if (v[0] & 0x80) val = -val;
        if (b) Put(b, val);
        return true;
    }
    static void Write(const TStore& s, std::uint8_t* v, int n, const void* b) {
        char text[kNumTextMax];
        double val = GetD(b);
        int places = std::min<int>(s.Dec, 0x3F);
        std::size_t len = FormatFloatFixed(std::fabs(val), places, '.', text);
        char digits[kNumTextMax];
        int nd = 0;
        for (std::size_t i = 0; i < len; ++i)
            if (text[i] >= '0' && text[i] <= '9') digits[nd++] = text[i];
        int first = 0;
        while (first < nd - 1 && digits[first] == '0') ++first;
        int capacity = 2 * (n - 1);
        if (!std::isfinite(val) || nd - first > capacity || nd - first > s.LenByte) TooWide(s, std::string(text, len));
        std::memset(v, 0, static_cast<std::size_t>(n));
        v[0] = static_cast<std::uint8_t>(places | (val < 0 ? 0x80 : 0));
        for (int i = 0; i < nd - first; ++i) {
            int pos = capacity - 1 - i;  // right-aligned nibble index
            int digit = digits[nd - 1 - i] - '0';
            std::uint8_t& byte = v[1 + pos / 2];
            byte = (pos % 2 == 0) ? static_cast<std::uint8_t>((byte & 0x0F) | (digit << 4))
                                  : static_cast<std::uint8_t>((byte & 0xF0) | digit);
        }
    }
    static void Clear(std::uint8_t* v, int n) { std::memset(v, ' ', static_cast<std::size_t>(n)); }
};
struct VMemoRef {  // the memo kinds: a memo reference as M holds it
    static bool Read(const TStore&, const std::uint8_t* v, int n, void* b) { return ReadMemoReference(v, n, b); }
    static void Write(const TStore&, std::uint8_t* v, int n, const void* b) {
        std::memcpy(v, b, static_cast<std::size_t>(std::min(n, 16)));
    }
    static void Clear(std::uint8_t* v, int n) { std::memset(v, n == 4 ? 0 : ' ', static_cast<std::size_t>(n)); }
};
struct VMemoBlock : V32 {  // the "_NB" memo kinds: a 32-bit block number
};

enum class TFraming { Plain, Marker, TopBit };

template <TFraming F, class V>
bool ReadExt(const TStore& s, const TCtx&, const std::uint8_t* p, void* buffer) {
    const int n = s.Size;
    if constexpr (F == TFraming::Marker) {
        if (p[0] == 0x20) return false;
        return V::Read(s, p + 1, n - 1, buffer);
    } else if constexpr (F == TFraming::TopBit) {
        if (!(p[n - 1] & 0x80)) return false;
        std::uint8_t tmp[16];  // the "_NB" kinds take at most 8 bytes
        std::memcpy(tmp, p, static_cast<std::size_t>(n));
        tmp[n - 1] &= 0x7F;
        return V::Read(s, tmp, n, buffer);
    } else {
        return V::Read(s, p, n, buffer);
    }
}

template <TFraming F, class V>
void WriteExt(const TStore& s, const TCtx&, std::uint8_t* p, const void* buffer) {
    const int n = s.Size;
    if (!buffer) {
        if constexpr (F == TFraming::Marker) {
            p[0] = 0x20;
            if (n > 1) p[1] = 0x20;
        } else if constexpr (F == TFraming::TopBit) {
            p[n - 1] &= 0x7F;
        } else {
            V::Clear(p, n);
        }
        return;
    }
    if constexpr (F == TFraming::Marker) {
        p[0] = 0x01;
        V::Write(s, p + 1, n - 1, buffer);
    } else {
        V::Write(s, p, n, buffer);
    }
    if constexpr (F == TFraming::TopBit) p[n - 1] |= 0x80;
}

// A 4-byte memo reference (block number) starts as block 0.
void BlankMemoExt(const TStore& s, std::uint8_t* p, bool) {
    if (s.Size == 4) std::memset(p, 0, 4);
}

template <TFraming F, class V, bool Memo = false>
constexpr TFieldCodec kExt{ReadExt<F, V>, WriteExt<F, V>, nullptr, nullptr, nullptr, Memo ? BlankMemoExt : BlankNone};

constexpr TFraming kPlain = TFraming::Plain, kMarker = TFraming::Marker, kTopBit = TFraming::TopBit;

const TFieldCodec& ExtendedCodec(THXDBFType t) {
    switch (t) {
        case dbftS1: return kExt<kPlain, VS1>;
        case dbftS1_N: return kExt<kMarker, VS1>;
        case dbftU1: return kExt<kPlain, VU1>;
        case dbftU1_N: return kExt<kMarker, VU1>;
        case dbftU1_NB: return kExt<kTopBit, VU1>;
        case dbftS2: case dbftU2: return kExt<kPlain, V16>;
        case dbftS2_N: case dbftU2_N: return kExt<kMarker, V16>;
        case dbftU2_NB: return kExt<kTopBit, V16>;
        case dbftS4: case dbftU4: case dbftDate: case dbftTime: return kExt<kPlain, V32>;
        case dbftS4_N: case dbftU4_N: case dbftDate_N: case dbftTime_N: return kExt<kMarker, V32>;
        case dbftU4_NB: case dbftDate_NB: case dbftTime_NB: return kExt<kTopBit, V32>;
        case dbftS8: return kExt<kPlain, V64>;
        case dbftS8_N: return kExt<kMarker, V64>;
        case dbftR4: return kExt<kPlain, VR4>;
        case dbftR4_N: return kExt<kMarker, VR4>;
        case dbftR4_NB: return kExt<kTopBit, VR4>;
        case dbftR6: return kExt<kPlain, VR6>;
        case dbftR6_N: return kExt<kMarker, VR6>;
        case dbftR6_NB: return kExt<kTopBit, VR6>;
        case dbftR8: case dbftCurrency: case dbftD2: return kExt<kPlain, VR8>;
        case dbftR8_N: case dbftCurrency_N: case dbftD2_N: return kExt<kMarker, VR8>;
        case dbftR8_NB: case dbftCurrency_NB: case dbftD2_NB: return kExt<kTopBit, VR8>;
        case dbftR10: return kExt<kPlain, VR10>;
        case dbftR10_N: return kExt<kMarker, VR10>;
        case dbftD1: return kExt<kPlain, VD1>;
        case dbftD1_N: return kExt<kMarker, VD1>;
        case dbftD1_NB: return kExt<kTopBit, VD1>;
        case dbftD3: return kExt<kPlain, VD3>;
        case dbftD3_N: return kExt<kMarker, VD3>;
        case dbftD3_NB: return kExt<kTopBit, VD3>;
        case dbftString: return kExt<kPlain, VString>;
        case dbftString_N: return kExt<kMarker, VString>;
        case dbftFixedChar: return kExt<kPlain, VFixedChar>;
        case dbftWideString: return kExt<kPlain, VWide>;
        case dbftBCD: return kExt<kPlain, VBCD>;
        case dbftClob: case dbftBlob: case dbftGraphic: case dbftFmtMemo: case dbftDBFDataSet:
            return kExt<kPlain, VMemoRef, true>;
        case dbftClob_NB: case dbftBlob_NB: case dbftGraphic_NB: case dbftFmtMemo_NB: case dbftDBFDataSet_NB:
            return kExt<kTopBit, VMemoBlock, true>;
        default: return kNone;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The table
// ---------------------------------------------------------------------------------------

const TFieldCodec& FieldCodecFor(char letter, std::uint8_t ext, TFieldType dataType, int size) {
    if (dataType == ftUnknown) return kNone;
    const bool wide = size > kDoubleDigits;  // numbers that may need the text roads
    switch (letter) {
        case 'C': return dataType == ftBytes ? kBytes : kText;
        case 'N':
        case 'F':
            if (dataType == ftFloat) return wide ? kLongFloat : kFloat;
            if (dataType == ftLargeint) return wide ? kLongLargeint : kLargeint;
            return kInteger;
        case 'D': return kDate;
        case 'L': return kLogical;
        case 'M': case 'G': case 'P': case 'W': return kMemo;
        case 'V': return kVarText;
        case 'Q': return kVarBytes;
        case 'B': return kB;
        case 'T': return kT;
        case 'Y': return kY;
        case 'I': case '+': return kI;
        case '@': return kAt;
        case 'O': return kO;
        case '0': return kFlags;
        case 'E': return ExtendedCodec(ExtendedStorage(ext));
        default: return kNone;
    }
}

// ---------------------------------------------------------------------------------------
// Entry points
// ---------------------------------------------------------------------------------------

void CodecWriteValue(const TDBFFieldStore& s, const TFieldCodecContext& c, std::uint8_t* rec, const void* buffer) {
    if (c.Vfp) {
        const bool bit = s.Nullable && c.NullFlagsOffset > 0 && s.NullByte < c.NullFlagsSize;
        if (!buffer) {
            if (bit) rec[c.NullFlagsOffset + s.NullByte] |= s.NullMask;
            if (s.Letter == 'M' || s.Letter == 'G' || s.Letter == 'P' || s.Letter == 'W') std::memset(rec + s.Offset, 0, 4);
            return;
        }
        if (bit) rec[c.NullFlagsOffset + s.NullByte] &= static_cast<std::uint8_t>(~s.NullMask);
    }
    s.Codec->Write(s, c, rec + s.Offset, buffer);
}

bool CodecReadText(const TDBFFieldStore& s, const TFieldCodecContext& c, const std::uint8_t* rec, std::string& out) {
    if (!s.Codec->ReadText || CodecNullBitSet(s, c, rec)) return false;
    return s.Codec->ReadText(s, rec + s.Offset, FormatSettings().DecimalSeparator, out);
}

bool CodecTakesText(const TDBFFieldStore& s, std::string_view text) {
    return s.Codec->TakesText && s.Codec->TakesText(s, text, FormatSettings().DecimalSeparator);
}

void CodecWriteText(const TDBFFieldStore& s, const TFieldCodecContext& c, std::uint8_t* rec, std::string_view text) {
    if (s.Codec->WriteText) s.Codec->WriteText(s, c, rec, text, FormatSettings().DecimalSeparator);
}

}  // namespace zarbel
