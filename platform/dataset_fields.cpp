// Field definitions, the field list and the field classes with their value buffers and text forms.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/dataset.h"
#include "platform/exception.h"
#include "platform/numtext.h"

namespace zarbel {

namespace {
// out := the n bytes at p (never overlapping out). clear + append copies without the aliasing
// checks of assign, and reuses out's capacity: the text getters run per field and record.
inline void SetOut(std::string& out, const char* p, std::size_t n) {
    out.clear();
    out.append(p, n);
}
// out := the count bytes that write(p) puts at p, for at most room bytes: the text is made in
// out's own storage, so it is not read back from a scratch buffer that was just written.
template <class Write>
inline void WriteOut(std::string& out, std::size_t room, Write write) {
    out.resize(room);
    out.resize(write(out.data()));
}
}  // namespace


const char* FieldTypeName(TFieldType t) {
    static const char* const names[] = {
        "Unknown", "String", "Smallint", "Integer", "Word", "Boolean", "Float", "Currency", "BCD",
        "Date", "Time", "DateTime", "Bytes", "VarBytes", "AutoInc", "Blob", "Memo", "Graphic",
        "FmtMemo", "ParadoxOle", "DBaseOle", "TypedBinary", "Cursor", "FixedChar", "WideString",
        "Largeint", "ADT", "Array", "Reference", "DataSet", "OraBlob", "OraClob", "Variant",
        "Interface", "IDispatch", "Guid"};
    int i = static_cast<int>(t);
    return (i >= 0 && i <= ftGuid) ? names[i] : "Unknown";
}

// ---------------------------------------------------------------------------------------
// Date-time buffer forms
// ---------------------------------------------------------------------------------------

namespace {
// Whole milliseconds of dt counted from day 0 of the TDateTime scale, sign kept.
std::int64_t RoundMSecs(TDateTime dt) { return std::llround(dt * kMSecsPerDay); }
constexpr std::int64_t kMSecs = 86400000;
}  // namespace

std::int32_t DateTimeToDayNumber(TDateTime dt) {
    return static_cast<std::int32_t>(kDateDelta + RoundMSecs(dt) / kMSecs);
}

std::int32_t DateTimeToTimeMSecs(TDateTime dt) {
    std::int64_t ms = RoundMSecs(dt);
    return static_cast<std::int32_t>((ms < 0 ? -ms : ms) % kMSecs);
}

double DateTimeToMSecs(TDateTime dt) {
    return static_cast<double>(DateTimeToDayNumber(dt)) * kMSecsPerDay + DateTimeToTimeMSecs(dt);
}

TDateTime MSecsToDateTime(double msecs) {
    double days = std::trunc(msecs / kMSecsPerDay);
    double time = (msecs - days * kMSecsPerDay) / kMSecsPerDay;
    double d = days - kDateDelta;
    return d < 0 ? d - time : d + time;
}

// ---------------------------------------------------------------------------------------
// TFieldDefs
// ---------------------------------------------------------------------------------------

TFieldDef& TFieldDefs::Add(std::string_view name, TFieldType type, int size, bool required) {
    auto def = std::make_unique<TFieldDef>();
    def->Name = name;
    def->DataType = type;
    def->Size = size;
    def->Required = required;
    def->FieldNo = Count() + 1;
    items_.push_back(std::move(def));
    return *items_.back();
}

namespace {
// Case-insensitive equality by the locale's casing rules, without allocation.
// (The hash of a name takes the ANSI rules: names equal by the OEM text rules are equal by
// those too, so equal names keep equal hashes either way.)
inline char UpperOf(char c, bool oemText = false) {
    if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
    if (static_cast<unsigned char>(c) < 0x80) return c;
    return AnsiUpperChar(c, oemText);
}
bool SameName(std::string_view a, std::string_view b, bool oemText = false) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && UpperOf(a[i], oemText) != UpperOf(b[i], oemText)) return false;
    return true;
}
}  // namespace

