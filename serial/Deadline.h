#pragma once

#include <cerrno>
#include <chrono>

#include <poll.h>

// Runs a system call again for as long as a signal interrupts it. The call is evaluated anew
// each time, so that a wait computes what is left of its time.
template <class Call> auto RetryOnEintr(Call call) -> decltype(call()) {
    decltype(call()) rc;
    do
        rc = call();
    while (rc < 0 && errno == EINTR);
    return rc;
}

// A time limit on the monotonic clock, and the comm layer's waits bounded by it.
class Deadline {
public:
    // Nothing waits longer: a device that never reads can hold a write this long.
    static constexpr long long kLongestMs = 30000;
    // The one clamp of every time-out: 0 (none, i.e. for ever) and anything longer become the
    // longest wait.
    static long long Clamp(long long ms) { return (ms <= 0 || ms > kLongestMs) ? kLongestMs : ms; }

    explicit Deadline(long long ms);
    long long MsLeft() const;

    enum class Wait { Ready, TimedOut, HungUp, Failed };
    // Until fd is ready for events (POLLIN or POLLOUT), at most until the deadline and, when
    // capMs >= 0, at most capMs. A line that hung up says so at once.
    Wait For(int fd, short events, long long capMs = -1) const;
    // Sleeps ms, or until the deadline if that comes first.
    void Sleep(long long ms) const;

    // What every wait above calls, with poll()'s contract; poll() itself unless a program set
    // another (CommSetWaitHook).
    using WaitHook = int (*)(pollfd* pfds, nfds_t nfds, int timeoutMs);
    static void SetWaitHook(WaitHook hook);

private:
    std::chrono::steady_clock::time_point m_at;
};
