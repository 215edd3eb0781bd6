#pragma once

#include "core/Types.h"
#include "serial/CommTypes.h"
#include "serial/DeviceCheck.h"
#include "serial/PortResolver.h"

#include <string>

// Why a port or a device will not be opened, as the port rule, the checks before open or the
// open itself found it, and the one sentence that says so. The comm layer keeps the last one of
// each thread for CommErrorMessage; morvik-ports says the same, each adding the fix it knows.
struct Refusal {
    DWORD code = COMM_ERROR_NONE;
    int sysError = 0;
    DWORD nPort = 0;
    bool nothingThere = false; // no ports entry and no such machine port
    std::string path;          // the port's entry or node
    std::string holder;        // COMM_ERROR_IN_USE: whose terminal the line is
    int holderPid = 0;
    std::string fault; // COMM_ERROR_PROFILE: the profile file, its line and what is wrong

    // What stands in the way of what the port rule found for port n; COMM_ERROR_NONE when it
    // named something that may be looked at.
    static Refusal OfPort(unsigned nPort, const PortResolver::Port& port);
    // What stands in the way of a device the checks before open looked at; COMM_ERROR_NONE for
    // a serial line that nobody uses as a terminal.
    static Refusal OfDevice(const DeviceCheck::Result& device);
    // What an errno from looking up or opening a device means for the user.
    static DWORD CodeOf(int error);

    // The reason alone, without the port, the path or a fix ("not a serial device"); empty for
    // COMM_ERROR_NONE.
    std::string Reason() const;
};
