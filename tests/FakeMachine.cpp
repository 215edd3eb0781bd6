#include "tests/FakeMachine.h"

#include "serial/CommTestHooks.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;

FakeMachine::FakeMachine() : m_saved(CommGetSources()) {
    TtyClass::Roots& ttys = m_sources.ttys;
    ttys.sysClassTty = m_root / "sys/class/tty";
    ttys.sysDevChar = m_root / "sys/dev/char";
    ttys.byIdFolder = m_root / "dev/serial/by-id";
    ttys.byPathFolder = m_root / "dev/serial/by-path";
    ttys.udevData = m_root / "run/udev/data";
    m_sources.procConsoles = m_root / "proc/consoles";
    m_sources.devFolder = m_root / "dev";
    m_sources.procFolder = m_root / "proc";
    m_groupFile = m_root / "etc/group";
    m_sources.groupFile = m_groupFile;
    fs::create_directories(ttys.sysClassTty + "/console");
    fs::create_directories(m_root / "proc");
    fs::create_directories(ttys.byIdFolder);
    fs::create_directories(ttys.byPathFolder);
    fs::create_directories(ttys.sysDevChar);
    CommSetSources(m_sources);
}

FakeMachine::~FakeMachine() {
    CommSetSources(m_saved);
}

void FakeMachine::AddTty(const std::string& name, int uartType, bool withDevice) {
    const std::string node = m_sources.ttys.sysClassTty + "/" + name;
    fs::create_directories(node);
    if (withDevice)
        fs::create_directories(node + "/device");
    if (name.compare(0, 4, "ttyS") == 0)
        std::ofstream(node + "/type") << uartType << "\n";
}

void FakeMachine::SetConsoles(const std::string& active, const std::string& procConsoles) {
    std::ofstream(m_sources.ttys.sysClassTty + "/console/active") << active;
    std::ofstream(m_sources.procConsoles) << procConsoles;
}

void FakeMachine::AddNode(const std::string& name, const std::string& target) {
    if (symlink(target.c_str(), DevPath(name).c_str()) != 0)
        throw std::runtime_error("cannot link " + name);
}

void FakeMachine::AddById(const std::string& name, const std::string& target) {
    const std::string entry = m_sources.ttys.byIdFolder + "/" + name;
    if (symlink(target.c_str(), entry.c_str()) != 0)
        throw std::runtime_error("cannot link " + name);
}

void FakeMachine::AddCharDevice(dev_t number, const std::string& subsystem) {
    const std::string entry = m_sources.ttys.sysDevChar + "/" + std::to_string(major(number)) +
                              ":" + std::to_string(minor(number));
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
    std::ofstream(folder + "/comm") << name << "\n";
}

void FakeMachine::AddOpenFile(int pid, int fd, const std::string& target) {
    const std::string folder = m_sources.procFolder + "/" + std::to_string(pid) + "/fd";
    fs::create_directories(folder);
    fs::create_symlink(target, folder + "/" + std::to_string(fd));
}

void FakeMachine::AddPtyMaster(int pid, int fd, unsigned index) {
    AddOpenFile(pid, fd, "/dev/ptmx");
    const std::string folder = m_sources.procFolder + "/" + std::to_string(pid) + "/fdinfo";
    fs::create_directories(folder);
    std::ofstream(folder + "/" + std::to_string(fd))
        << "pos:\t0\nflags:\t02100002\nmnt_id:\t24\nino:\t90\ntty-index:\t" << index << "\n";
}

void FakeMachine::AddUsbTty(const std::string& name, const std::string& node,
                            const UsbAdapter& usb) {
    struct stat st {};
    if (stat(node.c_str(), &st) != 0)
        throw std::runtime_error("no device " + node);
    const std::string device = m_root / "sys/devices/pci0000:00/0000:00:14.0/usb1/" + usb.socket;
    const std::string interface = device + "/" + usb.socket + ":1.0";
    // A USB serial driver's port sits below the interface; an ACM tty's device is the interface.
    const bool acm = name.compare(0, 6, "ttyACM") == 0;
    const std::string port = acm ? interface : interface + "/" + name;
    const std::string classDir = port + "/tty/" + name;
    fs::create_directories(classDir);
    std::ofstream(device + "/idVendor") << usb.vendor << "\n";
    std::ofstream(device + "/idProduct") << usb.product << "\n";
    if (!usb.serial.empty())
        std::ofstream(device + "/serial") << usb.serial << "\n";
    if (usb.latencyMs >= 0)
        std::ofstream(port + "/latency_timer") << usb.latencyMs << "\n";
    std::ofstream(classDir + "/dev") << major(st.st_rdev) << ":" << minor(st.st_rdev) << "\n";
    fs::create_symlink(port, classDir + "/device");
    fs::create_symlink(classDir, m_sources.ttys.sysClassTty + "/" + name);
    AddNode(name, node);
}

void FakeMachine::AddByPath(const std::string& name, const std::string& target) {
    fs::create_symlink(target, m_sources.ttys.byPathFolder + "/" + name);
}

void FakeMachine::AddUdevEntry(dev_t number, const std::string& lines) {
    fs::create_directories(m_sources.ttys.udevData);
    std::ofstream(m_sources.ttys.udevData + "/c" + std::to_string(major(number)) + ":" +
                  std::to_string(minor(number)))
        << lines;
}

void FakeMachine::SetGroupFile(const std::string& text) {
    fs::create_directories(m_root / "etc");
    std::ofstream(m_groupFile) << text;
}
