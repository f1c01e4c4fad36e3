// Clock and locale: format settings, CP1251 casing, date-time arithmetic and text forms.
#include "platform/locale.h"

#include <algorithm>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/time.h>

#include "platform/codepage_tables.h"
#include "platform/exception.h"

namespace zarbel {

namespace {

constexpr std::int64_t kMSecsPerDay = 86400000;
constexpr std::int64_t kUnixEpochDelta = 25569;  // days from 30.12.1899 to 01.01.1970

// Days since 01.01.1970 of a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

// A date-time as whole days (toward zero) and milliseconds of the day, rounded to the
// millisecond first so that 23:59:59.9999 carries into the next day.
void SplitDateTime(TDateTime dt, std::int64_t& days, std::int64_t& msOfDay) {
    if (!std::isfinite(dt)) {
        days = 0;
        msOfDay = 0;
        return;
    }
    const double limit = 3.0e6;  // far beyond 31.12.9999; keeps the products in range
    if (dt > limit) dt = limit;
    if (dt < -limit) dt = -limit;
    std::int64_t total = std::llround(dt * static_cast<double>(kMSecsPerDay));
    days = total / kMSecsPerDay;
    msOfDay = std::llabs(total) % kMSecsPerDay;
}

void AppendNumber(std::string& out, int value, int minDigits) {
    char buf[16];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value < 0 ? -static_cast<long long>(value) : value);
    const int digits = static_cast<int>(end - buf);
    if (value < 0) out += '-';
    for (int i = digits; i < minDigits; ++i) out += '0';
    out.append(buf, end);
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Appends dt formatted by fmt; depth bounds the nesting of 'c' and 't'.
void FormatInto(std::string& out, std::string_view fmt, TDateTime dt, int depth) {
    std::int64_t days, ms;
    SplitDateTime(dt, days, ms);
    int year, month, day;
    CivilFromDays(days - kUnixEpochDelta, year, month, day);
    const int hour = static_cast<int>(ms / 3600000);
    const int minute = static_cast<int>(ms / 60000 % 60);
    const int second = static_cast<int>(ms / 1000 % 60);
    const int msec = static_cast<int>(ms % 1000);
    const TFormatSettings& fs = FormatSettings();

    bool lastWasHour = false;
    std::size_t i = 0;
    while (i < fmt.size()) {
        char c = fmt[i];
        char lc = Lower(c);
        if (c == '\'' || c == '"') {
            std::size_t end = fmt.find(c, i + 1);
            if (end == std::string_view::npos) end = fmt.size();
            out.append(fmt.substr(i + 1, end - i - 1));
            i = end < fmt.size() ? end + 1 : end;
            continue;
        }
        std::size_t n = 1;
        while (i + n < fmt.size() && Lower(fmt[i + n]) == lc) ++n;
        switch (lc) {
        case 'd': AppendNumber(out, day, n >= 2 ? 2 : 1); lastWasHour = false; break;
        case 'm':
            if (lastWasHour) AppendNumber(out, minute, n >= 2 ? 2 : 1);
            else AppendNumber(out, month, n >= 2 ? 2 : 1);
            lastWasHour = false;
            break;
        case 'y':
            if (n <= 2) AppendNumber(out, year % 100, 2); else AppendNumber(out, year, 4);
            lastWasHour = false;
            break;
        case 'h': AppendNumber(out, hour, n >= 2 ? 2 : 1); lastWasHour = true; break;
        case 'n': AppendNumber(out, minute, n >= 2 ? 2 : 1); lastWasHour = false; break;
        case 's': AppendNumber(out, second, n >= 2 ? 2 : 1); lastWasHour = false; break;
        case 'z': AppendNumber(out, msec, n >= 2 ? 3 : 1); lastWasHour = false; break;
        case 'c':
            if (depth < 2) {
                FormatInto(out, fs.ShortDateFormat, dt, depth + 1);
                if (ms != 0) {  // exactly midnight (to the millisecond): no time part
                    out.push_back(' ');
                    FormatInto(out, fs.LongTimeFormat, dt, depth + 1);
                }
            }
            lastWasHour = false;
            break;
        case 't':
            if (depth < 2) FormatInto(out, n >= 2 ? fs.LongTimeFormat : fs.ShortTimeFormat, dt, depth + 1);
            lastWasHour = false;
            break;
        case '/': out.append(n, fs.DateSeparator); break;
        case ':': out.append(n, fs.TimeSeparator); break;
        default: out.append(n, c); break;
        }
        i += n;
    }
}

// Small scanner for the text-to-value conversions.
struct Scanner {
    std::string_view s;
    std::size_t pos = 0;
    void SkipBlanks() {
        while (pos < s.size() && s[pos] == ' ') ++pos;
    }
    bool Number(int& value, int& digits) {
        digits = 0;
        value = 0;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
            if (digits < 9) value = value * 10 + (s[pos] - '0');
            ++digits;
            ++pos;
        }
        return digits > 0 && digits <= 9;
    }
    bool Char(char c) {
        if (pos < s.size() && s[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    }
    bool AtEnd() const { return pos >= s.size(); }
};

// Order of day, month and year in the short date format: "DMY", "MDY" or "YMD" (the letters
// in order[0..2]). Worked out once per format: the conversions of every date text ask.
void DateOrder(const TFormatSettings& fs, char order[3]) {
    struct TOrderCache {
        std::string Format;
        char Order[3] = {'D', 'M', 'Y'};
        bool Valid = false;
    };
    thread_local TOrderCache cache;
    if (!cache.Valid || cache.Format != fs.ShortDateFormat) {
        int n = 0;
        char found[3] = {};
        for (char c : fs.ShortDateFormat) {
            const char lc = Lower(c);
            if (lc != 'd' && lc != 'm' && lc != 'y') continue;
            const char uc = static_cast<char>(lc - 32);
            if (std::find(found, found + n, uc) != found + n) continue;
            found[n++] = uc;
            if (n == 3) break;
        }
        if (n == 3) std::memcpy(cache.Order, found, 3);
        else std::memcpy(cache.Order, "DMY", 3);
        cache.Format = fs.ShortDateFormat;
        cache.Valid = true;
    }
    std::memcpy(order, cache.Order, 3);
}

bool ScanDate(Scanner& sc, TDateTime& out) {
    const TFormatSettings& fs = FormatSettings();
    int v[3] = {0, 0, 0};
    int digits[3] = {0, 0, 0};
    sc.SkipBlanks();
    int parts = 2;
    const std::string_view rest = sc.s.substr(sc.pos);
    auto digit = [&rest](std::size_t i) { return rest[i] >= '0' && rest[i] <= '9'; };
    if (rest.size() >= 10 && digit(0) && digit(1) && rest[2] == fs.DateSeparator && digit(3) && digit(4) &&
        rest[5] == fs.DateSeparator && digit(6) && digit(7) && digit(8) && digit(9) &&
        (rest.size() == 10 || !digit(10))) {
        // the common shape, two, two and four digits: read in place
        auto d = [&rest](std::size_t i) { return rest[i] - '0'; };
        v[0] = d(0) * 10 + d(1);
        v[1] = d(3) * 10 + d(4);
        v[2] = ((d(6) * 10 + d(7)) * 10 + d(8)) * 10 + d(9);
        digits[0] = digits[1] = 2;
        digits[2] = 4;
        parts = 3;
        sc.pos += 10;
    } else {
        if (!sc.Number(v[0], digits[0]) || !sc.Char(fs.DateSeparator)) return false;
        if (!sc.Number(v[1], digits[1])) return false;
        if (sc.Char(fs.DateSeparator)) {
            if (!sc.Number(v[2], digits[2])) return false;
            parts = 3;
        }
    }
    char order[3];
    DateOrder(fs, order);
    int year = 0, month = 0, day = 0;
    int yearDigits = 0;
    if (parts == 2) {
        // Two numbers: day and month in their order, year of today.
        int y, m, d;
        DecodeDate(Now(), y, m, d);
        year = y;
        yearDigits = 4;
        const char* const first = order;
        const char* const last = order + 3;
        if (std::find(first, last, 'M') < std::find(first, last, 'D')) { month = v[0]; day = v[1]; }
        else { day = v[0]; month = v[1]; }
    } else {
        for (int k = 0; k < 3; ++k) {
            switch (order[k]) {
            case 'D': day = v[k]; break;
            case 'M': month = v[k]; break;
            default: year = v[k]; yearDigits = digits[k]; break;
            }
        }
    }
    if (yearDigits <= 2) {
        int y, m, d;
        DecodeDate(Now(), y, m, d);
        const int window = fs.TwoDigitYearCenturyWindow;
        if (window <= 0) {
            year += y / 100 * 100;
        } else {
            const int threshold = y - window;
            year += threshold / 100 * 100;
            if (year <= threshold) year += 100;
        }
    }
    return TryEncodeDate(year, month, day, out);
}

bool ScanTime(Scanner& sc, TDateTime& out) {
    const TFormatSettings& fs = FormatSettings();
    int h = 0, m = 0, s = 0, ms = 0, digits = 0;
    sc.SkipBlanks();
    if (!sc.Number(h, digits) || !sc.Char(fs.TimeSeparator) || !sc.Number(m, digits)) return false;
    if (sc.Char(fs.TimeSeparator)) {
        if (!sc.Number(s, digits)) return false;
        if (sc.Char('.') || (fs.DecimalSeparator != '.' && sc.Char(fs.DecimalSeparator))) {
            if (!sc.Number(ms, digits) || digits > 3) return false;
            for (int k = digits; k < 3; ++k) ms *= 10;
        }
    }
    if (h >= 24 || m >= 60 || s >= 60 || ms >= 1000) return false;
    out = EncodeTime(h, m, s, ms);
    return true;
}

}  // namespace

TFormatSettings& FormatSettings() {
    static TFormatSettings settings;
    return settings;
}

namespace {
const unsigned char* UpperTable(bool oemText) { return oemText ? cptables::kOemTextUpper : cptables::kAnsiUpper; }
std::string MapCase(std::string_view s, const unsigned char* table) {
    std::string out(s.size(), '\0');
    for (std::size_t i = 0; i < s.size(); ++i) out[i] = static_cast<char>(table[static_cast<unsigned char>(s[i])]);
    return out;
}
}  // namespace

std::string AnsiUpperCase(std::string_view s, bool oemText) { return MapCase(s, UpperTable(oemText)); }

std::string AnsiLowerCase(std::string_view s, bool oemText) {
    return MapCase(s, oemText ? cptables::kOemTextLower : cptables::kAnsiLower);
}

char AnsiUpperChar(char c, bool oemText) {
    return static_cast<char>(UpperTable(oemText)[static_cast<unsigned char>(c)]);
}

namespace {
// Sort weight of an upper-cased CP1251 byte: byte order, except that Ё sorts right after Е.
int CollationWeight(unsigned char c) {
    if (c == 0xA8) return 0xC5 * 2 + 1;  // Ё after Е
    return c * 2;
}
}  // namespace

int AnsiCompareText(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        int wa = CollationWeight(cptables::kAnsiUpper[static_cast<unsigned char>(a[i])]);
        int wb = CollationWeight(cptables::kAnsiUpper[static_cast<unsigned char>(b[i])]);
        if (wa != wb) return wa < wb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool AnsiSameText(std::string_view a, std::string_view b, bool oemText) {
    if (a.size() != b.size()) return false;
    const unsigned char* upper = UpperTable(oemText);
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper[static_cast<unsigned char>(a[i])] != upper[static_cast<unsigned char>(b[i])]) return false;
    return true;
}

TDateTime Now() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    // The local calendar fields change only with the second: they are converted once per
    // second (the time zone conversion is the costly part), the milliseconds every call.
    struct Second {
        std::time_t Sec = -1;
        TDateTime Day = 0;
        int Hour = 0, Min = 0, SecOfMin = 0;
    };
    thread_local Second cached;
    if (tv.tv_sec != cached.Sec) {
        std::time_t t = tv.tv_sec;
        struct tm lt;
        localtime_r(&t, &lt);
        cached.Day = EncodeDate(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday);
        cached.Hour = lt.tm_hour;
        cached.Min = lt.tm_min;
        cached.SecOfMin = lt.tm_sec > 59 ? 59 : lt.tm_sec;
        cached.Sec = tv.tv_sec;
    }
    return cached.Day + EncodeTime(cached.Hour, cached.Min, cached.SecOfMin, static_cast<int>(tv.tv_usec / 1000));
}

TDateTime Date() { return std::trunc(Now()); }

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return false;
    out = static_cast<TDateTime>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                                 kUnixEpochDelta);
    return true;
}

