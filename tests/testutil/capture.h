// Test helper: an anonymous file behind a descriptor, read back after the writes.
#pragma once
#include <cstdio>
#include <string>
#include <unistd.h>

namespace zarbel::testutil {

class Capture {
public:
    Capture() : file_(std::tmpfile()) {}
    ~Capture() {
        if (file_) std::fclose(file_);
    }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    int fd() const { return fileno(file_); }
    std::string Text() const {
        std::string out;
        off_t end = lseek(fd(), 0, SEEK_END);
        if (end <= 0) return out;
        out.resize(static_cast<std::size_t>(end));
        if (pread(fd(), out.data(), out.size(), 0) != end) out.clear();
        return out;
    }

private:
    std::FILE* file_;
};

}  // namespace zarbel::testutil
