#include "tool/scan.h"

#include <set>

#include "platform/codepage.h"
#include "platform/locale.h"
#include "tool/load_log.h"
#include "tool/zStrings.h"

namespace zarbel {

namespace {

bool IsTableName(const std::string& nameBytes) {
    return AnsiUpperCase(FileNameToAnsi(nameBytes)).find(".DBF") != std::string::npos;
}

struct WalkState {
    TEnv& env;
    std::vector<std::string>& fileList;
    LoadLog& log;
    const FileIdentity* skip;
    std::set<FileIdentity> seen;
    int unreadable = 0;
};

void Walk(std::string directory, WalkState& w) {
    if (!directory.empty() && directory.back() != kPathDelim) directory.push_back(kPathDelim);
    FileIdentity id;
    if (w.env.GetFileIdentity(directory, id) && !w.seen.insert(id).second) return;  // walked already
    std::vector<DirEntry> entries;
    if (!w.env.FindFiles(directory, entries)) {
        w.log.Add(Utf8ToAnsi("Ошибка чтения директории: ") + FileNameToAnsi(directory) + " / " +
                  FileNameToAnsi(w.env.LastErrorText()));
        ++w.unreadable;
        return;
    }
    for (const DirEntry& e : entries) {
        if (e.name == "." || e.name == "..") continue;
        if (e.isDirectory) {
            Walk(directory + e.name, w);
        } else if (IsTableName(e.name)) {
            std::string path = directory + e.name;
            FileIdentity fileId;
            if (w.skip && w.env.GetFileIdentity(path, fileId) && fileId == *w.skip) continue;
            w.fileList.push_back(std::move(path));
            w.log.Add(FileNameToAnsi(w.fileList.back()));
        }
    }
}

}  // namespace

int ScanDirectory(const std::string& directory, std::vector<std::string>& fileList, LoadLog& log,
                  const FileIdentity* skip, TEnv& env) {
    WalkState w{env, fileList, log, skip, {}, 0};
    Walk(directory, w);
    return w.unreadable;
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
