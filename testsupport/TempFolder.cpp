#include "testsupport/TempFolder.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

TempFolder::TempFolder() {
    // $TMPDIR where it is set: the fuzz runs put their trees in memory.
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/morvik-XXXXXX";
    if (!mkdtemp(path.data()))
        throw std::runtime_error("no temporary folder");
    m_path = path;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}
