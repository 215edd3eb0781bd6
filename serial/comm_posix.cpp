// The serial calls on Linux: termios, poll() and a per-descriptor time-out table.

#include "serial/comm.h"

#include "serial/LineSettings.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// What a device we could not configure reads and writes with: still bounded.
constexpr COMMTIMEOUTS kDefaultTimeouts = {MAXDWORD, MAXDWORD, 1000, 50, 0};
// Bound for time-outs that would otherwise wait forever (all-zero totals).
constexpr long long kLongestWaitMs = 30000;

std::mutex g_timeoutsLock;
std::map<int, COMMTIMEOUTS> g_timeouts;

COMMTIMEOUTS TimeoutsOf(HANDLE h) {
    std::lock_guard<std::mutex> lock(g_timeoutsLock);
    const auto it = g_timeouts.find(h);
    return it == g_timeouts.end() ? kDefaultTimeouts : it->second;
}

long long MsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : left.count();
}

enum class WaitResult { Ready, TimedOut, HungUp, Error };

// Waits for the descriptor to become readable or writable, at most msTimeout.
WaitResult WaitFor(int fd, short events, long long msTimeout) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(msTimeout);
    for (;;) {
        pollfd pfd{fd, events, 0};
        const long long left = MsUntil(deadline);
        const int rc = poll(&pfd, 1, static_cast<int>(left > INT_MAX ? INT_MAX : left));
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            return WaitResult::Error;
        }
        if (rc == 0) {
            if (MsUntil(deadline) == 0)
                return WaitResult::TimedOut;
            continue; // woke a little early
        }
        if (pfd.revents & events)
            return WaitResult::Ready;
        if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            errno = EIO;
            return WaitResult::HungUp;
        }
    }
}

// "COM<n>" or "COM<n>:" with n >= 1, else 0.
unsigned long PortNumber(const char* pszName) {
    if (!pszName || std::string(pszName).compare(0, 3, "COM") != 0)
        return 0;
    const char* digits = pszName + 3;
    if (*digits < '0' || *digits > '9')
        return 0;
    char* end = nullptr;
    errno = 0;
    const unsigned long n = std::strtoul(digits, &end, 10);
    if (errno != 0 || (*end != '\0' && !(end[0] == ':' && end[1] == '\0')))
        return 0;
    return n;
}

std::string PortsFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/MorvikSerialDemo/ports";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.config/MorvikSerialDemo/ports";
    return std::string();
}

} // namespace

CString CommDevicePath(const char* pszPortName) {
    const unsigned long n = PortNumber(pszPortName);
    if (n == 0)
        return CString();
    const std::string folder = PortsFolder();
    if (!folder.empty()) {
        const std::string entry = folder + "/COM" + std::to_string(n);
        struct stat st {};
        if (lstat(entry.c_str(), &st) == 0)
            return CString(entry.c_str());
    }
    return CString(("/dev/ttyS" + std::to_string(n - 1)).c_str());
}

HANDLE CommOpen(const char* pszPortName) {
    const CString path = CommDevicePath(pszPortName);
    if (path.IsEmpty()) {
        errno = ENOENT;
        return INVALID_HANDLE_VALUE;
    }
    int fd;
    do {
        fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return INVALID_HANDLE_VALUE;

    // flock holds against every other opener, root included; TIOCEXCL adds the tty's own
    // exclusion for other programs that do not take the lock.
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        close(fd);
        errno = EBUSY;
        return INVALID_HANDLE_VALUE;
    }
    ioctl(fd, TIOCEXCL);
    return fd;
}

BOOL CommGetState(HANDLE h, DCB* pDcb) {
    LineSettings s;
    if (h < 0 || !LineSettings::Read(h, &s))
        return FALSE;
    pDcb->BaudRate = s.baud;
    pDcb->ByteSize = static_cast<BYTE>(s.byteSize);
    pDcb->Parity = static_cast<BYTE>(s.parity);
    pDcb->StopBits = static_cast<BYTE>(s.stopBits);
    pDcb->fParity = s.parityCheck;
    pDcb->fOutxCtsFlow = s.ctsFlow;
    pDcb->fOutX = s.xonOut;
    pDcb->fInX = s.xonIn;
    int lines = 0;
    pDcb->fDtrControl = (ioctl(h, TIOCMGET, &lines) == 0 && !(lines & TIOCM_DTR))
                            ? DTR_CONTROL_DISABLE
                            : DTR_CONTROL_ENABLE;
    return TRUE;
}

