// zarbel-index: see tool/index_tool.h.
#include <iostream>
#include <string>
#include <vector>

#include "platform/console.h"
#include "tool/index_tool.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    return zarbel::IndexMain(args, std::cout, std::cerr, zarbel::ConsoleEncodingFromEnvironment());
}
