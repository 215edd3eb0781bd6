#include "core/StandardDescriptors.h"

#include <cerrno>

#include <fcntl.h>

bool OpenStandardDescriptors(unsigned* pClosed) {
    bool all = true;
    unsigned closed = 0;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        closed |= 1u << fd;
        // The lowest free number is the closed one: the ones below it are open by now. Not
        // close-on-exec, as a standard descriptor is inherited.
        int null;
        do
            null = open("/dev/null", O_RDWR | O_NOCTTY);
        while (null < 0 && errno == EINTR);
        all = all && null == fd;
    }
    if (pClosed)
        *pClosed = closed;
    return all;
}
