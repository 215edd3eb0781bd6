#pragma once

#include "core/Types.h"

#include <string>

// What a server of a port on another machine says when it is asked, as morvik-ports --check
// asks: the name resolved, the connection made, the Telnet options agreed, then its signature
// and the rate it runs (RFC 2217), or its refusal. Nothing is sent to the device.
class RemoteProbe {
public:
    struct Result {
        bool ok = false;
        DWORD code = 0;        // COMM_ERROR_* when not ok
        std::string why;       // what went wrong, when not ok
        std::string signature; // what an RFC 2217 server says of itself (may be empty)
        DWORD rate = 0;        // the rate it runs; 0 for a raw socket or one that did not say
    };

    // Within connectMs for the name and as long for the connection; each answer within
    // RemoteLine::kAnswerMs.
    static Result Probe(const std::string& url, DWORD connectMs);
};
