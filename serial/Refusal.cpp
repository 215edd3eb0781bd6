#include "serial/Refusal.h"

#include <cerrno>
#include <cstring>

namespace {

std::string Ordinal(DWORD n) {
    const char* suffix = "th";
    if (n % 100 < 11 || n % 100 > 13)
        suffix = n % 10 == 1 ? "st" : n % 10 == 2 ? "nd" : n % 10 == 3 ? "rd" : "th";
    return std::to_string(n) + suffix;
}

Refusal Refused(DWORD code, int error) {
    Refusal r;
    r.code = code;
    r.sysError = error;
    return r;
}

} // namespace

Refusal Refusal::OfPort(unsigned nPort, const PortResolver::Port& port) {
    Refusal r;
    switch (port.how) {
    case PortResolver::How::Link:
    case PortResolver::How::Found:
        break;
    case PortResolver::How::Console:
        r = Refused(COMM_ERROR_CONSOLE, EPERM);
        break;
    case PortResolver::How::Nothing:
        r = Refused(COMM_ERROR_NO_DEVICE, ENOENT);
        r.nothingThere = true;
        break;
    case PortResolver::How::LookupError:
        r = Refused(COMM_ERROR_LOOKUP, port.error);
        break;
    }
    r.nPort = nPort;
    r.path = port.path;
    return r;
}

Refusal Refusal::OfDevice(const DeviceCheck::Result& device) {
    switch (device.verdict) {
    case DeviceCheck::Verdict::SerialLine:
        return Refusal();
    case DeviceCheck::Verdict::Missing:
        return Refused(CodeOf(device.error), device.error);
    case DeviceCheck::Verdict::NotSerial:
        return Refused(COMM_ERROR_NOT_SERIAL, ENOTTY);
    case DeviceCheck::Verdict::InUse:
        break;
    }
    Refusal r = Refused(COMM_ERROR_IN_USE, EBUSY);
    r.holder = device.holder;
    r.holderPid = device.holderPid;
    return r;
}

DWORD Refusal::CodeOf(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return COMM_ERROR_ACCESS;
    case EBUSY:
    case EWOULDBLOCK:
        return COMM_ERROR_BUSY;
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case EIO: // a pseudo-terminal that nobody serves any more
        return COMM_ERROR_NO_DEVICE;
    default:
        return COMM_ERROR_SYSTEM;
    }
}

std::string Refusal::Reason() const {
    switch (code) {
    case COMM_ERROR_NONE:
        return std::string();
    case COMM_ERROR_PORT_NUMBER:
        return "port number outside " + std::to_string(kFirstPort) + " to " +
               std::to_string(kLastPort);
    case COMM_ERROR_SETTINGS:
        return std::string("the line settings were refused") +
               (sysError != 0 ? std::string(" (") + std::strerror(sysError) + ")" : "");
    case COMM_ERROR_NO_DEVICE:
        if (nothingThere)
            return "no such device (no " + (path.empty() ? "ports entry" : path) + ", and no " +
                   Ordinal(nPort) + " serial port on this machine)";
        return "no such device";
    case COMM_ERROR_ACCESS:
        return "permission denied";
    case COMM_ERROR_BUSY:
        return "busy, held by another program";
    case COMM_ERROR_NOT_SERIAL:
        return "not a serial device";
    case COMM_ERROR_CONSOLE:
        return "the kernel console, left alone";
    case COMM_ERROR_IN_USE:
        return "in use as the terminal of " + holder + " (pid " + std::to_string(holderPid) + ")";
    case COMM_ERROR_PROFILE:
        return fault;
    case COMM_ERROR_LOOKUP:
        return std::string("cannot look up the entry (") + std::strerror(sysError) + ")";
    default:
        return std::strerror(sysError);
    }
}
