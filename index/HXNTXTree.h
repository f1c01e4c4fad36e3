// THXNTXTree: the B-tree of one NTX file over its page cache. It knows pages, keys as bytes
// and record numbers; it knows nothing of tables, expressions, code pages or collation. The
// key order comes from the caller (THXNTXKeyCompare); equal keys are ordered by ascending
// record number.
//
// The owner (the index object) holds the file's TProxyStream, takes and releases the index
// lock, and calls:
//   - Open / Close;
//   - positioning (First, Last, Seek, SeekEntry, FindKey), each of which re-reads the 12
//     volatile header bytes first when no update runs, dropping the cache when the version
//     moved; stepping (Next, Prev) which does not (call Refresh once before a run of steps);
//   - changes (AddKey, DeleteKey) between BeginUpdate and EndUpdate, or inside a rebuild.
//
// Every page is checked when it is first used after being read (NTXValidatePage); a descent
// deeper than kNTXMaxDepth, a walk entering more pages than the file holds, a record number 0
// or a broken free list raise the engine's exception with the message
// CorruptPrefix() + "<reason> at page <offset>". A failed read or write raises
// "THXSmartDBF: " and the host's text.
//
// Failed writes never look like a good index: when End update's page or header write fails,
// or the owner reports a failed build (MarkFailed), 0 is written into the signature word, and
// when that fails too the file is cut to 0 bytes. Under SetGuardSignature(true) (a writer that
// keeps all others out and stays in its update from open to close) the signature word is set
// to 0 before the first changed page reaches the disk, and the real header is written last at
// End update.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/HXDBFCollaborators.h"
#include "index/HXNTXBuffers.h"
#include "index/HXNTXFormat.h"

namespace zarbel {

class TProxyStream;

// The key order. search is the key being looked for (or an item's key when the tree orders
// two stored keys); item is a key stored in a page; n is the number of bytes to compare
// (<= key size). Negative: search sorts before item; 0 equal over n bytes; positive after.
// Descending order, collation and code-page handling all belong in here.
class THXNTXKeyCompare {
public:
    virtual ~THXNTXKeyCompare() = default;
    virtual int Compare(const std::uint8_t* search, const std::uint8_t* item, std::size_t n) const = 0;
};

// Bytes as unsigned characters up to n, stopping at the first NUL in either key (a shorter
// key sorts before a longer one that it begins).
class THXNTXByteCompare final : public THXNTXKeyCompare {
public:
    int Compare(const std::uint8_t* search, const std::uint8_t* item, std::size_t n) const override;
};

// A position in the tree: the key and record number it stands on, and the path down to it.
// A position taken before the tree changed is re-found from its key and record number.
class THXNTXCursor {
public:
    bool Valid() const { return Valid_; }
    std::uint32_t RecNo() const { return RecNo_; }
    // Key size bytes, as stored in the page.
    const std::uint8_t* Key() const { return Key_.data(); }
    void Invalidate() { Valid_ = false; }

private:
    friend class THXNTXTree;
    struct TLevel {
        std::uint32_t Page;
        std::uint16_t Index;
    };
    std::array<TLevel, kNTXMaxDepth> Path_{};
    int Depth_ = 0;  // levels in Path_
    std::uint64_t Generation_ = 0;
    std::uint64_t Budget_ = 0;  // pages a walk may still enter
    std::array<std::uint8_t, kNTXMaxKeySize> Key_{};
    std::uint32_t RecNo_ = 0;
    bool Valid_ = false;
};

// What the open found.
enum class TNTXOpenStatus { Ok, ReadFailed, NotNTX, Corrupt };

// The structural checks, each of which can find a fault.
enum class TNTXCheck {
    PageFields,  // child pointers: all 0 in a leaf, none 0 in an inner page
    KeyOrder,    // every key above the one before it (record number breaks ties)
    HalfPage,    // pages other than the root hold at least half page keys
    PageCount,   // tree, free list and header account for every page of the file
};

// The structural check's result. Findings carry the check that failed and the exact message;
// notes are remarks that do not make the index wrong.
struct TNTXFinding {
    TNTXCheck Check = TNTXCheck::PageFields;
    std::string Message;
};
struct TNTXVerifyReport {
    std::vector<TNTXFinding> Findings;
    std::vector<std::string> Notes;  // "THXNTXIndex.VerifyIndex: page count for free page must be 0!"
    std::uint64_t KeyCount = 0;
    std::uint64_t TreePages = 0;
    std::uint64_t FreePages = 0;
    bool Ok() const { return Findings.empty(); }
};
struct TNTXVerifyOptions {
    bool HalfPage = true;  // check that pages other than the root hold at least half page keys
    // A key as the messages show it (default: its bytes as they are).
    std::function<std::string(const std::uint8_t* key, std::size_t size)> KeyText;
    // Called for every key in order (the owner's record checks).
    std::function<void(std::uint32_t recNo, const std::uint8_t* key)> OnKey;
    // Stop after this many findings.
    std::size_t MaxFindings = 100;
};

class THXNTXTree final : private THXNTXBufferEvents {
public:
    THXNTXTree();
    ~THXNTXTree() override;
    THXNTXTree(const THXNTXTree&) = delete;
    THXNTXTree& operator=(const THXNTXTree&) = delete;

