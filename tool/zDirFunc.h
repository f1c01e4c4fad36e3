// Directory helpers of the merge tool.
#pragma once
#include <string>

namespace zarbel {

// Directory of the program's own file, ending in the native separator.
std::string AppDir();

}  // namespace zarbel
