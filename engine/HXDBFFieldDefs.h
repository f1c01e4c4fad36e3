// A table's structure: THXDBFFieldDefs, an ordered list of THXDBFFieldDef items. The order
// of the items is the order of the fields in the record and of the descriptors in the file.
// A definition keeps its name, type letter, extended type and autoincrement counters in its
// FIELD_REC image (both descriptor forms), and its length, decimals and offsets itself.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/HXDBFFieldRec.h"
#include "engine/HXDBFFlags.h"
#include "engine/HXDBFFormat.h"

namespace zarbel {

class TFieldDef;  // the dataset framework's field definition (platform/dataset.h)
class THXDBFFieldDef;

class THXDBFFieldDefs {
public:
    // parent: the definition that owns this nested list, or none for a table's own list.
    explicit THXDBFFieldDefs(THXDBFFieldDef* parent = nullptr, xBaseVersion dialect = xUnknown);
    ~THXDBFFieldDefs();
    THXDBFFieldDefs(const THXDBFFieldDefs&) = delete;
    THXDBFFieldDefs& operator=(const THXDBFFieldDefs&) = delete;

    int Count() const { return static_cast<int>(Items_.size()); }
    bool Empty() const { return Items_.empty(); }
    THXDBFFieldDef& Items(int index) { return *Items_.at(static_cast<std::size_t>(index)); }
    const THXDBFFieldDef& Items(int index) const { return *Items_.at(static_cast<std::size_t>(index)); }
    THXDBFFieldDef& operator[](int index) { return Items(index); }
    const THXDBFFieldDef& operator[](int index) const { return Items(index); }

    // A new definition at the end, already set to the list's dialect.
    THXDBFFieldDef& Add();
    void Delete(int index);
    void Clear();
    // Clears this list, then adds one definition per item of source and copies it.
    void Assign(const THXDBFFieldDefs& source);

    // Case-insensitive (locale casing) depth-first pre-order search; nullptr when absent.
    THXDBFFieldDef* FindByName(std::string_view name);
    const THXDBFFieldDef* FindByName(std::string_view name) const;
    // Same count and each item IsEqual to the item at the same index.
    bool IsEqual(const THXDBFFieldDefs& other) const;

    xBaseVersion Dialect() const { return Dialect_; }
    // Stores the dialect and passes it to every item and nested list, to any depth.
    void SetDialect(xBaseVersion dialect);

    THXDBFFieldDef* Parent() const { return Parent_; }

    // Kept by the table while it is open: an autoincrement field (+, or I with the
    // AutoIncrement flag in Visual FoxPro) is present; offset and size of the _NULLFLAGS
    // field in the record (offset 0 = none).
    bool AutoIncPresent() const { return AutoIncPresent_; }
    void SetAutoIncPresent(bool v) { AutoIncPresent_ = v; }
    int NullFlagsOffset() const { return NullFlagsOffset_; }
    int NullFlagsSize() const { return NullFlagsSize_; }
    void SetNullFlags(int offset, int size) {
        NullFlagsOffset_ = offset;
        NullFlagsSize_ = size;
    }
    // Clears the list-level markers above (done by the table before reading descriptors).
    void ResetMarkers() {
        AutoIncPresent_ = false;
        NullFlagsOffset_ = 0;
        NullFlagsSize_ = 0;
    }

private:
    std::vector<std::unique_ptr<THXDBFFieldDef>> Items_;
    THXDBFFieldDef* Parent_;
    xBaseVersion Dialect_;
    bool AutoIncPresent_ = false;
    int NullFlagsOffset_ = 0;
    int NullFlagsSize_ = 0;
};

class THXDBFFieldDef {
public:
    // A definition of the given list (Add makes them); flags false, NextAutoInc 0,
    // NativeNextAutoInc 1, NativeStepAutoInc 1, Tag 0, empty nested list, list's dialect.
    explicit THXDBFFieldDef(THXDBFFieldDefs* collection);
    THXDBFFieldDef(const THXDBFFieldDef&) = delete;
    THXDBFFieldDef& operator=(const THXDBFFieldDef&) = delete;

