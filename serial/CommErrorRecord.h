#pragma once

#include "serial/comm.h"

#include <string>

// Why this thread's last failed open or state change failed, with what the sentence for the user
// needs. Kept per thread, as the platform keeps its last-error value; the same on every platform.
struct CommErrorRecord {
    DWORD code = COMM_ERROR_NONE;
    DWORD nPort = 0;
    int sysError = 0;
    bool nothingThere = false; // no ports entry and no such machine port
    bool defined = false;      // the port names a device given by the program (CommDefinePort)
    std::string path, target;  // the port's entry or node, and where a link leads
    std::string holder;        // COMM_ERROR_IN_USE: whose terminal the line is
    int holderPid = 0;

    static CommErrorRecord& Last();
};

// Records code and the system's error for this thread, leaves errno set to error, returns FALSE.
BOOL Fail(DWORD code, int error);
// What an errno from looking up or opening a device means for the user.
DWORD CommErrorFromErrno(int error);
