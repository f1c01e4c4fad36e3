// The dataset framework: field definitions, field objects with their text conversions, and the
// dataset with its cursor, states and record buffers. A storage engine derives from TDataSet and
// implements the protected engine operations; callers use the public side only.
//
// Record buffers: the framework keeps one active buffer, one temporary buffer and one saved
// buffer, all obtained from the engine (AllocRecordBuffer). A fetch goes into the temporary
// buffer and is swapped in only when it succeeds, so at EOF/BOF the active buffer still holds the
// last record shown. Whenever the engine's cursor may no longer stand on the active record (a
// failed fetch, an append), the framework marks it out of step and, before the next relative
// fetch or an edit, calls InternalSetToRecord(active buffer).
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/locale.h"
#include "platform/variant.h"

namespace zarbel {

class TStream;
class TDataSet;
class TField;
class TDataSource;

enum TFieldType {
    ftUnknown = 0, ftString = 1, ftSmallint = 2, ftInteger = 3, ftWord = 4, ftBoolean = 5, ftFloat = 6,
    ftCurrency = 7, ftBCD = 8, ftDate = 9, ftTime = 10, ftDateTime = 11, ftBytes = 12, ftVarBytes = 13,
    ftAutoInc = 14, ftBlob = 15, ftMemo = 16, ftGraphic = 17, ftFmtMemo = 18, ftParadoxOle = 19,
    ftDBaseOle = 20, ftTypedBinary = 21, ftCursor = 22, ftFixedChar = 23, ftWideString = 24,
    ftLargeint = 25, ftADT = 26, ftArray = 27, ftReference = 28, ftDataSet = 29, ftOraBlob = 30,
    ftOraClob = 31, ftVariant = 32, ftInterface = 33, ftIDispatch = 34, ftGuid = 35,
};
const char* FieldTypeName(TFieldType t);  // "String", "Integer", ...

enum TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter };
enum TFieldKind { fkData, fkCalculated, fkLookup };
enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };
enum TBlobStreamMode { bmRead = 0, bmWrite = 1, bmReadWrite = 2 };
enum TDataEvent {
    deFieldChange,     // info: the TField* that changed
    deRecordChange,    // the active record's values changed as a whole (edit began, ...)
    deDataSetChange,   // the record set or the cursor changed (open, first, last, post, ...)
    deDataSetScroll,   // the cursor moved by MoveBy
    deLayoutChange,
    deUpdateRecord,    // Post asks pending edits to be written into the record
    deUpdateState,     // the state changed
    deCheckBrowseMode,
};
// Resync options (bit set).
enum : unsigned { rmExact = 1, rmCenter = 2 };
// Filter options (bit set).
enum : unsigned { foCaseInsensitive = 1, foNoPartialCompare = 2 };
// Locate options (bit set).
enum : unsigned { loCaseInsensitive = 1, loPartialKey = 2 };

// Calls f(name) for each name of a ";"-separated field list, blanks around it removed and empty
// names left out.
template <class F>
void ForEachFieldName(std::string_view list, F&& f) {
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(';', start);
        if (end == std::string_view::npos) end = list.size();
        std::string_view name = list.substr(start, end - start);
        while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
        while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
        if (!name.empty()) f(name);
        start = end + 1;
    }
}

// A bookmark: the engine's bookmark bytes (BookmarkSize of them).
using TBookmark = std::string;

// Day-number forms of the value buffers (day 1 = 1 January of year 1).
constexpr std::int32_t kDateDelta = 693594;  // day number of 30 December 1899
constexpr double kMSecsPerDay = 86400000.0;
// TDateTime <-> the buffer forms of ftDate (day number), ftTime (ms), ftDateTime (ms since day 0).
std::int32_t DateTimeToDayNumber(TDateTime dt);
std::int32_t DateTimeToTimeMSecs(TDateTime dt);
double DateTimeToMSecs(TDateTime dt);
TDateTime MSecsToDateTime(double msecs);

// Field definition: what the engine says a column is.
class TFieldDef {
public:
    std::string Name;
    TFieldType DataType = ftUnknown;
    int Size = 0;
    int Precision = 0;
    bool Required = false;
    int FieldNo = 0;  // 1-based position in the list
};

