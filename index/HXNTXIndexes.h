// TIndexes: a table's collection of NTX indexes (THXNTXIndex items), and the table's index
// collaborator. The indexes open and close with the table; navigation goes through the
// current index, the one made active (Active, or the table's IndexName); with none current,
// the table walks in file order.
//
// Every open index is kept current as records are appended, posted and packed.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "engine/HXDBFCollaborators.h"
#include "index/HXNTXIndex.h"

namespace zarbel {

class THXDBFNTX;

class TIndexes final : public TDBFIndexOrder {
public:
    explicit TIndexes(THXDBFNTX& table);
    ~TIndexes() override;

    int Count() const { return static_cast<int>(Items_.size()); }
    THXNTXIndex& operator[](int i) { return *Items_[static_cast<std::size_t>(i)]; }
    // A new index at the end of the collection (opened with the table when it opens; on an open
    // table, once its NTXFileName is set, by Open on it).
    THXNTXIndex& Add();
    // Removes (and closes) the index.
    void Remove(THXNTXIndex& index);
    // The current index, or null.
    THXNTXIndex* Current() const { return Current_; }
    // Makes index the current one (null: none); an open table is then positioned as the
    // index's activation asks (see THXNTXIndex::SetActive).
    void SetCurrent(THXNTXIndex* index);
    // The Name of the current index, or "".
    std::string IndexName() const;
    // Activates the index whose Name equals name (letters a-z compared upper-cased); no
    // match: nothing changes.
    void SetIndexName(const std::string& name);
    // The kind code of this collection's items (HXDBFIndexDefs.h).
    int Kind() const;
    // The open index whose key expression begins with the most of fields (";"-separated; the
    // first on equal counts), when it covers them all; else raises "THXSmartDBF: There is no
    // suitable index!" (HXIndexChoice.cpp).
    THXNTXIndex& IndexForFields(const std::string& fields);

    // ---- TDBFIndexOrder ----
    void Open(THXSmartDBF& table) override;
    void Close() override;
    // Creates every bag of the table's DBFIndexDefs with its order (HXDBFIndexDefs.cpp).
    void CreateFiles(THXSmartDBF& table) override;

    bool HasCurrentOrder() const override { return Current_ && Current_->IsOpen(); }
    int ReadFirst(TDBFReadBlock& block) override { return Current_->ReadFirst(block); }
    int ReadLast(TDBFReadBlock& block) override { return Current_->ReadLast(block); }
    int ReadForward(TDBFReadBlock& block) override { return Current_->ReadForward(block); }
    int ReadBackward(TDBFReadBlock& block) override { return Current_->ReadBackward(block); }
    int ReadAround(TDBFReadBlock& block, std::uint32_t n) override { return Current_->ReadAround(block, n); }
    std::uint32_t Seek(const std::uint8_t* key, std::size_t length, bool soft) override;
    bool InRange(const std::uint8_t* rec) override;

    // Searches by a list of fields (HXIndexChoice.cpp): the first index that answers the exact
    // locate (THXNTXIndex::AnswersExactLocate), its seek, and the range of the index chosen
    // by IndexForFields.
    int ExactLocateIndex(const TField* const* fields, std::size_t count, bool upper) override;
    std::uint32_t SeekValues(int index, std::string_view fields, const TVariant& values,
                             const std::function<bool(std::uint32_t recNo)>& accept) override;
    void SetFieldRange(std::string_view fields, const TVariant& lo, const TVariant& hi) override;
    void CancelFieldRange(std::string_view fields) override;

    // Maintenance (HXNTXIndexesMaint.cpp): every open index, in collection order.
    void EditBegins(const std::uint8_t* rec) override;
    std::uint32_t Appended(std::uint32_t n, const std::uint8_t* rec, bool seekCurrent) override;
    std::uint32_t Updated(std::uint32_t n, const std::uint8_t* rec, bool seekCurrent) override;
    void PackBegin() override;
    void PackAdd(const std::uint8_t* rec, std::uint32_t newRecNo) override;
    void PackFailed() override { PackFailed_ = true; }
    void PackEnd() override;

private:
    THXDBFNTX& Table_;
    std::vector<std::unique_ptr<THXNTXIndex>> Items_;
    THXNTXIndex* Current_ = nullptr;
    bool PackFailed_ = false;
    bool PackSkipped_ = false;
    bool TableWritable() const;
};

}  // namespace zarbel
