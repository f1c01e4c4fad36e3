// TDataSet: states, cursor movement over the engine's fetches, editing and notifications.
#include "platform/dataset.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/exception.h"

namespace zarbel {

namespace {
const char* const kClosed = "Cannot perform this operation on a closed dataset";
const char* const kOpen = "Cannot perform this operation on an open dataset";
const char* const kEmpty = "Cannot perform this operation on an empty dataset";
const char* const kNotEditing = "Dataset not in edit or insert mode";
const char* const kReadOnlyDataSet = "Cannot modify a read-only dataset";
const char* const kRecordNotFound = "Record not found";
}  // namespace

TDataSet::TDataSet() : fields_(this) {}

TDataSet::~TDataSet() {
    // Engines close in their own destructor (DestroyingClose), while their members still exist.
    fields_.Clear();
    while (!dataSources_.empty()) dataSources_.back()->SetDataSet(nullptr);
}

void TDataSet::DestroyingClose() {
    try {
        if (Active()) {
            state_ = dsInactive;
            internalOpenComplete_ = false;
            ClearBuffers();
            FreeBuffers();
            InternalClose();
        }
    } catch (...) {
        // a destructor must not throw; the engine released what it could
    }
}

void TDataSet::CheckActive() const {
    if (state_ == dsInactive) throw Exception(kClosed);
}

void TDataSet::CheckInactive() const {
    if (state_ != dsInactive) throw Exception(kOpen);
}

void TDataSet::CheckCanModify() const {
    if (!CanModify()) throw Exception(kReadOnlyDataSet);
}

void TDataSet::SetState(TDataSetState state) {
    if (state_ != state) {
        state_ = state;
        modified_ = false;
        DataEvent(deUpdateState, 0);
    }
}

TDataSetState TDataSet::SetTempState(TDataSetState state) {
    TDataSetState old = state_;
    state_ = state;
    return old;
}

void TDataSet::RestoreState(TDataSetState state) { state_ = state; }

// ---------------------------------------------------------------------------------------
// Open and close
// ---------------------------------------------------------------------------------------

void TDataSet::SetActive(bool value) {
    if (value == Active()) return;
    if (value) {
        Call(BeforeOpen, *this);
        defaultFields_ = fields_.Count() == 0;
        internalOpenComplete_ = false;
        try {
            InternalOpen();
            if (!IsCursorOpen()) throw Exception(kClosed);
            internalOpenComplete_ = true;
            active_ = AllocRecordBuffer();
            temp_ = AllocRecordBuffer();
            saved_ = AllocRecordBuffer();
            ClearBuffers();
            GetNextRecord();
            bof_ = true;
        } catch (...) {
            internalOpenComplete_ = false;
            ClearBuffers();
            try {
                FreeBuffers();
                InternalClose();
            } catch (...) {
            }
            defaultFields_ = false;
            state_ = dsInactive;
            throw;
        }
        SetState(dsBrowse);
        Call(AfterOpen, *this);
    } else {
        Call(BeforeClose, *this);
        SetState(dsInactive);
        internalOpenComplete_ = false;
        ClearBuffers();
        savedValid_ = false;
        try {
            FreeBuffers();
        } catch (...) {
            InternalClose();
            throw;
        }
        InternalClose();
        defaultFields_ = false;
        Call(AfterClose, *this);
    }
}

void TDataSet::FreeBuffers() {
    if (active_) FreeRecordBuffer(active_);
    if (temp_) FreeRecordBuffer(temp_);
    if (saved_) FreeRecordBuffer(saved_);
    active_ = temp_ = saved_ = nullptr;
    calcBuffer_ = nullptr;
}

void TDataSet::InitFieldDefs() { InternalInitFieldDefs(); }

void TDataSet::CreateFields() {
    for (int i = 0; i < fieldDefs_.Count(); ++i) {
        const TFieldDef& def = fieldDefs_[i];
        auto f = CreateFieldOfType(def.DataType, def.Size);
        f->SetFieldName(def.Name);
        f->SetRequired(def.Required);
        TField& added = fields_.Add(std::move(f));
        added.fieldNo_ = def.FieldNo;
    }
}

void TDataSet::DestroyFields() { fields_.Clear(); }

void TDataSet::BindFields(bool binding) {
    calcFieldsSize_ = 0;
    hasCalcFields_ = false;
    for (int i = 0; i < fields_.Count(); ++i) {
        TField& f = fields_[i];
        if (!binding) {
            if (f.FieldKind() == fkData) f.fieldNo_ = 0;
            continue;
        }
        if (f.FieldKind() == fkData) {
            // A field made from a definition keeps that definition (names may repeat in a
            // table); others are bound by name.
            const TFieldDef* def = nullptr;
            if (f.fieldNo_ > 0 && f.fieldNo_ <= fieldDefs_.Count() &&
                fieldDefs_[f.fieldNo_ - 1].Name == f.FieldName())
                def = &fieldDefs_[f.fieldNo_ - 1];
            else
                def = fieldDefs_.Find(f.FieldName());
            if (!def) throw Exception("Field '" + f.DisplayName() + "' not found");
            bool sameKind = def->DataType == f.DataType() ||
                            (def->DataType == ftAutoInc && f.DataType() == ftInteger) ||
                            (def->DataType == ftInteger && f.DataType() == ftAutoInc);
            if (!sameKind)
                throw Exception("Type mismatch for field '" + f.DisplayName() + "', expecting: " +
                                FieldTypeName(f.DataType()) + " actual: " + FieldTypeName(def->DataType));
            if ((f.DataType() == ftString || f.DataType() == ftFixedChar || f.DataType() == ftBytes) &&
                def->Size != f.Size())
                throw Exception("Size mismatch for field '" + f.DisplayName() + "', expecting: " +
                                std::to_string(f.Size()) + " actual: " + std::to_string(def->Size));
            f.fieldNo_ = def->FieldNo;
        } else {
            f.fieldNo_ = -1;
            f.offset_ = calcFieldsSize_;
            calcFieldsSize_ += f.DataSize() + 1;
            hasCalcFields_ = true;
        }
    }
}

void TDataSet::ClearCalcFields(char*) {}

void TDataSet::GetCalcFields(char* buffer) {
    if (!hasCalcFields_ || !buffer) return;
    char* oldCalc = calcBuffer_;
    calcBuffer_ = buffer;
    TDataSetState old = SetTempState(dsCalcFields);
    try {
        ClearCalcFields(buffer);
        Call(OnCalcFields, *this);
    } catch (...) {
        RestoreState(old);
        calcBuffer_ = oldCalc;
        throw;
    }
    RestoreState(old);
    calcBuffer_ = oldCalc;
}

bool TDataSet::GetCalcFieldData(const TField* field, const char* calcArea, void* buffer) const {
    const char* p = calcArea + field->Offset();
    if (!p[0]) return false;
    if (buffer) std::memcpy(buffer, p + 1, static_cast<std::size_t>(field->DataSize()));
    return true;
}

void TDataSet::SetCalcFieldData(const TField* field, char* calcArea, const void* buffer) const {
    char* p = calcArea + field->Offset();
    p[0] = buffer ? 1 : 0;
    if (buffer) std::memcpy(p + 1, buffer, static_cast<std::size_t>(field->DataSize()));
}

// ---------------------------------------------------------------------------------------
// Record buffers and fetches
// ---------------------------------------------------------------------------------------

void TDataSet::ClearBuffers() {
    recordCount_ = 0;
    bof_ = true;
    eof_ = true;
    cursorSynced_ = false;
}

void TDataSet::UpdateCursorPos() {
    if (!cursorSynced_ && recordCount_ > 0) {
        InternalSetToRecord(active_);
        cursorSynced_ = true;
    }
}

void TDataSet::AcceptFetched() {
    std::swap(active_, temp_);
    if (recordCount_ == 0) {
        recordCount_ = 1;
        bof_ = false;
        eof_ = false;
    }
    cursorSynced_ = true;
    GetCalcFields(active_);
}

bool TDataSet::FetchInto(TGetMode mode, bool doCheck) {
    if (GetRecord(temp_, mode, doCheck) == grOK) {
        AcceptFetched();
        return true;
    }
    cursorSynced_ = false;
    return false;
}

bool TDataSet::GetNextRecord() {
    if (recordCount_ > 0) UpdateCursorPos();
    return FetchInto(gmNext, true);
}

bool TDataSet::GetPriorRecord() {
    if (recordCount_ > 0) UpdateCursorPos();
    return FetchInto(gmPrior, true);
}

// ---------------------------------------------------------------------------------------
// Navigation
// ---------------------------------------------------------------------------------------

void TDataSet::First() {
    CheckBrowseMode();
    Call(BeforeScroll, *this);
    ClearBuffers();
    try {
        InternalFirst();
        GetNextRecord();
    } catch (...) {
        bof_ = true;
        DataEvent(deDataSetChange, 0);
        throw;
    }
    bof_ = true;
    DataEvent(deDataSetChange, 0);
    Call(AfterScroll, *this);
}

void TDataSet::Last() {
    CheckBrowseMode();
    Call(BeforeScroll, *this);
    ClearBuffers();
    try {
        InternalLast();
        GetPriorRecord();
    } catch (...) {
        eof_ = true;
        DataEvent(deDataSetChange, 0);
        throw;
    }
    eof_ = true;
    DataEvent(deDataSetChange, 0);
    Call(AfterScroll, *this);
}

int TDataSet::MoveBy(int distance) {
    CheckBrowseMode();
    int moved = 0;
    Call(BeforeScroll, *this);
    if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
        bof_ = false;
        eof_ = false;
        int oldCount = recordCount_;
        try {
            while (distance > 0) {
                if (!GetNextRecord()) {
                    eof_ = true;
                    break;
                }
                --distance;
                ++moved;
            }
            while (distance < 0) {
                if (!GetPriorRecord()) {
                    bof_ = true;
                    break;
                }
                ++distance;
                --moved;
            }
        } catch (...) {
            DataEvent(recordCount_ != oldCount ? deDataSetChange : deDataSetScroll, moved);
            throw;
        }
        DataEvent(recordCount_ != oldCount ? deDataSetChange : deDataSetScroll, moved);
        Call(AfterScroll, *this);
    }
    return moved;
}

