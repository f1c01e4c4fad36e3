// Code-page conversion of the host: ANSI is Windows-1251, OEM is CP866.
// One byte for one byte between the two; UTF-8 only at the edges (terminal, file names).
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace zarbel {

// Zero-terminated text; source and destination may be the same buffer. Return true.
bool CharToOemA(const char* src, char* dst);
bool OemToCharA(const char* src, char* dst);
// Counted byte ranges; source and destination may be the same buffer. Return true.
bool CharToOemBuffA(const char* src, char* dst, std::size_t count);
bool OemToCharBuffA(const char* src, char* dst, std::size_t count);

// Whole-string helpers built on the above.
std::string AnsiToOem(std::string_view ansi);
std::string OemToAnsi(std::string_view oem);

// CP1251 <-> UTF-8. A character that CP1251 lacks becomes '?'.
std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);
// CP866 -> UTF-8.
std::string OemToUtf8(std::string_view oem);

}  // namespace zarbel
