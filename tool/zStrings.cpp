#include "tool/zStrings.h"

#include "platform/codepage.h"
#include "platform/locale.h"

namespace zarbel {

std::string ToOem(std::string_view ansi) { return AnsiToOemShown(ansi); }

bool ReplaceFirst(std::string& text, std::string_view what, std::string_view by) {
    std::size_t pos = text.find(what);
    if (pos == std::string::npos) return false;
    text.replace(pos, what.size(), by);
    return true;
}

std::string AddBackslash(std::string_view path) {
    std::string result = Trim(path);
    if (result.empty() || result.back() != kPathDelim) result.push_back(kPathDelim);
    return result;
}

}  // namespace zarbel
