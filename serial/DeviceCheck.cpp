#include "serial/DeviceCheck.h"

#include "serial/Deadline.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

std::string Number(dev_t number) {
    return std::to_string(major(number)) + ":" + std::to_string(minor(number));
}

// A /proc/PID/stat line's name (between the first '(' and the last ')', as a name may hold
// either), session and controlling terminal (fields 6 and 7, in the kernel's encoding).
bool ParseStat(const char* line, std::string* pName, long* pSession, long* pTty) {
    const char* open = std::strchr(line, '(');
    const char* close = std::strrchr(line, ')');
    if (!open || !close || close < open)
        return false;
    pName->assign(open + 1, close);
    char state = 0;
    long ppid = 0, pgrp = 0;
    return std::sscanf(close + 1, " %c %ld %ld %ld %ld", &state, &ppid, &pgrp, pSession, pTty) == 5;
}

// The device number of a stat's tty_nr field: minor bits 0-7 and 20-31, major bits 8-19.
dev_t TtyNumber(long field) {
    const auto ttyNr = static_cast<unsigned long>(field) & 0xffffffffUL;
    return makedev((ttyNr >> 8) & 0xfff, (ttyNr & 0xff) | ((ttyNr >> 12) & 0xfff00));
}

} // namespace

bool DeviceCheck::IsPseudoTerminalSlave(dev_t number) {
    return major(number) >= kPtySlaveMajor && major(number) < kPtySlaveMajor + kPtyMajors;
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
    // "/sys/dev/char/4:64/subsystem" -> "../../../../class/tty"
    const std::string subsystem = m_sysDevChar + "/" + Number(number) + "/subsystem";
    char target[4096];
    const ssize_t n = readlink(subsystem.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return false;
    target[n] = '\0';
    const char* slash = std::strrchr(target, '/');
    return std::strcmp(slash ? slash + 1 : target, "tty") == 0;
}

bool DeviceCheck::FindTerminalHolder(dev_t number, std::string* pName, int* pPid) const {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(m_procFolder.c_str()), &closedir);
    if (!dir)
        return false;
    bool found = false;
    bool foundLeader = false;
    while (const dirent* e = readdir(dir.get())) {
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        const std::string stat = m_procFolder + "/" + e->d_name + "/stat";
        const int fd = RetryOnEintr([&] { return open(stat.c_str(), O_RDONLY | O_CLOEXEC); });
        if (fd < 0)
            continue; // gone meanwhile
        char line[1024];
        const ssize_t n = RetryOnEintr([&] { return read(fd, line, sizeof line - 1); });
        close(fd);
        if (n <= 0)
            continue;
        line[n] = '\0';
        std::string name;
        long session = 0;
        long tty = 0;
        if (!ParseStat(line, &name, &session, &tty) || tty == 0 || TtyNumber(tty) != number)
            continue;
        // The session leader owns the terminal (the getty, the login shell); else the first.
        const bool leader = session == pid;
        if (!found || (leader && !foundLeader)) {
            *pName = name;
            *pPid = static_cast<int>(pid);
            found = true;
            foundLeader = leader;
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
