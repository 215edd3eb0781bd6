#pragma once

#include "serial/PortResolver.h"
#include "testsupport/TempFolder.h"

#include <string>

#include <sys/types.h>

// A machine of the test's own for the port resolver: a sysfs tty class, console lists, a /dev
// folder, udev's links and database, a process table and a group file in a temporary tree. While
// the object lives the serial layer looks there instead of at the real machine, so no test ever
// reaches a real serial port.
class FakeMachine {
public:
    FakeMachine();
    ~FakeMachine();
    FakeMachine(const FakeMachine&) = delete;
    FakeMachine& operator=(const FakeMachine&) = delete;

    // A tty in the sysfs class; a built-in UART (ttyS*) gets its type, 0 meaning unknown.
    void AddTty(const std::string& name, int uartType = 4, bool withDevice = true);
    void SetConsoles(const std::string& active, const std::string& procConsoles);
    // /dev/<name> as a link to a real device node (a pseudo-terminal stands in for a port).
    void AddNode(const std::string& name, const std::string& target);
    void AddById(const std::string& name, const std::string& target);
    // The sysfs entry of a device number, of the kernel's class subsystem ("tty", "mem").
    void AddCharDevice(dev_t number, const std::string& subsystem);
    // A running process in /proc whose controlling terminal is tty (0: none).
    void AddProcess(int pid, const std::string& name, int session, dev_t tty);
    // A descriptor of a process that leads to target.
    void AddOpenFile(int pid, int fd, const std::string& target);
    // A descriptor of a process on the master side of /dev/pts/<index>, with its fdinfo.
    void AddPtyMaster(int pid, int fd, unsigned index);

    // A serial tty on a USB adapter, as sysfs shows one: the tty's class entry with its device
    // number (node's, a real device standing in), below the adapter's USB device; and
    // /dev/<name> leading to node.
    struct UsbAdapter {
        std::string vendor = "0403", product = "6001";
        std::string serial; // empty: the adapter has none
        int latencyMs = -1; // an FTDI adapter's latency timer; -1: none
        std::string socket = "1-1";
    };
    void AddUsbTty(const std::string& name, const std::string& node, const UsbAdapter& usb);
    void AddByPath(const std::string& name, const std::string& target);
    // udev's entry for a device ("S:serial/by-id/..." and "E:KEY=VALUE" lines); the first one
    // makes the database exist.
    void AddUdevEntry(dev_t number, const std::string& lines);
    void SetGroupFile(const std::string& text);

    const PortResolver::Sources& Sources() const { return m_sources; }
    // Who may open what: for the command-line tools' diagnosis.
    const std::string& GroupFile() const { return m_groupFile; }
    std::string DevPath(const std::string& name) const { return m_sources.devFolder + "/" + name; }
    const std::string& Root() const { return m_root.Path(); }

private:
    TempFolder m_root;
    PortResolver::Sources m_sources;
    PortResolver::Sources m_saved;
    std::string m_groupFile;
};
