// Memo files: the companion file that holds the values of memo, blob, picture, general and
// the engine's extended memo kinds (".dbt" for the dBase and Clipper families, ".fpt" for
// FoxPro). A record holds only a reference; THXMemoFile reads and writes the entries behind
// it through a TProxyStream that the table owns.
//
// Three layouts, chosen by the table's memo dialect (group):
//   dBase III (".dbt", every dialect outside the two groups below): no real header; a new
//     file is the 12 bytes "This is Lob!". Blocks of 512 bytes. An "M" entry is the text and
//     one 0x1A; an "E" entry is a 4-byte little-endian length and the data. New entries go
//     to the end of the file; old entries are never reused.
//   dBase IV (".dbt"; xBaseIV, xBaseV, xBaseVII): 512-byte header, first free block (LE32)
//     at 0, block size at 20 (written as 16 bits, read as 32). A used run starts with
//     FF FF 08 00 and LE32 data length + 8; a free run with {LE32 next free, LE32 length in
//     blocks}. Allocation is first fit along the free chain; a changed value frees its old run.
//   FoxPro (".fpt"; xFoxPro, xVisualFoxPro): 512-byte header, next free block (BE32) at 0,
//     block size (BE32) at 4. An entry is BE32 type (1 text, 0 binary), BE32 length, data.
//     New entries go to the next free block, which then advances.
//
// Damaged files never hang the engine, divide by zero or read outside a buffer:
//   * a block size of 0 (dBase IV, FoxPro) makes reads fail with "THXSmartDBF: Lob stream
//     read block error!" and saves fail with "THXSmartDBF: Lob stream save error!";
//   * an entry whose length runs past the end of the file reads what is there;
//   * a dBase IV or FoxPro block header that cannot be read in full or is not valid fails
//     with the read block error;
//   * the dBase IV allocation walk stops at the end of the file: a chain that loops, points
//     into the 512-byte header or past the end is cut there and the new entry goes to the end
//     of the file; a FoxPro next-free block inside the header or past the end is replaced by
//     the end of the file; a run that is not a used entry is never freed.
// New memo files never get a block size below 512: smaller LobBlockSize values create the
// file with 512 (block 1, the first free block of a new header, must lie behind the header).
// Block sizes above 65408 (the largest multiple of 128 that the 16-bit dBase IV field holds)
// create the file with 65408.
//
// All work buffers come from the memory manager; entry data are read into memory streams.
// Encryption plugs in through OnEncryptEntry / OnDecryptEntry (no-ops while unset): they get
// the entry's data in place with the entry's byte position as context. Block headers stay in
// clear and dBase III "M" text is never passed to them.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "engine/HXDBFFormat.h"
#include "engine/HXDBFMemMgr.h"
#include "engine/HXDBFPrx.h"
#include "platform/streams.h"

