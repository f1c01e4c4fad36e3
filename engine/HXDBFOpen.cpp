// THXSmartDBF: properties, open and close, the read buffer of R records, navigation, record
// count, bookmarks, ReadRecordDirect, MarkDeleted and SetDeleted.
#include <cstring>

#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"

namespace zarbel {

namespace {
constexpr int kRecNoAt = 0;      // offsets after the record image
constexpr int kStatusAt = 4;
constexpr int kFlagAt = 5;
constexpr int kBufferTail = 6;   // record number, status, bookmark flag
}  // namespace

THXSmartDBF::THXSmartDBF() : DBFFieldDefs_(nullptr, xBaseIII) {
    AccessMode_.SetAccessMode(0);
}

THXSmartDBF::~THXSmartDBF() {
    // the master hears nothing more of a table that goes
    MasterLink_.SetDataSource(nullptr);
    DetachNestedTables();
    DestroyingClose();
    FreeTableBuffers();
    CloseMemoFile();
    TableFile_.Close();
    // The crypt goes inactive while the whole table still exists (its deactivation handler may
    // look at the table); what the handler raises cannot leave a destructor.
    try {
        Crypt_.SetActive(false);
    } catch (...) {
    }
}

void THXSmartDBF::SetDbfVersion(xBaseVersion v) {
    DbfVersion_ = v;
    DBFFieldDefs_.SetDialect(v);
}

void THXSmartDBF::SetFiltered(bool v) {
    if (!Active()) {
        TDataSet::SetFiltered(v);
        return;
    }
    CheckBrowseMode();
    if (v) CompileFilter();
    if (v == Filtered()) return;
    TDataSet::SetFiltered(v);
    Refresh();
}

void THXSmartDBF::SetLobBlockSize(int v) { LobBlockSize_ = v < 0 ? 0 : (v / 128) * 128; }

void THXSmartDBF::SetSetDeleted(bool v) {
    if (!Active()) {
        SetDeleted_ = v;
        return;
    }
    CheckBrowseMode();
    SetDeleted_ = v;
    Refresh();
}

// ---------------------------------------------------------------------------------------
// Open and close
// ---------------------------------------------------------------------------------------

void THXSmartDBF::SetUpTableFile(const std::string& name) {
    TableFile_.Close();
    TableFile_.SetFileName(name);
    TableFile_.AccessMode().SetAccessMode(AccessMode_.AccessMode());
    TableFile_.SetProxyStreamType(StorageType_);
    TableFile_.SetOuterStream(OuterStream_);
    TableFile_.OnLockEvent = OnOuterStreamLock;
    TableFile_.OnUnlockEvent = OnOuterStreamUnlock;
}

void THXSmartDBF::InternalOpen() {
    const std::string& name = DBFFileName_;
    // lock state and memo file
    Locks_.Reset();
    CloseMemoFile();
    // table file
    SetUpTableFile(name);
    TableFile_.OpenProxyStream();
    if (!TableFile_.IsOpen())
        throw Exception("THXSmartDBF.InternalOpen: Open error \"" + name + "\"" + TableFile_.OpenFailureNote());
    Locks_.Bind(&TableFile_, &TableFile_.AccessMode(), &Header_);
    try {
        // header
        std::uint8_t head[kHeaderSize];
        if (!TableFile_.ReadAt(0, head, kHeaderSize)) throw Exception(NotDbfFileMessage(name));
        Header_.Load(head);
        FoxTableFlag_.SetTableFlag(Header_.TableFlags());
        // dialect
        TVersionInfo vi = LookupVersionByte(Header_.Version(), Header_.TableFlags());
        if (vi.Dialect == xUnknown) throw Exception(NotDbfFileMessage(name));
        SetDbfVersion(vi.Dialect);
        MemoDialect_ = vi.MemoDialect;
        // the dBase VII extension is skipped by starting the descriptors after it.
        // Consistency of the lengths: nothing below may read outside the file's records.
        std::int64_t fileSize = TableFile_.GetFileSize();
        int hl = Header_.HeaderLength();
        if (hl < DescriptorStart(vi.Dialect) + 1 || hl > fileSize)
            throw Exception("THXSmartDBF.InternalOpen: File \"" + name + "\" has a bad header length (" +
                            std::to_string(hl) + ", file size " + std::to_string(fileSize) + ")");
        // record length, read buffer
        RecLen_ = Header_.RecordLength();
        if (RecLen_ < 1)
            throw Exception("THXSmartDBF.InternalOpen: File \"" + name + "\" has a bad record length (0)");
        R_ = BufferSize_ > 0 ? BufferSize_ / RecLen_ : 0;
        if (R_ == 0) throw Exception("THXSmartDBF.InternalOpen: BufferSize too small!");
        // Nobody else can write the table: appends and the header go out a block at a time,
        // the memo file's gathered entries always before the records that reference them.
        if (StorageType_ == pstFile && TableFile_.AccessMode().KeepsWritersOut() &&
            (TableFile_.AccessMode().CachedAccessMode() & 3) == TAccessMode::kOpenReadWrite) {
            TableFile_.SetWriteBehind(BufferSize_, kHeaderSize);
            TableFile_.OnBeforeFlush = [this] { return MemoFile_.Flush(); };
        }
        ReadBuf_ = TMemBlock::Allocate(this, BufferSize_ + 10, "THXSmartDBF");
        RecNos_ = TMemBlock::Allocate(this, static_cast<std::int64_t>(R_) * 4, "THXSmartDBF");
        ScanBuf_ = TMemBlock::Allocate(this, BufferSize_, "THXSmartDBF");
        SlotSave_ = TMemBlock::Allocate(this, RecLen_, "THXSmartDBF");
        std::memset(ReadBuf_.Data(), 0, static_cast<std::size_t>(BufferSize_ + 10));
        L_ = 0;
        FilledBackwards_ = false;
        P_ = -1;
        // memo file
        OpenMemoFile();
        // field definitions, field objects and their binding
        InternalInitFieldDefs();
        if (DefaultFields()) CreateFields();
        BindFields(true);
        for (int i = 0; i < Fields().Count(); ++i) {
            TField& f = Fields()[i];
            const TDBFFieldStore* s = FieldStore(&f);
            f.SetTag(s ? reinterpret_cast<std::intptr_t>(s->Def) : 0);
        }
        // An active crypt builds its context anew from its method and password as they are
        // now (they may have changed since it was activated).
        if (Crypt_.Active()) {
            Crypt_.SetActive(false);
            Crypt_.SetActive(true);
        }
        // indexes
        if (!Creating_ && Index_) Index_->Open(*this);
        // a detail opens on the range of its master's record
        if (!Creating_ && MasterLinkActive_ && MasterOpen()) ApplyMasterRange();
        // first block, the engine's record buffers
        ReadFirstBlock();
        std::int64_t rb = RecLen_ + kBufferTail + CalcFieldsSize();
        Scratch_ = TMemBlock::Allocate(this, rb, "THXSmartDBF");
        FilterBuf_ = TMemBlock::Allocate(this, rb, "THXSmartDBF");
        SetKeyBuf_ = TMemBlock::Allocate(this, rb, "THXSmartDBF");
        CryptBuf_ = TMemBlock::Allocate(this, rb, "THXSmartDBF");
        FreeCheckBuf_ = TMemBlock::Allocate(this, rb, "THXSmartDBF");
        BlankRecord_ = TMemBlock::Allocate(this, rb, "THXSmartDBF");
        BlankValid_ = false;
        FilterCompiled_ = false;  // the field objects are new
        if (Filtered()) CompileFilter();
        Bof_ = true;
        SetBookmarkSize(4);
        BlockReads_ = 0;
    } catch (...) {
        FreeTableBuffers();
        if (Index_) Index_->Close();
        CloseMemoFile();
        TableFile_.Close();
        throw;
    }
}

void THXSmartDBF::FreeTableBuffers() {
    ReadBuf_.Reset();
    RecNos_.Reset();
    ScanBuf_.Reset();
    SlotSave_.Reset();
    Scratch_.Reset();
    FilterBuf_.Reset();
    SetKeyBuf_.Reset();
    CryptBuf_.Reset();
    FreeCheckBuf_.Reset();
    BlankRecord_.Reset();
    BlankValid_ = false;
    R_ = 0;
    L_ = 0;
    FilledBackwards_ = false;
    P_ = -1;
    DirectBuffer_ = nullptr;
}

void THXSmartDBF::InternalClose() {
    // What the write blocks hold goes out first; a failure is raised once all is closed.
    const bool flushed = !TableFile_.IsOpen() || TableFile_.Flush();
    const std::string why = flushed ? std::string() : Env_->LastErrorText();
    FilterCompiled_ = false;  // the compiled copy names field objects that go now
    try {
        if (Index_) Index_->Close();
        FreeTableBuffers();
        BindFields(false);
        if (DefaultFields()) DestroyFields();
        CloseMemoFile();
    } catch (...) {
        TableFile_.Close();
        throw;
    }
    if (TableFile_.IsOpen()) {
        // A table open for writing gets its end-of-file byte back.
        if (TableFile_.AccessMode().OpenReadWrite()) {
            std::int64_t size = TableFile_.GetFileSize();
            std::uint8_t last = 0;
            if (size > 0 && TableFile_.ReadAt(size - 1, &last, 1) && last != kEndOfFileMarker) {
                std::uint8_t eof = kEndOfFileMarker;
                TableFile_.WriteAt(size, &eof, 1);
            } else if (size == 0) {
                std::uint8_t eof = kEndOfFileMarker;
                TableFile_.WriteAt(0, &eof, 1);
            }
        }
        TableFile_.Close();
    }
    if (!flushed) throw Exception("THXSmartDBF: " + why);
}

void THXSmartDBF::FlushAddBuffer() {
    if (TableFile_.IsOpen() && !TableFile_.Flush()) RaiseWriteError();
}

bool THXSmartDBF::IsCursorOpen() const { return TableFile_.IsOpen(); }

// ---------------------------------------------------------------------------------------
// Record count, record buffers, bookmarks
// ---------------------------------------------------------------------------------------

std::int64_t THXSmartDBF::RecordAreaEnd(std::int64_t size) {
    // A longer record never mistakes the lone byte for a whole record; a one-byte record
    // (a table without fields) would.
    if (RecLen_ == 1 && size > Header_.HeaderLength()) {
        std::uint8_t last = 0;
        if (TableFile_.PRead(size - 1, &last, 1) == 1 && last == kEndOfFileMarker) --size;
    }
    return size;
}

int THXSmartDBF::RecordsRead(const std::uint8_t* block, std::int64_t got, std::int64_t want) const {
    if (got <= 0) return 0;
    if (RecLen_ == 1) {
        if (got > want) return static_cast<int>(want);  // the byte after the block exists: no end byte
        if (block[got - 1] == kEndOfFileMarker) --got;
    }
    return static_cast<int>(got / RecLen_);
}

std::int64_t THXSmartDBF::BlockReadSize(std::int64_t records) const {
    return records * RecLen_ + (RecLen_ == 1 ? 1 : 0);
}

std::uint32_t THXSmartDBF::RecordCountFromFile() {
    std::uint32_t count = 0;
    RecordCountFromFileSize(RecordAreaEnd(TableFile_.GetFileSize()), Header_.HeaderLength(),
                            static_cast<std::uint16_t>(RecLen_), count);
    Header_.SetRecordCount(count);
    return count;
}

int THXSmartDBF::GetRecordCount() {
    CheckActive();
    return static_cast<int>(RecordCountFromFile());
}

char* THXSmartDBF::AllocRecordBuffer() {
    std::int64_t size = RecLen_ + kBufferTail + CalcFieldsSize();
    char* p = static_cast<char*>(HXDBFMemMgr().Allocate(this, size, "THXSmartDBF"));
    std::memset(p, 0, static_cast<std::size_t>(size));
    return p;
}

void THXSmartDBF::FreeRecordBuffer(char*& buffer) {
    HXDBFMemMgr().Free(buffer);
    buffer = nullptr;
}

TBookmarkFlag THXSmartDBF::GetBookmarkFlag(const char* buffer) {
    return static_cast<TBookmarkFlag>(buffer[RecLen_ + kFlagAt]);
}

void THXSmartDBF::SetBookmarkFlag(char* buffer, TBookmarkFlag flag) {
    buffer[RecLen_ + kFlagAt] = static_cast<char>(flag);
}

void THXSmartDBF::GetBookmarkData(const char* buffer, void* data) {
    std::memcpy(data, buffer + RecLen_ + kRecNoAt, 4);
}

void THXSmartDBF::SetBookmarkData(char* buffer, const void* data) {
    std::memcpy(buffer + RecLen_ + kRecNoAt, data, 4);
}

bool THXSmartDBF::BookmarkValid(const TBookmark& b) {
    if (b.size() != 4 || !Active()) return false;
    std::uint32_t n = GetLE32(reinterpret_cast<const std::uint8_t*>(b.data()));
    return n != 0 && n <= Header_.RecordCount();
}

int THXSmartDBF::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
    std::uint32_t x = a.size() == 4 ? GetLE32(reinterpret_cast<const std::uint8_t*>(a.data())) : 0;
    std::uint32_t y = b.size() == 4 ? GetLE32(reinterpret_cast<const std::uint8_t*>(b.data())) : 0;
    return x < y ? -1 : (x > y ? 1 : 0);
}

