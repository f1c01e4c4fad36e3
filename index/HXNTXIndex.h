// THXNTXIndex: one NTX index of a THXDBFNTX table, opened with the table (TIndexes) for
// reading: its header checked, its key and FOR expressions compiled, its collation applied,
// positioning (First, Last, Seek, Find key), the read-ahead that fills the table's read block
// in key order, the key range, the index lock, and VerifyIndex.
//
// The file-level tree (pages, cache, descent) is the core's (HXNTXTree.h); this class gives it
// the key comparison (collation, code page, direction, OnCompareKeys) and the table's view.
//
// Keys: a caller's key is ANSI text; the stored form is CP866 when KeyTranslate is set and the
// table works in OEM (see HXNTXKeyCompare.h). StoredKey/CurrentKey hand out stored bytes.
//
// Reading never writes: an index opened with a read-only table leaves its file untouched. The
// index lock follows the table's LockProtocol (one byte in the index file); a table opened
// read-only takes it as a shared lock, so a reader waits for a writer but never fails for want
// of write access. Under the no-sharing rule (share bits 0x00, 0x10, 0x20) nobody else writes
// the file: no byte is locked, the header is never re-read, and the file's proxy holds its one
// lock over the lock bytes of every protocol for as long as it is open.
//
// Hostile files: every part of the file is checked when it is used (header at open, a page
// when it is loaded, the descent depth, record numbers against the table's count), and a
// failure raises "THXNTXIndex: Index file "<NTXFileName>" is corrupt: <reason>".
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/HXDBFLocks.h"
#include "index/HXCollation.h"
#include "index/HXNTXBag.h"
#include "index/HXNTXKeyCompare.h"
#include "index/HXNTXTree.h"
#include "index/HXSorter.h"
#include "platform/exception.h"

namespace zarbel {

class THXDBFNTX;
class THXNTXIndex;
class THXNTXBag;
class THXNTXPageWriter;
class THXNTXOrder;
class TIndexes;
class TDBFReadBlock;
class THXDBFExprParser;
class TProxyStream;
class TVariant;
class TField;

// Sender, out Key (ANSI text).
using TOnEvaluteKey = std::function<void(THXNTXIndex* Sender, std::string& Key)>;
// Sender, out ForValue.
using TOnEvaluteFor = std::function<void(THXNTXIndex* Sender, bool& ForValue)>;
// Sender, in-out ItemKey (stored form, key size bytes), RecordNum, in-out ExitCode (not 0:
// the build fails). Called once per key as it enters the tree, in key order.
using TOnSubIndex = std::function<void(THXNTXIndex* Sender, std::string& ItemKey, std::uint32_t RecordNum, int& ExitCode)>;
// Sender, in-out ItemKey (stored form; cut or padded back to the key size), RecordNum, in-out
// Accept (false drops the record). Called for every record that passed FOR during a build.
using TOnSubNtx = std::function<void(THXNTXIndex* Sender, std::string& ItemKey, std::uint32_t RecordNum, bool& Accept)>;
// What a new index's header takes: key size and decimals, key and FOR expression.
struct TIndexAttributes {
    std::uint16_t KeySize = 0;
    std::uint16_t KeyDecimals = 0;
    std::string KeyExpresion;
    std::string ForExpresion;
};
// Sender, in-out IndAttr (filled from the expressions; what the handler leaves goes in).
using TOnCreateIndex = std::function<void(THXNTXIndex* Sender, TIndexAttributes& IndAttr)>;

// The key range of an index: keys from LoKey (empty: from the first) up to HiKey (empty: none
// is in range), both ANSI and compared over their own length.
class THXNTXRange {
public:
    explicit THXNTXRange(THXNTXIndex& owner) : Owner_(owner) {}
    bool Active() const { return Active_; }
    // Activates the index too; a change on an open table moves the table to its first record.
    void SetActive(bool v);
    const std::string& LoKey() const { return LoKey_; }
    void SetLoKey(const std::string& v) { LoKey_ = v; }
    const std::string& HiKey() const { return HiKey_; }
    void SetHiKey(const std::string& v) { HiKey_ = v; }

private:
    THXNTXIndex& Owner_;
    bool Active_ = false;
    std::string LoKey_, HiKey_;
};

// What VerifyIndex found worth telling that is no fault.
using TVerifyNotes = std::vector<std::string>;

class THXNTXIndex {
public:
    THXNTXIndex(TIndexes& owner, THXDBFNTX& table);
    ~THXNTXIndex();
    THXNTXIndex(const THXNTXIndex&) = delete;
    THXNTXIndex& operator=(const THXNTXIndex&) = delete;