int TFieldDefs::IndexOf(std::string_view name) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (SameName(items_[i]->Name, name)) return static_cast<int>(i);
    return -1;
}

TFieldDef* TFieldDefs::Find(std::string_view name) {
    int i = IndexOf(name);
    return i < 0 ? nullptr : items_[static_cast<std::size_t>(i)].get();
}

// ---------------------------------------------------------------------------------------
// TFields
// ---------------------------------------------------------------------------------------

TField* TFields::FindField(std::string_view name) const {
    // Callers mostly look fields up in list order: the one after the last found comes first,
    // and is tried before the name's hash is made (equal names have equal hashes).
    const std::size_t count = items_.size();
    const bool oem = owner_ && owner_->TextIsOem();
    if (hint_ < count && SameName(items_[hint_]->FieldName(), name, oem)) {
        TField* f = items_[hint_].get();
        hint_ = hint_ + 1 < count ? hint_ + 1 : 0;
        return f;
    }
    const std::uint32_t h = TField::NameHash(name);
    for (std::size_t k = 0; k < count; ++k) {
        std::size_t i = hint_ + k < count ? hint_ + k : hint_ + k - count;
        const TField* f = items_[i].get();
        if (f->nameHash_ == h && SameName(f->FieldName(), name, oem)) {
            hint_ = i + 1 < count ? i + 1 : 0;
            return items_[i].get();
        }
    }
    return nullptr;
}

TField& TFields::FieldByName(std::string_view name) const {
    TField* f = FindField(name);
    if (!f) throw Exception("Field '" + std::string(name) + "' not found");
    return *f;
}

int TFields::IndexOf(const TField* f) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i].get() == f) return static_cast<int>(i);
    return -1;
}

TField& TFields::Add(std::unique_ptr<TField> field) {
    field->dataSet_ = owner_;
    items_.push_back(std::move(field));
    return *items_.back();
}

void TFields::Remove(TField* field) {
    int i = IndexOf(field);
    if (i >= 0) items_.erase(items_.begin() + i);
    hint_ = 0;
}

void TFields::Clear() {
    items_.clear();
    hint_ = 0;
}

// ---------------------------------------------------------------------------------------
// TField
// ---------------------------------------------------------------------------------------

namespace {
int DataSizeOf(TFieldType type, int size) {
    switch (type) {
        case ftString:
        case ftFixedChar:
        case ftWideString: return size + 1;
        case ftSmallint:
        case ftWord:
        case ftBoolean: return 2;
        case ftInteger:
        case ftAutoInc:
        case ftDate:
        case ftTime: return 4;
        case ftLargeint:
        case ftFloat:
        case ftCurrency:
        case ftBCD:
        case ftDateTime: return 8;
        case ftBytes: return size;
        case ftVarBytes: return size + 2;  // the byte count (16 bits), then the bytes
        default: return 16;  // blob and nested-table references
    }
}
}  // namespace

TField::TField(TFieldType type, int size) : dataType_(type), size_(size < 0 ? 0 : size) {
    dataSize_ = DataSizeOf(type, size_);
    buf_.assign(static_cast<std::size_t>(dataSize_ + 8), '\0');
}

TField::~TField() = default;

std::uint32_t TField::NameHash(std::string_view name) {
    std::uint32_t h = 2166136261u;
    for (char c : name) h = (h ^ static_cast<unsigned char>(UpperOf(c))) * 16777619u;
    return h;
}

void TField::SetFieldName(std::string_view name) {
    fieldName_ = name;
    nameHash_ = NameHash(name);
}

int TField::Index() const { return dataSet_ ? dataSet_->Fields().IndexOf(this) : -1; }

void TField::AccessError(const char* typeName) const {
    throw Exception("Cannot access field '" + DisplayName() + "' as type " + typeName);
}

void TField::ConvertError(const char* what, std::string_view value) const {
    throw Exception("'" + std::string(value) + "' is not a valid " + what + " value for field '" +
                    DisplayName() + "'");
}

