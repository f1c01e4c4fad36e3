// The load log: lines of ANSI (CP1251) text gathered during a run and written in one piece.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"

namespace zarbel {

class LoadLog {
public:
    void Add(std::string line) { lines_.push_back(std::move(line)); }
    const std::vector<std::string>& Lines() const { return lines_; }

    // The file's bytes: every line unchanged, each followed by CR LF (the last one too).
    std::string Bytes() const;

    // Writes the file, replacing one of that name. On failure returns false and sets `error`
    // to the host's text; a partly written file is removed.
    bool Save(TEnv& env, const std::string& path, std::string& error) const;

private:
    std::vector<std::string> lines_;
};

// "load_" + start tag + ".log"
std::string LoadLogFileName(std::string_view startTag);

}  // namespace zarbel
