#include "tool/output_guard.h"

#include <cerrno>
#include <exception>

#include "index/HXDBFNTX.h"
#include "engine/HXDBFMemoFile.h"
#include "platform/env.h"

namespace zarbel {

namespace {

constexpr std::uint64_t kGuardOffset = std::uint64_t{1} << 40;

// Whether the engine opens the file as a table (read only, sharing it with everyone).
bool IsTable(TEnv& env, const std::string& path) {
    try {
        THXDBFNTX t;
        t.SetEnv(env);
        t.AccessMode().SetAccessMode(0x40);
        t.SetBufferSize(1 << 20);  // a table of long records is a table too
        t.SetDBFFileName(path);
        t.Open();
        t.Close();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A new empty file beside the output, open for writing; its name (which holds no ".DBF") goes
// to `temp`.
THandle NewPlaceholder(TEnv& env, const std::string& directory, std::string& temp) {
    temp = env.CreateUniqueFile(directory.empty() ? "./" : directory, ".zarbel-");
    if (temp.empty()) return kInvalidHandle;
    const THandle fd = env.Open(temp, faReadWrite, TShareLock::None);
    if (fd == kInvalidHandle) env.DeleteFile(temp);
    return fd;
}

}  // namespace

OutputGuard::~OutputGuard() {
    if (handle_ != kInvalidHandle) env_.Close(handle_);
}

OutputGuard::Result OutputGuard::Acquire(const std::string& path) {
    path_ = path;
    if (MemoFileNameFor(path, 0x8B, xBaseIV) == path) return kMemoPath;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const TPathKind kind = env_.PathKind(path);
        if (kind == TPathKind::Other) return kNotATable;
        // The old output: held under the guard lock while it is checked and replaced.
        THandle old = kInvalidHandle;
        if (kind == TPathKind::Regular) {
            old = env_.Open(path, faReadWrite, TShareLock::None);
            const bool writable = old != kInvalidHandle;
            if (!writable) old = env_.Open(path, faRead, TShareLock::None);
            if (old == kInvalidHandle) return kNotATable;
            TEnvHandle oldGuard(env_, old);
            if (!env_.LockRange(old, kGuardOffset, 1, writable)) return kBusy;
            if (!env_.ShareLockFree(old)) return kInUse;
            if (!IsTable(env_, path)) return kNotATable;
            // The old file stays locked (oldGuard) until the placeholder has replaced it.
            std::string temp;
            const THandle fd = NewPlaceholder(env_, DirectoryOf(path), temp);
            if (fd < 0) return kUnguarded;
            if (!env_.LockRange(fd, kGuardOffset, 1, true) || !env_.RenameFile(temp, path)) {
                env_.DeleteFile(temp);
                env_.Close(fd);
                return kUnguarded;
            }
            handle_ = fd;
            env_.GetHandleIdentity(fd, identity_);
            return kGuarded;
        }
        std::string temp;
        const THandle fd = NewPlaceholder(env_, DirectoryOf(path), temp);
        if (fd < 0) return kUnguarded;
        const bool locked = env_.LockRange(fd, kGuardOffset, 1, true);
        const bool linked = locked && env_.LinkFile(temp, path);
        const int linkError = env_.LastError();
        env_.DeleteFile(temp);
        if (linked) {
            handle_ = fd;
            env_.GetHandleIdentity(fd, identity_);
            return kGuarded;
        }
        env_.Close(fd);
        if (!locked || linkError != EEXIST) return kUnguarded;
        // Another file appeared at the path meanwhile: check it like an old output.
    }
    return kBusy;
}

void OutputGuard::RemoveFile() {
    if (handle_ < 0) return;
    FileIdentity now;
    if (env_.GetFileIdentity(path_, now) && now == identity_) env_.DeleteFile(path_);
}

}  // namespace zarbel
