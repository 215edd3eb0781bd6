#pragma once

#include "core/Types.h"
#include "serial/CommTypes.h"
#include "serial/DeviceAccess.h"
#include "serial/DeviceCheck.h"
#include "serial/PortResolver.h"

#include <string>

// Why a port or a device will not be opened, as the port rule, the checks before open or the
// open itself found it, the one sentence that says so and the one fix for it. The comm layer
// keeps the last one of each thread for CommErrorMessage (the dialog's balloon, morvik-send);
// morvik-ports --check says the same.
struct Refusal {
    // What to do about it: one command line, and when or how it takes effect.
    struct Fix {
        std::string command; // empty: nothing to run
        std::string note;
    };

    DWORD code = COMM_ERROR_NONE;
    int sysError = 0;
    DWORD nPort = 0;
    bool nothingThere = false;   // no ports entry and no such machine port
    bool defined = false;        // the port names a device given by the program (CommDefinePort)
    std::string path;            // the port's entry or node
    std::string device;          // the device looked at, every link resolved
    std::string holder;          // COMM_ERROR_IN_USE, COMM_ERROR_BUSY: whose terminal the line is,
    int holderPid = 0;           // or who holds it open (0: not known)
    DeviceAccess::Result access; // COMM_ERROR_ACCESS: who may open the device
    std::string fault;           // COMM_ERROR_PROFILE: the profile file, its line and what is wrong

    // What stands in the way of what the port rule found for port n; COMM_ERROR_NONE when it
    // named something that may be looked at.
    static Refusal OfPort(unsigned nPort, const PortResolver::Port& port);
    // What stands in the way of a device the checks before open looked at; COMM_ERROR_NONE for
    // a serial line that nobody uses as a terminal.
    static Refusal OfDevice(const DeviceCheck::Result& device);
    // A line that another program holds open, without a lock of its own.
    static Refusal OfHolder(const ProcessTable::Process& holder);
    // A device the user may not open, and why.
    static Refusal OfAccess(const DeviceAccess::Result& access);
    // What an errno from looking up or opening a device means for the user.
    static DWORD CodeOf(int error);

    // The reason alone, without the port, the path or a fix ("not a serial device"); empty for
    // COMM_ERROR_NONE.
    std::string Reason() const;
    // Why the user may not open the device, after "permission denied: ".
    static std::string AccessReason(const DeviceAccess::Result& access);
    // The fix, where one is known.
    Fix Advice() const;
    // The reason and its fix in one line, as a message gives them.
    std::string ReasonAndFix() const;
};
