// Number <-> text conversions without heap allocation, for the per-field hot paths of the dataset
// framework and the table engine. The decimal separator is always passed explicitly: nothing here
// reads or changes the process-wide format settings.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zarbel {

// Room that every formatter below needs at most.
constexpr std::size_t kNumTextMax = 64;

// General format with up to 15 significant digits (trailing zeros dropped): fixed notation while
// the decimal exponent lies in -5..14, else scientific as "1.5E-7" or "1E20". "NAN", "INF", "-INF".
std::size_t FormatFloatGeneral(double v, char decimalSeparator, char* out);
// Fixed-point with exactly `decimals` decimals (0..30) and "." or the given separator.
std::size_t FormatFloatFixed(double v, int decimals, char decimalSeparator, char* out);
std::size_t FormatInt64(std::int64_t v, char* out);

// Decimal number with the given separator: optional blanks, sign, digits with at most one
// separator, optional exponent (E or e, sign, digits), optional blanks; nothing else.
bool ParseFloat(std::string_view s, char decimalSeparator, double& out);
// Decimal integer: optional leading blanks, optional sign, at least one digit, nothing after
// unless `allowTrailingBlanks`. Overflow of 64 bits fails.
bool ParseInt64(std::string_view s, std::int64_t& out, bool allowTrailingBlanks = false);

}  // namespace zarbel