void THXSmartDBF::ClearCalcFields(char* buffer) {
    if (CalcFieldsSize() > 0) std::memset(buffer + RecLen_ + kBufferTail, 0, static_cast<std::size_t>(CalcFieldsSize()));
}

char* THXSmartDBF::StateRecordBuffer() {
    if (DirectBuffer_) return DirectBuffer_;
    switch (State()) {
        case dsFilter: return FilterBuf_.Chars();
        case dsBrowse: return IsEmpty() ? nullptr : ActiveBuffer();
        case dsEdit:
        case dsInsert: return ActiveBuffer();
        case dsSetKey: return SetKeyBuf_.Chars();
        case dsCalcFields: return CalcBuffer();
        default: return nullptr;
    }
}

const std::uint8_t* THXSmartDBF::ActiveRecord() {
    return reinterpret_cast<const std::uint8_t*>(ActiveRecordBuffer());
}

bool THXSmartDBF::IsDeleted() {
    const std::uint8_t* rec = ActiveRecord();
    return rec && rec[0] == kRecordDeleted;
}

int THXSmartDBF::GetRecNo() {
    char* buf = ActiveRecordBuffer();
    if (!buf) return -1;
    return static_cast<int>(BufferRecNo(buf));
}

// ---------------------------------------------------------------------------------------
// The read buffer
// ---------------------------------------------------------------------------------------

