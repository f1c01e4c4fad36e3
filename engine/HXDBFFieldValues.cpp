// THXSmartDBF: field read and write through the field codecs (HXDBFCodecs.h), the exact text
// of long numbers, lookup fields, the blank record and the OEM translation.
#include <algorithm>
#include <cstring>

#include "engine/HXDBFCodecs.h"
#include "engine/HXDBFDataSet.h"
#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/locale.h"

namespace zarbel {

namespace {

template <class T>
void Put(void* b, T v) {
    std::memcpy(b, &v, sizeof v);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Numbers beyond a double
// ---------------------------------------------------------------------------------------

// The framework asks every number field for its exact text first; only N and F fields wider
// than a double's digits have codecs with text roads, the rest answer at the first test.
bool THXSmartDBF::GetFieldText(const TField* field, std::string& out) {
    if (field->FieldKind() != fkData) return false;
    const TDBFFieldStore* s = FieldStore(field);
    if (!s || !s->Codec->ReadText) return false;
    const auto* rec = reinterpret_cast<const std::uint8_t*>(ActiveRecordBuffer());
    if (!rec) return false;
    return CodecReadText(*s, CodecContext(), rec, out);
}

bool THXSmartDBF::TakesFieldText(const TField* field, std::string_view text) {
    if (field->FieldKind() != fkData) return false;
    const TDBFFieldStore* s = FieldStore(field);
    return s && CodecTakesText(*s, text);
}

void THXSmartDBF::SetFieldText(TField* field, std::string_view text) {
    if (field->FieldKind() != fkData) return;
    const TDBFFieldStore* s = FieldStore(field);
    auto* rec = reinterpret_cast<std::uint8_t*>(ActiveRecordBuffer());
    if (!s || !rec || !s->Codec->WriteText) return;
    CodecWriteText(*s, CodecContext(), rec, text);
    if (State() != dsCalcFields && State() != dsFilter) DataEvent(deFieldChange, reinterpret_cast<std::intptr_t>(field));
}

// ---------------------------------------------------------------------------------------
// Code pages
// ---------------------------------------------------------------------------------------

int THXSmartDBF::TranslateText(const char* src, char* dst, bool toOem) {
    if (!src) return 0;
    if (!OEM_) return TDataSet::TranslateText(src, dst, toOem);
    return static_cast<int>(toOem ? CharToOemLen(src, dst) : OemToCharLen(src, dst));
}

int THXSmartDBF::TranslateBuffer(const char* src, char* dst, int count, bool toOem) {
    if (!src || count < 0) return 0;
    if (!OEM_) {
        if (dst != src) std::memmove(dst, src, static_cast<std::size_t>(count));
        return count;
    }
    bool ok = toOem ? CharToOemBuffA(src, dst, static_cast<std::size_t>(count))
                    : OemToCharBuffA(src, dst, static_cast<std::size_t>(count));
    return ok ? count : 0;
}

// ---------------------------------------------------------------------------------------
// Blank record
// ---------------------------------------------------------------------------------------

void THXSmartDBF::InternalInitRecord(char* buffer) {
    const bool vfp = DbfVersion() == xVisualFoxPro;
    if (BlankRecord_.Size() >= RecLen_ && RecLen_ > 0) {
        // the blank image is made once per open (again if the dialect changes meanwhile)
        if (!BlankValid_ || BlankVfp_ != vfp) {
            FillBlankRecord(BlankRecord_.Bytes(), vfp);
            BlankValid_ = true;
            BlankVfp_ = vfp;
        }
        std::memcpy(buffer, BlankRecord_.Data(), static_cast<std::size_t>(RecLen_));
    } else {
        FillBlankRecord(reinterpret_cast<std::uint8_t*>(buffer), vfp);
    }
    std::memset(buffer + RecLen_, ' ', static_cast<std::size_t>(6 + CalcFieldsSize()));
    PutLE32(reinterpret_cast<std::uint8_t*>(buffer) + RecLen_, 0);
    buffer[RecLen_ + 4] = 2;
    buffer[RecLen_ + 5] = bfInserted;
}

void THXSmartDBF::FillBlankRecord(std::uint8_t* rec, bool vfp) const {
    std::memset(rec, ' ', static_cast<std::size_t>(RecLen_));
    for (const TDBFFieldStore& s : Stores_)
        if (s.Offset + s.Size <= RecLen_) s.Codec->Blank(s, rec + s.Offset, vfp);
}

// ---------------------------------------------------------------------------------------
// Field read
// ---------------------------------------------------------------------------------------

bool THXSmartDBF::GetFieldData(TField* field, void* buffer) {
    char* buf = ActiveRecordBuffer();
    if (!buf) return false;
    if (field->FieldKind() == fkCalculated) return GetCalcFieldData(field, buf + RecLen_ + 6, buffer);
    if (field->FieldKind() == fkLookup) return GetLookupValue(field, buffer);
    const TDBFFieldStore* s = FieldStore(field);
    if (!s) return false;
    return CodecReadValue(*s, CodecContext(), reinterpret_cast<const std::uint8_t*>(buf), buffer);
}

bool THXSmartDBF::GetLookupValue(TField* field, void* buffer) {
    TDataSet* ds = field->LookupDataSet();
    if (!ds || !ds->Active()) return false;
    TVariant v = ds->Lookup(field->LookupKeyFields(), GetFieldValues(field->KeyFields()), field->LookupResultField());
    if (v.IsNullOrEmpty()) return false;
    if (!buffer) return true;
    switch (field->DataType()) {
        case ftString: case ftFixedChar: case ftWideString: {
            std::string s = v.AsString();
            std::size_t c = std::min<std::size_t>(s.size(), static_cast<std::size_t>(field->Size()));
            std::memcpy(buffer, s.data(), c);
            static_cast<char*>(buffer)[c] = '\0';
            break;
        }
        case ftSmallint: case ftWord: case ftBoolean:
            Put(buffer, static_cast<std::int16_t>(field->DataType() == ftBoolean ? (v.AsBoolean() ? -1 : 0) : v.AsInteger()));
            break;
        case ftInteger: case ftAutoInc: Put(buffer, v.AsInteger()); break;
        case ftLargeint: Put(buffer, v.AsInt64()); break;
        case ftDate: Put(buffer, DateTimeToDayNumber(v.AsDateTime())); break;
        case ftTime: Put(buffer, DateTimeToTimeMSecs(v.AsDateTime())); break;
        case ftDateTime: Put(buffer, DateTimeToMSecs(v.AsDateTime())); break;
        case ftFloat: case ftCurrency: case ftBCD: Put(buffer, v.AsDouble()); break;
        default: return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Field write
// ---------------------------------------------------------------------------------------

void THXSmartDBF::SetFieldData(TField* field, const void* buffer) {
    char* buf = ActiveRecordBuffer();
    if (!buf) throw Exception("Dataset not in edit or insert mode");
    if (field->FieldKind() == fkCalculated) {
        SetCalcFieldData(field, buf + RecLen_ + 6, buffer);
        return;
    }
    if (field->FieldKind() == fkLookup) return;
    const TDBFFieldStore* s = FieldStore(field);
    if (!s) return;
    WriteFieldValue(*s, reinterpret_cast<std::uint8_t*>(buf), buffer);
    if (State() != dsCalcFields && State() != dsFilter) DataEvent(deFieldChange, reinterpret_cast<std::intptr_t>(field));
}

void THXSmartDBF::WriteFieldValue(const TDBFFieldStore& s, std::uint8_t* rec, const void* buffer) {
    if (s.AutoInc && !FillingAutoInc_) return;  // autoincrement values come from the append path
    CodecWriteValue(s, CodecContext(), rec, buffer);
}

}  // namespace zarbel
