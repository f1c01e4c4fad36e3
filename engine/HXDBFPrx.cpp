#include "engine/HXDBFPrx.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/HXDBFMemMgr.h"

namespace zarbel {

// ---------------------------------------------------------------------------------------
// TAccessMode
// ---------------------------------------------------------------------------------------
std::uint32_t TAccessMode::AccessMode() {
    std::uint32_t v = 0;
    if (OpenWrite_) v |= kOpenWrite;
    if (OpenReadWrite_) v |= kOpenReadWrite;
    if (ShareExclusive_) v |= kShareExclusive;
    if (ShareDenyWrite_) v |= kShareDenyWrite;
    if (ShareDenyNone_) v |= kShareDenyNone;
    Cached_ = v;
    return v;
}

void TAccessMode::SetAccessMode(std::uint32_t v) {
    OpenRead_ = true;
    OpenWrite_ = (v & kOpenWrite) != 0;
    OpenReadWrite_ = (v & kOpenReadWrite) != 0;
    ShareExclusive_ = (v & kShareExclusive) != 0;
    ShareDenyWrite_ = (v & kShareDenyWrite) != 0;
    ShareDenyNone_ = (v & kShareDenyNone) != 0;
}

// ---------------------------------------------------------------------------------------
// TProxyStream
// ---------------------------------------------------------------------------------------
namespace {

constexpr int kLoadBufferSize = 61440;
// Every lock byte of every protocol lies below 2^32.
constexpr std::uint64_t kAllProtocolRanges = 0x100000000ull;

// Host open parameters of an AccessMode value; false for the values that must fail.
bool MapAccessMode(std::uint32_t value, TFileAccess& access, TShareLock& share) {
    switch (value & 3) {
        case 0: access = faRead; break;
        case 1: access = faWrite; break;
        case 2: access = faReadWrite; break;
        default: return false;
    }
    switch (value & 0xF0) {
        case 0x00:
        case 0x10:
        case 0x20:
            // A reader takes a shared lock: readers never keep each other out, while a
            // writer's exclusive open and a reader still exclude each other.
            share = access == faRead ? TShareLock::Shared : TShareLock::Exclusive;
            break;
        case 0x30:
        case 0x40: share = TShareLock::Shared; break;
        default: return false;
    }
    return true;
}

}  // namespace

TStream* TProxyStream::MemoryStorage() {
    switch (Type_) {
        case pstInnerStream: return &Inner_;
        case pstOuterStream: return Outer_;
        default: return nullptr;
    }
}

void TProxyStream::MapHead(TFileAccess access) {
    UnmapHead();
    if (Handle_ == kInvalidHandle || access == faWrite) return;  // a write-only handle cannot be mapped
    const std::int64_t size = Env_->SizeOf(Handle_);
    if (size <= 0) return;
    Head_ = Env_->MapHead(Handle_, access == faReadWrite, HeadMapLen_);
    if (!Head_) return;
    HeadLen_ = std::min<std::int64_t>(size, static_cast<std::int64_t>(HeadMapLen_));
    HeadWritable_ = access == faReadWrite;
}

void TProxyStream::UnmapHead() {
    if (Head_) Env_->UnmapHead(Head_, HeadMapLen_);
    Head_ = nullptr;
    HeadMapLen_ = 0;
    HeadLen_ = 0;
    HeadWritable_ = false;
}

void TProxyStream::OpenProxyStream() {
    Forget();
    switch (Type_) {
        case pstFile: {
            Close();
            TFileAccess access;
            TShareLock share;
            OpenError_ = 0;
            if (!MapAccessMode(AccessMode_.AccessMode(), access, share)) {
                OpenError_ = EINVAL;
                return;
            }
            Handle_ = Env_->Open(FileName_, access, share, &OpenError_);
            Writable_ = access != faRead;
            if (Handle_ != kInvalidHandle && AccessMode_.KeepsWritersOut() &&
                !Env_->LockRange(Handle_, 0, kAllProtocolRanges, Writable_)) {
                // another program holds an xBase byte lock on the file: it is in use
                Env_->Close(Handle_);
                Handle_ = kInvalidHandle;
                OpenError_ = kFileLockedElsewhere;
                return;
            }
            MapHead(access);
            break;
        }
        case pstInnerStream:
            Inner_.Seek(0, soBeginning);
            InnerOpen_ = true;
            break;
        case pstOuterStream:
            if (!Outer_) return;  // nothing to open: stays closed
            Outer_->Seek(0, soBeginning);
            OuterOpen_ = true;
            break;
    }
}

void TProxyStream::CreateProxyStream() {
    Forget();
    switch (Type_) {
        case pstFile:
            Close();
            OpenError_ = 0;
            Handle_ = Env_->Create(FileName_, TShareLock::Exclusive, &OpenError_);
            Writable_ = true;
            break;
        case pstInnerStream:
            Inner_.Clear();
            InnerOpen_ = true;
            break;
        case pstOuterStream:
            if (!Outer_ || !Outer_->SetSize(0)) return;
            Outer_->Seek(0, soBeginning);
            OuterOpen_ = true;
            break;
    }
}

void TProxyStream::Close() {
    Forget();
    UnmapHead();
    switch (Type_) {
        case pstFile:
            if (Handle_ != kInvalidHandle) {
                Env_->Close(Handle_);
                Handle_ = kInvalidHandle;
            }
            break;
        case pstInnerStream: InnerOpen_ = false; break;
        case pstOuterStream: OuterOpen_ = false; break;
    }
}

std::string TProxyStream::OpenFailureNote() const {
    if (Type_ != pstFile || Handle_ != kInvalidHandle || OpenError_ == 0) return "";
    return " (" + TEnv::ErrorText(OpenError_) + ")";
}

bool TProxyStream::IsOpen() const {
    switch (Type_) {
        case pstFile: return Handle_ >= 0;
        case pstInnerStream: return InnerOpen_;
        case pstOuterStream: return OuterOpen_ && Outer_ != nullptr;
        default: return false;
    }
}

std::int64_t TProxyStream::Read(void* buffer, std::int64_t count) {
    if (Type_ == pstFile) return Settle() ? Env_->Read(Handle_, buffer, count) : -1;
    TStream* s = MemoryStorage();
    return s ? s->Read(buffer, count) : -1;
}

std::int64_t TProxyStream::Write(const void* buffer, std::int64_t count) {
    if (Type_ == pstFile) return Settle() ? Env_->Write(Handle_, buffer, count) : -1;
    TStream* s = MemoryStorage();
    return s ? s->Write(buffer, count) : -1;
}

std::int64_t TProxyStream::Seek(std::int64_t offset, int origin) {
    if (Type_ == pstFile) return Settle() ? Env_->Seek(Handle_, offset, origin) : -1;
    TStream* s = MemoryStorage();
    return s ? s->Seek(offset, origin) : -1;
}

bool TProxyStream::SetEndOfFile() {
    std::int64_t pos = Seek(0, soCurrent);
    if (pos < 0) return false;
    if (Type_ == pstFile) {
        if (!Settle()) return false;
        if (pos < HeadLen_) HeadLen_ = pos;  // the view never reaches past the end
        return Env_->Truncate(Handle_, pos);
    }
    TStream* s = MemoryStorage();
    return s && s->SetSize(pos);
}

std::int64_t TProxyStream::GetFileSize() {
    if (Type_ == pstFile) {
        if (!Buffered()) return Env_->SizeOf(Handle_);
        if (!KnowDiskSize()) return -1;
        return std::max(DiskSize_, WbLen_ > 0 ? WbStart_ + WbLen_ : 0);
    }
    TStream* s = MemoryStorage();
    return s ? s->Size() : -1;
}

bool TProxyStream::ReadAt(std::int64_t pos, void* buffer, std::int64_t count) {
    return pos >= 0 && Seek(pos, soBeginning) == pos && Read(buffer, count) == count;
}

bool TProxyStream::WriteAt(std::int64_t pos, const void* buffer, std::int64_t count) {
    return pos >= 0 && Seek(pos, soBeginning) == pos && Write(buffer, count) == count;
}

bool TProxyStream::InHead(std::int64_t pos, std::int64_t count) const {
    // Written so that no sum can overflow, whatever position a damaged file asks for.
    return pos >= 0 && count >= 0 && pos <= HeadLen_ && count <= HeadLen_ - pos;
}

std::int64_t TProxyStream::PRead(std::int64_t pos, void* buffer, std::int64_t count) {
    if (Type_ == pstFile) {
        if (Buffered() && pos >= 0 && count >= 0) {
            if (count <= HeadCap_ && pos <= HeadCap_ - count && LoadHeadImage() && pos <= HeadImgLen_ - count) {
                std::memcpy(buffer, HeadImg_.Bytes() + pos, static_cast<std::size_t>(count));
                return count;
            }
            if (((WbLen_ > 0 && pos + count > WbStart_) || (HeadDirty_ && pos < HeadCap_)) && !Flush()) return -1;
            if (RbCap_ > 0 && count <= RbCap_) {
                if (pos < RbStart_ || pos + count > RbStart_ + RbLen_) {
                    const std::int64_t got = Env_->ReadAt(Handle_, pos, RbBuf_.Data(), RbCap_);
                    if (got < 0) return -1;
                    RbStart_ = pos;
                    RbLen_ = got;
                }
                const std::int64_t n = std::min(count, RbStart_ + RbLen_ - pos);
                std::memcpy(buffer, RbBuf_.Bytes() + (pos - RbStart_), static_cast<std::size_t>(n));
                return n;
            }
        }
        if (InHead(pos, count)) {
            std::memcpy(buffer, static_cast<const char*>(Head_) + pos, static_cast<std::size_t>(count));
            return count;
        }
        return Env_->ReadAt(Handle_, pos, buffer, count);
    }
    TStream* s = MemoryStorage();
    if (!s || pos < 0) return -1;
    std::int64_t old = s->Seek(0, soCurrent);
    std::int64_t got = s->Seek(pos, soBeginning) == pos ? s->Read(buffer, count) : -1;
    s->Seek(old, soBeginning);
    return got;
}

std::int64_t TProxyStream::PWrite(std::int64_t pos, const void* buffer, std::int64_t count) {
    if (Type_ == pstFile) {
        if (Buffered()) return DirectWrite(pos, buffer, count, nullptr, 0);
        if (HeadWritable_ && InHead(pos, count)) {
            std::memcpy(static_cast<char*>(Head_) + pos, buffer, static_cast<std::size_t>(count));
            return count;
        }
        return Env_->WriteAt(Handle_, pos, buffer, count);
    }
    TStream* s = MemoryStorage();
    if (!s || pos < 0) return -1;
    std::int64_t old = s->Seek(0, soCurrent);
    std::int64_t put = s->Seek(pos, soBeginning) == pos ? s->Write(buffer, count) : -1;
    s->Seek(old, soBeginning);
    return put;
}

std::int64_t TProxyStream::PWrite2(std::int64_t pos, const void* a, std::int64_t na, const void* b,
                                   std::int64_t nb) {
    if (Type_ == pstFile && Buffered()) return DirectWrite(pos, a, na, b, nb);
    if (Type_ == pstFile && !(HeadWritable_ && pos >= 0 && na >= 0 && nb >= 0 && pos + na + nb <= HeadLen_))
        return Env_->WriteAt2(Handle_, pos, a, na, b, nb);
    const std::int64_t first = PWrite(pos, a, na);
    if (first != na) return first;
    const std::int64_t second = PWrite(pos + na, b, nb);
    return second < 0 ? (na > 0 ? na : -1) : na + second;
}

// ---------------------------------------------------------------------------------------
// Write-behind block, header image, read block
// ---------------------------------------------------------------------------------------
void TProxyStream::Forget() {
    Flush();
    WbCap_ = WbLen_ = RbCap_ = RbLen_ = HeadCap_ = 0;
    WbBuf_.Reset();
    RbBuf_.Reset();
    HeadImg_.Reset();
    DiskSize_ = -1;
    HeadImgLen_ = -1;
    HeadDirty_ = false;
    OnBeforeFlush = nullptr;
    OnFlushFailed = nullptr;
}

void TProxyStream::SetWriteBehind(std::int64_t blockSize, std::int64_t headLength) {
    Flush();
    WbLen_ = 0;
    WbCap_ = Type_ == pstFile && IsOpen() && Writable_ ? std::max<std::int64_t>(blockSize, 0) : 0;
    WbBuf_ = WbCap_ > 0 ? TMemBlock::Tagged("TProxyStream.WriteBlock", WbCap_) : TMemBlock();
    HeadCap_ = std::max<std::int64_t>(headLength, 0);
    HeadImg_ = HeadCap_ > 0 ? TMemBlock::Tagged("TProxyStream.Head", HeadCap_) : TMemBlock();
    HeadImgLen_ = -1;
    DiskSize_ = -1;
}

void TProxyStream::SetReadBlock(std::int64_t blockSize, std::int64_t headLength) {
    RbLen_ = 0;
    RbCap_ = Type_ == pstFile && IsOpen() && !Writable_ ? std::max<std::int64_t>(blockSize, 0) : 0;
    RbBuf_ = RbCap_ > 0 ? TMemBlock::Tagged("TProxyStream.ReadBlock", RbCap_) : TMemBlock();
    HeadCap_ = RbCap_ > 0 ? std::max<std::int64_t>(headLength, 0) : 0;
    HeadImg_ = HeadCap_ > 0 ? TMemBlock::Tagged("TProxyStream.Head", HeadCap_) : TMemBlock();
    HeadImgLen_ = -1;
    DiskSize_ = -1;
}

bool TProxyStream::KnowDiskSize() {
    if (DiskSize_ < 0) DiskSize_ = Env_->SizeOf(Handle_);
    return DiskSize_ >= 0;
}

bool TProxyStream::LoadHeadImage() {
    if (HeadImgLen_ >= 0) return true;
    if (!KnowDiskSize()) return false;
    const std::int64_t want = std::min(HeadCap_, DiskSize_);
    const std::int64_t got = want > 0 ? Env_->ReadAt(Handle_, 0, HeadImg_.Data(), want) : 0;
    if (got != want) return false;
    HeadImgLen_ = got;
    return true;
}

bool TProxyStream::Flush() {
    if (Type_ != pstFile || Handle_ == kInvalidHandle || (WbLen_ == 0 && !HeadDirty_)) return true;
    if (OnBeforeFlush && !OnBeforeFlush()) {
        Discard();  // what the block holds may reference what did not go out
        return false;
    }
    if (WbLen_ > 0) {
        const std::int64_t put = Env_->WriteAt(Handle_, WbStart_, WbBuf_.Data(), WbLen_);
        const std::int64_t end = WbStart_ + WbLen_;
        WbLen_ = 0;
        if (put != end - WbStart_) {
            // Nothing of the block may stay (a write may have gone on in part even when it
            // reports a failure): the header image counts records it held.
            Env_->Truncate(Handle_, WbStart_);
            Discard();
            if (OnFlushFailed) OnFlushFailed();
            return false;
        }
        DiskSize_ = std::max(DiskSize_, end);
    }
    if (HeadDirty_) {
        HeadDirty_ = false;
        const std::int64_t n = HeadImgLen_;
        bool ok = true;
        if (HeadWritable_ && n <= HeadLen_)
            std::memcpy(Head_, HeadImg_.Data(), static_cast<std::size_t>(n));  // the file's own page
        else
            ok = Env_->WriteAt(Handle_, 0, HeadImg_.Data(), n) == n;
        if (!ok) {
            HeadImgLen_ = -1;
            if (OnFlushFailed) OnFlushFailed();
            return false;
        }
    }
    return true;
}

void TProxyStream::Discard() {
    WbLen_ = 0;
    DiskSize_ = -1;
    HeadImgLen_ = -1;
    HeadDirty_ = false;
}

bool TProxyStream::Settle() {
    if (!Buffered()) return true;
    const bool ok = Flush();
    DiskSize_ = -1;
    HeadImgLen_ = -1;
    RbLen_ = 0;
    return ok;
}

bool TProxyStream::Gather(std::int64_t pos, const void* a, std::int64_t na, const void* b, std::int64_t nb,
                          std::int64_t& result) {
    const std::int64_t n = na + nb;
    const std::int64_t end = pos + n;
    auto put = [&](std::uint8_t* dst) {
        if (na > 0) std::memcpy(dst, a, static_cast<std::size_t>(na));
        if (nb > 0) std::memcpy(dst + na, b, static_cast<std::size_t>(nb));
        result = n;
        return true;
    };
    if (HeadCap_ > 0 && end <= HeadCap_ && LoadHeadImage() && end <= HeadImgLen_) {
        HeadDirty_ = true;
        return put(HeadImg_.Bytes() + pos);
    }
    if (WbCap_ == 0 || !KnowDiskSize()) return false;
    // A gap between the end and a write past it reads as zeros, as the file would have it.
    auto extend = [&](std::int64_t from) {
        std::memset(WbBuf_.Bytes() + WbLen_, 0, static_cast<std::size_t>(pos - from));
        WbLen_ = end - WbStart_;
        return put(WbBuf_.Bytes() + (pos - WbStart_));
    };
    if (WbLen_ > 0) {
        const std::int64_t wbEnd = WbStart_ + WbLen_;
        if (pos >= WbStart_ && end <= wbEnd) return put(WbBuf_.Bytes() + (pos - WbStart_));  // an edit
        if (pos >= wbEnd && end - WbStart_ <= WbCap_) return extend(wbEnd);
        if (!Flush()) {
            result = -1;
            return true;
        }
    }
    // A write that extends the file begins a block (never over the header image).
    const std::int64_t start = std::min(pos, DiskSize_);
    if (end <= DiskSize_ || start < std::max<std::int64_t>(HeadImgLen_, 0) || end - start > WbCap_) return false;
    WbStart_ = start;
    WbLen_ = 0;
    return extend(start);
}

std::int64_t TProxyStream::DirectWrite(std::int64_t pos, const void* a, std::int64_t na, const void* b,
                                       std::int64_t nb) {
    if (pos < 0 || na < 0 || nb < 0) return -1;
    RbLen_ = 0;
    std::int64_t result = -1;
    if (Gather(pos, a, na, b, nb, result)) return result;
    const std::int64_t end = pos + na + nb;
    // What goes straight to the file: the block must not overwrite it later, nor the image.
    if (WbLen_ > 0 && end > WbStart_ && !Flush()) return -1;
    if (HeadImgLen_ > 0 && pos < HeadImgLen_) {
        // keep the image in step with the file (both pieces, as far as they reach into it)
        const std::int64_t n1 = std::clamp<std::int64_t>(HeadImgLen_ - pos, 0, na);
        if (n1 > 0) std::memcpy(HeadImg_.Bytes() + pos, a, static_cast<std::size_t>(n1));
        const std::int64_t p2 = pos + na;
        const std::int64_t n2 = std::clamp<std::int64_t>(HeadImgLen_ - p2, 0, nb);
        if (n2 > 0) std::memcpy(HeadImg_.Bytes() + p2, b, static_cast<std::size_t>(n2));
    }
    const std::int64_t put = nb > 0 || b ? Env_->WriteAt2(Handle_, pos, a, na, b, nb) : Env_->WriteAt(Handle_, pos, a, na);
    if (put > 0 && DiskSize_ >= 0) DiskSize_ = std::max(DiskSize_, pos + put);
    return put;
}

bool TProxyStream::AskOuterStream(const TLockEvent& event) {
    if (!event) return true;
    bool ok = false;
    event(this, pstOuterStream, Outer_, ok);
    return ok;
}

bool TProxyStream::Lock(std::uint32_t Offset, std::uint32_t Length) {
    switch (Type_) {
        case pstFile:
            ++PlatformLockCalls_;
            return Env_->LockRange(Handle_, Offset, Length, Writable_);
        case pstInnerStream: return true;
        case pstOuterStream: return AskOuterStream(OnLockEvent);
        default: return false;
    }
}

bool TProxyStream::Unlock(std::uint32_t Offset, std::uint32_t Length) {
    switch (Type_) {
        case pstFile:
            ++PlatformLockCalls_;
            return Env_->UnlockRange(Handle_, Offset, Length);
        case pstInnerStream: return true;
        case pstOuterStream: return AskOuterStream(OnUnlockEvent);
        default: return false;
    }
}

bool TProxyStream::UnlockAll() {
    if (Type_ != pstFile) return false;
    ++PlatformLockCalls_;
    return Env_->UnlockAll(Handle_);
}

namespace {

// Reads the whole of src in pieces of the load buffer and hands each to put(bytes, count);
// false when a read fails or put does.
template <typename Put>
bool CopyWholeFile(TEnv& env, THandle src, Put put) {
    TMemBlock buf = TMemBlock::Tagged("TProxyStream.LoadFromFile", kLoadBufferSize);
    for (;;) {
        const std::int64_t got = env.Read(src, buf.Data(), kLoadBufferSize);
        if (got < 0) return false;
        if (got == 0) return true;
        if (!put(buf.Data(), got)) return false;
    }
}

}  // namespace

bool TProxyStream::LoadFromFile(const std::string& fileName) {
    if (Type_ == pstInnerStream) return Inner_.LoadFromFile(fileName);
    if (Type_ == pstOuterStream && !Outer_) return false;
    if (Type_ != pstFile && Type_ != pstOuterStream) return false;
    TEnvHandle guard(*Env_, Env_->Open(fileName, faRead, TShareLock::Shared));
    const THandle src = guard.Get();
    if (src == kInvalidHandle) return false;
    if (Type_ == pstFile) {
        if (!Settle()) return false;
        HeadLen_ = 0;  // the file is cut to nothing first: the view serves nothing any more
        bool ok = Env_->Seek(Handle_, 0, soBeginning) == 0 && Env_->Truncate(Handle_, 0) &&
                  CopyWholeFile(*Env_, src, [&](const void* p, std::int64_t n) { return Env_->Write(Handle_, p, n) == n; });
        Env_->Seek(Handle_, 0, soBeginning);
        return ok;
    }
    bool ok = Outer_->SetSize(0) && Outer_->Seek(0, soBeginning) == 0 &&
              CopyWholeFile(*Env_, src, [&](const void* p, std::int64_t n) { return Outer_->Write(p, n) == n; });
    Outer_->Seek(0, soBeginning);
    return ok;
}

// ---------------------------------------------------------------------------------------
// GetTempName
// ---------------------------------------------------------------------------------------
std::string GetTempName(TEnv& env, const std::string& Directory) {
    std::string dir;
    if (Directory == "SYSTEM_TMP_PATH")
        dir = env.TempDirectory();
    else
        dir = Directory.empty() ? env.CurrentDirectory() : Directory;
    if (dir.back() != '/') dir += '/';
    return env.CreateUniqueFile(dir, "HXT");
}

}  // namespace zarbel
