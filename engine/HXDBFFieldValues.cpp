// THXSmartDBF: field read and write of every type, the blank record and the OEM translation.
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
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "engine/HXDBFDataSet.h"
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

bool IsMemoKind(THXDBFType t) {
    switch (t) {
        case dbftClob: case dbftBlob: case dbftGraphic: case dbftFmtMemo: case dbftDBFDataSet:
        case dbftClob_NB: case dbftBlob_NB: case dbftGraphic_NB: case dbftFmtMemo_NB: case dbftDBFDataSet_NB:
            return true;
        default: return false;
    }
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

// The codecs of the plain kinds, shared by the general read and the per-field fast road.
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

}  // namespace

// ---------------------------------------------------------------------------------------
// Numbers beyond a double
// ---------------------------------------------------------------------------------------

const TDBFFieldStore* THXSmartDBF::LongNumberStore(const TField* field) const {
    if (field->FieldKind() != fkData) return nullptr;
    const TDBFFieldStore* s = FieldStore(field);
    if (!s || s->Size <= kDoubleDigits || (s->Letter != 'N' && s->Letter != 'F')) return nullptr;
    return s->DataType == ftFloat || s->DataType == ftLargeint ? s : nullptr;
}

bool THXSmartDBF::GetFieldText(const TField* field, std::string& out) {
    const TDBFFieldStore* s = LongNumberStore(field);
    if (!s) return false;
    const auto* rec = reinterpret_cast<const std::uint8_t*>(ActiveRecordBuffer());
    if (!rec) return false;
    if (s->Nullable) {
        const int nf = DBFFieldDefs_.NullFlagsOffset();
        if (nf > 0 && s->NullByte < DBFFieldDefs_.NullFlagsSize() && (rec[nf + s->NullByte] & s->NullMask))
            return false;
    }
    TNumberParts n;
    if (!SplitNumber(std::string_view(reinterpret_cast<const char*>(rec + s->Offset), static_cast<std::size_t>(s->Size)),
                     '.', ',', n) ||
        !NeedsText(n, s->DataType))
        return false;
    out.assign(n.Sign);
    out += n.Whole;
    if (n.Separator) {
        out.push_back(FormatSettings().DecimalSeparator);
        out += n.Decimals;
    }
    return true;
}

bool THXSmartDBF::TakesFieldText(const TField* field, std::string_view text) {
    const TDBFFieldStore* s = LongNumberStore(field);
    TNumberParts n;
    const char sep = FormatSettings().DecimalSeparator;
    if (!s || !SplitNumber(text, sep, sep, n) || !NeedsText(n, s->DataType)) return false;
    // Only where the field holds every digit: no more decimals than it has, and the whole
    // part (without leading zeros) in the width that is left.
    if (n.Decimals.size() > s->Dec) return false;
    std::size_t whole = n.Whole.find_first_not_of('0');
    whole = whole == std::string_view::npos ? 1 : n.Whole.size() - whole;
    const std::size_t width = (n.Sign == "-" ? 1 : 0) + whole + (s->Dec > 0 ? 1u + s->Dec : 0u);
    return width <= static_cast<std::size_t>(s->Size);
}

void THXSmartDBF::SetFieldText(TField* field, std::string_view text) {
    const TDBFFieldStore* s = LongNumberStore(field);
    auto* rec = reinterpret_cast<std::uint8_t*>(ActiveRecordBuffer());
    TNumberParts n;
    const char sep = FormatSettings().DecimalSeparator;
    if (!s || !rec || !SplitNumber(text, sep, sep, n)) return;
    if (DbfVersion() == xVisualFoxPro && s->Nullable) {
        const int nf = DBFFieldDefs_.NullFlagsOffset();
        if (nf > 0 && s->NullByte < DBFFieldDefs_.NullFlagsSize())
            rec[nf + s->NullByte] &= static_cast<std::uint8_t>(~s->NullMask);
    }
    // Fixed point as every number is written: the digits, "." and exactly dec decimals,
    // right-aligned (TakesFieldText made sure they fit).
    std::string_view whole = n.Whole.substr(std::min(n.Whole.find_first_not_of('0'), n.Whole.size()));
    std::string t(n.Sign == "-" ? "-" : "");
    t += whole.empty() ? std::string_view("0") : whole;
    if (s->Dec > 0) {
        t.push_back('.');
        t += n.Decimals;
        t.append(s->Dec - n.Decimals.size(), '0');
    }
    PutRightAligned(rec + s->Offset, s->Size, t.data(), t.size(), *s);
    if (State() != dsCalcFields && State() != dsFilter) DataEvent(deFieldChange, reinterpret_cast<std::intptr_t>(field));
}