BOOL CommSetState(HANDLE h, const DCB* pDcb) {
    if (h < 0 || pDcb->ByteSize < 5 || pDcb->ByteSize > 8 || pDcb->Parity > EVENPARITY ||
        pDcb->StopBits > TWOSTOPBITS || pDcb->BaudRate == 0) {
        errno = EINVAL;
        return FALSE;
    }
    LineSettings s;
    s.baud = pDcb->BaudRate;
    s.byteSize = pDcb->ByteSize;
    s.parity = pDcb->Parity;
    s.stopBits = pDcb->StopBits;
    s.parityCheck = pDcb->fParity != 0;
    s.ctsFlow = pDcb->fOutxCtsFlow != 0;
    s.xonOut = pDcb->fOutX != 0;
    s.xonIn = pDcb->fInX != 0;
    if (!LineSettings::Apply(h, s))
        return FALSE;

    const int dtr = TIOCM_DTR;
    int rc;
    do {
        rc = ioctl(h, pDcb->fDtrControl == DTR_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, &dtr);
    } while (rc < 0 && errno == EINTR);
    // Lines without modem control (pseudo-terminals) have no DTR to set.
    if (rc < 0 && errno != ENOTTY && errno != EINVAL)
        return FALSE;
    // Drivers take rates they cannot make without a word: check what the line really runs at.
    return LineSettings::RateTaken(h, s.baud) ? TRUE : FALSE;
}

BOOL CommSetTimeouts(HANDLE h, const COMMTIMEOUTS* pTimeouts) {
    if (h < 0 || fcntl(h, F_GETFD) < 0) {
        errno = EBADF;
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(g_timeoutsLock);
    g_timeouts[h] = *pTimeouts;
    return TRUE;
}

BOOL CommPurge(HANDLE h, DWORD dwFlags) {
    const bool rx = (dwFlags & (PURGE_RXABORT | PURGE_RXCLEAR)) != 0;
    const bool tx = (dwFlags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0;
    if (!rx && !tx)
        return TRUE;
    return tcflush(h, rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH)) == 0 ? TRUE : FALSE;
}

BOOL CommRead(HANDLE h, void* pBuffer, DWORD nToRead, DWORD* pdwRead) {
    *pdwRead = 0;
    if (h < 0) {
        errno = EBADF;
        return FALSE;
    }
    const COMMTIMEOUTS t = TimeoutsOf(h);
    const bool atOnce = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                        t.ReadTotalTimeoutConstant == 0;
    const bool firstByte =
        t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
        t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
    long long totalMs = firstByte ? t.ReadTotalTimeoutConstant
                                  : static_cast<long long>(t.ReadTotalTimeoutMultiplier) * nToRead +
                                        t.ReadTotalTimeoutConstant;
    if (atOnce)
        totalMs = 0;
    else if (totalMs == 0 || totalMs > kLongestWaitMs)
        totalMs = kLongestWaitMs;
    const long long intervalMs =
        (!firstByte && !atOnce && t.ReadIntervalTimeout != 0) ? t.ReadIntervalTimeout : -1;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(totalMs);

    auto* const buffer = static_cast<unsigned char*>(pBuffer);
    DWORD got = 0;
    while (got < nToRead) {
        const ssize_t n = read(h, buffer + got, nToRead - got);
        if (n > 0) {
            got += static_cast<DWORD>(n);
            *pdwRead = got;
            if (firstByte)
                break;
            continue;
        }
        if (n == 0) {
            // End of file: a hung-up tty, or a device that will never give more.
            errno = EIO;
            return got > 0 ? TRUE : FALSE;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return got > 0 ? TRUE : FALSE; // a hung-up line fails at once
        if (atOnce)
            break;
        long long waitMs = MsUntil(deadline);
        if (got > 0 && intervalMs >= 0 && intervalMs < waitMs)
            waitMs = intervalMs;
        if (waitMs == 0)
            break;
        const WaitResult w = WaitFor(h, POLLIN, waitMs);
        if (w == WaitResult::TimedOut)
            break;
        if (w != WaitResult::Ready)
            return got > 0 ? TRUE : FALSE;
    }
    return TRUE;
}

BOOL CommWrite(HANDLE h, const void* pBuffer, DWORD nToWrite, DWORD* pdwWritten) {
    *pdwWritten = 0;
    if (h < 0) {
        errno = EBADF;
        return FALSE;
    }
    const COMMTIMEOUTS t = TimeoutsOf(h);
    long long totalMs = static_cast<long long>(t.WriteTotalTimeoutMultiplier) * nToWrite +
                        t.WriteTotalTimeoutConstant;
    if (totalMs == 0 || totalMs > kLongestWaitMs)
        totalMs = kLongestWaitMs;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(totalMs);

    const auto* const buffer = static_cast<const unsigned char*>(pBuffer);
    DWORD done = 0;
    while (done < nToWrite) {
        const ssize_t n = write(h, buffer + done, nToWrite - done);
        if (n > 0) {
            done += static_cast<DWORD>(n);
            *pdwWritten = done;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return FALSE;
        const long long waitMs = MsUntil(deadline);
        if (waitMs == 0)
            break; // timed out: success with a short count
        const WaitResult w = WaitFor(h, POLLOUT, waitMs);
        if (w == WaitResult::TimedOut)
            break;
        if (w != WaitResult::Ready)
            return FALSE;
    }
    return TRUE;
}

BOOL CommClose(HANDLE h) {
    if (h < 0) {
        errno = EBADF;
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(g_timeoutsLock);
        g_timeouts.erase(h);
    }
    ioctl(h, TIOCNXCL);
    // Linux releases the descriptor even when close() is interrupted: never retry it.
    return (close(h) == 0 || errno == EINTR) ? TRUE : FALSE;
}
