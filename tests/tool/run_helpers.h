// Test helpers for runs of the merge tool in-process: options with a fixed clock and the log
// and fallback directories inside a temporary directory, and the load log read back as lines.
#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/locale.h"
#include "testutil/temp_dir.h"
#include "tool/zarbel.h"

namespace zarbel::testutil {

// 07.12.2026 4:05:54: the start tag of every run with this clock is 07122026_40554.
inline TDateTime FixedStart() { return EncodeDate(2026, 12, 7) + EncodeTime(4, 5, 54, 0); }

// The log goes to <t>/app, its fallback is <t>/cwd, and the clock always reads FixedStart().
inline MergeOptions RunOptions(const TempDir& t) {
    std::filesystem::create_directories(t / "app");
    std::filesystem::create_directories(t / "cwd");
    MergeOptions o;
    o.appDir = t / "app";
    o.fallbackDir = t / "cwd";
    o.clock = [] { return FixedStart(); };
    return o;
}

// The lines of a load log as UTF-8; a last line without CR LF is marked "<no CR LF>".
inline std::vector<std::string> ReadLogLines(const std::string& path) {
    const std::string bytes = ReadFile(path);
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back("<no CR LF>" + bytes.substr(pos));
            break;
        }
        lines.push_back(AnsiToUtf8(bytes.substr(pos, end - pos)));
        pos = end + 2;
    }
    return lines;
}

// Bytes and modification time (ns) of every regular file under a directory (unreadable
// subdirectories skipped): equal snapshots mean nothing there was touched.
using TreeSnapshot = std::map<std::string, std::pair<std::string, std::int64_t>>;
inline TreeSnapshot SnapshotTree(const std::string& dir) {
    namespace fs = std::filesystem;
    TreeSnapshot m;
    for (const auto& e : fs::recursive_directory_iterator(dir, fs::directory_options::skip_permission_denied)) {
        if (!e.is_regular_file()) continue;
        struct stat st {};
        stat(e.path().c_str(), &st);
        m[e.path().string()] = {ReadFile(e.path().string()),
                                static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    }
    return m;
}

}  // namespace zarbel::testutil
