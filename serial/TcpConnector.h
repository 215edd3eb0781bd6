#pragma once

#include "core/Types.h"

#include <string>

// A TCP connection to a host and port, every step bounded: the name's resolution (getaddrinfo
// blocks as long as the resolver likes: it runs on a thread of its own, given up on at the
// deadline) and the connection to each address in turn. The socket is non-blocking and closed on
// exec, with TCP_NODELAY (a command goes out at once) and keep-alive on (a server that went away
// is noticed on an idle line).
class TcpConnector {
public:
    struct Result {
        int fd = -1;     // the connected socket, or -1
        DWORD code = 0;  // COMM_ERROR_RESOLVE or COMM_ERROR_CONNECT when fd is -1
        int error = 0;   // the system's error, where there is one
        std::string why; // what went wrong, for the user
    };

    // Within ms for the name and ms for the connection. The caller owns the socket.
    static Result Connect(const std::string& host, unsigned port, long long ms);
};
