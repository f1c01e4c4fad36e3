#include "platform/mem_env.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/filesys.h"

namespace zarbel {

struct TMemEnv::TFile {
    std::string Bytes;
    int Reads = 0;
    int SharedOpens = 0;
    bool ExclusiveOpen = false;
    struct TRange {
        THandle Owner;
        std::uint64_t Offset, Length;
        bool Exclusive;
    };
    std::vector<TRange> Ranges;
};

struct TMemEnv::TOpen {
    std::shared_ptr<TFile> File;
    TFileAccess Access;
    TShareLock Share;
    std::int64_t Pos = 0;
};

namespace {

std::string Parent(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string WithSlash(std::string s) {
    if (s.empty() || s.back() != '/') s.push_back('/');
    return s;
}

}  // namespace

TMemEnv::TMemEnv() = default;
TMemEnv::~TMemEnv() = default;

void TMemEnv::FailNth(TEnvOp op, int nth, int error, std::int64_t shortBy) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    Faults_.insert({op, TFault{Counts_[static_cast<int>(op)] + nth, error, shortBy}});
}

void TMemEnv::ClearFaults() {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    Faults_.clear();
    std::fill(std::begin(Counts_), std::end(Counts_), 0);
}

int TMemEnv::Calls(TEnvOp op) const {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    return Counts_[static_cast<int>(op)];
}

bool TMemEnv::Fail(int error) {
    LastError_ = error;
    return false;
}

bool TMemEnv::Fails(TEnvOp op, std::int64_t* shortBy) {
    const int n = ++Counts_[static_cast<int>(op)];
    auto range = Faults_.equal_range(op);
    for (auto it = range.first; it != range.second; ++it)
        if (it->second.Nth == n) {
            LastError_ = it->second.Error;
            if (shortBy) *shortBy = it->second.ShortBy;
            return true;
        }
    return false;
}

int TMemEnv::Reads(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    auto it = Files_.find(name);
    return it == Files_.end() ? 0 : it->second->Reads;
}

std::string TMemEnv::Contents(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    auto it = Files_.find(name);
    return it == Files_.end() ? std::string() : it->second->Bytes;
}

void TMemEnv::SetContents(const std::string& name, const std::string& bytes) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    auto& f = Files_[name];
    if (!f) f = std::make_shared<TFile>();
    f->Bytes = bytes;
    Dirs_.insert(Parent(name));
}

std::map<std::string, std::string> TMemEnv::Files() const {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    std::map<std::string, std::string> out;
    for (const auto& [name, f] : Files_) out[name] = f->Bytes;
    return out;
}

void TMemEnv::SetFiles(const std::map<std::string, std::string>& files) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    for (auto it = Files_.begin(); it != Files_.end();)
        it = files.count(it->first) ? std::next(it) : Files_.erase(it);
    for (const auto& [name, bytes] : files) SetContents(name, bytes);
}

void TMemEnv::AddDirectory(const std::string& path) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    Dirs_.insert(WithSlash(path));
}

void TMemEnv::SetNow(TDateTime t) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    Now_ = t;
}

std::string TMemEnv::NameOf(const TOpen& o) const {
    for (const auto& [name, f] : Files_)
        if (f == o.File) return name;
    return "?";
}

TMemEnv::TOpen* TMemEnv::Find(THandle h) {
    auto it = Opens_.find(h);
    if (it == Opens_.end()) {
        LastError_ = EBADF;
        return nullptr;
    }
    return it->second.get();
}

