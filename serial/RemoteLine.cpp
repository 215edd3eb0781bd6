#include "serial/RemoteLine.h"

#include "core/OneLine.h"
#include "serial/Deadline.h"

#include <algorithm>
#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

RemoteLine::RemoteLine(int fd, const RemoteAddress& address) : m_fd(fd), m_address(address) {
    // Until the server has been told otherwise, the program's own frame.
    m_dcb.BaudRate = 19200;
    m_dcb.ByteSize = 8;
    m_dcb.Parity = NOPARITY;
    m_dcb.StopBits = ONESTOPBIT;
    m_dcb.fDtrControl = DTR_CONTROL_ENABLE;
}

RemoteLine::~RemoteLine() {
    if (m_fd >= 0)
        close(m_fd);
}

bool RemoteLine::Failed(DWORD code, int error, const std::string& why) {
    m_whyCode = code;
    m_whyError = error;
    m_why = why;
    errno = error;
    return false;
}

bool RemoteLine::SendAll(const char* bytes, std::size_t n, const Deadline& deadline,
                         std::size_t* pSent) {
    *pSent = 0;
    while (*pSent < n) {
        const ssize_t sent = RetryOnEintr(
            [&] { return send(m_fd, bytes + *pSent, n - *pSent, MSG_NOSIGNAL | MSG_DONTWAIT); });
        if (sent > 0) {
            *pSent += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno != EAGAIN)
            return false;
        if (deadline.MsLeft() == 0)
            return true; // timed out: a short count, as a serial write has
        const Deadline::Wait w = deadline.For(m_fd, POLLOUT);
        if (w == Deadline::Wait::TimedOut)
            return true;
        if (w != Deadline::Wait::Ready)
            return false;
    }
    return true;
}

void RemoteLine::KeepText(const unsigned char* data, std::size_t n) {
    const std::size_t room = kLongestText - std::min(kLongestText, m_text.size());
    m_text.append(reinterpret_cast<const char*>(data), std::min(n, room));
}

std::string RemoteLine::ClosedReason() const {
    std::string text = m_text;
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    text.erase(last == std::string::npos ? 0 : last + 1);
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    text.erase(0, first == std::string::npos ? text.size() : first);
    return "the server closed the connection" + (text.empty() ? "" : ": " + OneLine(text));
}