class TFieldDefs {
public:
    TFieldDef& Add(std::string_view name, TFieldType type, int size = 0, bool required = false);
    void Clear() { items_.clear(); }
    int Count() const { return static_cast<int>(items_.size()); }
    TFieldDef& operator[](int i) { return *items_.at(static_cast<std::size_t>(i)); }
    const TFieldDef& operator[](int i) const { return *items_.at(static_cast<std::size_t>(i)); }
    int IndexOf(std::string_view name) const;  // case-insensitive; -1 when absent
    TFieldDef* Find(std::string_view name);

private:
    std::vector<std::unique_ptr<TFieldDef>> items_;
};

// A field object: one column of the dataset's current record.
class TField {
public:
    TField(TFieldType type, int size);
    virtual ~TField();
    TField(const TField&) = delete;
    TField& operator=(const TField&) = delete;

    const std::string& FieldName() const { return fieldName_; }
    void SetFieldName(std::string_view name);
    // Case-insensitive hash of a name (the locale's casing), as used by the field lookup.
    static std::uint32_t NameHash(std::string_view name);
    const std::string& DisplayLabel() const { return displayLabel_.empty() ? fieldName_ : displayLabel_; }
    void SetDisplayLabel(std::string_view s) { displayLabel_ = s; }
    const std::string& DisplayName() const { return DisplayLabel(); }
    TFieldType DataType() const { return dataType_; }
    int Size() const { return size_; }
    int FieldNo() const { return fieldNo_; }
    std::intptr_t Tag() const { return tag_; }
    void SetTag(std::intptr_t tag) { tag_ = tag; }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool v) { readOnly_ = v; }
    bool Required() const { return required_; }
    void SetRequired(bool v) { required_ = v; }
    TFieldKind FieldKind() const { return fieldKind_; }
    void SetFieldKind(TFieldKind k) { fieldKind_ = k; }
    bool Calculated() const { return fieldKind_ != fkData; }
    TDataSet* DataSet() const { return dataSet_; }
    int Index() const;  // position in the dataset's field list
    // Size in bytes of the value buffer exchanged with the engine.
    int DataSize() const { return dataSize_; }
    // Offset of the field's slot in the calculated-fields area (calculated and lookup fields).
    int Offset() const { return offset_; }

    // Lookup fields: values come from LookupDataSet, found by this dataset's KeyFields values in its
    // LookupKeyFields; LookupResultField is returned.
    TDataSet* LookupDataSet() const { return lookupDataSet_; }
    void SetLookupDataSet(TDataSet* ds) { lookupDataSet_ = ds; }
    const std::string& KeyFields() const { return keyFields_; }
    void SetKeyFields(std::string_view s) { keyFields_ = s; }
    const std::string& LookupKeyFields() const { return lookupKeyFields_; }
    void SetLookupKeyFields(std::string_view s) { lookupKeyFields_ = s; }
    const std::string& LookupResultField() const { return lookupResultField_; }
    void SetLookupResultField(std::string_view s) { lookupResultField_ = s; }

    // Value access. Reading a field without a value gives the empty text, 0, false.
    bool IsNull() const;
    void Clear() { SetData(nullptr); }
    std::string AsString() const { std::string s; GetAsString(s); return s; }
    virtual void GetAsString(std::string& out) const;      // reuses out's capacity
    virtual void SetAsString(std::string_view value);
    // Display text (the same as AsString for every field type here).
    std::string Text() const { std::string s; GetText(s); return s; }
    virtual void GetText(std::string& out) const { GetAsString(out); }
    void SetText(std::string_view value) { SetAsString(value); }
    virtual std::int32_t AsInteger() const;
    virtual void SetAsInteger(std::int32_t v);
    virtual std::int64_t AsLargeInt() const;
    virtual void SetAsLargeInt(std::int64_t v);
    virtual double AsFloat() const;
    virtual void SetAsFloat(double v);
    double AsCurrency() const { return AsFloat(); }
    void SetAsCurrency(double v) { SetAsFloat(v); }
    virtual bool AsBoolean() const;
    virtual void SetAsBoolean(bool v);
    virtual TDateTime AsDateTime() const;
    virtual void SetAsDateTime(TDateTime v);
    virtual TVariant AsVariant() const;
    virtual void SetAsVariant(const TVariant& v);

    // Raw value buffer exchange with the engine. GetData(nullptr) only tests for a value.
    bool GetData(void* buffer) const;
    // Checks the state and the read-only flag, runs OnValidate, then hands the buffer (or no
    // value) to the engine.
    void SetData(const void* buffer);

    // Called with the field before a value is written.
    std::function<void(TField&)> OnValidate;

