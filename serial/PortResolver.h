#pragma once

#include "serial/ProcessTable.h"
#include "serial/TtyClass.h"

#include <string>
#include <utility>
#include <vector>

// What port number n names on this machine, in this order: the entry COMn in the user's ports
// folder when it exists; else the n-th serial port the kernel reports in sysfs (built-in UARTs
// of known type, then USB and ACM adapters, each by number), leaving out every tty that is an
// active kernel console. Where it looks is given in Sources (the machine's own by default), so
// tests can stand up a machine of their own.
class PortResolver {
public:
    // Where the comm layer looks, the checks before open included.
    struct Sources {
        // Empty: the user's ports folder (PortsFolder).
        std::string portsFolder;
        TtyClass::Roots ttys;
        // The kernel's table of consoles, beside the active ones that sysfs lists.
        std::string procConsoles = "/proc/consoles";
        std::string devFolder = "/dev";
        // The running processes, whose terminals are not ports.
        std::string procFolder = ProcessTable::kMachineRoot;
        // Users and groups, for the advice on a device the user may not open.
        std::string groupFile = "/etc/group";
        std::string passwdFile = "/etc/passwd";
    };

    enum class How {
        Link,       // the user's entry: path is the entry, target where a symlink points
        Ended,      // the same, made by a simulated device that has ended: never followed
        Found,      // a machine port: path is the device node, target its by-id name or empty
        Console,    // the port would be a kernel console: path is its node, never opened
        Nothing,    // no entry and no such machine port: path is the entry looked for
        LookupError // the entry could not be looked up: path is the entry, error says why
    };
    struct Port {
        How how = How::Nothing;
        std::string path;
        std::string target;
        int error = 0;
    };

    PortResolver() = default;
    explicit PortResolver(Sources sources) : m_sources(std::move(sources)) {}

    // nPort >= 1.
    Port Resolve(unsigned nPort) const;

    // The machine's serial ttys in port order ("ttyS1", "ttyUSB0"), consoles left out.
    std::vector<std::string> MachinePorts() const;
    // Active kernel consoles among the machine's serial ttys, in port order.
    std::vector<std::string> SkippedConsoles() const;
    // Names of active consoles as the kernel lists them.
    std::vector<std::string> ActiveConsoles() const;
    const Sources& GetSources() const { return m_sources; }

private:
    std::vector<std::string> SerialTtys() const;

    Sources m_sources;
};