void THXSmartDBF::DecryptSlots(int first, int count) {
    if (!CryptActive()) return;
    for (int i = first; i < first + count; ++i) DecryptRecord(Slot(i), RecNos()[i]);
}

void THXSmartDBF::ReadFirstBlock() {
    Bof_ = true;
    Eof_ = false;
    FilledBackwards_ = false;
    P_ = -1;
    if (IndexActive()) {
        L_ = Index_->ReadFirst(Block_);
    } else {
        L_ = 0;
        if (TableFile_.Seek(Header_.HeaderLength(), soBeginning) >= 0) {
            ++BlockReads_;
            std::int64_t got = TableFile_.Read(ReadBuf_.Data(), BlockReadSize(R_));
            L_ = RecordsRead(ReadBuf_.Bytes(), got, static_cast<std::int64_t>(R_) * RecLen_);
        }
        for (int i = 0; i < L_; ++i) RecNos()[i] = static_cast<std::uint32_t>(i + 1);
        DecryptSlots(0, L_);
    }
    if (L_ == 0) {
        Bof_ = true;
        Eof_ = true;
    }
}

void THXSmartDBF::ReadLastBlock() {
    Bof_ = false;
    Eof_ = true;
    FilledBackwards_ = true;
    P_ = R_;
    if (IndexActive()) {
        L_ = Index_->ReadLast(Block_);
        if (L_ == 0) Bof_ = true;
        return;
    }
    std::int64_t n = RecordCountFromFile();
    L_ = 0;
    if (n == 0) {
        Bof_ = true;
        return;
    }
    std::int64_t first = n >= R_ ? n - R_ + 1 : 1;
    int want = static_cast<int>(n - first + 1);
    std::uint8_t* dst = Slot(R_ - want);
    std::int64_t got = -1;
    if (TableFile_.Seek(RecordPosition(Header_.HeaderLength(), static_cast<std::uint16_t>(RecLen_), first),
                        soBeginning) >= 0) {
        ++BlockReads_;
        got = TableFile_.Read(dst, static_cast<std::int64_t>(want) * RecLen_);
    }
    int k = got > 0 ? static_cast<int>(got / RecLen_) : 0;
    if (k < want && k > 0)  // the file shrank meanwhile: keep the loaded records at the end
        std::memmove(Slot(R_ - k), dst, static_cast<std::size_t>(k) * static_cast<std::size_t>(RecLen_));
    L_ = k;
    for (int i = 0; i < k; ++i) RecNos()[R_ - k + i] = static_cast<std::uint32_t>(first + i);
    DecryptSlots(R_ - k, k);
    if (L_ == 0) Bof_ = true;
}

