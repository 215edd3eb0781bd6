#pragma once

#include "serial/LineSettings.h"

// A second process that puts back the lines this one holds when this one ends without doing so
// itself: killed, crashed, or ended with _exit() by a library (Qt's Wayland plugin ends a program
// so when its compositor goes), which runs no exit handlers. It holds a duplicate of each line's
// descriptor with what putting the line back takes, and waits for this process to end. A line
// let go normally is forgotten first, so the guardian never undoes what a later owner set.
class LineGuardian {
public:
    // Slots 0 to kSlots - 1 can be watched.
    static constexpr int kSlots = 32;

    // Forks the guardian: to be called before the program makes a thread. False when it could
    // not be started; the program then works without one.
    static bool Start();

    // The guardian keeps a duplicate of fd under slot, with the settings found (none when
    // nullptr) and whether to clear the exclusivity this process set. Nothing without a guardian.
    static void Watch(int slot, int fd, const LineSettings::Snapshot* pFound, bool exclusive);
    // The guardian closes its duplicate without touching the line, and has done so when this
    // returns (or a second has passed): the line's lock is free once this process closes its
    // own descriptor.
    static void Unwatch(int slot);
    // The same for every line, for a process that put its lines back and is about to end.
    // Async-signal-safe.
    static void UnwatchAll();
};