void TDataSet::SetRecNo(int) {}

void TDataSet::Resync(unsigned mode) {
    CheckActive();
    if (mode & rmExact) {
        cursorSynced_ = false;
        if (GetRecord(temp_, gmCurrent, true) != grOK) throw Exception(kRecordNotFound);
    } else if (GetRecord(temp_, gmCurrent, false) != grOK && GetRecord(temp_, gmNext, false) != grOK &&
               GetRecord(temp_, gmPrior, false) != grOK) {
        ClearBuffers();
        DataEvent(deDataSetChange, 0);
        return;
    }
    recordCount_ = 0;
    AcceptFetched();
    DataEvent(deDataSetChange, 0);
}

void TDataSet::Refresh() {
    CheckBrowseMode();
    UpdateCursorPos();
    InternalRefresh();
    Resync(0);
}

// ---------------------------------------------------------------------------------------
// Bookmarks
// ---------------------------------------------------------------------------------------

TBookmark TDataSet::Bookmark() {
    if (!Active() || IsEmpty() || bookmarkSize_ <= 0) return TBookmark();
    if (state_ != dsBrowse && state_ != dsEdit && state_ != dsInsert) return TBookmark();
    if (GetBookmarkFlag(active_) != bfCurrent) return TBookmark();
    TBookmark b(static_cast<std::size_t>(bookmarkSize_), '\0');
    GetBookmarkData(active_, b.data());
    return b;
}

