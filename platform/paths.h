// Path texts: pure string work on file names, no host call.
#pragma once
#include <string>

namespace zarbel {

// The directory a path puts its file in, without a final '/': "." when the path names none,
// "/" for a file in the root.
std::string PathDirectory(const std::string& path);

}  // namespace zarbel
