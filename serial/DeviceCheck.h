#pragma once

#include "serial/PortResolver.h"
#include "serial/ProcessTable.h"
#include "serial/TtyClass.h"

#include <string>
#include <vector>

#include <sys/types.h>

// Whether a device may be opened as a serial port, decided before it is opened and from its
// device number, since on some devices the open itself acts (a watchdog arms, a terminal changes
// hands): a pseudo-terminal slave, or a character device of the kernel's tty class that is no
// virtual console and none of /dev/tty, /dev/console, /dev/ptmx, /dev/ttyprintk. A line that is
// the controlling terminal of a running process (a getty, somebody's shell) is refused too.
class DeviceCheck {
public:
    enum class Verdict { SerialLine, Missing, NotSerial, InUse };
    struct Result {
        Verdict verdict = Verdict::Missing;
        std::string device; // the path with every link resolved: what to open
        dev_t number = 0;   // the device number that was checked
        int error = 0;      // Missing: why it could not be looked at
        std::string holder; // InUse: the process whose terminal it is
        int holderPid = 0;
    };

    explicit DeviceCheck(const PortResolver::Sources& sources)
        : m_ttys(sources.ttys), m_processes(sources.procFolder) {}

    Result Check(const std::string& path) const;
    bool IsSerialLine(mode_t mode, dev_t number) const;
    // The process whose controlling terminal the device is (a session leader first).
    bool FindTerminalHolder(dev_t number, std::string* pName, int* pPid) const;

    static bool IsPseudoTerminalSlave(dev_t number);
    // A process other than self that has the line open, leaving out any that holds the line's
    // master side (what made a pseudo-terminal serves it, as socat and the simulated device do);
    // nullptr when none of those that can be seen does.
    static const ProcessTable::Process*
    OtherHolder(const std::vector<ProcessTable::Process>& processes, const Result& line, int self);

private:
    TtyClass m_ttys;
    ProcessTable m_processes;
};