THandle TMemEnv::Open(const std::string& name, TFileAccess access, TShareLock share, int* error) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    auto refuse = [&](int why) {
        LastError_ = why > 0 ? why : EACCES;
        if (error) *error = why;
        return kInvalidHandle;
    };
    if (Fails(TEnvOp::Open)) return refuse(LastError_);
    auto it = Files_.find(name);
    if (it == Files_.end()) return refuse(Dirs_.count(WithSlash(name)) ? kFileNotRegular : ENOENT);
    TFile& f = *it->second;
    if (share == TShareLock::Exclusive && (f.ExclusiveOpen || f.SharedOpens > 0)) return refuse(kFileLockedElsewhere);
    if (share == TShareLock::Shared && f.ExclusiveOpen) return refuse(kFileLockedElsewhere);
    if (share == TShareLock::Exclusive) f.ExclusiveOpen = true;
    if (share == TShareLock::Shared) ++f.SharedOpens;
    auto o = std::make_unique<TOpen>();
    o->File = it->second;
    o->Access = access;
    o->Share = share;
    const THandle h = NextHandle_++;
    Opens_[h] = std::move(o);
    if (error) *error = 0;
    return h;
}

THandle TMemEnv::Create(const std::string& name, TShareLock share, int* error) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    if (Fails(TEnvOp::Create)) {
        if (error) *error = LastError_;
        return kInvalidHandle;
    }
    if (Dirs_.count(WithSlash(name))) {
        LastError_ = EISDIR;
        if (error) *error = EISDIR;
        return kInvalidHandle;
    }
    if (!Dirs_.count(Parent(name))) {
        LastError_ = ENOENT;
        if (error) *error = ENOENT;
        return kInvalidHandle;
    }
    auto& slot = Files_[name];
    if (!slot) slot = std::make_shared<TFile>();
    THandle h = Open(name, faReadWrite, share, error);
    if (h != kInvalidHandle) slot->Bytes.clear();
    return h;
}

void TMemEnv::Close(THandle h) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    auto it = Opens_.find(h);
    if (it == Opens_.end()) return;
    TOpen& o = *it->second;
    if (o.Share == TShareLock::Exclusive) o.File->ExclusiveOpen = false;
    if (o.Share == TShareLock::Shared) --o.File->SharedOpens;
    std::erase_if(o.File->Ranges, [&](const TFile::TRange& r) { return r.Owner == h; });
    Opens_.erase(it);
}

std::int64_t TMemEnv::ReadAt(THandle h, std::int64_t pos, void* buffer, std::int64_t count) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    TOpen* o = Find(h);
    if (!o || pos < 0 || count < 0) return -1;
    if (Fails(TEnvOp::Read)) return -1;
    if (o->Access == faWrite) return Fail(EBADF), -1;
    ++o->File->Reads;
    const std::string& b = o->File->Bytes;
    if (pos >= static_cast<std::int64_t>(b.size())) return 0;
    const std::int64_t n = std::min<std::int64_t>(count, static_cast<std::int64_t>(b.size()) - pos);
    std::memcpy(buffer, b.data() + pos, static_cast<std::size_t>(n));
    return n;
}

std::int64_t TMemEnv::Put(TOpen& o, std::int64_t pos, const void* data, std::int64_t count) {
    if (Trace) Trace->push_back("write " + NameOf(o) + " @" + std::to_string(pos) + "+" + std::to_string(count));
    std::int64_t shortBy = 0;
    const bool fails = Fails(TEnvOp::Write, &shortBy);
    if (fails && shortBy <= 0) return -1;
    if (o.Access == faRead) return Fail(EBADF), -1;
    const std::int64_t n = fails ? std::max<std::int64_t>(0, count - shortBy) : count;
    std::string& b = o.File->Bytes;
    if (static_cast<std::int64_t>(b.size()) < pos + n) b.resize(static_cast<std::size_t>(pos + n), '\0');
    std::memcpy(b.data() + pos, data, static_cast<std::size_t>(n));
    if (fails) return n > 0 ? n : -1;
    return n;
}

std::int64_t TMemEnv::WriteAt(THandle h, std::int64_t pos, const void* buffer, std::int64_t count) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    TOpen* o = Find(h);
    if (!o || pos < 0 || count < 0) return -1;
    return Put(*o, pos, buffer, count);
}

std::int64_t TMemEnv::WriteAt2(THandle h, std::int64_t pos, const void* a, std::int64_t na, const void* b,
                               std::int64_t nb) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    TOpen* o = Find(h);
    if (!o || pos < 0 || na < 0 || nb < 0) return -1;
    std::string joined(static_cast<const char*>(a), static_cast<std::size_t>(na));
    joined.append(static_cast<const char*>(b), static_cast<std::size_t>(nb));
    return Put(*o, pos, joined.data(), na + nb);
}

