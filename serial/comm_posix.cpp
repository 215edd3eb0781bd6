// The serial calls on Linux: termios through LineSettings, bounded waits through Deadline, the
// state of each descriptor in DeviceTable and the settings to put back in HeldLines. What a
// port name leads to is CommPorts.cpp's; why an open fails is said in CommErrorRecord.cpp.

#include "serial/comm.h"

#include "serial/CommErrorRecord.h"
#include "serial/CommPorts.h"
#include "serial/Deadline.h"
#include "serial/DeviceAccess.h"
#include "serial/DeviceCheck.h"
#include "serial/HeldLines.h"
#include "serial/LineGuardian.h"
#include "serial/LineSettings.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

// Closes a descriptor that is not kept, without disturbing the error being recorded.
BOOL CloseAndFail(int fd, DWORD code, int error) {
    close(fd);
    return Fail(code, error);
}

DeviceAccess::Files AccountFiles() {
    return {CommSources().groupFile, CommSources().passwdFile};
}

// Opens the checked device, held exclusively against everyone, root included.
BOOL OpenExclusively(const DeviceCheck::Result& device, int* pFd) {
    const int fd = RetryOnEintr([&] {
        return open(device.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    });
    if (fd < 0) {
        const int error = errno;
        if (Refusal::CodeOf(error) != COMM_ERROR_ACCESS)
            return Fail(Refusal::CodeOf(error), error);
        // Who may open it, for a fix that fits this device and this user.
        Accepted(Refusal::OfAccess(DeviceAccess::Check(
            device.device, DeviceAccess::User::OfThisProcess(AccountFiles()), AccountFiles())));
        return Fail(COMM_ERROR_ACCESS, error);
    }
    // The name may have changed hands since it was checked.
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != device.number)
        return CloseAndFail(fd, COMM_ERROR_NOT_SERIAL, ENOTTY);
    // Root opens a line that another program holds with TIOCEXCL; it must not take it over.
    // (A kernel older than 3.8 cannot tell: the lock and TIOCEXCL below are all there is.)
    int exclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0)
        return CloseAndFail(fd, COMM_ERROR_BUSY, EBUSY);
    // The lock holds against every other opener that takes it; TIOCEXCL against the others.
    if (RetryOnEintr([&] { return flock(fd, LOCK_EX | LOCK_NB); }) != 0)
        return CloseAndFail(fd, COMM_ERROR_BUSY, EBUSY);
    if (ioctl(fd, TIOCEXCL) != 0)
        return CloseAndFail(fd, COMM_ERROR_SYSTEM, errno);
    *pFd = fd;
    return TRUE;
}

