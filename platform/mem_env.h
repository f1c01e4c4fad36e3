// TMemEnv: an environment whose files live in memory, whose clock moves only when told (or by
// the sleeps it is asked for), and which fails chosen calls on demand. Tests hand it to a table
// or the tool to provoke every failure of a write, lock, rename or truncation in turn.
//
// Share locks and byte-range locks behave as the host's do: they belong to the handle, a
// conflicting one fails at once, and closing the handle releases them. The first page of a
// file is never mapped (MapHead answers nullptr), so every transfer is a call that can fail.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/env.h"

namespace zarbel {

// The kinds of call that can be made to fail. Writes are Write, WriteAt and WriteAt2; reads are
// Read and ReadAt; locks are LockRange (unlocks never fail).
enum class TEnvOp { Open, Create, Read, Write, Truncate, Lock, Delete, Rename, kCount };

class TMemEnv final : public TEnv {
public:
    TMemEnv();
    ~TMemEnv() override;

    // ---- What the tests arrange and look at ----
    // The Nth call of a kind from now on (1 = the next one) fails with error. A write given
    // shortBy > 0 instead moves all but its last shortBy bytes and fails with error.
    void FailNth(TEnvOp op, int nth, int error, std::int64_t shortBy = 0);
    // No failure planned any more; the call counters start again from 0.
    void ClearFaults();
    // Calls of a kind made since the counters last started.
    int Calls(TEnvOp op) const;
    // Read calls made on one file since it came into being.
    int Reads(const std::string& name) const;
    // Files as bytes, by name.
    std::string Contents(const std::string& name) const;
    void SetContents(const std::string& name, const std::string& bytes);
    // Every file's name and bytes (a snapshot to compare or restore).
    std::map<std::string, std::string> Files() const;
    void SetFiles(const std::map<std::string, std::string>& files);
    void AddDirectory(const std::string& path);
    void SetNow(TDateTime t);
    // When set, every write and lock call is noted there ("write /d/t.dbt @512+24").
    std::vector<std::string>* Trace = nullptr;

    // ---- TEnv ----
    THandle Open(const std::string& name, TFileAccess access, TShareLock share, int* error = nullptr) override;
    THandle Create(const std::string& name, TShareLock share, int* error = nullptr) override;
    void Close(THandle h) override;
    std::int64_t Read(THandle h, void* buffer, std::int64_t count) override;
    std::int64_t Write(THandle h, const void* buffer, std::int64_t count) override;
    std::int64_t ReadAt(THandle h, std::int64_t pos, void* buffer, std::int64_t count) override;
    std::int64_t WriteAt(THandle h, std::int64_t pos, const void* buffer, std::int64_t count) override;
    std::int64_t WriteAt2(THandle h, std::int64_t pos, const void* a, std::int64_t na, const void* b,
                          std::int64_t nb) override;
    std::int64_t Seek(THandle h, std::int64_t offset, int origin) override;
    std::int64_t SizeOf(THandle h) override;
    bool Truncate(THandle h, std::int64_t size) override;
    bool LockRange(THandle h, std::uint64_t offset, std::uint64_t length, bool exclusive) override;
    bool UnlockRange(THandle h, std::uint64_t offset, std::uint64_t length) override;
    bool UnlockAll(THandle h) override;
    bool ShareLockFree(THandle h) override;
    bool GetHandleIdentity(THandle h, FileIdentity& out) override;
    void* MapHead(THandle, bool, std::size_t& length) override {
        length = 0;
        return nullptr;
    }
    void UnmapHead(void*, std::size_t) override {}

    bool FileExists(const std::string& path) override;
    bool DirectoryExists(const std::string& path) override;
    bool DeleteFile(const std::string& path) override;
    bool RenameFile(const std::string& from, const std::string& to) override;
    bool LinkFile(const std::string& from, const std::string& to) override;
    TPathKind PathKind(const std::string& path) override;
    bool CopyFile(const std::string& from, const std::string& to) override;
    std::string CreateUniqueFile(const std::string& directory, const std::string& prefix) override;
    std::string TempDirectory() override { return "/tmp/"; }
    std::string CurrentDirectory() override { return "/work/"; }
    std::string ProgramDirectory() override { return "/bin/"; }
    bool FindFiles(const std::string& directory, std::vector<DirEntry>& entries) override;
    bool GetFileIdentity(const std::string& path, FileIdentity& out) override;

    int LastError() const override;

    TDateTime Now() override;
    void Sleep(int milliseconds) override;

private:
    struct TFile;
    struct TOpen;
    struct TFault {
        int Nth;
        int Error;
        std::int64_t ShortBy;
    };
    // Counts a call of op; true (with the reason set) when it is to fail. shortBy gets the
    // bytes a failing write still moves less.
    bool Fails(TEnvOp op, std::int64_t* shortBy = nullptr);
    bool Fail(int error);
    TOpen* Find(THandle h);
    std::string NameOf(const TOpen& o) const;
    std::int64_t Put(TOpen& o, std::int64_t pos, const void* data, std::int64_t count);

    mutable std::recursive_mutex Mu_;
    std::map<std::string, std::shared_ptr<TFile>> Files_;
    std::set<std::string> Dirs_;
    std::map<THandle, std::unique_ptr<TOpen>> Opens_;
    THandle NextHandle_ = 100;
    int Counts_[static_cast<int>(TEnvOp::kCount)] = {};
    std::multimap<TEnvOp, TFault> Faults_;
    int LastError_ = 0;
    TDateTime Now_ = 45000.5;  // 2023-03-15 12:00
    std::uint64_t Unique_ = 0;
};

}  // namespace zarbel
