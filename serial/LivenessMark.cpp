#include "serial/LivenessMark.h"

#include "serial/Deadline.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The whole file, as an open file description's lock (it goes with the last descriptor, not
// with any close() of the process, and a test of it takes nothing).
struct flock WholeFile(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;
}

// The text of a small regular file; false for anything else.
bool ReadSmall(int fd, std::string* pText) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > LivenessMark::kMaxBytes)
        return false;
    char buffer[LivenessMark::kMaxBytes];
    const ssize_t n = RetryOnEintr([&] { return pread(fd, buffer, sizeof buffer, 0); });
    if (n < 0)
        return false;
    pText->assign(buffer, static_cast<std::size_t>(n));
    return true;
}

} // namespace

LivenessMark::State LivenessMark::Of(const std::string& markPath, const std::string& target) {
    // Only a regular file is opened: a device there could act on the open.
    struct stat st {};
    if (lstat(markPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return State::None;
    const int fd = RetryOnEintr([&] {
        return open(markPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    });
    if (fd < 0)
        return State::None;
    std::string named;
    struct flock lock = WholeFile(F_WRLCK);
    const bool known =
        ReadSmall(fd, &named) && named == target && fcntl(fd, F_OFD_GETLK, &lock) == 0;
    close(fd);
    if (!known)
        return State::None;
    return lock.l_type == F_UNLCK ? State::Ended : State::Alive;
}

bool LivenessMark::Take(const std::string& markPath) {
    Drop();
    // A holder that ends removes the file before it lets the lock go: a file locked after that
    // is no longer the mark, and the one now at the path is tried.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd = RetryOnEintr([&] {
            return open(markPath.c_str(),
                        O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
        });
        if (fd < 0)
            return false;
        struct flock lock = WholeFile(F_WRLCK);
        struct stat held {
        }, now{};
        if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
            close(fd);
            errno = EEXIST;
            return false;
        }
        if (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
            const int error = errno;
            close(fd);
            errno = (error == EAGAIN || error == EACCES) ? EWOULDBLOCK : error;
            return false;
        }
        if (lstat(markPath.c_str(), &now) == 0 && now.st_dev == held.st_dev &&
            now.st_ino == held.st_ino) {
            m_fd = fd;
            m_path = markPath;
            if (!ReadSmall(fd, &m_previous))
                m_previous.clear();
            return true;
        }
        close(fd);
    }
    errno = EWOULDBLOCK;
    return false;
}

bool LivenessMark::Vouch(const std::string& target) {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    // Short enough to be written by one call; a reader that sees it half-written finds another
    // target in it, so the mark then speaks for nothing.
    if (RetryOnEintr([&] { return ftruncate(m_fd, 0); }) != 0)
        return false;
    const ssize_t n = RetryOnEintr([&] { return pwrite(m_fd, target.data(), target.size(), 0); });
    if (n != static_cast<ssize_t>(target.size())) {
        if (n >= 0)
            errno = ENOSPC;
        return false;
    }
    return true;
}

void LivenessMark::Drop() {
    if (m_fd < 0)
        return;
    unlink(m_path.c_str());
    close(m_fd);
    m_fd = -1;
    m_path.clear();
    m_previous.clear();
}