    // ---- Published properties ----
    const std::string& Name() const { return Name_; }
    void SetName(const std::string& v) { Name_ = v; }
    const std::string& BagName() const { return BagName_; }
    void SetBagName(const std::string& v) { BagName_ = v; }
    bool Active() const;
    // Makes this the table's current index (deactivating the others), or none.
    void SetActive(bool v);
    THXCollation& Collation() { return Collation_; }
    THXLimitIndexPages& LimitPages() { return LimitPages_; }
    // Refused while the index is open: "TIndex.SetCollationType: You can set collation type
    // only when index is not open!".
    void SetCollationType(THXCollationTypes t);
    const std::string& NTXFileName() const { return NTXFileName_; }
    // Also sets Name: the file name without path and extension (cut at the first ".").
    void SetNTXFileName(const std::string& v);
    const std::string& KeyExpresion() const { return KeyExpresion_; }
    void SetKeyExpresion(const std::string& v);
    const std::string& ForExpresion() const { return ForExpresion_; }
    void SetForExpresion(const std::string& v);
    bool KeyTranslate() const { return KeyTranslate_; }
    void SetKeyTranslate(bool v) { KeyTranslate_ = v; }
    bool Unique() const;
    bool Desc() const;
    // While open: the header's order name; setting it writes the header and renames the index
    // to the name as stored (HXNTXIndexProps.cpp). Else kept for the next create.
    std::string Order() const;
    void SetOrder(const std::string& v);
    bool Temp() const { return Temp_; }
    void SetTemp(bool v) { Temp_ = v; }
    THXNTXRange& NTXRange() { return Range_; }
    TCLIPPER_VERSION ClipperVer() const { return ClipperVer_; }
    void SetClipperVer(TCLIPPER_VERSION v) { ClipperVer_ = v; }
    TOnEvaluteKey OnEvaluteKey;
    TOnEvaluteFor OnEvaluteFor;
    TOnCompareKeys OnCompareKeys;
    TOnCreateIndex OnCreateIndex;
    TOnSubIndex OnSubIndex;
    TOnSubNtx OnSubNtx;
    THXOuterSorterProperties& OuterSorterProperties() { return Outer_; }
    THXHashTypeForTreeSorters HashTypeForTreeSorters() const { return HashType_; }
    void SetHashTypeForTreeSorters(THXHashTypeForTreeSorters v) { HashType_ = v; }
    THXMaxBitsInHashCode MaxBitsInHashCode() const { return MaxBits_; }
    void SetMaxBitsInHashCode(THXMaxBitsInHashCode v) { MaxBits_ = v; }
    // Reads false; true builds the index at once (CreateIndex(true, 65536)).
    bool CreateNow() const { return false; }
    void SetCreateNow(bool v) {
        if (v) CreateIndex(true, 65536);
    }
    // While open they change the header (written at once); else kept for the next create.
    void SetUnique(bool v);
    void SetDesc(bool v);
    // The access mode of the index file when it is not the table's (-1, the default: the
    // table's); a tool that reads a table it must never change but writes an index sets it.
    std::int64_t FileAccessMode() const { return FileAccessMode_; }
    void SetFileAccessMode(std::int64_t v) { FileAccessMode_ = v; }
    TDeleteKeyStyle DeleteKeyStyle() const { return Tree_.DeleteKeyStyle(); }
    void SetDeleteKeyStyle(TDeleteKeyStyle v) { Tree_.SetDeleteKeyStyle(v); }
    bool HasFor() const { return HasFor_; }

    // ---- State ----
    bool IsOpen() const { return Open_; }
    int KeySize() const;
    int KeyDecimals() const;
    THXNTXOrder* NTXOrder() const { return Order_p; }
    THXNTXBag* Bag() const { return Bag_; }
    // The bag was added to the table's definitions for this index (and goes with it).
    THXNTXBag* OwnBag() const { return OwnBag_; }
    THXNTXTree& Tree() { return Tree_; }
    // The compiled key expression (null while closed).
    THXDBFExprParser* KeyParser() const { return KeyParser_.get(); }
    // The key range by field values (fields: ";"-separated names the key expression reads):
    // LoKey and HiKey become the key made from lo (and from hi), string values unpadded; the
    // range is then activated (HXIndexChoice.cpp).
    // A null value gives an empty key: a null hi puts nothing in range.
    void SetRangeByValues(const std::string& fields, const TVariant& lo);
    void SetRangeByValues(const std::string& fields, const TVariant& lo, const TVariant& hi);
    // Whether an exact seek of values for these fields (count of them, in list order) finds
    // every record whose fields hold them: the key is exactly these fields in this order, each
    // a plain reference or, with upper, each character field as UPPER(field) (a date alone, as
    // itself); no FOR condition, not Unique, no OnEvaluteKey, keys equal only when their bytes
    // are, and the key size the fields' widths (HXIndexChoice.cpp).
    bool AnswersExactLocate(const TField* const* fields, std::size_t count, bool upper) const;
    // The record of the first entry (equal keys in record order) whose key is the one the key
    // expression makes of values for fields (";"-separated names) and whose record accept
    // takes; 0 when none.
    std::uint32_t SeekValues(std::string_view fields, const TVariant& values,
                             const std::function<bool(std::uint32_t recNo)>& accept);

