// The program's one module: its handle and its name.

#include "framework/win32/WinUser.h"

#include <cerrno>
#include <string>

#include <unistd.h>

namespace {

// The executable's file name without folder and extension. A program started through a link
// is named after the file the link leads to, so that all it says carries one name.
std::string ProgramName() {
    std::string path;
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0) {
        path.assign(buffer, static_cast<std::size_t>(n));
        // A file replaced while the program runs (an upgrade) is reported as deleted.
        const std::string deleted = " (deleted)";
        if (path.size() > deleted.size() &&
            path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
            path.resize(path.size() - deleted.size());
    } else {
        path = program_invocation_name; // without /proc: the name it was started by
    }
    std::string name = path.substr(path.rfind('/') + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name;
}

} // namespace

HINSTANCE GetModuleHandleA(LPCSTR lpModuleName) {
    // Only the program's own module exists; its handle is where a Windows program loads.
    return lpModuleName ? nullptr : reinterpret_cast<HINSTANCE>(0x400000);
}

LPCSTR GetProgramName() {
    static const std::string name = ProgramName();
    return name.c_str();
}