// ---------------------------------------------------------------------------------------
// Code pages
// ---------------------------------------------------------------------------------------

int THXSmartDBF::TranslateText(const char* src, char* dst, bool toOem) {
    if (!src) return 0;
    if (!OEM_) return TDataSet::TranslateText(src, dst, toOem);
    return static_cast<int>(toOem ? CharToOemLen(src, dst) : OemToCharLen(src, dst));
}

int THXSmartDBF::TranslateBuffer(const char* src, char* dst, int count, bool toOem) {
    if (!src || count < 0) return 0;
    if (!OEM_) {
        if (dst != src) std::memmove(dst, src, static_cast<std::size_t>(count));
        return count;
    }
    bool ok = toOem ? CharToOemBuffA(src, dst, static_cast<std::size_t>(count))
                    : OemToCharBuffA(src, dst, static_cast<std::size_t>(count));
    return ok ? count : 0;
}

// ---------------------------------------------------------------------------------------
// Blank record
// ---------------------------------------------------------------------------------------

void THXSmartDBF::InternalInitRecord(char* buffer) {
    const bool vfp = DbfVersion() == xVisualFoxPro;
    if (BlankRecord_.Size() >= RecLen_ && RecLen_ > 0) {
        // the blank image is made once per open (again if the dialect changes meanwhile)
        if (!BlankValid_ || BlankVfp_ != vfp) {
            FillBlankRecord(BlankRecord_.Bytes(), vfp);
            BlankValid_ = true;
            BlankVfp_ = vfp;
        }
        std::memcpy(buffer, BlankRecord_.Data(), static_cast<std::size_t>(RecLen_));
    } else {
        FillBlankRecord(reinterpret_cast<std::uint8_t*>(buffer), vfp);
    }
    std::memset(buffer + RecLen_, ' ', static_cast<std::size_t>(6 + CalcFieldsSize()));
    PutLE32(reinterpret_cast<std::uint8_t*>(buffer) + RecLen_, 0);
    buffer[RecLen_ + 4] = 2;
    buffer[RecLen_ + 5] = bfInserted;
}

void THXSmartDBF::FillBlankRecord(std::uint8_t* rec, bool vfp) const {
    std::memset(rec, ' ', static_cast<std::size_t>(RecLen_));
    for (const TDBFFieldStore& s : Stores_) {
        if (s.Offset + s.Size > RecLen_) continue;
        std::uint8_t* p = rec + s.Offset;
        switch (s.Letter) {
            case '0': std::memset(p, 0xFF, static_cast<std::size_t>(s.Size)); break;
            case '@': case 'O': case 'Y': case 'T': std::memset(p, 0, static_cast<std::size_t>(s.Size)); break;
            case 'B': case 'G': case 'M': case 'P':
                // Visual FoxPro keeps these binary (a double, block numbers): zero, not spaces.
                if (vfp) std::memset(p, 0, static_cast<std::size_t>(s.Size));
                break;
            case '+': case 'I': std::memset(p, 0, 4); break;
            case 'E':
                if (IsMemoKind(ExtendedStorage(s.Ext)) && s.Size == 4) std::memset(p, 0, 4);
                break;
            default: break;
        }
    }
}

// ---------------------------------------------------------------------------------------
// Field read
// ---------------------------------------------------------------------------------------