protected:
    // The value as the text of its stored digits where the dataset keeps them (see
    // TDataSet::GetFieldText); false when the binary value is to be taken.
    bool GetExactText(std::string& out) const;
    // Stores a text's digits as they are where the dataset takes them (the same checks as
    // SetData first); false when the text is to go through the binary value.
    bool SetExactText(std::string_view text);
    friend class TDataSet;
    friend class TFields;
    [[noreturn]] void AccessError(const char* typeName) const;
    [[noreturn]] void ConvertError(const char* what, std::string_view value) const;
    // The checks before a write: the dataset's state, the read-only flag, OnValidate.
    void CheckWrite();
    void SetDataSize(int n) { dataSize_ = n; }
    // The fixed value buffer of the field: DataSize bytes, reused by every access.
    char* ValueBuffer() const { return buf_.data(); }

private:
    std::string fieldName_;
    std::uint32_t nameHash_ = NameHash({});
    std::string displayLabel_;
    TFieldType dataType_;
    int size_;
    int dataSize_ = 0;
    int fieldNo_ = 0;
    int offset_ = 0;
    std::intptr_t tag_ = 0;
    bool readOnly_ = false;
    bool required_ = false;
    TFieldKind fieldKind_ = fkData;
    TDataSet* dataSet_ = nullptr;
    TDataSet* lookupDataSet_ = nullptr;
    std::string keyFields_, lookupKeyFields_, lookupResultField_;
    mutable std::vector<char> buf_;
};

// ftString, ftFixedChar, ftWideString: Size characters and a zero byte. The text passes through
// the dataset's TranslateText after every read and before every write when Transliterate is set.
class TStringField : public TField {
public:
    explicit TStringField(int size, TFieldType type = ftString);
    bool Transliterate() const { return transliterate_; }
    void SetTransliterate(bool v) { transliterate_ = v; }
    void GetAsString(std::string& out) const override;
    void SetAsString(std::string_view value) override;
    std::int32_t AsInteger() const override;
    void SetAsInteger(std::int32_t v) override;
    std::int64_t AsLargeInt() const override;
    void SetAsLargeInt(std::int64_t v) override;
    double AsFloat() const override;
    void SetAsFloat(double v) override;
    bool AsBoolean() const override;
    void SetAsBoolean(bool v) override;
    TDateTime AsDateTime() const override;
    void SetAsDateTime(TDateTime v) override;
    TVariant AsVariant() const override;

private:
    bool transliterate_ = true;
};

class TWideStringField : public TStringField {
public:
    explicit TWideStringField(int size) : TStringField(size, ftWideString) {}
};

// Integer kinds: ftSmallint (16-bit), ftWord (16-bit unsigned), ftInteger, ftAutoInc (32-bit),
// ftLargeint (64-bit). Writes outside the kind's range fail with the framework's range message.
class TIntegerField : public TField {
public:
    explicit TIntegerField(TFieldType type = ftInteger);
    std::int64_t MinValue() const { return min_; }
    std::int64_t MaxValue() const { return max_; }
    void GetAsString(std::string& out) const override;
    void SetAsString(std::string_view value) override;
    std::int32_t AsInteger() const override;
    void SetAsInteger(std::int32_t v) override { SetAsLargeInt(v); }
    std::int64_t AsLargeInt() const override;
    void SetAsLargeInt(std::int64_t v) override;
    double AsFloat() const override;
    void SetAsFloat(double v) override;
    TVariant AsVariant() const override;

protected:
    bool GetValue(std::int64_t& v) const;

private:
    std::int64_t min_, max_;
};
using TSmallintField = TIntegerField;
using TWordField = TIntegerField;
using TAutoIncField = TIntegerField;
using TLargeintField = TIntegerField;

