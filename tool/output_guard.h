// The guard of a run's output path: from before the old output is replaced until the run ends,
// the path names a file on which this run holds an open-file-description write lock on one byte
// far beyond any data (offset 2^40), a range no xBase locking protocol uses. A second run on the
// same path finds the lock and stops without touching anything.
#pragma once
#include <string>

#include "platform/env.h"

namespace zarbel {

class OutputGuard {
public:
    enum Result {
        kGuarded,     // the path now names this run's empty placeholder, locked
        kUnguarded,   // no placeholder could be made (no such directory...): creation reports it
        kBusy,        // another run holds the guard
        kInUse,       // another program has the old output open with a share lock
        kNotATable,   // the path holds something other than a table
        kMemoPath,    // the output's own memo file would have the output's path
    };

    explicit OutputGuard(TEnv& env) : env_(env) {}
    ~OutputGuard();
    OutputGuard(const OutputGuard&) = delete;
    OutputGuard& operator=(const OutputGuard&) = delete;

    // Checks the path and, when it names nothing or a table, replaces it by a new empty file
    // holding the guard (the old output is deleted that way).
    Result Acquire(const std::string& path);
    // The placeholder or the output made over it, when guarded.
    bool Held() const { return handle_ >= 0; }
    const FileIdentity& Identity() const { return identity_; }
    // Removes the file at the path if it is still the guarded one.
    void RemoveFile();

private:
    TEnv& env_;
    THandle handle_ = kInvalidHandle;
    std::string path_;
    FileIdentity identity_;
};

}  // namespace zarbel