bool TField::GetData(void* buffer) const {
    if (!dataSet_) return false;
    return dataSet_->GetFieldData(const_cast<TField*>(this), buffer);
}

void TField::CheckWrite() {
    if (!dataSet_) throw Exception("Field '" + DisplayName() + "' has no dataset");
    TDataSetState st = dataSet_->State();
    if (st != dsEdit && st != dsInsert && st != dsSetKey && st != dsCalcFields && st != dsFilter)
        throw Exception("Dataset not in edit or insert mode");
    if (readOnly_ && st != dsSetKey && st != dsFilter && !(st == dsCalcFields && fieldKind_ != fkData))
        throw Exception("Field '" + DisplayName() + "' cannot be modified");
    if (OnValidate) OnValidate(*this);
}

void TField::SetData(const void* buffer) {
    CheckWrite();
    dataSet_->SetFieldData(this, buffer);
}

bool TField::GetExactText(std::string& out) const { return dataSet_ && dataSet_->GetFieldText(this, out); }

bool TField::SetExactText(std::string_view text) {
    if (!dataSet_ || !dataSet_->TakesFieldText(this, text)) return false;
    CheckWrite();
    dataSet_->SetFieldText(this, text);
    return true;
}

bool TField::IsNull() const { return !GetData(nullptr); }

