#include "platform/filesys.h"
#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <limits.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/codepage.h"

namespace zarbel {

namespace {

std::string WithSlash(std::string s) {
    if (s.empty() || s.back() != '/') s.push_back('/');
    return s;
}

std::u16string NtfsKey(std::string_view name) {
    std::u16string key;
    if (Utf8ToUtf16(name, key)) {
        for (char16_t& u : key) u = UpcaseUnit(u);
        return key;
    }
    key.clear();
    for (unsigned char c : name) key.push_back(static_cast<char16_t>(c >= 'a' && c <= 'z' ? c - 32 : c));
    return key;
}

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

}  // namespace

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) { return rename(from.c_str(), to.c_str()) == 0; }

std::string ProgramPath() {
    std::string buf(PATH_MAX, '\0');
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return std::string();
        if (static_cast<std::size_t>(n) < buf.size()) {
            buf.resize(static_cast<std::size_t>(n));
            return buf;
        }
        buf.resize(buf.size() * 2);
    }
}

std::string ProgramDir() {
    std::string path = ProgramPath();
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return CurrentDirectory();
    return path.substr(0, slash + 1);
}

std::string TempDirectory() {
    const char* t = std::getenv("TMPDIR");
    if (t && *t && DirectoryExists(t)) return WithSlash(t);
    return "/tmp/";
}

std::string PathDirectory(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string CurrentDirectory() {
    std::string buf(PATH_MAX, '\0');
    while (getcwd(buf.data(), buf.size()) == nullptr) {
        if (errno != ERANGE) return "./";
        buf.resize(buf.size() * 2);
    }
    buf.resize(std::strlen(buf.c_str()));
    return WithSlash(buf);
}

bool GetFileIdentity(const std::string& path, FileIdentity& out) {
    struct stat st;
    if (stat(path.empty() ? "." : path.c_str(), &st) != 0) return false;
    out.device = static_cast<std::uint64_t>(st.st_dev);
    out.inode = static_cast<std::uint64_t>(st.st_ino);
    return true;
}

bool GetHandleIdentity(int handle, FileIdentity& out) {
    struct stat st;
    if (fstat(handle, &st) != 0) return false;
    out.device = static_cast<std::uint64_t>(st.st_dev);
    out.inode = static_cast<std::uint64_t>(st.st_ino);
    return true;
}

TPathKind PathKind(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return errno == ENOENT ? TPathKind::None : TPathKind::Other;
    return S_ISREG(st.st_mode) ? TPathKind::Regular : TPathKind::Other;
}

bool LinkFile(const std::string& from, const std::string& to) { return link(from.c_str(), to.c_str()) == 0; }

int CompareNtfsNames(std::string_view a, std::string_view b) {
    int c = NtfsKey(a).compare(NtfsKey(b));
    if (c == 0) c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool FindFiles(const std::string& directory, std::vector<DirEntry>& entries) {
    entries.clear();
    const std::string dir = directory.empty() ? std::string(".") : directory;
    std::unique_ptr<DIR, DirCloser> d(opendir(dir.c_str()));
    if (!d) return false;
    const std::string prefix = WithSlash(dir);

    struct Keyed {
        std::u16string key;
        DirEntry entry;
    };
    std::vector<Keyed> found;
    bool sawDot = false, sawDotDot = false;
    for (;;) {
        errno = 0;
        struct dirent* e = readdir(d.get());
        if (e == nullptr) {
            if (errno != 0) return false;
            break;
        }
        std::string name = e->d_name;
        if (name == ".") { sawDot = true; continue; }
        if (name == "..") { sawDotDot = true; continue; }
        DirEntry entry;
        entry.name = name;
        struct stat st;
        const std::string full = prefix + name;
        if (lstat(full.c_str(), &st) == 0) {
            entry.isSymlink = S_ISLNK(st.st_mode);
            if (entry.isSymlink) {
                struct stat target;
                entry.isDirectory = stat(full.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
            } else {
                entry.isDirectory = S_ISDIR(st.st_mode);
            }
        }
        found.push_back({NtfsKey(name), std::move(entry)});
    }
    std::sort(found.begin(), found.end(), [](const Keyed& x, const Keyed& y) {
        int c = x.key.compare(y.key);
        return c != 0 ? c < 0 : x.entry.name < y.entry.name;
    });
    if (sawDot) entries.push_back({".", true, false});
    if (sawDotDot) entries.push_back({"..", true, false});
    for (Keyed& k : found) entries.push_back(std::move(k.entry));
    return true;
}

}  // namespace zarbel