int THXSmartDBF::ReadBlockForward() {
    if (L_ <= 0) return 0;
    if (IndexActive()) {
        int k = Index_->ReadForward(Block_);
        if (k > 0) {
            L_ = k;
            FilledBackwards_ = false;
            P_ = 0;
        }
        return k;
    }
    std::uint32_t m = RecNos()[FilledBackwards_ ? R_ - 1 : L_ - 1];
    // The read may stop inside the first slot (a lone end-of-file byte, a partial record):
    // what it overwrote there is put back when it loads nothing.
    std::memcpy(SlotSave_.Data(), Slot(0), static_cast<std::size_t>(RecLen_));
    std::int64_t got = -1;
    if (TableFile_.Seek(RecordPosition(Header_.HeaderLength(), static_cast<std::uint16_t>(RecLen_), m + 1),
                        soBeginning) >= 0) {
        ++BlockReads_;
        got = TableFile_.Read(ReadBuf_.Data(), BlockReadSize(R_));
    }
    int k = RecordsRead(ReadBuf_.Bytes(), got, static_cast<std::int64_t>(R_) * RecLen_);
    if (k <= 0) {
        std::memcpy(Slot(0), SlotSave_.Data(), static_cast<std::size_t>(RecLen_));
        return 0;
    }
    L_ = k;
    FilledBackwards_ = false;
    P_ = 0;
    for (int i = 0; i < k; ++i) RecNos()[i] = m + 1 + static_cast<std::uint32_t>(i);
    DecryptSlots(0, k);
    return k;
}