void TDataSet::GotoBookmark(const TBookmark& b) {
    if (b.empty()) return;
    CheckBrowseMode();
    Call(BeforeScroll, *this);
    InternalGotoBookmark(b.data());
    Resync(rmExact | rmCenter);
    Call(AfterScroll, *this);
}

bool TDataSet::BookmarkValid(const TBookmark&) { return false; }

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
    if (a.empty() && b.empty()) return 0;
    if (a.empty()) return -1;
    if (b.empty()) return 1;
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

// ---------------------------------------------------------------------------------------
// Editing
// ---------------------------------------------------------------------------------------

void TDataSet::CheckBrowseMode() {
    CheckActive();
    DataEvent(deCheckBrowseMode, 0);
    if (state_ == dsEdit || state_ == dsInsert) {
        UpdateRecord();
        if (modified_)
            Post();
        else
            Cancel();
    }
}

void TDataSet::UpdateRecord() {
    if (state_ != dsEdit && state_ != dsInsert && state_ != dsSetKey) throw Exception(kNotEditing);
    DataEvent(deUpdateRecord, 0);
}

void TDataSet::BeginInsertAppend() {
    CheckBrowseMode();
    CheckCanModify();
    Call(BeforeInsert, *this);
    Call(BeforeScroll, *this);
}

