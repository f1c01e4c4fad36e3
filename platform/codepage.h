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
// The same, returning the length of the text (no second pass over it).
std::size_t CharToOemLen(const char* src, char* dst);
std::size_t OemToCharLen(const char* src, char* dst);
// Counted byte ranges; source and destination may be the same buffer. Return true.
bool CharToOemBuffA(const char* src, char* dst, std::size_t count);
bool OemToCharBuffA(const char* src, char* dst, std::size_t count);

// Whole-string helpers built on the above.
std::string AnsiToOem(std::string_view ansi);
std::string OemToAnsi(std::string_view oem);

// ANSI text for showing on an OEM console: the same as AnsiToOem, except that a character
// CP866 lacks becomes '?' instead of the byte it is paired with (which shows as another
// character). For messages and names; table text standing for OEM text takes AnsiToOem.
std::string AnsiToOemShown(std::string_view ansi);

// CP1251 <-> UTF-8. A character that CP1251 lacks becomes '?'.
std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);
// CP866 -> UTF-8.
std::string OemToUtf8(std::string_view oem);
// A table's text as the engine hands it out (ANSI) in UTF-8, showing the characters of the
// table's own code page: for an OEM table through its CP866 bytes, so that box drawing (held
// in ANSI bytes of other characters) shows as itself.
std::string TableTextToUtf8(std::string_view ansi, bool oemTable);

// The Unicode character (UTF-16 code unit) of one byte of each code page.
char16_t AnsiCharToUnicode(unsigned char c);
char16_t OemCharToUnicode(unsigned char c);

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, <= U+10FFFF).
bool IsValidUtf8(std::string_view s);

// A file name's bytes as ANSI text for messages and logs. Names are UTF-8 as a rule: they
// are converted, a character that CP1251 lacks becoming '?'. A name that is not valid UTF-8
// is taken to be in the ANSI code page already and comes back unchanged.
std::string FileNameToAnsi(std::string_view nameBytes);

// UTF-8 -> UTF-16 code units; false (out unspecified) when the bytes are not valid UTF-8.
bool Utf8ToUtf16(std::string_view utf8, std::u16string& out);

// The upper case of one UTF-16 code unit by the Unicode simple mapping (the table a Windows
// NTFS volume orders names by); a unit without one comes back unchanged.
char16_t UpcaseUnit(char16_t unit);

// Replacement byte for a character that the target code page lacks.
inline constexpr char kCodePageReplacement = '?';

}  // namespace zarbel
