// A source tree for the scan tests: tables in nested directories, a hidden table, names that
// only contain ".DBF", a directory named like a table, non-tables and a link loop.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include "testutil/dbf_bytes.h"
#include "testutil/temp_dir.h"

namespace zarbel::testutil {

inline std::string SmallTable(const std::string& value) {
    return DbaseIIITable({{"NAME", 10}}, {{value}});
}

// Builds the tree under `root` and returns the paths (relative to root) the scan must list,
// in NTFS order, depth first.
inline std::vector<std::string> MakeSourceTree(const std::string& root) {
    namespace fs = std::filesystem;
    WriteFile(root + "/b.dbf", SmallTable("b"));
    WriteFile(root + "/.hidden.dbf", SmallTable("hidden"));
    WriteFile(root + "/DATA.DBF.BAK", SmallTable("bak"));
    WriteFile(root + "/DATA.DBT", "memo");
    WriteFile(root + "/DATA.CDX", "index");
    WriteFile(root + "/notes.txt", "text");
    WriteFile(root + "/q.Dbf", SmallTable("q"));
    WriteFile(root + "/x.dbfx", SmallTable("x"));
    WriteFile(root + "/sub/c.dbf", SmallTable("c"));
    WriteFile(root + "/sub/deeper/d.DBF", SmallTable("d"));
    WriteFile(root + "/z.dbf/inner.dbf", SmallTable("inner"));
    WriteFile(root + "/Архив/ёлка.dbf", SmallTable("elka"));
    WriteFile(root + "/_last.dbf", SmallTable("last"));
    fs::create_directory_symlink("../..", root + "/sub/deeper/loop");  // back to the root
    return {".hidden.dbf", "b.dbf",          "DATA.DBF.BAK",    "q.Dbf",     "sub/c.dbf",
            "sub/deeper/d.DBF", "x.dbfx",    "z.dbf/inner.dbf", "_last.dbf", "Архив/ёлка.dbf"};
}

}  // namespace zarbel::testutil
