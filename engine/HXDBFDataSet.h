// The table class THXSmartDBF: a dataset over one .dbf file. Its collaborators (indexes, filter,
// cipher) are installed by the layers above; see HXDBFCollaborators.h. THXDBFNTX, the class
// callers instantiate, lives in the index layer (index/HXDBFNTX.h).
//
// The class spans several units, one per concern:
//   HXDBFOpen.cpp         properties, open/close, the read buffer, navigation, record count,
//                         bookmarks, ReadRecordDirect, MarkDeleted, SetDeleted
//   HXDBFFieldMap.cpp     descriptors -> THXDBFFieldDefs and dataset field definitions
//   HXDBFFieldValues.cpp  field read and write through the codecs, blank record, OEM translation
//   HXDBFCodecs.cpp       the field codec of every storage kind (HXDBFCodecs.h)
//   HXDBFCreate.cpp       CreateTable                                   (table creation)
//   HXDBFPost.cpp         InternalAddRecord, InternalPost               (append and post)
//   HXDBFMemo.cpp         memo file open/close, CreateBlobStream        (memo storage)
//   HXDBFPack.cpp         Pack                                          (pack)
//   HXDBFLocate.cpp       filter, find, locate and lookup (by block scan, or through an index)
//   HXDBFMaster.cpp       ranges by field list, the master-detail link (MasterFields, DataSource)
//   HXDBFNested.cpp       THXNestedDBF (HXDBFNested.h), the parent's side of nested tables
//
// Record buffer layout (AllocRecordBuffer): the record image (record length bytes, deletion
// flag first), the 4-byte record number (the bookmark, little-endian), a status byte (2 after a
// blank record was initialised, 0 after a read), the bookmark flag byte, then the calculated
// fields area.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/HXDBFCodecs.h"
#include "engine/HXDBFCollaborators.h"
#include "engine/HXDBFCrypt.h"
#include "engine/HXDBFFieldDefs.h"
#include "engine/HXDBFFlags.h"
#include "engine/HXDBFFormat.h"
#include "engine/HXDBFLocks.h"
#include "engine/HXDBFMemMgr.h"
#include "engine/HXDBFMemoFile.h"
#include "engine/HXDBFPrx.h"
#include "platform/dataset.h"

namespace zarbel {

class THXNestedDBF;

class THXSmartDBF : public TDataSet {
public:
    THXSmartDBF();
    ~THXSmartDBF() override;

