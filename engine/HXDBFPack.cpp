// THXSmartDBF: pack. The records whose deletion flag is not a space are removed: the kept
// records move down through a buffer of (BufferSize div record length) whole records into a
// temporary copy of the table, whose bytes then replace the table's in place (the same file,
// so other opens of it see the packed table); the file is cut after the last kept record. The
// memo file is rebuilt without its dead entries through the blob path into a temporary memo
// file that then replaces it. Everything that needs new disk space happens before the table is
// touched, so a full disk leaves the table and its memo file as they were.
//
// A table whose file is open for reading only changes no file at all: nothing is written, no
// temporary memo file is made and the memo file is not swapped (its references would no longer
// match the table's). What happens in memory still happens: the header copy counts the kept
// records. On a writable table every write and the cut are checked; a failure raises
// "THXSmartDBF: " + the system's message.
#include <algorithm>
#include <cerrno>
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

void THXSmartDBF::PackNestedValue(TMemoryStream& value) {
    // The nested table opened in memory, with this table's cipher, and packed (its temporary
    // file in the system temporary directory). One that does not open as a table moves as
    // the bytes it is.
    THXSmartDBF nested;
    nested.OwnMemoFile_ = false;
    nested.SetEnv(*Env_);
    nested.SetStorageType(pstInnerStream);
    nested.SetCipher(Cipher_);
    nested.SetDbfVersion(DbfVersion_);
    nested.AccessMode().SetAccessMode(TAccessMode::kOpenReadWrite);
    TMemoryStream& inner = nested.TableFile_.InnerStream();
    inner.Clear();
    if (inner.Write(value.Memory(), value.Size()) != value.Size()) return;
    try {
        nested.Open();
        nested.Pack(false);
        nested.Close();
    } catch (const Exception&) {
        return;
    }
    value.Clear();
    if (value.Write(inner.Memory(), inner.Size()) != inner.Size()) throw Exception("THXSmartDBF: Lob stream save error!");
}

