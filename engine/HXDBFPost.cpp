// THXSmartDBF: appending and posting records.
//
// An append takes the header lock (which re-reads the header), takes the autoincrement values
// from the descriptors in the file, counts the records from the file size, locks the new
// record, writes it at the end (over a trailing 0x1A), writes the header with the new count,
// lets the indexes add their keys and places the cursor on the new record. An edit is written
// in place under its record lock. Cancel writes nothing: no lock is held between Append/Edit
// and Post.
//
// Every transfer is a positioned read or write. The header lies in the table file's mapped
// first page, so its re-read under the lock and its write after the record are copies; an
// append makes the file-size seek and the record write, plus the lock calls of the protocol:
// header lock, record lock, and one call that releases both (record first, as the order of
// release requires, since nothing can come between).
// The cursor placement after an append keeps the read buffer in step with what was written
// instead of reading a block again: the new record goes into the slot after the buffered
// block when it follows it, the block moves down by half once it is full, and any other
// buffer is replaced by the new record alone. What navigation shows afterwards is the same
// as after reading the block around the new record: its neighbours before it come from the
// buffer or from the backward refill, and nothing follows it.
#include <cstring>

#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"

namespace zarbel {

namespace {

const char* const kHeaderLockMsg = "THXSmartDBF.InternalAddRecord: Can not lock DBF header.";
const char* const kAppendRecordLockMsg = "THXSmartDBF.InternalAddRecord: Can not lock DBF record.";
const char* const kPostRecordLockMsg = "THXSmartDBF.InternalPost: Can not lock DBF record.";
const char* const kTableFullMsg = "THXSmartDBF.InternalAddRecord: The table cannot hold more records.";

// Releases a lock of the table's lock state when the scope ends, also on an exception.
class THeaderLockGuard {
public:
    explicit THeaderLockGuard(THXDBFLockState& locks) : Locks_(locks) {}
    ~THeaderLockGuard() {
        if (!Dismissed_) Locks_.HeaderUnlock();
    }
    // Another guard releases the header lock from now on.
    void Dismiss() { Dismissed_ = true; }
    THeaderLockGuard(const THeaderLockGuard&) = delete;
    THeaderLockGuard& operator=(const THeaderLockGuard&) = delete;

private:
    THXDBFLockState& Locks_;
    bool Dismissed_ = false;
};

// The record lock of n, released when the scope ends; for an append together with the header
// lock (the record's first).
class TRecordLockGuard {
public:
    TRecordLockGuard(THXDBFLockState& locks, std::uint32_t n, bool withHeader = false)
        : Locks_(locks), N_(n), WithHeader_(withHeader) {}
    ~TRecordLockGuard() {
        if (WithHeader_) Locks_.RecordAndHeaderUnlock(N_);
        else Locks_.RecordUnlock(N_);
    }
    TRecordLockGuard(const TRecordLockGuard&) = delete;
    TRecordLockGuard& operator=(const TRecordLockGuard&) = delete;

private:
    THXDBFLockState& Locks_;
    std::uint32_t N_;
    bool WithHeader_;
};

// Offsets of the autoincrement counter and step in the two descriptor forms.
constexpr int kShortNextAt = 19, kShortStepAt = 23, kLongNextAt = 42;

}  // namespace

// ---------------------------------------------------------------------------------------
// Writing records
// ---------------------------------------------------------------------------------------

void THXSmartDBF::WriteRecordImage(const char* buffer, std::uint32_t n) {
    // With the cipher active this is an enciphered copy in the scratch area (context: the
    // record number); the caller's buffer stays plain.
    const char* image = RecordForWrite(buffer, n);
    const std::int64_t pos = RecordPosition(Header_.HeaderLength(), static_cast<std::uint16_t>(RecLen_), n);
    if (TableFile_.PWrite(pos, image, RecLen_) != RecLen_) RaiseWriteError();
}

std::uint32_t THXSmartDBF::NextAutoIncValue(THXDBFFieldDef& def) {
    // The descriptor as the file holds it now (another program may have appended meanwhile);
    // only its counter changes. The definition's own image keeps its name and takes the new
    // counter.
    FIELD_REC& rec = def.FieldRec();
    const int size = rec.DescriptorSize();
    std::uint8_t desc[kLongDescriptorSize];
    if (def.OffsetHD() <= 0 || TableFile_.PRead(def.OffsetHD(), desc, size) != size) RaiseWriteError();
    std::uint32_t next;
    std::uint32_t step;
    if (rec.IsLong()) {
        next = GetLE32(desc + kLongNextAt);
        step = 1;
    } else {
        next = GetLE32(desc + kShortNextAt);
        step = desc[kShortStepAt];
    }
    PutLE32(desc + (rec.IsLong() ? kLongNextAt : kShortNextAt), next + step);
    if (TableFile_.PWrite(def.OffsetHD(), desc, size) != size) RaiseWriteError();
    rec.SetNativeNextAutoInc(next + step);
    return next;
}

void THXSmartDBF::TakeAutoIncValues(char* buffer) {
    auto* rec = reinterpret_cast<std::uint8_t*>(buffer);
    for (const TDBFFieldStore& s : Stores_) {
        if (!s.AutoInc || !s.Def) continue;
        const std::int32_t value = static_cast<std::int32_t>(NextAutoIncValue(*s.Def));
        FillingAutoInc_ = true;
        try {
            WriteFieldValue(s, rec, &value);
        } catch (...) {
            FillingAutoInc_ = false;
            throw;
        }
        FillingAutoInc_ = false;
    }
}

// ---------------------------------------------------------------------------------------
// Append
// ---------------------------------------------------------------------------------------

void THXSmartDBF::InternalAddRecord(char* buffer, bool /*append: always at the end*/) {
    CheckActive();
    if (!Locks_.HeaderLock()) throw Exception(kHeaderLockMsg);
    THeaderLockGuard headerGuard(Locks_);

    bool autoInc = false;
    for (const TDBFFieldStore& s : Stores_) autoInc = autoInc || s.AutoInc;
    if (autoInc) TakeAutoIncValues(buffer);

    // The record count comes from the file, never from the header: with the table's write
    // block the file as it will be once the block is written, otherwise the position of the
    // end (every transfer here is positioned, so moving the position costs nothing, and a
    // seek is a cheaper call than a status query).
    const std::int64_t size = TableFile_.WriteBehind() ? TableFile_.GetFileSize() : TableFile_.Seek(0, soEnd);
    if (size < 0) RaiseWriteError();
    std::uint32_t count = 0;
    if (!RecordCountFromFileSize(RecordAreaEnd(size), Header_.HeaderLength(), static_cast<std::uint16_t>(RecLen_),
                                 count) ||
        count >= static_cast<std::uint32_t>(kMaxRecordCount))
        throw Exception(kTableFullMsg);
    Header_.SetRecordCount(count);
    const std::uint32_t n = count + 1;

    if (!Locks_.RecordLock(n)) throw Exception(kAppendRecordLockMsg);
    headerGuard.Dismiss();  // from here both locks are released together, the record's first
    TRecordLockGuard lockGuard(Locks_, n, true);

    PutLE32(reinterpret_cast<std::uint8_t*>(buffer) + RecLen_, n);
    try {
        WriteRecordImage(buffer, n);
    } catch (...) {
        // A record written in part (a full disk, the file size limit) is cut off again, so the
        // file keeps whole records only; closing puts the end-of-file byte back.
        // (A failed write of the write block has cut the file back to where the block began.)
        const std::int64_t pos = RecordPosition(Header_.HeaderLength(), static_cast<std::uint16_t>(RecLen_), n);
        if (TableFile_.GetFileSize() > pos && TableFile_.Seek(pos, soBeginning) == pos) TableFile_.SetEndOfFile();
        throw;
    }

    Header_.SetRecordCount(n);
    if (TableFile_.PWrite(0, Header_.Bytes(), kHeaderSize) != kHeaderSize) RaiseWriteError();

    const std::uint32_t show =
        Index_ ? Index_->Appended(n, reinterpret_cast<const std::uint8_t*>(buffer), !FastPostRecord_) : n;
    if (!FastPostRecord_) ShowAfterAppend(show, buffer);
}

void THXSmartDBF::ShowAfterAppend(std::uint32_t show, const char* buffer) {
    if (show == 0) {  // the active order's seek found nothing: the first record
        ReadFirstBlock();
        return;
    }
    const std::uint32_t n = BufferRecNo(buffer);
    if (IndexActive() || show != n) {
        ReadBlockAround(static_cast<int>(show));
        PlaceCursorOn(show);
        return;
    }
    // Keep the read buffer in step with the file: no block is read again.
    const auto recLen = static_cast<std::size_t>(RecLen_);
    if (L_ > 0 && FilledBackwards_ && RecNos()[R_ - 1] == n - 1) {
        // loaded by Last: move the block to the front, in reading order
        std::memmove(Slot(0), Slot(R_ - L_), static_cast<std::size_t>(L_) * recLen);
        std::memmove(RecNos(), RecNos() + (R_ - L_), static_cast<std::size_t>(L_) * sizeof(std::uint32_t));
        FilledBackwards_ = false;
    }
    if (L_ > 0 && !FilledBackwards_ && RecNos()[L_ - 1] == n - 1 && RecNos()[0] + (L_ - 1) == n - 1) {
        if (L_ >= R_) {
            // Full: keep the records that a block read around the new record would start with.
            const int keep = R_ / 2;
            if (keep > 0) {
                std::memmove(Slot(0), Slot(L_ - keep), static_cast<std::size_t>(keep) * recLen);
                std::memmove(RecNos(), RecNos() + (L_ - keep), static_cast<std::size_t>(keep) * sizeof(std::uint32_t));
            }
            L_ = keep;
        }
    } else {
        L_ = 0;  // nothing that leads up to the new record: it stands alone
        FilledBackwards_ = false;
    }
    std::memcpy(Slot(L_), buffer, recLen);
    RecNos()[L_] = n;
    ++L_;
    P_ = L_ - 1;
    Bof_ = Eof_ = false;
    // A record that the filter or SetDeleted hides gives way to its nearest visible neighbour.
    if ((Filtered() || SetDeleted_) && !AcceptRecord(Slot(P_))) PlaceCursorOn(n);
}

// ---------------------------------------------------------------------------------------
// Post
// ---------------------------------------------------------------------------------------

void THXSmartDBF::InternalPost() {
    if (State() == dsInsert) {
        InternalAddRecord(ActiveBuffer(), true);
        return;
    }
    char* buf = ActiveRecordBuffer();
    if (!buf) return;
    CheckActive();
    const std::uint32_t r = BufferRecNo(buf);
    if (r == 0) {  // a record that never reached the file is appended
        InternalAddRecord(buf, true);
        return;
    }
    if (!Locks_.RecordLock(r)) throw Exception(kPostRecordLockMsg);
    TRecordLockGuard recordGuard(Locks_, r);
    try {
        WriteRecordImage(buf, r);
    } catch (...) {
        // A record written in part would mix two versions: the one the read block holds (the
        // record as it was read) goes back, so the file keeps whole records.
        if (const std::uint8_t* old = BufferedRecord(r)) {
            const std::int64_t pos = RecordPosition(Header_.HeaderLength(), static_cast<std::uint16_t>(RecLen_), r);
            TableFile_.PWrite(pos, RecordForWrite(reinterpret_cast<const char*>(old), r), RecLen_);
        }
        throw;
    }
    UpdateReadBufferSlot(r, reinterpret_cast<const std::uint8_t*>(buf));
    const std::uint32_t show =
        Index_ ? Index_->Updated(r, reinterpret_cast<const std::uint8_t*>(buf), !FastPostRecord_) : r;
    if (FastPostRecord_) return;
    if (show == 0) {
        ReadFirstBlock();
        return;
    }
    if (show != r) ReadBlockAround(static_cast<int>(show));
    PlaceCursorOn(show);
}

}  // namespace zarbel