    // ---- Published properties (defaults in the constructor) ----
    const std::string& DBFFileName() const { return DBFFileName_; }
    void SetDBFFileName(const std::string& name) { DBFFileName_ = name; }
    xBaseVersion DbfVersion() const { return DbfVersion_; }
    void SetDbfVersion(xBaseVersion v);  // also sets the dialect of DBFFieldDefs
    int BufferSize() const { return BufferSize_; }
    void SetBufferSize(int v) { BufferSize_ = v; }
    bool OEM() const { return OEM_; }
    void SetOEM(bool v) { OEM_ = v; }
    std::uint8_t Codepage() const { return Codepage_; }
    void SetCodepage(std::uint8_t v) { Codepage_ = v; }
    bool SetDeleted() const { return SetDeleted_; }
    void SetSetDeleted(bool v);
    bool FastPostRecord() const { return FastPostRecord_; }
    void SetFastPostRecord(bool v) { FastPostRecord_ = v; }
    bool TrimInLocate() const { return TrimInLocate_; }
    void SetTrimInLocate(bool v) { TrimInLocate_ = v; }
    bool TrimCType() const { return TrimCType_; }
    void SetTrimCType(bool v) { TrimCType_ = v; }
    unsigned LookupOptions() const { return LookupOptions_; }
    void SetLookupOptions(unsigned v) { LookupOptions_ = v; }
    TAccessMode& AccessMode() { return AccessMode_; }
    TProxyStreamType StorageType() const { return StorageType_; }
    void SetStorageType(TProxyStreamType t) { StorageType_ = t; }
    TStream* OuterStream() const { return OuterStream_; }
    void SetOuterStream(TStream* s) { OuterStream_ = s; }
    TLockEvent OnOuterStreamLock;
    TUnlockEvent OnOuterStreamUnlock;
    int LobBlockSize() const { return LobBlockSize_; }
    void SetLobBlockSize(int v);  // rounded down to a multiple of 128
    LockProtocolType LockProtocol() const { return Locks_.LockProtocol(); }
    void SetLockProtocol(LockProtocolType p) { Locks_.SetLockProtocol(p, Active()); }
    LockProtocolType LobLockProtocol() const { return Locks_.LobLockProtocol(); }
    void SetLobLockProtocol(LockProtocolType p) { Locks_.SetLobLockProtocol(p, Active()); }
    int WaitBusyRes() const { return Locks_.WaitBusyRes(); }
    void SetWaitBusyRes(int n) { Locks_.SetWaitBusyRes(n); }
    TTableFlag& FoxTableFlag() { return FoxTableFlag_; }
    THXDBFFieldDefs& DBFFieldDefs() { return DBFFieldDefs_; }
    // The table's own cipher, installed as its cipher collaborator by the constructor. While it
    // is active, open deactivates and reactivates it (the context is built anew from its
    // method and password as they are then). SetCrypt copies another crypt onto it.
    THXDBFCrypt& Crypt() { return Crypt_; }
    void SetCrypt(const THXDBFCrypt& v) { Crypt_.Assign(v); }
    // The crypt's four events, read and written through the table.
    const TOnCrypt& OnEncrypt() const { return Crypt_.OnEncrypt; }
    void SetOnEncrypt(TOnCrypt v) { Crypt_.OnEncrypt = std::move(v); }
    const TOnCrypt& OnDecrypt() const { return Crypt_.OnDecrypt; }
    void SetOnDecrypt(TOnCrypt v) { Crypt_.OnDecrypt = std::move(v); }
    const TCryptNotifyEvent& OnCryptActivate() const { return Crypt_.OnActivateCrypt; }
    void SetOnCryptActivate(TCryptNotifyEvent v) { Crypt_.OnActivateCrypt = std::move(v); }
    const TCryptNotifyEvent& OnCryptDeActivate() const { return Crypt_.OnDeactivateCrypt; }
    void SetOnCryptDeActivate(TCryptNotifyEvent v) { Crypt_.OnDeactivateCrypt = std::move(v); }
    bool CreateNow() const { return CreateNow_; }
    // Writing true runs CreateTable (HXDBFCreate.cpp); the value is stored afterwards.
    void SetCreateNow(bool v);

    // ---- Table state while open ----
    xBaseVersion MemoDialect() const { return MemoDialect_; }
    const TDBFHeader& Header() const { return Header_; }
    int RecordLength() const { return RecLen_; }
    int HeaderLength() const { return Header_.HeaderLength(); }
    // Records per read block (BufferSize div record length); 0 while closed.
    int RecordsPerBuffer() const { return R_; }
    // The deletion flag of the active record ("*").
    bool IsDeleted();
    // Raw record image of the active record (record length bytes), or null.
    const std::uint8_t* ActiveRecord();
    // Storage facts of a dataset field (by its FieldNo), or null.
    const TDBFFieldStore* FieldStore(const TField* field) const {
        const int n = field->FieldNo();
        if (n < 1 || static_cast<std::size_t>(n) > StoreOfFieldNo_.size()) return nullptr;
        return &Stores_[static_cast<std::size_t>(StoreOfFieldNo_[static_cast<std::size_t>(n - 1)])];
    }
    // What the field codecs take from the table now: with FieldStore, what a caller needs to
    // read a field of any record image (CodecReadValue, CodecReadText in HXDBFCodecs.h).
    TFieldCodecContext CodecContext() const {
        return {DbfVersion_ == xVisualFoxPro, TrimCType_, DBFFieldDefs_.NullFlagsOffset(),
                DBFFieldDefs_.NullFlagsSize()};
    }
    // The read buffer's copy of record n (record length bytes), or null when it holds none.
    const std::uint8_t* BufferedRecord(std::uint32_t n) const;
    // Number of read calls made on the table file since it opened (observability for tests).
    std::uint64_t BlockReads() const { return BlockReads_; }
    // Byte-range lock and unlock calls made to the host on the table and memo files so far
    // (observability for tests).
    std::uint64_t TableLockCalls() const { return TableFile_.PlatformLockCalls(); }
    std::uint64_t MemoLockCalls() const { return MemoFile_.PlatformLockCalls(); }
    // The memo file is open (a table whose memo file is missing or unreadable opens without it).
    bool MemoFileOpen() const { return MemoFile_.IsOpen(); }

