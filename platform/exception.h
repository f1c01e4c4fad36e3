// The one exception class of the engine and of the dataset framework: it carries a message text.
#pragma once
#include <stdexcept>
#include <string>

namespace zarbel {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

}  // namespace zarbel
