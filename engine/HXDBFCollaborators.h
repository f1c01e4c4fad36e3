// The interfaces of the table's collaborators. The engine defines them; the layers above
// implement them and hand them to a table (THXSmartDBF::SetIndexOrder, SetRecordFilter,
// SetCipher). A table without a collaborator behaves as if it had none of that kind: records in
// file order, every record accepted, nothing enciphered. The table never owns a collaborator;
// whoever installs one keeps it alive while the table is open.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zarbel {

class THXSmartDBF;
class TField;
class TVariant;

// The table's read block as an index sees it: a row of record slots, each with the number of
// the record it holds. An index fills it in key order while the table is walked through it.
//
// Layout, as the table's cursor expects it:
//   - a forward fill (first block, next block, block around a record) uses slots 0 .. k-1,
//     in key order;
//   - a backward fill (last block, previous block) uses slots Capacity()-k .. Capacity()-1,
//     in key order, so the key nearest the old position is in slot Capacity()-1.
//
// Deciphering: Load reads the record from the table file and deciphers it with its record
// number, exactly as the file-order reads do. The table deciphers every record that reaches
// the block; an index never sees enciphered records and never deciphers them itself.
class TDBFReadBlock {
public:
    explicit TDBFReadBlock(THXSmartDBF& table) : T_(table) {}
    TDBFReadBlock(const TDBFReadBlock&) = delete;
    TDBFReadBlock& operator=(const TDBFReadBlock&) = delete;

    // Record slots in the block (BufferSize div record length).
    int Capacity() const;
    // Reads record n into slot i, deciphered, and notes n as that slot's record number. False
    // when record n is not in the file (the slot is then unchanged).
    bool Load(int slot, std::uint32_t n);
    // The record image in slot i, and its record number.
    const std::uint8_t* Slot(int i) const;
    std::uint32_t RecNo(int i) const;

private:
    THXSmartDBF& T_;
};

// The table's indexes as the table sees them: navigation through the current order, and the
// maintenance of every open index. The navigation calls are made only while HasCurrentOrder()
// is true; each returns the number of records it loaded into the block (0: none in that
// direction). The maintenance calls are made for every write, whatever the current order.
class TDBFIndexOrder {
public:
    virtual ~TDBFIndexOrder() = default;

    // Opening and closing with the table (after the table and its memo file are open, and
    // before they close); creation of the index files of a table that was just created.
    virtual void Open(THXSmartDBF& table) = 0;
    virtual void Close() = 0;
    virtual void CreateFiles(THXSmartDBF& table) = 0;

    // ---- Navigation through the current order ----
    virtual bool HasCurrentOrder() const = 0;
    virtual int ReadFirst(TDBFReadBlock& block) = 0;
    virtual int ReadLast(TDBFReadBlock& block) = 0;
    // The keys after the last record of the block / before the first, as the block holds them
    // now (forward: slot k-1 of its last forward fill; backward: its first slot in key order).
    virtual int ReadForward(TDBFReadBlock& block) = 0;
    virtual int ReadBackward(TDBFReadBlock& block) = 0;
    // A forward fill that starts at record n: the order is positioned on n, slot 0 holds the
    // record it stands on (n itself when the order holds n) and slots 1.. the keys after it.
    virtual int ReadAround(TDBFReadBlock& block, std::uint32_t n) = 0;
    // The record number of the first key equal to key (or, soft, the first key not below it);
    // 0 when there is none.
    virtual std::uint32_t Seek(const std::uint8_t* key, std::size_t length, bool soft) = 0;
    // The current order's range test of a record image (true without a range).
    virtual bool InRange(const std::uint8_t* rec) = 0;

    // ---- Searches by a list of fields (any open index, current or not) ----
    // An index that answers an exact locate on these fields (count of them, in list order) as
    // a scan of the file would: its key is exactly these fields in this order, each a plain
    // reference or, with upper, each character field as UPPER(field); it has no FOR condition,
    // is not Unique, and its keys are equal only when their bytes are. Returns its number, or
    // -1 when none does.
    virtual int ExactLocateIndex(const TField* const* /*fields*/, std::size_t /*count*/, bool /*upper*/) { return -1; }
    // In that index, the first entry (in key order, equal keys in record order) whose key is
    // the one its key expression makes of values (one per name of fields) and whose record
    // accept takes: that record's number, or 0.
    virtual std::uint32_t SeekValues(int /*index*/, std::string_view /*fields*/, const TVariant& /*values*/,
                                     const std::function<bool(std::uint32_t recNo)>& /*accept*/) {
        return 0;
    }
    // The key range of the index chosen for fields (";"-separated; the open index whose key
    // begins with the most of them, the first on equal counts, when it covers them all): from
    // the key of lo to the key of hi, or cancelled. Raises "THXSmartDBF: There is no suitable
    // index!" when no index covers them.
    virtual void SetFieldRange(std::string_view fields, const TVariant& lo, const TVariant& hi);
    virtual void CancelFieldRange(std::string_view fields);

    // ---- Maintenance of every open index ----
    // An edit of the record image rec begins: the keys it has now are the ones to replace.
    virtual void EditBegins(const std::uint8_t* rec) = 0;
    // Record n (image rec) was appended / written in place. seekCurrent: the current order,
    // when unique or with a condition, seeks the new key. Returns the record the cursor is to
    // show: n, another record that the order holds for that key, or 0 when the seek found
    // nothing (the cursor goes to the first record). Lock failures raise the table's append
    // and update messages.
    virtual std::uint32_t Appended(std::uint32_t n, const std::uint8_t* rec, bool seekCurrent) = 0;
    virtual std::uint32_t Updated(std::uint32_t n, const std::uint8_t* rec, bool seekCurrent) = 0;
    // Pack: every index is emptied, the kept records are added under their new numbers, and
    // PackEnd runs whatever happened in between.
    virtual void PackBegin() = 0;
    virtual void PackAdd(const std::uint8_t* rec, std::uint32_t newRecNo) = 0;
    virtual void PackEnd() = 0;
    // Called before PackEnd when the pack failed: what the indexes hold is not the table.
    virtual void PackFailed() {}
};

// The record filter: the table's Filter text compiled, and evaluated for the record in the
// table's filter buffer (the active record while the table is in its filter state).
class TDBFRecordFilter {
public:
    virtual ~TDBFRecordFilter() = default;
    // Raises the expression's message when the text does not compile.
    virtual void Compile(const std::string& text) = 0;
    virtual bool Evaluate() = 0;
};

// The cipher: every record, memo entry and index page goes through it on its way to and from
// the file. The context is the record number, the memo entry's byte position or the index
// page's offset. Deciphering what was enciphered under the same context gives the bytes back.
class TDBFCipher {
public:
    virtual ~TDBFCipher() = default;
    virtual bool Active() const = 0;
    virtual void Encipher(std::uint32_t context, void* data, std::size_t size) = 0;
    virtual void Decipher(std::uint32_t context, void* data, std::size_t size) = 0;
};

}  // namespace zarbel