namespace zarbel {

// Bytes of the header of a dBase IV or FoxPro memo file.
inline constexpr int kMemoFileHeaderSize = 512;

// Memo layout of a memo dialect.
enum TMemoLayout : std::uint8_t { mlDBase3, mlDBase4, mlFoxPro };
TMemoLayout MemoLayoutOf(xBaseVersion memoDialect);

// How a field's reference is held in the record.
enum TMemoRefForm : std::uint8_t {
    mrfNone,    // the field has no entry form in this layout
    mrfText,    // decimal number, right-aligned, padded on the left with spaces
    mrfBinary,  // 32-bit little-endian integer
};

// The entry form of one field under one memo dialect.
struct TMemoFieldForm {
    TMemoRefForm Ref = mrfNone;
    bool ByteOffset = false;  // the number is a byte offset (dBase III layout, "_NB" kinds)
    bool Terminated = false;  // dBase III "M": text ended by 0x1A, never enciphered
    bool Text = false;        // text value: OEM translation applies, FoxPro type word 1
    bool Nested = false;      // dbftDBFDataSet / dbftDBFDataSet_NB
    bool Valid() const { return Ref != mrfNone; }
};
// fieldType: the type letter; extendType: the extended type byte (E only); binaryColumn: the
// field's BinaryColumn flag (a Visual FoxPro "M" with it holds binary data).
TMemoFieldForm MemoFieldForm(xBaseVersion memoDialect, char fieldType, std::uint8_t extendType, bool binaryColumn);
// E kinds stored in the memo file: dbftClob, dbftBlob, dbftGraphic, dbftFmtMemo,
// dbftDBFDataSet and their "_NB" forms.
bool IsMemoExtendedKind(std::uint8_t extendType);

// The reference in the record: size bytes at p. False when the field holds nothing (all
// spaces, or a binary 0), when a text is not a decimal number, or when it is 0 (the header
// occupies offset 0 and block 0 in every layout, so no entry can be there).
bool DecodeMemoReference(const std::uint8_t* p, int size, TMemoRefForm form, std::uint32_t& number);
// Text: the number right-aligned in size characters; binary: LE32 in the first 4 bytes.
void EncodeMemoReference(std::uint8_t* p, int size, TMemoRefForm form, std::uint32_t number);

// Memo file name of a table: DBFFileName with the extension changed to ".fpt" (version byte
// 0xF5, or 0x30/0x31 with the memo dialect xVisualFoxPro) or ".dbt" (every other byte of a
// table with memo fields).
std::string MemoFileNameFor(const std::string& dbfFileName, std::uint8_t versionByte, xBaseVersion memoDialect);
// The existing file of that name: the name itself, else the name with an upper-case
// extension, else the name with a lower-case extension (file names are case-sensitive here,
// and tables copied from other systems often carry "X.DBT" beside "x.dbf"). The name itself
// when none exists.
std::string LocateMemoFile(TEnv& env, const std::string& memoFileName);
// Does this version byte (with this memo dialect) come with a memo file of its own layout?
bool VersionHasMemoFile(std::uint8_t versionByte, xBaseVersion memoDialect);

// Block size a new memo file is created with for a LobBlockSize value (512 .. 65408).
int CreationBlockSize(int lobBlockSize);
// LobBlockSize setter rule: (value div 128) * 128, truncated toward zero.
inline int RoundLobBlockSize(int value) { return value / 128 * 128; }

// Entry data hook: transforms Size bytes at Buff in place; Context is the entry's byte position.
using TMemoCryptHook = std::function<void(std::uint32_t Context, void* Buff, std::int64_t Size)>;

class THXMemoFile {
public:
    // Works on the given proxy, which the caller owns, names, opens and closes.
    explicit THXMemoFile(TProxyStream& stream);
    THXMemoFile(const THXMemoFile&) = delete;
    THXMemoFile& operator=(const THXMemoFile&) = delete;

    TProxyStream& Stream() { return Stream_; }
    bool IsOpen() const { return Stream_.IsOpen(); }

    // Layout in effect (set by CreateHeader/ReadHeader or directly).
    TMemoLayout Layout() const { return Layout_; }
    void SetLayout(TMemoLayout layout) { Layout_ = layout; }
    // Block size in effect (dBase III: always 512); refreshed from the header by every read
    // and save in the dBase IV and FoxPro layouts.
    std::uint32_t BlockSize() const { return BlockSize_; }

    // Writes the header of a new memo file for the version byte into the (created, empty)
    // proxy: 0x83 "This is Lob!"; 0x8B, 0x8C the dBase IV header; 0xF5, and 0x30/0x31 with
    // memo dialect xVisualFoxPro, the FoxPro header; nothing for other bytes. The block size
    // is CreationBlockSize(lobBlockSize). False when the write fails.
    bool CreateHeader(std::uint8_t versionByte, xBaseVersion memoDialect, int lobBlockSize);
    // Reads the header of an opened memo file for the version byte and takes its block size
    // (0x83: 512; 0x8B, 0x8C: LE32 at 20; FoxPro: BE32 at 4). False when the header cannot be
    // read (the block size is then 0 for the dBase IV and FoxPro layouts).
    bool ReadHeader(std::uint8_t versionByte, xBaseVersion memoDialect);

    // Reads the entry of a field into out (cleared first; position 0 afterwards) and
    // deciphers it. entryPos gets the entry's byte position. Raises "THXSmartDBF: Lob stream
    // read block error!" for a missing or invalid dBase IV / FoxPro block header or a block
    // size of 0, and "THXSmartDBF: Lob stream create error!" for a form without an entry.
    void ReadEntry(const TMemoFieldForm& form, std::uint32_t number, TMemoryStream& out, std::uint32_t* entryPos = nullptr);

