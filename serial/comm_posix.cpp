// The serial calls on Linux: termios, poll() and per-descriptor state (time-outs, the settings
// found at open, a read buffer).

#include "serial/comm.h"

#include "serial/LineSettings.h"
#include "serial/PortResolver.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// What a device we could not configure reads and writes with: still bounded.
constexpr COMMTIMEOUTS kDefaultTimeouts = {MAXDWORD, MAXDWORD, 1000, 50, 0};
// Bound for time-outs that would otherwise wait forever (all-zero totals).
constexpr long long kLongestWaitMs = 30000;
// Longest wait at close for written bytes to leave before the old settings come back.
constexpr long long kLongestDrainMs = 2000;
// One read() takes up to this much of what the driver holds.
constexpr std::size_t kReadChunk = 4096;

struct Device {
    COMMTIMEOUTS timeouts = kDefaultTimeouts;
    bool restore = false;
    LineSettings::Snapshot found{};
    DWORD nPort = 0;
    std::string path, target;
    unsigned char buffer[kReadChunk];
    std::size_t head = 0, tail = 0;
};

struct DeviceTable {
    std::mutex lock;
    std::map<int, std::unique_ptr<Device>> devices;
};

// Never destroyed: a port object in static storage may close its device after every other
// static object of the program is gone.
DeviceTable& Devices() {
    static DeviceTable* table = new DeviceTable();
    return *table;
}

Device* DeviceOf(HANDLE h) {
    DeviceTable& t = Devices();
    std::lock_guard<std::mutex> lock(t.lock);
    const auto it = t.devices.find(h);
    return it == t.devices.end() ? nullptr : it->second.get();
}

// Bumped whenever a device leaves the table, so that no thread keeps using a stale lookup.
std::atomic<unsigned> g_tableGeneration{0};

// The last device this thread looked up. Replies are read one byte per call, and the table's
// lock and search would otherwise cost more than handing out the byte.
struct RecentDevice {
    HANDLE h = INVALID_HANDLE_VALUE;
    unsigned generation = 0;
    Device* pDevice = nullptr;
};
thread_local RecentDevice t_recent;

// How often this thread's reads went to the system, where time can pass.
thread_local DWORD t_systemWaits = 0;

Device& LookUpDevice(HANDLE h, unsigned generation) {
    DeviceTable& t = Devices();
    std::lock_guard<std::mutex> lock(t.lock);
    std::unique_ptr<Device>& d = t.devices[h];
    if (!d)
        d.reset(new Device());
    t_recent = {h, generation, d.get()};
    return *d;
}

inline Device& DeviceFor(HANDLE h) {
    const unsigned generation = g_tableGeneration.load(std::memory_order_acquire);
    if (t_recent.pDevice && t_recent.h == h && t_recent.generation == generation)
        return *t_recent.pDevice;
    return LookUpDevice(h, generation);
}

struct LastError {
    DWORD code = COMM_ERROR_NONE;
    DWORD nPort = 0;
    int sysError = 0;
    bool nothingThere = false; // no ports entry and no such machine port
    std::string path, target;
};

LastError& Last() {
    static LastError* last = new LastError();
    return *last;
}

void SetLast(DWORD code, int sysError) {
    Last().code = code;
    Last().sysError = sysError;
}

DWORD ErrorFromErrno(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return COMM_ERROR_ACCESS;
    case EBUSY:
    case EWOULDBLOCK:
        return COMM_ERROR_BUSY;
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case EIO: // a pseudo-terminal that nobody serves any more
        return COMM_ERROR_NO_DEVICE;
    default:
        return COMM_ERROR_SYSTEM;
    }
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
        ++t_systemWaits;
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

// Like read(): bytes from the device's buffer first, else one read() of what the driver holds.
ssize_t ReadBuffered(int fd, Device& d, unsigned char* out, std::size_t n) {
    if (d.head == d.tail) {
        ssize_t got;
        do {
            ++t_systemWaits;
            got = read(fd, d.buffer, sizeof d.buffer);
        } while (got < 0 && errno == EINTR);
        if (got <= 0)
            return got;
        d.head = 0;
        d.tail = static_cast<std::size_t>(got);
    }
    const std::size_t take = std::min(n, d.tail - d.head);
    std::memcpy(out, d.buffer + d.head, take);
    d.head += take;
    return static_cast<ssize_t>(take);
}

