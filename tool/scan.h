// Source discovery: the walk of the source tree, and the start tag.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"

namespace zarbel {

class LoadLog;

// Walks `directory` depth first, pre-order, in the order the directory search returns entries
// (NTFS name order). Every file whose name, upper-cased, contains ".DBF" is appended to
// `fileList` as directory + name (the name's bytes) and to `log` as that path in ANSI text.
// A directory reached a second time (through symbolic links) is not walked again; a directory
// that cannot be read contributes nothing but a log line ("Ошибка чтения директории: " + path +
// " / " + the host's reason). A file whose identity is `skip` (the run's own output) is not
// taken. An empty `directory` searches the current one. Returns the number of directories that
// could not be read. Directories are read through env.
int ScanDirectory(const std::string& directory, std::vector<std::string>& fileList, LoadLog& log,
                  const FileIdentity* skip = nullptr, TEnv& env = TEnv::Default());

// The start date-time text made fit for a file name: every "." and ":" removed, the first
// blank replaced by "_" ("07.12.2026 4:05:54" -> "07122026_40554").
std::string MakeStartTag(std::string_view dateTimeText);

}  // namespace zarbel