    // The host environment of the table's files, its clock and its waits (TEnv::Default()
    // unless set; set while closed, and it must outlive the table).
    TEnv& Env() const { return *Env_; }
    void SetEnv(TEnv& env);

    // ---- Collaborators: set while closed; the table does not own them (the cipher is the
    // table's Crypt until another is set) ----
    TDBFIndexOrder* IndexOrder() const { return Index_; }
    void SetIndexOrder(TDBFIndexOrder* v) { Index_ = v; }
    TDBFRecordFilter* RecordFilter() const { return RecordFilter_; }
    void SetRecordFilter(TDBFRecordFilter* v) {
        RecordFilter_ = v;
        FilterCompiled_ = false;
    }
    TDBFCipher* Cipher() const { return Cipher_; }
    void SetCipher(TDBFCipher* v) { Cipher_ = v; }

    // ---- Engine operations ----
    // Reads record n into the scratch buffer without moving the cursor and makes it the active
    // record buffer (FastPostRecord forced true); false when n cannot be read.
    bool ReadRecordDirect(int n);
    // Ends ReadRecordDirect: the active buffer choice and FastPostRecord come back.
    void ReleaseRecordDirect();
    int ReadBlockForward();
    int ReadBlockBackward();
    void ReadBlockAround(int n);
    // Index pages on their way to / from the index file, in place, with the page's file
    // offset as context (nothing happens while the cipher is off).
    void EncipherIndexPage(std::uint32_t offset, void* page, std::size_t size) {
        if (CryptActive()) Cipher_->Encipher(offset, page, size);
    }
    void DecipherIndexPage(std::uint32_t offset, void* page, std::size_t size) {
        if (CryptActive()) Cipher_->Decipher(offset, page, size);
    }
    // Sets ("*") or clears (" ") the deletion flag of the active record and writes it through.
    void MarkDeleted(bool flag);
    // OEM <-> ANSI of a zero-terminated text / a counted byte range when OEM is set.
    int TranslateText(const char* src, char* dst, bool toOem) override;
    bool TranslatesText() const override { return OEM_; }
    bool TextIsOem() const override { return OEM_; }
    int TranslateBuffer(const char* src, char* dst, int count, bool toOem);

    void SetRecNo(int value) override;
    // On an open table: back to browse mode, the filter compiled, the records fetched again.
    void SetFiltered(bool v) override;
    // ---- Filter, find, locate and lookup (HXDBFLocate.cpp) ----
    // On an open table the text is compiled at once (its errors are the expression's
    // messages; the old filter then stays), and a filtered table fetches its records again.
    void SetFilter(std::string_view text) override;
    void SetFilterOptions(unsigned v) override;
    // Find first / next / prior / last: Filter and OnFilterRecord apply whether Filtered is set
    // or not. Nothing found: the cursor stays on its record.
    bool FindRecord(bool restart, bool goForward) override;
    // Moves to the first record whose key fields (";"-separated) hold keyValues (one value, or
    // an array of one value per field); options loCaseInsensitive, loPartialKey.
    bool Locate(std::string_view keyFields, const TVariant& keyValues, unsigned options) override;
    // The result fields' values of that record (LookupOptions), or null; the cursor stays.
    TVariant Lookup(std::string_view keyFields, const TVariant& keyValues, std::string_view resultFields) override;
    // The number of the first record that passes the acceptance test and matches, or 0.
    // Unless forceScan is set, an exact locate is answered through an index where that gives
    // the scan's answer (see LocateByIndex); otherwise the file is scanned in blocks of
    // BufferSize div record length records, and "THXSmartDBF.LocateRecord: Record size too
    // large" is raised when no record fits.
    virtual std::uint32_t LocateRecord(std::string_view keyFields, const TVariant& keyValues, unsigned options,
                                       bool forceScan);
    // Hands every record of the file to take, in file order with its number (from 1): the
    // write-behind block is written first, the file is read in blocks of BufferSize div record
    // length records, each record deciphered with its number and made the record that field
    // reads and expressions see while take runs. Raises tooLarge when no record fits.
    void ScanFile(const std::function<void(const std::uint8_t* rec, std::uint32_t n)>& take,
                  const std::string& tooLarge);
    bool BookmarkValid(const TBookmark& b) override;
    int CompareBookmarks(const TBookmark& a, const TBookmark& b) override;

