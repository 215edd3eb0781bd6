#include "cli/PortsTool.h"

#include <iostream>

int main(int argc, char** argv) {
    const PortsTool tool{PortResolver::Sources()};
    const int status = tool.Run(argc, argv, std::cout, std::cerr);
    std::cout.flush();
    return std::cout.good() ? status : 1;
}
