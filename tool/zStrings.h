// Text helpers of the merge tool: console conversion, first-occurrence replacement, path ends.
#pragma once
#include <string>
#include <string_view>

namespace zarbel {

// ANSI (CP1251) text -> OEM (CP866) text of the same length.
std::string ToOem(std::string_view ansi);

// Replaces the first occurrence of `what` in `text` (exact, case-sensitive) by `by`.
// Returns false, leaving `text` unchanged, when there is none.
bool ReplaceFirst(std::string& text, std::string_view what, std::string_view by);

// The path trimmed of leading and trailing blanks and control characters, ending in the
// native separator ("/"); an empty or all-blank path gives "/".
std::string AddBackslash(std::string_view path);

inline constexpr char kPathDelim = '/';

}  // namespace zarbel
