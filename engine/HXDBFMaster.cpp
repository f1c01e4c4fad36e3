// THXSmartDBF: ranges by field list, and the master-detail link.
//
// Ranges are the index layer's: the table hands the field list and the values to its index
// collaborator, which chooses the index for the list and sets or cancels that index's range.
//
// The master-detail link restricts this table to the records whose fields named in
// MasterFields hold the values of the master's fields of those names on the master's current
// record. It follows the master through a data link on the master's data source: every change
// and every scroll of the master sets the range anew.
#include <utility>
#include <vector>

#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"

namespace zarbel {

namespace {

const char* const kNoSuitableIndex = "THXSmartDBF: There is no suitable index!";

// Sets a flag while it lives, and puts its old value back: the link ignores what its own
// moves make the master do (a table that is its own master, or masters in a ring).
class TFlagScope {
public:
    explicit TFlagScope(bool& flag) : Flag_(flag), Old_(flag) { Flag_ = true; }
    ~TFlagScope() { Flag_ = Old_; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& Flag_;
    bool Old_;
};

}  // namespace

// A table without indexes has no index for any field list.
void TDBFIndexOrder::SetFieldRange(std::string_view, const TVariant&, const TVariant&) {
    throw Exception(kNoSuitableIndex);
}

void TDBFIndexOrder::CancelFieldRange(std::string_view) { throw Exception(kNoSuitableIndex); }

// ---------------------------------------------------------------------------------------
// Ranges by field list
// ---------------------------------------------------------------------------------------

void THXSmartDBF::SetRangeFields(const std::string& fields, const TVariant& values) {
    SetRangeFields(fields, values, values);
}

void THXSmartDBF::SetRangeFields(const std::string& fields, const TVariant& lo, const TVariant& hi) {
    if (!Index_) throw Exception(kNoSuitableIndex);
    Index_->SetFieldRange(fields, lo, hi);
}

void THXSmartDBF::CancelRangeFields(const std::string& fields) {
    if (!Index_) throw Exception(kNoSuitableIndex);
    Index_->CancelFieldRange(fields);
}

// ---------------------------------------------------------------------------------------
// Master-detail link
// ---------------------------------------------------------------------------------------

void THXSmartDBF::SetMasterFields(const std::string& fields) {
    MasterFields_ = fields;
    ApplyMasterFields();
}

void THXSmartDBF::SetDataSource(TDataSource* source) {
    // The link applies MasterFields once, below, not also as it hears the new master open.
    MasterLinkActive_ = false;
    MasterLink_.SetDataSource(source);
    ApplyMasterFields();
}

void THXSmartDBF::ApplyMasterFields() {
    // The range the link set goes first.
    if (!LinkRangeFields_.empty()) {
        const std::string fields = std::move(LinkRangeFields_);
        LinkRangeFields_.clear();
        if (Active()) CancelRangeFields(fields);
    }
    MasterFieldList_.clear();
    MasterLinkActive_ = !MasterFields_.empty();
    if (MasterLinkActive_ && MasterOpen() && Active()) ApplyMasterRange();
}

void THXSmartDBF::ApplyMasterRange() {
    TFlagScope following(FollowingMaster_);
    TDataSet& master = *MasterLink_.DataSet();
    // A master of this engine gives its character values with their trailing blanks: the key
    // of "AB" would also take in "ABC".
    auto* table = dynamic_cast<THXSmartDBF*>(&master);
    const bool trim = table && table->TrimCType();
    if (table) table->SetTrimCType(false);
    TVariant values = TVariant::Null();  // no master record: a range that holds nothing
    try {
        if (MasterFieldList_.empty())
            ForEachFieldName(MasterFields_,
                             [&](std::string_view name) { MasterFieldList_.push_back(&master.FieldByName(name)); });
        if (!master.IsEmpty()) {
            std::vector<TVariant> v;
            v.reserve(MasterFieldList_.size());
            for (TField* f : MasterFieldList_) v.push_back(f->AsVariant());
            values = TVariant(std::move(v));
        }
    } catch (...) {
        MasterFieldList_.clear();
        if (table) table->SetTrimCType(trim);
        throw;
    }
    if (table) table->SetTrimCType(trim);
    LinkRangeFields_ = MasterFields_;
    SetRangeFields(MasterFields_, values);
}

void THXSmartDBF::MasterActiveChanged() {
    // the master's field objects are made anew when it opens
    MasterFieldList_.clear();
    if (FollowingMaster_ || !MasterLinkActive_ || !MasterOpen() || !Active()) return;
    ApplyMasterRange();
}

void THXSmartDBF::MasterChanged() {
    if (FollowingMaster_ || !Active() || !MasterOpen()) return;
    TFlagScope following(FollowingMaster_);
    if (MasterLinkActive_) {
        ApplyMasterRange();
        return;
    }
    TDataSet& master = *MasterLink_.DataSet();
    if (master.Bof()) First();
    else if (master.Eof()) Last();
}

void THXSmartDBF::MasterScrolled(int distance) {
    if (FollowingMaster_ || !Active() || !MasterOpen()) return;
    TFlagScope following(FollowingMaster_);
    if (MasterLinkActive_) ApplyMasterRange();
    else MoveBy(distance);
}

}  // namespace zarbel
