// THXSmartDBF: the memo file of the table: opening and closing with the table, creation for
// CreateTable, and the temporary memo file of Pack.

#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"

namespace zarbel {

void THXSmartDBF::BindMemoHooks(THXMemoFile& memo) {
    memo.OnEncryptEntry = [this](std::uint32_t ctx, void* data, std::int64_t size) {
        if (CryptActive()) Cipher_->Encipher(ctx, data, static_cast<std::size_t>(size));
    };
    memo.OnDecryptEntry = [this](std::uint32_t ctx, void* data, std::int64_t size) {
        if (CryptActive()) Cipher_->Decipher(ctx, data, static_cast<std::size_t>(size));
    };
}

void THXSmartDBF::OpenMemoFile() {
    MemoFile_.Close();
    std::uint8_t version = Header_.Version();
    if (!OwnMemoFile_) return;
    if (!VersionHasMemoFile(version, MemoDialect_)) return;
    MemoFile_.SetFileName(LocateMemoFile(*Env_, MemoFileNameFor(DBFFileName_, version, MemoDialect_)));
    MemoFile_.AccessMode().SetAccessMode(AccessMode_.AccessMode());
    MemoFile_.SetProxyStreamType(StorageType_);
    MemoFile_.SetOuterStream(OuterMemoStream_);
    MemoFile_.OpenProxyStream();
    // A memo file that does not open leaves the table open: its memo fields read as empty and
    // cannot be saved. A memo name that is not a regular file (a FIFO, a directory) is refused
    // outright: it is no memo file, and the table's memo values would be silently lost.
    if (!MemoFile_.IsOpen()) {
        if (MemoFile_.OpenError() == kFileNotRegular)
            throw Exception("THXSmartDBF.InternalOpen: Open error \"" + MemoFile_.FileName() + "\"" +
                            MemoFile_.OpenFailureNote());
        return;
    }
    // A memo file nobody else can write: entries and header writes are gathered (writable),
    // or entries read in record order come from one read block (read-only).
    if (StorageType_ == pstFile && MemoFile_.AccessMode().KeepsWritersOut()) {
        if ((MemoFile_.AccessMode().CachedAccessMode() & 3) == TAccessMode::kOpenReadWrite) {
            MemoFile_.SetWriteBehind(BufferSize_, kMemoFileHeaderSize);
            // entries that did not go out may be referenced by the records still gathered
            MemoFile_.OnFlushFailed = [this] { TableFile_.Discard(); };
        }
        else if ((MemoFile_.AccessMode().CachedAccessMode() & 3) == 0)
            MemoFile_.SetReadBlock(BufferSize_, kMemoFileHeaderSize);
    }
    Memo_.ReadHeader(version, MemoDialect_);
    BindMemoHooks(Memo_);
    if (Memo_.Layout() != mlDBase3) LobBlockSize_ = static_cast<int>(Memo_.BlockSize() & 0xFFFF);
}

void THXSmartDBF::CloseMemoFile() { MemoFile_.Close(); }

void THXSmartDBF::CreateMemoFile(std::uint8_t versionByte, bool hasMemoFields) {
    MemoFile_.Close();
    MemoFile_.AccessMode().SetAccessMode(AccessMode_.AccessMode());
    MemoFile_.SetProxyStreamType(StorageType_);
    MemoFile_.SetOuterStream(OuterMemoStream_);
    if (!hasMemoFields || !OwnMemoFile_) return;
    std::string name = MemoFileNameFor(DBFFileName_, versionByte, MemoDialect_);
    if (name.empty()) return;
    MemoFile_.SetFileName(name);
    MemoFile_.CreateProxyStream();
    const bool ok = MemoFile_.IsOpen() && Memo_.CreateHeader(versionByte, MemoDialect_, LobBlockSize_);
    const std::string why = ok ? std::string() : Env_->LastErrorText();
    MemoFile_.Close();
    if (!ok) throw Exception("THXSmartDBF: " + why);
}

void THXSmartDBF::PackLobHandlerOpen(const std::string& TempName) {
    if (!PackLobOpen(PackMemoFile_, TempName, AccessMode_.AccessMode(), Header_.Version(), MemoDialect_,
                     LobBlockSize_)) {
        std::string text = Env_->LastErrorText();
        PackMemoFile_.Close();
        throw Exception("THXSmartDBF: " + text);
    }
    PackMemo_.ReadHeader(Header_.Version(), MemoDialect_);
    BindMemoHooks(PackMemo_);
}

void THXSmartDBF::PackLobHandlerClose(const std::string& MemoName, const std::string& TempName) {
    PackLobClose(PackMemoFile_, MemoFile_, MemoName, TempName);
    if (MemoFile_.IsOpen()) Memo_.ReadHeader(Header_.Version(), MemoDialect_);
}

}  // namespace zarbel
