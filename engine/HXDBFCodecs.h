// The field codecs: one entry per storage kind of a field, turning the field's bytes in a record
// image into the dataset's value buffer or exact text and back.
//
// A codec is chosen once per field when the table opens (TDBFFieldStore::Codec, set by the
// descriptor walk) from the field's type letter, extended type and dataset type; reading or
// writing a field is then one indirect call, with no per-call dispatch on the type.
//
// Callers outside the table class (the expression and index layers) read a field of any record
// image through the entry points at the end of this header:
//
//     const TDBFFieldStore* s = table.FieldStore(field);        // null: no stored field
//     bool has = CodecReadValue(*s, table.CodecContext(), rec, buffer);
//
// `rec` is a whole record image (deletion flag at byte 0, as the read block and the record
// buffers hold it, deciphered); `buffer` is the dataset value buffer of the field's dataset
// type (see TFieldType), or null to ask only whether the field holds a value. The entry points
// apply the Visual FoxPro null bits; the codecs themselves see only the field's own bytes.
// None of them allocates, so they may run per field per record.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/HXDBFFieldDefs.h"
#include "platform/dataset.h"

namespace zarbel {

struct TFieldCodec;

// Storage facts of one top-level field, cached at open for the codecs.
struct TDBFFieldStore {
    THXDBFFieldDef* Def = nullptr;
    int Offset = 0;             // in the record
    int Size = 0;               // bytes in the record
    char Letter = 0;            // type letter
    std::uint8_t Ext = 0;       // extended type byte (E only)
    TFieldType DataType = ftUnknown;  // ftUnknown: no dataset field
    std::uint16_t Len = 0;      // descriptor length (16-bit for C, 0 and E strings)
    std::uint8_t LenByte = 0;   // descriptor length byte
    std::uint8_t Dec = 0;       // descriptor decimal byte
    bool Nullable = false;      // Visual FoxPro CanStoreNull with a null bit
    int NullByte = 0;
    std::uint8_t NullMask = 0;
    bool AutoInc = false;
    // Visual FoxPro varchar and varbinary (V, Q): the field's bit in the null bitmap that says
    // the value is shorter than the field, its length then being the field's last byte.
    bool VarLength = false;
    int VarByte = 0;
    std::uint8_t VarMask = 0;
    const TFieldCodec* Codec = nullptr;  // never null once the descriptor walk has made the store
};

// What the codecs take from the table at the time of the call (the table's properties may
// change while it is open).
struct TFieldCodecContext {
    bool Vfp = false;        // the table's dialect is Visual FoxPro
    bool TrimCType = false;  // C fields read without their trailing blanks
    int NullFlagsOffset = 0; // the null bitmap (_NULLFLAGS) in the record; 0: none
    int NullFlagsSize = 0;
};

// One storage kind. `p` points at the field's first byte in the record image (so the record
// itself starts at p - s.Offset: the variable-length kinds find their bit there).
struct TFieldCodec {
    // Field bytes -> value buffer (null: only the answer). False: the field holds no value.
    bool (*Read)(const TDBFFieldStore& s, const TFieldCodecContext& c, const std::uint8_t* p, void* buffer);
    // Value buffer -> field bytes; a null buffer stores "no value" as the kind stores it
    // (Visual FoxPro's null bits are the entry point's business). Throws when the value does
    // not fit the field.
    void (*Write)(const TDBFFieldStore& s, const TFieldCodecContext& c, std::uint8_t* p, const void* buffer);
    // The exact text of a value that the value buffer cannot carry (a number with more digits
    // than a double holds, an integer beyond 64 bits), with `sep` as decimal separator; false:
    // the value buffer carries the value. Null for kinds whose every value fits the buffer.
    bool (*ReadText)(const TDBFFieldStore& s, const std::uint8_t* p, char sep, std::string& out);
    // Whether WriteText would store this text exactly (null with ReadText).
    bool (*TakesText)(const TDBFFieldStore& s, std::string_view text, char sep);
    // Stores text that TakesText accepted. It takes the whole record image: once the text
    // parses, it clears the field's Visual FoxPro null bit, then writes the field.
    void (*WriteText)(const TDBFFieldStore& s, const TFieldCodecContext& c, std::uint8_t* rec, std::string_view text,
                      char sep);
    // The field's bytes in a freshly initialised record (the record starts as blanks).
    void (*Blank)(const TDBFFieldStore& s, std::uint8_t* p, bool vfp);
};

// The codec of a field: type letter, extended type byte (E only) and the dataset type the
// mapping gave it (ftUnknown: the codec that reads no value and writes nothing).
const TFieldCodec& FieldCodecFor(char letter, std::uint8_t ext, TFieldType dataType, int size);

// ---- Entry points ----

// Whether the field's Visual FoxPro null bit is set in the record image.
inline bool CodecNullBitSet(const TDBFFieldStore& s, const TFieldCodecContext& c, const std::uint8_t* rec) {
    return s.Nullable && c.NullFlagsOffset > 0 && s.NullByte < c.NullFlagsSize &&
           (rec[c.NullFlagsOffset + s.NullByte] & s.NullMask);
}

// Reads the field's value from a record image into the value buffer (null: only the answer);
// false when the field holds no value. A set null bit means no value, except for memo,
// general and picture fields, whose block reference is read regardless.
inline bool CodecReadValue(const TDBFFieldStore& s, const TFieldCodecContext& c, const std::uint8_t* rec,
                           void* buffer) {
    if (s.Nullable && CodecNullBitSet(s, c, rec) && s.Letter != 'G' && s.Letter != 'M' && s.Letter != 'P')
        return false;
    return s.Codec->Read(s, c, rec + s.Offset, buffer);
}

// Writes the value buffer (null: no value) into the field of a record image. In a Visual
// FoxPro table no value sets the field's null bit and leaves its bytes as they are (memo,
// general and picture fields get block 0); a value clears the bit.
void CodecWriteValue(const TDBFFieldStore& s, const TFieldCodecContext& c, std::uint8_t* rec, const void* buffer);

// The field's exact text where the value buffer cannot carry its value (see
// TFieldCodec::ReadText); false when the value buffer is to be read instead.
bool CodecReadText(const TDBFFieldStore& s, const TFieldCodecContext& c, const std::uint8_t* rec, std::string& out);
// Whether CodecWriteText stores this text exactly.
bool CodecTakesText(const TDBFFieldStore& s, std::string_view text);
// Stores text that CodecTakesText accepted (clearing the Visual FoxPro null bit).
void CodecWriteText(const TDBFFieldStore& s, const TFieldCodecContext& c, std::uint8_t* rec, std::string_view text);

}  // namespace zarbel