bool THXSmartDBF::GetFieldData(TField* field, void* buffer) {
    char* buf = ActiveRecordBuffer();
    if (!buf) return false;
    if (field->FieldKind() == fkCalculated) return GetCalcFieldData(field, buf + RecLen_ + 6, buffer);
    if (field->FieldKind() == fkLookup) return GetLookupValue(field, buffer);
    const TDBFFieldStore* s = FieldStore(field);
    if (!s) return false;
    const auto* rec = reinterpret_cast<const std::uint8_t*>(buf);
    switch (s->FastRead) {  // the plain kinds straight to their codec (never nullable)
        case kFastText: return ReadText(rec + s->Offset, s->Size, TrimCType_, buffer);
        case kFastDecimal: return ReadDecimal(rec + s->Offset, s->Size, s->DataType, buffer);
        case kFastDate: return ReadDate(rec + s->Offset, buffer);
        case kFastLogical: return ReadLogical(rec + s->Offset, buffer);
        default: break;
    }
    if (s->Nullable) {
        int nf = DBFFieldDefs_.NullFlagsOffset();
        if (nf > 0 && s->NullByte < DBFFieldDefs_.NullFlagsSize() && (rec[nf + s->NullByte] & s->NullMask) &&
            s->Letter != 'G' && s->Letter != 'M' && s->Letter != 'P')
            return false;
    }
    return ReadFieldValue(*s, rec, buffer);
}

