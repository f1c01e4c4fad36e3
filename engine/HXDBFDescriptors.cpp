#include "engine/HXDBFDescriptors.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/HXDBFMemMgr.h"
#include "engine/HXDBFPrx.h"

namespace zarbel {

namespace {

// A descriptor that starts inside the header but would end past it. The last byte of a header
// is the terminator's place, whatever byte a writer put there (0x0D, 0x00, 0x0A are all seen):
// a header that ends one byte after the last whole descriptor is not cut.
bool IsCut(std::int64_t pos, int descriptorSize, std::uint16_t headerLength) {
    return pos + descriptorSize > headerLength && headerLength - pos > 1;
}

}  // namespace

TDescriptorWalk WalkDescriptors(const std::uint8_t* data, std::int64_t size, xBaseVersion dialect,
                                std::uint16_t headerLength) {
    TDescriptorWalk w;
    const int dsize = DescriptorSize(dialect);
    const int typeAt = dsize == kLongDescriptorSize ? 32 : 11;
    const int extAt = dsize == kLongDescriptorSize ? 35 : 12;
    const std::int64_t limit = std::min<std::int64_t>(size, headerLength);
    std::int64_t pos = DescriptorStart(dialect);
    int depth = 0;
    for (;;) {
        if (pos >= limit) break;  // header length or end of file reached
        if (data[pos] == kDescriptorTerminator) {
            if (depth == 0) {
                w.Terminated = true;
                pos += 1;
                break;
            }
            // A nested list's terminator is a whole block.
            if (pos + dsize > limit) {
                w.Cut = IsCut(pos, dsize, headerLength);
                break;
            }
            pos += dsize;
            --depth;
            continue;
        }
        if (pos + dsize > limit) {
            w.Cut = IsCut(pos, dsize, headerLength);
            break;
        }
        TRawDescriptor d;
        d.FileOffset = pos;
        d.Depth = depth;
        d.Size = dsize;
        std::memcpy(d.Bytes.data(), data + pos, static_cast<std::size_t>(dsize));
        pos += dsize;
        const bool nested = d.Bytes[typeAt] == 'E' && IsNestedDataSetType(d.Bytes[extAt]);
        w.Descriptors.push_back(d);
        if (nested) ++depth;
    }
    w.EndOffset = pos;
    return w;
}

TDescriptorWalk ReadDescriptors(TProxyStream& file, xBaseVersion dialect, std::uint16_t headerLength) {
    TDescriptorWalk empty;
    std::int64_t fileSize = file.GetFileSize();
    if (fileSize <= 0 || headerLength == 0) {
        empty.EndOffset = DescriptorStart(dialect);
        return empty;
    }
    const std::int64_t want = std::min<std::int64_t>(fileSize, headerLength);
    TMemBlock buf = TMemBlock::Tagged("THXSmartDBF.ReadDescriptors", want);
    if (file.Seek(0, soBeginning) != 0) return empty;
    std::int64_t got = file.Read(buf.Data(), want);
    if (got < 0) got = 0;
    return WalkDescriptors(buf.Bytes(), got, dialect, headerLength);
}

bool ReadTableHeader(TProxyStream& file, TDBFHeader& header) {
    std::uint8_t buf[kHeaderSize];
    if (!file.ReadAt(0, buf, kHeaderSize)) return false;
    header.Load(buf);
    return true;
}

bool EnsureEndOfFileMarker(TProxyStream& file) {
    const std::int64_t size = file.GetFileSize();
    if (size < 0) return false;
    if (size == 0) return true;
    std::uint8_t last = 0;
    if (!file.ReadAt(size - 1, &last, 1)) return false;
    if (last == kEndOfFileMarker) return true;
    return file.WriteAt(size, &kEndOfFileMarker, 1);
}

}  // namespace zarbel
