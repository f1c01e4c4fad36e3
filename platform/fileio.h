// Host file primitives: open/create with an emulated share mode, positioned read and write,
// seek, truncate, size, one-byte range locks and unique temporary files. Names are byte
// strings used exactly as given. Every failure is a result (-1, false, kInvalidHandle).
//
// Share modes are emulated with flock() on the whole file, taken without waiting:
//   TShareLock::Exclusive  LOCK_EX: no other open of the file (in this or another process)
//                          that takes a share lock can coexist with it;
//   TShareLock::Shared     LOCK_SH: coexists with other Shared opens, conflicts with Exclusive;
//   TShareLock::None       no share lock at all.
// A conflicting open fails at once. flock locks belong to the open file description, so two
// opens inside one process conflict exactly as two processes do.
//
// Range locks are Linux open-file-description locks (F_OFD_SETLK, never the waiting form):
// they fail at once when another open file description holds an overlapping range, also
// within one process, and are released when the description is closed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/env.h"

namespace zarbel {

// Opens an existing regular file. kInvalidHandle when the file cannot be opened, is not a
// regular file or the share lock conflicts with another open; error (when given) says why.
// The open never waits: a FIFO without a writer or a device is refused, not waited for.
THandle FileOpen(const std::string& name, TFileAccess access, TShareLock share, int* error = nullptr);
// Creates the file or opens and empties an existing regular one, for reading and writing. The
// share lock is taken before anything is cut, so a file that another open holds is left
// intact. error (when given) says why it failed.
THandle FileCreate(const std::string& name, TShareLock share, int* error = nullptr);
void FileClose(THandle h);

// Closes its handle when it goes out of scope.
class TFileGuard {
public:
    explicit TFileGuard(THandle h) : H_(h) {}
    ~TFileGuard() { FileClose(H_); }
    TFileGuard(const TFileGuard&) = delete;
    TFileGuard& operator=(const TFileGuard&) = delete;
    THandle Get() const { return H_; }

private:
    THandle H_;
};

// Bytes moved (fewer only at the end of the file), -1 on failure. Interrupted calls resume.
std::int64_t FileRead(THandle h, void* buffer, std::int64_t count);
std::int64_t FileWrite(THandle h, const void* buffer, std::int64_t count);
// The same at an absolute position, leaving the file position where it was (one pread /
// pwrite per transfer as a rule).
std::int64_t FileReadAt(THandle h, std::int64_t pos, void* buffer, std::int64_t count);
std::int64_t FileWriteAt(THandle h, std::int64_t pos, const void* buffer, std::int64_t count);
// Two pieces written one after the other from pos, in one gathering call as a rule: bytes
// written in all, -1 on failure.
std::int64_t FileWriteAt2(THandle h, std::int64_t pos, const void* a, std::int64_t na, const void* b, std::int64_t nb);
// New position, -1 on failure. Origin 0 beginning, 1 current, 2 end.
std::int64_t FileSeek(THandle h, std::int64_t offset, int origin);
// Size in bytes without moving the position, -1 on failure.
std::int64_t FileSizeOf(THandle h);
// Cuts (or extends with zeros) the file to size bytes.
bool FileTruncate(THandle h, std::int64_t size);

// One range [offset, offset + length) locked without waiting; length 0 is refused.
// exclusive: a write lock (the handle must be open for writing), else a read lock.
bool FileLockRange(THandle h, std::uint64_t offset, std::uint64_t length, bool exclusive);
bool FileUnlockRange(THandle h, std::uint64_t offset, std::uint64_t length);
// Releases every range lock that this open of the file holds, in one call.
bool FileUnlockAll(THandle h);
// True when no other open of the file holds a share lock (TShareLock) that an exclusive one
// would conflict with; the test takes and drops an exclusive share lock on this handle.
bool FileShareLockFree(THandle h);

// The first page of the file mapped shared: the view is the file's own bytes (the same page
// cache that reads and writes go through), writable when asked and the handle allows it.
// Returns the address (nullptr on failure) and sets length to the mapped length: one page.
// Bytes past the end of the file within that page are not part of the file: callers keep
// to the file's size. FileUnmapHead releases such a mapping.
void* FileMapHead(THandle h, bool writable, std::size_t& length);
void FileUnmapHead(void* address, std::size_t length);

// Creates a new empty file named directory + prefix + 6 unique characters (directory must
// end with '/') and returns its name; "" when it cannot be created.
std::string CreateUniqueFile(const std::string& directory, const std::string& prefix);
// Gives an open file the permissions that a file made by FileCreate gets (0666 less the
// umask); a file from CreateUniqueFile starts with 0600.
bool FileSetCreationMode(THandle h);

}  // namespace zarbel
