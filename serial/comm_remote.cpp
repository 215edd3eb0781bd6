// The comm calls for ports on other machines: the connection (TcpConnector), the line of the
// URL's kind (Rfc2217Line, SocketLine) and the entry in DeviceTable whose buffer the data bytes
// are handed out from, as a tty's are.

#include "serial/CommRemote.h"

#include "serial/CommErrorRecord.h"
#include "serial/Deadline.h"
#include "serial/RemoteAddress.h"
#include "serial/RemoteLine.h"
#include "serial/Rfc2217Line.h"
#include "serial/SocketLine.h"
#include "serial/TcpConnector.h"

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>

namespace {

struct Lines {
    std::mutex lock;
    std::map<HANDLE, std::unique_ptr<RemoteLine>> byHandle;
};

// Never destroyed: a port object in static storage may close its line after every other static
// object is gone; the system closes the sockets of a process that ends.
Lines& TheLines() {
    static auto* lines = new Lines();
    return *lines;
}

BOOL FailWith(DWORD code, int error, const std::string& why) {
    Fail(code, error);
    CommErrorRecord::Last().fault = why;
    errno = error;
    return FALSE;
}

// The line of the URL's kind over the connected socket fd, which it takes.
std::unique_ptr<RemoteLine> MakeLine(int fd, const RemoteAddress& address) {
    if (address.scheme == RemoteAddress::Scheme::Rfc2217)
        return std::make_unique<Rfc2217Line>(fd, address);
    return std::make_unique<SocketLine>(fd, address);
}

// Takes the line of h out of the table, its socket still open.
std::unique_ptr<RemoteLine> TakeLine(HANDLE h) {
    Lines& lines = TheLines();
    std::lock_guard<std::mutex> lock(lines.lock);
    const auto it = lines.byHandle.find(h);
    if (it == lines.byHandle.end())
        return nullptr;
    std::unique_ptr<RemoteLine> line = std::move(it->second);
    lines.byHandle.erase(it);
    return line;
}

} // namespace

HANDLE CommOpenRemote(const std::string& url, DWORD connectMs, const std::string& port) {
    RemoteAddress address;
    std::string why;
    if (!RemoteAddress::Parse(url, &address, &why)) {
        FailWith(COMM_ERROR_ADDRESS, EINVAL, why);
        return INVALID_HANDLE_VALUE;
    }
    const TcpConnector::Result c = TcpConnector::Connect(address.host, address.port, connectMs);
    if (c.fd < 0) {
        FailWith(c.code, c.error, c.why);
        return INVALID_HANDLE_VALUE;
    }
    std::unique_ptr<RemoteLine> line = MakeLine(c.fd, address);
    if (!line->Start()) {
        FailWith(line->WhyCode(), line->WhyError(), line->Why());
        return INVALID_HANDLE_VALUE;
    }
    // A descriptor number closed behind our back may come again: its old line goes untouched.
    int staleLine = -1;
    if (DeviceTable::Remove(c.fd, &staleLine))
        CommForgetRemote(c.fd);
    DeviceTable::Device& d = DeviceTable::Add(c.fd, -1);
    d.remote = line.get();
    d.port = port;
    d.device = address.Url();
    Lines& lines = TheLines();
    std::lock_guard<std::mutex> lock(lines.lock);
    lines.byHandle[c.fd] = std::move(line);
    return c.fd;
}

BOOL CommGetStateRemote(const DeviceTable::Device& d, DCB* pDcb) {
    const DCB& s = d.remote->State();
    pDcb->BaudRate = s.BaudRate;
    pDcb->ByteSize = s.ByteSize;
    pDcb->Parity = s.Parity;
    pDcb->StopBits = s.StopBits;
    pDcb->fDtrControl = s.fDtrControl;
    // No flow control, no parity checking: the server's line carries every byte.
    pDcb->fParity = FALSE;
    pDcb->fOutxCtsFlow = FALSE;
    pDcb->fOutX = FALSE;
    pDcb->fInX = FALSE;
    return TRUE;
}

BOOL CommSetStateRemote(DeviceTable::Device& d, const DCB* pDcb) {
    if (!d.remote->Apply(*pDcb))
        return FailWith(d.remote->WhyCode(), d.remote->WhyError(), d.remote->Why());
    return TRUE;
}

BOOL CommPurgeRemote(DeviceTable::Device& d) {
    std::size_t kept = 0;
    const bool ok = d.remote->Purge(d.buffer, sizeof d.buffer, &kept);
    d.head = 0;
    d.tail = kept;
    // Whatever else came is waited for before it is read.
    d.drained = true;
    return ok ? TRUE : FALSE;
}

BOOL CommWriteRemote(DeviceTable::Device& d, const void* pBuffer, DWORD nToWrite,
                     DWORD* pdwWritten) {
    const COMMTIMEOUTS& t = d.timeouts;
    const Deadline deadline(
        Deadline::Clamp(static_cast<long long>(t.WriteTotalTimeoutMultiplier) * nToWrite +
                        t.WriteTotalTimeoutConstant));
    std::size_t done = 0;
    const bool ok =
        d.remote->Write(static_cast<const unsigned char*>(pBuffer), nToWrite, deadline, &done);
    *pdwWritten = static_cast<DWORD>(done);
    return ok ? TRUE : FALSE;
}

BOOL CommCloseRemote(HANDLE h) {
    int heldLine = -1;
    DeviceTable::Remove(h, &heldLine);
    // The line closes its socket as it goes.
    return TakeLine(h) ? TRUE : FALSE;
}

void CommForgetRemote(HANDLE h) {
    if (std::unique_ptr<RemoteLine> line = TakeLine(h))
        line->Abandon();
}
