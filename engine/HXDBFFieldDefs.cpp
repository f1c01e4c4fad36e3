#include "engine/HXDBFFieldDefs.h"

#include "platform/locale.h"

namespace zarbel {

// ---------------------------------------------------------------------------------------
// THXDBFFieldDefs
// ---------------------------------------------------------------------------------------
THXDBFFieldDefs::THXDBFFieldDefs(THXDBFFieldDef* parent, xBaseVersion dialect)
    : Parent_(parent), Dialect_(dialect) {}

THXDBFFieldDefs::~THXDBFFieldDefs() = default;

THXDBFFieldDef& THXDBFFieldDefs::Add() {
    Items_.push_back(std::make_unique<THXDBFFieldDef>(this));
    return *Items_.back();
}

void THXDBFFieldDefs::Delete(int index) {
    if (index < 0 || index >= Count()) return;
    Items_.erase(Items_.begin() + index);
}

void THXDBFFieldDefs::Clear() { Items_.clear(); }

void THXDBFFieldDefs::Assign(const THXDBFFieldDefs& source) {
    if (&source == this) return;
    Clear();
    for (const auto& item : source.Items_) Add().Assign(*item);
}

THXDBFFieldDef* THXDBFFieldDefs::FindByName(std::string_view name) {
    for (auto& item : Items_) {
        if (AnsiSameText(item->Name(), name)) return item.get();
        if (!item->DBFFieldDefs().Empty()) {
            if (THXDBFFieldDef* found = item->DBFFieldDefs().FindByName(name)) return found;
        }
    }
    return nullptr;
}

const THXDBFFieldDef* THXDBFFieldDefs::FindByName(std::string_view name) const {
    return const_cast<THXDBFFieldDefs*>(this)->FindByName(name);
}

bool THXDBFFieldDefs::IsEqual(const THXDBFFieldDefs& other) const {
    if (Count() != other.Count()) return false;
    for (int i = 0; i < Count(); ++i)
        if (!Items(i).IsEqual(other.Items(i))) return false;
    return true;
}

void THXDBFFieldDefs::SetDialect(xBaseVersion dialect) {
    Dialect_ = dialect;
    for (auto& item : Items_) item->SetDialect(dialect);
}

// ---------------------------------------------------------------------------------------
// THXDBFFieldDef
// ---------------------------------------------------------------------------------------
THXDBFFieldDef::THXDBFFieldDef(THXDBFFieldDefs* collection) : Collection_(collection) {
    const xBaseVersion dialect = collection ? collection->Dialect() : xUnknown;
    Rec_.SetDialect(dialect);
    Rec_.SetNextAutoInc(0);
    Rec_.SetNativeNextAutoInc(1);
    Rec_.SetNativeStepAutoInc(1);
    Nested_ = std::make_unique<THXDBFFieldDefs>(this, dialect);
}

void THXDBFFieldDef::Assign(const THXDBFFieldDef& source) {
    if (&source == this) return;
    SetName(source.Name());
    Setfield_type(source.field_type());
    Setextend_type(source.extend_type());
    SetNextAutoInc(source.NextAutoInc());
    SetNativeNextAutoInc(source.NativeNextAutoInc());
    SetNativeStepAutoInc(source.NativeStepAutoInc());
    Len_ = source.Len_;
    Dec_ = source.Dec_;
    Offset_ = source.Offset_;
    OffsetHD_ = source.OffsetHD_;
    Nested_->Assign(*source.Nested_);
}

bool THXDBFFieldDef::IsEqual(const THXDBFFieldDef& other) const {
    return Name() == other.Name() && Nested_->IsEqual(*other.Nested_);
}

int THXDBFFieldDef::Index() const {
    if (!Collection_) return -1;
    for (int i = 0; i < Collection_->Count(); ++i)
        if (&Collection_->Items(i) == this) return i;
    return -1;
}

void THXDBFFieldDef::SetDialect(xBaseVersion dialect) {
    Rec_.SetDialect(dialect);
    Nested_->SetDialect(dialect);
}

}  // namespace zarbel
