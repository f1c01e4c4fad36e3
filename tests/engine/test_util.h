// Shared helpers of the engine tests: the test tree's scratch directory and file helpers, under
// the engine tests' namespace.
#pragma once
#include "testutil/temp_dir.h"

namespace zarbel::test {

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

}  // namespace zarbel::test
