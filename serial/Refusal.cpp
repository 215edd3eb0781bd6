#include "serial/Refusal.h"

#include <cerrno>
#include <cstdio>
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

std::string Mode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

std::string Basename(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// How a device that only its owner may open is given to a group for serial lines: a pseudo-
// terminal at once (its maker made it, no rule will); anything else by a udev rule, which holds
// when it is plugged in again.
Refusal::Fix GiveToLineGroup(const DeviceAccess::Result& a) {
    const std::string& group = a.lineGroup;
    const std::string byHand =
        (a.group == group ? "" : "sudo chgrp " + group + " " + a.device + " && ") +
        "sudo chmod g+rw " + a.device;
    Refusal::Fix fix;
    if (a.pseudoTerminal) {
        fix.command = byHand;
    } else {
        fix.command = "echo 'KERNEL==\"" + Basename(a.device) + "\", GROUP=\"" + group +
                      "\", MODE=\"0660\"' | sudo tee /etc/udev/rules.d/99-morvik-serial.rules && "
                      "sudo udevadm trigger --action=add " +
                      a.device;
        fix.note = "or, until it is plugged in again: " + byHand;
    }
    if (!a.inLineGroup) {
        fix.command += " && sudo adduser $USER " + group;
        fix.note = "then log out and in again" + (fix.note.empty() ? "" : "; " + fix.note);
    }
    return fix;
}

} // namespace

Refusal Refusal::OfPort(unsigned nPort, const PortResolver::Port& port) {
    Refusal r;
    switch (port.how) {
    case PortResolver::How::Link:
    case PortResolver::How::Found:
        break;
    case PortResolver::How::Ended:
        r = Refused(COMM_ERROR_ENDED, ENXIO);
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
    case DeviceCheck::Verdict::Missing: {
        Refusal r = Refused(CodeOf(device.error), device.error);
        // A folder on the way is closed: nothing is known of the device, and no group helps.
        r.access.verdict = DeviceAccess::Verdict::Unseen;
        r.access.error = device.error;
        return r;
    }
    case DeviceCheck::Verdict::NotSerial:
        return Refused(COMM_ERROR_NOT_SERIAL, ENOTTY);
    case DeviceCheck::Verdict::InUse:
        break;
    }
    Refusal r = Refused(COMM_ERROR_IN_USE, EBUSY);
    r.device = device.device;
    r.holder = device.holder;
    r.holderPid = device.holderPid;
    return r;
}

Refusal Refusal::OfHolder(const ProcessTable::Process& holder) {
    Refusal r = Refused(COMM_ERROR_BUSY, EBUSY);
    r.holder = holder.name;
    r.holderPid = holder.pid;
    return r;
}

Refusal Refusal::OfAccess(const DeviceAccess::Result& access) {
    Refusal r = Refused(COMM_ERROR_ACCESS, access.error != 0 ? access.error : EACCES);
    r.access = access;
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

std::string Refusal::AccessReason(const DeviceAccess::Result& a) {
    const std::string mode = "mode " + Mode(a.mode);
    using Verdict = DeviceAccess::Verdict;
    switch (a.verdict) {
    case Verdict::Allowed:
        break;
    case Verdict::Unseen:
        if (a.error == EACCES)
            return "a folder on the way to it is closed to you";
        return std::strerror(a.error);
    case Verdict::OwnerMode:
        return mode + " does not let even its owner, you, read and write it";
    case Verdict::GroupMode:
        return mode + " does not let the group " + a.group + " read and write it";
    case Verdict::NotInGroup:
        return "only the group " + a.group + " may open it, and you are not in it";
    case Verdict::JoinedLater:
        return "you are in the group " + a.group +
               " that may open it, but this session began before you joined it";
    case Verdict::OwnerOnly:
        if (a.groupOpens)
            return "only its owner, " + a.owner + ", and the group " + a.group +
                   " may open it, which is no group for serial lines";
        return mode + " lets only its owner, " + a.owner + ", open it";
    case Verdict::BeyondMode:
        return mode + " lets you read and write it, but an access list or a security module "
                      "refuses";
    }
    return std::string();
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
    case COMM_ERROR_ACCESS: {
        const std::string why = AccessReason(access);
        return "permission denied" + (why.empty() ? "" : ": " + why);
    }
    case COMM_ERROR_BUSY:
        if (holderPid != 0)
            return "busy, held open by " + holder + " (pid " + std::to_string(holderPid) + ")";
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
    case COMM_ERROR_ENDED:
        return "the simulated device on COM" + std::to_string(nPort) + " has ended";
    default:
        return std::strerror(sysError);
    }
}

Refusal::Fix Refusal::Advice() const {
    const std::string number = std::to_string(static_cast<int>(nPort));
    const std::string assign = "morvik-ports --assign " + number;
    using Verdict = DeviceAccess::Verdict;
    switch (code) {
    case COMM_ERROR_NO_DEVICE:
    case COMM_ERROR_NOT_SERIAL:
        // A device the program was given by path is no port to assign.
        if (defined)
            break;
        return {assign + " DEVICE", ""};
    case COMM_ERROR_CONSOLE:
        return {assign + " " + path, "only to talk over the console"};
    case COMM_ERROR_ENDED:
        return {"morvik-simdevice --port " + number, "starts it again"};
    case COMM_ERROR_IN_USE:
        if (holder.find("getty") != std::string::npos)
            return {"sudo systemctl stop serial-getty@" + Basename(device) + ".service", ""};
        return {"kill " + std::to_string(holderPid), ""};
    case COMM_ERROR_BUSY:
        if (holderPid == 0)
            break;
        if (holder == "ModemManager")
            return {"sudo systemctl stop ModemManager", ""};
        return {"kill " + std::to_string(holderPid), ""};
    case COMM_ERROR_ACCESS:
        switch (access.verdict) {
        case Verdict::Allowed:
        case Verdict::Unseen:
            break;
        case Verdict::OwnerMode:
            return {"chmod u+rw " + access.device, ""};
        case Verdict::GroupMode:
            return {"sudo chmod g+rw " + access.device, ""};
        case Verdict::NotInGroup:
            return {"sudo adduser $USER " + access.group, "then log out and in again"};
        case Verdict::JoinedLater:
            return {"newgrp " + access.group,
                    "in this terminal; log out and in again for the rest"};
        case Verdict::OwnerOnly:
            return GiveToLineGroup(access);
        case Verdict::BeyondMode:
            return {"getfacl " + access.device, ""};
        }
        break;
    default:
        break;
    }
    return {};
}

std::string Refusal::ReasonAndFix() const {
    const Fix fix = Advice();
    std::string line = Reason();
    if (!fix.command.empty())
        line += "; fix: " + fix.command + (fix.note.empty() ? "" : " (" + fix.note + ")");
    return line;
}