// ftFloat, ftCurrency, ftBCD: an IEEE double in the value buffer.
class TFloatField : public TField {
public:
    explicit TFloatField(TFieldType type = ftFloat);
    void GetAsString(std::string& out) const override;
    void SetAsString(std::string_view value) override;
    std::int32_t AsInteger() const override;
    std::int64_t AsLargeInt() const override;
    void SetAsInteger(std::int32_t v) override { SetAsFloat(v); }
    void SetAsLargeInt(std::int64_t v) override { SetAsFloat(static_cast<double>(v)); }
    double AsFloat() const override;
    void SetAsFloat(double v) override;
    TVariant AsVariant() const override;
};
using TCurrencyField = TFloatField;
using TBCDField = TFloatField;

// ftBoolean: 16-bit, 0 false, -1 true. Text "True"/"False"; writing accepts any case-insensitive
// prefix of either.
class TBooleanField : public TField {
public:
    TBooleanField();
    void GetAsString(std::string& out) const override;
    void SetAsString(std::string_view value) override;
    bool AsBoolean() const override;
    void SetAsBoolean(bool v) override;
    TVariant AsVariant() const override;
};

// ftDate (32-bit day number), ftTime (32-bit ms since midnight), ftDateTime (double ms).
class TDateTimeField : public TField {
public:
    explicit TDateTimeField(TFieldType type = ftDateTime);
    void GetAsString(std::string& out) const override;
    void SetAsString(std::string_view value) override;
    double AsFloat() const override { return AsDateTime(); }
    void SetAsFloat(double v) override { SetAsDateTime(v); }
    TDateTime AsDateTime() const override;
    void SetAsDateTime(TDateTime v) override;
    TVariant AsVariant() const override;

private:
    // The value with one engine read; false (dt 0) when the field has none.
    bool GetValue(TDateTime& dt) const;
    TDateTime ValueOfBuffer(const char* buf) const;
};
using TDateField = TDateTimeField;
using TTimeField = TDateTimeField;

// ftBytes: Size raw bytes; ftVarBytes: a 16-bit byte count, then up to Size bytes. As text: the
// bytes as they are (of ftVarBytes, as many as the count says).
class TBytesField : public TField {
public:
    explicit TBytesField(int size, TFieldType type = ftBytes);
    void GetAsString(std::string& out) const override;
    void SetAsString(std::string_view value) override;
};

// Blob kinds (ftBlob, ftMemo, ftGraphic, ftFmtMemo, ftParadoxOle, ftDBaseOle, ftTypedBinary): the
// value buffer holds the engine's reference to the value; the value itself is read and written
// through the dataset's CreateBlobStream.
class TBlobField : public TField {
public:
    explicit TBlobField(TFieldType type = ftBlob, int size = 0);
    void GetAsString(std::string& out) const override;
    void SetAsString(std::string_view value) override;
    TVariant AsVariant() const override;
    void LoadFromStream(TStream& s);
    void SaveToStream(TStream& s) const;
};
using TMemoField = TBlobField;
using TGraphicField = TBlobField;

// ftDataSet: a nested table; the engine sets NestedDataSet.
class TDataSetField : public TField {
public:
    TDataSetField();
    TDataSet* NestedDataSet() const { return nested_; }
    void SetNestedDataSet(TDataSet* ds) { nested_ = ds; }
    void GetAsString(std::string& out) const override { out.clear(); }

private:
    TDataSet* nested_ = nullptr;
};

// A field object of the class that fits the type; throws for types without a field class.
std::unique_ptr<TField> CreateFieldOfType(TFieldType type, int size);

// The dataset's field list. Lookup by name is case-insensitive (the locale's rules, those of OEM
// text when the owner's text is OEM text).
class TFields {
public:
    explicit TFields(TDataSet* owner) : owner_(owner) {}
    int Count() const { return static_cast<int>(items_.size()); }
    TField& operator[](int i) const { return *items_.at(static_cast<std::size_t>(i)); }
    TField* FindField(std::string_view name) const;
    TField& FieldByName(std::string_view name) const;  // "Field '%s' not found"
    int IndexOf(const TField* f) const;
    TField& Add(std::unique_ptr<TField> field);
    void Remove(TField* field);
    void Clear();

private:
    TDataSet* owner_;
    std::vector<std::unique_ptr<TField>> items_;
    mutable std::size_t hint_ = 0;  // where the next lookup starts
};

