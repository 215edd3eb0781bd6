#include "serial/PortsFolder.h"

#include "serial/LivenessMark.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kFolderMode = 0700;

} // namespace

std::string PortsFolder::Path() const {
    if (!m_folder.empty())
        return m_folder;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/MorvikSerialDemo/ports";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.config/MorvikSerialDemo/ports";
    return std::string();
}

std::string PortsFolder::EntryPath(unsigned nPort, const std::string& suffix) const {
    const std::string folder = Path();
    return folder.empty() ? std::string() : folder + "/COM" + std::to_string(nPort) + suffix;
}

PortsFolder::Entry PortsFolder::Read(unsigned nPort) const {
    Entry entry;
    entry.path = EntryPath(nPort);
    if (entry.path.empty())
        return entry;
    struct stat st {};
    if (lstat(entry.path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            entry.kind = Entry::Kind::LookupError;
            entry.error = errno;
        }
        return entry;
    }
    if (!S_ISLNK(st.st_mode)) {
        entry.kind = Entry::Kind::Other;
        return entry;
    }
    entry.kind = Entry::Kind::Link;
    char target[4096];
    const ssize_t n = readlink(entry.path.c_str(), target, sizeof target);
    if (n > 0)
        entry.target.assign(target, static_cast<std::size_t>(n));
    entry.ended = LivenessMark::Of(EntryPath(nPort, LivenessMark::kSuffix), entry.target) ==
                  LivenessMark::State::Ended;
    return entry;
}

bool PortsFolder::Create() const {
    const std::string folder = Path();
    if (folder.empty()) {
        errno = ENOENT;
        return false;
    }
    // Each missing folder from the top down; one that exists is left as it is.
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), kFolderMode) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

bool PortsFolder::Link(unsigned nPort, const std::string& target) const {
    return Replace(EntryPath(nPort),
                   [&](const char* temporary) { return symlink(target.c_str(), temporary) == 0; });
}

bool PortsFolder::LinkNew(unsigned nPort, const std::string& target) const {
    return symlink(target.c_str(), EntryPath(nPort).c_str()) == 0;
}

void PortsFolder::RemoveLink(unsigned nPort, const std::string& target) const {
    const Entry entry = Read(nPort);
    if (entry.kind == Entry::Kind::Link && entry.target == target)
        unlink(entry.path.c_str());
}

bool PortsFolder::Replace(const std::string& path, const std::function<bool(const char*)>& make) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    const std::string temporary = path + ".new-" + std::to_string(getpid());
    sigset_t all, before;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &before);
    unlink(temporary.c_str());
    const bool done = make(temporary.c_str()) && rename(temporary.c_str(), path.c_str()) == 0;
    const int error = errno;
    if (!done)
        unlink(temporary.c_str());
    sigprocmask(SIG_SETMASK, &before, nullptr);
    errno = error;
    return done;
}