    // ---- Ranges by field list and the master-detail link (HXDBFMaster.cpp) ----
    // The range of the index chosen for fields (";"-separated) by their values: one set of
    // values (or null: a range that holds nothing), or low and high values; cancelled. Raises
    // "THXSmartDBF: There is no suitable index!" when no open index covers the fields.
    void SetRangeFields(const std::string& fields, const TVariant& values);
    void SetRangeFields(const std::string& fields, const TVariant& lo, const TVariant& hi);
    void CancelRangeFields(const std::string& fields);
    // Fields of the master (";"-separated) whose values restrict this table to the records
    // whose own fields of those names hold them, through the index chosen for the list. A new
    // text cancels the range in force and, with the master open, sets the new one; an empty
    // text cancels it and ends the link.
    const std::string& MasterFields() const { return MasterFields_; }
    void SetMasterFields(const std::string& fields);
    // The data source over the master dataset (not owned; null: none). Setting it applies
    // MasterFields anew.
    TDataSource* DataSource() const { return MasterLink_.DataSource(); }
    void SetDataSource(TDataSource* source);
    // MasterFields is set: the master's changes and scrolls re-apply the range. Without it, a
    // change of the master at its start or end moves this table to First or Last, and a scroll
    // of the master by d records moves this table by d records.
    bool MasterLinkActive() const { return MasterLinkActive_; }

    // Writes what the write blocks of a table nobody else can write hold (its memo file's
    // first); raises "THXSmartDBF: " + the system's text when that fails, and the records
    // of the block are then not in the table. Nothing to do on a shared table. HXDBFOpen.cpp
    void FlushAddBuffer();

    // ---- Operations of other layers (their own units) ----
    // Creates the table file (and memo file) from DBFFieldDefs under DbfVersion. HXDBFCreate.cpp
    virtual void CreateTable();
    // Removes deleted records (and rebuilds the memo file); the temporary memo file goes beside
    // the table (true) or into the system temporary directory (false). HXDBFPack.cpp
    virtual void Pack(bool TempBesideTable = false);
    // A stream over a memo/blob field's value of the active record. HXDBFMemo.cpp
    std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override;
    // What a read stream gives / a write stream stores, through one reused memory stream.
    void GetBlobText(TField* field, std::string& out) override;
    void SetBlobText(TField* field, std::string_view value) override;

