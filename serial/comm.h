#pragma once

// The platform's serial calls, one function each, as CSerialPort uses them. comm_posix.cpp makes
// them on Linux termios; CommPorts.cpp finds what a port name leads to and CommErrorRecord.cpp
// keeps the error record and its words, for every platform.

#include "core/String.h"
#include "core/Types.h"
#include "serial/CommTypes.h"
#include "serial/DeviceTable.h"
#include "serial/LineProfile.h"

#include <poll.h>

// Opens the device that the port name ("COMn:") leads to, for reading and writing, held
// exclusively; INVALID_HANDLE_VALUE on failure. Only serial lines are opened, and whether a
// device is one is decided before it is opened. CommClose puts back the settings found.
HANDLE CommOpen(const char* pszPortName);
BOOL CommGetState(HANDLE h, DCB* pDcb);
BOOL CommSetState(HANDLE h, const DCB* pDcb);
BOOL CommSetTimeouts(HANDLE h, const COMMTIMEOUTS* pTimeouts);
BOOL CommPurge(HANDLE h, DWORD dwFlags);
// Both set *pdwDone to 0 before anything else.
inline BOOL CommRead(HANDLE h, void* pBuffer, DWORD nToRead, DWORD* pdwRead);
BOOL CommWrite(HANDLE h, const void* pBuffer, DWORD nToWrite, DWORD* pdwWritten);
// A reply looked through a span at a time rather than a byte per call: the bytes already taken
// from the driver and not handed out yet, in place (valid until the next call on h). When there
// are none, a read as CommRead makes one brings what the driver holds: *pnBytes is 0 when
// nothing came within the time-outs, and the result FALSE when the read failed. CommSkip hands
// out the first n of the bytes; the others wait for the next read as they would for CommRead.
inline BOOL CommPeek(HANDLE h, const char** ppBytes, DWORD* pnBytes);
inline void CommSkip(HANDLE h, DWORD n);
BOOL CommClose(HANDLE h);

// Makes port nPort name the device at pszDevice in this process, ahead of the port rule, as a
// ports entry of that name would; nullptr gives the port back to the rule. For a program that
// was told which device to use: the checks before open apply as to any port.
void CommDefinePort(DWORD nPort, const char* pszDevice);

// The profile of port nPort: its profile file in the ports folder, the default where there is
// none, for a port the program defined (CommDefinePort) and for a number CSerialPort does not
// open (Open refuses it). FALSE when the file cannot be read or is wrong: the error record says
// which file, which line and what, and *pProfile is the default.
BOOL CommLoadProfile(DWORD nPort, LineProfile* pProfile);

// Puts back every port this process holds as closing would (the settings found at open, the
// exclusivity), at once, without a lock or an allocation: a signal handler may call it. For a
// process about to end: the descriptors stay open. exit() runs it by itself.
void CommRestoreAllPorts();

// Has a second process put back every port this process holds when it ends without doing so
// itself (killed, crashed, or ended with _exit() by a library, as Qt's Wayland plugin does when
// the compositor goes): for a program whose libraries may end it so. Called before the program
// makes any thread; FALSE when no guardian could be started.
BOOL CommGuardPorts();

// What the comm layer's waits call instead of poll() (same contract; nullptr gives poll() back):
// a program with windows keeps them painting while a port's read, write or close waits.
using CommWaitHook = int (*)(pollfd* pfds, nfds_t nfds, int timeoutMs);
void CommSetWaitHook(CommWaitHook hook);

// Milliseconds on a monotonic clock that wraps after 49 days.
DWORD CommTickCount();

namespace comm_internal {
// How many system calls (read() and waits) this thread's reads have made.
inline thread_local DWORD t_readSystemCalls = 0;
// A read that the bytes already taken from the driver cannot serve: once a reply or a chunk of
// it, against once a byte for the buffered path. Kept out of the byte loop's way: inlined, its
// registers and branches would slow every byte.
[[gnu::noinline]] BOOL ReadFromSystem(HANDLE h, void* pBuffer, DWORD nToRead, DWORD* pdwRead);
// The same for one byte, answered by value so that the byte loop's buffer and count never have
// their address taken and stay in registers: the byte (0 to 255), kNoByte when none came in
// time, kReadFailed when the read failed.
constexpr int kNoByte = -1;
constexpr int kReadFailed = -2;
[[gnu::noinline]] int ReadByteFromSystem(HANDLE h);
// CommPeek's read when nothing is left: how many bytes are buffered now, kNoByte or
// kReadFailed.
[[gnu::noinline]] int FillFromSystem(HANDLE h);
} // namespace comm_internal

// A read served from the buffer makes no system call, so no time worth a clock reading has
// passed while this stays the same.
inline DWORD CommReadSystemCalls() {
    return comm_internal::t_readSystemCalls;
}

inline BOOL CommRead(HANDLE h, void* pBuffer, DWORD nToRead, DWORD* pdwRead) {
    // The common case, a reply read byte by byte with the byte already buffered: no time-out
    // can matter, and nothing else is done.
    if (nToRead != 1)
        return comm_internal::ReadFromSystem(h, pBuffer, nToRead, pdwRead);
    auto* const pByte = static_cast<unsigned char*>(pBuffer);
    if (DeviceTable::TakeBuffered(h, pByte)) {
        *pdwRead = 1;
        return TRUE;
    }
    const int got = comm_internal::ReadByteFromSystem(h);
    *pdwRead = got >= 0 ? 1 : 0;
    if (got >= 0)
        *pByte = static_cast<unsigned char>(got);
    return got == comm_internal::kReadFailed ? FALSE : TRUE;
}

inline BOOL CommPeek(HANDLE h, const char** ppBytes, DWORD* pnBytes) {
    std::size_t n = DeviceTable::PeekBuffered(h, ppBytes);
    if (n == 0) {
        const int got = comm_internal::FillFromSystem(h);
        if (got == comm_internal::kReadFailed) {
            *pnBytes = 0;
            return FALSE;
        }
        n = got > 0 ? DeviceTable::PeekBuffered(h, ppBytes) : 0;
    }
    *pnBytes = static_cast<DWORD>(n);
    return TRUE;
}

inline void CommSkip(HANDLE h, DWORD n) {
    DeviceTable::Skip(h, n);
}

// The line for the user when the device of the open port h went away (a read on it failed):
// "COM1: the device went away: /dev/ttyUSB0", or for a device the program was given by path,
// "the device went away: PATH". Empty when h is not open.
CString CommGoneMessage(HANDLE h);

// Why the last CommOpen, CommGetState, CommSetState or CommLoadProfile of this thread failed
// (COMM_ERROR_*).
DWORD CommGetLastError();
// For refusals made before any device is looked for.
void CommSetLastError(DWORD dwError, DWORD nPort);
// One line for the user: the port, the device path, the reason (Refusal) and a fix where one
// helps.
CString CommErrorMessage();