class TDataSet {
public:
    TDataSet();
    virtual ~TDataSet();
    TDataSet(const TDataSet&) = delete;
    TDataSet& operator=(const TDataSet&) = delete;

    // Opening and closing.
    bool Active() const { return state_ != dsInactive; }
    void SetActive(bool value);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    TDataSetState State() const { return state_; }

    // Navigation.
    void First();
    void Last();
    void Next() { MoveBy(1); }
    void Prior() { MoveBy(-1); }
    int MoveBy(int distance);
    bool Eof() const { return eof_; }
    bool Bof() const { return bof_; }
    bool IsEmpty() const { return recordCount_ == 0; }
    int RecNo() { return GetRecNo(); }
    virtual void SetRecNo(int value);  // engine-defined; nothing by default
    int RecordCount() { return GetRecordCount(); }
    void Refresh();
    void Resync(unsigned mode);

    // Fields.
    TFieldDefs& FieldDefs() { return fieldDefs_; }
    TFields& Fields() { return fields_; }
    int FieldCount() const { return fields_.Count(); }
    TField* FindField(std::string_view name) const { return fields_.FindField(name); }
    TField& FieldByName(std::string_view name) const { return fields_.FieldByName(name); }
    // Values of the named fields (separated by ';'): one value, or an array of values.
    TVariant GetFieldValues(std::string_view fieldNames) const;

    // Bookmarks.
    TBookmark Bookmark();  // empty when no record is current
    void SetBookmark(const TBookmark& b) { GotoBookmark(b); }
    void GotoBookmark(const TBookmark& b);
    virtual bool BookmarkValid(const TBookmark& b);
    virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b);

    // Editing.
    void Append();
    void Insert();
    void Edit();
    void Post();
    void Cancel();
    void Delete();
    void CheckBrowseMode();
    void UpdateRecord();
    bool Modified() const { return modified_; }
    virtual bool CanModify() const { return true; }

    // Blob values of the current record: a stream over the field's value (engine-defined; none by
    // default). The stream writes back when destroyed after a change.
    virtual std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode);
    // A blob field's value as text (TBlobField::GetAsString) and its replacement by a text
    // (SetAsString). By default through CreateBlobStream; an engine may override both to do
    // the same without a stream object per call, with the same checks and results.
    virtual void GetBlobText(TField* field, std::string& out);
    virtual void SetBlobText(TField* field, std::string_view value);

    // Numbers whose digits their binary form cannot carry exactly (more significant digits than
    // a double holds, an integer beyond 64 bits): an engine that stores numbers as text may
    // give a numeric field's text from the stored digits, and store a text's digits as they
    // are. GetFieldText: true with out set, false to take the binary value. TakesFieldText:
    // whether SetFieldText would store this text; SetFieldText stores it, after the
    // framework's write checks. None of it by default.
    virtual bool GetFieldText(const TField* field, std::string& out);
    virtual bool TakesFieldText(const TField* field, std::string_view text);
    virtual void SetFieldText(TField* field, std::string_view text);

    // Filtering, searching (engine-defined).
    const std::string& Filter() const { return filterText_; }
    virtual void SetFilter(std::string_view text) { filterText_ = text; }
    bool Filtered() const { return filtered_; }
    virtual void SetFiltered(bool v) { filtered_ = v; }
    unsigned FilterOptions() const { return filterOptions_; }
    virtual void SetFilterOptions(unsigned v) { filterOptions_ = v; }
    std::function<void(TDataSet&, bool& accept)> OnFilterRecord;
    virtual bool Locate(std::string_view keyFields, const TVariant& keyValues, unsigned options);
    virtual TVariant Lookup(std::string_view keyFields, const TVariant& keyValues,
                            std::string_view resultFields);
    bool FindFirst() { return FindRecord(true, true); }
    bool FindLast() { return FindRecord(true, false); }
    bool FindNext() { return FindRecord(false, true); }
    bool FindPrior() { return FindRecord(false, false); }
    virtual bool FindRecord(bool restart, bool goForward);

    // Text conversion of string values between the table's code page and ANSI: converts the
    // zero-terminated src into dst (may be the same) and returns the length. Default: a copy.
    virtual int TranslateText(const char* src, char* dst, bool toOem);
    // False when TranslateText would give every text back unchanged (the fields then skip it).
    virtual bool TranslatesText() const { return true; }
    // True when the dataset's text (ANSI as handed out) stands for OEM text: name lookups then
    // case by the OEM text rules (AnsiUpperCase's oemText).
    virtual bool TextIsOem() const { return false; }

    // Change notifications (also passed to OnDataEvent and to every data source over this
    // dataset).
    virtual void DataEvent(TDataEvent event, std::intptr_t info);

    // Events.
    std::function<void(TDataSet&)> BeforeOpen, AfterOpen, BeforeClose, AfterClose;
    std::function<void(TDataSet&)> BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
    std::function<void(TDataSet&)> BeforePost, AfterPost, BeforeCancel, AfterCancel;
    std::function<void(TDataSet&)> BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
    std::function<void(TDataSet&)> OnNewRecord, OnCalcFields;
    std::function<void(TDataSet&, TDataEvent, std::intptr_t)> OnDataEvent;