bool THXSmartDBF::ReadFieldValue(const TDBFFieldStore& s, const std::uint8_t* rec, void* buffer) {
    const std::uint8_t* p = rec + s.Offset;
    const int n = s.Size;
    const bool vfp = DbfVersion() == xVisualFoxPro;
    switch (s.Letter) {
        case 'C':
            if (s.DataType == ftBytes) {
                if (buffer) std::memcpy(buffer, p, static_cast<std::size_t>(n));
                return true;
            }
            return ReadText(p, n, TrimCType_, buffer);
        case 'N':
        case 'F': return ReadDecimal(p, n, s.DataType, buffer);
        case 'D': return ReadDate(p, buffer);
        case 'L': return ReadLogical(p, buffer);
        case 'M':
        case 'G':
        case 'P':
        case 'B':
            if (s.Letter == 'B' && vfp) {
                if (buffer) Put(buffer, ReadDouble(p));
                return true;
            }
            return ReadMemoReference(p, n, buffer);
        case 'T': {
            if (p[0] == ' ') return false;
            std::int64_t julian = GetLE32(p);
            std::int64_t ms = static_cast<std::int32_t>(GetLE32(p + 4));
            if (julian == 0 && ms == 0) return false;  // a freshly initialised record
            std::int64_t day = julian - kJulianDelta;
            if (day < 1 || ms < 0 || ms >= 86400000) return false;
            if (buffer) Put(buffer, static_cast<double>(day) * kMs + static_cast<double>(ms));
            return true;
        }
        case 'Y':
            if (buffer) Put(buffer, static_cast<double>(static_cast<std::int64_t>(GetLE64(p))) / 10000.0);
            return true;
        case 'I':
        case '+': {
            std::int32_t v;
            if (vfp) {
                v = static_cast<std::int32_t>(GetLE32(p));
            } else {
                std::uint32_t u = GetBE32(p);
                if (u == 0) return false;
                v = static_cast<std::int32_t>(u ^ 0x80000000u);
            }
            if (buffer) Put(buffer, v);
            return true;
        }
        case '@': {
            std::uint64_t u = GetBE64(p);
            if (u == 0) return false;
            double v;
            std::memcpy(&v, &u, 8);
            if (buffer) Put(buffer, v);
            return true;
        }
        case 'O': {
            std::uint64_t u = GetBE64(p);
            if (u == 0) return false;
            if (u & 0x8000000000000000ull)
                u &= ~0x8000000000000000ull;  // stored as -v: negate
            else
                u = ~u;
            double v;
            std::memcpy(&v, &u, 8);
            if (buffer) Put(buffer, v);
            return true;
        }
        case '0':
            if (buffer) std::memcpy(buffer, p, static_cast<std::size_t>(n));
            return false;
        case 'E': break;
        default: return false;
    }

    // Extended kinds.
    const THXDBFType t = ExtendedStorage(s.Ext);
    std::uint8_t tmp[16];
    const std::uint8_t* v = p;
    switch (t) {
        case dbftS1_N: case dbftU1_N: case dbftS2_N: case dbftU2_N: case dbftS4_N: case dbftU4_N:
        case dbftS8_N: case dbftR4_N: case dbftR6_N: case dbftR8_N: case dbftR10_N: case dbftD1_N:
        case dbftD2_N: case dbftCurrency_N: case dbftDate_N: case dbftTime_N: case dbftD3_N:
            if (p[0] == 0x20) return false;
            v = p + 1;
            break;
        case dbftU1_NB: case dbftU2_NB: case dbftU4_NB: case dbftR4_NB: case dbftR6_NB: case dbftR8_NB:
        case dbftD1_NB: case dbftD2_NB: case dbftCurrency_NB: case dbftDate_NB: case dbftTime_NB: case dbftD3_NB:
        case dbftClob_NB: case dbftBlob_NB: case dbftGraphic_NB: case dbftFmtMemo_NB: case dbftDBFDataSet_NB:
            if (!(p[n - 1] & 0x80)) return false;
            std::memcpy(tmp, p, static_cast<std::size_t>(n));
            tmp[n - 1] &= 0x7F;
            v = tmp;
            break;
        default: break;
    }
    switch (t) {
        case dbftS1: case dbftS1_N:
            if (buffer) Put(buffer, static_cast<std::int16_t>(static_cast<std::int8_t>(v[0])));
            return true;
        case dbftU1: case dbftU1_N: case dbftU1_NB:
            if (buffer) Put(buffer, static_cast<std::uint16_t>(v[0]));
            return true;
        case dbftS2: case dbftS2_N: case dbftU2: case dbftU2_N: case dbftU2_NB:
            if (buffer) Put(buffer, GetLE16(v));
            return true;
        case dbftS4: case dbftS4_N: case dbftU4: case dbftU4_N: case dbftU4_NB: case dbftDate: case dbftDate_N:
        case dbftDate_NB: case dbftTime: case dbftTime_N: case dbftTime_NB:
            if (buffer) Put(buffer, GetLE32(v));
            return true;
        case dbftS8: case dbftS8_N:
            if (buffer) Put(buffer, GetLE64(v));
            return true;
        case dbftR4: case dbftR4_N: case dbftR4_NB:
            if (buffer) Put(buffer, static_cast<double>(ReadSingle(v)));
            return true;
        case dbftR6: case dbftR6_N: case dbftR6_NB:
            if (buffer) Put(buffer, ReadReal48(v));
            return true;
        case dbftR8: case dbftR8_N: case dbftR8_NB: case dbftCurrency: case dbftCurrency_N: case dbftCurrency_NB:
        case dbftD2: case dbftD2_N: case dbftD2_NB:
            if (buffer) Put(buffer, ReadDouble(v));
            return true;
        case dbftR10: case dbftR10_N:
            if (buffer) Put(buffer, ReadExtended(v));
            return true;
        case dbftD1: case dbftD1_N: case dbftD1_NB:
            if (buffer) Put(buffer, DateTimeToMSecs(ReadDouble(v)));
            return true;
        case dbftD3: case dbftD3_N: case dbftD3_NB:
            if (buffer) Put(buffer, DateTimeToMSecs(ReadReal48(v)));
            return true;
        case dbftString: case dbftString_N: {
            const std::uint8_t* q = t == dbftString_N ? p + 1 : p;
            if (t == dbftString_N && p[0] == 0x20) return false;
            std::uint16_t count = GetLE16(q);
            if (count >= 0x2020) return false;
            int room = n - static_cast<int>(q - p) - 2;
            int c = std::min<int>(count, std::min<int>(room, s.Len));
            if (c < 0) c = 0;
            if (buffer) {
                std::memcpy(buffer, q + 2, static_cast<std::size_t>(c));
                static_cast<char*>(buffer)[c] = '\0';
            }
            return true;
        }
        case dbftFixedChar:
            if (AllSpaces(p, n)) return false;
            if (buffer) {
                std::memcpy(buffer, p, static_cast<std::size_t>(s.Len));
                static_cast<char*>(buffer)[s.Len] = '\0';
            }
            return true;
        case dbftWideString: {
            if (p[0] != 0x01) return false;
            int count = std::min<int>(GetLE16(p + 1), s.Len);
            if (buffer) {
                char* out = static_cast<char*>(buffer);
                for (int i = 0; i < count; ++i) out[i] = UnitToAnsi(static_cast<char16_t>(GetLE16(p + 3 + 2 * i)));
                out[count] = '\0';
            }
            return true;
        }
        case dbftBCD: {
            if (AllSpaces(p, n)) return false;
            double val = 0;
            int digits = 2 * (n - 1);
            for (int i = 0; i < digits; ++i) {
                int nib = (i % 2 == 0) ? (p[1 + i / 2] >> 4) : (p[1 + i / 2] & 0x0F);
                if (nib > 9) return false;
                val = val * 10 + nib;
            }
            val /= std::pow(10.0, p[0] & 0x3F);
            if (p[0] & 0x80) val = -val;
            if (buffer) Put(buffer, val);
            return true;
        }
        case dbftClob: case dbftBlob: case dbftGraphic: case dbftFmtMemo: case dbftDBFDataSet:
            return ReadMemoReference(p, n, buffer);
        case dbftClob_NB: case dbftBlob_NB: case dbftGraphic_NB: case dbftFmtMemo_NB: case dbftDBFDataSet_NB:
            if (buffer) Put(buffer, GetLE32(v));
            return true;
        default: return false;
    }
}

