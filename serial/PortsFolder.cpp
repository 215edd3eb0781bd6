#include "serial/PortsFolder.h"

#include "core/UniqueFd.h"
#include "serial/Deadline.h"
#include "serial/LivenessMark.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr const char* kProfileSuffix = ".profile";
// A profile file is a few lines a person wrote; anything larger is something else.
constexpr off_t kLargestProfile = 65536;

bool WriteAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n =
            RetryOnEintr([&] { return write(fd, text.data() + done, text.size() - done); });
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

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

std::string PortsFolder::ProfilePath(unsigned nPort) const {
    return EntryPath(nPort, kProfileSuffix);
}

PortsFolder::Profile PortsFolder::ReadProfile(unsigned nPort, LineProfile* pProfile,
                                              std::string* pWhy) const {
    *pProfile = LineProfile();
    const std::string path = ProfilePath(nPort);
    if (path.empty())
        return Profile::None;
    auto wrong = [&](const std::string& why) {
        *pWhy = path + ": " + why;
        return Profile::Wrong;
    };
    // Not blocking: a FIFO in its place must not hold the open.
    const UniqueFd fd(RetryOnEintr(
        [&] { return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK); }));
    struct stat st {};
    if (fd.Get() < 0) {
        const int error = errno;
        // No file at all is the default; a link that leads nowhere is a fault.
        if (error == ENOENT && lstat(path.c_str(), &st) != 0)
            return Profile::None;
        return wrong(std::string("cannot be read (") + std::strerror(error) + ")");
    }
    if (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return wrong("not a file");
    if (st.st_size > kLargestProfile)
        return wrong("larger than " + std::to_string(kLargestProfile / 1024) + " KiB");
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n =
            RetryOnEintr([&] { return read(fd.Get(), &text[got], text.size() - got); });
        if (n < 0)
            return wrong(std::string("cannot be read (") + std::strerror(errno) + ")");
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    int line = 0;
    std::string why;
    if (!LineProfile::Parse(text, pProfile, &line, &why)) {
        *pWhy = path + (line > 0 ? ", line " + std::to_string(line) : std::string()) + ": " + why;
        return Profile::Wrong;
    }
    return Profile::Read;
}

bool PortsFolder::WriteProfile(unsigned nPort, const LineProfile& profile) const {
    const std::string text = profile.Format();
    return Replace(ProfilePath(nPort), [&](const char* temporary) {
        const UniqueFd fd(RetryOnEintr([&] {
            return open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        }));
        // On disk before it takes the old one's place.
        return fd.Get() >= 0 && WriteAll(fd.Get(), text) && fsync(fd.Get()) == 0;
    });
}

bool PortsFolder::RemoveProfile(unsigned nPort) const {
    const std::string path = ProfilePath(nPort);
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    return unlink(path.c_str()) == 0 || errno == ENOENT;
}
