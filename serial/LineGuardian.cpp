#include "serial/LineGuardian.h"

#include "serial/Deadline.h"

#include <csignal>
#include <cstring>

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace {

enum Kind : int { kWatch = 1, kUnwatch, kUnwatchAll };

// One datagram each way: a request (with the descriptor attached to kWatch), and the kind of
// request done as the answer to kUnwatch and kUnwatchAll.
struct Request {
    int kind = 0;
    int slot = -1;
    bool haveFound = false;
    bool exclusive = false;
    LineSettings::Snapshot found{};
};

// The guardian answers at once; longer means it is gone or stopped.
constexpr int kAnswerMs = 1000;
// The guardian also looks whether its parent lives this often, should neither the parent's
// descriptor nor the end of the socket tell it (an old kernel; a copy of the socket kept by a
// child of the program).
constexpr int kLookEveryMs = 60000;

// This process's end of the socket; -1 without a guardian. Set once, before any thread.
int g_socket = -1;

long long NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Never blocks: a guardian that does not read loses the request, and the line its guard.
bool Send(int fd, const Request& request, int attached) {
    iovec iov{const_cast<Request*>(&request), sizeof request};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (attached >= 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &attached, sizeof attached);
    }
    return RetryOnEintr([&] { return sendmsg(fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT); }) ==
           static_cast<ssize_t>(sizeof request);
}

// Waits for the answer to a request of this kind; answers to earlier ones are passed over.
void AwaitAnswer(int kind) {
    const long long until = NowMs() + kAnswerMs;
    for (long long left = kAnswerMs; left > 0; left = until - NowMs()) {
        pollfd pfd{g_socket, POLLIN, 0};
        if (RetryOnEintr([&] { return poll(&pfd, 1, static_cast<int>(left)); }) <= 0)
            return;
        int answer = 0;
        const ssize_t n =
            RetryOnEintr([&] { return recv(g_socket, &answer, sizeof answer, MSG_DONTWAIT); });
        if (n == 0 || (n < 0 && errno != EAGAIN))
            return; // the guardian is gone
        if (n == static_cast<ssize_t>(sizeof answer) && answer == kind)
            return;
    }
}

void Ask(const Request& request) {
    const int saved = errno;
    if (g_socket >= 0 && Send(g_socket, request, -1))
        AwaitAnswer(request.kind);
    errno = saved;
}

// The guardian's side ----------------------------------------------------------------------

struct Watched {
    int fd = -1;
    bool haveFound = false;
    bool exclusive = false;
    LineSettings::Snapshot found{};
};

void Close(Watched& line) {
    if (line.fd >= 0)
        close(line.fd);
    line.fd = -1;
}

enum class Received { Request, Nothing, Ended };

// A request and the descriptor that came with it (-1 for none), without waiting.
Received Receive(int fd, Request* pRequest, int* pAttached) {
    *pAttached = -1;
    iovec iov{pRequest, sizeof *pRequest};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n =
        RetryOnEintr([&] { return recvmsg(fd, &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC); });
    if (n < 0)
        return errno == EAGAIN ? Received::Nothing : Received::Ended;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS)
            std::memcpy(pAttached, CMSG_DATA(c), sizeof *pAttached);
    }
    // Only the parent writes here: anything but a whole request is its end.
    return n == static_cast<ssize_t>(sizeof *pRequest) ? Received::Request : Received::Ended;
}

// The guardian: a forked copy of a program that may have had threads, so it makes system calls
// only (no allocation, no lock) until it ends with _exit().
[[noreturn]] void Guard(int fd, pid_t parent) {
    // It ends when its parent does, however that is; a terminal's Ctrl+C or hang-up reaches
    // the parent, which ends on them.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    for (int nSignal : {SIGINT, SIGHUP, SIGTERM, SIGQUIT, SIGPIPE})
        sigaction(nSignal, &ignore, nullptr);
    // Nothing of the parent's stays open here: not its terminal, its display or a pipe that
    // somebody reads to its end.
    if (fd != 3) {
        dup2(fd, 3);
        fd = 3;
    }
    for (int other = 0; other < 3; ++other)
        close(other);
    syscall(SYS_close_range, 4U, ~0U, 0U);
    const int parentFd = static_cast<int>(syscall(SYS_pidfd_open, parent, 0U));

    Watched lines[LineGuardian::kSlots];
    for (bool parentLives = true; parentLives;) {
        pollfd pfds[2] = {{fd, POLLIN, 0}, {parentFd, POLLIN, 0}};
        RetryOnEintr([&] { return poll(pfds, parentFd >= 0 ? 2 : 1, kLookEveryMs); });
        // Everything the parent said before it ended is read before its lines are put back.
        Request request;
        int attached = -1;
        Received received;
        while ((received = Receive(fd, &request, &attached)) == Received::Request) {
            const bool known = request.slot >= 0 && request.slot < LineGuardian::kSlots;
            switch (request.kind) {
            case kWatch:
                if (known) {
                    Close(lines[request.slot]);
                    lines[request.slot] = {attached, request.haveFound, request.exclusive,
                                           request.found};
                    attached = -1;
                }
                break;
            case kUnwatch:
                if (known)
                    Close(lines[request.slot]);
                break;
            case kUnwatchAll:
                for (Watched& line : lines)
                    Close(line);
                break;
            default:
                break;
            }
            if (attached >= 0)
                close(attached);
            if (request.kind != kWatch)
                send(fd, &request.kind, sizeof request.kind, MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        if (attached >= 0)
            close(attached);
        parentLives = received == Received::Nothing &&
                      !(parentFd >= 0 && (pfds[1].revents & POLLIN)) && getppid() == parent;
    }
    // As the parent's own exit would: the settings found, then the exclusivity.
    for (Watched& line : lines) {
        if (line.fd < 0)
            continue;
        if (line.haveFound)
            LineSettings::Restore(line.fd, line.found);
        if (line.exclusive)
            ioctl(line.fd, TIOCNXCL);
        Close(line);
    }
    _exit(0);
}

} // namespace

bool LineGuardian::Start() {
    if (g_socket >= 0)
        return true;
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        Guard(ends[1], parent);
    close(ends[1]);
    if (pid < 0) {
        close(ends[0]);
        return false;
    }
    g_socket = ends[0];
    return true;
}

void LineGuardian::Watch(int slot, int fd, const LineSettings::Snapshot* pFound, bool exclusive) {
    if (g_socket < 0)
        return;
    Request request;
    request.kind = kWatch;
    request.slot = slot;
    request.haveFound = pFound != nullptr;
    if (pFound)
        request.found = *pFound;
    request.exclusive = exclusive;
    const int saved = errno;
    Send(g_socket, request, fd);
    errno = saved;
}

void LineGuardian::Unwatch(int slot) {
    Request request;
    request.kind = kUnwatch;
    request.slot = slot;
    Ask(request);
}

void LineGuardian::UnwatchAll() {
    Request request;
    request.kind = kUnwatchAll;
    Ask(request);
}
