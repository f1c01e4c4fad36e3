#include "tool/scan.h"

#include <set>

#include "platform/codepage.h"
#include "platform/filesys.h"
#include "platform/locale.h"
#include "tool/load_log.h"
#include "tool/zStrings.h"

namespace zarbel {

namespace {

bool IsTableName(const std::string& nameBytes) {
    return AnsiUpperCase(FileNameToAnsi(nameBytes)).find(".DBF") != std::string::npos;
}

void Walk(std::string directory, std::vector<std::string>& fileList, LoadLog& log, std::set<FileIdentity>& seen) {
    if (!directory.empty() && directory.back() != kPathDelim) directory.push_back(kPathDelim);
    FileIdentity id;
    if (GetFileIdentity(directory, id) && !seen.insert(id).second) return;  // walked already
    std::vector<DirEntry> entries;
    if (!FindFiles(directory, entries)) return;
    for (const DirEntry& e : entries) {
        if (e.name == "." || e.name == "..") continue;
        if (e.isDirectory) {
            Walk(directory + e.name, fileList, log, seen);
        } else if (IsTableName(e.name)) {
            fileList.push_back(directory + e.name);
            log.Add(FileNameToAnsi(fileList.back()));
        }
    }
}

}  // namespace

void ScanDirectory(const std::string& directory, std::vector<std::string>& fileList, LoadLog& log) {
    std::set<FileIdentity> seen;
    Walk(directory, fileList, log, seen);
}

std::string MakeStartTag(std::string_view dateTimeText) {
    std::string tag(dateTimeText);
    while (ReplaceFirst(tag, ".", "")) {
    }
    while (ReplaceFirst(tag, ":", "")) {
    }
    ReplaceFirst(tag, " ", "_");
    return tag;
}

}  // namespace zarbel
