#include "cli/PortsTool.h"

#include <iostream>

int main(int argc, char** argv) {
    const PortsTool tool{PortCheck::Sources(), PortCheck::User::OfThisProcess()};
    return tool.Run(argc, argv, std::cout, std::cerr);
}