bool TryEncodeDateDays(int year, int month, int day, std::int32_t& days) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return false;
    days = static_cast<std::int32_t>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kUnixEpochDelta);
    return true;
}

void DecodeDateDays(std::int64_t days, int& year, int& month, int& day) {
    CivilFromDays(days - kUnixEpochDelta, year, month, day);
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime dt;
    if (!TryEncodeDate(year, month, day, dt)) throw Exception("Invalid argument to date encode");
    return dt;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
    if (hour < 0 || hour >= 24 || min < 0 || min >= 60 || sec < 0 || sec >= 60 || msec < 0 || msec >= 1000)
        throw Exception("Invalid argument to time encode");
    return static_cast<TDateTime>(((hour * 60 + min) * 60 + sec) * 1000 + msec) / static_cast<double>(kMSecsPerDay);
}

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
    std::int64_t days, ms;
    SplitDateTime(dt, days, ms);
    CivilFromDays(days - kUnixEpochDelta, year, month, day);
}

void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec) {
    std::int64_t days, ms;
    SplitDateTime(dt, days, ms);
    hour = static_cast<int>(ms / 3600000);
    min = static_cast<int>(ms / 60000 % 60);
    sec = static_cast<int>(ms / 1000 % 60);
    msec = static_cast<int>(ms % 1000);
}

