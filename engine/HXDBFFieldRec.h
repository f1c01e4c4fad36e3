// FIELD_REC: one field descriptor held in both forms at once (32-byte short form for most
// dialects, 48-byte long form for xBaseV and xBaseVII). Every setter writes both images;
// every getter reads the image that the dialect selects.
//
//                       short form        long form
//   name                0, 11 bytes       0, 32 bytes (10 / 31 characters, zero padded)
//   type letter         11                32
//   extended type       12                35
//   length, decimals    16, 17            33, 34  (C, 0 and E strings: one 16-bit length)
//   field flags         18                37
//   NativeNextAutoInc   19 (4)            42 (4)
//   NativeStepAutoInc   23                reads as 1; setting writes 0 at 36
//   NextAutoInc         24 (4)            38 (4)
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/HXDBFFormat.h"

namespace zarbel {

class FIELD_REC {
public:
    // Both images zero; dialect xUnknown (short form).
    FIELD_REC() { Clear(); }
    explicit FIELD_REC(xBaseVersion dialect) { Clear(); SetDialect(dialect); }

    void Clear() {
        Short_.fill(0);
        Long_.fill(0);
    }

    xBaseVersion Dialect() const { return Dialect_; }
    void SetDialect(xBaseVersion d) {
        Dialect_ = d;
        Size_ = zarbel::DescriptorSize(d);
    }
    int DescriptorSize() const { return Size_; }
    bool IsLong() const { return Size_ == kLongDescriptorSize; }

    // The image of the selected form (DescriptorSize() bytes) for reading and writing the file.
    std::uint8_t* Image() { return IsLong() ? Long_.data() : Short_.data(); }
    const std::uint8_t* Image() const { return IsLong() ? Long_.data() : Short_.data(); }
    std::uint8_t* ShortImage() { return Short_.data(); }
    const std::uint8_t* ShortImage() const { return Short_.data(); }
    std::uint8_t* LongImage() { return Long_.data(); }
    const std::uint8_t* LongImage() const { return Long_.data(); }

    // Name bytes of the selected form (NUL padded) and their count (11 or 32).
    std::uint8_t* NamePtr() { return Image(); }
    const std::uint8_t* NamePtr() const { return Image(); }
    int NameLength() const { return IsLong() ? 32 : 11; }
    // The characters up to the first zero byte (never past the name area).
    std::string Name() const;
    // First 10 characters into the short form, first 31 into the long form, rest zero.
    void SetName(std::string_view name);

    char FieldType() const { return static_cast<char>(Image()[IsLong() ? 32 : 11]); }
    void SetFieldType(char t) {
        Short_[11] = static_cast<std::uint8_t>(t);
        Long_[32] = static_cast<std::uint8_t>(t);
    }
    THXDBFType ExtendType() const { return static_cast<THXDBFType>(Image()[IsLong() ? 35 : 12]); }
    void SetExtendType(THXDBFType e) {
        Short_[12] = e;
        Long_[35] = e;
    }

    // Length and decimal bytes: the pair of the selected form.
    std::uint8_t* LenDec() { return Image() + (IsLong() ? 33 : 16); }
    const std::uint8_t* LenDec() const { return Image() + (IsLong() ? 33 : 16); }
    std::uint8_t LengthByte() const { return LenDec()[0]; }
    std::uint8_t DecimalByte() const { return LenDec()[1]; }
    std::uint16_t Length16() const { return GetLE16(LenDec()); }
    // Both forms: the length byte and the decimal byte.
    void SetLenDec(std::uint8_t len, std::uint8_t dec) {
        Short_[16] = Long_[33] = len;
        Short_[17] = Long_[34] = dec;
    }
    // Both forms: one 16-bit length over the pair.
    void SetLength16(std::uint16_t len) {
        PutLE16(&Short_[16], len);
        PutLE16(&Long_[33], len);
    }

    std::uint8_t FieldFlags() const { return Image()[IsLong() ? 37 : 18]; }
    void SetFieldFlags(std::uint8_t f) { Short_[18] = Long_[37] = f; }

    std::uint32_t NativeNextAutoInc() const { return GetLE32(Image() + (IsLong() ? 42 : 19)); }
    void SetNativeNextAutoInc(std::uint32_t v) {
        PutLE32(&Short_[19], v);
        PutLE32(&Long_[42], v);
    }
    std::uint8_t NativeStepAutoInc() const { return IsLong() ? 1 : Short_[23]; }
    void SetNativeStepAutoInc(std::uint8_t v) {
        Short_[23] = v;
        Long_[36] = 0;
    }
    std::uint32_t NextAutoInc() const { return GetLE32(Image() + (IsLong() ? 38 : 24)); }
    void SetNextAutoInc(std::uint32_t v) {
        PutLE32(&Short_[24], v);
        PutLE32(&Long_[38], v);
    }

private:
    std::array<std::uint8_t, kShortDescriptorSize> Short_;
    std::array<std::uint8_t, kLongDescriptorSize> Long_;
    xBaseVersion Dialect_ = xUnknown;
    int Size_ = kShortDescriptorSize;
};

}  // namespace zarbel
