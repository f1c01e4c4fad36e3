#include "platform/numtext.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zarbel {

namespace {

std::size_t PutText(char* out, const char* s) {
    std::size_t n = std::strlen(s);
    std::memcpy(out, s, n);
    return n;
}

// The separator and f as exactly digits digits (leading zeros kept); the length written.
std::size_t PutFraction(char* out, char separator, std::uint64_t f, int digits) {
    out[0] = separator;
    for (int i = digits; i >= 1; --i) {
        out[i] = static_cast<char>('0' + f % 10);
        f /= 10;
    }
    return static_cast<std::size_t>(digits) + 1;
}

}  // namespace

std::size_t FormatFloatGeneral(double v, char decimalSeparator, char* out) {
    if (std::isnan(v)) return PutText(out, "NAN");
    if (std::isinf(v)) return PutText(out, v < 0 ? "-INF" : "INF");
    if (v == 0) return PutText(out, "0");
    // Fast path: when a is the double nearest to a decimal D = r / 10^k with r < 10^15 (at most
    // 15 significant digits, k <= 6), the 15-digit rounding of a is D itself, so D's digits are
    // printed with integer arithmetic. r / 10^k of exact operands is correctly rounded, so the
    // comparison with a proves that a is D's nearest double.
    {
        double a = std::fabs(v);
        if (a >= 1e-5 && a < 1e15) {
            static const double kPow10[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6};
            static const std::uint64_t kIPow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
            for (int k = 0; k <= 6; ++k) {
                const double t = a * kPow10[k];
                if (t >= 1e15) break;
                // nearest integer (t < 2^53): a wrong guess only fails the test below
                const double r = static_cast<double>(static_cast<std::int64_t>(t + 0.5));
                if (r >= 1e15) break;
                if (r / kPow10[k] != a) continue;
                std::uint64_t u = static_cast<std::uint64_t>(r);
                std::uint64_t ip = u / kIPow10[k], fp = u % kIPow10[k];
                int kk = k;
                while (kk > 0 && fp % 10 == 0) {  // a scaling that came out exact late
                    fp /= 10;
                    --kk;
                }
                std::size_t n = 0;
                if (v < 0) out[n++] = '-';
                auto res = std::to_chars(out + n, out + n + 24, ip);
                n = static_cast<std::size_t>(res.ptr - out);
                if (kk > 0) n += PutFraction(out + n, decimalSeparator, fp, kk);
                return n;
            }
        }
    }
    // 15 significant digits, rounded: d.dddddddddddddde[+-]x
    char sci[40];
    auto res = std::to_chars(sci, sci + sizeof sci - 1, v, std::chars_format::scientific, 14);
    *res.ptr = '\0';
    const char* p = sci;
    bool neg = false;
    if (*p == '-') { neg = true; ++p; }
    char digits[16];
    int nd = 0;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') digits[nd++] = *p;
    int exp10 = 0;
    if (*p == 'e') {
        ++p;
        bool negExp = *p == '-';
        if (*p == '-' || *p == '+') ++p;
        for (; *p >= '0' && *p <= '9'; ++p) exp10 = exp10 * 10 + (*p - '0');
        if (negExp) exp10 = -exp10;
    }
    while (nd > 1 && digits[nd - 1] == '0') --nd;  // drop trailing zeros
    std::size_t n = 0;
    if (neg) out[n++] = '-';
    if (exp10 >= 15 || exp10 < -5) {
        out[n++] = digits[0];
        if (nd > 1) {
            out[n++] = decimalSeparator;
            for (int i = 1; i < nd; ++i) out[n++] = digits[i];
        }
        out[n++] = 'E';
        if (exp10 < 0) { out[n++] = '-'; exp10 = -exp10; }
        auto r = std::to_chars(out + n, out + n + 8, exp10);
        return static_cast<std::size_t>(r.ptr - out);
    }
    if (exp10 < 0) {
        out[n++] = '0';
        out[n++] = decimalSeparator;
        for (int i = 0; i < -exp10 - 1; ++i) out[n++] = '0';
        for (int i = 0; i < nd; ++i) out[n++] = digits[i];
        return n;
    }
    // exp10 + 1 digits before the separator
    for (int i = 0; i <= exp10; ++i) out[n++] = i < nd ? digits[i] : '0';
    if (nd > exp10 + 1) {
        out[n++] = decimalSeparator;
        for (int i = exp10 + 1; i < nd; ++i) out[n++] = digits[i];
    }
    return n;
}

