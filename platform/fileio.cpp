#include "platform/fileio.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace zarbel {

namespace {

bool TakeShareLock(int fd, TShareLock share) {
    if (share == TShareLock::None) return true;
    int op = (share == TShareLock::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    for (;;) {
        if (::flock(fd, op) == 0) return true;
        if (errno != EINTR) return false;
    }
}

bool RangeLock(int fd, short type, std::uint64_t offset, std::uint64_t length) {
    if (fd < 0 || length == 0) return false;
    constexpr std::uint64_t kMax = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    if (offset > kMax || length > kMax - offset) return false;
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    fl.l_pid = 0;  // required for open-file-description locks
    for (;;) {
        if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return true;
        if (errno != EINTR) return false;
    }
}

}  // namespace

namespace {

// The handle of a fresh open when it is a regular file that takes the share lock; otherwise
// closes it and reports why.
THandle CheckedHandle(int fd, TShareLock share, int* error) {
    auto fail = [&](int why) {
        ::close(fd);
        if (error) *error = why;
        return kInvalidHandle;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(errno);
    if (!S_ISREG(st.st_mode)) return fail(kFileNotRegular);
    // Opened without blocking so that a FIFO could not hang the open; a regular file's reads
    // and writes are the same either way, but the flag goes back off all the same.
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) return fail(errno);
    if (!TakeShareLock(fd, share)) return fail(errno == EWOULDBLOCK ? kFileLockedElsewhere : errno);
    return fd;
}

}  // namespace

THandle FileOpen(const std::string& name, TFileAccess access, TShareLock share, int* error) {
    int flags;
    switch (access) {
        case faRead: flags = O_RDONLY; break;
        case faWrite: flags = O_WRONLY; break;
        case faReadWrite: flags = O_RDWR; break;
        default:
            if (error) *error = EINVAL;
            return kInvalidHandle;
    }
    int fd = ::open(name.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (error) *error = errno;
        return kInvalidHandle;
    }
    return CheckedHandle(fd, share, error);
}

THandle FileCreate(const std::string& name, TShareLock share, int* error) {
    int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd < 0) {
        if (error) *error = errno;
        return kInvalidHandle;
    }
    fd = CheckedHandle(fd, share, error);
    if (fd != kInvalidHandle && ::ftruncate(fd, 0) != 0) {
        if (error) *error = errno;
        ::close(fd);
        return kInvalidHandle;
    }
    return fd;
}

bool FileShareLockFree(THandle h) {
    if (h < 0 || !TakeShareLock(h, TShareLock::Exclusive)) return false;
    ::flock(h, LOCK_UN);
    return true;
}

void FileClose(THandle h) {
    if (h >= 0) ::close(h);
}

