#include "serial/ProcessTable.h"

#include "serial/Deadline.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using Dir = std::unique_ptr<DIR, int (*)(DIR*)>;

// A stat line's name (between the first '(' and the last ')', as a name may hold either),
// session and controlling terminal (fields 6 and 7, in the kernel's encoding).
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

bool ReadStat(const std::string& folder, ProcessTable::Process* pProcess) {
    const std::string stat = folder + "/stat";
    const int fd = RetryOnEintr([&] { return open(stat.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0)
        return false; // gone meanwhile
    char line[1024];
    const ssize_t n = RetryOnEintr([&] { return read(fd, line, sizeof line - 1); });
    close(fd);
    if (n <= 0)
        return false;
    line[n] = '\0';
    long tty = 0;
    if (!ParseStat(line, &pProcess->name, &pProcess->session, &tty))
        return false;
    pProcess->terminal = tty == 0 ? 0 : TtyNumber(tty);
    return true;
}

// The number of the pseudo-terminal a master descriptor serves, as its fdinfo says
// ("tty-index:\t5"); false when it does not say.
bool PtyIndex(const std::string& fdinfo, unsigned* pIndex) {
    const int fd = RetryOnEintr([&] { return open(fdinfo.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0)
        return false;
    char text[1024];
    const ssize_t n = RetryOnEintr([&] { return read(fd, text, sizeof text - 1); });
    close(fd);
    if (n <= 0)
        return false;
    text[n] = '\0';
    const char* line = std::strstr(text, "tty-index:");
    return line && std::sscanf(line, "tty-index: %u", pIndex) == 1;
}

// Only the links are read: what they lead to is never opened.
void ReadFiles(const std::string& folder, ProcessTable::Process* pProcess) {
    const std::string fdFolder = folder + "/fd";
    const Dir fds(opendir(fdFolder.c_str()), &closedir);
    if (!fds) {
        pProcess->filesHidden = errno == EACCES || errno == EPERM;
        return;
    }
    while (const dirent* fd = readdir(fds.get())) {
        if (fd->d_name[0] == '.')
            continue; // "." and ".."
        char target[4096];
        const std::string link = fdFolder + "/" + fd->d_name;
        const ssize_t len = readlink(link.c_str(), target, sizeof target - 1);
        if (len <= 5 || std::strncmp(target, "/dev/", 5) != 0)
            continue;
        pProcess->files.emplace_back(target, static_cast<std::size_t>(len));
        const std::string& file = pProcess->files.back();
        unsigned index = 0;
        if ((file == "/dev/ptmx" || file == "/dev/pts/ptmx") &&
            PtyIndex(folder + "/fdinfo/" + fd->d_name, &index))
            pProcess->ptyMasters.push_back(index);
    }
}

} // namespace

std::vector<ProcessTable::Process> ProcessTable::Processes() const {
    return Read(false);
}

std::vector<ProcessTable::Process> ProcessTable::ProcessesWithFiles() const {
    return Read(true);
}

std::vector<ProcessTable::Process> ProcessTable::Read(bool withFiles) const {
    std::vector<Process> processes;
    const Dir dir(opendir(m_root.c_str()), &closedir);
    if (!dir)
        return processes;
    while (const dirent* e = readdir(dir.get())) {
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        Process p;
        p.pid = static_cast<int>(pid);
        const std::string folder = m_root + "/" + e->d_name;
        if (!ReadStat(folder, &p))
            continue;
        if (withFiles)
            ReadFiles(folder, &p);
        processes.push_back(std::move(p));
    }
    std::sort(processes.begin(), processes.end(),
              [](const Process& a, const Process& b) { return a.pid < b.pid; });
    return processes;
}
