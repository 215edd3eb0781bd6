// The error record and the line for the user: no platform call, so every platform's comm layer
// says the same.

#include "serial/CommErrorRecord.h"

#include "serial/DeviceTable.h"
#include "serial/comm.h"

#include <cerrno>

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

BOOL Accepted(const Refusal& why) {
    if (why.code == COMM_ERROR_NONE)
        return TRUE;
    CommErrorRecord& last = CommErrorRecord::Last();
    last.nothingThere = why.nothingThere;
    last.holder = why.holder;
    last.holderPid = why.holderPid;
    return Fail(why.code, why.sysError);
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
    if (e.code == COMM_ERROR_NONE)
        return CString();
    // Numbers from a signed field read as they were typed.
    const std::string number = std::to_string(static_cast<int>(e.nPort));
    // A device the program was given is named as it was given; a port by its number and path.
    std::string line = e.defined ? "cannot open " + e.path : "cannot open COM" + number;
    if (!e.path.empty() && !e.defined && !e.nothingThere)
        line += ": " + e.path + (e.target.empty() ? "" : " -> " + e.target);
    line += ": " + e.Reason();
    // What to do about it, where the program knows.
    const std::string assign = "morvik-ports --assign " + number;
    switch (e.code) {
    case COMM_ERROR_NO_DEVICE:
        if (!e.defined)
            line += "; run morvik-ports to see the serial ports and assign one";
        break;
    case COMM_ERROR_ACCESS:
        line += "; is your user in the dialout group? (sudo adduser $USER dialout, then log in "
                "again)";
        break;
    case COMM_ERROR_NOT_SERIAL:
        if (!e.defined)
            line += "; point COM" + number + " at one with " + assign + " DEVICE";
        break;
    case COMM_ERROR_CONSOLE:
        line += "; to use it anyway: " + assign + " " + e.path;
        break;
    default:
        break;
    }
    return CString(line.c_str());
}

CString CommGoneMessage(HANDLE h) {
    const DeviceTable::Device* d = DeviceTable::Find(h);
    if (!d)
        return CString();
    const std::string line = d->port.empty() ? "the device went away: " + d->device
                                             : d->port + ": the device went away: " + d->device;
    return CString(line.c_str());
}