    // ---- Set-up ----
    // Text put before every corruption reason (the owner's "... is corrupt: ").
    const std::string& CorruptPrefix() const { return CorruptPrefix_; }
    void SetCorruptPrefix(const std::string& p) { CorruptPrefix_ = p; }
    // The key order (not owned; THXNTXByteCompare when none is set).
    void SetCompare(const THXNTXKeyCompare* c);
    void SetDeleteKeyStyle(TDeleteKeyStyle s) { DeleteKeyStyle_ = s; }
    TDeleteKeyStyle DeleteKeyStyle() const { return DeleteKeyStyle_; }
    THXNTXBuffers& Buffers() { return Buffers_; }

    // Reads and checks the header of the open stream. Ok, ReadFailed (fewer than 1024 bytes
    // or a read error), NotNTX (signature neither 6 nor 7) or Corrupt (reason has the
    // reason). The stream and cipher are not owned and must outlive the tree's use of them.
    TNTXOpenStatus Open(TProxyStream& stream, TDBFCipher* cipher, std::string& reason);
    // Drops the cache and forgets the file (no write: the owner ends any update first).
    void Close();
    bool IsOpen() const { return Stream_ != nullptr; }

    // Writes a new, empty index into the open stream: the 1024-byte header (version 1, root
    // 1024, next free 0) and one fresh root page at 1024 (enciphered when the cipher is
    // active); the file is cut to 2048 bytes. False when a write fails.
    static bool CreateEmpty(TProxyStream& stream, const TNTXHeader& header, TDBFCipher* cipher);

    // ---- State ----
    const TNTXHeader& Header() const { return Header_; }
    // The header fields the owner may change while open (unique, descending, order name);
    // WriteHeader writes the whole 1024 bytes.
    TNTXHeader& MutableHeader() { return Header_; }
    bool WriteHeader();
    const TNTXGeometry& Geometry() const { return Geom_; }
    // Where the next page appended goes.
    std::uint32_t EndOfFile() const { return EndOfFile_; }
    bool InUpdate() const { return InUpdate_; }
    bool Building() const { return Building_; }
    // Bumped by every change of the tree and every cache drop; cursors of an older generation
    // re-find their position.
    std::uint64_t Generation() const { return Generation_; }