std::string FormatDateTime(std::string_view format, TDateTime dt) {
    std::string out;
    FormatInto(out, format, dt, 0);
    return out;
}

namespace {
// The short date format rendered once as a template: the literal bytes in place and the
// positions where the two-digit day, two-digit month and four-digit year go (each at most once).
// Fast is false when the format has anything else.
struct TShortDatePlan {
    char Format[17] = {};
    std::size_t FormatLen = 0;
    char DateSeparator = 0;
    bool Valid = false;  // made from Format / DateSeparator
    bool Fast = false;
    char Template[16] = {};
    int Length = 0;
    int DayAt = -1, MonthAt = -1, YearAt = -1;
};

void MakeShortDatePlan(TShortDatePlan& plan, const std::string& f, char dateSeparator) {
    plan.Valid = true;
    plan.Fast = false;
    plan.Length = 0;
    plan.DayAt = plan.MonthAt = plan.YearAt = -1;
    plan.DateSeparator = dateSeparator;
    plan.FormatLen = f.size();
    if (f.size() > 16) return;  // never fast; recognised again by its length
    std::memcpy(plan.Format, f.data(), f.size());
    int n = 0;
    for (std::size_t i = 0; i < f.size();) {
        char c = f[i];
        auto run = [&](char letter) {
            std::size_t k = i;
            while (k < f.size() && (f[k] == letter || f[k] == letter - 'a' + 'A')) ++k;
            return k - i;
        };
        if (c == 'd' || c == 'D') {
            if (run('d') != 2 || plan.DayAt >= 0) return;
            plan.DayAt = n;
            n += 2;
            i += 2;
        } else if (c == 'm' || c == 'M') {
            if (run('m') != 2 || plan.MonthAt >= 0) return;
            plan.MonthAt = n;
            n += 2;
            i += 2;
        } else if (c == 'y' || c == 'Y') {
            if (run('y') != 4 || plan.YearAt >= 0) return;
            plan.YearAt = n;
            n += 4;
            i += 4;
        } else if (c == '/') {
            plan.Template[n++] = dateSeparator;
            ++i;
        } else if (c == '.' || c == '-' || c == ' ') {
            plan.Template[n++] = c;
            ++i;
        } else {
            return;
        }
    }
    plan.Length = n;
    plan.Fast = true;
}
}  // namespace