std::int64_t TMemEnv::Read(THandle h, void* buffer, std::int64_t count) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    TOpen* o = Find(h);
    if (!o) return -1;
    const std::int64_t n = ReadAt(h, o->Pos, buffer, count);
    if (n > 0) o->Pos += n;
    return n;
}

std::int64_t TMemEnv::Write(THandle h, const void* buffer, std::int64_t count) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    TOpen* o = Find(h);
    if (!o || count < 0) return -1;
    const std::int64_t n = Put(*o, o->Pos, buffer, count);
    if (n > 0) o->Pos += n;
    return n;
}

std::int64_t TMemEnv::Seek(THandle h, std::int64_t offset, int origin) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    TOpen* o = Find(h);
    if (!o) return -1;
    std::int64_t base = origin == 0 ? 0 : origin == 1 ? o->Pos : static_cast<std::int64_t>(o->File->Bytes.size());
    if (origin < 0 || origin > 2 || base + offset < 0) return Fail(EINVAL), -1;
    o->Pos = base + offset;
    return o->Pos;
}

std::int64_t TMemEnv::SizeOf(THandle h) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    TOpen* o = Find(h);
    return o ? static_cast<std::int64_t>(o->File->Bytes.size()) : -1;
}

bool TMemEnv::Truncate(THandle h, std::int64_t size) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    TOpen* o = Find(h);
    if (!o || size < 0) return false;
    if (Fails(TEnvOp::Truncate)) return false;
    if (o->Access == faRead) return Fail(EINVAL);
    o->File->Bytes.resize(static_cast<std::size_t>(size), '\0');
    return true;
}

bool TMemEnv::LockRange(THandle h, std::uint64_t offset, std::uint64_t length, bool exclusive) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    TOpen* o = Find(h);
    if (!o || length == 0) return false;
    if (Trace) Trace->push_back("lock " + NameOf(*o) + " @" + std::to_string(offset));
    if (Fails(TEnvOp::Lock)) return false;
    if (exclusive && o->Access == faRead) return Fail(EBADF);
    for (const TFile::TRange& r : o->File->Ranges)
        if (r.Owner != h && r.Offset < offset + length && offset < r.Offset + r.Length && (r.Exclusive || exclusive))
            return Fail(EAGAIN);
    o->File->Ranges.push_back({h, offset, length, exclusive});
    return true;
}

bool TMemEnv::UnlockRange(THandle h, std::uint64_t offset, std::uint64_t length) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    TOpen* o = Find(h);
    if (!o) return false;
    std::erase_if(o->File->Ranges, [&](const TFile::TRange& r) {
        return r.Owner == h && r.Offset < offset + length && offset < r.Offset + r.Length;
    });
    return true;
}

bool TMemEnv::UnlockAll(THandle h) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    TOpen* o = Find(h);
    if (!o) return false;
    std::erase_if(o->File->Ranges, [&](const TFile::TRange& r) { return r.Owner == h; });
    return true;
}

bool TMemEnv::ShareLockFree(THandle h) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    TOpen* o = Find(h);
    return o && !o->File->ExclusiveOpen && o->File->SharedOpens == 0;
}

bool TMemEnv::GetHandleIdentity(THandle h, FileIdentity& out) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    TOpen* o = Find(h);
    if (!o) return false;
    out.device = 2;
    out.inode = reinterpret_cast<std::uintptr_t>(o->File.get());
    return true;
}

bool TMemEnv::LinkFile(const std::string& from, const std::string& to) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    auto it = Files_.find(from);
    if (it == Files_.end()) return Fail(ENOENT);
    if (Files_.count(to) || Dirs_.count(WithSlash(to))) return Fail(EEXIST);
    if (!Dirs_.count(Parent(to))) return Fail(ENOENT);
    Files_[to] = it->second;
    return true;
}

