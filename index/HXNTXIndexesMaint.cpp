// TIndexes: keeping every open index current as the table writes (append, post, pack).
//
// Each index takes a change under its own lock and update (lock, begin update, change, end
// update, unlock); an index of a table that nobody else writes stays in its update from open
// to close, so it only changes. After an append or post the current order, when it is Unique or
// has a FOR condition, tells the table which record to show: the one it holds for the new key.
#include "index/HXDBFNTX.h"
#include "index/HXNTXFormat.h"
#include "index/HXNTXIndexes.h"

namespace zarbel {

namespace {

constexpr const char* kAppendLockMsg = "THXSmartDBF.InternalAddRecord: Can not add key to index file (FLock is false).";
constexpr const char* kUpdateLockMsg = "TDBFDataSet.InternalPost: Can not Delete/add key to index file (FLock is false).";

}  // namespace

void TIndexes::EditBegins(const std::uint8_t* rec) {
    const std::uint32_t n = NTXGet32(rec + Table_.RecordLength());
    for (auto& ix : Items_)
        if (ix->IsOpen()) ix->SnapshotOf(rec, n);
}

std::uint32_t TIndexes::Appended(std::uint32_t n, const std::uint8_t* rec, bool seekCurrent) {
    std::uint32_t show = n;
    for (auto& ix : Items_) {
        if (!ix->IsOpen()) continue;
        ix->Appended(rec, n, kAppendLockMsg);
        if (ix.get() == Current_ && seekCurrent && (ix->Unique() || ix->HasFor())) show = ix->SeekLastKey();
    }
    return show;
}

std::uint32_t TIndexes::Updated(std::uint32_t n, const std::uint8_t* rec, bool seekCurrent) {
    std::uint32_t show = n;
    for (auto& ix : Items_) {
        if (!ix->IsOpen()) continue;
        if (!ix->Updated(rec, n, kUpdateLockMsg)) continue;
        if (ix.get() == Current_ && seekCurrent && (ix->Unique() || ix->HasFor())) show = ix->SeekLastKey();
    }
    return show;
}

bool TIndexes::TableWritable() const {
    return Table_.StorageType() != pstFile || (Table_.AccessMode().AccessMode() & 3) != 0;
}

void TIndexes::PackBegin() {
    PackFailed_ = false;
    // A table open for reading only keeps its file as it was: so do its indexes.
    PackSkipped_ = !TableWritable();
    if (PackSkipped_) return;
    std::size_t i = 0;
    try {
        for (; i < Items_.size(); ++i)
            if (Items_[i]->IsOpen()) Items_[i]->BeginRebuild();
    } catch (...) {
        // The pack does not start: the indexes already emptied no longer hold the table.
        for (std::size_t j = 0; j < i; ++j) {
            try {
                Items_[j]->EndRebuild(true);
            } catch (...) {
                // the first failure is the one to report
            }
        }
        throw;
    }
}

void TIndexes::PackAdd(const std::uint8_t* rec, std::uint32_t newRecNo) {
    if (PackSkipped_) return;
    for (auto& ix : Items_)
        if (ix->IsOpen()) ix->AddRecord(rec, newRecNo);
}

void TIndexes::PackEnd() {
    // Every index ends its rebuild, even when one fails; the first failure is raised afterwards.
    const bool failed = PackFailed_;
    PackFailed_ = false;
    if (PackSkipped_) return;
    std::exception_ptr first;
    for (auto& ix : Items_) {
        try {
            ix->EndRebuild(failed);
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    }
    if (first) std::rethrow_exception(first);
}

}  // namespace zarbel
