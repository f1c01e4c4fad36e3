// File access layer: TAccessMode (open and share mode of one file), TProxyStream (the only
// path to the bytes of a table, memo or index file: a disk file, an owned memory stream or
// an application's stream), GetTempName, and the flag objects TTableFlag / TFieldFlag.
//
// Positions and sizes are 64-bit. Failures are results: -1 from Read, Write, Seek and
// GetFileSize, false from Lock, Unlock and IsOpen, a closed proxy after a failed open.
//
// Share modes of an AccessMode value are emulated between programs using this engine with a
// whole-file flock taken without waiting (a conflicting open fails at once, IsOpen false):
//   value & 0xF0   meaning                      host lock
//   0x00, 0x10     no sharing                   exclusive
//   0x20           deny write to others         exclusive: no other open at all, which is
//                                               stricter than letting other readers in but
//                                               guarantees that nobody else writes (the lock
//                                               protocols skip all locking in this mode)
//   0x30           deny read to others          shared
//   0x40           deny none                    shared (several writers coordinate through
//                                               the byte-range locks)
//   above 0x40     invalid                      the open fails
// value & 3: 0 read, 1 write, 2 read and write, 3 the open fails.
// CreateProxyStream takes the exclusive lock before it empties an existing file.
//
// A disk file opened with a mode that keeps other writers out (share bits 0x00, 0x10, 0x20)
// also holds one byte-range lock over [0, 2^32), which covers the lock bytes of every xBase
// protocol, for as long as it is open: a write lock on a handle open for writing, a read lock
// otherwise. A program that honours the byte locks but not the whole-file lock then fails to
// lock a record or the header, as it could not have opened the file on the original platform.
//
// Write-behind (SetWriteBehind, for files nobody else can write): positioned writes that
// extend the file are gathered in a block and written with one call when the block is full,
// when a write does not continue it, before any sequential transfer, seek, size change or
// lock, before a positioned read that reaches into it, and at Flush and Close. Writes inside
// the first HeadLength bytes (the header) go to an image of them, written right after the
// block, so the header on disk never describes data that is not there yet. Reads of that
// range are served from the image. OnBeforeFlush runs first at every flush (a table flushes
// its memo file there, so no record on disk references a memo entry that is not; and when
// the memo file's flush fails, OnFlushFailed lets the table drop its block too).
//
// Read block (SetReadBlock, for read-only files nobody else can write): positioned reads are
// served from one block of the file read ahead with one call.
//
// Byte-range locks (Lock/Unlock on a disk file) are one range at the given unsigned 32-bit
// offset, carried in a 64-bit file offset, as open-file-description locks that never wait.
// A handle open for writing takes write locks, so two writers (in one process or in two)
// always exclude each other; a read-only handle cannot hold a write lock and takes a read
// lock instead, which excludes every writer while it is held.
//
// An opened disk file (read, or read and write) has its first page mapped shared: positioned
// transfers that lie wholly inside the bytes the file had there when it was opened are
// copies from and to that view instead of system calls (the table and memo headers are read
// under every lock and written after every append). The view is the file's own page cache,
// so other programs' reads and writes see the same bytes. Cutting the file shrinks the
// usable part of the view with it; writes that extend the file always go to the host. (A
// program that ignores the share mode and cuts the file to nothing while it is open here
// would make the next header access fault: xBase programs never cut a table or memo file
// below its header.)
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/HXDBFFlags.h"
#include "engine/HXDBFMemMgr.h"
#include "platform/env.h"
#include "platform/streams.h"

namespace zarbel {

class TAccessMode {
public:
    static constexpr std::uint32_t kOpenWrite = 0x01;
    static constexpr std::uint32_t kOpenReadWrite = 0x02;
    static constexpr std::uint32_t kShareExclusive = 0x10;
    static constexpr std::uint32_t kShareDenyWrite = 0x20;
    static constexpr std::uint32_t kShareDenyNone = 0x40;

    // Reading composes the value from the six flags and refreshes the cached value.
    std::uint32_t AccessMode();
    // Writing clears the flags, sets OpenRead, then each flag whose bit is set; other bits
    // are ignored. The cached value is not refreshed.
    void SetAccessMode(std::uint32_t v);
    // The value computed by the last read of AccessMode (0 before the first read).
    std::uint32_t CachedAccessMode() const { return Cached_; }
    // The cached value keeps every other writer out: share bits 0x00, 0x10 or 0x20.
    bool KeepsWritersOut() const {
        const std::uint32_t share = Cached_ & 0xF0;
        return share == 0 || share == kShareExclusive || share == kShareDenyWrite;
    }
    // The locking protocols skip every lock: the share bits keep other writers out, or have
    // 0x10 or 0x20 set (0x30 as well, as xBase programs treat it).
    bool NoSharing() const { return KeepsWritersOut() || (Cached_ & 0xF0) == (kShareExclusive | kShareDenyWrite); }