protected:
    // ---- Engine operations ----
    virtual char* AllocRecordBuffer() = 0;
    virtual void FreeRecordBuffer(char*& buffer) = 0;
    virtual void InternalInitRecord(char* buffer) = 0;
    virtual TGetResult GetRecord(char* buffer, TGetMode mode, bool doCheck) = 0;
    virtual int GetRecordSize() = 0;
    virtual void InternalOpen() = 0;
    virtual void InternalClose() = 0;
    virtual void InternalInitFieldDefs() = 0;
    virtual void InternalFirst() = 0;
    virtual void InternalLast() = 0;
    virtual void InternalGotoBookmark(const void* bookmark) = 0;
    virtual void InternalSetToRecord(char* buffer) = 0;
    virtual TBookmarkFlag GetBookmarkFlag(const char* buffer) = 0;
    virtual void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) = 0;
    virtual void GetBookmarkData(const char* buffer, void* data) = 0;
    virtual void SetBookmarkData(char* buffer, const void* data) = 0;
    virtual void InternalAddRecord(char* buffer, bool append) = 0;
    virtual void InternalPost() = 0;
    virtual void InternalDelete() = 0;
    virtual void InternalEdit() {}
    virtual void InternalCancel() {}
    virtual void InternalRefresh() {}
    virtual bool IsCursorOpen() const = 0;
    virtual int GetRecordCount() { return -1; }
    virtual int GetRecNo() { return -1; }
    // Copies the field's value of the active record into buffer (when not null) and answers
    // whether the field holds a value.
    virtual bool GetFieldData(TField* field, void* buffer) = 0;
    // Stores the value in buffer, or no value when buffer is null, into the active record.
    virtual void SetFieldData(TField* field, const void* buffer) = 0;
    // Clears the calculated-fields area of a record buffer (engine knows where it lies).
    virtual void ClearCalcFields(char* buffer);

    // ---- Framework services for the engine ----
    char* ActiveBuffer() const { return active_; }
    char* TempBuffer() const { return temp_; }
    char* CalcBuffer() const { return calcBuffer_; }
    int BookmarkSize() const { return bookmarkSize_; }
    void SetBookmarkSize(int n) { bookmarkSize_ = n; }
    int CalcFieldsSize() const { return calcFieldsSize_; }
    bool DefaultFields() const { return defaultFields_; }
    // FieldDefs from the engine (InternalInitFieldDefs).
    void InitFieldDefs();
    // Field objects from FieldDefs (when the caller defined none), and their binding.
    void CreateFields();
    void DestroyFields();
    void BindFields(bool binding);
    // Computes the calculated fields of a fetched record buffer (no-op without such fields).
    void GetCalcFields(char* buffer);
    // Values of calculated fields in the calculated area of a record buffer: one null byte
    // (1 = has value) and DataSize bytes at the field's Offset.
    bool GetCalcFieldData(const TField* field, const char* calcArea, void* buffer) const;
    void SetCalcFieldData(const TField* field, char* calcArea, const void* buffer) const;
    // State changes without notifications, for the engine's temporary states (filter, set-key,
    // calculation). Returns the old state.
    TDataSetState SetTempState(TDataSetState state);
    void RestoreState(TDataSetState state);
    void SetState(TDataSetState state);
    void SetModified(bool v) { modified_ = v; }
    void CheckActive() const;
    void CheckInactive() const;
    void CursorPosChanged() { cursorSynced_ = false; }
    void UpdateCursorPos();
    void ClearBuffers();
    // For engines whose destructor must close the dataset before its own members go.
    void DestroyingClose();

