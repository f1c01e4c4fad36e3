#include "engine/HXDBFFormat.h"

#include <cstring>

namespace zarbel {

namespace {

constexpr std::string_view kTypeNames[kTHXDBFTypeCount] = {
    "dbftS1", "dbftS1_N", "dbftU1", "dbftU1_N", "dbftS2", "dbftS2_N", "dbftU2", "dbftU2_N",
    "dbftS4", "dbftS4_N", "dbftU4", "dbftU4_N", "dbftS8", "dbftS8_N", "dbftR4", "dbftR4_N",
    "dbftR6", "dbftR6_N", "dbftR8", "dbftR8_N", "dbftR10", "dbftR10_N", "dbftD1", "dbftD1_N",
    "dbftD2", "dbftD2_N", "dbftString", "dbftString_N", "dbftFixedChar", "dbftWideString", "dbftCurrency",
    "dbftCurrency_N",
    "dbftClob", "dbftBlob", "dbftGraphic", "dbftFmtMemo", "dbftBCD", "dbftDate", "dbftDate_N", "dbftTime",
    "dbftTime_N", "dbftD3", "dbftD3_N", "dbftU1_NB", "dbftU2_NB", "dbftU4_NB", "dbftR4_NB", "dbftR6_NB",
    "dbftR8_NB", "dbftD1_NB", "dbftD2_NB", "dbftCurrency_NB", "dbftDate_NB", "dbftTime_NB", "dbftD3_NB",
    "dbftClob_NB",
    "dbftBlob_NB", "dbftGraphic_NB", "dbftFmtMemo_NB", "dbftUndefined", "dbftDBFDataSet", "dbftDBFDataSet_NB",
    "dbftBytes", "dbftVarBytes",
    "dbftTypedBinary", "dbftADT", "dbftArray", "dbftReference", "dbftVariant", "dbftInterface", "dbftIDispatch",
    "dbftGuid",
};

constexpr std::uint8_t kHasGotMemo = 0x02;

}  // namespace

std::string_view THXDBFTypeName(int ordinal) {
    if (ordinal < 0 || ordinal >= kTHXDBFTypeCount) return {};
    return kTypeNames[ordinal];
}

void TDBFHeader::Load(const std::uint8_t* src) { std::memcpy(Bytes_.data(), src, kHeaderSize); }

void TDBFHeader::Store(std::uint8_t* dst) const { std::memcpy(dst, Bytes_.data(), kHeaderSize); }

void TDBFHeader::SetDate(int year, int month, int day) {
    Bytes_[1] = static_cast<std::uint8_t>(year - 1900);
    Bytes_[2] = static_cast<std::uint8_t>(month);
    Bytes_[3] = static_cast<std::uint8_t>(day);
}

TVersionInfo LookupVersionByte(std::uint8_t version, std::uint8_t tableFlags) {
    TVersionInfo r;
    switch (version) {
        case 0x03: r.Dialect = xBaseIII; break;
        case 0x04: r.Dialect = xBaseVII; break;
        case 0x07: r.Dialect = xClipper; break;
        case 0x30:
        case 0x31:
        case 0x32:  // with varchar, varbinary or blob fields
            r.Dialect = xVisualFoxPro;
            if (tableFlags & kHasGotMemo) {
                r.MemoDialect = xVisualFoxPro;
                r.OpensMemoFile = true;
            }
            break;
        case 0x7B:
        case 0x8E:
            r.Dialect = xBaseIV;
            r.MemoDialect = xBaseIV;
            break;
        case 0x8B:
            r.Dialect = xBaseIV;
            r.MemoDialect = xBaseIV;
            r.OpensMemoFile = true;
            break;
        case 0x83:
            r.Dialect = xBaseIII;
            r.MemoDialect = xBaseIII;
            r.OpensMemoFile = true;
            break;
        case 0x8C:
            r.Dialect = xBaseVII;
            r.MemoDialect = xBaseVII;
            r.OpensMemoFile = true;
            break;
        case 0xF5:
            r.Dialect = xFoxPro;
            r.MemoDialect = xFoxPro;
            r.OpensMemoFile = true;
            break;
        default: break;
    }
    return r;
}

std::string NotDbfFileMessage(std::string_view fileName) {
    std::string s = "THXSmartDBF.InternalOpen: File \"";
    s.append(fileName);
    s += "\" is not DBF file";
    return s;
}

bool FieldNeedsMemo(char fieldType, std::uint8_t extendType, xBaseVersion dialect) {
    switch (fieldType) {
        case 'M': return true;
        case 'P': return dialect == xFoxPro || dialect == xVisualFoxPro;
        case 'G': return dialect == xFoxPro || dialect == xVisualFoxPro || dialect == xBaseV || dialect == xBaseVII;
        case 'B': return dialect == xBaseV || dialect == xBaseVII;
        case 'W': return dialect == xVisualFoxPro;
        case 'E':
            switch (ExtendedStorage(extendType)) {
                case dbftClob: case dbftBlob: case dbftGraphic: case dbftFmtMemo:
                case dbftClob_NB: case dbftBlob_NB: case dbftGraphic_NB: case dbftFmtMemo_NB:
                case dbftDBFDataSet: case dbftDBFDataSet_NB:
                    return true;
                default: return false;
            }
        default: return false;
    }
}

std::uint8_t VersionByteForCreate(xBaseVersion dbfVersion, bool needsMemo, bool& setHasGotMemo) {
    setHasGotMemo = false;
    switch (dbfVersion) {
        case xBaseV:
        case xBaseVII: return needsMemo ? 0x8C : 0x04;
        case xVisualFoxPro:
            setHasGotMemo = needsMemo;
            return 0x30;
        case xBaseIV: return needsMemo ? 0x8B : 0x03;
        case xFoxPro: return needsMemo ? 0xF5 : 0x03;
        default: return needsMemo ? 0x83 : 0x03;  // xUnknown, xClipper, xBaseIII
    }
}

int ExtendedFieldSize(std::uint8_t extendType, std::uint16_t len16, xBaseVersion memoDialect) {
    const int len = len16;
    const int lenByte = len16 & 0xFF;
    const int memoRef = memoDialect == xVisualFoxPro ? 4 : 10;
    switch (ExtendedStorage(extendType)) {
        case dbftS1: case dbftU1: case dbftU1_NB: return 1;
        case dbftS1_N: case dbftU1_N: case dbftS2: case dbftU2: case dbftU2_NB: return 2;
        case dbftS2_N: case dbftU2_N: return 3;
        case dbftS4: case dbftU4: case dbftR4: case dbftDate: case dbftTime:
        case dbftU4_NB: case dbftR4_NB: case dbftDate_NB: case dbftTime_NB:
        case dbftClob_NB: case dbftBlob_NB: case dbftGraphic_NB: case dbftFmtMemo_NB: case dbftDBFDataSet_NB:
            return 4;
        case dbftS4_N: case dbftU4_N: case dbftR4_N: case dbftDate_N: case dbftTime_N: return 5;
        case dbftR6: case dbftD3: case dbftR6_NB: case dbftD3_NB: return 6;
        case dbftR6_N: case dbftD3_N: return 7;
        case dbftS8: case dbftR8: case dbftD1: case dbftD2: case dbftCurrency:
        case dbftR8_NB: case dbftD1_NB: case dbftD2_NB: case dbftCurrency_NB:
            return 8;
        case dbftS8_N: case dbftR8_N: case dbftD1_N: case dbftD2_N: case dbftCurrency_N: return 9;
        case dbftR10: return 10;
        case dbftR10_N: return 11;
        case dbftString: return len + 2;
        case dbftString_N: return len + 3;
        case dbftFixedChar: return len + 1;
        case dbftWideString: return 2 * len + 5;
        case dbftClob: case dbftBlob: case dbftGraphic: case dbftFmtMemo: case dbftDBFDataSet: return memoRef;
        case dbftBCD: return (lenByte + 1) / 2 + 1;
        default: return 0;  // dbftUndefined, 62-127: not storable
    }
}

int FieldStorageSize(char fieldType, std::uint8_t extendType, std::uint8_t lenByte, std::uint8_t decByte,
                     xBaseVersion dialect, xBaseVersion memoDialect) {
    const bool vfp = dialect == xVisualFoxPro;
    const std::uint16_t len16 = static_cast<std::uint16_t>(lenByte | (decByte << 8));
    switch (fieldType) {
        case 'C': case '0': return len16;
        case 'N': case 'F': return lenByte;
        case 'D': return 8;
        case 'L': return 1;
        case 'M': case 'G': case 'P': return vfp ? 4 : 10;
        case 'B': return vfp ? 8 : 10;
        case 'W': return vfp && lenByte == 4 ? 4 : 0;  // no other width is a memo reference
        case 'V': case 'Q': return vfp ? lenByte : 0;
        case 'T': case 'Y': case '@': case 'O': return 8;
        case 'I': case '+': return 4;
        case 'E': return ExtendedFieldSize(extendType, len16, memoDialect);
        default: return 0;
    }
}

bool RecordCountFromFileSize(std::int64_t fileSize, std::uint16_t headerLength, std::uint16_t recordLength,
                             std::uint32_t& count) {
    count = 0;
    if (recordLength == 0 || fileSize <= headerLength) return true;
    std::int64_t n = (fileSize - headerLength) / recordLength;
    if (n > kMaxRecordCount) return false;
    count = static_cast<std::uint32_t>(n);
    return true;
}

int CreatedHeaderLength(xBaseVersion dialect, int descriptorBytes) {
    int n = kHeaderSize + descriptorBytes + 2;  // 0x0D and 0x1A
    if (dialect == xBaseVII) n += kHeaderExtensionSize;
    if (dialect == xVisualFoxPro) n += kVfpTrailerSize;
    return n;
}

}  // namespace zarbel