std::size_t FormatShortDate(int year, int month, int day, char* out) {
    thread_local TShortDatePlan plan;
    const TFormatSettings& fs = FormatSettings();
    const std::string& f = fs.ShortDateFormat;
    if (!plan.Valid || plan.FormatLen != f.size() || plan.DateSeparator != fs.DateSeparator ||
        (f.size() <= 16 && std::memcmp(plan.Format, f.data(), f.size()) != 0))
        MakeShortDatePlan(plan, f, fs.DateSeparator);
    if (!plan.Fast || year < 1 || year > 9999) return 0;
    std::memcpy(out, plan.Template, sizeof plan.Template);
    if (plan.DayAt >= 0) {
        out[plan.DayAt] = static_cast<char>('0' + day / 10);
        out[plan.DayAt + 1] = static_cast<char>('0' + day % 10);
    }
    if (plan.MonthAt >= 0) {
        out[plan.MonthAt] = static_cast<char>('0' + month / 10);
        out[plan.MonthAt + 1] = static_cast<char>('0' + month % 10);
    }
    if (plan.YearAt >= 0) {
        out[plan.YearAt] = static_cast<char>('0' + year / 1000);
        out[plan.YearAt + 1] = static_cast<char>('0' + year / 100 % 10);
        out[plan.YearAt + 2] = static_cast<char>('0' + year / 10 % 10);
        out[plan.YearAt + 3] = static_cast<char>('0' + year % 10);
    }
    return static_cast<std::size_t>(plan.Length);
}

