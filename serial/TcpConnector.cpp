#include "serial/TcpConnector.h"

#include "core/UniqueFd.h"
#include "serial/CommTypes.h"
#include "serial/Deadline.h"

#include <atomic>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Keep-alive probes after this many seconds of silence, then every few seconds: a server gone
// without a word shows within a minute, not the system's two hours.
constexpr int kKeepIdleS = 30;
constexpr int kKeepIntervalS = 5;
constexpr int kKeepCount = 4;

// One look-up, shared by the thread that makes it and the caller that waits for it: whoever
// lets go last frees it, so a caller that gave up leaves nothing behind.
struct Lookup {
    std::string host, service;
    int done = -1; // an eventfd, readable once the answer is in
    std::atomic<bool> finished{false};
    int rc = 0;
    addrinfo* list = nullptr;

    Lookup() : done(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Lookup() {
        if (list)
            freeaddrinfo(list);
        if (done >= 0)
            close(done);
    }
    Lookup(const Lookup&) = delete;
    Lookup& operator=(const Lookup&) = delete;
};

addrinfo Hints(int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    return hints;
}

TcpConnector::Result Failed(DWORD code, int error, std::string why) {
    TcpConnector::Result r;
    r.code = code;
    r.error = error;
    r.why = std::move(why);
    return r;
}

void SetOptions(int fd) {
    const int on = 1;
    // Best effort: a socket without them still works, only slower or later to notice a loss.
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
}

} // namespace

TcpConnector::Result TcpConnector::Connect(const std::string& host, unsigned port, long long ms) {
    const std::string service = std::to_string(port);
    const std::string where =
        (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + service;
    // An address needs no resolver; a name goes to a thread that may outlive the wait.
    std::shared_ptr<Lookup> lookup = std::make_shared<Lookup>();
    const addrinfo numeric = Hints(AI_NUMERICHOST | AI_NUMERICSERV);
    lookup->rc = getaddrinfo(host.c_str(), service.c_str(), &numeric, &lookup->list);
    if (lookup->rc == EAI_NONAME) {
        if (lookup->done < 0)
            return Failed(COMM_ERROR_RESOLVE, errno,
                          "cannot look up " + host + " (" + std::strerror(errno) + ")");
        lookup->host = host;
        lookup->service = service;
        try {
            std::thread([lookup] {
                const addrinfo hints = Hints(AI_ADDRCONFIG | AI_NUMERICSERV);
                lookup->rc = getaddrinfo(lookup->host.c_str(), lookup->service.c_str(), &hints,
                                         &lookup->list);
                lookup->finished.store(true, std::memory_order_release);
                const std::uint64_t one = 1;
                // The caller may have gone: nobody reads it then, and that is all.
                (void)!write(lookup->done, &one, sizeof one);
            }).detach();
        } catch (const std::system_error& e) {
            return Failed(COMM_ERROR_RESOLVE, e.code().value(),
                          "cannot look up " + host + " (" + e.what() + ")");
        }
        const Deadline resolving(ms);
        const Deadline::Wait w = resolving.For(lookup->done, POLLIN);
        if (w != Deadline::Wait::Ready || !lookup->finished.load(std::memory_order_acquire))
            return Failed(COMM_ERROR_RESOLVE, ETIMEDOUT,
                          "no address for " + host + " within " + std::to_string(ms) + " ms");
    }
    if (lookup->rc != 0)
        return Failed(COMM_ERROR_RESOLVE, 0,
                      "cannot find the address of " + host + " (" + gai_strerror(lookup->rc) + ")");

    const Deadline connecting(ms);
    Result last = Failed(COMM_ERROR_CONNECT, EADDRNOTAVAIL, "no address for " + host);
    for (const addrinfo* a = lookup->list; a; a = a->ai_next) {
        UniqueFd s(
            socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
        if (s.Get() < 0) {
            last = Failed(COMM_ERROR_CONNECT, errno,
                          "cannot connect to " + where + " (" + std::strerror(errno) + ")");
            continue;
        }
        SetOptions(s.Get());
        int error = 0;
        if (connect(s.Get(), a->ai_addr, a->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS || error == EINTR) {
                const Deadline::Wait w = connecting.For(s.Get(), POLLOUT);
                if (w == Deadline::Wait::TimedOut)
                    return Failed(COMM_ERROR_CONNECT, ETIMEDOUT,
                                  "no connection to " + where + " within " + std::to_string(ms) +
                                      " ms");
                socklen_t size = sizeof error;
                if (getsockopt(s.Get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                    error = errno;
            }
        }
        if (error == 0) {
            Result r;
            r.fd = s.Release();
            return r;
        }
        last = Failed(COMM_ERROR_CONNECT, error,
                      error == ECONNREFUSED
                          ? "nothing listens at " + where + " (connection refused)"
                          : "cannot connect to " + where + " (" + std::strerror(error) + ")");
        if (connecting.MsLeft() == 0)
            break;
    }
    return last;
}