    // ---- Memo storage (HXDBFMemo.cpp, HXDBFBlob.cpp) ----
    // The memo file of a new table, for its final version byte, when a
    // field needs one (hasMemoFields); the file is created, its header written and closed.
    // Raises "THXSmartDBF: " + the system's message when it cannot be created or written.
    void CreateMemoFile(std::uint8_t versionByte, bool hasMemoFields);
    // Pack: creates the temporary memo file (and its header) / swaps it in for the memo file.
    void PackLobHandlerOpen(const std::string& TempName);
    void PackLobHandlerClose(const std::string& MemoName, const std::string& TempName);
    // Nested tables: the raw entry of a dbftDBFDataSet(_NB) field of the active record (never
    // translated); false when the field holds nothing, its reference is not a number or the
    // memo file is not open. Other fields raise "THXSmartDBF: Nested stream create error!".
    bool LoadNestedStream(TField* field, TMemoryStream& out);
    // Nested tables: writes data over the entry the field already references.
    void RewriteBlob(TField* field, TMemoryStream& data);
    // Nested tables: data become the value of the dbftDBFDataSet(_NB) field of the active
    // record. A record in the file gets it at once: over its entry when data fit the run the
    // entry was given, else as a new entry whose reference is written into the record on disk
    // under its record lock (the old run freed in the dBase IV layout); other memo entries are
    // never overwritten. A record being inserted gets the reference in its buffer (Post writes it).
    void SaveNestedStream(TField* field, TMemoryStream& data);
    // Set while Pack runs.
    bool Packing() const { return Packing_; }
    // Application stream of the memo file (StorageType pstOuterStream).
    TStream* OuterMemoStream() const { return OuterMemoStream_; }
    void SetOuterMemoStream(TStream* s) { OuterMemoStream_ = s; }
    // A blob save that failed inside a stream's destructor is raised by the next Post.
    void DataEvent(TDataEvent event, std::intptr_t info) override;

protected:
    // ---- Dataset engine operations ----
    char* AllocRecordBuffer() override;
    void FreeRecordBuffer(char*& buffer) override;
    void InternalInitRecord(char* buffer) override;
    // The table file's proxy closed and set up for name with the table's access mode, storage
    // type, outer stream and lock events (before it is opened or created).
    void SetUpTableFile(const std::string& name);
    // The blank image of one record (record length bytes) for the given dialect.
    void FillBlankRecord(std::uint8_t* rec, bool vfp) const;
    TGetResult GetRecord(char* buffer, TGetMode mode, bool doCheck) override;
    int GetRecordSize() override { return RecLen_; }
    void InternalOpen() override;
    void InternalClose() override;
    void InternalInitFieldDefs() override;
    void InternalFirst() override;
    void InternalLast() override;
    void InternalGotoBookmark(const void* bookmark) override;
    void InternalSetToRecord(char* buffer) override;
    TBookmarkFlag GetBookmarkFlag(const char* buffer) override;
    void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) override;
    void GetBookmarkData(const char* buffer, void* data) override;
    void SetBookmarkData(char* buffer, const void* data) override;
    void InternalAddRecord(char* buffer, bool append) override;  // HXDBFPost.cpp
    void InternalPost() override;                                 // HXDBFPost.cpp
    void InternalDelete() override;
    void InternalEdit() override;
    bool IsCursorOpen() const override;
    int GetRecordCount() override;
    int GetRecNo() override;
    bool GetFieldData(TField* field, void* buffer) override;
    void SetFieldData(TField* field, const void* buffer) override;
    // N and F values with more significant digits than a double carries (and N(x,0) integers
    // beyond 64 bits) as the text of their digits, read and written as they stand.
    bool GetFieldText(const TField* field, std::string& out) override;
    bool TakesFieldText(const TField* field, std::string_view text) override;
    void SetFieldText(TField* field, std::string_view text) override;
    void ClearCalcFields(char* buffer) override;
    // ---- Blob values in a record image (HXDBFBlob.cpp) ----
    friend class THXDBTStream;
    TMemoFieldForm MemoForm(const TDBFFieldStore& st) const;
    // Reads the value of a memo field of rec into out (empty when the field holds nothing or
    // the memo file is not open), translated from OEM for text kinds (when translate is set).
    void LoadBlob(const std::uint8_t* rec, const TDBFFieldStore& st, TMemoryStream& out, bool translate = true);
    // Stores data as the field's new value (the temporary memo file while packing) and puts
    // the reference into rec; an empty stream clears the field. Raises when a value cannot be
    // stored (the memo file is not open, the memo lock is refused); false when a field whose
    // memo file is not open is to be cleared (nothing changes).
    bool StoreBlob(std::uint8_t* rec, const TDBFFieldStore& st, TMemoryStream& data, THXMemoFile::TSaveMode mode,
                   bool translate = true);
    // The stream to save for a caller's stream: the stream itself, or with the cipher on a
    // copy of it (the entry is enciphered in place, and a caller's stream must stay plain).
    TMemoryStream& EntryCopy(TMemoryStream& data);
    // ---- Memo layer hooks (HXDBFMemo.cpp) ----
    void OpenMemoFile();
    void CloseMemoFile();

