// THXNestedDBF: a whole table stored in one memo entry of its parent table, the value of an
// E field of kind dbftDBFDataSet or dbftDBFDataSet_NB. The nested table lives in an in-memory
// stream; it has no memo file of its own, and its memo fields read as empty.
//
//   THXNestedDBF kids;
//   kids.SetDataSetField(&parent.FieldByName("KIDS"));
//   kids.Open();              // the entry of the parent's current record, or an empty table
//   kids.Append(); ...; kids.Post();  // the whole table goes back into the parent's entry
//
// Opening takes the parent's dialect, LobBlockSize, access mode, lock protocols, OEM,
// SetDeleted and cipher (the nested records are enciphered with it under their record numbers,
// and the entry under its position, as every memo entry). A parent field that holds nothing
// gives an empty table of the field's nested field list. Every post and every deletion write
// the whole table back (see THXSmartDBF::SaveNestedStream: other memo entries are never
// overwritten). When the parent moves, the nested table is opened again on the new record; when
// the parent closes, it closes, and opens again when the parent opens.
#pragma once
#include <string>

#include "engine/HXDBFDataSet.h"

namespace zarbel {

class THXNestedDBF : public THXSmartDBF {
public:
    THXNestedDBF();
    ~THXNestedDBF() override;

    // The parent's field that holds this table (null while the parent is closed or none is
    // set). Set while closed; a field that is not a nested-table field of a THXSmartDBF raises
    // "THXSmartDBF: Nested stream create error!"; null detaches.
    TField* DataSetField() const;
    void SetDataSetField(TField* field);
    THXSmartDBF* ParentTable() const { return Parent_; }

    // Packs the nested table and writes it back.
    void Pack(bool TempBesideTable = false) override;

protected:
    void InternalOpen() override;
    void InternalPost() override;
    void InternalDelete() override;

private:
    friend class THXSmartDBF;
    void WriteBack();
    void Detach();

    THXSmartDBF* Parent_ = nullptr;
    std::string FieldName_;
    bool ReopenWithParent_ = false;  // closed because the parent closed
};

}  // namespace zarbel
