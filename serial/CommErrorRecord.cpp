// The error record and the line for the user: no platform call, so every platform's comm layer
// says the same.

#include "serial/CommErrorRecord.h"

#include "core/OneLine.h"
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
    last.device = why.device;
    last.holder = why.holder;
    last.holderPid = why.holderPid;
    last.access = why.access;
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
    line += ": " + e.ReasonAndFix();
    // Paths and names come from outside: whatever they hold, the message stays one line.
    return CString(OneLine(line).c_str());
}

CString CommGoneMessage(HANDLE h) {
    const DeviceTable::Device* d = DeviceTable::Find(h);
    if (!d)
        return CString();
    const std::string line = d->port.empty() ? "the device went away: " + d->device
                                             : d->port + ": the device went away: " + d->device;
    return CString(OneLine(line).c_str());
}