void THXSmartDBF::Pack(bool TempBesideTable) {
    // An open table; a pending edit (or insert) is posted first.
    CheckActive();
    CheckBrowseMode();
    // The header lock (it reads the header again) is held to the end.
    if (!Locks_.HeaderLock()) throw Exception("THXSmartDBF.Pack: Can not lock DBF header.");
    const std::uint32_t mode = TableFile_.AccessMode().CachedAccessMode();
    const bool writable = TableFile_.ProxyStreamType() != pstFile || (mode & 3) != 0;
    const std::string tempDir = TempBesideTable ? DirectoryOf(DBFFileName_) : std::string("SYSTEM_TMP_PATH");
    // The packed table is first written whole into a temporary file beside a temporary memo
    // file; only then are its bytes copied over the table in place and the memo file replaced.
    // A failure before that changes nothing. A failure after it leaves both temporary files
    // in place, and the message names them: they hold the only whole copy of the packed table.
    TProxyStream packed;
    packed.SetEnv(*Env_);
    std::string packedName, memoName, tempMemoName;
    bool memoSwap = false;   // the memo fields go to the temporary memo file
    bool keepTemps = false;  // the table changed: the temporary files are the packed table
    std::vector<const TDBFFieldStore*> memoFields;
    TMemBlock buffer;
    std::exception_ptr failure;
    try {
        if (writable) {
            packedName = GetTempName(*Env_, tempDir);
            if (packedName.empty()) RaiseSystemError(*Env_);
            packed.SetFileName(packedName);
            packed.AccessMode().SetAccessMode(TAccessMode::kOpenReadWrite);
            packed.OpenProxyStream();
            if (!packed.IsOpen()) RaiseSystemError(*Env_);
        }
        if (writable && MemoFile_.IsOpen()) {
            memoName = MemoFile_.FileName();
            const std::size_t dot = memoName.find_last_of('.');
            const std::size_t slash = memoName.find_last_of("/\\");
            const std::string ext =
                dot != std::string::npos && (slash == std::string::npos || dot > slash) ? memoName.substr(dot) : ".dbt";
            // never over a file of the same name: it may be what an earlier pack left behind
            if (Env_->FileExists(packedName + ext))
                throw Exception("THXSmartDBF: " + TEnv::ErrorText(EEXIST) + " \"" + packedName + ext + "\"");
            tempMemoName = packedName + ext;
            PackLobHandlerOpen(tempMemoName);
            memoSwap = true;
            // Nested tables move with the other entries, as the bytes they are.
            for (const TDBFFieldStore& st : Stores_)
                if (MemoForm(st).Valid()) memoFields.push_back(&st);
        }
        // The indexes empty themselves.
        if (Index_) Index_->PackBegin();
        try {
            Packing_ = true;
            const int chunk = RecLen_ > 0 ? BufferSize_ / RecLen_ : 0;
            if (chunk < 1) throw Exception("THXSmartDBF.Pack: Record size too large");
            const std::int64_t chunkBytes = static_cast<std::int64_t>(chunk) * RecLen_;
            buffer = TMemBlock::Allocate(this, std::max<std::int64_t>(chunkBytes, Header_.HeaderLength()),
                                         "THXSmartDBF");
            const std::int64_t headerLength = Header_.HeaderLength();
            if (writable) {
                // the header and the descriptors as the table has them
                if (!TableFile_.ReadAt(0, buffer.Data(), headerLength) ||
                    !packed.WriteAt(0, buffer.Data(), headerLength))
                    RaiseSystemError(*Env_);
            }
            std::int64_t readPos = headerLength;
            std::int64_t writePos = headerLength;
            std::uint32_t counter = 0, kept = 0;
            TMemoryStream value;
            // Read in chunks of whole records; the kept ones move down inside the buffer.
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
                            if (value.Size() > 0 && MemoForm(*st).Nested) PackNestedValue(value);
                            if (!StoreBlob(rec, *st, value, THXMemoFile::smPack, false)) RaiseSystemError(*Env_);
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
                    if (!packed.WriteAt(writePos, buffer.Data(), bytes)) RaiseSystemError(*Env_);
                    writePos += bytes;
                }
                if (n == 0) break;
            }
            Header_.SetRecordCount(kept);
            if (writable) {
                if (!packed.WriteAt(0, Header_.Bytes(), kHeaderSize)) RaiseSystemError(*Env_);
                // From here the table changes: the temporary files are the packed table.
                keepTemps = true;
                for (std::int64_t pos = headerLength; pos < writePos; pos += chunkBytes) {
                    const std::int64_t bytes = std::min(chunkBytes, writePos - pos);
                    if (!packed.ReadAt(pos, buffer.Data(), bytes) || !TableFile_.WriteAt(pos, buffer.Data(), bytes))
                        RaiseSystemError(*Env_);
                }
                if (!TableFile_.WriteAt(0, Header_.Bytes(), kHeaderSize)) RaiseSystemError(*Env_);
                if (TableFile_.Seek(writePos, soBeginning) != writePos || !TableFile_.SetEndOfFile())
                    RaiseSystemError(*Env_);
            }
            // The rebuilt memo file replaces the old one.
            if (memoSwap) {
                Packing_ = false;
                PackLobHandlerClose(memoName, tempMemoName);
                memoSwap = false;
            }
            keepTemps = false;
        } catch (...) {
            failure = std::current_exception();
        }
        // The indexes write themselves whatever happened; the packing mark goes.
        Packing_ = false;
        try {
            if (Index_ && failure) Index_->PackFailed();
            if (Index_) Index_->PackEnd();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    Packing_ = false;
    PackMemoFile_.Close();
    packed.Close();
    if (!keepTemps) {
        if (!packedName.empty()) Env_->DeleteFile(packedName);
        if (memoSwap) Env_->DeleteFile(tempMemoName);
    }
    buffer.Reset();
    Locks_.HeaderUnlock();
    if (failure) {
        try {
            First();
        } catch (...) {
        }
        if (keepTemps) {
            std::string message;
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& e) {
                message = e.what();
            }
            message += "\r\nThe packed table is kept in \"" + packedName + "\"";
            if (!tempMemoName.empty() && Env_->FileExists(tempMemoName))
                message += " and its memo file in \"" + tempMemoName + "\"";
            throw Exception(message);
        }
        std::rethrow_exception(failure);
    }
    First();
}

}  // namespace zarbel
