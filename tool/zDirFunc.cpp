#include "tool/zDirFunc.h"

#include "platform/env.h"
#include "tool/zStrings.h"

namespace zarbel {

std::string AppDir() { return AddBackslash(TEnv::Default().ProgramDirectory()); }

}  // namespace zarbel
