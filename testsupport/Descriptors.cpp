#include "testsupport/Descriptors.h"

#include <cerrno>

#include <dirent.h>
#include <poll.h>
#include <unistd.h>

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (!(n < 0 && errno == EINTR) &&
                 !(n < 0 && errno == EAGAIN && (PollUntil(fd, POLLOUT, FromNow(1000)) & POLLOUT)))
            return false;
    }
    return true;
}

short PollUntil(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    pollfd pfd{fd, events, 0};
    int rc;
    do {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        rc = poll(&pfd, 1, left.count() < 0 ? 0 : static_cast<int>(left.count()));
    } while (rc < 0 && errno == EINTR);
    return rc > 0 ? pfd.revents : 0;
}

int OpenDescriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}