// Lets what was written leave the line before the settings found at open come back.
void DrainOutput(int fd) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kLongestDrainMs);
    int pending = 0;
    while (ioctl(fd, TIOCOUTQ, &pending) == 0 && pending > 0 && MsUntil(deadline) > 0)
        poll(nullptr, 0, 10);
}

// "COM<n>" or "COM<n>:" with n >= 1, else 0.
unsigned long PortNumber(const char* pszName) {
    if (!pszName || std::strncmp(pszName, "COM", 3) != 0)
        return 0;
    const char* digits = pszName + 3;
    if (*digits < '0' || *digits > '9')
        return 0;
    char* end = nullptr;
    errno = 0;
    const unsigned long n = std::strtoul(digits, &end, 10);
    if (errno != 0 || n > UINT_MAX || (*end != '\0' && !(end[0] == ':' && end[1] == '\0')))
        return 0;
    return n;
}

std::string Ordinal(DWORD n) {
    const char* suffix = "th";
    if (n % 100 < 11 || n % 100 > 13)
        suffix = n % 10 == 1 ? "st" : n % 10 == 2 ? "nd" : n % 10 == 3 ? "rd" : "th";
    return std::to_string(n) + suffix;
}

} // namespace

CString CommDevicePath(const char* pszPortName) {
    const unsigned long n = PortNumber(pszPortName);
    if (n == 0)
        return CString();
    const PortResolver::Port port = PortResolver().Resolve(static_cast<unsigned>(n));
    if (port.how != PortResolver::How::Link && port.how != PortResolver::How::Found)
        return CString();
    return CString(port.path.c_str());
}

HANDLE CommOpen(const char* pszPortName) {
    LastError& last = Last();
    last = LastError();
    const unsigned long n = PortNumber(pszPortName);
    if (n == 0) {
        SetLast(COMM_ERROR_PORT_NUMBER, 0);
        errno = ENOENT;
        return INVALID_HANDLE_VALUE;
    }
    last.nPort = static_cast<DWORD>(n);
    const PortResolver::Port port = PortResolver().Resolve(static_cast<unsigned>(n));
    last.path = port.path;
    last.target = port.target;
    switch (port.how) {
    case PortResolver::How::Link:
    case PortResolver::How::Found:
        break;
    case PortResolver::How::Console:
        SetLast(COMM_ERROR_CONSOLE, 0);
        errno = EPERM;
        return INVALID_HANDLE_VALUE;
    case PortResolver::How::Nothing:
        last.nothingThere = true;
        SetLast(COMM_ERROR_NO_DEVICE, ENOENT);
        errno = ENOENT;
        return INVALID_HANDLE_VALUE;
    case PortResolver::How::LookupError:
        SetLast(COMM_ERROR_LOOKUP, port.error);
        errno = port.error;
        return INVALID_HANDLE_VALUE;
    }

    // Anything but a character device is refused before it is opened (a FIFO would notice
    // the open), and again after, in case the name changed in between.
    struct stat st {};
    if (stat(port.path.c_str(), &st) == 0 && !S_ISCHR(st.st_mode)) {
        SetLast(COMM_ERROR_NOT_SERIAL, 0);
        errno = ENOTTY;
        return INVALID_HANDLE_VALUE;
    }
    int fd;
    do {
        fd = open(port.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int error = errno;
        SetLast(ErrorFromErrno(error), error);
        errno = error;
        return INVALID_HANDLE_VALUE;
    }
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        close(fd);
        SetLast(COMM_ERROR_NOT_SERIAL, 0);
        errno = ENOTTY;
        return INVALID_HANDLE_VALUE;
    }

    // flock holds against every other opener, root included; TIOCEXCL adds the tty's own
    // exclusion for other programs that do not take the lock.
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        close(fd);
        SetLast(COMM_ERROR_BUSY, EBUSY);
        errno = EBUSY;
        return INVALID_HANDLE_VALUE;
    }
    ioctl(fd, TIOCEXCL);

    // A descriptor number closed behind our back may come again: start afresh.
    Device& d = DeviceFor(fd);
    d = Device();
    d.restore = LineSettings::Save(fd, &d.found);
    d.nPort = last.nPort;
    d.path = port.path;
    d.target = port.target;
    return fd;
}

