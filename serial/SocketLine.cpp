#include "serial/SocketLine.h"

#include "serial/Deadline.h"

#include <cerrno>

#include <sys/socket.h>

namespace {
// A purge drops what has come so far, not a stream that never stops.
constexpr int kMostChunksDropped = 256;
} // namespace

bool SocketLine::Apply(const DCB& dcb) {
    m_dcb = dcb;
    return true;
}

bool SocketLine::Purge(unsigned char* buffer, std::size_t size, std::size_t* pKept) {
    *pKept = 0;
    for (int i = 0; i < kMostChunksDropped; ++i) {
        const ssize_t n = RetryOnEintr([&] { return recv(Fd(), buffer, size, MSG_DONTWAIT); });
        // The end of the connection stays for the next read to find.
        if (n <= 0)
            return n == 0 || errno == EAGAIN;
    }
    return true;
}

ssize_t SocketLine::Read(unsigned char* buffer, std::size_t size) {
    return RetryOnEintr([&] { return recv(Fd(), buffer, size, MSG_DONTWAIT); });
}

bool SocketLine::Write(const unsigned char* data, std::size_t n, const Deadline& deadline,
                       std::size_t* pDone) {
    return SendAll(reinterpret_cast<const char*>(data), n, deadline, pDone);
}
