#pragma once

#include "serial/LineSettings.h"

// The lines this process holds, each with the settings it had when it was opened, where an exit
// path or a signal handler can reach them: a fixed table, no lock, no allocation.
class HeldLines {
public:
    static constexpr int kCapacity = 32;

    // Keeps what closing fd must put back: the settings found (none when nullptr) and, when
    // exclusive, the exclusivity this process set. The slot, or -1 when the table is full. The
    // first call has RestoreAll run at exit().
    static int Hold(int fd, const LineSettings::Snapshot* pFound, bool exclusive);
    // Lets the written bytes leave (for a bounded time), then puts the line back and frees the
    // slot; nothing when RestoreAll came first.
    static void Release(int slot);
    // Frees the slot without touching its line (its descriptor was closed behind our back).
    static void Forget(int slot);
    // Puts back every line still held, at once. Async-signal-safe; the descriptors stay open
    // and the slots stay taken, since the process is about to end.
    static void RestoreAll();
};
