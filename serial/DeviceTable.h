#pragma once

#include "serial/CommTypes.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <string>

// The comm layer's state of each descriptor it opened, and each thread's memory of the last one
// it looked up: a reply is read one byte per call, and the table's lock and search would cost
// more than handing out the byte. A descriptor is used by one thread at a time, as a port is.
class DeviceTable {
public:
    // One read() takes up to this much of what the driver holds.
    static constexpr std::size_t kReadChunk = 4096;

    // A device that could not be configured reads and writes with Open's: still bounded.
    static constexpr COMMTIMEOUTS kFallbackTimeouts{MAXDWORD, MAXDWORD, kReadTimeoutMs,
                                                    kWriteTimeoutMsPerByte, 0};

    struct Device {
        // The descriptor the entry is for, or INVALID_HANDLE_VALUE while the entry is free.
        // Entries are reused, never freed, so that a thread's memory of one can only go stale,
        // never dangle: it is checked against this.
        std::atomic<HANDLE> h{INVALID_HANDLE_VALUE};
        COMMTIMEOUTS timeouts = kFallbackTimeouts;
        int heldLine = -1; // its slot in HeldLines
        // Bytes taken from the driver and not handed out yet: buffer[head, tail).
        std::size_t head = 0;
        std::size_t tail = 0;
        bool drained = true; // the last read() took all the driver held
        unsigned char buffer[kReadChunk] = {};
        // How the user knows the device: "COM1" and the device opened, or the path the program
        // was given for the port and nothing more.
        std::string port;
        std::string device;
    };

    // The entry of a descriptor just opened, fresh; h must have none.
    static Device& Add(HANDLE h, int heldLine);
    // The entry of h, or nullptr; without a lock when h is the one this thread looked up last.
    static Device* Find(HANDLE h) {
        Device* d = t_recent;
        if (d->h.load(std::memory_order_relaxed) == h && h >= 0)
            return d;
        return FindLocked(h);
    }
    // The next byte taken from the driver for h, when this thread looked h up last and one is
    // left: a reply is read a byte per call, and this is all such a call does. A free entry has
    // none, so an invalid handle never gets one.
    static bool TakeBuffered(HANDLE h, unsigned char* pByte) {
        Device* d = t_recent;
        if (d->h.load(std::memory_order_relaxed) != h || d->head == d->tail)
            return false;
        *pByte = d->buffer[d->head++];
        return true;
    }
    // The bytes taken from the driver for h and not handed out yet, in place, when this thread
    // looked h up last; else none. Skip hands out the first n of them.
    static std::size_t PeekBuffered(HANDLE h, const char** ppBytes) {
        Device* d = t_recent;
        if (d->h.load(std::memory_order_relaxed) != h)
            return 0;
        *ppBytes = reinterpret_cast<const char*>(d->buffer + d->head);
        return d->tail - d->head;
    }
    static void Skip(HANDLE h, std::size_t n) {
        Device* d = t_recent;
        if (d->h.load(std::memory_order_relaxed) == h)
            d->head += std::min(n, d->tail - d->head);
    }
    // Frees the entry of h and returns its held line; false when h had none.
    static bool Remove(HANDLE h, int* pHeldLine);

private:
    static Device* FindLocked(HANDLE h);

    // Stands for "none yet": it has no handle and no bytes.
    static Device s_none;
    static thread_local Device* t_recent;
};

inline DeviceTable::Device DeviceTable::s_none;
inline thread_local DeviceTable::Device* DeviceTable::t_recent = &DeviceTable::s_none;
