// The host's environment: the POSIX primitives of fileio.cpp and filesys.cpp, the system clock
// and sleep. Failures leave their reason in errno, which is what LastError() reads; a transfer
// that stops short without a reason from the host reports EIO.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/env.h"
#include "platform/fileio.h"
#include "platform/filesys.h"
#include "platform/locale.h"

namespace zarbel {

namespace {

// The host leaves no reason when a transfer stops short (a write of 0 bytes): EIO then.
std::int64_t Checked(std::int64_t result, std::int64_t wanted) {
    if (result != wanted && errno == 0) errno = EIO;
    return result;
}

class TPosixEnv final : public TEnv {
public:
    THandle Open(const std::string& name, TFileAccess access, TShareLock share, int* error) override {
        int why = 0;
        THandle h = FileOpen(name, access, share, &why);
        if (h == kInvalidHandle) errno = why > 0 ? why : EACCES;
        if (error) *error = why;
        return h;
    }
    THandle Create(const std::string& name, TShareLock share, int* error) override {
        int why = 0;
        THandle h = FileCreate(name, share, &why);
        if (h == kInvalidHandle) errno = why > 0 ? why : EACCES;
        if (error) *error = why;
        return h;
    }
    void Close(THandle h) override { FileClose(h); }
    std::int64_t Read(THandle h, void* buffer, std::int64_t count) override {
        errno = 0;
        return FileRead(h, buffer, count);
    }
    std::int64_t Write(THandle h, const void* buffer, std::int64_t count) override {
        errno = 0;
        return Checked(FileWrite(h, buffer, count), count);
    }
    std::int64_t ReadAt(THandle h, std::int64_t pos, void* buffer, std::int64_t count) override {
        errno = 0;
        return FileReadAt(h, pos, buffer, count);
    }
    std::int64_t WriteAt(THandle h, std::int64_t pos, const void* buffer, std::int64_t count) override {
        errno = 0;
        return Checked(FileWriteAt(h, pos, buffer, count), count);
    }
    std::int64_t WriteAt2(THandle h, std::int64_t pos, const void* a, std::int64_t na, const void* b,
                          std::int64_t nb) override {
        errno = 0;
        return Checked(FileWriteAt2(h, pos, a, na, b, nb), na + nb);
    }
    std::int64_t Seek(THandle h, std::int64_t offset, int origin) override { return FileSeek(h, offset, origin); }
    std::int64_t SizeOf(THandle h) override { return FileSizeOf(h); }
    bool Truncate(THandle h, std::int64_t size) override { return FileTruncate(h, size); }
    bool LockRange(THandle h, std::uint64_t offset, std::uint64_t length, bool exclusive) override {
        return FileLockRange(h, offset, length, exclusive);
    }
    bool UnlockRange(THandle h, std::uint64_t offset, std::uint64_t length) override {
        return FileUnlockRange(h, offset, length);
    }
    bool UnlockAll(THandle h) override { return FileUnlockAll(h); }
    bool ShareLockFree(THandle h) override { return FileShareLockFree(h); }
    bool GetHandleIdentity(THandle h, FileIdentity& out) override { return zarbel::GetHandleIdentity(h, out); }
    void* MapHead(THandle h, bool writable, std::size_t& length) override { return FileMapHead(h, writable, length); }
    void UnmapHead(void* address, std::size_t length) override { FileUnmapHead(address, length); }

    bool FileExists(const std::string& path) override { return zarbel::FileExists(path); }
    bool DirectoryExists(const std::string& path) override { return zarbel::DirectoryExists(path); }
    bool DeleteFile(const std::string& path) override { return zarbel::DeleteFile(path); }
    bool RenameFile(const std::string& from, const std::string& to) override { return zarbel::RenameFile(from, to); }
    bool LinkFile(const std::string& from, const std::string& to) override { return zarbel::LinkFile(from, to); }
    TPathKind PathKind(const std::string& path) override { return zarbel::PathKind(path); }
    bool CopyFile(const std::string& from, const std::string& to) override {
        TEnvHandle src(*this, Open(from, faRead, TShareLock::None, nullptr));
        if (src.Get() == kInvalidHandle) return false;
        TEnvHandle dst(*this, Create(to, TShareLock::None, nullptr));
        if (dst.Get() == kInvalidHandle) return false;
        char buf[65536];
        for (;;) {
            const std::int64_t got = Read(src.Get(), buf, sizeof buf);
            if (got < 0) return false;
            if (got == 0) return true;
            if (Write(dst.Get(), buf, got) != got) return false;
        }
    }
    std::string CreateUniqueFile(const std::string& directory, const std::string& prefix) override {
        errno = 0;
        std::string name = zarbel::CreateUniqueFile(directory, prefix);
        if (name.empty()) return name;
        // the permissions of any new file, not the private ones of a temporary file
        const THandle h = FileOpen(name, faReadWrite, TShareLock::None);
        const bool ok = h != kInvalidHandle && FileSetCreationMode(h);
        FileClose(h);
        if (!ok) {
            zarbel::DeleteFile(name);
            return {};
        }
        return name;
    }
    std::string TempDirectory() override { return zarbel::TempDirectory(); }
    std::string CurrentDirectory() override { return zarbel::CurrentDirectory(); }
    std::string ProgramDirectory() override { return ProgramDir(); }
    bool FindFiles(const std::string& directory, std::vector<DirEntry>& entries) override {
        return zarbel::FindFiles(directory, entries);
    }
    bool GetFileIdentity(const std::string& path, FileIdentity& out) override {
        return zarbel::GetFileIdentity(path, out);
    }

    int LastError() const override { return errno; }

    TDateTime Now() override { return zarbel::Now(); }
    void Sleep(int milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
};

}  // namespace

TEnv& TEnv::Default() {
    static TPosixEnv env;
    return env;
}

std::string TEnv::LastErrorText() const {
    const int error = LastError();
    return ErrorText(error != 0 ? error : EIO);
}

std::string TEnv::ErrorText(int error) {
    switch (error) {
        case kFileLockedElsewhere: return "locked by another process";
        case kFileNotRegular: return "not a regular file";
        default: return std::strerror(error);
    }
}

}  // namespace zarbel