    // ---- Collaborators (HXDBFCollaborators.h) ----
    bool IndexActive() const { return Index_ && Index_->HasCurrentOrder(); }
    bool CryptActive() const { return Cipher_ && Cipher_->Active(); }
    // Deciphers one record image read from the file, keyed by its record number.
    void DecryptRecord(std::uint8_t* rec, std::uint32_t n) {
        Cipher_->Decipher(n, rec, static_cast<std::size_t>(RecLen_));
    }
    // The bytes to write for a record image: the image itself, or its enciphered copy in the
    // encryption scratch area (the caller's buffer is never enciphered in place).
    const char* RecordForWrite(const char* rec, std::uint32_t n);

    // ---- Services for the other units ----
    // The record buffer the codecs work on, chosen by state (null when there is none).
    char* ActiveRecordBuffer() {
        if (!DirectBuffer_ && State() == dsBrowse) return IsEmpty() ? nullptr : ActiveBuffer();
        return StateRecordBuffer();
    }
    char* StateRecordBuffer();
    // Acceptance test of a record image (filter when Filtered is set or applyFilter, SetDeleted,
    // index range).
    bool AcceptRecord(const std::uint8_t* rec, bool applyFilter = false);
    // Compiles Filter (under FilterOptions) into the record filter unless that copy is current.
    void CompileFilter();
    bool FilterCompiled() const { return FilterCompiled_; }
    // Points the active record buffer at a record image outside the cursor (a record examined
    // by locate or lookup inside the scan buffer), or back to the state's choice with null.
    // The image must be followed by room for the 6 bytes after a record (record number, status,
    // bookmark flag) when calculated fields or bookmarks are read from it.
    void SetDirectRecordBuffer(char* rec) { DirectBuffer_ = rec; }
    char* DirectRecordBuffer() const { return DirectBuffer_; }
    // Places the cursor on record n (read buffer searched, else refilled around it); a record
    // hidden by the acceptance test gives way to the next visible one, else the previous one.
    void PlaceCursorOn(std::uint32_t n);
    // Record number stored in a record buffer.
    std::uint32_t BufferRecNo(const char* buffer) const { return GetLE32(reinterpret_cast<const std::uint8_t*>(buffer) + RecLen_); }
    // Copies a record image into the read-buffer slot that holds record n, if any.
    void UpdateReadBufferSlot(std::uint32_t n, const std::uint8_t* rec);
    // Raises "THXSmartDBF: " + the system's text for the last error.
    [[noreturn]] void RaiseWriteError() const;
    std::uint32_t RecordCountFromFile();
    // The end of the record area in a file of `size` bytes: the size, less a final end-of-file
    // byte that would otherwise pass for a one-byte record.
    std::int64_t RecordAreaEnd(std::int64_t size);
    // Bytes a block read of `records` records asks for (one more for one-byte records, to
    // tell a final end-of-file byte from a record), and the whole records among `got` bytes
    // read into block when `want` were the records' bytes.
    std::int64_t BlockReadSize(std::int64_t records) const;
    int RecordsRead(const std::uint8_t* block, std::int64_t got, std::int64_t want) const;
    // Deciphers the slots first .. first + count - 1 of the read buffer when the cipher is on.
    void DecryptSlots(int first, int count);
    // The engine's record buffers (each record length + 6 + calculated fields bytes).
    char* ScratchBuffer() const { return Scratch_.Chars(); }
    std::uint8_t* ScanBuffer() const { return ScanBuf_.Bytes(); }
    // Append and post (HXDBFPost.cpp).
    void WriteRecordImage(const char* buffer, std::uint32_t n);
    void TakeAutoIncValues(char* buffer);
    std::uint32_t NextAutoIncValue(THXDBFFieldDef& def);
    void ShowAfterAppend(std::uint32_t n, const char* buffer);

