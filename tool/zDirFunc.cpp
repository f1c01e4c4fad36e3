#include "tool/zDirFunc.h"

#include "platform/filesys.h"
#include "tool/zStrings.h"

namespace zarbel {

std::string AppDir() { return AddBackslash(ProgramDir()); }

}  // namespace zarbel