void TDataSet::EndInsertAppend() {
    SetState(dsInsert);
    try {
        Call(OnNewRecord, *this);
    } catch (...) {
        // Leave insert state as if the record had been cancelled.
        state_ = dsBrowse;
        if (savedValid_) {
            std::swap(active_, saved_);
            savedValid_ = false;
            recordCount_ = 1;
        } else {
            recordCount_ = 0;
        }
        cursorSynced_ = false;
        UpdateCursorPos();
        Resync(0);
        DataEvent(deUpdateState, 0);
        throw;
    }
    modified_ = false;
    DataEvent(deDataSetChange, 0);
    Call(AfterInsert, *this);
    Call(AfterScroll, *this);
}

void TDataSet::Append() {
    BeginInsertAppend();
    // The record shown before is kept aside so that Cancel can return to it.
    savedValid_ = recordCount_ > 0;
    if (savedValid_) std::swap(active_, saved_);
    InternalInitRecord(active_);
    ClearCalcFields(active_);
    SetBookmarkFlag(active_, bfEOF);
    recordCount_ = 1;
    bof_ = false;
    eof_ = true;
    cursorSynced_ = false;
    EndInsertAppend();
}

void TDataSet::Insert() {
    BeginInsertAppend();
    savedValid_ = recordCount_ > 0;
    if (savedValid_) std::swap(active_, saved_);
    InternalInitRecord(active_);
    ClearCalcFields(active_);
    if (savedValid_) {
        std::string bm(static_cast<std::size_t>(bookmarkSize_ > 0 ? bookmarkSize_ : 0), '\0');
        if (!bm.empty()) {
            GetBookmarkData(saved_, bm.data());
            SetBookmarkData(active_, bm.data());
        }
        SetBookmarkFlag(active_, bfInserted);
    } else {
        SetBookmarkFlag(active_, bfBOF);
    }
    recordCount_ = 1;
    bof_ = false;
    eof_ = false;
    cursorSynced_ = false;
    EndInsertAppend();
}

void TDataSet::Edit() {
    if (state_ == dsEdit || state_ == dsInsert) return;
    CheckActive();
    if (recordCount_ == 0) {
        Append();
        return;
    }
    CheckBrowseMode();
    CheckCanModify();
    Call(BeforeEdit, *this);
    UpdateCursorPos();
    InternalEdit();
    GetCalcFields(active_);
    SetState(dsEdit);
    DataEvent(deRecordChange, 0);
    Call(AfterEdit, *this);
}

void TDataSet::CheckRequiredFields() {
    for (int i = 0; i < fields_.Count(); ++i) {
        TField& f = fields_[i];
        if (f.Required() && !f.ReadOnly() && f.FieldKind() == fkData && f.IsNull())
            throw Exception("Field '" + f.DisplayName() + "' must have a value");
    }
}

void TDataSet::Post() {
    CheckActive();
    if (state_ != dsEdit && state_ != dsInsert) return;
    UpdateRecord();
    DataEvent(deCheckBrowseMode, 0);
    Call(BeforePost, *this);
    CheckRequiredFields();
    InternalPost();  // an exception leaves the state as it was, so the caller can Cancel
    savedValid_ = false;
    SetState(dsBrowse);
    Resync(0);
    Call(AfterPost, *this);
}

void TDataSet::Cancel() {
    if (state_ != dsEdit && state_ != dsInsert) return;
    DataEvent(deCheckBrowseMode, 0);
    Call(BeforeCancel, *this);
    bool wasInsert = state_ == dsInsert;
    if (!wasInsert) {
        UpdateCursorPos();
        InternalCancel();
    }
    SetState(dsBrowse);
    if (wasInsert) {
        if (savedValid_) {
            std::swap(active_, saved_);
            savedValid_ = false;
            recordCount_ = 1;
            cursorSynced_ = false;
            UpdateCursorPos();
        } else {
            recordCount_ = 0;
            cursorSynced_ = false;
        }
    }
    Resync(0);
    Call(AfterCancel, *this);
}

