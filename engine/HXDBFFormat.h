// Byte layout of a table file (.dbf): table header, dBase VII header extension, field
// descriptors of both forms, the version-byte table, the size in the record of every field
// kind, record positions, the record count from the file size and the end-of-file rules.
//
// Every multi-byte integer of the table file is little-endian. All images here are plain
// byte arrays read and written with explicit byte packing, so the layout is the same on any
// host whatever its byte order or struct padding.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zarbel {

// ---------------------------------------------------------------------------------------
// Byte packing helpers (also used by the codecs and the memo/index layers).
// ---------------------------------------------------------------------------------------
inline std::uint16_t GetLE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetLE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t GetLE64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(GetLE32(p)) | (static_cast<std::uint64_t>(GetLE32(p + 4)) << 32);
}
inline void PutLE16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutLE32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutLE64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t GetBE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t GetBE32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
inline std::uint64_t GetBE64(const std::uint8_t* p) {
    return (static_cast<std::uint64_t>(GetBE32(p)) << 32) | GetBE32(p + 4);
}
inline void PutBE16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
inline void PutBE32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
inline void PutBE64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (56 - 8 * i));
}

// ---------------------------------------------------------------------------------------
// Dialects and extended field kinds.
// ---------------------------------------------------------------------------------------
enum xBaseVersion : std::uint8_t {
    xUnknown = 0,
    xClipper = 1,
    xBaseIII = 2,
    xBaseIV = 3,
    xBaseV = 4,
    xBaseVII = 5,
    xFoxPro = 6,
    xVisualFoxPro = 7,
};

// Extended field kinds of type letter E (descriptor byte "extended type").
enum THXDBFType : std::uint8_t {
    dbftS1, dbftS1_N, dbftU1, dbftU1_N, dbftS2, dbftS2_N, dbftU2, dbftU2_N,
    dbftS4, dbftS4_N, dbftU4, dbftU4_N, dbftS8, dbftS8_N, dbftR4, dbftR4_N,
    dbftR6, dbftR6_N, dbftR8, dbftR8_N, dbftR10, dbftR10_N, dbftD1, dbftD1_N,
    dbftD2, dbftD2_N, dbftString, dbftString_N, dbftFixedChar, dbftWideString, dbftCurrency, dbftCurrency_N,
    dbftClob, dbftBlob, dbftGraphic, dbftFmtMemo, dbftBCD, dbftDate, dbftDate_N, dbftTime,
    dbftTime_N, dbftD3, dbftD3_N, dbftU1_NB, dbftU2_NB, dbftU4_NB, dbftR4_NB, dbftR6_NB,
    dbftR8_NB, dbftD1_NB, dbftD2_NB, dbftCurrency_NB, dbftDate_NB, dbftTime_NB, dbftD3_NB, dbftClob_NB,
    dbftBlob_NB, dbftGraphic_NB, dbftFmtMemo_NB, dbftUndefined, dbftDBFDataSet, dbftDBFDataSet_NB, dbftBytes, dbftVarBytes,
    dbftTypedBinary, dbftADT, dbftArray, dbftReference, dbftVariant, dbftInterface, dbftIDispatch, dbftGuid,
};
inline constexpr int kTHXDBFTypeCount = 72;

// The enumeration name of an extended kind ("dbftR8_NB"); "" outside 0..71.
std::string_view THXDBFTypeName(int ordinal);

// The storage row of an extended type byte: its low seven bits.
inline THXDBFType ExtendedStorage(std::uint8_t extendTypeByte) {
    return static_cast<THXDBFType>(extendTypeByte & 0x7F);
}
// True for dbftDBFDataSet and dbftDBFDataSet_NB (a nested descriptor list follows).
inline bool IsNestedDataSetType(std::uint8_t extendTypeByte) {
    THXDBFType t = ExtendedStorage(extendTypeByte);
    return t == dbftDBFDataSet || t == dbftDBFDataSet_NB;
}

// ---------------------------------------------------------------------------------------
// Fixed bytes and sizes.
// ---------------------------------------------------------------------------------------
inline constexpr std::uint8_t kDescriptorTerminator = 0x0D;
inline constexpr std::uint8_t kEndOfFileMarker = 0x1A;
inline constexpr std::uint8_t kRecordLive = 0x20;
inline constexpr std::uint8_t kRecordDeleted = 0x2A;
inline constexpr int kHeaderSize = 32;
inline constexpr int kHeaderExtensionSize = 36;  // xBaseVII only; never interpreted
inline constexpr int kShortDescriptorSize = 32;
inline constexpr int kLongDescriptorSize = 48;
inline constexpr int kVfpTrailerSize = 263;      // zeros after the 0x1A of a new VFP table

// Descriptor form and first descriptor position of a dialect.
inline int DescriptorSize(xBaseVersion dialect) {
    return (dialect == xBaseV || dialect == xBaseVII) ? kLongDescriptorSize : kShortDescriptorSize;
}
inline int DescriptorStart(xBaseVersion dialect) {
    return dialect == xBaseVII ? kHeaderSize + kHeaderExtensionSize : kHeaderSize;
}

// ---------------------------------------------------------------------------------------
// Table header (32 bytes).
// ---------------------------------------------------------------------------------------
class TDBFHeader {
public:
    TDBFHeader() { Clear(); }
    void Clear() { Bytes_.fill(0); }

    std::uint8_t* Bytes() { return Bytes_.data(); }
    const std::uint8_t* Bytes() const { return Bytes_.data(); }
    static constexpr int Size() { return kHeaderSize; }
    // Copy of exactly 32 bytes in / out.
    void Load(const std::uint8_t* src);
    void Store(std::uint8_t* dst) const;