// Like read(): bytes from the device's buffer first, else one read() of what the driver holds.
ssize_t ReadBuffered(int fd, DeviceTable::Device& d, unsigned char* out, std::size_t n) {
    if (d.head == d.tail) {
        ++comm_internal::t_readSystemCalls;
        const ssize_t got = RetryOnEintr([&] { return read(fd, d.buffer, sizeof d.buffer); });
        d.drained = got < static_cast<ssize_t>(sizeof d.buffer);
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

} // namespace

HANDLE CommOpen(const char* pszPortName) {
    CommErrorRecord& last = CommErrorRecord::Last();
    last = CommErrorRecord();
    const unsigned long n = CommPortNumber(pszPortName);
    if (n == 0) {
        Fail(COMM_ERROR_PORT_NUMBER, ENOENT);
        return INVALID_HANDLE_VALUE;
    }
    last.nPort = static_cast<DWORD>(n);
    const PortResolver::Port port = CommLookUpPort(n, &last.defined);
    last.path = port.path;
    last.target = port.target;
    if (!Accepted(Refusal::OfPort(static_cast<unsigned>(n), port)))
        return INVALID_HANDLE_VALUE;
    const DeviceCheck::Result device = DeviceCheck(CommSources()).Check(port.path);
    if (!Accepted(Refusal::OfDevice(device)))
        return INVALID_HANDLE_VALUE;
    // A program that takes no lock (a script's plain open) holds the line all the same; the
    // process that made a pseudo-terminal serves it and does not count. Looked for before the
    // open, as the time from the open to the settings is the length of the DTR pulse.
    const std::vector<ProcessTable::Process> processes =
        ProcessTable(CommSources().procFolder).ProcessesWithFiles();
    if (const ProcessTable::Process* holder =
            DeviceCheck::OtherHolder(processes, device, static_cast<int>(getpid()))) {
        Accepted(Refusal::OfHolder(*holder));
        return INVALID_HANDLE_VALUE;
    }
    int fd = -1;
    if (!OpenExclusively(device, &fd))
        return INVALID_HANDLE_VALUE;

    LineSettings::Snapshot found{};
    const bool saved = LineSettings::Save(fd, &found);
    // A descriptor number closed behind our back may come again: its old line goes untouched.
    int staleLine = -1;
    if (DeviceTable::Remove(fd, &staleLine))
        HeldLines::Forget(staleLine);
    const int held = HeldLines::Hold(fd, saved ? &found : nullptr, true);
    if (held < 0) {
        // Our mark goes before the descriptor; if it will not, nothing more can be done.
        ioctl(fd, TIOCNXCL);
        CloseAndFail(fd, COMM_ERROR_SYSTEM, EMFILE);
        return INVALID_HANDLE_VALUE;
    }
    DeviceTable::Device& d = DeviceTable::Add(fd, held);
    // Named for the user as an open failure would name them, should the device go away.
    d.port = last.defined ? std::string() : "COM" + std::to_string(n);
    d.device = last.defined ? port.path : device.device;
    return fd;
}

BOOL CommGetState(HANDLE h, DCB* pDcb) {
    LineSettings s;
    if (h < 0)
        return Fail(COMM_ERROR_SETTINGS, EBADF);
    if (!LineSettings::Read(h, &s))
        return Fail(errno == ENOTTY || errno == EINVAL ? COMM_ERROR_NOT_SERIAL
                                                       : COMM_ERROR_SETTINGS,
                    errno);
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
    // A line without modem lines (a pseudo-terminal) fails TIOCMGET: its DTR counts as raised.
    int lines = 0;
    pDcb->fDtrControl = (ioctl(h, TIOCMGET, &lines) == 0 && !(lines & TIOCM_DTR))
                            ? DTR_CONTROL_DISABLE
                            : DTR_CONTROL_ENABLE;
    return TRUE;
}

BOOL CommSetState(HANDLE h, const DCB* pDcb) {
    // CSTOPB makes 1.5 stop bits on a 5-bit line and 2 on any other: nothing else can be made.
    const bool fiveBits = pDcb->ByteSize == 5;
    if (h < 0 || pDcb->ByteSize < 5 || pDcb->ByteSize > 8 || pDcb->Parity > SPACEPARITY ||
        pDcb->StopBits > TWOSTOPBITS || pDcb->BaudRate == 0 ||
        (pDcb->StopBits == ONE5STOPBITS && !fiveBits) ||
        (pDcb->StopBits == TWOSTOPBITS && fiveBits))
        return Fail(COMM_ERROR_SETTINGS, EINVAL);
    LineSettings s;
    s.baud = pDcb->BaudRate;
    s.byteSize = pDcb->ByteSize;
    s.parity = static_cast<LineSettings::Parity>(pDcb->Parity);
    s.stopBits = static_cast<LineSettings::StopBits>(pDcb->StopBits);
    s.parityCheck = pDcb->fParity != 0;
    s.ctsFlow = pDcb->fOutxCtsFlow != 0;
    s.xonOut = pDcb->fOutX != 0;
    s.xonIn = pDcb->fInX != 0;
    if (!LineSettings::Apply(h, s))
        return Fail(COMM_ERROR_SETTINGS, errno);

    const int dtr = TIOCM_DTR;
    const unsigned long request = pDcb->fDtrControl == DTR_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS;
    // Lines without modem control (pseudo-terminals) have no DTR to set.
    if (RetryOnEintr([&] { return ioctl(h, request, &dtr); }) != 0 && errno != ENOTTY &&
        errno != EINVAL)
        return Fail(COMM_ERROR_SETTINGS, errno);
    // Drivers take rates they cannot make without a word: check what the line really runs at.
    if (!LineSettings::RateTaken(h, s.baud))
        return Fail(COMM_ERROR_SETTINGS, errno);
    return TRUE;
}

BOOL CommSetTimeouts(HANDLE h, const COMMTIMEOUTS* pTimeouts) {
    DeviceTable::Device* d = DeviceTable::Find(h);
    if (!d) {
        errno = EBADF;
        return FALSE;
    }
    d->timeouts = *pTimeouts;
    return TRUE;
}

BOOL CommPurge(HANDLE h, DWORD dwFlags) {
    const bool rx = (dwFlags & (PURGE_RXABORT | PURGE_RXCLEAR)) != 0;
    const bool tx = (dwFlags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0;
    if (!rx && !tx)
        return TRUE;
    if (rx) {
        if (DeviceTable::Device* d = DeviceTable::Find(h))
            d->head = d->tail = 0;
    }
    return tcflush(h, rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH)) == 0 ? TRUE : FALSE;
}

int comm_internal::ReadByteFromSystem(HANDLE h) {
    unsigned char byte = 0;
    DWORD dwRead = 0;
    if (!ReadFromSystem(h, &byte, 1, &dwRead))
        return kReadFailed;
    return dwRead == 1 ? byte : kNoByte;
}

int comm_internal::FillFromSystem(HANDLE h) {
    unsigned char byte = 0;
    DWORD dwRead = 0;
    if (!ReadFromSystem(h, &byte, 1, &dwRead))
        return kReadFailed;
    if (dwRead == 0)
        return kNoByte;
    // The very read a byte-wide CommRead makes, so that spans bring what bytes would; the byte
    // it handed out goes back in front of the others, where it was taken from.
    DeviceTable::Device& d = *DeviceTable::Find(h);
    --d.head;
    return static_cast<int>(d.tail - d.head);
}

BOOL comm_internal::ReadFromSystem(HANDLE h, void* pBuffer, DWORD nToRead, DWORD* pdwRead) {
    *pdwRead = 0;
    DeviceTable::Device* const pDevice = DeviceTable::Find(h);
    if (!pDevice) {
        errno = EBADF;
        return FALSE;
    }
    if (nToRead == 0)
        return TRUE;
    DeviceTable::Device& d = *pDevice;
    auto* const buffer = static_cast<unsigned char*>(pBuffer);
    const COMMTIMEOUTS& t = d.timeouts;
    const bool atOnce = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                        t.ReadTotalTimeoutConstant == 0;
    const bool firstByte =
        t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
        t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;

    // Buffered bytes are handed out at once, without a system call.
    const std::size_t buffered = d.tail - d.head;
    if (buffered >= nToRead || (buffered > 0 && (atOnce || firstByte))) {
        *pdwRead = static_cast<DWORD>(ReadBuffered(h, d, buffer, nToRead));
        return TRUE;
    }

    const long long totalMs =
        atOnce
            ? 0
            : Deadline::Clamp(firstByte
                                  ? t.ReadTotalTimeoutConstant
                                  : static_cast<long long>(t.ReadTotalTimeoutMultiplier) * nToRead +
                                        t.ReadTotalTimeoutConstant);
    const long long intervalMs =
        (!firstByte && !atOnce && t.ReadIntervalTimeout != 0) ? t.ReadIntervalTimeout : -1;
    const Deadline deadline(totalMs);

    DWORD got = 0;
    bool waited = false;
    while (got < nToRead) {
        // Right after a read() that emptied the driver another would only say EAGAIN: wait
        // first, as a reply's first byte is waited for.
        if (waited || atOnce || d.head < d.tail || !d.drained) {
            const ssize_t n = ReadBuffered(h, d, buffer + got, nToRead - got);
            if (n > 0) {
                got += static_cast<DWORD>(n);
                *pdwRead = got;
                waited = false;
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
        }
        if (atOnce || deadline.MsLeft() == 0)
            break;
        ++t_readSystemCalls;
        const Deadline::Wait w = deadline.For(h, POLLIN, got > 0 ? intervalMs : -1);
        if (w == Deadline::Wait::TimedOut)
            break;
        if (w != Deadline::Wait::Ready)
            return got > 0 ? TRUE : FALSE;
        waited = true;
    }
    return TRUE;
}

BOOL CommWrite(HANDLE h, const void* pBuffer, DWORD nToWrite, DWORD* pdwWritten) {
    *pdwWritten = 0;
    const DeviceTable::Device* d = DeviceTable::Find(h);
    if (!d) {
        errno = EBADF;
        return FALSE;
    }
    const COMMTIMEOUTS& t = d->timeouts;
    const long long totalMs =
        Deadline::Clamp(static_cast<long long>(t.WriteTotalTimeoutMultiplier) * nToWrite +
                        t.WriteTotalTimeoutConstant);

    const auto* const buffer = static_cast<const unsigned char*>(pBuffer);
    DWORD done = 0;
    // Started when the driver first has no room: a command that goes out at once, as nearly
    // every one does, needs no clock reading.
    std::optional<Deadline> deadline;
    while (done < nToWrite) {
        const ssize_t n = RetryOnEintr([&] { return write(h, buffer + done, nToWrite - done); });
        if (n > 0) {
            done += static_cast<DWORD>(n);
            *pdwWritten = done;
            continue;
        }
        if (n < 0 && errno != EAGAIN)
            return FALSE;
        if (!deadline)
            deadline.emplace(totalMs);
        if (deadline->MsLeft() == 0)
            break; // timed out: success with a short count
        const Deadline::Wait w = deadline->For(h, POLLOUT);
        if (w == Deadline::Wait::TimedOut)
            break;
        if (w != Deadline::Wait::Ready)
            return FALSE;
    }
    return TRUE;
}

BOOL CommClose(HANDLE h) {
    if (h < 0) {
        errno = EBADF;
        return FALSE;
    }
    int heldLine = -1;
    if (DeviceTable::Remove(h, &heldLine))
        HeldLines::Release(heldLine);
    // Linux releases the descriptor even when close() is interrupted: never retry it.
    return (close(h) == 0 || errno == EINTR) ? TRUE : FALSE;
}

void CommRestoreAllPorts() {
    HeldLines::RestoreAll();
}

BOOL CommGuardPorts() {
    return LineGuardian::Start() ? TRUE : FALSE;
}

void CommSetWaitHook(CommWaitHook hook) {
    Deadline::SetWaitHook(hook);
}

DWORD CommTickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<DWORD>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}