void TDataSet::Delete() {
    CheckActive();
    if (state_ == dsInsert || state_ == dsSetKey) {
        Cancel();
        return;
    }
    if (recordCount_ == 0) throw Exception(kEmpty);
    CheckCanModify();
    DataEvent(deCheckBrowseMode, 0);
    Call(BeforeDelete, *this);
    Call(BeforeScroll, *this);
    UpdateCursorPos();
    InternalDelete();
    SetState(dsBrowse);
    Resync(0);
    Call(AfterDelete, *this);
    Call(AfterScroll, *this);
}

// ---------------------------------------------------------------------------------------
// Notifications, text translation, engine-defined services
// ---------------------------------------------------------------------------------------

void TDataSet::DataEvent(TDataEvent event, std::intptr_t info) {
    if (event == deFieldChange) {
        auto* f = reinterpret_cast<TField*>(info);
        if (f && f->FieldKind() == fkData) modified_ = true;
        if (hasCalcFields_ && (state_ == dsEdit || state_ == dsInsert)) GetCalcFields(active_);
    }
    if (OnDataEvent) OnDataEvent(*this, event, info);
    // A handler may attach or detach sources: the list is walked by position.
    for (std::size_t i = 0; i < dataSources_.size(); ++i) dataSources_[i]->DataEvent(event, info);
}

// ---------------------------------------------------------------------------------------
// Data sources and data links
// ---------------------------------------------------------------------------------------

TDataSource::~TDataSource() {
    SetDataSet(nullptr);
    while (!links_.empty()) links_.back()->SetDataSource(nullptr);
}

void TDataSource::SetDataSet(TDataSet* ds) {
    if (ds == dataSet_) return;
    const bool was = active_;
    if (dataSet_) {
        auto& v = dataSet_->dataSources_;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
    dataSet_ = ds;
    if (ds) ds->dataSources_.push_back(this);
    NotifyActive(was);
}

void TDataSource::NotifyActive(bool was) {
    active_ = State() != dsInactive;
    // every change of dataset counts: the links' fields belong to the dataset they followed
    if (was || active_)
        for (std::size_t i = 0; i < links_.size(); ++i) links_[i]->ActiveChanged();
}

void TDataSource::DataEvent(TDataEvent event, std::intptr_t info) {
    if (event == deUpdateState) {
        if ((State() != dsInactive) != active_) NotifyActive(active_);
        return;
    }
    if (event != deDataSetChange && event != deDataSetScroll) return;
    for (std::size_t i = 0; i < links_.size(); ++i) {
        if (event == deDataSetChange) links_[i]->DataSetChanged();
        else links_[i]->DataSetScrolled(static_cast<int>(info));
    }
}

TDataLink::~TDataLink() { SetDataSource(nullptr); }

void TDataLink::SetDataSource(TDataSource* source) {
    if (source == dataSource_) return;
    const bool was = Active();
    if (dataSource_) {
        auto& v = dataSource_->links_;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
    dataSource_ = source;
    if (source) source->links_.push_back(this);
    if (was || Active()) ActiveChanged();
}

int TDataSet::TranslateText(const char* src, char* dst, bool) {
    if (!src) return 0;
    std::size_t n = std::strlen(src);
    if (dst && dst != src) std::memmove(dst, src, n + 1);
    return static_cast<int>(n);
}

bool TDataSet::Locate(std::string_view, const TVariant&, unsigned) { return false; }

TVariant TDataSet::Lookup(std::string_view, const TVariant&, std::string_view) { return TVariant::Null(); }

bool TDataSet::FindRecord(bool, bool) { return false; }

TVariant TDataSet::GetFieldValues(std::string_view fieldNames) const {
    std::vector<TVariant> values;
    ForEachFieldName(fieldNames, [&](std::string_view name) { values.push_back(FieldByName(name).AsVariant()); });
    if (values.size() == 1) return values[0];
    return TVariant(std::move(values));
}

// No dataset keeps numbers as text unless it says so.
bool TDataSet::GetFieldText(const TField*, std::string&) { return false; }
bool TDataSet::TakesFieldText(const TField*, std::string_view) { return false; }
void TDataSet::SetFieldText(TField*, std::string_view) {}

}  // namespace zarbel