int THXSmartDBF::ReadBlockBackward() {
    if (L_ < 1) return 0;
    if (IndexActive()) {
        int k = Index_->ReadBackward(Block_);
        if (k > 0) {
            L_ = k;
            FilledBackwards_ = true;
            P_ = R_ - 1;
        }
        return k;
    }
    std::int64_t m = RecNos()[FilledBackwards_ ? R_ - L_ : 0];
    std::int64_t first = m - R_;
    if (first < 1) first = 1;
    int k = static_cast<int>(m - first);
    if (k <= 0) return 0;
    // Read into the scan buffer first, so that a short read leaves the read buffer intact.
    std::int64_t got = -1;
    if (TableFile_.Seek(RecordPosition(Header_.HeaderLength(), static_cast<std::uint16_t>(RecLen_), first),
                        soBeginning) >= 0) {
        ++BlockReads_;
        got = TableFile_.Read(ScanBuf_.Data(), static_cast<std::int64_t>(k) * RecLen_);
    }
    if (got < static_cast<std::int64_t>(k) * RecLen_) return 0;
    std::memcpy(Slot(R_ - k), ScanBuf_.Data(), static_cast<std::size_t>(k) * static_cast<std::size_t>(RecLen_));
    L_ = k;
    for (int i = 0; i < k; ++i) RecNos()[R_ - 1 - i] = static_cast<std::uint32_t>(m - 1 - i);
    DecryptSlots(R_ - k, k);
    FilledBackwards_ = true;
    P_ = R_ - 1;
    return k;
}

