#include "cli/PortCheck.h"

#include "cli/TtyFacts.h"
#include "serial/DeviceCheck.h"
#include "serial/PortsFolder.h"
#include "serial/Refusal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Finding = PortCheck::Finding;

struct Group {
    std::string name;
    std::vector<std::string> members;
};

// The group-file line of a group: "dialout:x:20:alice,bob". Without one the group is named by
// its number and has no members.
Group FindGroup(const std::string& groupFile, gid_t gid) {
    Group group{std::to_string(gid), {}};
    std::ifstream in(groupFile);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, ':');)
            fields.push_back(field);
        if (fields.size() < 3 || fields[2] != std::to_string(gid))
            continue;
        group.name = fields[0];
        std::istringstream members(fields.size() > 3 ? fields[3] : std::string());
        for (std::string member; std::getline(members, member, ',');)
            group.members.push_back(member);
        break;
    }
    return group;
}

std::string Mode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

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

} // namespace

PortCheck::User PortCheck::User::OfThisProcess() {
    User user;
    user.uid = geteuid();
    user.groups.push_back(getegid());
    const int n = getgroups(0, nullptr);
    if (n > 0) {
        std::vector<gid_t> more(static_cast<std::size_t>(n));
        const int got = getgroups(n, more.data());
        user.groups.insert(user.groups.end(), more.begin(), more.begin() + std::max(got, 0));
    }
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(user.uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        user.name = found->pw_name;
    user.thisProcess = true;
    return user;
}

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

// Whether the user may read and write the device, by its owner, group and mode as open() would
// decide; if not, why and what gives the right.
bool PortCheck::Access(const std::string& device, Finding* pFinding) const {
    struct stat st {};
    if (stat(device.c_str(), &st) != 0)
        return true; // gone since it was checked: the open will say so
    if (m_user.thisProcess && access(device.c_str(), R_OK | W_OK) == 0)
        return true;
    if (m_user.uid == 0 && !m_user.thisProcess)
        return true;
    const mode_t mode = st.st_mode;
    const std::string octal = Mode(mode);
    const Group group = FindGroup(m_sources.groupFile, st.st_gid);
    Finding& f = *pFinding;
    f.verdict = "no access";
    f.blocking = true;
    auto both = [&](mode_t read, mode_t write) { return (mode & read) && (mode & write); };
    // The mode lets the user in; if access(2) said no, something beyond the mode refuses.
    auto allowed = [&]() {
        if (!m_user.thisProcess)
            return true;
        f.reason = "mode " + octal + " lets you read and write it, but an access list or a " +
                   "security module refuses";
        f.fix = "getfacl " + device;
        return false;
    };
    if (m_user.uid == st.st_uid) {
        if (both(S_IRUSR, S_IWUSR))
            return allowed();
        f.reason = "mode " + octal + " does not let even its owner, you, read and write it";
        f.fix = "chmod u+rw " + device;
        return false;
    }
    const bool inGroup =
        std::find(m_user.groups.begin(), m_user.groups.end(), st.st_gid) != m_user.groups.end();
    if (inGroup) {
        if (both(S_IRGRP, S_IWGRP))
            return allowed();
        f.reason = "mode " + octal + " does not let the group " + group.name + " read and write it";
        f.fix = "sudo chmod g+rw " + device;
        return false;
    }
    if (both(S_IROTH, S_IWOTH))
        return allowed();
    if (!both(S_IRGRP, S_IWGRP)) {
        f.reason = "mode " + octal + " lets only its owner open it";
        f.fix = "sudo chmod g+rw " + device;
        return false;
    }
    const bool member =
        std::find(group.members.begin(), group.members.end(), m_user.name) != group.members.end();
    if (member) {
        f.reason = "you are in the group " + group.name +
                   " that may open it, but this session began before you joined it";
        f.fix = "newgrp " + group.name + "  # in this terminal; log out and in again for the rest";
    } else {
        f.reason = "only the group " + group.name + " may open it, and you are not in it";
        f.fix = "sudo adduser $USER " + group.name + "  # then log out and in again";
    }
    return false;
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
    const std::string assign = "morvik-ports --assign " + number + " DEVICE";
    // What the port rule and the checks before open refuse, said as the program says it.
    const Refusal named = Refusal::OfPort(nPort, port);
    switch (port.how) {
    case PortResolver::How::Nothing:
        return {{"nothing", named.Reason(), assign, true}};
    case PortResolver::How::Console:
        return {{"console", named.Reason(),
                 "morvik-ports --assign " + number + " " + port.path +
                     "  # only to talk over the console",
                 true}};
    case PortResolver::How::LookupError:
        return {{"lookup failed", port.path + ": " + named.Reason(), "", true}};
    case PortResolver::How::Link:
    case PortResolver::How::Found:
        break;
    }

    const DeviceCheck::Result device = DeviceCheck(m_sources.machine).Check(port.path);
    const std::string reason = Refusal::OfDevice(device).Reason();
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
        return {{"missing", what + "; plug the device in, or link another", assign, true}};
    }
    case DeviceCheck::Verdict::NotSerial:
        return {{"not serial", device.device + ": " + reason, assign, true}};
    case DeviceCheck::Verdict::InUse: {
        const std::string tty = std::filesystem::path(device.device).filename();
        const std::string fix = device.holder.find("getty") != std::string::npos
                                    ? "sudo systemctl stop serial-getty@" + tty + ".service"
                                    : "kill " + std::to_string(device.holderPid);
        return {{"in use", device.device + ": " + reason, fix, true}};
    }
    case DeviceCheck::Verdict::SerialLine:
        break;
    }
    Finding noAccess;
    if (!Access(device.device, &noAccess))
        return {noAccess};
    for (const ProcessTable::Process& p : Processes()) {
        if (std::find(p.files.begin(), p.files.end(), device.device) == p.files.end())
            continue;
        const std::string fix = p.name == "ModemManager" ? "sudo systemctl stop ModemManager"
                                                         : "kill " + std::to_string(p.pid);
        return {{"busy", "held open by " + p.name + Pid(p.pid), fix, true}};
    }

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
    if (findings.empty())
        findings.push_back({"ok", "", "", false});
    return findings;
}
