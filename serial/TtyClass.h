#pragma once

#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

// The kernel's tty class as sysfs shows it (each tty's name, device number, the hardware behind
// it, the active consoles), with what udev made of it: the links in /dev/serial and its database
// of devices. It only reads, and opens no device; where it looks is given in Roots (the
// machine's own by default), so tests can stand up a machine of their own.
class TtyClass {
public:
    struct Roots {
        std::string sysClassTty = "/sys/class/tty"; // one folder per tty, and console/active
        std::string sysDevChar = "/sys/dev/char";   // device numbers to devices ("4:64")
        std::string byIdFolder = "/dev/serial/by-id";
        std::string byPathFolder = "/dev/serial/by-path";
        std::string udevData = "/run/udev/data"; // udev's database: one entry per device
    };

    // The families of serial ttys, built-in UARTs first.
    enum class Family { Uart, Usb, Acm };

    // The USB adapter behind a tty, as sysfs describes it.
    struct Adapter {
        bool usb = false;            // a tty of a USB device
        std::string vendor, product; // its USB ids, "0403" and "6001"
        bool serialNumber = false;   // the adapter reports one
        int latencyMs = -1;          // an FTDI adapter's latency timer; -1 when there is none
    };

    // A device's entry in udev's database.
    struct UdevEntry {
        bool known = false;                  // there is one
        std::vector<std::string> links;      // its links below /dev ("serial/by-id/usb-...")
        std::vector<std::string> properties; // "ID_MM_DEVICE_IGNORE=1"
    };

    TtyClass() = default;
    explicit TtyClass(Roots roots) : m_roots(std::move(roots)) {}

    // The family and number of a serial tty's name ("ttyUSB3": Usb, 3); false for any other name.
    static bool ParseName(const std::string& name, Family* pFamily, unsigned long* pNumber);
    static bool InFamily(const std::string& name, Family family);

    // Every tty of the class, in name order.
    std::vector<std::string> Names() const;
    // Whether hardware stands behind the tty (its device link exists).
    bool HasDevice(const std::string& name) const;
    // A built-in UART's type as the serial driver identified it; 0 for unknown or unreadable.
    int UartType(const std::string& name) const;
    // The tty's device number, 0 when sysfs gives none.
    dev_t NumberOf(const std::string& name) const;
    // The tty whose device number that is; empty when the class has none.
    std::string NameOf(dev_t number) const;
    // Whether the character device of that number belongs to the tty class.
    bool IsTty(dev_t number) const;
    Adapter AdapterOf(const std::string& name) const;
    // The consoles the kernel lists as active ("tty0 ttyS0"), in its order.
    std::vector<std::string> ActiveConsoles() const;

    // The entry of /dev/serial/by-id (by-path) that leads to the device node, or empty: one name
    // per device, the first in name order.
    std::string ByIdName(const std::string& devicePath) const;
    std::string ByPathName(const std::string& devicePath) const;
    // The by-id name udev's entry says it made for the device, in the by-id folder, or empty.
    // Two adapters without serial numbers of one make both claim the same name, and its link
    // leads to the one udev saw last: ByIdName says where a name leads, this what was claimed.
    std::string ClaimedByIdName(const UdevEntry& entry) const;
    UdevEntry Udev(dev_t number) const;

    const Roots& GetRoots() const { return m_roots; }

private:
    Roots m_roots;
};