    // Copies Name, field_type, extend_type, the three autoincrement values, len, dec,
    // Offset, OffsetHD and the whole nested list. FieldFlag and Tag are not copied.
    void Assign(const THXDBFFieldDef& source);
    // Names equal (case-sensitive) and nested lists equal.
    bool IsEqual(const THXDBFFieldDef& other) const;

    THXDBFFieldDefs& DBFFieldDefs() { return *Nested_; }
    const THXDBFFieldDefs& DBFFieldDefs() const { return *Nested_; }
    TFieldFlag& FieldFlag() { return FieldFlag_; }
    const TFieldFlag& FieldFlag() const { return FieldFlag_; }

    std::string Name() const { return Rec_.Name(); }
    void SetName(std::string_view name) { Rec_.SetName(name); }
    std::string DisplayName() const { return Name(); }
    void SetDisplayName(std::string_view name) { SetName(name); }
    char field_type() const { return Rec_.FieldType(); }
    void Setfield_type(char t) { Rec_.SetFieldType(t); }
    THXDBFType extend_type() const { return Rec_.ExtendType(); }
    void Setextend_type(THXDBFType t) { Rec_.SetExtendType(t); }
    std::uint16_t len() const { return Len_; }
    void Setlen(std::uint16_t v) { Len_ = v; }
    std::uint16_t dec() const { return Dec_; }
    void Setdec(std::uint16_t v) { Dec_ = v; }
    // Read-only as properties; set by the table when it opens a file.
    int Offset() const { return Offset_; }
    int OffsetHD() const { return OffsetHD_; }
    void SetOffset(int v) { Offset_ = v; }
    void SetOffsetHD(int v) { OffsetHD_ = v; }
    std::uint32_t NextAutoInc() const { return Rec_.NextAutoInc(); }
    void SetNextAutoInc(std::uint32_t v) { Rec_.SetNextAutoInc(v); }
    std::uint32_t NativeNextAutoInc() const { return Rec_.NativeNextAutoInc(); }
    void SetNativeNextAutoInc(std::uint32_t v) { Rec_.SetNativeNextAutoInc(v); }
    std::uint8_t NativeStepAutoInc() const { return Rec_.NativeStepAutoInc(); }
    void SetNativeStepAutoInc(std::uint8_t v) { Rec_.SetNativeStepAutoInc(v); }
    int Tag() const { return Tag_; }
    void SetTag(int v) { Tag_ = v; }

    // Index in the owning list.
    int Index() const;
    THXDBFFieldDefs* Collection() const { return Collection_; }

    // The descriptor image (both forms) and the dialect that selects the form.
    FIELD_REC& FieldRec() { return Rec_; }
    const FIELD_REC& FieldRec() const { return Rec_; }
    xBaseVersion Dialect() const { return Rec_.Dialect(); }
    // Sets the image's dialect and the nested list's, to any depth.
    void SetDialect(xBaseVersion dialect);

    // The dataset framework's field definition made for this field at open (not owned).
    TFieldDef* FieldDef() const { return FieldDef_; }
    void SetFieldDef(TFieldDef* def) { FieldDef_ = def; }

    // Visual FoxPro null bit: ordinal among the nullable fields (-1 = none), its byte in the
    // _NULLFLAGS field (ordinal div 8) and its mask (1 shl (ordinal mod 8)).
    int NullOrdinal() const { return NullOrdinal_; }
    int NullByte() const { return NullOrdinal_ < 0 ? 0 : NullOrdinal_ / 8; }
    std::uint8_t NullMask() const {
        return NullOrdinal_ < 0 ? 0 : static_cast<std::uint8_t>(1u << (NullOrdinal_ % 8));
    }
    void SetNullOrdinal(int ordinal) { NullOrdinal_ = ordinal; }

private:
    THXDBFFieldDefs* Collection_;
    FIELD_REC Rec_;
    TFieldFlag FieldFlag_;
    std::unique_ptr<THXDBFFieldDefs> Nested_;
    std::uint16_t Len_ = 0;
    std::uint16_t Dec_ = 0;
    int Offset_ = 0;
    int OffsetHD_ = 0;
    int Tag_ = 0;
    TFieldDef* FieldDef_ = nullptr;
    int NullOrdinal_ = -1;
};

}  // namespace zarbel
