#include "serial/RemoteProbe.h"

#include "core/OneLine.h"
#include "serial/CommTypes.h"
#include "serial/Deadline.h"
#include "serial/RemoteAddress.h"
#include "serial/RemoteLine.h"
#include "serial/Rfc2217Line.h"
#include "serial/SocketLine.h"
#include "serial/TcpConnector.h"

#include <cerrno>

#include <sys/socket.h>

namespace {

// A raw port's server that turns a client away says so at once: this long is waited for it.
constexpr long long kRefusalMs = 300;

RemoteProbe::Result Failed(DWORD code, const std::string& why) {
    RemoteProbe::Result r;
    r.code = code;
    r.why = why;
    return r;
}

} // namespace

RemoteProbe::Result RemoteProbe::Probe(const std::string& url, DWORD connectMs) {
    RemoteAddress address;
    std::string why;
    if (!RemoteAddress::Parse(url, &address, &why))
        return Failed(COMM_ERROR_ADDRESS, why);
    const TcpConnector::Result c = TcpConnector::Connect(address.host, address.port, connectMs);
    if (c.fd < 0)
        return Failed(c.code, c.why);
    Result r;
    if (address.scheme == RemoteAddress::Scheme::Rfc2217) {
        Rfc2217Line rfc(c.fd, address);
        if (!rfc.Start())
            return Failed(rfc.WhyCode(), rfc.Why());
        // A server need not say who it is; one that cannot serve the device says so here.
        if (!rfc.AskSignature(&r.signature) && rfc.WhyError() != ETIMEDOUT)
            return Failed(rfc.WhyCode(), rfc.Why());
        if (!rfc.AskRate(&r.rate))
            return Failed(rfc.WhyCode(), rfc.Why());
        r.ok = true;
        return r;
    }
    const SocketLine line(c.fd, address); // closes the socket as it goes
    // Nothing to ask: what comes at once, if anything, is a refusal when the server then closes.
    const Deadline deadline(kRefusalMs);
    std::string text;
    for (;;) {
        char buf[256];
        const ssize_t n = RetryOnEintr([&] { return recv(c.fd, buf, sizeof buf, MSG_DONTWAIT); });
        if (n == 0 || (n < 0 && errno != EAGAIN))
            return Failed(COMM_ERROR_SERVER, "the server closed the connection" +
                                                 (text.empty() ? "" : ": " + OneLine(text)));
        if (n > 0 && text.size() < RemoteLine::kLongestText)
            text.append(buf, static_cast<std::size_t>(n));
        if (n < 0 && deadline.For(c.fd, POLLIN) == Deadline::Wait::TimedOut)
            break;
    }
    r.ok = true;
    return r;
}