bool THXSmartDBF::GetLookupValue(TField* field, void* buffer) {
    TDataSet* ds = field->LookupDataSet();
    if (!ds || !ds->Active()) return false;
    TVariant v = ds->Lookup(field->LookupKeyFields(), GetFieldValues(field->KeyFields()), field->LookupResultField());
    if (v.IsNullOrEmpty()) return false;
    if (!buffer) return true;
    switch (field->DataType()) {
        case ftString: case ftFixedChar: case ftWideString: {
            std::string s = v.AsString();
            std::size_t c = std::min<std::size_t>(s.size(), static_cast<std::size_t>(field->Size()));
            std::memcpy(buffer, s.data(), c);
            static_cast<char*>(buffer)[c] = '\0';
            break;
        }
        case ftSmallint: case ftWord: case ftBoolean:
            Put(buffer, static_cast<std::int16_t>(field->DataType() == ftBoolean ? (v.AsBoolean() ? -1 : 0) : v.AsInteger()));
            break;
        case ftInteger: case ftAutoInc: Put(buffer, v.AsInteger()); break;
        case ftLargeint: Put(buffer, v.AsInt64()); break;
        case ftDate: Put(buffer, DateTimeToDayNumber(v.AsDateTime())); break;
        case ftTime: Put(buffer, DateTimeToTimeMSecs(v.AsDateTime())); break;
        case ftDateTime: Put(buffer, DateTimeToMSecs(v.AsDateTime())); break;
        case ftFloat: case ftCurrency: case ftBCD: Put(buffer, v.AsDouble()); break;
        default: return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Field write
// ---------------------------------------------------------------------------------------

void THXSmartDBF::SetFieldData(TField* field, const void* buffer) {
    char* buf = ActiveRecordBuffer();
    if (!buf) throw Exception("Dataset not in edit or insert mode");
    if (field->FieldKind() == fkCalculated) {
        SetCalcFieldData(field, buf + RecLen_ + 6, buffer);
        return;
    }
    if (field->FieldKind() == fkLookup) return;
    const TDBFFieldStore* s = FieldStore(field);
    if (!s) return;
    WriteFieldValue(*s, reinterpret_cast<std::uint8_t*>(buf), buffer);
    if (State() != dsCalcFields && State() != dsFilter) DataEvent(deFieldChange, reinterpret_cast<std::intptr_t>(field));
}

void THXSmartDBF::WriteFieldValue(const TDBFFieldStore& s, std::uint8_t* rec, const void* buffer) {
    std::uint8_t* p = rec + s.Offset;
    const int n = s.Size;
    const bool vfp = DbfVersion() == xVisualFoxPro;
    if (s.AutoInc && !FillingAutoInc_) return;  // autoincrement values come from the append path
    if (vfp) {
        int nf = DBFFieldDefs_.NullFlagsOffset();
        bool bit = s.Nullable && nf > 0 && s.NullByte < DBFFieldDefs_.NullFlagsSize();
        if (!buffer) {
            if (bit) rec[nf + s.NullByte] |= s.NullMask;
            if (s.Letter == 'M' || s.Letter == 'G' || s.Letter == 'P') std::memset(p, 0, 4);
            return;
        }
        if (bit) rec[nf + s.NullByte] &= static_cast<std::uint8_t>(~s.NullMask);
    }
    char text[kNumTextMax];
    switch (s.Letter) {
        case 'C': {
            if (s.DataType == ftBytes) {
                if (buffer) std::memcpy(p, buffer, static_cast<std::size_t>(n));
                return;
            }
            std::size_t c = 0;
            if (buffer) {
                const char* src = static_cast<const char*>(buffer);
                c = ::strnlen(src, static_cast<std::size_t>(n));
                std::memcpy(p, src, c);
            }
            std::memset(p + c, ' ', static_cast<std::size_t>(n) - c);
            return;
        }
        case 'N':
        case 'F': {
            if (!buffer) {
                std::memset(p, ' ', static_cast<std::size_t>(n));
                return;
            }
            std::size_t len;
            if (s.DataType == ftFloat) {
                double v = GetD(buffer);
                if (!std::isfinite(v)) TooWide(s, "NAN");
                len = FormatFloatFixed(v, s.Dec, '.', text);
            } else if (s.DataType == ftInteger) {
                len = FormatInt64(Get32(buffer), text);
            } else {
                len = FormatInt64(Get64(buffer), text);
            }
            PutRightAligned(p, n, text, len, s);
            return;
        }
        case 'D': {
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
                for (int i = width - 1, v = value; i >= 0; --i, v /= 10)
                    p[at + i] = static_cast<std::uint8_t>('0' + v % 10);
                at += width;
            }
            return;
        }
        case 'L':
            p[0] = buffer ? (Get16(buffer) ? 'T' : 'F') : ' ';
            return;
        case 'M':
        case 'G':
        case 'P':
        case 'B':
            if (s.Letter == 'B' && vfp) {
                if (buffer) WriteDouble(p, GetD(buffer));
                return;
            }
            if (n == 4) {
                if (buffer) std::memcpy(p, buffer, 4);
                return;
            }
            if (buffer)
                std::memcpy(p, buffer, static_cast<std::size_t>(std::min(n, 16)));
            else
                std::memset(p, ' ', static_cast<std::size_t>(n));
            return;
        case 'T': {
            if (!buffer) return;  // Visual FoxPro only, handled above
            double ms = GetD(buffer);
            std::int64_t days = static_cast<std::int64_t>(std::trunc(ms / kMs));
            std::int64_t rest = std::llround(ms - static_cast<double>(days) * kMs);
            if (rest >= 86400000) {
                ++days;
                rest -= 86400000;
            }
            PutLE32(p, static_cast<std::uint32_t>(days + kJulianDelta));
            PutLE32(p + 4, static_cast<std::uint32_t>(rest));
            return;
        }
        case 'Y':
            if (buffer) {
                double v = GetD(buffer) * 10000.0;
                if (!(std::fabs(v) < 9.2e18)) TooWide(s, std::string(text, FormatFloatGeneral(GetD(buffer), '.', text)));
                PutLE64(p, static_cast<std::uint64_t>(std::llround(v)));
            }
            return;
        case 'I':
        case '+':
            if (!buffer) {
                std::memset(p, 0, 4);
            } else if (vfp) {
                PutLE32(p, static_cast<std::uint32_t>(Get32(buffer)));
            } else {
                PutBE32(p, static_cast<std::uint32_t>(Get32(buffer)) ^ 0x80000000u);
            }
            return;
        case '@': {
            if (!buffer) {
                std::memset(p, 0, 8);
                return;
            }
            double v = GetD(buffer);
            std::uint64_t u;
            std::memcpy(&u, &v, 8);
            PutBE64(p, u);
            return;
        }
        case 'O': {
            if (!buffer) {
                std::memset(p, 0, 8);
                return;
            }
            double v = GetD(buffer);
            std::uint64_t u;
            std::memcpy(&u, &v, 8);
            if (v >= 0)
                u |= 0x8000000000000000ull;
            else
                u = ~u;
            PutBE64(p, u);
            return;
        }
        case '0':
            if (buffer)
                std::memcpy(p, buffer, static_cast<std::size_t>(n));
            else
                std::memset(p, ' ', static_cast<std::size_t>(n));
            return;
        case 'E': break;
        default: return;
    }

    // Extended kinds.
    const THXDBFType t = ExtendedStorage(s.Ext);
    bool marker = false, topBit = false;
    switch (t) {
        case dbftS1_N: case dbftU1_N: case dbftS2_N: case dbftU2_N: case dbftS4_N: case dbftU4_N:
        case dbftS8_N: case dbftR4_N: case dbftR6_N: case dbftR8_N: case dbftR10_N: case dbftD1_N:
        case dbftD2_N: case dbftCurrency_N: case dbftDate_N: case dbftTime_N: case dbftD3_N: case dbftString_N:
            marker = true;
            break;
        case dbftU1_NB: case dbftU2_NB: case dbftU4_NB: case dbftR4_NB: case dbftR6_NB: case dbftR8_NB:
        case dbftD1_NB: case dbftD2_NB: case dbftCurrency_NB: case dbftDate_NB: case dbftTime_NB: case dbftD3_NB:
        case dbftClob_NB: case dbftBlob_NB: case dbftGraphic_NB: case dbftFmtMemo_NB: case dbftDBFDataSet_NB:
            topBit = true;
            break;
        default: break;
    }
    if (!buffer) {
        if (vfp) return;
        if (marker) {
            p[0] = 0x20;
            if (n > 1) p[1] = 0x20;
        } else if (topBit) {
            p[n - 1] &= 0x7F;
        } else if (t == dbftFixedChar) {
            std::memset(p, ' ', static_cast<std::size_t>(n));
        } else if (t == dbftWideString) {
            std::memset(p, 0, static_cast<std::size_t>(n));
            p[0] = 0x20;
        } else if (t == dbftBCD) {
            std::memset(p, ' ', static_cast<std::size_t>(n));
        } else if (IsMemoKind(t)) {
            if (n == 4)
                std::memset(p, 0, 4);
            else
                std::memset(p, ' ', static_cast<std::size_t>(n));
        }
        return;  // other plain kinds cannot hold "no value"
    }
    std::uint8_t* v = marker ? p + 1 : p;
    if (marker) p[0] = 0x01;
    switch (t) {
        case dbftS1: case dbftS1_N: v[0] = static_cast<std::uint8_t>(Get16(buffer)); break;
        case dbftU1: case dbftU1_N: case dbftU1_NB: v[0] = static_cast<std::uint8_t>(Get16(buffer)); break;
        case dbftS2: case dbftS2_N: case dbftU2: case dbftU2_N: case dbftU2_NB:
            PutLE16(v, static_cast<std::uint16_t>(Get16(buffer)));
            break;
        case dbftS4: case dbftS4_N: case dbftU4: case dbftU4_N: case dbftU4_NB: case dbftDate: case dbftDate_N:
        case dbftDate_NB: case dbftTime: case dbftTime_N: case dbftTime_NB:
            PutLE32(v, static_cast<std::uint32_t>(Get32(buffer)));
            break;
        case dbftS8: case dbftS8_N: PutLE64(v, static_cast<std::uint64_t>(Get64(buffer))); break;
        case dbftR4: case dbftR4_N: case dbftR4_NB: WriteSingle(v, static_cast<float>(GetD(buffer))); break;
        case dbftR6: case dbftR6_N: case dbftR6_NB:
            if (!WriteReal48(v, GetD(buffer))) TooWide(s, std::string(text, FormatFloatGeneral(GetD(buffer), '.', text)));
            break;
        case dbftR8: case dbftR8_N: case dbftR8_NB: case dbftCurrency: case dbftCurrency_N: case dbftCurrency_NB:
        case dbftD2: case dbftD2_N: case dbftD2_NB:
            WriteDouble(v, GetD(buffer));
            break;
        case dbftR10: case dbftR10_N: WriteExtended(v, GetD(buffer)); break;
        case dbftD1: case dbftD1_N: case dbftD1_NB: WriteDouble(v, MSecsToDateTime(GetD(buffer))); break;
        case dbftD3: case dbftD3_N: case dbftD3_NB:
            if (!WriteReal48(v, MSecsToDateTime(GetD(buffer)))) TooWide(s, "date");
            break;
        case dbftString: case dbftString_N: {
            std::uint8_t* q = t == dbftString_N ? p + 1 : p;
            int room = std::min<int>(n - static_cast<int>(q - p) - 2, s.Len);
            const char* src = static_cast<const char*>(buffer);
            int c = 0;
            while (c < room && src[c]) ++c;
            PutLE16(q, static_cast<std::uint16_t>(c));
            std::memcpy(q + 2, src, static_cast<std::size_t>(c));
            std::memset(q + 2 + c, 0, static_cast<std::size_t>(n - static_cast<int>(q - p) - 2 - c));
            break;
        }
        case dbftFixedChar: {
            const char* src = static_cast<const char*>(buffer);
            int c = 0;
            while (c < s.Len && src[c]) ++c;
            std::memcpy(p, src, static_cast<std::size_t>(c));
            std::memset(p + c, ' ', static_cast<std::size_t>(s.Len - c));
            p[s.Len] = 0;
            break;
        }
        case dbftWideString: {
            const char* src = static_cast<const char*>(buffer);
            int c = 0;
            while (c < s.Len && src[c]) ++c;
            std::memset(p, 0, static_cast<std::size_t>(n));
            p[0] = 0x01;
            PutLE16(p + 1, static_cast<std::uint16_t>(c));
            for (int i = 0; i < c; ++i) PutLE16(p + 3 + 2 * i, AnsiCharToUnicode(static_cast<unsigned char>(src[i])));
            break;
        }
        case dbftBCD: {
            double val = GetD(buffer);
            int places = std::min<int>(s.Dec, 0x3F);
            std::size_t len = FormatFloatFixed(std::fabs(val), places, '.', text);
            char digits[kNumTextMax];
            int nd = 0;
            for (std::size_t i = 0; i < len; ++i)
                if (text[i] >= '0' && text[i] <= '9') digits[nd++] = text[i];
            int first = 0;
            while (first < nd - 1 && digits[first] == '0') ++first;
            int capacity = 2 * (n - 1);
            if (!std::isfinite(val) || nd - first > capacity || nd - first > s.LenByte)
                TooWide(s, std::string(text, len));
            std::memset(p, 0, static_cast<std::size_t>(n));
            p[0] = static_cast<std::uint8_t>(places | (val < 0 ? 0x80 : 0));
            for (int i = 0; i < nd - first; ++i) {
                int pos = capacity - 1 - i;  // right-aligned nibble index
                int digit = digits[nd - 1 - i] - '0';
                std::uint8_t& b = p[1 + pos / 2];
                b = (pos % 2 == 0) ? static_cast<std::uint8_t>((b & 0x0F) | (digit << 4))
                                   : static_cast<std::uint8_t>((b & 0xF0) | digit);
            }
            break;
        }
        case dbftClob: case dbftBlob: case dbftGraphic: case dbftFmtMemo: case dbftDBFDataSet:
            std::memcpy(p, buffer, static_cast<std::size_t>(std::min(n, 16)));
            break;
        case dbftClob_NB: case dbftBlob_NB: case dbftGraphic_NB: case dbftFmtMemo_NB: case dbftDBFDataSet_NB:
            PutLE32(v, static_cast<std::uint32_t>(Get32(buffer)));
            break;
        default: return;
    }
    if (topBit) p[n - 1] |= 0x80;
}

}  // namespace zarbel
