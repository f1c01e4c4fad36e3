#include "tool/load_log.h"


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

bool LoadLog::Save(TEnv& env, const std::string& path, std::string& error) const {
    TEnvHandle file(env, env.Create(path, TShareLock::None));
    if (file.Get() == kInvalidHandle) {
        error = env.LastErrorText();
        return false;
    }
    const std::string bytes = Bytes();
    const auto size = static_cast<std::int64_t>(bytes.size());
    if (env.Write(file.Get(), bytes.data(), size) != size) {
        error = env.LastErrorText();
        env.DeleteFile(path);
        return false;
    }
    return true;
}

std::string LoadLogFileName(std::string_view startTag) {
    std::string name = "load_";
    name += startTag;
    name += ".log";
    return name;
}

}  // namespace zarbel