    // ---- Opening ----
    // Opens the file through its bag (DefineBagAndOrder), checks the header, applies the
    // collation and compiles the key and FOR expressions. Raises on failure, file closed.
    void Open();
    void Close();

    // ---- Locking (the table's LockProtocol) ----
    bool Lock();
    bool Unlock();

    // ---- Keys ----
    // The key of the table's active record / of a record image: ANSI text as evaluated.
    const std::string& EvaluateKey();
    const std::string& EvaluateKeyOf(const std::uint8_t* rec);
    // The key of a record image with its string fields unpadded, as the range test takes it
    // (OnEvaluteKey, when set, gives it instead).
    const std::string& RangeKeyOf(const std::uint8_t* rec);
    bool EvaluateFor();
    bool InRange(const std::string& ansiKey);
    // Whether a record image is in range (true without a range): its unpadded key is, or its
    // key as stored is.
    bool RecordInRange(const std::uint8_t* rec);

    // ---- Positioning (each locks the index for its duration; a lock that cannot be had
    // raises "TDBFDataSet: Can not read from index file (FLock is false).") ----
    // The entry found, in stored bytes and record number; false: none.
    bool First();
    bool Last();
    // The first entry equal to key (ANSI); soft: else the first above it. True when equal.
    bool Seek(const std::string& key, bool soft);
    // The record of the first entry that matches and the table accepts, or 0: over
    // min(key length, key size) bytes when partial or soft; recNo != 0 orders equal keys.
    std::uint32_t FindKey(const std::string& key, bool soft, std::uint32_t recNo, bool partial);
    // The same with the record test given: accept(recNo) instead of the table's acceptance.
    std::uint32_t FindKey(const std::string& key, bool soft, std::uint32_t recNo, bool partial,
                          const std::function<bool(std::uint32_t recNo)>& accept);
    // Steps from the current entry (false at the end; the position then stays).
    bool Next();
    bool Prior();
    const std::string& CurrentKey() const { return CurKey_; }   // stored bytes
    std::uint32_t CurrentRecNo() const { return CurRec_; }
    bool Found() const { return Found_; }

    // ---- Read-ahead for the table's read block ----
    int ReadFirst(TDBFReadBlock& block);
    int ReadLast(TDBFReadBlock& block);
    int ReadForward(TDBFReadBlock& block);
    int ReadBackward(TDBFReadBlock& block);
    int ReadAround(TDBFReadBlock& block, std::uint32_t n);

    // ---- Verification ----
    // Walks the whole tree and checks it against the table; raises on the first finding
    // ("THXNTXIndex.VerifyIndex: ..."), returns the notes otherwise. KeyCount: keys walked.
    TVerifyNotes VerifyIndex();
    std::uint64_t VerifiedKeys() const { return VerifiedKeys_; }

    // ---- Writing (HXNTXIndexWrite.cpp) ----
    // Creates the file as a new, empty index (header and one empty root page; the file is
    // replaced when it exists) and opens it. The key size and decimals come from the key
    // expression evaluated on a blank record of the open table, or from OnCreateIndex. Refused:
    // key size 0 or above 330, key or FOR expression over 255 bytes.
    void CreateIndex();
    // Inside an update or rebuild (the caller holds the lock). key: ANSI text, made key size
    // bytes. Nothing is added for a duplicate of a Unique index, or when the FOR condition is
    // false for the table's current record. True when the key went in.
    bool AddKey(const std::string& key, std::uint32_t recNo);
    // The current record's key under recNo (AddKey).
    bool AddCurrentRecord(std::uint32_t recNo);
    // Removes (key, recNo); false when the index holds no such entry.
    bool DeleteKey(const std::string& key, std::uint32_t recNo);
    // Keeps the current record's key and recNo (0: the table's current record number) as the
    // edit snapshot. False when a Unique or FOR index holds no key equal to it.
    bool TakeSnapshot(std::uint32_t recNo = 0);
    const std::string& SnapshotKey() const { return SnapKey_; }  // stored bytes
    std::uint32_t SnapshotRecNo() const { return SnapRec_; }
    // Takes the index lock (raising when it cannot be had) and enters the update state;
    // releaseLock: the lock is given back at once, the update state stays.
    void BeginUpdate(bool releaseLock = false);
    // Writes the changed pages and the header; the lock, if held, is released.
    void EndUpdate();
    // Under the lock: the file cut to an empty index.
    void Empty();
    // Empties the index under its lock, which is held until EndRebuild; keys are then added
    // with AddKey / AddRecord. EndRebuild writes pages and header; failed: the file is marked
    // unusable instead (0 in its signature word).
    void BeginRebuild();
    void EndRebuild(bool failed = false);

