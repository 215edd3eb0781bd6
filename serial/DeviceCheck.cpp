#include "serial/DeviceCheck.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// The kernel's numbers: Unix98 pseudo-terminal masters take majors 128 to 135 and their slaves
// 136 to 143, old BSD masters major 2; major 5 holds /dev/tty, /dev/console, /dev/ptmx and
// /dev/ttyprintk (the kernel log); major 4 below minor 64 are the virtual consoles tty0 to tty63.
constexpr unsigned kPtyMasterMajor = 128;
constexpr unsigned kPtySlaveMajor = 136;
constexpr unsigned kPtyMajors = 8;
constexpr unsigned kBsdPtyMasterMajor = 2;
constexpr unsigned kTtyAuxMajor = 5;
constexpr unsigned kTtyMajor = 4;
constexpr unsigned kVirtualConsoles = 64;

} // namespace

bool DeviceCheck::IsPseudoTerminalSlave(dev_t number) {
    return major(number) >= kPtySlaveMajor && major(number) < kPtySlaveMajor + kPtyMajors;
}

const ProcessTable::Process*
DeviceCheck::OtherHolder(const std::vector<ProcessTable::Process>& processes, const Result& line,
                         int self) {
    const bool pty = IsPseudoTerminalSlave(line.number);
    // The number of /dev/pts/N, as a master's fdinfo gives it (all of them have major 136 now).
    const unsigned index = ((major(line.number) - kPtySlaveMajor) << 20) | minor(line.number);
    for (const ProcessTable::Process& p : processes) {
        if (p.pid == self ||
            std::find(p.files.begin(), p.files.end(), line.device) == p.files.end())
            continue;
        if (pty && std::find(p.ptyMasters.begin(), p.ptyMasters.end(), index) != p.ptyMasters.end())
            continue;
        return &p;
    }
    return nullptr;
}

bool DeviceCheck::IsSerialLine(mode_t mode, dev_t number) const {
    if (!S_ISCHR(mode))
        return false;
    if (IsPseudoTerminalSlave(number))
        return true;
    const unsigned maj = major(number);
    // Another program's side of a pseudo-terminal: what is written there is somebody's input.
    if (maj == kBsdPtyMasterMajor || (maj >= kPtyMasterMajor && maj < kPtyMasterMajor + kPtyMajors))
        return false;
    if (maj == kTtyAuxMajor || (maj == kTtyMajor && minor(number) < kVirtualConsoles))
        return false;
    return m_ttys.IsTty(number);
}

bool DeviceCheck::FindTerminalHolder(dev_t number, std::string* pName, int* pPid) const {
    bool found = false;
    bool foundLeader = false;
    for (const ProcessTable::Process& p : m_processes.Processes()) {
        if (p.terminal != number || number == 0)
            continue;
        // The session leader owns the terminal (the getty, the login shell); else the first.
        if (!found || (p.SessionLeader() && !foundLeader)) {
            *pName = p.name;
            *pPid = p.pid;
            found = true;
            foundLeader = p.SessionLeader();
        }
    }
    return found;
}

DeviceCheck::Result DeviceCheck::Check(const std::string& path) const {
    Result r;
    // Resolved once, so that what is opened is what was checked (the opener checks the number
    // again on the descriptor).
    const std::unique_ptr<char, void (*)(void*)> real(realpath(path.c_str(), nullptr), &std::free);
    struct stat st {};
    if (!real || stat(real.get(), &st) != 0) {
        r.error = errno;
        return r;
    }
    r.device = real.get();
    r.number = st.st_rdev;
    if (!IsSerialLine(st.st_mode, st.st_rdev)) {
        r.verdict = Verdict::NotSerial;
        return r;
    }
    if (FindTerminalHolder(st.st_rdev, &r.holder, &r.holderPid)) {
        r.verdict = Verdict::InUse;
        return r;
    }
    r.verdict = Verdict::SerialLine;
    return r;
}
