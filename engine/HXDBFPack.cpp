// THXSmartDBF: pack. The records whose deletion flag is not a space are removed in place: the
// kept records move down through a buffer of (BufferSize div record length) whole records, the
// header's count is rewritten and the file is cut after the last kept record. The memo file is
// rebuilt without its dead entries through the blob path into a temporary memo file that then
// replaces it.
//
// A table whose file is open for reading only changes no file at all: nothing is written, no
// temporary memo file is made and the memo file is not swapped (its references would no longer
// match the table's). What happens in memory still happens: the header copy counts the kept
// records. On a writable table every write and the cut are checked; a failure raises
// "THXSmartDBF: " + the system's message.
#include <cstring>
#include <vector>

#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"

namespace zarbel {

namespace {

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

[[noreturn]] void RaiseSystemError(const TEnv& env) { throw Exception("THXSmartDBF: " + env.LastErrorText()); }

}  // namespace

void THXSmartDBF::Pack(bool TempBesideTable) {
    // 1. an open table; a pending edit (or insert) is posted first
    CheckActive();
    CheckBrowseMode();
    // 2. the header lock (it reads the header again)
    if (!Locks_.HeaderLock()) throw Exception("THXSmartDBF.Pack: Can not lock DBF header.");
    const std::uint32_t mode = TableFile_.AccessMode().CachedAccessMode();
    const bool writable = TableFile_.ProxyStreamType() != pstFile || (mode & 3) != 0;
    std::string memoName, tempName;
    bool memoSwap = false;  // the memo fields go to the temporary memo file
    bool tempLive = false;  // the temporary memo file is ours to delete
    std::vector<const TDBFFieldStore*> memoFields;
    TMemBlock buffer;
    std::exception_ptr failure;
    try {
        // 3-4. the memo swap: a temporary memo file and the lists of memo and nested fields
        if (writable && MemoFile_.IsOpen()) {
            memoName = MemoFile_.FileName();
            tempName = GetTempName(*Env_, TempBesideTable ? DirectoryOf(DBFFileName_) : std::string("SYSTEM_TMP_PATH"));
            if (tempName.empty()) RaiseSystemError(*Env_);
            tempLive = true;
            PackLobHandlerOpen(tempName);
            memoSwap = true;
            for (const TDBFFieldStore& st : Stores_) {
                TMemoFieldForm form = MemoForm(st);
                // Nested tables' entries are not moved here: their references are left as
                // they were (the nested-table layer has yet to carry them over).
                if (form.Valid() && !form.Nested) memoFields.push_back(&st);
            }
        }
        // 5. the indexes empty themselves
        if (Index_) Index_->PackBegin();
        try {
            // 6. chunk of whole records
            Packing_ = true;
            const int chunk = RecLen_ > 0 ? BufferSize_ / RecLen_ : 0;
            if (chunk < 1) throw Exception("THXSmartDBF.Pack: Record size too large");
            const std::int64_t chunkBytes = static_cast<std::int64_t>(chunk) * RecLen_;
            buffer = TMemBlock::Allocate(this, chunkBytes, "THXSmartDBF");
            std::int64_t readPos = Header_.HeaderLength();
            std::int64_t writePos = readPos;
            std::uint32_t counter = 0, kept = 0;
            TMemoryStream value;
            // 7. read, keep, move, write
            for (;;) {
                std::int64_t got = 0;
                if (TableFile_.Seek(readPos, soBeginning) == readPos) got = TableFile_.Read(buffer.Data(), chunkBytes);
                if (got < 0) got = 0;
                readPos += got;
                const int n = static_cast<int>(got / RecLen_);
                int keptHere = 0;
                for (int i = 0; i < n; ++i) {
                    std::uint8_t* rec = buffer.Bytes() + static_cast<std::int64_t>(i) * RecLen_;
                    if (CryptActive()) DecryptRecord(rec, counter + 1);
                    ++counter;
                    if (rec[0] != kRecordLive) continue;
                    if (memoSwap) {
                        for (const TDBFFieldStore* st : memoFields) {
                            // The bytes move as they are: no OEM translation on the way. An entry
                            // that cannot be read any more is carried over as empty: stopping
                            // here would leave the table half moved.
                            try {
                                LoadBlob(rec, *st, value, false);
                            } catch (const Exception&) {
                                value.Clear();
                            }
                            StoreBlob(rec, *st, value, THXMemoFile::smPack, false);
                        }
                    }
                    std::uint8_t* to = buffer.Bytes() + static_cast<std::int64_t>(keptHere) * RecLen_;
                    if (to != rec) std::memmove(to, rec, static_cast<std::size_t>(RecLen_));
                    if (Index_) Index_->PackAdd(to, kept + 1);
                    if (CryptActive()) {
                        const char* enc = RecordForWrite(reinterpret_cast<const char*>(to), kept + 1);
                        if (enc != reinterpret_cast<const char*>(to)) std::memcpy(to, enc, static_cast<std::size_t>(RecLen_));
                    }
                    ++keptHere;
                    ++kept;
                }
                if (keptHere > 0 && writable) {
                    std::int64_t bytes = static_cast<std::int64_t>(keptHere) * RecLen_;
                    if (!TableFile_.WriteAt(writePos, buffer.Data(), bytes)) RaiseSystemError(*Env_);
                    writePos += bytes;
                }
                if (n == 0) break;
            }
            // 8. header copy, header, cut
            Header_.SetRecordCount(kept);
            if (writable) {
                if (!TableFile_.WriteAt(0, Header_.Bytes(), kHeaderSize)) RaiseSystemError(*Env_);
                if (TableFile_.Seek(writePos, soBeginning) != writePos || !TableFile_.SetEndOfFile())
                    RaiseSystemError(*Env_);
            }
            // 9. the rebuilt memo file replaces the old one
            if (memoSwap) {
                // From here the temporary file may be the only copy of the memo data.
                tempLive = false;
                Packing_ = false;
                PackLobHandlerClose(memoName, tempName);
            }
        } catch (...) {
            failure = std::current_exception();
        }
        // 10. the indexes write themselves; the packing mark goes
        Packing_ = false;
        try {
            if (Index_) Index_->PackEnd();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    // 11. the temporary memo file of a pack that did not finish, the header lock, the refresh
    Packing_ = false;
    PackMemoFile_.Close();
    if (tempLive) Env_->DeleteFile(tempName);
    buffer.Reset();
    Locks_.HeaderUnlock();
    if (failure) {
        try {
            First();
        } catch (...) {
        }
        std::rethrow_exception(failure);
    }
    First();
}

}  // namespace zarbel
