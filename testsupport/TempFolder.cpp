#include "testsupport/TempFolder.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

TempFolder::TempFolder() {
    char path[] = "/tmp/morvik-XXXXXX";
    if (!mkdtemp(path))
        throw std::runtime_error("no temporary folder");
    m_path = path;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}
