#pragma once

#include <fstream>
#include <string>

// The first line of a small file (a sysfs attribute, /proc/PID/comm) without its line end;
// empty when it cannot be read.
inline std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}
