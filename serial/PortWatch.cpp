#include "serial/PortWatch.h"

#include "serial/CommPorts.h"
#include "serial/Deadline.h"

#include <cerrno>
#include <string>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What changes a device's presence or access: an entry made, renamed in, removed or given other
// rights (udev sets a new device's group after it appears), and the folder itself going.
constexpr uint32_t kEvents = IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ATTRIB |
                             IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// The folder of path, or the nearest one above it that exists.
std::string ExistingFolderOf(std::string path) {
    struct stat st {};
    do {
        const std::size_t slash = path.find_last_of('/');
        if (slash == std::string::npos)
            return ".";
        path.erase(slash == 0 ? 1 : slash);
    } while (path != "/" && (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)));
    return path;
}

} // namespace

PortWatch::PortWatch(DWORD nPort) : m_nPort(nPort), m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    Watch();
}

PortWatch::~PortWatch() {
    if (m_fd >= 0)
        close(m_fd);
}

void PortWatch::Watch() {
    if (m_fd < 0)
        return;
    bool defined = false;
    const PortResolver::Port port = CommLookUpPort(m_nPort, &defined);
    std::string target = port.target;
    if (!target.empty() && target[0] != '/')
        target = port.path.substr(0, port.path.find_last_of('/') + 1) + target;
    // Adding a folder watched already changes nothing.
    for (const std::string& path : {port.path, target, CommSources().devFolder + "/"}) {
        if (!path.empty())
            inotify_add_watch(m_fd, ExistingFolderOf(path).c_str(), kEvents);
    }
}

bool PortWatch::WaitForChange(long long ms) {
    if (m_fd < 0 || ms <= 0)
        return false;
    const Deadline deadline(ms);
    if (deadline.For(m_fd, POLLIN) != Deadline::Wait::Ready)
        return false;
    // What changed does not matter: the port is looked up anew.
    alignas(inotify_event) char events[4096];
    while (RetryOnEintr([&] { return read(m_fd, events, sizeof events); }) > 0) {
    }
    Watch();
    return true;
}