    enum TSaveMode {
        smNormal,   // allocate a new entry (dBase IV: free the old one first)
        smPack,     // allocate a new entry, free nothing (the target is a new file)
        smRewrite,  // write at the entry the field already references
    };
    // Writes size bytes of data (size > 0) as a new entry (or over the old one in rewrite
    // mode) and returns the number to store as the field's reference. hasOld/oldNumber: the
    // reference the field holds now. The data are enciphered in place (except dBase III
    // "M"). Raises "THXSmartDBF: Lob stream save error!" for a form without an entry, a block
    // size of 0 or a position the reference cannot hold, and "THXSmartDBF: " + the system's
    // message when a read or write of the file fails.
    std::uint32_t WriteEntry(const TMemoFieldForm& form, std::uint8_t* data, std::int64_t size, bool hasOld,
                             std::uint32_t oldNumber, TSaveMode mode);

    // Bytes of data the entry at number can take when it is written over in place without
    // touching what follows it: dBase IV and FoxPro, its run of whole blocks less the block
    // header; dBase III, the length it holds (a byte-offset entry may follow right behind
    // it). 0 when the entry cannot be read or is not valid.
    std::int64_t EntryRoom(const TMemoFieldForm& form, std::uint32_t number);

    // dBase IV layout: frees the used run at block (it becomes the head of the free chain).
    // A block that does not hold a used entry is left alone (false).
    bool FreeEntry(std::uint32_t block);
    // dBase IV layout: first fit of needed blocks along the free chain; returns the first block.
    std::uint32_t Allocate(std::uint32_t needed);

    // Encryption hooks (unset: data pass unchanged).
    TMemoCryptHook OnEncryptEntry;
    TMemoCryptHook OnDecryptEntry;

    // The 512-byte header image as last read or written.
    const std::uint8_t* HeaderImage() const { return Header_.Bytes(); }

private:
    // Reads the dBase IV (512 bytes) or FoxPro (8 bytes) header and refreshes the block size.
    bool RefreshHeader();
    [[noreturn]] void RaiseIoError() const;
    void WriteRaw(std::int64_t pos, const void* buffer, std::int64_t count);
    // An entry's head and its data, written one after the other from pos.
    void WriteRaw2(std::int64_t pos, const void* head, std::int64_t headLen, const void* data, std::int64_t count);
    // Reads up to count bytes at pos; the count read (0 at or past the end).
    std::int64_t ReadSome(std::int64_t pos, void* buffer, std::int64_t count);
    std::int64_t FileSize();
    // File position of a block. A hostile header's block size times a large block number can
    // pass the largest file position: such a position is capped there (nothing is read there).
    std::int64_t BlockPosition(std::uint32_t block) const;
    // First block at or behind the end of the file (and behind the 512-byte header).
    std::uint32_t EndBlock(std::int64_t fileSize) const;
    void ReadDataInto(TMemoryStream& out, std::int64_t pos, std::int64_t length);

    TProxyStream& Stream_;
    TMemoLayout Layout_ = mlDBase3;
    std::uint32_t BlockSize_ = 512;
    TMemBlock Header_;  // 512 bytes
    // An entry's head and the start of its data, read in one transfer (most entries are
    // short enough to need no second one); also the 512-byte pieces of dBase III texts.
    TMemBlock Probe_;
    // The length data bytes of the entry at pos whose first got bytes (head included) are in
    // the probe: taken from there when it holds them all, read from the file otherwise.
    void TakeEntryData(TMemoryStream& out, std::int64_t pos, std::int64_t got, std::int64_t length);
};

// Pack support. PackLobOpen creates the temporary memo file TempName (always a disk file, with
// the given access mode) in temp and writes a fresh header for the version byte; false when
// it cannot be created or written. PackLobClose closes temp and memo, replaces the memo file
// by the temporary one (disk: delete MemoName, rename TempName to MemoName, or copy it when the
// two lie on different file systems and then delete it; memory storages:
// load TempName into memo and delete TempName) and opens memo again. A failed delete or
// rename raises
//   "THXSmartDBF.PackLobHandlerClose: Can not delete file "<MemoName>" !" CR LF
//   "####> OS info" CR LF "Error code: <the host's error code>" CR LF "Error message: <text>"
// (or "... Can not rename file "<TempName>" to "<MemoName>" !" ...). A failed load raises the
// same form with "Can not load file".
bool PackLobOpen(TProxyStream& temp, const std::string& tempName, std::uint32_t accessMode, std::uint8_t versionByte,
                 xBaseVersion memoDialect, int lobBlockSize);
void PackLobClose(TProxyStream& temp, TProxyStream& memo, const std::string& memoName, const std::string& tempName);

}  // namespace zarbel