BOOL CommGetState(HANDLE h, DCB* pDcb) {
    LineSettings s;
    if (h < 0 || !LineSettings::Read(h, &s)) {
        const int error = h < 0 ? EBADF : errno;
        SetLast(error == ENOTTY || error == EINVAL ? COMM_ERROR_NOT_SERIAL : COMM_ERROR_SETTINGS,
                error);
        errno = error;
        return FALSE;
    }
    pDcb->BaudRate = s.baud;
    pDcb->ByteSize = static_cast<BYTE>(s.byteSize);
    pDcb->Parity = static_cast<BYTE>(s.parity);
    pDcb->StopBits = static_cast<BYTE>(s.stopBits);
    pDcb->fParity = s.parityCheck;
    pDcb->fOutxCtsFlow = s.ctsFlow;
    // XON/XOFF on a tty is the kernel's terminal default, not a choice made for the device: a
    // serial port starts without it, so that 0x11 and 0x13 pass like every other byte.
    pDcb->fOutX = FALSE;
    pDcb->fInX = FALSE;
    int lines = 0;
    pDcb->fDtrControl = (ioctl(h, TIOCMGET, &lines) == 0 && !(lines & TIOCM_DTR))
                            ? DTR_CONTROL_DISABLE
                            : DTR_CONTROL_ENABLE;
    return TRUE;
}