    bool OpenRead() const { return OpenRead_; }
    void SetOpenRead(bool v) { OpenRead_ = v; }
    bool OpenWrite() const { return OpenWrite_; }
    void SetOpenWrite(bool v) { OpenWrite_ = v; }
    bool OpenReadWrite() const { return OpenReadWrite_; }
    void SetOpenReadWrite(bool v) { OpenReadWrite_ = v; }
    bool ShareExclusive() const { return ShareExclusive_; }
    void SetShareExclusive(bool v) { ShareExclusive_ = v; }
    bool ShareDenyWrite() const { return ShareDenyWrite_; }
    void SetShareDenyWrite(bool v) { ShareDenyWrite_ = v; }
    bool ShareDenyNone() const { return ShareDenyNone_; }
    void SetShareDenyNone(bool v) { ShareDenyNone_ = v; }

private:
    bool OpenRead_ = true;
    bool OpenWrite_ = false;
    bool OpenReadWrite_ = false;
    bool ShareExclusive_ = true;
    bool ShareDenyWrite_ = false;
    bool ShareDenyNone_ = false;
    std::uint32_t Cached_ = 0;
};

enum TProxyStreamType : std::uint8_t { pstFile, pstInnerStream, pstOuterStream };

class TProxyStream;
// Lock hooks of an outer stream; the flag starts false and the handler may set it.
using TLockEvent = std::function<void(TProxyStream* Sender, TProxyStreamType ProxyStreamType, TStream* Stream,
                                      bool& LockSuccess)>;
using TUnlockEvent = std::function<void(TProxyStream* Sender, TProxyStreamType ProxyStreamType, TStream* Stream,
                                        bool& UnlockSuccess)>;

class TProxyStream {
public:
    TProxyStream() = default;
    // Closes whatever is open, also a disk file left open under another storage type.
    ~TProxyStream() {
        Flush();
        UnmapHead();
        if (Handle_ != kInvalidHandle) Env_->Close(Handle_);
    }
    TProxyStream(const TProxyStream&) = delete;
    TProxyStream& operator=(const TProxyStream&) = delete;

    // Disk file: opens FileName with AccessMode (reading the value, which refreshes its cache).
    // Memory storages: position 0, open.
    void OpenProxyStream();
    // Disk file: creates FileName (an existing file is emptied), read/write, no sharing.
    // Memory storages: size 0, position 0, open.
    void CreateProxyStream();
    // Disk file: closes the handle. Memory storages: only the open flag (the bytes stay).
    void Close();
    bool IsOpen() const;
    // Why the last open or create of the disk file failed: " (<reason>)", or "" when it did
    // not fail or there is no disk file. Ready to follow a failure message.
    std::string OpenFailureNote() const;
    // The reason itself: the host's error code, kFileLockedElsewhere, kFileNotRegular or 0
    // (TEnv::ErrorText gives its text).
    int OpenError() const { return OpenError_; }

    std::int64_t Read(void* buffer, std::int64_t count);
    std::int64_t Write(const void* buffer, std::int64_t count);
    std::int64_t Seek(std::int64_t offset, int origin);
    // Cuts the storage at the current position.
    bool SetEndOfFile();
    std::int64_t GetFileSize();
    // Reads / writes exactly count bytes at pos; false on a seek failure or a short transfer.
    bool ReadAt(std::int64_t pos, void* buffer, std::int64_t count);
    bool WriteAt(std::int64_t pos, const void* buffer, std::int64_t count);

    // Positioned transfers that leave the stream position unchanged: bytes moved (fewer only
    // at the end), -1 on failure. One system call per transfer on a disk file.
    std::int64_t PRead(std::int64_t pos, void* buffer, std::int64_t count);
    std::int64_t PWrite(std::int64_t pos, const void* buffer, std::int64_t count);
    // Two pieces written one after the other from pos (one system call on a disk file).
    std::int64_t PWrite2(std::int64_t pos, const void* a, std::int64_t na, const void* b, std::int64_t nb);

    // Disk file: byte-range lock of [Offset, Offset + Length); inner stream: true; outer
    // stream: OnLockEvent decides (true when none is set).
    bool Lock(std::uint32_t Offset, std::uint32_t Length);
    bool Unlock(std::uint32_t Offset, std::uint32_t Length);
    // Releases every byte-range lock this proxy holds on a disk file in one host call; false
    // on other storages (their callers release lock by lock).
    bool UnlockAll();

    // Gathers writes of a disk file in a block of blockSize bytes and its first headLength
    // bytes in an image (see above); 0 turns it off (after a flush). Until the next open.
    void SetWriteBehind(std::int64_t blockSize, std::int64_t headLength);
    // Serves positioned reads of a disk file from a block of blockSize bytes; until the next open.
    void SetReadBlock(std::int64_t blockSize, std::int64_t headLength);
    bool WriteBehind() const { return WbCap_ > 0; }
    // Writes what the write-behind block and the header image hold; false when that fails:
    // the file is then cut back to where the block began (whole records stay whole), the
    // gathered bytes and the header image are dropped, and the host's reason is LastError.
    bool Flush();
    // Bytes gathered and not yet written.
    std::int64_t PendingBytes() const { return WbLen_; }
    std::function<bool()> OnBeforeFlush;
    // Runs when a flush fails (a table drops its own block then: its records may reference
    // memo entries that were lost).
    std::function<void()> OnFlushFailed;
    // Drops what the write-behind block and the header image hold, unwritten.
    void Discard();

