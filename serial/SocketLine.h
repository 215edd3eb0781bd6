#pragma once

#include "serial/RemoteLine.h"

// A raw TCP port (socket://HOST:PORT): the bytes go as they are, in both directions. The speed
// and frame are the server's: Apply tells it nothing, and a purge drops what has come so far.
class SocketLine : public RemoteLine {
public:
    SocketLine(int fd, const RemoteAddress& address) : RemoteLine(fd, address) {}

    bool Start() override { return true; }
    bool Apply(const DCB& dcb) override;
    bool Purge(unsigned char* buffer, std::size_t size, std::size_t* pKept) override;
    ssize_t Read(unsigned char* buffer, std::size_t size) override;
    bool Write(const unsigned char* data, std::size_t n, const Deadline& deadline,
               std::size_t* pDone) override;
};