    TProxyStream TableFile_;
    TProxyStream MemoFile_;
    THXDBFLockState Locks_;
    TDBFHeader Header_;
    xBaseVersion MemoDialect_ = xUnknown;
    int RecLen_ = 0;
    std::vector<TDBFFieldStore> Stores_;       // top-level fields in record order
    std::vector<int> StoreOfFieldNo_;          // dataset FieldNo - 1 -> index in Stores_
    // Set by the append path while it fills autoincrement fields: only then do writes to
    // autoincrement fields reach the record.
    bool FillingAutoInc_ = false;
    // Set while CreateTable opens the new table: the indexes are not opened then.
    bool Creating_ = false;
    // False for a nested table: it has no memo file of its own.
    bool OwnMemoFile_ = true;
    // Nested tables attached to fields of this table (HXDBFNested.cpp).
    friend class THXNestedDBF;
    std::vector<THXNestedDBF*> NestedTables_;
    enum TNestedChange { ncMoved, ncClosing, ncOpened };
    void NestedParentChanged(TNestedChange change);
    // Pack: the nested table held in value, packed in place (left as it is when it does not
    // open as a table).
    void PackNestedValue(TMemoryStream& value);
    void DetachNestedTables();

private:
    friend class TDBFReadBlock;
    bool FetchNext();
    bool FetchPrior();
    void FillTarget(char* target, int slot);
    void FillBlank(char* target, TBookmarkFlag flag);
    void ReadFirstBlock();
    void ReadLastBlock();
    std::uint8_t* Slot(int i) const { return ReadBuf_.Bytes() + static_cast<std::size_t>(i) * static_cast<std::size_t>(RecLen_); }
    std::uint32_t* RecNos() const { return static_cast<std::uint32_t*>(RecNos_.Data()); }
    void FreeTableBuffers();
    // Refuses a table whose fields run past the record length while its size disagrees with
    // the header's record count.
    void CheckRecordLength(int fieldsEnd);
    // Descriptor walk into DBFFieldDefs, FieldDefs and Stores_.
    void BuildFieldDefs();
    // Writes a field through its codec; autoincrement fields only while the append path fills
    // them.
    void WriteFieldValue(const TDBFFieldStore& s, std::uint8_t* rec, const void* buffer);
    bool GetLookupValue(TField* field, void* buffer);
    // Locate: the key of one field, converted once per search.
    struct TLocateKey {
        TField* Field = nullptr;
        std::string Text;  // strings: trimmed / upper-cased as the options say
        std::int64_t Int = 0;
        double Float = 0;
        bool Bool = false;
    };
    bool PrepareLocateKeys(std::string_view keyFields, const TVariant& keyValues, unsigned options);
    bool MatchLocateKeys(unsigned options);
    // An exact locate through the index that answers it as the scan would, when the keys and
    // the table's settings allow (found: the record, or 0). False: the scan must answer.
    bool LocateByIndex(std::string_view keyFields, unsigned options, std::uint32_t& found);
    // Reads record n into the scratch buffer, deciphered, with its number behind it (to be
    // examined outside the cursor); false when it cannot be read.
    bool ExamineRecord(std::uint32_t n);
    // The record n read into the scratch buffer made ready to examine: deciphered, with its
    // number and bookmark flag behind it.
    void PrepareExamined(std::uint32_t n);
    // The file read straight past the cursor in blocks of BufferSize div record length records;
    // each record is deciphered with its number and made the record that field reads and
    // expressions see, with its number behind it. visit returns true to stop there: the result
    // is that record's number, or 0 at the end of the file. Raises tooLarge when no record fits.
    std::uint32_t ScanRecords(const std::function<bool(const std::uint8_t* rec, std::uint32_t n)>& visit,
                              const std::string& tooLarge);

    // the compiled copy of Filter in the record filter
    bool FilterCompiled_ = false;
    std::vector<TLocateKey> LocateKeys_;
    std::string LocateText_;
    std::vector<const TField*> LocateFields_;

    // The master-detail link: the link to the master's data source, the master field objects
    // (built when first needed, dropped when the master opens or closes), and the field list of
    // the range the link set.
    class TMasterLink final : public TDataLink {
    public:
        explicit TMasterLink(THXSmartDBF& table) : T_(table) {}

    protected:
        void ActiveChanged() override { T_.MasterActiveChanged(); }
        void DataSetChanged() override { T_.MasterChanged(); }
        void DataSetScrolled(int distance) override { T_.MasterScrolled(distance); }

