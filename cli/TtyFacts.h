#pragma once

#include "serial/PortResolver.h"

#include <string>
#include <vector>

#include <sys/types.h>

// What sysfs and udev's database tell of the serial tty behind a device number, read without
// opening the device.
struct TtyFacts {
    std::string name;                 // "ttyUSB0"; empty when sysfs has no tty of that number
    bool usb = false;                 // an adapter on USB
    std::string vendor, product;      // its USB ids, "0403" and "6001"
    bool serialNumber = false;        // the adapter reports one
    int latencyMs = -1;               // an FTDI adapter's latency timer; -1 when there is none
    bool udevKnown = false;           // udev's database has an entry for the device
    bool modemManagerIgnores = false; // the entry carries ID_MM_DEVICE_IGNORE=1
    std::string byIdName;             // the by-id name udev made for it, from its entry
    std::vector<std::string> sharers; // other ttys whose entries claim that same name

    static TtyFacts Of(const PortResolver::Sources& sources, dev_t number);
};
