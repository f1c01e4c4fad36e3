// THXSmartDBF: blob streams of memo fields: reading an entry into a stream, saving a stream
// into the memo file and the record's reference, rewriting in place, nested-table entries.
#include "engine/HXDBFBlob.h"

#include <cstring>
#include <vector>

#include "platform/exception.h"

namespace zarbel {

namespace {

const char* const kNestedCreateError = "THXSmartDBF: Nested stream create error!";
const char* const kNotEditing = "Dataset not in edit or insert mode";

// OEM <-> ANSI over a whole stream, in pieces the int-sized translation can take.
void TranslateStream(THXSmartDBF& t, TMemoryStream& s, bool toOem) {
    std::int64_t size = s.Size();
    char* p = reinterpret_cast<char*>(s.Memory());
    constexpr std::int64_t kPiece = 1 << 30;
    for (std::int64_t at = 0; at < size; at += kPiece) {
        int n = static_cast<int>(size - at < kPiece ? size - at : kPiece);
        t.TranslateBuffer(p + at, p + at, n, toOem);
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// THXDBTStream
// ---------------------------------------------------------------------------------------
THXDBTStream::~THXDBTStream() {
    if (!Modified_) return;
    try {
        Save();
    } catch (const std::exception& e) {
        if (Table_ && Table_->PendingBlobError_.empty()) Table_->PendingBlobError_ = e.what();
    }
}

std::int64_t THXDBTStream::Write(const void* buffer, std::int64_t count) {
    Modified_ = true;
    return TMemoryStream::Write(buffer, count);
}

bool THXDBTStream::SetSize(std::int64_t size) {
    Modified_ = true;
    return TMemoryStream::SetSize(size);
}

void THXDBTStream::Save() {
    if (!Modified_ || !Table_ || !Field_) return;
    Modified_ = false;
    TDataSetState st = Table_->State();
    if (st != dsEdit && st != dsInsert) throw Exception(kNotEditing);
    const TDBFFieldStore* s = Table_->FieldStore(Field_);
    char* buf = Table_->ActiveRecordBuffer();
    if (!s || !buf) return;
    if (Table_->StoreBlob(reinterpret_cast<std::uint8_t*>(buf), *s, Table_->EntryCopy(*this), THXMemoFile::smNormal))
        Table_->DataEvent(deFieldChange, reinterpret_cast<std::intptr_t>(Field_));
}

// ---------------------------------------------------------------------------------------
// THXSmartDBF
// ---------------------------------------------------------------------------------------
TMemoFieldForm THXSmartDBF::MemoForm(const TDBFFieldStore& st) const {
    bool binaryColumn = st.Def && st.Def->FieldFlag().BinaryColumn();
    return MemoFieldForm(MemoDialect_, st.Letter, st.Ext, binaryColumn);
}

void THXSmartDBF::LoadBlob(const std::uint8_t* rec, const TDBFFieldStore& st, TMemoryStream& out, bool translate) {
    out.Clear();
    TMemoFieldForm form = MemoForm(st);
    std::uint32_t number = 0;
    bool holds = DecodeMemoReference(rec + st.Offset, st.Size, form.Valid() ? form.Ref : mrfText, number);
    if (!holds) return;
    if (!form.Valid()) throw Exception("THXSmartDBF: Lob stream create error!");
    if (!MemoFile_.IsOpen()) return;
    Memo_.ReadEntry(form, number, out);
    if (translate && form.Text && OEM_) TranslateStream(*this, out, false);
    out.Seek(0, soBeginning);
}

bool THXSmartDBF::StoreBlob(std::uint8_t* rec, const TDBFFieldStore& st, TMemoryStream& data,
                            THXMemoFile::TSaveMode mode, bool translate) {
    THXMemoFile& target = Packing_ ? PackMemo_ : Memo_;
    TMemoFieldForm form = MemoForm(st);
    if (!form.Valid()) throw Exception("THXSmartDBF: Lob stream save error!");
    // A value that cannot be stored is never dropped in silence: the save raises, and the next
    // Post reports it (clearing a field needs no memo file).
    if (!target.IsOpen()) {
        if (data.Size() > 0) throw Exception("THXSmartDBF.SaveBlob: The memo file is not open.");
        return false;
    }
    std::uint8_t* field = rec + st.Offset;
    const bool vfp = MemoDialect_ == xVisualFoxPro;
    const int nullAt = DBFFieldDefs_.NullFlagsOffset();
    auto setNull = [&](bool isNull) {
        if (!vfp || !st.Nullable || nullAt <= 0 || nullAt + st.NullByte >= RecLen_) return;
        if (isNull) rec[nullAt + st.NullByte] |= st.NullMask;
        else rec[nullAt + st.NullByte] &= static_cast<std::uint8_t>(~st.NullMask);
    };
    std::int64_t size = data.Size();
    // dBase IV: the runs this edit replaces or writes are settled when the edit ends.
    const bool track = mode == THXMemoFile::smNormal && target.Layout() == mlDBase4 && !Packing_;
    auto touch = [&](std::uint32_t block) {
        int store = static_cast<int>(&st - Stores_.data());
        if (store >= 0 && store < static_cast<int>(Stores_.size()))
            PendingFrees_.push_back({GetLE32(rec + RecLen_), store, block});
    };
    if (size <= 0) {
        std::uint32_t cleared = 0;
        if (track && DecodeMemoReference(field, st.Size, form.Ref, cleared)) touch(cleared);
        // the empty form: spaces, or block 0 (and the null bit) in Visual FoxPro
        if (vfp) {
            std::memset(field, 0, static_cast<std::size_t>(st.Size < 4 ? st.Size : 4));
            setNull(true);
        } else {
            std::memset(field, ' ', static_cast<std::size_t>(st.Size));
        }
        return true;
    }
    // Only a value that goes into the memo file needs the memo lock: clearing a field changes
    // the record alone (the run it referenced is settled when the edit ends).
    if (!Locks_.MemoLock(target.Stream())) throw Exception("THXSmartDBF.SaveBlob: Can not lock memo file.");
    struct Unlock {
        THXDBFLockState& l;
        TProxyStream& p;
        ~Unlock() { l.MemoUnlock(p); }
    } unlock{Locks_, target.Stream()};
    std::uint32_t old = 0;
    bool hasOld = DecodeMemoReference(field, st.Size, form.Ref, old);
    if (translate && form.Text && OEM_) TranslateStream(*this, data, true);
    // A replaced dBase IV run is not freed now: until the record is posted, the file's record
    // still references it (FreeReplacedRuns settles it when the edit ends).
    std::uint32_t number =
        target.WriteEntry(form, data.Memory(), size, hasOld, old, track ? THXMemoFile::smPack : mode);
    if (track) {
        if (hasOld) touch(old);
        touch(number);
    }
    if (mode != THXMemoFile::smRewrite) EncodeMemoReference(field, st.Size, form.Ref, number);
    setNull(false);
    return true;
}

std::unique_ptr<TStream> THXSmartDBF::CreateBlobStream(TField* field, TBlobStreamMode mode) {
    auto s = std::make_unique<THXDBTStream>(this, field);
    const TDBFFieldStore* st = field ? FieldStore(field) : nullptr;
    if (mode == bmWrite) {
        if (State() != dsEdit && State() != dsInsert) throw Exception(kNotEditing);
        if (field && field->ReadOnly()) throw Exception("Field '" + field->DisplayName() + "' cannot be modified");
        if (st && !MemoForm(*st).Valid()) throw Exception("THXSmartDBF: Lob stream save error!");
    }
    char* buf = ActiveRecordBuffer();
    if (!st || !buf) return s;
    if (mode == bmWrite) {
        s->SetModified(true);
        return s;
    }
    LoadBlob(reinterpret_cast<const std::uint8_t*>(buf), *st, *s);
    s->Seek(0, soBeginning);
    s->SetModified(false);
    return s;
}

void THXSmartDBF::GetBlobText(TField* field, std::string& out) {
    // as CreateBlobStream(bmRead) and reading the stream whole
    out.clear();
    const TDBFFieldStore* st = field ? FieldStore(field) : nullptr;
    char* buf = ActiveRecordBuffer();
    if (!st || !buf) return;
    LoadBlob(reinterpret_cast<const std::uint8_t*>(buf), *st, BlobText_);
    if (BlobText_.Size() > 0)
        out.assign(reinterpret_cast<const char*>(BlobText_.Memory()), static_cast<std::size_t>(BlobText_.Size()));
    BlobText_.Clear();
}

void THXSmartDBF::SetBlobText(TField* field, std::string_view value) {
    // as CreateBlobStream(bmWrite): the same checks, raised to the caller
    const TDBFFieldStore* st = field ? FieldStore(field) : nullptr;
    if (State() != dsEdit && State() != dsInsert) throw Exception(kNotEditing);
    if (field && field->ReadOnly()) throw Exception("Field '" + field->DisplayName() + "' cannot be modified");
    if (st && !MemoForm(*st).Valid()) throw Exception("THXSmartDBF: Lob stream save error!");
    char* buf = ActiveRecordBuffer();
    if (!st || !buf) return;
    BlobText_.Clear();
    if (!value.empty() && BlobText_.Write(value.data(), static_cast<std::int64_t>(value.size())) !=
                              static_cast<std::int64_t>(value.size())) {
        BlobText_.Clear();
        throw Exception("Field '" + field->DisplayName() + "': blob write error");
    }
    // as the stream's save when it goes: a failure is kept for Post
    try {
        const bool stored =
            StoreBlob(reinterpret_cast<std::uint8_t*>(buf), *st, BlobText_, THXMemoFile::smNormal);
        BlobText_.Clear();
        if (stored) DataEvent(deFieldChange, reinterpret_cast<std::intptr_t>(field));
    } catch (const std::exception& e) {
        BlobText_.Clear();
        if (PendingBlobError_.empty()) PendingBlobError_ = e.what();
    }
}

bool THXSmartDBF::LoadNestedStream(TField* field, TMemoryStream& out) {
    out.Clear();
    const TDBFFieldStore* st = field ? FieldStore(field) : nullptr;
    if (!st) throw Exception(kNestedCreateError);
    TMemoFieldForm form = MemoForm(*st);
    if (!form.Nested) throw Exception(kNestedCreateError);
    const char* buf = ActiveRecordBuffer();
    if (!buf) return false;
    std::uint32_t number = 0;
    if (!DecodeMemoReference(reinterpret_cast<const std::uint8_t*>(buf) + st->Offset, st->Size, form.Ref, number))
        return false;
    if (!MemoFile_.IsOpen()) return false;
    Memo_.ReadEntry(form, number, out);
    return true;
}

void THXSmartDBF::RewriteBlob(TField* field, TMemoryStream& data) {
    const TDBFFieldStore* st = field ? FieldStore(field) : nullptr;
    char* buf = ActiveRecordBuffer();
    if (!st || !buf) return;
    StoreBlob(reinterpret_cast<std::uint8_t*>(buf), *st, EntryCopy(data), THXMemoFile::smRewrite);
}

void THXSmartDBF::SaveNestedStream(TField* field, TMemoryStream& data) {
    const TDBFFieldStore* st = field ? FieldStore(field) : nullptr;
    if (!st || !MemoForm(*st).Nested) throw Exception(kNestedCreateError);
    const TMemoFieldForm form = MemoForm(*st);
    char* buf = ActiveRecordBuffer();
    if (!buf) throw Exception("THXSmartDBF.SaveBlob: The table holding the nested table has no current record.");
    // A record being inserted: the reference goes into its buffer, and Post writes it.
    if (State() == dsInsert || BufferRecNo(buf) == 0) {
        if (StoreBlob(reinterpret_cast<std::uint8_t*>(buf), *st, EntryCopy(data), THXMemoFile::smNormal, false))
            DataEvent(deFieldChange, reinterpret_cast<std::intptr_t>(field));
        return;
    }
    const std::uint32_t n = BufferRecNo(buf);
    if (!MemoFile_.IsOpen()) throw Exception("THXSmartDBF.SaveBlob: The memo file is not open.");
    const bool heldBefore = Locks_.IsRecordLocked(n);
    if (!Locks_.RecordLock(n)) throw Exception("THXSmartDBF.InternalPost: Can not lock DBF record.");
    struct RecordUnlock {
        THXDBFLockState& l;
        std::uint32_t n;
        bool keep;
        ~RecordUnlock() {
            if (!keep) l.RecordUnlock(n);
        }
    } recordUnlock{Locks_, n, heldBefore};
    // the record as the file holds it, under its lock
    std::uint8_t* rec = FreeCheckBuf_.Bytes();
    const std::int64_t pos = RecordPosition(Header_.HeaderLength(), static_cast<std::uint16_t>(RecLen_), n);
    if (!TableFile_.ReadAt(pos, rec, RecLen_)) RaiseWriteError();
    if (CryptActive()) DecryptRecord(rec, n);
    std::uint32_t old = 0;
    const bool hasOld = DecodeMemoReference(rec + st->Offset, st->Size, form.Ref, old);
    if (!Locks_.MemoLock(MemoFile_)) throw Exception("THXSmartDBF.SaveBlob: Can not lock memo file.");
    struct MemoUnlock {
        THXDBFLockState& l;
        TProxyStream& p;
        ~MemoUnlock() { l.MemoUnlock(p); }
    } memoUnlock{Locks_, MemoFile_};
    TMemoryStream& entry = EntryCopy(data);
    const std::int64_t size = entry.Size();
    if (hasOld && size > 0 && Memo_.EntryRoom(form, old) >= size) {
        // the run the entry was given holds it: written over in place
        Memo_.WriteEntry(form, static_cast<std::uint8_t*>(entry.Memory()), size, true, old, THXMemoFile::smRewrite);
    } else {
        // A new entry (nothing freed yet), its reference written into the record on disk;
        // only then does the old run go back to the free chain.
        std::uint32_t number = 0;
        if (size > 0)
            number = Memo_.WriteEntry(form, static_cast<std::uint8_t*>(entry.Memory()), size, false, 0,
                                      THXMemoFile::smPack);
        if (number != 0)
            EncodeMemoReference(rec + st->Offset, st->Size, form.Ref, number);
        else
            std::memset(rec + st->Offset, ' ', static_cast<std::size_t>(st->Size));
        if (!TableFile_.WriteAt(pos, RecordForWrite(reinterpret_cast<const char*>(rec), n), RecLen_))
            RaiseWriteError();
        if (hasOld && Memo_.Layout() == mlDBase4) Memo_.FreeEntry(old);
    }
    // the cursor's copies of the record see the new reference
    UpdateReadBufferSlot(n, rec);
    std::memcpy(buf + st->Offset, rec + st->Offset, static_cast<std::size_t>(st->Size));
}

TMemoryStream& THXSmartDBF::EntryCopy(TMemoryStream& data) {
    if (!CryptActive()) return data;
    BlobCopy_.Clear();
    const std::int64_t size = data.Size();
    if (size > 0 && BlobCopy_.Write(data.Memory(), size) != size) {
        BlobCopy_.Clear();
        throw Exception("THXSmartDBF: Lob stream save error!");
    }
    return BlobCopy_;
}

void THXSmartDBF::FreeReplacedRuns() {
    // the list is taken over whole (PendingFrees_ is left empty, with the other's capacity)
    std::vector<TPendingFree>& pending = FreeingNow_;
    pending.clear();
    pending.swap(PendingFrees_);
    if (pending.empty() || !MemoFile_.IsOpen() || Memo_.Layout() != mlDBase4 || !TableFile_.IsOpen() ||
        FreeCheckBuf_.Size() < RecLen_)
        return;
    // A record inserted meanwhile has its number in the active buffer once it is posted; a
    // cancelled insert still shows 0 there.
    const char* active = ActiveBuffer();
    const std::uint32_t inserted = active ? BufferRecNo(active) : 0;
    // The runs that the record just appended references are what Post wrote from the active
    // buffer: they stay, and need neither the memo lock nor a read of the record.
    if (inserted != 0) {
        std::erase_if(pending, [&](const TPendingFree& p) {
            if (p.RecNo != 0) return false;
            const TDBFFieldStore& st = Stores_[static_cast<std::size_t>(p.Store)];
            std::uint32_t now = 0;
            return DecodeMemoReference(reinterpret_cast<const std::uint8_t*>(active) + st.Offset, st.Size,
                                       MemoForm(st).Ref, now) &&
                   now == p.Block;
        });
        if (pending.empty()) return;
    }
    TMemBlock& rec = FreeCheckBuf_;
    if (!Locks_.MemoLock(MemoFile_)) return;  // left as dead space
    try {
        for (const TPendingFree& p : pending) {
            const TDBFFieldStore& st = Stores_[static_cast<std::size_t>(p.Store)];
            const std::uint32_t recNo = p.RecNo != 0 ? p.RecNo : inserted;
            if (recNo != 0) {
                // the run the record in the file references stays
                std::int64_t pos = RecordPosition(Header_.HeaderLength(), static_cast<std::uint16_t>(RecLen_), recNo);
                if (TableFile_.PRead(pos, rec.Data(), RecLen_) != RecLen_) continue;
                if (CryptActive()) DecryptRecord(rec.Bytes(), recNo);
                std::uint32_t now = 0;
                if (DecodeMemoReference(rec.Bytes() + st.Offset, st.Size, MemoForm(st).Ref, now) && now == p.Block)
                    continue;
            }
            Memo_.FreeEntry(p.Block);
        }
    } catch (...) {
        Locks_.MemoUnlock(MemoFile_);
        throw;
    }
    Locks_.MemoUnlock(MemoFile_);
}

void THXSmartDBF::DataEvent(TDataEvent event, std::intptr_t info) {
    if (event == deUpdateState && (State() == dsBrowse || State() == dsInactive)) {
        PendingBlobError_.clear();
        // freeing is housekeeping: a run that cannot be freed stays as dead space
        if (!PendingFrees_.empty()) {
            try {
                FreeReplacedRuns();
            } catch (const std::exception&) {
            }
        }
    }
    if (!NestedTables_.empty()) {
        // nested tables show the record the cursor stands on; they close with the table
        if (event == deDataSetChange || event == deDataSetScroll) NestedParentChanged(ncMoved);
        else if (event == deUpdateState && State() == dsInactive) NestedParentChanged(ncClosing);
        else if (event == deUpdateState && State() == dsBrowse) NestedParentChanged(ncOpened);
    }
    if (event == deUpdateRecord && !PendingBlobError_.empty()) {
        std::string message;
        message.swap(PendingBlobError_);
        throw Exception(message);
    }
    TDataSet::DataEvent(event, info);
}

}  // namespace zarbel