void TField::GetAsString(std::string& out) const {
    out.clear();
    AccessError("String");
}
void TField::SetAsString(std::string_view) { AccessError("String"); }
std::int32_t TField::AsInteger() const { AccessError("Integer"); }
void TField::SetAsInteger(std::int32_t) { AccessError("Integer"); }
std::int64_t TField::AsLargeInt() const { return AsInteger(); }
void TField::SetAsLargeInt(std::int64_t v) {
    if (v < INT32_MIN || v > INT32_MAX) AccessError("Largeint");
    SetAsInteger(static_cast<std::int32_t>(v));
}
double TField::AsFloat() const { AccessError("Float"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
bool TField::AsBoolean() const { AccessError("Boolean"); }
void TField::SetAsBoolean(bool) { AccessError("Boolean"); }
TDateTime TField::AsDateTime() const { AccessError("DateTime"); }
void TField::SetAsDateTime(TDateTime) { AccessError("DateTime"); }
TVariant TField::AsVariant() const {
    if (IsNull()) return TVariant::Null();
    return TVariant(AsString());
}
void TField::SetAsVariant(const TVariant& v) {
    if (v.IsNullOrEmpty()) {
        Clear();
        return;
    }
    switch (v.VarType()) {
        case varBoolean: SetAsBoolean(v.AsBoolean()); break;
        case varInteger: SetAsInteger(v.AsInteger()); break;
        case varInt64: SetAsLargeInt(v.AsInt64()); break;
        case varDouble:
        case varCurrency: SetAsFloat(v.AsDouble()); break;
        case varDate: SetAsDateTime(v.AsDateTime()); break;
        default: SetAsString(v.AsString()); break;
    }
}

// ---------------------------------------------------------------------------------------
// TStringField
// ---------------------------------------------------------------------------------------

TStringField::TStringField(int size, TFieldType type) : TField(type, size) {}

void TStringField::GetAsString(std::string& out) const {
    char* buf = ValueBuffer();
    buf[0] = '\0';
    if (!GetData(buf)) {
        out.clear();
        return;
    }
    buf[Size()] = '\0';
    if (transliterate_ && DataSet() && DataSet()->TranslatesText()) {
        // translated straight into out (room for Size bytes and the zero)
        WriteOut(out, static_cast<std::size_t>(Size()), [&](char* p) {
            int n = DataSet()->TranslateText(buf, p, false);
            return n >= 0 && n <= Size() ? static_cast<std::size_t>(n) : std::strlen(p);
        });
        return;
    }
    SetOut(out, buf, std::strlen(buf));
}

void TStringField::SetAsString(std::string_view value) {
    char* buf = ValueBuffer();
    std::size_t n = value.size() < static_cast<std::size_t>(Size()) ? value.size() : static_cast<std::size_t>(Size());
    const void* nul = std::memchr(value.data(), '\0', n);
    if (nul) n = static_cast<std::size_t>(static_cast<const char*>(nul) - value.data());
    std::memcpy(buf, value.data(), n);
    buf[n] = '\0';
    if (transliterate_ && DataSet() && DataSet()->TranslatesText()) DataSet()->TranslateText(buf, buf, true);
    SetData(buf);
}

std::int32_t TStringField::AsInteger() const {
    std::int64_t v = AsLargeInt();
    if (v < INT32_MIN || v > INT32_MAX) ConvertError("integer", AsString());
    return static_cast<std::int32_t>(v);
}

std::int64_t TStringField::AsLargeInt() const {
    std::string s = AsString();
    std::int64_t v = 0;
    if (!ParseInt64(s, v, true)) ConvertError("integer", s);
    return v;
}

void TStringField::SetAsInteger(std::int32_t v) { SetAsLargeInt(v); }

void TStringField::SetAsLargeInt(std::int64_t v) {
    char buf[kNumTextMax];
    SetAsString(std::string_view(buf, FormatInt64(v, buf)));
}

double TStringField::AsFloat() const {
    std::string s = AsString();
    double v = 0;
    if (!ParseFloat(s, FormatSettings().DecimalSeparator, v)) ConvertError("floating point", s);
    return v;
}

void TStringField::SetAsFloat(double v) {
    char buf[kNumTextMax];
    SetAsString(std::string_view(buf, FormatFloatGeneral(v, FormatSettings().DecimalSeparator, buf)));
}

bool TStringField::AsBoolean() const {
    std::string s = AsString();
    if (!s.empty()) {
        char c = AnsiUpperChar(s[0]);
        if (c == 'T' || c == 'Y') return true;
    }
    return false;
}

void TStringField::SetAsBoolean(bool v) { SetAsString(v ? "T" : "F"); }

TDateTime TStringField::AsDateTime() const {
    std::string s = AsString();
    TDateTime dt = 0;
    if (!TryStrToDateTime(s, dt)) ConvertError("date and time", s);
    return dt;
}

void TStringField::SetAsDateTime(TDateTime v) { SetAsString(DateTimeToStr(v)); }

TVariant TStringField::AsVariant() const {
    if (IsNull()) return TVariant::Null();
    return TVariant(AsString());
}

// ---------------------------------------------------------------------------------------
// TIntegerField
// ---------------------------------------------------------------------------------------

TIntegerField::TIntegerField(TFieldType type) : TField(type, 0) {
    switch (type) {
        case ftSmallint: min_ = -32768; max_ = 32767; break;
        case ftWord: min_ = 0; max_ = 65535; break;
        case ftLargeint: min_ = INT64_MIN; max_ = INT64_MAX; break;
        default: min_ = INT32_MIN; max_ = INT32_MAX; break;
    }
}

bool TIntegerField::GetValue(std::int64_t& v) const {
    char* buf = ValueBuffer();
    if (!GetData(buf)) return false;
    switch (DataType()) {
        case ftSmallint: { std::int16_t x; std::memcpy(&x, buf, 2); v = x; break; }
        case ftWord: { std::uint16_t x; std::memcpy(&x, buf, 2); v = x; break; }
        case ftLargeint: std::memcpy(&v, buf, 8); break;
        default: { std::int32_t x; std::memcpy(&x, buf, 4); v = x; break; }
    }
    return true;
}

void TIntegerField::GetAsString(std::string& out) const {
    if (GetExactText(out)) return;
    std::int64_t v;
    if (!GetValue(v)) {
        out.clear();
        return;
    }
    WriteOut(out, 24, [&](char* p) { return FormatInt64(v, p); });
}

void TIntegerField::SetAsString(std::string_view value) {
    if (value.empty()) {
        Clear();
        return;
    }
    std::int64_t v;
    if (!ParseInt64(value, v)) {
        if (SetExactText(value)) return;
        ConvertError("integer", value);
    }
    SetAsLargeInt(v);
}

std::int32_t TIntegerField::AsInteger() const {
    std::int64_t v = 0;
    GetValue(v);
    if (v < INT32_MIN || v > INT32_MAX) AccessError("Integer");
    return static_cast<std::int32_t>(v);
}

std::int64_t TIntegerField::AsLargeInt() const {
    std::int64_t v = 0;
    GetValue(v);
    return v;
}

void TIntegerField::SetAsLargeInt(std::int64_t v) {
    if (v < min_ || v > max_)
        throw Exception(std::to_string(v) + " is not a valid value for field '" + DisplayName() +
                        "'. The allowed range is " + std::to_string(min_) + " to " + std::to_string(max_));
    char* buf = ValueBuffer();
    switch (DataType()) {
        case ftSmallint: { std::int16_t x = static_cast<std::int16_t>(v); std::memcpy(buf, &x, 2); break; }
        case ftWord: { std::uint16_t x = static_cast<std::uint16_t>(v); std::memcpy(buf, &x, 2); break; }
        case ftLargeint: std::memcpy(buf, &v, 8); break;
        default: { std::int32_t x = static_cast<std::int32_t>(v); std::memcpy(buf, &x, 4); break; }
    }
    SetData(buf);
}

double TIntegerField::AsFloat() const { return static_cast<double>(AsLargeInt()); }

void TIntegerField::SetAsFloat(double v) {
    double r = std::round(v);
    if (!(r >= -9.2e18 && r <= 9.2e18)) {
        char buf[kNumTextMax];
        ConvertError("integer", std::string_view(buf, FormatFloatGeneral(v, FormatSettings().DecimalSeparator, buf)));
    }
    SetAsLargeInt(static_cast<std::int64_t>(r));
}

TVariant TIntegerField::AsVariant() const {
    std::int64_t v;
    if (!GetValue(v)) return TVariant::Null();
    if (DataType() == ftLargeint) return TVariant(v);
    return TVariant(static_cast<std::int32_t>(v));
}

// ---------------------------------------------------------------------------------------
// TFloatField
// ---------------------------------------------------------------------------------------

TFloatField::TFloatField(TFieldType type) : TField(type, 0) {}

void TFloatField::GetAsString(std::string& out) const {
    if (GetExactText(out)) return;
    char* buf = ValueBuffer();
    if (!GetData(buf)) {
        out.clear();
        return;
    }
    double v;
    std::memcpy(&v, buf, 8);
    const char separator = FormatSettings().DecimalSeparator;
    WriteOut(out, kNumTextMax, [&](char* p) { return FormatFloatGeneral(v, separator, p); });
}

void TFloatField::SetAsString(std::string_view value) {
    if (value.empty()) {
        Clear();
        return;
    }
    if (SetExactText(value)) return;
    double v;
    if (!ParseFloat(value, FormatSettings().DecimalSeparator, v)) ConvertError("floating point", value);
    SetAsFloat(v);
}

double TFloatField::AsFloat() const {
    char* buf = ValueBuffer();
    if (!GetData(buf)) return 0;
    double v;
    std::memcpy(&v, buf, 8);
    return v;
}

std::int32_t TFloatField::AsInteger() const {
    double v = std::round(AsFloat());
    if (!(v >= INT32_MIN && v <= INT32_MAX)) AccessError("Integer");
    return static_cast<std::int32_t>(v);
}

std::int64_t TFloatField::AsLargeInt() const {
    double v = std::round(AsFloat());
    if (!(v >= -9.2e18 && v <= 9.2e18)) AccessError("Largeint");
    return static_cast<std::int64_t>(v);
}

void TFloatField::SetAsFloat(double v) {
    char* buf = ValueBuffer();
    std::memcpy(buf, &v, 8);
    SetData(buf);
}

TVariant TFloatField::AsVariant() const {
    char* buf = ValueBuffer();
    if (!GetData(buf)) return TVariant::Null();
    double v;
    std::memcpy(&v, buf, 8);
    if (DataType() == ftCurrency || DataType() == ftBCD) return TVariant::FromCurrency(v);
    return TVariant(v);
}

// ---------------------------------------------------------------------------------------
// TBooleanField
// ---------------------------------------------------------------------------------------

TBooleanField::TBooleanField() : TField(ftBoolean, 0) {}

bool TBooleanField::AsBoolean() const {
    char* buf = ValueBuffer();
    if (!GetData(buf)) return false;
    std::int16_t v;
    std::memcpy(&v, buf, 2);
    return v != 0;
}

void TBooleanField::SetAsBoolean(bool v) {
    char* buf = ValueBuffer();
    std::int16_t x = v ? -1 : 0;
    std::memcpy(buf, &x, 2);
    SetData(buf);
}

void TBooleanField::GetAsString(std::string& out) const {
    // one engine read: the value answers whether there is one
    char* buf = ValueBuffer();
    if (!GetData(buf)) {
        out.clear();
        return;
    }
    std::int16_t v;
    std::memcpy(&v, buf, 2);
    if (v != 0) SetOut(out, "True", 4);
    else SetOut(out, "False", 5);
}

void TBooleanField::SetAsString(std::string_view value) {
    if (value.empty()) {
        Clear();
        return;
    }
    auto prefixOf = [&](std::string_view word) {  // word: Latin letters only
        if (value.size() > word.size()) return false;
        for (std::size_t i = 0; i < value.size(); ++i)
            if (value[i] != word[i] && UpperOf(value[i]) != UpperOf(word[i])) return false;
        return true;
    };
    if (prefixOf("False"))
        SetAsBoolean(false);
    else if (prefixOf("True"))
        SetAsBoolean(true);
    else
        ConvertError("boolean", value);
}

TVariant TBooleanField::AsVariant() const {
    if (IsNull()) return TVariant::Null();
    return TVariant(AsBoolean());
}

// ---------------------------------------------------------------------------------------
// TDateTimeField (ftDate, ftTime, ftDateTime)
// ---------------------------------------------------------------------------------------

TDateTimeField::TDateTimeField(TFieldType type) : TField(type, 0) {}


TDateTime TDateTimeField::AsDateTime() const {
    TDateTime dt = 0;
    GetValue(dt);
    return dt;
}

bool TDateTimeField::GetValue(TDateTime& dt) const {
    char* buf = ValueBuffer();
    dt = 0;
    if (!GetData(buf)) return false;
    dt = ValueOfBuffer(buf);
    return true;
}

TDateTime TDateTimeField::ValueOfBuffer(const char* buf) const {
    switch (DataType()) {
        case ftDate: {
            std::int32_t d;
            std::memcpy(&d, buf, 4);
            return static_cast<double>(d) - kDateDelta;
        }
        case ftTime: {
            std::int32_t t;
            std::memcpy(&t, buf, 4);
            return t / kMSecsPerDay;
        }
        default: {
            double ms;
            std::memcpy(&ms, buf, 8);
            return MSecsToDateTime(ms);
        }
    }
}

void TDateTimeField::SetAsDateTime(TDateTime v) {
    char* buf = ValueBuffer();
    switch (DataType()) {
        case ftDate: {
            std::int32_t d = DateTimeToDayNumber(v);
            std::memcpy(buf, &d, 4);
            break;
        }
        case ftTime: {
            std::int32_t t = DateTimeToTimeMSecs(v);
            std::memcpy(buf, &t, 4);
            break;
        }
        default: {
            double ms = DateTimeToMSecs(v);
            std::memcpy(buf, &ms, 8);
            break;
        }
    }
    SetData(buf);
}

void TDateTimeField::GetAsString(std::string& out) const {
    if (DataType() == ftDate) {
        // the day number straight to text, without floating point
        char* buf = ValueBuffer();
        if (!GetData(buf)) {
            out.clear();
            return;
        }
        std::int32_t d;
        std::memcpy(&d, buf, 4);
        int year, month, day;
        DecodeDateDays(static_cast<std::int64_t>(d) - kDateDelta, year, month, day);
        WriteOut(out, 24, [&](char* p) { return FormatShortDate(year, month, day, p); });
        if (out.empty()) out = DateToStr(static_cast<double>(d) - kDateDelta);
        return;
    }
    TDateTime dt;
    if (!GetValue(dt)) {  // one engine read: the value answers whether there is one
        out.clear();
        return;
    }
    switch (DataType()) {
        case ftTime: out = TimeToStr(dt); break;
        default: out = DateTimeToStr(dt); break;
    }
}

void TDateTimeField::SetAsString(std::string_view value) {
    if (value.empty()) {
        Clear();
        return;
    }
    TDateTime dt = 0;
    switch (DataType()) {
        case ftDate:
            if (!TryStrToDate(value, dt)) ConvertError("date", value);
            break;
        case ftTime:
            if (!TryStrToTime(value, dt)) ConvertError("time", value);
            break;
        default:
            if (!TryStrToDateTime(value, dt)) ConvertError("date and time", value);
            break;
    }
    SetAsDateTime(dt);
}

TVariant TDateTimeField::AsVariant() const {
    if (IsNull()) return TVariant::Null();
    return TVariant::FromDateTime(AsDateTime());
}

// ---------------------------------------------------------------------------------------
// TBytesField, TDataSetField, factory
// ---------------------------------------------------------------------------------------

TBytesField::TBytesField(int size, TFieldType type) : TField(type, size) {}

void TBytesField::GetAsString(std::string& out) const {
    char* buf = ValueBuffer();
    if (!GetData(buf)) {
        out.clear();
        return;
    }
    if (DataType() == ftVarBytes) {
        std::uint16_t n;
        std::memcpy(&n, buf, 2);
        out.assign(buf + 2, std::min<std::size_t>(n, static_cast<std::size_t>(Size())));
        return;
    }
    out.assign(buf, static_cast<std::size_t>(DataSize()));
}

void TBytesField::SetAsString(std::string_view value) {
    char* buf = ValueBuffer();
    std::size_t n = static_cast<std::size_t>(DataSize());
    std::memset(buf, 0, n);
    if (DataType() == ftVarBytes) {
        const std::uint16_t count = static_cast<std::uint16_t>(std::min<std::size_t>(value.size(), n - 2));
        std::memcpy(buf, &count, 2);
        std::memcpy(buf + 2, value.data(), count);
    } else {
        std::memcpy(buf, value.data(), value.size() < n ? value.size() : n);
    }
    SetData(buf);
}

TDataSetField::TDataSetField() : TField(ftDataSet, 0) {}

std::unique_ptr<TField> CreateFieldOfType(TFieldType type, int size) {
    switch (type) {
        case ftString:
        case ftFixedChar: return std::make_unique<TStringField>(size, type);
        case ftWideString: return std::make_unique<TWideStringField>(size);
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftAutoInc:
        case ftLargeint: return std::make_unique<TIntegerField>(type);
        case ftFloat:
        case ftCurrency:
        case ftBCD: return std::make_unique<TFloatField>(type);
        case ftBoolean: return std::make_unique<TBooleanField>();
        case ftDate:
        case ftTime:
        case ftDateTime: return std::make_unique<TDateTimeField>(type);
        case ftBytes:
        case ftVarBytes: return std::make_unique<TBytesField>(size, type);
        case ftBlob:
        case ftMemo:
        case ftGraphic:
        case ftFmtMemo:
        case ftParadoxOle:
        case ftDBaseOle:
        case ftTypedBinary: return std::make_unique<TBlobField>(type, size);
        case ftDataSet: return std::make_unique<TDataSetField>();
        default: break;
    }
    throw Exception(std::string("Field type ") + FieldTypeName(type) + " is not supported");
}

}  // namespace zarbel
