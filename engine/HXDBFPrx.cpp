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
    if (Type_ == pstFile) return Env_->Read(Handle_, buffer, count);
    TStream* s = MemoryStorage();
    return s ? s->Read(buffer, count) : -1;
}

std::int64_t TProxyStream::Write(const void* buffer, std::int64_t count) {
    if (Type_ == pstFile) return Env_->Write(Handle_, buffer, count);
    TStream* s = MemoryStorage();
    return s ? s->Write(buffer, count) : -1;
}

std::int64_t TProxyStream::Seek(std::int64_t offset, int origin) {
    if (Type_ == pstFile) return Env_->Seek(Handle_, offset, origin);
    TStream* s = MemoryStorage();
    return s ? s->Seek(offset, origin) : -1;
}

bool TProxyStream::SetEndOfFile() {
    std::int64_t pos = Seek(0, soCurrent);
    if (pos < 0) return false;
    if (Type_ == pstFile) {
        if (pos < HeadLen_) HeadLen_ = pos;  // the view never reaches past the end
        return Env_->Truncate(Handle_, pos);
    }
    TStream* s = MemoryStorage();
    return s && s->SetSize(pos);
}

std::int64_t TProxyStream::GetFileSize() {
    if (Type_ == pstFile) return Env_->SizeOf(Handle_);
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
    if (Type_ == pstFile && !(HeadWritable_ && pos >= 0 && na >= 0 && nb >= 0 && pos + na + nb <= HeadLen_))
        return Env_->WriteAt2(Handle_, pos, a, na, b, nb);
    const std::int64_t first = PWrite(pos, a, na);
    if (first != na) return first;
    const std::int64_t second = PWrite(pos + na, b, nb);
    return second < 0 ? (na > 0 ? na : -1) : na + second;
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