std::string DateToStr(TDateTime dt) { return FormatDateTime(FormatSettings().ShortDateFormat, dt); }

std::string TimeToStr(TDateTime dt) { return FormatDateTime(FormatSettings().LongTimeFormat, dt); }

std::string DateTimeToStr(TDateTime dt) { return FormatDateTime("c", dt); }

bool TryStrToDate(std::string_view s, TDateTime& out) {
    Scanner sc{s};
    TDateTime d;
    if (!ScanDate(sc, d)) return false;
    sc.SkipBlanks();
    if (!sc.AtEnd()) return false;
    out = d;
    return true;
}

bool TryStrToTime(std::string_view s, TDateTime& out) {
    Scanner sc{s};
    TDateTime t;
    if (!ScanTime(sc, t)) return false;
    sc.SkipBlanks();
    if (!sc.AtEnd()) return false;
    out = t;
    return true;
}

bool TryStrToDateTime(std::string_view s, TDateTime& out) {
    Scanner sc{s};
    TDateTime d;
    if (!ScanDate(sc, d)) {
        // A time alone is a time on 30.12.1899.
        return TryStrToTime(s, out);
    }
    sc.SkipBlanks();
    if (sc.AtEnd()) {
        out = d;
        return true;
    }
    TDateTime t;
    if (!ScanTime(sc, t)) return false;
    sc.SkipBlanks();
    if (!sc.AtEnd()) return false;
    out = d >= 0 ? d + t : d - t;
    return true;
}

