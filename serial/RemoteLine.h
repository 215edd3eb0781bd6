#pragma once

#include "core/Types.h"
#include "serial/CommTypes.h"
#include "serial/RemoteAddress.h"

#include <cstddef>
#include <string>

#include <sys/types.h>

class Deadline;

// A port on another machine, reached over a connected TCP socket that it owns: what the comm
// calls do with such a line where they would go to a tty's driver. Each kind has its own class
// (Rfc2217Line, SocketLine), chosen by the URL's scheme when the port opens.
class RemoteLine {
public:
    // An acknowledgement, or the server's answer to what it was asked, is waited for this long.
    static constexpr long long kAnswerMs = 3000;
    // A server's text before it closes is kept up to this many bytes, for the reason.
    static constexpr std::size_t kLongestText = 200;

    virtual ~RemoteLine();
    RemoteLine(const RemoteLine&) = delete;
    RemoteLine& operator=(const RemoteLine&) = delete;

    int Fd() const { return m_fd; }
    const RemoteAddress& Address() const { return m_address; }
    // Lets go of the socket without closing it: its number already names another file.
    void Abandon() { m_fd = -1; }

    // What the server must agree to before the line is used; false with Why().
    virtual bool Start() = 0;
    // The line's settings as the server last took them (as they were asked for, for a raw
    // socket, whose speed is the server's).
    const DCB& State() const { return m_dcb; }
    // Has the server set the line; false with Why() (COMM_ERROR_SETTINGS: a setting was not
    // taken).
    virtual bool Apply(const DCB& dcb) = 0;
    // Drops every byte received so far, also those the server sent before it purged its own
    // buffer; bytes that came after that land in buffer (size bytes of room), *pKept of them.
    virtual bool Purge(unsigned char* buffer, std::size_t size, std::size_t* pKept) = 0;
    // Like read() on a descriptor that does not block: data bytes into buffer, 0 at the end of
    // the connection, -1 with errno (EAGAIN when nothing but the protocol's own bytes came).
    virtual ssize_t Read(unsigned char* buffer, std::size_t size) = 0;
    // All of data, by the deadline; *pDone says how many data bytes went. False when the
    // connection failed.
    virtual bool Write(const unsigned char* data, std::size_t n, const Deadline& deadline,
                       std::size_t* pDone) = 0;

    // Why the last Start or Apply failed: a COMM_ERROR_* code, the system's error, and words.
    DWORD WhyCode() const { return m_whyCode; }
    int WhyError() const { return m_whyError; }
    const std::string& Why() const { return m_why; }

protected:
    RemoteLine(int fd, const RemoteAddress& address);
    // Records why, returns false.
    bool Failed(DWORD code, int error, const std::string& why);
    // Sends all of bytes by the deadline (without SIGPIPE); false when it could not.
    bool SendAll(const char* bytes, std::size_t n, const Deadline& deadline, std::size_t* pSent);
    // Keeps data that came while the line was being set up: a server says why it closes so.
    void KeepText(const unsigned char* data, std::size_t n);
    // "the server closed the connection", with what it said before.
    std::string ClosedReason() const;

    DCB m_dcb;

private:
    int m_fd;
    RemoteAddress m_address;
    std::string m_text;
    DWORD m_whyCode = COMM_ERROR_NONE;
    int m_whyError = 0;
    std::string m_why;
};
