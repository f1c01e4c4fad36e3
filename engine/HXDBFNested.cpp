// THXNestedDBF, and the parent's side of its nested tables.
#include "engine/HXDBFNested.h"

#include <algorithm>

#include "platform/exception.h"

namespace zarbel {

namespace {
const char* const kNestedCreateError = "THXSmartDBF: Nested stream create error!";
}  // namespace

THXNestedDBF::THXNestedDBF() {
    SetStorageType(pstInnerStream);
    OwnMemoFile_ = false;
}

THXNestedDBF::~THXNestedDBF() {
    DestroyingClose();
    Detach();
}

void THXNestedDBF::Detach() {
    if (!Parent_) return;
    std::erase(Parent_->NestedTables_, this);
    if (TField* f = DataSetField()) {
        if (auto* df = dynamic_cast<TDataSetField*>(f); df && df->NestedDataSet() == this) df->SetNestedDataSet(nullptr);
    }
    Parent_ = nullptr;
    FieldName_.clear();
}

TField* THXNestedDBF::DataSetField() const {
    if (!Parent_ || !Parent_->Active()) return nullptr;
    return Parent_->FindField(FieldName_);
}

void THXNestedDBF::SetDataSetField(TField* field) {
    CheckInactive();
    Detach();
    if (!field) return;
    auto* parent = dynamic_cast<THXSmartDBF*>(field->DataSet());
    const TDBFFieldStore* st = parent ? parent->FieldStore(field) : nullptr;
    if (!st || field->DataType() != ftDataSet || !parent->MemoForm(*st).Nested) throw Exception(kNestedCreateError);
    Parent_ = parent;
    FieldName_ = field->FieldName();
    Parent_->NestedTables_.push_back(this);
    if (auto* df = dynamic_cast<TDataSetField*>(field)) df->SetNestedDataSet(this);
}


void THXNestedDBF::InternalOpen() {
    TField* field = DataSetField();
    if (!field) throw Exception("THXNestedDBF.InternalOpen: The table holding the nested table is not open.");
    THXSmartDBF& p = *Parent_;
    // what the parent lends: dialect, block size, access, locks, text, cipher
    SetDbfVersion(p.DbfVersion());
    SetLobBlockSize(p.LobBlockSize());
    AccessMode().SetAccessMode(p.AccessMode().AccessMode());
    SetLockProtocol(p.LockProtocol());
    SetLobLockProtocol(p.LobLockProtocol());
    SetOEM(p.OEM());
    SetDeleted_ = p.SetDeleted();
    SetCipher(p.Cipher());
    SetStorageType(pstInnerStream);
    if (auto* df = dynamic_cast<TDataSetField*>(field)) df->SetNestedDataSet(this);  // the parent's fields may be new
    if (!p.LoadNestedStream(field, TableFile_.InnerStream())) {
        // nothing stored yet: an empty table of the field's nested field list
        const TDBFFieldStore* st = p.FieldStore(field);
        if (!st || !st->Def) throw Exception(kNestedCreateError);
        DBFFieldDefs().Assign(st->Def->DBFFieldDefs());
        SetDbfVersion(p.DbfVersion());
        CreateTable();
    }
    THXSmartDBF::InternalOpen();
}

void THXNestedDBF::WriteBack() {
    TField* field = DataSetField();
    if (!field) throw Exception("THXNestedDBF: The table holding the nested table is not open.");
    Parent_->SaveNestedStream(field, TableFile_.InnerStream());
}

void THXNestedDBF::InternalPost() {
    THXSmartDBF::InternalPost();
    WriteBack();
}

void THXNestedDBF::InternalDelete() {
    THXSmartDBF::InternalDelete();
    WriteBack();
}

void THXNestedDBF::Pack(bool TempBesideTable) {
    THXSmartDBF::Pack(TempBesideTable);
    WriteBack();
}

// ---------------------------------------------------------------------------------------
// The parent's side
// ---------------------------------------------------------------------------------------

void THXSmartDBF::NestedParentChanged(TNestedChange change) {
    for (std::size_t i = 0; i < NestedTables_.size(); ++i) {
        THXNestedDBF* n = NestedTables_[i];
        if (change == ncOpened) {
            // the ones that closed with this table open with it again
            if (!n->ReopenWithParent_ || n->Active()) continue;
            n->ReopenWithParent_ = false;
        } else {
            if (!n->Active()) continue;
            n->Close();
            if (change == ncClosing) {
                n->ReopenWithParent_ = true;
                continue;
            }
        }
        // A nested table that cannot be read on the new record stays closed; the parent's
        // move goes on.
        try {
            n->Open();
        } catch (const std::exception&) {
        }
    }
}

void THXSmartDBF::DetachNestedTables() {
    while (!NestedTables_.empty()) {
        THXNestedDBF* n = NestedTables_.back();
        try {
            n->Close();
        } catch (...) {
        }
        n->Detach();
    }
}

}  // namespace zarbel
