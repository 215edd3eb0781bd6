#include "tests/FakeMachine.h"

#include "serial/CommTestHooks.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <stdlib.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;

FakeMachine::FakeMachine() : m_saved(CommGetSources()) {
    char root[] = "/tmp/morvik-machine-XXXXXX";
    if (!mkdtemp(root))
        throw std::runtime_error("no temporary folder");
    m_root = root;
    m_sources.sysClassTty = m_root + "/sys/class/tty";
    m_sources.consoleActive = m_sources.sysClassTty + "/console/active";
    m_sources.procConsoles = m_root + "/proc/consoles";
    m_sources.devFolder = m_root + "/dev";
    m_sources.byIdFolder = m_root + "/dev/serial/by-id";
    m_sources.sysDevChar = m_root + "/sys/dev/char";
    m_sources.procFolder = m_root + "/proc";
    fs::create_directories(m_sources.sysClassTty + "/console");
    fs::create_directories(m_root + "/proc");
    fs::create_directories(m_sources.byIdFolder);
    fs::create_directories(m_sources.sysDevChar);
    CommSetSources(m_sources);
}

FakeMachine::~FakeMachine() {
    CommSetSources(m_saved);
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

void FakeMachine::AddCharDevice(dev_t number, const std::string& subsystem) {
    const std::string entry = m_sources.sysDevChar + "/" + std::to_string(major(number)) + ":" +
                              std::to_string(minor(number));
    fs::create_directories(entry);
    fs::create_symlink("../../../class/" + subsystem, entry + "/subsystem");
}

void FakeMachine::AddProcess(int pid, const std::string& name, int session, dev_t tty) {
    const std::string folder = m_sources.procFolder + "/" + std::to_string(pid);
    fs::create_directories(folder);
    // The kernel's tty_nr: minor bits 0-7 and 20-31, major bits 8-19.
    const unsigned long ttyNr = (minor(tty) & 0xffu) | (major(tty) << 8) |
                                (static_cast<unsigned long>(minor(tty) & ~0xffu) << 12);
    std::ofstream(folder + "/stat") << pid << " (" << name << ") S 1 " << pid << " " << session
                                    << " " << ttyNr << " -1 4194560 0 0 0 0\n";
}
