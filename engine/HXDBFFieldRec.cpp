#include "engine/HXDBFFieldRec.h"

#include <algorithm>
#include <cstring>

namespace zarbel {

std::string FIELD_REC::Name() const {
    const std::uint8_t* p = NamePtr();
    const int n = NameLength();
    int len = 0;
    while (len < n && p[len] != 0) ++len;
    return std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(len));
}

void FIELD_REC::SetName(std::string_view name) {
    std::memset(Short_.data(), 0, 11);
    std::memset(Long_.data(), 0, 32);
    std::memcpy(Short_.data(), name.data(), std::min<std::size_t>(name.size(), 10));
    std::memcpy(Long_.data(), name.data(), std::min<std::size_t>(name.size(), 31));
}

}  // namespace zarbel