std::size_t FormatFloatFixed(double v, int decimals, char decimalSeparator, char* out) {
    if (decimals < 0) decimals = 0;
    if (decimals > 30) decimals = 30;
    if (!std::isfinite(v) || std::fabs(v) >= 1e30) {
        // Too large for a plain fixed-point text of bounded width: general form.
        return FormatFloatGeneral(v, decimalSeparator, out);
    }
    // Fast path: k, the nearest integer to v * 10^decimals, printed with integer arithmetic.
    // The fused multiply-add gives v * 10^decimals - k rounded once; below one half in
    // magnitude, the exact difference is below one half too, so k is the correctly rounded
    // scaled value (a tie or anything near one lands on the exact road below).
    if (decimals <= 15) {
        static const double kPow10[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        static const std::uint64_t kIPow10[] = {1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull,
            10000000ull, 100000000ull, 1000000000ull, 10000000000ull, 100000000000ull, 1000000000000ull,
            10000000000000ull, 100000000000000ull, 1000000000000000ull};
        const double p = kPow10[decimals];
        const double t = v * p;
        if (std::fabs(t) < 4e15) {
            const double k = std::round(t);
            if (std::fabs(std::fma(v, p, -k)) < 0.5) {
                std::uint64_t u = static_cast<std::uint64_t>(std::fabs(k));
                std::size_t n = 0;
                if (k < 0) out[n++] = '-';  // a value that rounds to zero has no sign
                n += FormatInt64(static_cast<std::int64_t>(u / kIPow10[decimals]), out + n);
                if (decimals > 0) n += PutFraction(out + n, decimalSeparator, u % kIPow10[decimals], decimals);
                return n;
            }
        }
    }
    // Exact, correctly rounded fixed-point text, as printf's "%.*f" makes it.
    auto [end, ec] = std::to_chars(out, out + kNumTextMax, v, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return 0;
    int n = static_cast<int>(end - out);
    if (decimalSeparator != '.')
        for (int i = 0; i < n; ++i)
            if (out[i] == '.') out[i] = decimalSeparator;
    // "-0.00" -> "0.00": a negative zero after rounding is plain zero.
    if (out[0] == '-') {
        bool allZero = true;
        for (int i = 1; i < n; ++i)
            if (out[i] >= '1' && out[i] <= '9') { allZero = false; break; }
        if (allZero) {
            std::memmove(out, out + 1, static_cast<std::size_t>(n - 1));
            --n;
        }
    }
    return static_cast<std::size_t>(n);
}

std::size_t FormatInt64(std::int64_t v, char* out) {
    static const char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    std::size_t n = 0;
    std::uint64_t u = static_cast<std::uint64_t>(v);
    if (v < 0) {
        out[n++] = '-';
        u = 0 - u;
    }
    static const std::uint64_t kPow10[] = {1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull,
        10000000ull, 100000000ull, 1000000000ull, 10000000000ull, 100000000000ull, 1000000000000ull,
        10000000000000ull, 100000000000000ull, 1000000000000000ull, 10000000000000000ull,
        100000000000000000ull, 1000000000000000000ull, 10000000000000000000ull};
    // digits: from the bit width (log10(2) ~ 1233 / 4096), one too many at most
    int len = ((std::bit_width(u | 1) * 1233) >> 12) + 1;
    if (len > 20) len = 20;
    if (len > 1 && u < kPow10[len - 1]) --len;
    char* p = out + n + len;
    while (u >= 100) {
        const std::size_t i = static_cast<std::size_t>(u % 100) * 2;
        u /= 100;
        *--p = kPairs[i + 1];
        *--p = kPairs[i];
    }
    if (u >= 10) {
        const std::size_t i = static_cast<std::size_t>(u) * 2;
        *--p = kPairs[i + 1];
        *--p = kPairs[i];
    } else {
        *--p = static_cast<char>('0' + u);
    }
    return n + static_cast<std::size_t>(len);
}

bool ParseFloat(std::string_view s, char decimalSeparator, double& out) {
    std::size_t i = 0, n = s.size();
    while (i < n && s[i] == ' ') ++i;
    while (n > i && s[n - 1] == ' ') --n;
    if (i == n) return false;
    {
        // Fast path in one pass: [sign] digits [separator digits], at most 15 digits, nothing
        // else: the digits as an exact integer divided by an exact power of ten is the
        // correctly rounded value. Anything else takes the general road below.
        static const double kPow10[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        std::size_t j = i;
        bool neg = false;
        if (s[j] == '+' || s[j] == '-') {
            neg = s[j] == '-';
            ++j;
        }
        std::uint64_t u = 0;
        int digits = 0, frac = 0;
        bool sep = false, plain = true;
        for (; j < n; ++j) {
            char c = s[j];
            if (c >= '0' && c <= '9') {
                u = u * 10 + static_cast<unsigned>(c - '0');
                ++digits;
                frac += sep;
            } else if (c == decimalSeparator && !sep) {
                sep = true;
            } else {
                plain = false;
                break;
            }
        }
        if (plain && digits > 0 && digits <= 15) {
            double v = static_cast<double>(u) / kPow10[frac];
            out = neg ? -v : v;
            return true;
        }
    }
    char buf[400];
    std::size_t k = 0;
    if (s[i] == '+' || s[i] == '-') {
        if (s[i] == '-') buf[k++] = '-';
        ++i;
    }
    int digits = 0;
    bool sep = false;
    std::uint64_t u = 0;  // the digits as an integer while there are at most 19 of them
    int frac = 0;         // digits after the separator
    for (; i < n; ++i) {
        char c = s[i];
        if (c >= '0' && c <= '9') {
            ++digits;
            if (digits <= 19) u = u * 10 + static_cast<unsigned>(c - '0');
            if (sep) ++frac;
        } else if (c == decimalSeparator && !sep) {
            sep = true;
            c = '.';
        } else {
            break;
        }
        if (k >= sizeof buf - 16) return false;
        buf[k++] = c;
    }
    if (digits == 0) return false;
    const bool exponent = i < n;
    if (exponent) {
        if (s[i] != 'e' && s[i] != 'E') return false;
        buf[k++] = 'e';
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) {
            if (s[i] == '-') buf[k++] = '-';
            ++i;
        }
        int ed = 0;
        for (; i < n && s[i] >= '0' && s[i] <= '9'; ++i) {
            if (ed < 6) buf[k++] = s[i];
            ++ed;
        }
        if (ed == 0 || ed > 6 || i != n) return false;
    }
    double v = 0;
    // Fast path: at most 15 digits and no exponent: the digits as an exact integer divided by an
    // exact power of ten is the correctly rounded value, the same as the general conversion.
    if (digits <= 15 && !exponent) {
        static const double kPow10[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        v = static_cast<double>(u) / kPow10[frac];
        out = buf[0] == '-' ? -v : v;
        return true;
    }
    auto r = std::from_chars(buf, buf + k, v);
    if (r.ec != std::errc() || r.ptr != buf + k) return false;
    out = v;
    return true;
}

bool ParseInt64(std::string_view s, std::int64_t& out, bool allowTrailingBlanks) {
    std::size_t i = 0, n = s.size();
    while (i < n && s[i] == ' ') ++i;
    if (allowTrailingBlanks)
        while (n > i && s[n - 1] == ' ') --n;
    if (i == n) return false;
    bool neg = false;
    if (s[i] == '+' || s[i] == '-') {
        neg = s[i] == '-';
        ++i;
    }
    if (i == n) return false;
    std::uint64_t v = 0;
    if (n - i <= 18) {  // up to 18 digits cannot overflow
        for (; i < n; ++i) {
            unsigned d = static_cast<unsigned>(static_cast<unsigned char>(s[i])) - '0';
            if (d > 9) return false;
            v = v * 10 + d;
        }
    } else {
        // Overflow test without a division per digit: v * 10 + d <= limit.
        const unsigned lastDigit = neg ? 8u : 7u;  // of 9223372036854775808 / ...807
        constexpr std::uint64_t kTenth = 922337203685477580ull;
        for (; i < n; ++i) {
            unsigned d = static_cast<unsigned>(static_cast<unsigned char>(s[i])) - '0';
            if (d > 9) return false;
            if (v > kTenth || (v == kTenth && d > lastDigit)) return false;
            v = v * 10 + d;
        }
    }
    out = neg ? static_cast<std::int64_t>(0 - v) : static_cast<std::int64_t>(v);
    return true;
}

}  // namespace zarbel