    private:
        THXSmartDBF& T_;
    };
    TMasterLink MasterLink_{*this};
    std::string MasterFields_;
    bool MasterLinkActive_ = false;
    std::vector<TField*> MasterFieldList_;
    std::string LinkRangeFields_;
    bool FollowingMaster_ = false;  // a reaction to the master runs
    void ApplyMasterFields();
    // The range by the master's current values (null when it shows no record).
    void ApplyMasterRange();
    bool MasterOpen() const { return MasterLink_.Active(); }
    void MasterActiveChanged();
    void MasterChanged();
    void MasterScrolled(int distance);

    TEnv* Env_ = &TEnv::Default();
    // collaborators
    THXDBFCrypt Crypt_{this};
    TDBFIndexOrder* Index_ = nullptr;
    TDBFRecordFilter* RecordFilter_ = nullptr;
    TDBFCipher* Cipher_ = &Crypt_;
    TDBFReadBlock Block_{*this};

    // properties
    std::string DBFFileName_;
    xBaseVersion DbfVersion_ = xBaseIII;
    int BufferSize_ = 4096;
    bool OEM_ = false;
    std::uint8_t Codepage_ = 0;
    bool SetDeleted_ = false;
    bool FastPostRecord_ = false;
    bool TrimInLocate_ = false;
    bool TrimCType_ = false;
    unsigned LookupOptions_ = 0;
    TAccessMode AccessMode_;
    TProxyStreamType StorageType_ = pstFile;
    TStream* OuterStream_ = nullptr;
    int LobBlockSize_ = 512;
    TTableFlag FoxTableFlag_;
    THXDBFFieldDefs DBFFieldDefs_;
    bool CreateNow_ = false;

    // read buffer state
    TMemBlock ReadBuf_;     // BufferSize + 10 bytes
    TMemBlock RecNos_;      // R record numbers
    TMemBlock ScanBuf_;     // BufferSize bytes
    TMemBlock SlotSave_;    // one record: slot 0 kept over a refill that may find nothing
    TMemBlock Scratch_, FilterBuf_, SetKeyBuf_, CryptBuf_;  // record buffers of the engine
    TMemBlock FreeCheckBuf_;  // FreeReplacedRuns: the record as the file holds it
    TMemBlock BlankRecord_;   // the blank record image of this open (InternalInitRecord)
    bool BlankValid_ = false;
    bool BlankVfp_ = false;   // made for the Visual FoxPro dialect
    int R_ = 0;
    int L_ = 0;
    bool FilledBackwards_ = false;
    int P_ = -1;
    bool Bof_ = true;
    bool Eof_ = true;
    char* DirectBuffer_ = nullptr;   // ReadRecordDirect / locate: the record examined
    bool SavedFastPost_ = false;
    std::uint64_t BlockReads_ = 0;

    // memo storage (HXDBFMemo.cpp, HXDBFBlob.cpp, HXDBFPack.cpp)
    TProxyStream PackMemoFile_;           // the temporary memo file while Pack runs
    THXMemoFile Memo_{MemoFile_};
    THXMemoFile PackMemo_{PackMemoFile_};
    TStream* OuterMemoStream_ = nullptr;
    bool Packing_ = false;
    std::string PendingBlobError_;
    TMemoryStream BlobText_;  // GetBlobText / SetBlobText: the value, capacity kept
    TMemoryStream BlobCopy_;  // EntryCopy: a caller's value to encipher, capacity kept
    // dBase IV layout: the runs an edit replaced or wrote. When the edit ends (post or cancel)
    // every one of them that the record in the file does not reference is freed, so a
    // cancelled edit keeps its old value and leaves no dead runs behind.
    struct TPendingFree {
        std::uint32_t RecNo;   // 0: a record being inserted
        int Store;             // index in Stores_
        std::uint32_t Block;
    };
    std::vector<TPendingFree> PendingFrees_;
    std::vector<TPendingFree> FreeingNow_;  // FreeReplacedRuns' list (capacities kept)
    void BindMemoHooks(THXMemoFile& memo);
    void FreeReplacedRuns();
};

}  // namespace zarbel
