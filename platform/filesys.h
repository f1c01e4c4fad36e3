// File system services of the host: existence, deletion, renaming, well-known directories and
// a directory search in the order a Windows NTFS volume lists names. Names are byte strings
// and are used unchanged for every operation.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"

namespace zarbel {

bool DirectoryExists(const std::string& path);  // follows symbolic links
bool FileExists(const std::string& path);       // a non-directory entry (links followed)
bool DeleteFile(const std::string& path);       // false when nothing was deleted
bool RenameFile(const std::string& from, const std::string& to);

// Full path of the running program (/proc/self/exe) and its directory, ending in '/'.
std::string ProgramPath();
std::string ProgramDir();
// The system's directory for temporary files ($TMPDIR, else /tmp), ending in '/'.
std::string TempDirectory();
// The current directory, ending in '/'.
std::string CurrentDirectory();

bool GetFileIdentity(const std::string& path, FileIdentity& out);
// The identity of an open file.
bool GetHandleIdentity(int handle, FileIdentity& out);

TPathKind PathKind(const std::string& path);

// A second name for a file; fails (false) when `to` exists.
bool LinkFile(const std::string& from, const std::string& to);

// Every entry of a directory ("" means the current one), hidden ones included, in NTFS
// order: "." and ".." first, then the names compared case-insensitively (see
// CompareNtfsNames). False when the directory cannot be read.
bool FindFiles(const std::string& directory, std::vector<DirEntry>& entries);

// NTFS name order: names that are UTF-8 compare by their upper-cased UTF-16 code units;
// a name that is not valid UTF-8 takes each byte as one unit (ASCII letters upper-cased).
// Names equal that way are ordered by their bytes, so the order is total. <0 / 0 / >0.
int CompareNtfsNames(std::string_view a, std::string_view b);

}  // namespace zarbel