    // ---- Building a whole index from the table (HXNTXBuild.cpp) ----
    // Each reads every record of the open table, keeps the keys that pass FOR (and OnSubNtx),
    // one per key under Unique (the lowest record number), and writes the file anew: an open
    // index keeps its header's key, FOR, Unique, Desc, order name and signature; a closed one
    // takes the properties. The index is open afterwards (the current one when activate is set).
    // A failed build leaves a file the next open refuses.
    //
    // Sorts chunks of chunkBytes div (key size + 8) keys in a red-black tree sorter and inserts
    // each chunk in key order by the ordinary add.
    void CreateIndex(bool activate, int chunkBytes);
    // Sorts runs of a block buffer's worth of keys (by binary insertion into a block laid out
    // like a page), spills them to temporary files (TmpPath of OuterSorterProperties, else the
    // index file's directory) and merges them two at a time, each merge written bottom-up
    // (THXNTXCompactIndex) into a temporary NTX file, the last one into the index.
    void CreateCompactIndex(int blockBufferSize, bool activate);
    // Sorts all keys in one sorter of the class (outer sorters with OuterSorterProperties) and
    // feeds them to the bottom-up builder. A value outside THXSorterClass is refused.
    void CreateIndexUsingSorter(THXSorterClass sorterClass, bool activate);

    // ---- Maintenance by the table's collection (record images) ----
    // The key (and FOR value) of rec as the edit snapshot under recNo.
    void SnapshotOf(const std::uint8_t* rec, std::uint32_t recNo);
    // rec's key under recNo, subject to Unique and FOR; inside an update or rebuild.
    bool AddRecord(const std::uint8_t* rec, std::uint32_t recNo);
    // Record recNo (image rec) was appended / written in place: the index takes the change
    // under its lock and update (lockMsg raised when the lock cannot be had). Updated does
    // nothing when neither the key nor the FOR value moved from the snapshot; false then.
    void Appended(const std::uint8_t* rec, std::uint32_t recNo, const char* lockMsg);
    bool Updated(const std::uint8_t* rec, std::uint32_t recNo, const char* lockMsg);
    // The record an exact seek of the last maintained key finds, or 0.
    std::uint32_t SeekLastKey();

    // The corruption message for a reason.
    [[noreturn]] void Corrupt(const std::string& reason) const;

private:
    friend class THXNTXRange;
    // Takes the index lock for one positioning or read-ahead (raising the read message when it
    // cannot be had) and brings the header up to date; released when it goes.
    class TReadLock;
    void DefineBagAndOrder();
    void ApplyCollation();
    void CompileExpressions();
    void CheckRecNo(std::uint32_t n, std::uint32_t count);
    const std::string& KeyOf(const std::uint8_t* rec, bool unpadded);
    void SetCurrent(const THXNTXCursor& c);
    // The stored form of a caller's key in Search_.
    void PrepareSearch(const std::string& ansi);
    void RaiseNoLock() const;
    // Fills slots from first on, stepping forward (or backward) while in range.
    int Fill(TDBFReadBlock& block, THXNTXCursor& c, bool forward);
    // A key evaluated for this index: key size bytes (blank-padded or cut), in stored form.
    void Fit(std::string& key) const;

    TIndexes& Owner_;
    THXDBFNTX& Table_;
    std::string Name_, BagName_, NTXFileName_, KeyExpresion_, ForExpresion_, Order_;
    THXCollation Collation_;
    bool KeyTranslate_ = true;
    bool Unique_ = false, Desc_ = false;
    bool Temp_ = false;
    TCLIPPER_VERSION ClipperVer_ = v500;
    THXNTXRange Range_{*this};
    THXLimitIndexPages LimitPages_;