    std::uint8_t Version() const { return Bytes_[0]; }
    void SetVersion(std::uint8_t v) { Bytes_[0] = v; }
    // Date of last update: year - 1900, month, day.
    std::uint8_t Year() const { return Bytes_[1]; }
    std::uint8_t Month() const { return Bytes_[2]; }
    std::uint8_t Day() const { return Bytes_[3]; }
    void SetDate(int year, int month, int day);
    std::uint32_t RecordCount() const { return GetLE32(&Bytes_[4]); }
    void SetRecordCount(std::uint32_t n) { PutLE32(&Bytes_[4], n); }
    std::uint16_t HeaderLength() const { return GetLE16(&Bytes_[8]); }
    void SetHeaderLength(std::uint16_t n) { PutLE16(&Bytes_[8], n); }
    std::uint16_t RecordLength() const { return GetLE16(&Bytes_[10]); }
    void SetRecordLength(std::uint16_t n) { PutLE16(&Bytes_[10], n); }
    std::uint8_t TableFlags() const { return Bytes_[28]; }
    void SetTableFlags(std::uint8_t f) { Bytes_[28] = f; }
    std::uint8_t CodePage() const { return Bytes_[29]; }
    void SetCodePage(std::uint8_t c) { Bytes_[29] = c; }

private:
    std::array<std::uint8_t, kHeaderSize> Bytes_;
};

// ---------------------------------------------------------------------------------------
// Version byte table.
// ---------------------------------------------------------------------------------------
struct TVersionInfo {
    xBaseVersion Dialect = xUnknown;
    xBaseVersion MemoDialect = xUnknown;  // 0 = no memo layout
    bool OpensMemoFile = false;           // 0x83, 0x8B, 0x8C, 0xF5, and 0x30/0x31 with HasGotMemo
};
// Dialect and memo dialect of a version byte; Dialect is xUnknown for a rejected byte.
// tableFlags is header byte 28 (only HasGotMemo matters, for Visual FoxPro).
TVersionInfo LookupVersionByte(std::uint8_t version, std::uint8_t tableFlags);
// "THXSmartDBF.InternalOpen: File "<name>" is not DBF file"
std::string NotDbfFileMessage(std::string_view fileName);

// Does a field of this kind keep its value in the memo file?
bool FieldNeedsMemo(char fieldType, std::uint8_t extendType, xBaseVersion dialect);
// The version byte a new table is written with, and whether HasGotMemo must be set in the
// table flags (Visual FoxPro keeps 0x30 and flags the memo instead).
std::uint8_t VersionByteForCreate(xBaseVersion dbfVersion, bool needsMemo, bool& setHasGotMemo);

// ---------------------------------------------------------------------------------------
// Field storage.
//
// Two extended kinds have their layout settled here; the reader and the creator both use
// these rules (the width is computed by ExtendedFieldSize on both sides):
//  * dbftWideString, 2 * len + 5 bytes, len = the 16-bit descriptor length (characters):
//      byte 0        marker: 0x01 value present, 0x20 no value;
//      bytes 1-2     character count n (little-endian, 0 <= n <= len);
//      bytes 3..     len UTF-16LE code units, the first n used, the rest zero;
//      last 2 bytes  zero (terminator, also when n = len).
//  * dbftBCD, (len + 1) div 2 + 1 bytes, len = the descriptor length byte (digits):
//      byte 0        bit 7: sign (1 = negative); bits 0-5: decimal places (the descriptor's
//                    decimal byte); an all-0x20 field means no value;
//      bytes 1..     len decimal digits packed two per byte, high nibble first, right-aligned
//                    (an odd len leaves the first high nibble 0).
// ---------------------------------------------------------------------------------------
// Size in the record of an extended kind; 0 for kinds that cannot be stored.
// len16 is the full 16-bit length (bytes 16-17 / 33-34), lenByte its low byte.
int ExtendedFieldSize(std::uint8_t extendType, std::uint16_t len16, xBaseVersion memoDialect);
// Size in the record of a field; 0 for a letter the engine does not know.
int FieldStorageSize(char fieldType, std::uint8_t extendType, std::uint8_t lenByte, std::uint8_t decByte,
                     xBaseVersion dialect, xBaseVersion memoDialect);

// ---------------------------------------------------------------------------------------
// Records and end of file. Positions are 64-bit; a count that the 32-bit record numbers
// cannot address is refused.
// ---------------------------------------------------------------------------------------
inline constexpr std::int64_t kMaxRecordCount = 0x7FFFFFFF;

// Offset of record n (1-based).
inline std::int64_t RecordPosition(std::uint16_t headerLength, std::uint16_t recordLength, std::int64_t n) {
    return static_cast<std::int64_t>(headerLength) + (n - 1) * static_cast<std::int64_t>(recordLength);
}
// Whole records between the header length and the end of the file: a trailing 0x1A or a
// partial record is not counted. A record length of 0 or a file shorter than its header
// gives 0. Returns false (count left 0) when the count exceeds kMaxRecordCount.
bool RecordCountFromFileSize(std::int64_t fileSize, std::uint16_t headerLength, std::uint16_t recordLength,
                             std::uint32_t& count);

// Header length of a table the engine creates: header, extension, the descriptors
// (descriptorBytes, nested lists and their terminator blocks included), 0x0D, 0x1A and the
// Visual FoxPro trailer.
int CreatedHeaderLength(xBaseVersion dialect, int descriptorBytes);

}  // namespace zarbel
