#pragma once

#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

// Everything in the file; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Where the symbolic link leads; empty when it is none.
inline std::string LinkOf(const std::string& entry) {
    char target[4096];
    const ssize_t n = readlink(entry.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}
