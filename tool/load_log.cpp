#include "tool/load_log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace zarbel {

std::string LoadLog::Bytes() const {
    std::string bytes;
    std::size_t size = 0;
    for (const std::string& l : lines_) size += l.size() + 2;
    bytes.reserve(size);
    for (const std::string& l : lines_) {
        bytes += l;
        bytes += "\r\n";
    }
    return bytes;
}

bool LoadLog::Save(const std::string& path, std::string& error) const {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    const std::string bytes = Bytes();
    std::string_view rest(bytes);
    bool ok = true;
    while (!rest.empty()) {
        ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    int savedErrno = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        error = std::strerror(savedErrno);
        ::unlink(path.c_str());
    }
    return ok;
}

std::string LoadLogFileName(std::string_view startTag) {
    std::string name = "load_";
    name += startTag;
    name += ".log";
    return name;
}

}  // namespace zarbel