    // ---- Positioning ----
    // Outside an update: re-reads the 12 volatile bytes; when the version moved the cache is
    // dropped and the file size taken again. Raises on a read failure or a signature that is
    // no longer 6 or 7.
    void Refresh();
    bool First(THXNTXCursor& c);
    bool Last(THXNTXCursor& c);
    // The first key not below key[0..len) compared over min(len, key size) bytes. Returns
    // true when that key is equal. Without soft the cursor is valid only then; with soft it
    // is valid whenever a key not below exists.
    bool Seek(THXNTXCursor& c, const std::uint8_t* key, std::size_t len, bool soft);
    // The first entry not below (key, recNo), key being key size bytes. True when positioned
    // (on exactly that entry or the next one); c.RecNo() tells which.
    bool SeekEntry(THXNTXCursor& c, const std::uint8_t* key, std::uint32_t recNo);
    // The entry after / before the cursor's. False at the end (the cursor is then invalid).
    bool Next(THXNTXCursor& c);
    bool Prev(THXNTXCursor& c);
    // Read-ahead: up to max entries after (forward) or before the cursor's, each offered to
    // take in key order; a false answer (a key past the range) stops the run and that entry is
    // not counted. The cursor ends on the last entry taken. Returns the number taken.
    int Step(THXNTXCursor& c, bool forward, int max,
             const std::function<bool(std::uint32_t recNo, const std::uint8_t* key)>& take);
    // The record number of the first entry that matches and that accept takes, or 0.
    // n = min(len, key size); without soft and partial a shorter key finds nothing; keys
    // compare over n bytes; recNo (0: any) breaks ties among equal keys (an item with a
    // greater record number counts as greater); without soft the search ends at the first key
    // that is greater.
    std::uint32_t FindKey(const std::uint8_t* key, std::size_t len, bool soft, std::uint32_t recNo, bool partial,
                          const std::function<bool(std::uint32_t recNo)>& accept);

    // ---- Changes ----
    // Inside an update or rebuild only (else they raise "THXNTXIndex.AddKey: keys change only
    // inside an update!").
    // Inserts (key, recNo); key is key size bytes.
    void AddKey(const std::uint8_t* key, std::uint32_t recNo);
    // Removes the entry (key, recNo) in the DeleteKeyStyle; false when there is none.
    bool DeleteKey(const std::uint8_t* key, std::uint32_t recNo);
    // Enters the update state: the end of the file from its size, the volatile header re-read
    // (a moved version drops the cache). Nothing when already in it.
    void BeginUpdate();
    // Leaves it: when a page changed, writes every dirty page, then (unless building) the
    // version moves on (wrap rule) and the 12 volatile bytes are written. A failed write makes
    // the file unusable (see above) and raises.
    void EndUpdate();
    // Cuts the file, writes the header (signature kept, version 1, root 1024, next free 0,
    // reserved bytes 0) and a fresh root at 1024; drops the cache.
    void Empty();
    // Empty, then the building and update states; keys are then added with AddKey.
    void BeginRebuild();
    // Pages written (no version bump), the update state as before the rebuild, the whole
    // header written with the version found at BeginRebuild + 1 (wrap rule), cache dropped.
    void EndRebuild();
    // The owner's build, rebuild or pack failed: 0 into the signature word, or the file cut
    // to 0 bytes when that write fails. Leaves the update and building states; drops the cache.
    void MarkFailed();
    // Signature word 0 while pages change (see above).
    void SetGuardSignature(bool on) { GuardSignature_ = on; }
    bool GuardSignature() const { return GuardSignature_; }
    void DropCache();

    // ---- Checking ----
    // Drops the cache and walks the whole tree and the free list, running every TNTXCheck
    // (the half-page one when asked); a free page that still holds a count is a note.
    TNTXVerifyReport Verify(const TNTXVerifyOptions& options = {});

private:
    void BeforeWrite() override;
    void WriteFailed() override;