private:
    friend class TField;
    friend class TDataSource;
    bool GetNextRecord();
    bool GetPriorRecord();
    bool FetchInto(TGetMode mode, bool doCheck);  // fetch into temp, swap on success
    void AcceptFetched();
    void FreeBuffers();
    void BeginInsertAppend();
    void EndInsertAppend();
    void CheckRequiredFields();
    void CheckCanModify() const;
    static void Call(const std::function<void(TDataSet&)>& f, TDataSet& ds) { if (f) f(ds); }

    TDataSetState state_ = dsInactive;
    TFieldDefs fieldDefs_;
    TFields fields_;
    char* active_ = nullptr;
    char* temp_ = nullptr;
    char* saved_ = nullptr;
    char* calcBuffer_ = nullptr;
    bool savedValid_ = false;
    int recordCount_ = 0;  // 0: no current record, 1: the active buffer holds one
    bool bof_ = true;
    bool eof_ = true;
    bool cursorSynced_ = false;
    bool modified_ = false;
    bool defaultFields_ = false;
    bool internalOpenComplete_ = false;
    int bookmarkSize_ = 0;
    int calcFieldsSize_ = 0;
    bool hasCalcFields_ = false;
    std::string filterText_;
    bool filtered_ = false;
    unsigned filterOptions_ = 0;
    std::vector<TDataSource*> dataSources_;  // the sources over this dataset (not owned)
};

class TDataLink;

// A data source: the point where data links meet one dataset. It passes the dataset's change
// and scroll notifications, and its opening and closing, on to its links. Neither side owns
// the other: a source, a link or a dataset that goes away detaches itself.
class TDataSource {
public:
    TDataSource() = default;
    ~TDataSource();
    TDataSource(const TDataSource&) = delete;
    TDataSource& operator=(const TDataSource&) = delete;

    TDataSet* DataSet() const { return dataSet_; }
    // The links hear of the change as their dataset opening or closing when its state differs.
    void SetDataSet(TDataSet* ds);
    TDataSetState State() const { return dataSet_ ? dataSet_->State() : dsInactive; }

private:
    friend class TDataSet;
    friend class TDataLink;
    void DataEvent(TDataEvent event, std::intptr_t info);
    void NotifyActive(bool was);
    TDataSet* dataSet_ = nullptr;
    std::vector<TDataLink*> links_;  // not owned
    bool active_ = false;            // as the links last heard
};

// A data link: what follows one dataset through a data source. The framework calls the
// handlers; a link class overrides those it needs.
class TDataLink {
public:
    TDataLink() = default;
    virtual ~TDataLink();
    TDataLink(const TDataLink&) = delete;
    TDataLink& operator=(const TDataLink&) = delete;

    TDataSource* DataSource() const { return dataSource_; }
    void SetDataSource(TDataSource* source);
    TDataSet* DataSet() const { return dataSource_ ? dataSource_->DataSet() : nullptr; }
    // The source's dataset is open.
    bool Active() const { return dataSource_ && dataSource_->State() != dsInactive; }

protected:
    friend class TDataSource;
    // The dataset opened or closed (or another dataset, or none, came in).
    virtual void ActiveChanged() {}
    // The record set or the cursor changed (open, first, last, post, locate, a range ...).
    virtual void DataSetChanged() {}
    // The cursor moved by distance records (MoveBy).
    virtual void DataSetScrolled(int /*distance*/) {}

private:
    TDataSource* dataSource_ = nullptr;
};

}  // namespace zarbel