std::string FloatToStr(double v) {
    if (std::isnan(v)) return "NAN";
    if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
    if (v == 0) return "0";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", v);  // d.dddddddddddddde[+-]xx: 15 significant digits
    std::string_view text(buf);
    bool negative = text[0] == '-';
    if (negative) text.remove_prefix(1);
    std::size_t epos = text.find('e');
    std::string digits;
    for (char c : text.substr(0, epos))
        if (c >= '0' && c <= '9') digits.push_back(c);
    int exponent = std::atoi(std::string(text.substr(epos + 1)).c_str());
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    const char dec = FormatSettings().DecimalSeparator;

    std::string out;
    if (negative) out.push_back('-');
    if (exponent >= -5 && exponent < 15) {
        if (exponent < 0) {
            out += '0';
            out += dec;
            out.append(static_cast<std::size_t>(-exponent - 1), '0');
            out += digits;
        } else {
            std::size_t intDigits = static_cast<std::size_t>(exponent) + 1;
            if (digits.size() <= intDigits) {
                out += digits;
                out.append(intDigits - digits.size(), '0');
            } else {
                out.append(digits, 0, intDigits);
                out += dec;
                out.append(digits, intDigits, std::string::npos);
            }
        }
    } else {
        out += digits[0];
        if (digits.size() > 1) {
            out += dec;
            out.append(digits, 1, std::string::npos);
        }
        out += 'E';
        if (exponent < 0) out += '-';
        out += std::to_string(exponent < 0 ? -exponent : exponent);
    }
    return out;
}

bool TryStrToFloat(std::string_view s, double& out) { return TryStrToFloat(s, out, FormatSettings().DecimalSeparator); }

bool TryStrToFloat(std::string_view s, double& out, char decimalSeparator) {
    std::size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    if (b == e) return false;
    // Rewrite into the form from_chars reads: optional '-', digits, '.', digits, exponent.
    std::string t;
    t.reserve(e - b);
    std::size_t i = b;
    if (s[i] == '+' || s[i] == '-') {
        if (s[i] == '-') t.push_back('-');
        ++i;
    }
    bool anyDigit = false, sawDec = false;
    for (; i < e; ++i) {
        char c = s[i];
        if (c >= '0' && c <= '9') {
            t.push_back(c);
            anyDigit = true;
        } else if (c == decimalSeparator && !sawDec) {
            t.push_back('.');
            sawDec = true;
        } else {
            break;
        }
    }
    if (!anyDigit) return false;
    if (i < e && (s[i] == 'e' || s[i] == 'E')) {
        t.push_back('e');
        ++i;
        if (i < e && (s[i] == '+' || s[i] == '-')) t.push_back(s[i++]);
        bool expDigit = false;
        for (; i < e && s[i] >= '0' && s[i] <= '9'; ++i) {
            t.push_back(s[i]);
            expDigit = true;
        }
        if (!expDigit) return false;
    }
    if (i != e) return false;
    double v = 0;
    auto res = std::from_chars(t.data(), t.data() + t.size(), v);
    if (res.ec != std::errc() || res.ptr != t.data() + t.size()) return false;
    out = v;
    return true;
}

bool TryStrToInt64(std::string_view s, std::int64_t& out) {
    std::size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    if (b == e) return false;
    bool negative = false;
    if (s[b] == '+' || s[b] == '-') {
        negative = s[b] == '-';
        ++b;
    }
    int base = 10;
    if (b < e && s[b] == '$') {
        base = 16;
        ++b;
    } else if (e - b > 2 && s[b] == '0' && (s[b + 1] == 'x' || s[b + 1] == 'X')) {
        base = 16;
        b += 2;
    }
    if (b == e) return false;
    std::uint64_t mag = 0;
    auto res = std::from_chars(s.data() + b, s.data() + e, mag, base);
    if (res.ec != std::errc() || res.ptr != s.data() + e) return false;
    if (negative) {
        if (mag > static_cast<std::uint64_t>(INT64_MAX) + 1) return false;
        out = mag == static_cast<std::uint64_t>(INT64_MAX) + 1 ? INT64_MIN : -static_cast<std::int64_t>(mag);
    } else {
        if (mag > static_cast<std::uint64_t>(INT64_MAX)) return false;
        out = static_cast<std::int64_t>(mag);
    }
    return true;
}

std::string Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return std::string(s.substr(b, e - b));
}

}  // namespace zarbel
