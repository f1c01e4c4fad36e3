// zarbel-dump run in-process for the tool tests: exit status and both output streams.
#pragma once
#include <sstream>
#include <string>
#include <vector>

#include "tool/dump.h"

namespace zarbel::test {

struct DumpRun {
    int status;
    std::string out, err;
};
inline DumpRun Dump(const std::vector<std::string>& args, ConsoleEncoding enc = ConsoleEncoding::Utf8) {
    std::ostringstream out, err;
    int status = DumpMain(args, out, err, enc);
    return {status, out.str(), err.str()};
}

}  // namespace zarbel::test
