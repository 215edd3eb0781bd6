#include "cli/PortCheck.h"

#include "cli/TtyFacts.h"
#include "serial/DeviceCheck.h"
#include "serial/PortsFolder.h"
#include "serial/Refusal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <utility>

#include <unistd.h>

namespace {

using Finding = PortCheck::Finding;

std::string Pid(int pid) {
    return " (pid " + std::to_string(pid) + ")";
}

// A port whose name or link speaks of USB: what brltty may have taken.
bool NamesUsb(const PortResolver::Port& port) {
    std::string names = port.path + " " + port.target;
    std::transform(names.begin(), names.end(), names.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return names.find("usb") != std::string::npos || names.find("ttyacm") != std::string::npos;
}

// A finding of what the program refuses, with the program's own fix for it.
Finding Refused(const std::string& verdict, const std::string& reason, const Refusal& why) {
    const Refusal::Fix fix = why.Advice();
    return {verdict, reason, fix.command + (fix.note.empty() ? "" : "  # " + fix.note), true};
}

} // namespace

PortCheck::PortCheck(Sources sources, User user)
    : m_sources(std::move(sources)), m_user(std::move(user)) {}

const std::vector<ProcessTable::Process>& PortCheck::Processes() const {
    if (m_scanned)
        return m_processes;
    m_scanned = true;
    m_processes = ProcessTable(m_sources.machine.procFolder).ProcessesWithFiles();
    const int self = getpid();
    m_processes.erase(std::remove_if(m_processes.begin(), m_processes.end(),
                                     [&](const ProcessTable::Process& p) { return p.pid == self; }),
                      m_processes.end());
    return m_processes;
}

const ProcessTable::Process* PortCheck::Running(const std::string& name) const {
    for (const ProcessTable::Process& p : Processes())
        if (p.name == name)
            return &p;
    return nullptr;
}

std::vector<Finding> PortCheck::Check(unsigned nPort, const PortResolver::Port& port) const {
    std::vector<Finding> findings = CheckLine(nPort, port);
    // The program reads the profile before it opens anything: a wrong one comes first.
    LineProfile profile;
    std::string why;
    if (PortsFolder(m_sources.machine.portsFolder).ReadProfile(nPort, &profile, &why) ==
        PortsFolder::Profile::Wrong) {
        if (findings.size() == 1 && findings.front().verdict == "ok")
            findings.clear();
        findings.insert(findings.begin(), {"bad profile", why, "", true});
    }
    return findings;
}

std::vector<Finding> PortCheck::CheckLine(unsigned nPort, const PortResolver::Port& port) const {
    const std::string number = std::to_string(nPort);
    // What the port rule and the checks before open refuse, said as the program says it.
    const Refusal named = Refusal::OfPort(nPort, port);
    switch (port.how) {
    case PortResolver::How::Nothing:
        return {Refused("nothing", named.Reason(), named)};
    case PortResolver::How::Console:
        return {Refused("console", named.Reason(), named)};
    case PortResolver::How::Ended:
        return {Refused("ended", port.path + " -> " + port.target + ": " + named.Reason(), named)};
    case PortResolver::How::LookupError:
        return {Refused("lookup failed", port.path + ": " + named.Reason(), named)};
    case PortResolver::How::Link:
    case PortResolver::How::Found:
        break;
    }

    const DeviceCheck::Result device = DeviceCheck(m_sources.machine).Check(port.path);
    Refusal why = Refusal::OfDevice(device);
    why.nPort = nPort;
    why.path = port.path;
    const std::string reason = why.Reason();
    const ProcessTable::Process* brltty = Running("brltty");
    switch (device.verdict) {
    case DeviceCheck::Verdict::Missing: {
        const std::string what =
            port.path + (port.target.empty() ? "" : " -> " + port.target) + ": " + reason;
        if (device.error != ENOENT)
            return {{"missing", what, "", true}};
        // brltty takes some USB serial adapters for braille displays: their node goes away.
        if (brltty && NamesUsb(port))
            return {{"missing",
                     what + ", and brltty" + Pid(brltty->pid) +
                         " runs, which takes some USB serial adapters for braille displays",
                     "sudo apt-get remove brltty", true}};
        return {Refused("missing", what + "; plug the device in, or link another", why)};
    }
    case DeviceCheck::Verdict::NotSerial:
        return {Refused("not serial", device.device + ": " + reason, why)};
    case DeviceCheck::Verdict::InUse:
        return {Refused("in use", device.device + ": " + reason, why)};
    case DeviceCheck::Verdict::SerialLine:
        break;
    }
    const DeviceAccess::Result access = DeviceAccess::Check(
        device.device, m_user, {m_sources.machine.groupFile, m_sources.machine.passwdFile});
    if (access.verdict != DeviceAccess::Verdict::Allowed)
        return {Refused("no access", Refusal::AccessReason(access), Refusal::OfAccess(access))};
    const int self = static_cast<int>(getpid());
    if (const ProcessTable::Process* p = DeviceCheck::OtherHolder(Processes(), device, self))
        return {Refused("busy", "held open by " + p->name + Pid(p->pid), Refusal::OfHolder(*p))};

    // It opens; what makes it work badly.
    std::vector<Finding> findings;
    const TtyFacts tty = TtyFacts::Of(TtyClass(m_sources.machine.ttys), device.number);
    if (tty.usb && brltty)
        findings.push_back({"brltty",
                            "brltty" + Pid(brltty->pid) +
                                " runs, which takes some USB serial adapters for braille "
                                "displays and may take this one when it is plugged in again",
                            "sudo apt-get remove brltty", false});
    const ProcessTable::Process* modemManager = Running("ModemManager");
    if (modemManager && TtyClass::InFamily(tty.name, TtyClass::Family::Acm) &&
        !tty.modemManagerIgnores) {
        std::string fix = "sudo systemctl disable --now ModemManager";
        if (!tty.vendor.empty())
            fix = "echo 'SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"" + tty.vendor +
                  "\", ATTRS{idProduct}==\"" + tty.product +
                  "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"' | sudo tee "
                  "/etc/udev/rules.d/99-morvik-modemmanager.rules && sudo udevadm control "
                  "--reload  # then plug it in again";
        findings.push_back(
            {"modem manager",
             "ModemManager" + Pid(modemManager->pid) +
                 " probes a new ACM device for seconds, writing AT commands to it" +
                 (tty.udevKnown ? ""
                                : " (udev's database is not there to say it leaves this one "
                                  "alone)"),
             fix, false});
    }
    if (tty.latencyMs > 1)
        findings.push_back(
            {"slow",
             "the FTDI adapter's latency timer is " + std::to_string(tty.latencyMs) +
                 " ms: it holds the last bytes of every reply that long",
             "echo 'ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", "
             "ATTR{latency_timer}=\"1\"' | sudo tee /etc/udev/rules.d/99-morvik-ftdi-latency.rules "
             "&& sudo udevadm trigger --action=add --subsystem-match=usb-serial",
             false});
    if (!tty.sharers.empty()) {
        std::string others;
        for (const std::string& name : tty.sharers)
            others += (others.empty() ? "" : ", ") + name;
        findings.push_back({"shared name",
                            tty.name + " and " + others + " both claim " + tty.byIdName +
                                ", which leads to the one udev saw last",
                            "morvik-ports --assign " + number + " " + m_sources.machine.devFolder +
                                "/" + tty.name + "  # links it by its USB socket",
                            false});
    }
    // Another user's descriptors are closed to whoever is not root: a holder among them is not
    // seen, and "ok" would claim too much.
    const auto hidden = std::count_if(Processes().begin(), Processes().end(),
                                      [](const ProcessTable::Process& p) { return p.filesHidden; });
    if (findings.empty() && hidden > 0)
        findings.push_back({"no other holder visible to this user",
                            "the open files of " + std::to_string(hidden) +
                                (hidden == 1 ? " process" : " processes") +
                                " of other users are closed to you",
                            "", false});
    if (findings.empty())
        findings.push_back({"ok", "", "", false});
    return findings;
}
