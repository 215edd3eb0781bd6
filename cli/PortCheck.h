#pragma once

#include "serial/DeviceAccess.h"
#include "serial/PortResolver.h"
#include "serial/ProcessTable.h"

#include <string>
#include <vector>

#include <sys/types.h>

// Why a port will not work, or works badly, found without opening anything: the port rule and
// the checks the program makes before open, the device's mode against the user's groups and
// the group file, the open files of running processes, sysfs and udev's database. Reasons and
// fixes of what the program refuses are the program's own (Refusal).
class PortCheck {
public:
    // Where it looks: where the comm layer looks (the group file among it).
    struct Sources {
        PortResolver::Sources machine;
    };

    // Who asks.
    using User = DeviceAccess::User;

    struct Finding {
        std::string verdict; // "ok", "missing", "no access", "slow", ...
        std::string reason;
        std::string fix;       // one command line, or empty
        bool blocking = false; // the port cannot be opened while it holds
    };

    PortCheck(Sources sources, User user);

    // What stands in the way of port n, the blocking finding first and then what makes it work
    // badly; a single "ok" when nothing does. port is what the port rule found for n.
    std::vector<Finding> Check(unsigned nPort, const PortResolver::Port& port) const;

private:
    // The same for the device alone, without the port's profile.
    std::vector<Finding> CheckLine(unsigned nPort, const PortResolver::Port& port) const;
    // The other processes with their open files, read once.
    const std::vector<ProcessTable::Process>& Processes() const;
    const ProcessTable::Process* Running(const std::string& name) const;

    Sources m_sources;
    User m_user;
    mutable bool m_scanned = false;
    mutable std::vector<ProcessTable::Process> m_processes;
};