TPathKind TMemEnv::PathKind(const std::string& path) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    if (Files_.count(path)) return TPathKind::Regular;
    return Dirs_.count(WithSlash(path)) ? TPathKind::Other : TPathKind::None;
}

bool TMemEnv::FileExists(const std::string& path) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    return Files_.count(path) != 0;
}

bool TMemEnv::DirectoryExists(const std::string& path) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    return Dirs_.count(WithSlash(path)) != 0;
}

bool TMemEnv::DeleteFile(const std::string& path) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    if (Fails(TEnvOp::Delete)) return false;
    if (!Files_.erase(path)) return Fail(ENOENT);
    return true;
}

bool TMemEnv::RenameFile(const std::string& from, const std::string& to) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    if (Fails(TEnvOp::Rename)) return false;
    auto it = Files_.find(from);
    if (it == Files_.end()) return Fail(ENOENT);
    if (!Dirs_.count(Parent(to))) return Fail(ENOENT);
    std::shared_ptr<TFile> f = it->second;
    Files_.erase(it);
    Files_[to] = f;
    return true;
}

bool TMemEnv::CopyFile(const std::string& from, const std::string& to) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    auto it = Files_.find(from);
    if (it == Files_.end()) return Fail(ENOENT);
    if (!Dirs_.count(Parent(to))) return Fail(ENOENT);
    SetContents(to, it->second->Bytes);
    return true;
}

std::string TMemEnv::CreateUniqueFile(const std::string& directory, const std::string& prefix) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    if (Fails(TEnvOp::Create)) return {};
    if (!Dirs_.count(WithSlash(directory))) {
        LastError_ = ENOENT;
        return {};
    }
    for (;;) {
        char tail[8];
        std::snprintf(tail, sizeof tail, "%06llu", static_cast<unsigned long long>(++Unique_ % 1000000));
        std::string name = WithSlash(directory) + prefix + tail;
        if (Files_.count(name)) continue;
        SetContents(name, "");
        return name;
    }
}

bool TMemEnv::FindFiles(const std::string& directory, std::vector<DirEntry>& entries) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    entries.clear();
    const std::string dir = WithSlash(directory.empty() ? CurrentDirectory() : directory);
    if (!Dirs_.count(dir)) return Fail(ENOENT);
    std::set<std::string> names;
    std::set<std::string> subdirs;
    for (const auto& [name, f] : Files_)
        if (Parent(name) == dir) names.insert(name.substr(dir.size()));
    for (const std::string& d : Dirs_)
        if (d.size() > dir.size() && d.compare(0, dir.size(), dir) == 0 && d.find('/', dir.size()) == d.size() - 1)
            subdirs.insert(d.substr(dir.size(), d.size() - dir.size() - 1));
    entries.push_back({".", true, false});
    entries.push_back({"..", true, false});
    std::vector<DirEntry> found;
    for (const std::string& n : names) found.push_back({n, false, false});
    for (const std::string& n : subdirs) found.push_back({n, true, false});
    std::sort(found.begin(), found.end(),
              [](const DirEntry& a, const DirEntry& b) { return CompareNtfsNames(a.name, b.name) < 0; });
    entries.insert(entries.end(), found.begin(), found.end());
    return true;
}

bool TMemEnv::GetFileIdentity(const std::string& path, FileIdentity& out) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    if (auto f = Files_.find(path); f != Files_.end()) {
        out.device = 2;
        out.inode = reinterpret_cast<std::uintptr_t>(f->second.get());
        return true;
    }
    const std::string dir = WithSlash(path);
    auto it = Dirs_.find(dir);
    if (it == Dirs_.end()) return Fail(ENOENT);
    out.device = 1;
    out.inode = static_cast<std::uint64_t>(std::distance(Dirs_.begin(), it)) + 1;
    return true;
}

int TMemEnv::LastError() const {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    return LastError_;
}

TDateTime TMemEnv::Now() {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    return Now_;
}

void TMemEnv::Sleep(int milliseconds) {
    std::lock_guard<std::recursive_mutex> g(Mu_);
    Now_ += milliseconds / 86400000.0;
}

}  // namespace zarbel
