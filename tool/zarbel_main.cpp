// The zarbel program: merges every dBase-family table of a directory tree into one table.
#include <string>
#include <vector>

#include "platform/console.h"
#include "tool/zarbel.h"

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    zarbel::Console console;
    return zarbel::RunMerge(args, console);
}
