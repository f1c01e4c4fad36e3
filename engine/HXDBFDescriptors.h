// Safe reading of a table's field descriptor list.
//
// The walk reads the header area once and never looks past the header length or the end of
// the file, whatever the bytes say: it stops at the top-level 0x0D terminator, at the header
// length, or at the end of the file. A nested list (after an E field of extended type
// dbftDBFDataSet / dbftDBFDataSet_NB) ends with a whole descriptor-sized block whose first
// byte is 0x0D; such a block is consumed and not returned.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "engine/HXDBFFormat.h"

namespace zarbel {

class TProxyStream;

struct TRawDescriptor {
    std::int64_t FileOffset = 0;  // position of the descriptor in the file (the field's OffsetHD)
    int Depth = 0;                // 0 top level, 1 inside a nested list, ...
    int Size = 0;                 // 32 or 48: the valid bytes of Bytes
    std::array<std::uint8_t, kLongDescriptorSize> Bytes{};
};

struct TDescriptorWalk {
    // Every descriptor in file order (pre-order: a nested field's children follow it).
    std::vector<TRawDescriptor> Descriptors;
    // True when the top-level 0x0D was found inside the limit; false when the walk ran into
    // the header length or the end of the file first (or a nested list was left open).
    bool Terminated = false;
    // True when a descriptor starts inside the header length but does not end inside it: the
    // header is too short for its descriptors (a header that ends where a descriptor would
    // start, or one byte later, without a 0x0D terminator, is not cut).
    bool Cut = false;
    // Position just after the top-level terminator byte, or where the walk stopped.
    std::int64_t EndOffset = 0;
};

// Walks the descriptors of a table of the given dialect whose header says headerLength.
// The proxy's position is changed. A read failure ends the walk like the end of the file.
TDescriptorWalk ReadDescriptors(TProxyStream& file, xBaseVersion dialect, std::uint16_t headerLength);
// The same over bytes already in memory (the first `size` bytes of the file).
TDescriptorWalk WalkDescriptors(const std::uint8_t* data, std::int64_t size, xBaseVersion dialect,
                                std::uint16_t headerLength);

// The first 32 bytes of the file into header; false (header unchanged) when the file is
// shorter or cannot be read.
bool ReadTableHeader(TProxyStream& file, TDBFHeader& header);
// End-of-file rule on closing a table opened for writing: when the last byte of a non-empty
// file is not 0x1A, one 0x1A is appended. False when the file cannot be read or written.
bool EnsureEndOfFileMarker(TProxyStream& file);

}  // namespace zarbel
