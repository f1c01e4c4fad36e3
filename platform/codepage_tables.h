// Byte tables of the host's code pages (generated data, see scripts/gen_codepages.py).
#pragma once
#include <cstddef>

namespace zarbel::cptables {

extern const unsigned char kAnsiToOem[256];      // CP1251 -> CP866, the inverse of kOemToAnsi
extern const unsigned char kOemToAnsi[256];      // CP866 -> CP1251 (orphans paired, see the script)
extern const char16_t kAnsiToUnicode[256];
extern const char16_t kOemToUnicode[256];
extern const unsigned char kAnsiUpper[256];      // CP1251 upper-casing
extern const unsigned char kAnsiLower[256];      // CP1251 lower-casing
extern const unsigned char kOemTextUpper[256];   // the same for ANSI text standing for OEM text:
extern const unsigned char kOemTextLower[256];   // the bytes paired with CP866 orphans are no letters

struct UpcasePair {
    char16_t from;
    char16_t to;
};
// Sorted by `from`: the UTF-16 upper-casing by which names are ordered in a directory listing.
extern const UpcasePair kUpcasePairs[];
extern const std::size_t kUpcasePairCount;

}  // namespace zarbel::cptables
