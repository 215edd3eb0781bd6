#include "serial/HeldLines.h"

#include "serial/Deadline.h"
#include "serial/LineGuardian.h"

#include <atomic>
#include <cstdlib>

#include <sys/ioctl.h>

namespace {

// Longest wait at close for written bytes to leave before the old settings come back.
constexpr long long kLongestDrainMs = 2000;

enum State : int { kFree, kFilling, kHeld, kRestoring };

struct Line {
    std::atomic<int> state{kFree};
    int fd = -1;
    bool haveFound = false;
    bool exclusive = false;
    LineSettings::Snapshot found{};
};

static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads the table");
static_assert(HeldLines::kCapacity <= LineGuardian::kSlots, "the guardian watches every slot");

Line g_lines[HeldLines::kCapacity];

// The settings found and the exclusivity, one system call each. A failure leaves nothing better
// to do: a line that refuses its old settings keeps ours until a program sets its own, and a
// line that is gone took its exclusivity with it.
void PutBack(const Line& line) {
    if (line.haveFound)
        LineSettings::Restore(line.fd, line.found);
    if (line.exclusive)
        ioctl(line.fd, TIOCNXCL);
}

// Lets what was written leave the line before its settings change.
void Drain(int fd) {
    const Deadline deadline(kLongestDrainMs);
    int pending = 0;
    while (ioctl(fd, TIOCOUTQ, &pending) == 0 && pending > 0 && deadline.MsLeft() > 0)
        deadline.Sleep(10);
}

} // namespace

int HeldLines::Hold(int fd, const LineSettings::Snapshot* pFound, bool exclusive) {
    // From the first line held on, exit() puts back every line too (a lost display ends so).
    static const int atExit = std::atexit(&HeldLines::RestoreAll);
    static_cast<void>(atExit);
    for (int slot = 0; slot < kCapacity; ++slot) {
        Line& line = g_lines[slot];
        int expected = kFree;
        if (!line.state.compare_exchange_strong(expected, kFilling, std::memory_order_acquire))
            continue;
        line.fd = fd;
        line.haveFound = pFound != nullptr;
        if (pFound)
            line.found = *pFound;
        line.exclusive = exclusive;
        line.state.store(kHeld, std::memory_order_release);
        LineGuardian::Watch(slot, fd, pFound, exclusive);
        return slot;
    }
    return -1;
}

void HeldLines::Release(int slot) {
    if (slot < 0 || slot >= kCapacity)
        return;
    Line& line = g_lines[slot];
    int expected = kHeld;
    if (!line.state.compare_exchange_strong(expected, kRestoring, std::memory_order_acquire))
        return;
    if (line.haveFound)
        Drain(line.fd);
    PutBack(line);
    LineGuardian::Unwatch(slot);
    line.state.store(kFree, std::memory_order_release);
}

void HeldLines::Forget(int slot) {
    if (slot < 0 || slot >= kCapacity)
        return;
    // The descriptor number may name another file by now: nothing of it is touched.
    int expected = kHeld;
    if (g_lines[slot].state.compare_exchange_strong(expected, kFree, std::memory_order_acq_rel))
        LineGuardian::Unwatch(slot);
}

void HeldLines::RestoreAll() {
    const int savedErrno = errno;
    for (Line& line : g_lines) {
        int expected = kHeld;
        if (line.state.compare_exchange_strong(expected, kRestoring, std::memory_order_acquire))
            PutBack(line);
    }
    LineGuardian::UnwatchAll();
    errno = savedErrno;
}
