#include "serial/Deadline.h"

#include <algorithm>
#include <climits>

#include <poll.h>

namespace {
using Clock = std::chrono::steady_clock;

Deadline::WaitHook g_waitHook = nullptr;

int Poll(pollfd* pfds, nfds_t nfds, int timeoutMs) {
    return g_waitHook ? g_waitHook(pfds, nfds, timeoutMs) : poll(pfds, nfds, timeoutMs);
}
} // namespace

void Deadline::SetWaitHook(WaitHook hook) {
    g_waitHook = hook;
}

Deadline::Deadline(long long ms) : m_at(Clock::now() + std::chrono::milliseconds(ms)) {}

long long Deadline::MsLeft() const {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_at - Clock::now()).count();
    return std::max<long long>(left, 0);
}

Deadline::Wait Deadline::For(int fd, short events, long long capMs) const {
    // Without a cap the deadline is the cap: no clock reading for it.
    const Deadline cap = capMs >= 0 ? Deadline(std::min(capMs, MsLeft())) : *this;
    for (;;) {
        pollfd pfd{fd, events, 0};
        const int rc = RetryOnEintr([&] {
            return Poll(&pfd, 1, static_cast<int>(std::min<long long>(cap.MsLeft(), INT_MAX)));
        });
        if (rc < 0)
            return Wait::Failed;
        if (rc == 0) {
            if (cap.MsLeft() == 0)
                return Wait::TimedOut;
            continue; // woke a little early
        }
        if (pfd.revents & events)
            return Wait::Ready;
        if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            errno = EIO;
            return Wait::HungUp;
        }
    }
}

void Deadline::Sleep(long long ms) const {
    const Deadline until(std::min(ms, MsLeft()));
    // Interrupted or woken early, it sleeps again for what is left.
    for (long long left = until.MsLeft(); left > 0; left = until.MsLeft())
        Poll(nullptr, 0, static_cast<int>(std::min<long long>(left, INT_MAX)));
}