void THXSmartDBF::ReadBlockAround(int n) {
    if (IndexActive()) {
        L_ = Index_->ReadAround(Block_, static_cast<std::uint32_t>(n));
        FilledBackwards_ = false;
        Bof_ = Eof_ = L_ == 0;
        P_ = 0;
        return;
    }
    std::int64_t first = static_cast<std::int64_t>(n) - R_ / 2;
    if (first < 1) first = 1;
    L_ = 0;
    FilledBackwards_ = false;
    if (TableFile_.Seek(RecordPosition(Header_.HeaderLength(), static_cast<std::uint16_t>(RecLen_), first),
                        soBeginning) >= 0) {
        ++BlockReads_;
        std::int64_t got = TableFile_.Read(ReadBuf_.Data(), BlockReadSize(R_));
        L_ = RecordsRead(ReadBuf_.Bytes(), got, static_cast<std::int64_t>(R_) * RecLen_);
    }
    for (int i = 0; i < L_; ++i) RecNos()[i] = static_cast<std::uint32_t>(first + i);
    DecryptSlots(0, L_);
    if (L_ > 0) {
        Bof_ = Eof_ = false;
        P_ = 0;
    } else {
        Bof_ = Eof_ = true;
        P_ = -1;
    }
    for (int i = 0; i < L_; ++i)
        if (RecNos()[i] == static_cast<std::uint32_t>(n)) {
            P_ = i;
            break;
        }
}

bool THXSmartDBF::FetchNext() {
    Bof_ = false;
    ++P_;
    int limit = FilledBackwards_ ? R_ : L_;
    if (P_ < limit && P_ >= 0) return true;
    if (ReadBlockForward() > 0) return true;
    P_ = FilledBackwards_ ? R_ : L_;
    Eof_ = true;
    return false;
}

bool THXSmartDBF::FetchPrior() {
    Eof_ = false;
    --P_;
    int low = FilledBackwards_ ? R_ - L_ : 0;
    int high = FilledBackwards_ ? R_ : L_;
    if (P_ >= low && P_ < high) return true;
    if (ReadBlockBackward() > 0) return true;
    P_ = low - 1;
    Bof_ = true;
    return false;
}

void THXSmartDBF::InternalFirst() { ReadFirstBlock(); }

void THXSmartDBF::InternalLast() { ReadLastBlock(); }

void THXSmartDBF::InternalGotoBookmark(const void* bookmark) {
    ReadBlockAround(static_cast<int>(GetLE32(static_cast<const std::uint8_t*>(bookmark))));
}

void THXSmartDBF::InternalSetToRecord(char* buffer) { InternalGotoBookmark(buffer + RecLen_ + kRecNoAt); }

// ---------------------------------------------------------------------------------------
// Fetches
// ---------------------------------------------------------------------------------------

void THXSmartDBF::FillTarget(char* target, int slot) {
    std::memcpy(target, Slot(slot), static_cast<std::size_t>(RecLen_));
    PutLE32(reinterpret_cast<std::uint8_t*>(target + RecLen_ + kRecNoAt), RecNos()[slot]);
    target[RecLen_ + kStatusAt] = 0;
    target[RecLen_ + kFlagAt] = bfCurrent;
}

void THXSmartDBF::FillBlank(char* target, TBookmarkFlag flag) {
    InternalInitRecord(Scratch_.Chars());
    Scratch_.Chars()[RecLen_ + kFlagAt] = static_cast<char>(flag);
    std::memcpy(target, Scratch_.Data(), static_cast<std::size_t>(RecLen_ + kBufferTail));
}

bool THXSmartDBF::AcceptRecord(const std::uint8_t* rec, bool applyFilter) {
    bool accept = true;
    if (Filtered() || applyFilter) {
        const bool useFilter = !Filter().empty() && RecordFilter_;
        if (useFilter && !FilterCompiled_) CompileFilter();
        std::memcpy(FilterBuf_.Data(), rec, static_cast<std::size_t>(RecLen_));
        TDataSetState old = SetTempState(dsFilter);
        try {
            if (OnFilterRecord) OnFilterRecord(*this, accept);
            if (accept && useFilter) accept = RecordFilter_->Evaluate();
        } catch (...) {
            RestoreState(old);
            throw;
        }
        RestoreState(old);
        if (SetDeleted_ && rec[0] == kRecordDeleted) accept = false;
    } else if (SetDeleted_ && rec[0] == kRecordDeleted) {
        accept = false;
    }
    if (accept && IndexActive()) accept = Index_->InRange(rec);
    return accept;
}

