// The error record and the sentences for the user: no platform call, so every platform's comm
// layer says the same.

#include "serial/CommErrorRecord.h"

#include <cerrno>
#include <cstring>

namespace {

std::string Ordinal(DWORD n) {
    const char* suffix = "th";
    if (n % 100 < 11 || n % 100 > 13)
        suffix = n % 10 == 1 ? "st" : n % 10 == 2 ? "nd" : n % 10 == 3 ? "rd" : "th";
    return std::to_string(n) + suffix;
}

} // namespace

CommErrorRecord& CommErrorRecord::Last() {
    static thread_local CommErrorRecord last;
    return last;
}

BOOL Fail(DWORD code, int error) {
    CommErrorRecord& last = CommErrorRecord::Last();
    last.code = code;
    last.sysError = error;
    errno = error;
    return FALSE;
}

DWORD CommErrorFromErrno(int error) {
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

DWORD CommGetLastError() {
    return CommErrorRecord::Last().code;
}

void CommSetLastError(DWORD dwError, DWORD nPort) {
    CommErrorRecord& last = CommErrorRecord::Last();
    last = CommErrorRecord();
    last.code = dwError;
    last.nPort = nPort;
}

CString CommErrorMessage() {
    const CommErrorRecord& e = CommErrorRecord::Last();
    // Numbers from a signed field read as they were typed.
    const std::string number = std::to_string(static_cast<int>(e.nPort));
    // A device the program was given is named as it was given; a port by its number and path.
    std::string line = e.defined ? "cannot open " + e.path : "cannot open COM" + number;
    std::string where;
    if (!e.path.empty() && !e.defined)
        where = ": " + e.path + (e.target.empty() ? "" : " -> " + e.target);
    const std::string assign = "morvik-ports --assign " + number;
    switch (e.code) {
    case COMM_ERROR_NONE:
        return CString();
    case COMM_ERROR_PORT_NUMBER:
        line += ": port number outside " + std::to_string(kFirstPort) + " to " +
                std::to_string(kLastPort);
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
        if (!e.defined)
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
        line += where + ": not a serial device";
        if (!e.defined)
            line += "; point COM" + number + " at one with " + assign + " DEVICE";
        break;
    case COMM_ERROR_CONSOLE:
        line +=
            where + ": the kernel console, left alone; to use it anyway: " + assign + " " + e.path;
        break;
    case COMM_ERROR_IN_USE:
        line += where + ": in use as the terminal of " + e.holder + " (pid " +
                std::to_string(e.holderPid) + ")";
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
