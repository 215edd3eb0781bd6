#pragma once

#include "serial/TtyClass.h"

#include <string>
#include <vector>

#include <sys/types.h>

// What sysfs and udev's database tell of the serial tty behind a device number, read without
// opening the device: the adapter behind it, and what udev made of it.
struct TtyFacts : TtyClass::Adapter {
    std::string name;                 // "ttyUSB0"; empty when sysfs has no tty of that number
    bool udevKnown = false;           // udev's database has an entry for the device
    bool modemManagerIgnores = false; // the entry carries ID_MM_DEVICE_IGNORE=1
    std::string byIdName;             // the by-id name udev's entry claims for it
    std::vector<std::string> sharers; // other adapters whose entries claim that same name

    static TtyFacts Of(const TtyClass& ttys, dev_t number);
};
