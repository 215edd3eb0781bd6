#include "tests/FakeMachine.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <stdlib.h>
#include <unistd.h>

namespace fs = std::filesystem;

FakeMachine::FakeMachine() : m_saved(PortResolver::SystemSources()) {
    char root[] = "/tmp/morvik-machine-XXXXXX";
    if (!mkdtemp(root))
        throw std::runtime_error("no temporary folder");
    m_root = root;
    m_sources.sysClassTty = m_root + "/sys/class/tty";
    m_sources.consoleActive = m_sources.sysClassTty + "/console/active";
    m_sources.procConsoles = m_root + "/proc/consoles";
    m_sources.devFolder = m_root + "/dev";
    m_sources.byIdFolder = m_root + "/dev/serial/by-id";
    fs::create_directories(m_sources.sysClassTty + "/console");
    fs::create_directories(m_root + "/proc");
    fs::create_directories(m_sources.byIdFolder);
    PortResolver::SetSystemSources(m_sources);
}

FakeMachine::~FakeMachine() {
    PortResolver::SetSystemSources(m_saved);
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
}

void FakeMachine::AddTty(const std::string& name, int uartType, bool withDevice) {
    const std::string node = m_sources.sysClassTty + "/" + name;
    fs::create_directories(node);
    if (withDevice)
        fs::create_directories(node + "/device");
    if (name.compare(0, 4, "ttyS") == 0)
        std::ofstream(node + "/type") << uartType << "\n";
}

void FakeMachine::SetConsoles(const std::string& active, const std::string& procConsoles) {
    std::ofstream(m_sources.consoleActive) << active;
    std::ofstream(m_sources.procConsoles) << procConsoles;
}

void FakeMachine::AddNode(const std::string& name, const std::string& target) {
    if (symlink(target.c_str(), DevPath(name).c_str()) != 0)
        throw std::runtime_error("cannot link " + name);
}

void FakeMachine::AddById(const std::string& name, const std::string& target) {
    const std::string entry = m_sources.byIdFolder + "/" + name;
    if (symlink(target.c_str(), entry.c_str()) != 0)
        throw std::runtime_error("cannot link " + name);
}