namespace {

// Moves count bytes through repeated calls of op(done, bytes left) (the host call for the piece
// at offset done, at most 1 GiB), resuming interrupted calls, until all is moved, op reports the
// end (0) or fails. Bytes moved; -1 when a call failed, or when nothing could be written.
template <typename Op>
std::int64_t Transfer(std::int64_t count, bool writing, Op op) {
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = op(done, static_cast<std::size_t>(std::min<std::int64_t>(count - done, 1 << 30)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += n;
    }
    return writing && done == 0 && count > 0 ? -1 : done;
}

}  // namespace

std::int64_t FileRead(THandle h, void* buffer, std::int64_t count) {
    if (h < 0 || count < 0) return -1;
    auto* p = static_cast<char*>(buffer);
    return Transfer(count, false, [&](std::int64_t done, std::size_t n) { return ::read(h, p + done, n); });
}

std::int64_t FileWrite(THandle h, const void* buffer, std::int64_t count) {
    if (h < 0 || count < 0) return -1;
    auto* p = static_cast<const char*>(buffer);
    return Transfer(count, true, [&](std::int64_t done, std::size_t n) { return ::write(h, p + done, n); });
}

std::int64_t FileReadAt(THandle h, std::int64_t pos, void* buffer, std::int64_t count) {
    if (h < 0 || count < 0 || pos < 0) return -1;
    auto* p = static_cast<char*>(buffer);
    return Transfer(count, false, [&](std::int64_t done, std::size_t n) {
        return ::pread(h, p + done, n, static_cast<off_t>(pos + done));
    });
}

std::int64_t FileWriteAt(THandle h, std::int64_t pos, const void* buffer, std::int64_t count) {
    if (h < 0 || count < 0 || pos < 0) return -1;
    auto* p = static_cast<const char*>(buffer);
    return Transfer(count, true, [&](std::int64_t done, std::size_t n) {
        return ::pwrite(h, p + done, n, static_cast<off_t>(pos + done));
    });
}

std::int64_t FileWriteAt2(THandle h, std::int64_t pos, const void* a, std::int64_t na, const void* b,
                          std::int64_t nb) {
    if (h < 0 || na < 0 || nb < 0 || pos < 0) return -1;
    struct iovec iov[2];
    iov[0].iov_base = const_cast<void*>(a);
    iov[0].iov_len = static_cast<std::size_t>(na);
    iov[1].iov_base = const_cast<void*>(b);
    iov[1].iov_len = static_cast<std::size_t>(nb);
    ssize_t n;
    do {
        n = ::pwritev(h, iov, 2, static_cast<off_t>(pos));
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -1;
    if (n == na + nb) return n;
    // A short transfer: the rest piece by piece.
    std::int64_t done = n;
    if (done < na) {
        std::int64_t r = FileWriteAt(h, pos + done, static_cast<const char*>(a) + done, na - done);
        if (r != na - done) return r < 0 ? (done > 0 ? done : -1) : done + r;
        done = na;
    }
    std::int64_t r = FileWriteAt(h, pos + done, static_cast<const char*>(b) + (done - na), na + nb - done);
    if (r < 0) return done > 0 ? done : -1;
    return done + r;
}

std::int64_t FileSeek(THandle h, std::int64_t offset, int origin) {
    if (h < 0) return -1;
    int whence;
    switch (origin) {
        case 0: whence = SEEK_SET; break;
        case 1: whence = SEEK_CUR; break;
        case 2: whence = SEEK_END; break;
        default: return -1;
    }
    off_t r = ::lseek(h, static_cast<off_t>(offset), whence);
    return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

std::int64_t FileSizeOf(THandle h) {
    struct stat st {};
    if (h < 0 || ::fstat(h, &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool FileTruncate(THandle h, std::int64_t size) {
    if (h < 0 || size < 0) return false;
    for (;;) {
        if (::ftruncate(h, static_cast<off_t>(size)) == 0) return true;
        if (errno != EINTR) return false;
    }
}

bool FileLockRange(THandle h, std::uint64_t offset, std::uint64_t length, bool exclusive) {
    return RangeLock(h, exclusive ? F_WRLCK : F_RDLCK, offset, length);
}

bool FileUnlockRange(THandle h, std::uint64_t offset, std::uint64_t length) {
    return RangeLock(h, F_UNLCK, offset, length);
}

bool FileUnlockAll(THandle h) {
    if (h < 0) return false;
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;  // to the end of every possible offset
    fl.l_pid = 0;
    for (;;) {
        if (::fcntl(h, F_OFD_SETLK, &fl) == 0) return true;
        if (errno != EINTR) return false;
    }
}

void* FileMapHead(THandle h, bool writable, std::size_t& length) {
    length = 0;
    if (h < 0) return nullptr;
    const long page = ::sysconf(_SC_PAGESIZE);
    if (page <= 0) return nullptr;
    void* p = ::mmap(nullptr, static_cast<std::size_t>(page), PROT_READ | (writable ? PROT_WRITE : 0), MAP_SHARED,
                     h, 0);
    if (p == MAP_FAILED) return nullptr;
    length = static_cast<std::size_t>(page);
    return p;
}

void FileUnmapHead(void* address, std::size_t length) {
    if (address && length > 0) ::munmap(address, length);
}

std::string CreateUniqueFile(const std::string& directory, const std::string& prefix) {
    std::string tmpl = directory + prefix + "XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    int fd = ::mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0) return {};
    ::close(fd);
    return std::string(buf.data());
}

bool FileSetCreationMode(THandle h) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return ::fchmod(h, 0666 & ~mask) == 0;
}

}  // namespace zarbel