    // Replaces the contents with those of another disk file; the open state is unchanged.
    // False when that file cannot be opened or read, or this storage cannot be written.
    bool LoadFromFile(const std::string& fileName);

    TAccessMode& AccessMode() { return AccessMode_; }
    const TAccessMode& AccessMode() const { return AccessMode_; }
    const std::string& FileName() const { return FileName_; }
    void SetFileName(const std::string& name) { FileName_ = name; }
    TProxyStreamType ProxyStreamType() const { return Type_; }
    void SetProxyStreamType(TProxyStreamType t) { Type_ = t; }
    TMemoryStream& InnerStream() { return Inner_; }
    TStream* OuterStream() const { return Outer_; }
    void SetOuterStream(TStream* s) { Outer_ = s; }
    THandle Handle() const { return Handle_; }
    // The host environment the disk file goes through (TEnv::Default() unless set).
    TEnv& Env() const { return *Env_; }
    void SetEnv(TEnv& env) { Env_ = &env; }

    TLockEvent OnLockEvent;
    TUnlockEvent OnUnlockEvent;

    // Number of byte-range lock and unlock calls made to the host so far (observability).
    std::uint64_t PlatformLockCalls() const { return PlatformLockCalls_.load(); }
    // Bytes at the start of the disk file served by the mapped view (0: none).
    std::int64_t MappedHeadLength() const { return HeadLen_; }

private:
    TStream* MemoryStorage();
    // An outer stream's lock or unlock: the handler decides (true when none is set).
    bool AskOuterStream(const TLockEvent& event);
    // Whether [pos, pos + count) lies inside the mapped head.
    bool InHead(std::int64_t pos, std::int64_t count) const;
    // Maps the file's first page: the header reads and writes of every shared append (the
    // refresh under the header lock, the new record count) then make no system call.
    // Measured on shared (0x42) appends, two runs: without it 7 system calls per append
    // instead of 5, 1.36-1.49x the wall time, 1.30-1.37x the CPU time; no difference on
    // shared reads.
    void MapHead(TFileAccess access);
    void UnmapHead();
    // Write-behind and read block helpers.
    bool Buffered() const { return Type_ == pstFile && (WbCap_ > 0 || RbCap_ > 0); }
    // Flushes and drops the blocks and the header image (open, create, close).
    void Forget();
    // Flushes, then forgets what is known of the file (a sequential transfer follows).
    bool Settle();
    bool KnowDiskSize();
    bool LoadHeadImage();
    // Gathers na + nb bytes written at pos into the block or the header image; false when
    // they must go to the file (after what the block held was flushed), -1 in result on a
    // failed flush.
    bool Gather(std::int64_t pos, const void* a, std::int64_t na, const void* b, std::int64_t nb,
                std::int64_t& result);
    std::int64_t DirectWrite(std::int64_t pos, const void* a, std::int64_t na, const void* b, std::int64_t nb);

    std::int64_t WbCap_ = 0;       // write-behind block size (0: off)
    TMemBlock WbBuf_;
    std::int64_t WbStart_ = 0;     // file position of the block's first byte
    std::int64_t WbLen_ = 0;       // bytes in the block
    std::int64_t RbCap_ = 0;       // read block size (0: off)
    TMemBlock RbBuf_;
    std::int64_t RbStart_ = 0;
    std::int64_t RbLen_ = 0;
    std::int64_t DiskSize_ = -1;   // the file's size on disk (-1: not known)
    std::int64_t HeadCap_ = 0;     // bytes at the start kept in the header image
    TMemBlock HeadImg_;
    std::int64_t HeadImgLen_ = -1; // bytes of the image loaded (-1: not loaded)
    bool HeadDirty_ = false;

    void* Head_ = nullptr;        // the mapped first page, or nullptr
    std::size_t HeadMapLen_ = 0;  // its mapped length
    std::int64_t HeadLen_ = 0;    // the part of it that is inside the file
    bool HeadWritable_ = false;

    TEnv* Env_ = &TEnv::Default();
    THandle Handle_ = kInvalidHandle;
    int OpenError_ = 0;  // why the last disk-file open or create failed (0: it did not)
    bool Writable_ = false;
    TAccessMode AccessMode_;
    std::string FileName_;
    TMemoryStream Inner_;
    bool InnerOpen_ = false;
    TStream* Outer_ = nullptr;
    bool OuterOpen_ = false;
    TProxyStreamType Type_ = pstFile;
    std::atomic<std::uint64_t> PlatformLockCalls_{0};
};

// A new, empty, uniquely named file "HXT......" in Directory (the current directory when
// empty; the system temporary directory for "SYSTEM_TMP_PATH"); its full name, or "" when
// it cannot be created.
std::string GetTempName(TEnv& env, const std::string& Directory);

}  // namespace zarbel
