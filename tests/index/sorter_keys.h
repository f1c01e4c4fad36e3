// Test helpers of the sorter tests: key sets of each kind, the reference order
// (std::stable_sort with the same comparison over items in record order) and a sorter's walk.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "index/HXSorter.h"

namespace zarbel::sortertest {

struct TKeys {
    int KeySize = 0;
    std::vector<std::string> Keys;   // key i has record number i + 1
    std::vector<std::int32_t> Hashes;
};

// The walk of a sorted sorter: (record number) in order, checking each item's key and hash.
inline std::vector<std::uint32_t> Walk(THXSorterAbstract& s, const TKeys& k) {
    std::vector<std::uint32_t> out;
    for (bool end = s.First(); !end; end = s.Next()) {
        THXSortItem it = s.Current();
        const std::uint32_t r = it.RecNo();
        if (r == 0 || r > k.Keys.size() || std::memcmp(it.Key(), k.Keys[r - 1].data(), k.KeySize) != 0 ||
            it.Hash() != k.Hashes[r - 1])
            return {0xFFFFFFFFu};  // an item not as it was added
        out.push_back(r);
    }
    return out;
}

// The reference: record numbers in the order of cmp (keys), equal keys by record number; with
// unique the first of each run of equal keys.
inline std::vector<std::uint32_t> Reference(const TKeys& k, const THXSorterCompare& cmp, bool unique) {
    std::vector<std::uint32_t> r(k.Keys.size());
    for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<std::uint32_t>(i + 1);
    auto keyCmp = [&](std::uint32_t a, std::uint32_t b) {
        return cmp.Keys(cmp.KeysOwner, reinterpret_cast<const std::uint8_t*>(k.Keys[a - 1].data()),
                        reinterpret_cast<const std::uint8_t*>(k.Keys[b - 1].data()), k.KeySize);
    };
    std::stable_sort(r.begin(), r.end(), [&](std::uint32_t a, std::uint32_t b) { return keyCmp(a, b) < 0; });
    if (unique)
        r.erase(std::unique(r.begin(), r.end(), [&](std::uint32_t a, std::uint32_t b) { return keyCmp(a, b) == 0; }),
                r.end());
    return r;
}

inline void AddAll(THXSorterAbstract& s, const TKeys& k) {
    for (std::size_t i = 0; i < k.Keys.size(); ++i)
        s.Add(k.Hashes[i], static_cast<std::uint32_t>(i + 1), reinterpret_cast<const std::uint8_t*>(k.Keys[i].data()));
}

// Text keys of 8 bytes from a small alphabet (many repeats); some end early at a NUL followed
// by noise that the byte order must ignore.
inline TKeys TextKeys(int n, std::uint32_t seed, const std::string& alphabet) {
    std::mt19937 rng(seed);
    TKeys k;
    k.KeySize = 8;
    for (int i = 0; i < n; ++i) {
        std::string s(8, ' ');
        for (char& c : s) c = alphabet[rng() % alphabet.size()];
        if (rng() % 20 == 0) {
            std::size_t at = 2 + rng() % 5;
            s[at] = '\0';
            for (std::size_t j = at + 1; j < s.size(); ++j) s[j] = static_cast<char>(rng() % 256);
        }
        k.Keys.push_back(s);
        k.Hashes.push_back(static_cast<std::int32_t>(rng() % 1000));
    }
    return k;
}

// Numbers as 10-byte text whose byte order is their numeric order (negatives: '-' and the
// nines' complement of the digits), with the number as sort hash.
inline TKeys NumberKeys(int n, std::uint32_t seed, int lo, int hi) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(lo, hi);
    TKeys k;
    k.KeySize = 10;
    for (int i = 0; i < n; ++i) {
        const int v = d(rng);
        char digits[16];
        std::snprintf(digits, sizeof digits, "%09d", v < 0 ? -v : v);
        std::string s = v < 0 ? "-" : "0";
        for (int j = 0; j < 9; ++j) s += v < 0 ? static_cast<char>('9' - (digits[j] - '0')) : digits[j];
        k.Keys.push_back(s);
        k.Hashes.push_back(v);
    }
    return k;
}

}  // namespace zarbel::sortertest
