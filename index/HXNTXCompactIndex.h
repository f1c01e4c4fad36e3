// THXNTXCompactIndex: writes an NTX tree bottom-up from items that arrive in key order.
//
// One page per level is kept in memory. A page that is full when the next item arrives is
// written at the end of the file and that item goes one level up as its separator; at the end
// the partly filled pages are written from level 0 upward (the last one is the root) and the
// right edge is repaired: walking down the rightmost path, a page below half page borrows keys
// from its left sibling through the parent's separator. Every page is written once except the
// three pages of each repair. Every page goes out through the caller's write (which enciphers it
// when it must and raises when the write fails).
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "index/HXNTXFormat.h"

namespace zarbel {

class THXNTXCompactIndex {
public:
    // Writes one page (a copy the writer may change) at a file offset; raises when it cannot.
    using TWritePage = std::function<void(std::uint32_t offset, std::uint8_t* page)>;
    // Pages are written from firstPage on (a multiple of the page size).
    THXNTXCompactIndex(const TNTXGeometry& g, std::uint32_t firstPage, TWritePage write);
    // The next item in key order: key (key size bytes) and record number.
    void Add(const std::uint8_t* key, std::uint32_t recNo);
    // Writes what remains and repairs the right edge; returns the root's offset and the end of
    // the file.
    std::uint32_t Finish();
    std::uint32_t EndOfFile() const { return Next_; }
    std::uint64_t Count() const { return Count_; }

private:
    struct TLevel {
        std::vector<std::uint8_t> Cur;   // the page being filled
        std::vector<std::uint8_t> Full;  // the last full page written at this level
        std::uint32_t FullAt = 0;
        std::uint32_t CurAt = 0;  // where Cur went at Finish
    };
    void AddAt(std::size_t level, std::uint32_t child, std::uint32_t recNo, const std::uint8_t* key);
    std::uint32_t Write(std::vector<std::uint8_t>& page, std::uint32_t at);
    void Repair(TLevel& parent, TLevel& level);

    TNTXGeometry G_;
    std::uint32_t Next_;
    TWritePage Write_;
    std::vector<TLevel> Levels_;
    std::vector<std::uint8_t> Out_;
    std::uint64_t Count_ = 0;
};

}  // namespace zarbel
