// TEnv: every service of the host that the engine and the tool use, behind one interface:
// file handles (open, positioned transfers, size, truncation, byte-range and whole-file
// locks), file names (existence, deletion, renaming, copying, temporary and well-known names,
// directory listings), the last failure's reason, the clock and sleeping.
//
// TEnv::Default() is the host's own (POSIX). Tests hand a table or the tool another one, such
// as TMemEnv (platform/mem_env.h): files in memory, a clock that moves only when told, and
// failures injected on chosen calls.
//
// Names are byte strings used exactly as given. Failures are results (-1, false,
// kInvalidHandle); the call that failed leaves its reason in LastError().
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zarbel {

using THandle = int;
inline constexpr THandle kInvalidHandle = -1;

enum TFileAccess : int { faRead = 0, faWrite = 1, faReadWrite = 2 };
// The lock on the whole file that emulates a share mode: Exclusive keeps every other open
// that takes a share lock out, Shared coexists with other Shared opens only.
enum class TShareLock { None, Shared, Exclusive };

// Why a call failed: an errno value, or one of these two.
inline constexpr int kFileLockedElsewhere = -1;  // the share lock conflicts with another open
inline constexpr int kFileNotRegular = -2;       // a directory, FIFO, device or socket

// A directory entry, as a listing gives it.
struct DirEntry {
    std::string name;          // the name's bytes
    bool isDirectory = false;  // a directory, or a symbolic link to one
    bool isSymlink = false;
};

// Identity of a directory (device and inode), to recognise one reached a second time.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
    bool operator<(const FileIdentity& o) const {
        return device != o.device ? device < o.device : inode < o.inode;
    }
};

// What a path names (links followed): nothing, a regular file, or anything else (a
// directory, a device, a FIFO, a socket).
enum class TPathKind { None, Regular, Other };

using TDateTime = double;

class TEnv {
public:
    virtual ~TEnv() = default;
    // The host's environment; lives as long as the program.
    static TEnv& Default();

    // ---- File handles ----
    // Opens an existing regular file without waiting (a FIFO or device is refused). error, when
    // given, gets the reason of a failure.
    virtual THandle Open(const std::string& name, TFileAccess access, TShareLock share, int* error = nullptr) = 0;
    // Creates the file, or opens and empties an existing regular one, for reading and writing.
    // The share lock is taken before anything is cut.
    virtual THandle Create(const std::string& name, TShareLock share, int* error = nullptr) = 0;
    virtual void Close(THandle h) = 0;
    // Bytes moved (fewer only at the end of the file, or when a write could not go on), -1 on
    // failure. The positioned forms leave the file position where it was.
    virtual std::int64_t Read(THandle h, void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Write(THandle h, const void* buffer, std::int64_t count) = 0;
    virtual std::int64_t ReadAt(THandle h, std::int64_t pos, void* buffer, std::int64_t count) = 0;
    virtual std::int64_t WriteAt(THandle h, std::int64_t pos, const void* buffer, std::int64_t count) = 0;
    // Two pieces written one after the other from pos: bytes written in all, -1 on failure.
    virtual std::int64_t WriteAt2(THandle h, std::int64_t pos, const void* a, std::int64_t na, const void* b,
                                  std::int64_t nb) = 0;
    // New position, -1 on failure. Origin 0 beginning, 1 current, 2 end.
    virtual std::int64_t Seek(THandle h, std::int64_t offset, int origin) = 0;
    virtual std::int64_t SizeOf(THandle h) = 0;
    // Cuts (or extends with zeros) the file to size bytes.
    virtual bool Truncate(THandle h, std::int64_t size) = 0;
    // One range locked without waiting (exclusive: a write lock, which needs a handle open for
    // writing); locks belong to the handle, so two handles conflict even in one process.
    virtual bool LockRange(THandle h, std::uint64_t offset, std::uint64_t length, bool exclusive) = 0;
    virtual bool UnlockRange(THandle h, std::uint64_t offset, std::uint64_t length) = 0;
    // Every range lock of the handle released in one call.
    virtual bool UnlockAll(THandle h) = 0;
    // True when nobody holds a share lock on the handle's file (the test takes none).
    virtual bool ShareLockFree(THandle h) = 0;
    virtual bool GetHandleIdentity(THandle h, FileIdentity& out) = 0;
    // The first page of the file as shared memory (the file's own bytes), or nullptr when the
    // environment cannot map it; callers then use the transfers above.
    virtual void* MapHead(THandle h, bool writable, std::size_t& length) = 0;
    virtual void UnmapHead(void* address, std::size_t length) = 0;

    // ---- File names ----
    virtual bool FileExists(const std::string& path) = 0;       // a non-directory entry
    virtual bool DirectoryExists(const std::string& path) = 0;  // links followed
    virtual bool DeleteFile(const std::string& path) = 0;
    virtual bool RenameFile(const std::string& from, const std::string& to) = 0;
    // A second name for a file; fails (EEXIST) when the name is taken.
    virtual bool LinkFile(const std::string& from, const std::string& to) = 0;
    virtual TPathKind PathKind(const std::string& path) = 0;
    // Copies the bytes of from into a new or emptied file to.
    virtual bool CopyFile(const std::string& from, const std::string& to) = 0;
    // Creates a new empty file named directory + prefix + 6 unique characters (directory ends
    // with '/'), with the permissions any new file gets; its name, or "" when it cannot be
    // created.
    virtual std::string CreateUniqueFile(const std::string& directory, const std::string& prefix) = 0;
    // Directories ending in '/': temporary files, the current one, the running program's.
    virtual std::string TempDirectory() = 0;
    virtual std::string CurrentDirectory() = 0;
    virtual std::string ProgramDirectory() = 0;
    // Every entry of a directory ("" the current one), "." and ".." first, then the names in
    // NTFS order (CompareNtfsNames). False when it cannot be read.
    virtual bool FindFiles(const std::string& directory, std::vector<DirEntry>& entries) = 0;
    virtual bool GetFileIdentity(const std::string& path, FileIdentity& out) = 0;

    // ---- Failures ----
    // The reason of the last failed call made through this environment on this thread.
    virtual int LastError() const = 0;
    // A reason as text: "locked by another process", "not a regular file", or the host's
    // description of the errno value.
    static std::string ErrorText(int error);
    // The last failure's text; a call that failed without a reason from the host counts as an
    // input/output error.
    std::string LastErrorText() const;

    // ---- Time ----
    virtual TDateTime Now() = 0;
    virtual void Sleep(int milliseconds) = 0;
};

// Closes a handle of an environment when it goes out of scope.
class TEnvHandle {
public:
    TEnvHandle(TEnv& env, THandle h) : Env_(env), H_(h) {}
    ~TEnvHandle() {
        if (H_ != kInvalidHandle) Env_.Close(H_);
    }
    TEnvHandle(const TEnvHandle&) = delete;
    TEnvHandle& operator=(const TEnvHandle&) = delete;
    THandle Get() const { return H_; }

private:
    TEnv& Env_;
    THandle H_;
};

}  // namespace zarbel