BOOL CommSetState(HANDLE h, const DCB* pDcb) {
    if (h < 0 || pDcb->ByteSize < 5 || pDcb->ByteSize > 8 || pDcb->Parity > EVENPARITY ||
        pDcb->StopBits > TWOSTOPBITS || pDcb->BaudRate == 0) {
        SetLast(COMM_ERROR_SETTINGS, EINVAL);
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
    if (!LineSettings::Apply(h, s)) {
        SetLast(COMM_ERROR_SETTINGS, errno);
        return FALSE;
    }

    const int dtr = TIOCM_DTR;
    int rc;
    do {
        rc = ioctl(h, pDcb->fDtrControl == DTR_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, &dtr);
    } while (rc < 0 && errno == EINTR);
    // Lines without modem control (pseudo-terminals) have no DTR to set.
    if (rc < 0 && errno != ENOTTY && errno != EINVAL) {
        SetLast(COMM_ERROR_SETTINGS, errno);
        return FALSE;
    }
    // Drivers take rates they cannot make without a word: check what the line really runs at.
    if (!LineSettings::RateTaken(h, s.baud)) {
        SetLast(COMM_ERROR_SETTINGS, errno);
        return FALSE;
    }
    return TRUE;
}

BOOL CommSetTimeouts(HANDLE h, const COMMTIMEOUTS* pTimeouts) {
    if (h < 0 || fcntl(h, F_GETFD) < 0) {
        errno = EBADF;
        return FALSE;
    }
    DeviceFor(h).timeouts = *pTimeouts;
    return TRUE;
}

BOOL CommPurge(HANDLE h, DWORD dwFlags) {
    const bool rx = (dwFlags & (PURGE_RXABORT | PURGE_RXCLEAR)) != 0;
    const bool tx = (dwFlags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0;
    if (!rx && !tx)
        return TRUE;
    if (rx) {
        if (Device* d = DeviceOf(h))
            d->head = d->tail = 0;
    }
    return tcflush(h, rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH)) == 0 ? TRUE : FALSE;
}

BOOL CommRead(HANDLE h, void* pBuffer, DWORD nToRead, DWORD* pdwRead) {
    *pdwRead = 0;
    if (h < 0) {
        errno = EBADF;
        return FALSE;
    }
    if (nToRead == 0)
        return TRUE;
    Device& d = DeviceFor(h);
    auto* const buffer = static_cast<unsigned char*>(pBuffer);
    // The common case, one byte of a reply already buffered: no time-out can matter.
    if (nToRead == 1 && d.head < d.tail) {
        buffer[0] = d.buffer[d.head++];
        *pdwRead = 1;
        return TRUE;
    }
    const COMMTIMEOUTS& t = d.timeouts;
    const bool atOnce = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                        t.ReadTotalTimeoutConstant == 0;
    const bool firstByte =
        t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
        t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;

    // Buffered bytes are handed out at once, without a system call.
    const std::size_t buffered = d.tail - d.head;
    if (buffered >= nToRead || (buffered > 0 && (atOnce || firstByte))) {
        const ssize_t n = ReadBuffered(h, d, buffer, nToRead);
        *pdwRead = static_cast<DWORD>(n);
        return TRUE;
    }

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

    DWORD got = 0;
    while (got < nToRead) {
        const ssize_t n = ReadBuffered(h, d, buffer + got, nToRead - got);
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
    const Device* d = DeviceOf(h);
    const COMMTIMEOUTS t = d ? d->timeouts : kDefaultTimeouts;
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

DWORD CommReadSystemCalls() {
    return t_systemWaits;
}

DWORD CommTickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<DWORD>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

BOOL CommClose(HANDLE h) {
    if (h < 0) {
        errno = EBADF;
        return FALSE;
    }
    std::unique_ptr<Device> d;
    {
        DeviceTable& t = Devices();
        std::lock_guard<std::mutex> lock(t.lock);
        const auto it = t.devices.find(h);
        if (it != t.devices.end()) {
            d = std::move(it->second);
            t.devices.erase(it);
            g_tableGeneration.fetch_add(1, std::memory_order_release);
        }
    }
    if (d && d->restore) {
        DrainOutput(h);
        LineSettings::Restore(h, d->found);
    }
    ioctl(h, TIOCNXCL);
    // Linux releases the descriptor even when close() is interrupted: never retry it.
    return (close(h) == 0 || errno == EINTR) ? TRUE : FALSE;
}

DWORD CommGetLastError() {
    return Last().code;
}

void CommSetLastError(DWORD dwError, DWORD nPort) {
    Last() = LastError();
    Last().code = dwError;
    Last().nPort = nPort;
}

CString CommErrorMessage() {
    const LastError& e = Last();
    // Numbers from a signed field read as they were typed.
    const std::string number = std::to_string(static_cast<int>(e.nPort));
    std::string line = "cannot open COM" + number;
    std::string where;
    if (!e.path.empty())
        where = ": " + e.path + (e.target.empty() ? "" : " -> " + e.target);
    const std::string assign = "morvik-ports --assign " + number;
    switch (e.code) {
    case COMM_ERROR_NONE:
        return CString();
    case COMM_ERROR_PORT_NUMBER:
        line += ": port number outside 1 to 4";
        break;
    case COMM_ERROR_SETTINGS:
        line += where + ": the line settings were refused";
        if (e.sysError != 0)
            line += std::string(" (") + std::strerror(e.sysError) + ")";
        break;
    case COMM_ERROR_NO_DEVICE:
        if (e.nothingThere)
            line += ": no such device (no " + (e.path.empty() ? "ports entry" : e.path) +
                    ", and no " + Ordinal(e.nPort) + " serial port on this machine)";
        else
            line += where + ": no such device";
        line += "; run morvik-ports to see the serial ports and assign one";
        break;
    case COMM_ERROR_ACCESS:
        line += where + ": permission denied; is your user in the dialout group? (sudo adduser "
                        "$USER dialout, then log in again)";
        break;
    case COMM_ERROR_BUSY:
        line += where + ": busy, held by another program";
        break;
    case COMM_ERROR_NOT_SERIAL:
        line += where + ": not a serial device; point COM" + number + " at one with " + assign +
                " DEVICE";
        break;
    case COMM_ERROR_CONSOLE:
        line +=
            where + ": the kernel console, left alone; to use it anyway: " + assign + " " + e.path;
        break;
    case COMM_ERROR_LOOKUP:
        line += where + ": cannot look up the entry (" + std::strerror(e.sysError) + ")";
        break;
    default:
        line += where + ": " + std::strerror(e.sysError);
        break;
    }
    return CString(line.c_str());
}
