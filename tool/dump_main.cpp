// zarbel-dump: see tool/dump.h.
#include <iostream>
#include <string>
#include <vector>

#include "platform/console.h"
#include "tool/dump.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    return zarbel::DumpMain(args, std::cout, std::cerr, zarbel::ConsoleEncodingFromEnvironment());
}
