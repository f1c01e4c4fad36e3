// THXDBFNTX: the table class callers instantiate. It is THXSmartDBF with Clipper's lock
// conventions and the table's NTX index collection installed as its index collaborator; its
// expression parser holds the one compiled copy of Filter (the record filter collaborator).
#pragma once
#include <cstdint>
#include <string>

#include "engine/HXDBFDataSet.h"
#include "expr/HXDBFExprParser.h"
#include "index/HXNTXBag.h"
#include "index/HXNTXIndexes.h"

namespace zarbel {

class THXDBFNTX : public THXSmartDBF {
public:
    THXDBFNTX();
    ~THXDBFNTX() override;
    // The Name of the current index ("" when none); setting it activates the index of that
    // name (letters a-z compared upper-cased); an unknown name changes nothing.
    // While the table's stored settings are being loaded (between BeginLoading and Loaded) the
    // name is only kept; Loaded activates the index it names.
    std::string IndexName() const { return Loading_ ? LoadedIndexName_ : Indexes_.IndexName(); }
    void SetIndexName(const std::string& name) {
        if (Loading_) LoadedIndexName_ = name;
        else Indexes_.SetIndexName(name);
    }
    void BeginLoading() { Loading_ = true; }
    void Loaded() {
        Loading_ = false;
        if (!LoadedIndexName_.empty()) Indexes_.SetIndexName(LoadedIndexName_);
        LoadedIndexName_.clear();
    }
    bool Loading() const { return Loading_; }
    TIndexes& Indexes() { return Indexes_; }
    THXDBFIndexDefs& DBFIndexDefs() { return IndexDefs_; }

    // ---- What the table's indexes use of it ----
    const THXDBFLockState& LockState() const { return Locks_; }
    // The record count from the file's size (records a write-behind block holds included);
    // usable while the table opens.
    std::uint32_t FileRecordCount() { return RecordCountFromFile(); }
    // The acceptance test (filter, SetDeleted, the current index's range) of a record image.
    bool AcceptsRecord(const std::uint8_t* rec) { return AcceptRecord(rec); }
    // Makes a record image the record that field reads and expressions see (null: back to the
    // state's choice); returns the one it replaces, to be put back.
    char* SetExprRecord(const std::uint8_t* rec) {
        char* old = DirectRecordBuffer();
        SetDirectRecordBuffer(const_cast<char*>(reinterpret_cast<const char*>(rec)));
        return old;
    }
    void RestoreExprRecord(char* old) { SetDirectRecordBuffer(old); }
    // The blank image of one record (record length bytes).
    void BlankImage(std::uint8_t* rec) const { FillBlankRecord(rec, DbfVersion() == xVisualFoxPro); }

private:
    THXDBFIndexDefs IndexDefs_;
    TIndexes Indexes_{*this};
    THXDBFExprParser FilterParser_{this};
    bool Loading_ = false;
    std::string LoadedIndexName_;
};

// Makes a record image the one expressions see for the life of the scope, then puts the former
// one back (also when an evaluation throws).
class TExprRecordScope {
public:
    TExprRecordScope(THXDBFNTX& table, const std::uint8_t* rec) : Table_(table), Old_(table.SetExprRecord(rec)) {}
    ~TExprRecordScope() { Table_.RestoreExprRecord(Old_); }
    TExprRecordScope(const TExprRecordScope&) = delete;
    TExprRecordScope& operator=(const TExprRecordScope&) = delete;

private:
    THXDBFNTX& Table_;
    char* Old_;
};

}  // namespace zarbel
