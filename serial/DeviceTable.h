#pragma once

#include "serial/CommTypes.h"

#include <atomic>
#include <cstddef>
#include <memory>

// The comm layer's state of each descriptor it opened, and each thread's memory of the last one
// it looked up: a reply is read one byte per call, and the table's lock and search would cost
// more than handing out the byte. A descriptor is used by one thread at a time, as a port is.
class DeviceTable {
public:
    // One read() takes up to this much of what the driver holds.
    static constexpr std::size_t kReadChunk = 4096;

    struct Device {
        // A device that could not be configured reads and writes with these: still bounded.
        COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 1000, 50, 0};
        int heldLine = -1; // its slot in HeldLines
        // Bytes taken from the driver and not handed out yet: buffer[head, tail).
        std::size_t head = 0;
        std::size_t tail = 0;
        unsigned char buffer[kReadChunk];
    };

    // The entry of a descriptor just opened; h must have none.
    static Device& Add(HANDLE h, int heldLine);
    // The entry of h, or nullptr; without a lock when h is the one this thread looked up last.
    static Device* Find(HANDLE h) {
        const Recent& r = t_recent;
        if (r.h == h && r.generation == s_generation.load(std::memory_order_acquire))
            return r.device;
        return FindLocked(h);
    }
    // Takes the entry of h out of the table; nullptr when it had none.
    static std::unique_ptr<Device> Remove(HANDLE h);

private:
    struct Recent {
        HANDLE h;
        unsigned generation;
        Device* device;
    };
    static Device* FindLocked(HANDLE h);

    // Bumped whenever the table changes, so that no thread keeps using a memory gone stale.
    static inline std::atomic<unsigned> s_generation{0};
    static inline thread_local Recent t_recent{INVALID_HANDLE_VALUE, 0, nullptr};
};
