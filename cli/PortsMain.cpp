#include "cli/PortsTool.h"
#include "core/StandardDescriptors.h"

#include <iostream>

int main(int argc, char** argv) {
    unsigned closed = 0;
    if (!OpenStandardDescriptors(&closed))
        return 1;
    // Output asked for with nowhere to go is not written: a failure, as on a full disk.
    if (closed & 2u)
        std::cout.setstate(std::ios::badbit);
    const PortCheck::Sources sources;
    const PortsTool tool{sources, PortCheck::User::OfThisProcess(
                                      {sources.machine.groupFile, sources.machine.passwdFile})};
    return tool.Run(argc, argv, std::cout, std::cerr);
}