TGetResult THXSmartDBF::GetRecord(char* buffer, TGetMode mode, bool) {
    if (!FilterCompiled_ && !Filter().empty() && RecordFilter_) CompileFilter();
    const bool test = Filtered() || SetDeleted_ || IndexActive();
    switch (mode) {
        case gmNext:
            for (;;) {
                if (!FetchNext()) {
                    FillBlank(buffer, bfEOF);
                    return grEOF;
                }
                if (!test || AcceptRecord(Slot(P_))) break;
            }
            FillTarget(buffer, P_);
            return grOK;
        case gmPrior:
            for (;;) {
                if (!FetchPrior()) {
                    FillBlank(buffer, bfBOF);
                    return grBOF;
                }
                if (!test || AcceptRecord(Slot(P_))) break;
            }
            FillTarget(buffer, P_);
            return grOK;
        case gmCurrent: {
            int low = FilledBackwards_ ? R_ - L_ : 0;
            int high = FilledBackwards_ ? R_ : L_;
            if (!Bof_ && !Eof_ && P_ >= low && P_ < high && (!test || AcceptRecord(Slot(P_)))) {
                FillTarget(buffer, P_);
                return grOK;
            }
            FillBlank(buffer, bfCurrent);
            return grError;
        }
    }
    return grError;
}

// ---------------------------------------------------------------------------------------
// Going to a record, direct reads, deletion
// ---------------------------------------------------------------------------------------

bool THXSmartDBF::ReadRecordDirect(int n) {
    CheckActive();
    if (n < 1) return false;
    char* buf = Scratch_.Chars();
    if (!TableFile_.ReadAt(RecordPosition(Header_.HeaderLength(), static_cast<std::uint16_t>(RecLen_), n), buf,
                           RecLen_))
        return false;
    if (CryptActive()) DecryptRecord(reinterpret_cast<std::uint8_t*>(buf), static_cast<std::uint32_t>(n));
    PutLE32(reinterpret_cast<std::uint8_t*>(buf + RecLen_ + kRecNoAt), static_cast<std::uint32_t>(n));
    buf[RecLen_ + kStatusAt] = 0;
    buf[RecLen_ + kFlagAt] = bfCurrent;
    if (!DirectBuffer_) SavedFastPost_ = FastPostRecord_;
    DirectBuffer_ = buf;
    FastPostRecord_ = true;
    return true;
}

void THXSmartDBF::ReleaseRecordDirect() {
    if (!DirectBuffer_) return;
    DirectBuffer_ = nullptr;
    FastPostRecord_ = SavedFastPost_;
}

void THXSmartDBF::SetRecNo(int value) {
    CheckBrowseMode();
    CompileFilter();
    bool ok = false;
    if (ReadRecordDirect(value)) {
        ok = AcceptRecord(reinterpret_cast<const std::uint8_t*>(Scratch_.Data()));
        ReleaseRecordDirect();
    }
    if (!ok) return;
    if (BeforeScroll) BeforeScroll(*this);
    ReadBlockAround(value);
    Resync(rmCenter);
    if (AfterScroll) AfterScroll(*this);
}

void THXSmartDBF::UpdateReadBufferSlot(std::uint32_t n, const std::uint8_t* rec) {
    if (!ReadBuf_) return;
    int low = FilledBackwards_ ? R_ - L_ : 0;
    int high = FilledBackwards_ ? R_ : L_;
    for (int i = low; i < high; ++i)
        if (RecNos()[i] == n) {
            std::memcpy(Slot(i), rec, static_cast<std::size_t>(RecLen_));
            return;
        }
}

const std::uint8_t* THXSmartDBF::BufferedRecord(std::uint32_t n) const {
    if (!ReadBuf_) return nullptr;
    int low = FilledBackwards_ ? R_ - L_ : 0;
    int high = FilledBackwards_ ? R_ : L_;
    for (int i = low; i < high; ++i)
        if (RecNos()[i] == n) return Slot(i);
    return nullptr;
}

