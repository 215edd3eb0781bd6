#pragma once

#include "core/Types.h"

// Wakes a wait for port n's device when something changes where it would appear: the folder of
// the port's entry, the folder of where the entry leads, and the device folder (/dev), each
// watched with inotify (or, where it does not exist yet, the nearest folder above it that
// does). For a program told to wait until a device is plugged in or linked: it sleeps until
// then, never polls.
class PortWatch {
public:
    explicit PortWatch(DWORD nPort);
    ~PortWatch();
    PortWatch(const PortWatch&) = delete;
    PortWatch& operator=(const PortWatch&) = delete;

    // Sleeps until something changed in a folder watched, at most ms; false when the time ran
    // out first, or when nothing could be watched. A folder that appeared is watched from then on.
    bool WaitForChange(long long ms);

private:
    // Watches the folders that decide what the port names now; what is watched already stays.
    void Watch();

    DWORD m_nPort;
    int m_fd;
};