    bool Open_ = false;
    THXNTXBag* Bag_ = nullptr;
    THXNTXBag* OwnBag_ = nullptr;
    THXNTXOrder* Order_p = nullptr;
    THXNTXTree Tree_;
    THXNTXCursor Cur_;
    THXDBFIndexLockState Lock_;
    std::unique_ptr<THXDBFExprParser> KeyParser_, ForParser_;
    bool HasFor_ = false;
    THXNTXIndexCompare Cmp_;
    TCollationWeights Weights_{};

    std::string CurKey_;
    std::uint32_t CurRec_ = 0;
    bool Found_ = false;
    // The read block as last filled: its first and last entries in key order.
    std::string BlockFirstKey_, BlockLastKey_;
    std::uint32_t BlockFirstRec_ = 0, BlockLastRec_ = 0;
    std::string Scratch_, Search_, RangeKey_;
    std::string Sought_;  // FindKey: the key it walks the tree for
    // Writing: the key being added or deleted (stored bytes), the edit snapshot.
    THXNTXBag& DefineBag();
    bool AddStored(std::uint32_t recNo);
    void StoredKeyOf(const std::uint8_t* rec);
    // Under the lock and an update (its own, unless one lasts until close): the snapshot's
    // entry removed when asked, then Key_ added under recNo.
    void Maintain(std::uint32_t recNo, bool deleteSnapshot, const char* lockMsg);
    std::string Key_, SnapKey_;
    std::uint32_t SnapRec_ = 0;
    bool SnapFor_ = true, SnapValid_ = false, KeyFor_ = true;
    bool RebuildLocked_ = false;
    THXNTXCursor Probe_;
    std::uint64_t VerifiedKeys_ = 0;
    // Building (HXNTXBuild.cpp).
    THXOuterSorterProperties Outer_;
    std::int64_t FileAccessMode_ = -1;
    THXHashTypeForTreeSorters HashType_ = httsDefault;
    THXMaxBitsInHashCode MaxBits_ = mbhc32;
    // CreateIndex(); createError (when given) replaces the message of a file that cannot be
    // created.
    void CreateEmpty(const std::string* createError);
    TNTXHeader BuildHeader_;
    bool KeepHeader_ = false;
    // Makes the file an empty index under the lock and the building state (who: the message
    // prefix); returns the key size.
    int BeginBuild(const char* who);
    // Every record's key that goes into the index, in stored form (Key_), with its record
    // number and sort hash.
    void ReadBuildKeys(const char* who, const std::function<void(std::uint32_t recNo, std::int32_t hash)>& take);
    THXSorterParams BuildSorterParams(int capacity);
    // Refuses a change to a file opened for reading only, saying what could not be done.
    void RequireWritable(const char* what);
    void WriteHeader();
    // Writes the sorted items of a sorter bottom-up, dropping keys equal to the one before
    // under Unique, then the header.
    void BuildBottomUp(THXSorterAbstract& sorter);
    // CreateCompactIndex's runs of perBlock keys (blocks of blockBytes), merged into the index
    // file.
    void BuildFromRuns(int perBlock, std::int64_t blockBytes);
    // Writes bytes into the index file at an offset (the sink of a build's page writer).
    std::function<void(std::uint32_t, const std::uint8_t*, std::int64_t)> IndexFileSink();
    // Hands a page to pages (gathering for the index file), enciphered under the table's cipher.
    static std::function<void(std::uint32_t, std::uint8_t*)> IndexPageWriter(THXDBFNTX& table,
                                                                             THXNTXPageWriter& pages);
    void FinishBuild(bool activate);
    void FailBuild();
    void CloseKeepingFile();
    // OnSubIndex for an item entering the tree: the key to store (key, or the handler's).
    const std::uint8_t* SubIndex(const std::uint8_t* key, std::uint32_t recNo);
    std::string SubKey_;
};

// Takes the index lock for one positioning or read-ahead (raising the read message when it
// cannot be had) and brings the header up to date; released when it goes.
class THXNTXIndex::TReadLock {
public:
    explicit TReadLock(THXNTXIndex& ix) : Ix_(ix) {
        if (!Ix_.Open_) throw Exception("THXNTXIndex: Index file \"" + Ix_.NTXFileName_ + "\" is not open");
        if (!Ix_.Lock()) throw Exception("TDBFDataSet: Can not read from index file (FLock is false).");
        try {
            if (!Ix_.Tree_.InUpdate()) Ix_.Tree_.Refresh();
        } catch (...) {
            Ix_.Unlock();
            throw;
        }
    }
    ~TReadLock() { Ix_.Unlock(); }
    TReadLock(const TReadLock&) = delete;
    TReadLock& operator=(const TReadLock&) = delete;

private:
    THXNTXIndex& Ix_;
};

}  // namespace zarbel