void THXSmartDBF::PlaceCursorOn(std::uint32_t n) {
    int low = FilledBackwards_ ? R_ - L_ : 0;
    int high = FilledBackwards_ ? R_ : L_;
    int slot = -1;
    for (int i = low; i < high; ++i)
        if (RecNos()[i] == n) {
            slot = i;
            break;
        }
    if (slot >= 0) {
        P_ = slot;
        Bof_ = Eof_ = false;
    } else {
        ReadBlockAround(static_cast<int>(n));
    }
    if (Bof_ && Eof_) return;
    const bool test = Filtered() || SetDeleted_ || IndexActive();
    if (!test || AcceptRecord(Slot(P_))) return;
    // hidden: the next visible record, else the previous one
    int saveP = P_;
    while (FetchNext())
        if (AcceptRecord(Slot(P_))) return;
    ReadBlockAround(static_cast<int>(n));
    (void)saveP;
    while (FetchPrior())
        if (AcceptRecord(Slot(P_))) return;
}

void THXSmartDBF::RaiseWriteError() const {
    std::string text = Env_->LastErrorText();
    if (text.size() > 500) text.resize(500);
    throw Exception("THXSmartDBF: " + text);
}

void THXSmartDBF::MarkDeleted(bool flag) {
    CheckActive();
    char* buf = ActiveRecordBuffer();
    if (!buf) return;
    std::uint32_t n = BufferRecNo(buf);
    if (n == 0) return;  // a record not yet in the file
    const char oldFlag = buf[0];
    std::int64_t savedPos = TableFile_.Seek(0, soCurrent);
    if (!Locks_.RecordLock(n)) throw Exception("THXSmartDBF.InternalPost: Can not lock DBF record.");
    buf[0] = static_cast<char>(flag ? kRecordDeleted : kRecordLive);
    try {
        if (TableFile_.Seek(RecordPosition(Header_.HeaderLength(), static_cast<std::uint16_t>(RecLen_), n),
                            soBeginning) < 0 ||
            TableFile_.Write(RecordForWrite(buf, n), RecLen_) != RecLen_)
            RaiseWriteError();
        UpdateReadBufferSlot(n, reinterpret_cast<const std::uint8_t*>(buf));
    } catch (...) {
        buf[0] = oldFlag;  // the record is as the file has it
        Locks_.RecordUnlock(n);
        if (savedPos >= 0) TableFile_.Seek(savedPos, soBeginning);
        throw;
    }
    Locks_.RecordUnlock(n);
    if (savedPos >= 0) TableFile_.Seek(savedPos, soBeginning);
    if (!FastPostRecord_) {
        PlaceCursorOn(n);
        DataEvent(deRecordChange, 0);
    }
}

void THXSmartDBF::InternalDelete() { MarkDeleted(true); }

void THXSmartDBF::SetEnv(TEnv& env) {
    CheckInactive();
    Env_ = &env;
    TableFile_.SetEnv(env);
    MemoFile_.SetEnv(env);
    PackMemoFile_.SetEnv(env);
}

void THXSmartDBF::InternalEdit() {
    if (Index_) {
        const char* buf = ActiveRecordBuffer();
        if (buf) Index_->EditBegins(reinterpret_cast<const std::uint8_t*>(buf));
    }
}

const char* THXSmartDBF::RecordForWrite(const char* rec, std::uint32_t n) {
    if (!CryptActive()) return rec;
    char* out = CryptBuf_.Chars();
    std::memcpy(out, rec, static_cast<std::size_t>(RecLen_));
    Cipher_->Encipher(n, out, static_cast<std::size_t>(RecLen_));
    return out;
}

// ---------------------------------------------------------------------------------------
// The read block as the indexes see it
// ---------------------------------------------------------------------------------------

int TDBFReadBlock::Capacity() const { return T_.R_; }

bool TDBFReadBlock::Load(int slot, std::uint32_t n) {
    if (slot < 0 || slot >= T_.R_ || n == 0) return false;
    std::uint8_t* dst = T_.Slot(slot);
    const auto recLen = static_cast<std::int64_t>(T_.RecLen_);
    ++T_.BlockReads_;
    if (T_.TableFile_.PRead(RecordPosition(T_.Header_.HeaderLength(), static_cast<std::uint16_t>(T_.RecLen_), n),
                            dst, recLen) != recLen)
        return false;
    if (T_.CryptActive()) T_.DecryptRecord(dst, n);
    T_.RecNos()[slot] = n;
    return true;
}

const std::uint8_t* TDBFReadBlock::Slot(int i) const { return T_.Slot(i); }

std::uint32_t TDBFReadBlock::RecNo(int i) const { return T_.RecNos()[i]; }

}  // namespace zarbel