    [[noreturn]] void Corrupt(const std::string& reasonAtPage) const;
    [[noreturn]] void RaiseIO() const;
    // Raises when no update (or rebuild) is running.
    void RequireUpdate(const char* op) const;
    // The page at offset, checked.
    TNTXPageRef Page(std::uint32_t offset);
    // Raises unless the page's whole offset table is a permutation of its item slots: a page
    // about to receive an item must not send it outside the page or over another item.
    void RequireSlots(TNTXPageRef& r);
    TNTXPage View(const TNTXPageRef& r) const { return TNTXPage(r.Data(), Geom_); }
    // key (n bytes) and recNo (0: any) against the item at entry i.
    int CompareItem(const std::uint8_t* key, std::size_t n, std::uint32_t recNo, const TNTXPage& p, int i) const;
    void StartWalk(THXNTXCursor& c);
    void Push(THXNTXCursor& c, std::uint32_t page, int index);
    // From the cursor's deepest level, follows child pointers down, entering each child at
    // entry 0 (forward) or at its count (backward).
    void DescendChildren(THXNTXCursor& c, bool forward);
    // Descends to the first entry not below (key, recNo) over n bytes (strict: above).
    void Descend(THXNTXCursor& c, const std::uint8_t* key, std::size_t n, std::uint32_t recNo, bool strict);
    bool SettleForward(THXNTXCursor& c);
    bool SettleBackward(THXNTXCursor& c);
    bool Take(THXNTXCursor& c, const TNTXPage& p, int i);
    // Re-reads the volatile header bytes; drops the cache when they moved.
    void ReadVolatile();
    void AutoRefresh();
    std::uint32_t AllocPage(TNTXPageRef& out);
    void FreePage(TNTXPageRef& page);
    void Changed();
    bool WriteVolatile();
    bool WriteSignature(std::uint16_t sig);
    // 0 into the signature word, else the file cut to nothing.
    void Poison();
    [[noreturn]] void FailWrite();
    // Writes every dirty page; false when a write (or the signature guard before it) failed.
    bool FlushPages();
    bool FindPath(const std::uint8_t* key, std::uint32_t recNo, THXNTXCursor& c);
    void DeleteClipper(THXNTXCursor& c);
    void DeleteApollo(THXNTXCursor& c);
    // Brings the child at entry j of the parent page up to half page (borrow or merge).
    void Rebalance(std::uint32_t parent, int j);
    std::uint32_t FindRec(std::uint32_t page, int depth, const std::uint8_t* key, std::size_t n, bool soft,
                          std::uint32_t recNo, const std::function<bool(std::uint32_t)>& accept, int& state,
                          std::uint64_t& budget);
    void VerifyPage(std::uint32_t page, int depth, bool root, const TNTXVerifyOptions& o, TNTXVerifyReport& rep,
                    std::vector<bool>& seen, std::vector<std::uint8_t>& prev, std::uint32_t& prevRec, bool& havePrev);
    static bool WriteFresh(TProxyStream& stream, const TNTXHeader& header, TDBFCipher* cipher);

    TProxyStream* Stream_ = nullptr;
    TDBFCipher* Cipher_ = nullptr;
    THXNTXBuffers Buffers_;
    THXNTXByteCompare ByteCompare_;
    const THXNTXKeyCompare* Compare_ = &ByteCompare_;
    TDeleteKeyStyle DeleteKeyStyle_ = dksClipper;
    std::string CorruptPrefix_ = "NTX file is corrupt: ";
    TNTXHeader Header_;
    TNTXGeometry Geom_;
    std::uint32_t EndOfFile_ = 0;
    std::uint64_t Generation_ = 1;
    bool InUpdate_ = false;
    bool Building_ = false;
    bool WasInUpdate_ = false;
    bool PageChanged_ = false;
    bool GuardSignature_ = false;
    bool SignatureZeroOnDisk_ = false;
    bool Failed_ = false;  // a page write failed inside the update
    std::string FailText_;
    std::uint16_t RebuildVersion_ = 0;
    // Scratch for an item moving up from a split, and for a key being moved (no allocation
    // per key).
    std::array<std::uint8_t, kNTXMaxKeySize + 8> Up_{};
    std::array<std::uint8_t, kNTXMaxKeySize + 8> Tmp_{};
    THXNTXCursor Work_;
};

}  // namespace zarbel
