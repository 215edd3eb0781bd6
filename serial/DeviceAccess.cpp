#include "serial/DeviceAccess.h"

#include "serial/DeviceCheck.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Group {
    std::string name;
    gid_t gid = 0;
    std::vector<std::string> members;
};

// The group-file lines: "dialout:x:20:alice,bob".
std::vector<Group> ReadGroups(const std::string& groupFile) {
    std::vector<Group> groups;
    std::ifstream in(groupFile);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, ':');)
            fields.push_back(field);
        if (fields.size() < 3 || fields[2].empty() ||
            fields[2].find_first_not_of("0123456789") != std::string::npos)
            continue;
        Group group{fields[0], static_cast<gid_t>(std::stoul(fields[2])), {}};
        std::istringstream members(fields.size() > 3 ? fields[3] : std::string());
        for (std::string member; std::getline(members, member, ',');)
            group.members.push_back(member);
        groups.push_back(std::move(group));
    }
    return groups;
}

// The name of a user in the passwd file ("root:x:0:0:..."), or its number.
std::string UserName(const std::string& passwdFile, uid_t uid) {
    std::ifstream in(passwdFile);
    const std::string number = std::to_string(uid);
    for (std::string line; std::getline(in, line);) {
        const std::size_t name = line.find(':');
        const std::size_t password = line.find(':', name == std::string::npos ? 0 : name + 1);
        if (password != std::string::npos &&
            line.compare(password + 1, number.size() + 1, number + ":") == 0)
            return line.substr(0, name);
    }
    return number;
}

bool Contains(const std::vector<gid_t>& groups, gid_t gid) {
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

} // namespace

DeviceAccess::User DeviceAccess::User::OfThisProcess(const Files& files) {
    User user;
    user.uid = geteuid();
    user.groups.push_back(getegid());
    const int n = getgroups(0, nullptr);
    if (n > 0) {
        std::vector<gid_t> more(static_cast<std::size_t>(n));
        const int got = getgroups(n, more.data());
        user.groups.insert(user.groups.end(), more.begin(), more.begin() + std::max(got, 0));
    }
    user.name = UserName(files.passwdFile, user.uid);
    if (user.name == std::to_string(user.uid))
        user.name.clear();
    user.thisProcess = true;
    return user;
}

bool DeviceAccess::IsDeviceGroup(const std::string& name) {
    for (const char* group : {"dialout", "uucp", "tty", "serial", "plugdev", "lock"})
        if (name == group)
            return true;
    return false;
}

DeviceAccess::Result DeviceAccess::Check(const std::string& device, const User& user,
                                         const Files& files) {
    Result r;
    r.device = device;
    struct stat st {};
    if (stat(device.c_str(), &st) != 0) {
        r.verdict = Verdict::Unseen;
        r.error = errno;
        return r;
    }
    r.mode = st.st_mode & 07777;
    r.owner = UserName(files.passwdFile, st.st_uid);
    r.pseudoTerminal = S_ISCHR(st.st_mode) && DeviceCheck::IsPseudoTerminalSlave(st.st_rdev);
    const std::vector<Group> groups = ReadGroups(files.groupFile);
    const Group* group = nullptr;
    for (const Group& g : groups)
        if (g.gid == st.st_gid && !group)
            group = &g;
    r.group = group ? group->name : std::to_string(st.st_gid);
    // A pseudo-terminal's group (tty) lets others write messages to a terminal, no more: a line
    // made by a program is given to dialout.
    if (IsDeviceGroup(r.group) && !r.pseudoTerminal)
        r.lineGroup = r.group;
    for (const Group& g : groups)
        if (g.name == r.lineGroup)
            r.inLineGroup = Contains(user.groups, g.gid);
    const auto both = [&](mode_t read, mode_t write) {
        return (st.st_mode & read) && (st.st_mode & write);
    };
    r.groupOpens = both(S_IRGRP, S_IWGRP);

    if (user.thisProcess && access(device.c_str(), R_OK | W_OK) == 0)
        return r;
    if (user.uid == 0 && !user.thisProcess)
        return r;
    // The mode lets the user in: if access(2) said no, something beyond the mode refuses.
    const auto allowed = [&] {
        if (user.thisProcess)
            r.verdict = Verdict::BeyondMode;
        return r;
    };
    if (user.uid == st.st_uid) {
        if (both(S_IRUSR, S_IWUSR))
            return allowed();
        r.verdict = Verdict::OwnerMode;
        return r;
    }
    const bool deviceGroup = IsDeviceGroup(r.group);
    if (Contains(user.groups, st.st_gid)) {
        if (r.groupOpens)
            return allowed();
        r.verdict = deviceGroup ? Verdict::GroupMode : Verdict::OwnerOnly;
        return r;
    }
    if (both(S_IROTH, S_IWOTH))
        return allowed();
    if (!r.groupOpens || !deviceGroup) {
        r.verdict = Verdict::OwnerOnly;
        return r;
    }
    const bool member =
        group && !user.name.empty() &&
        std::find(group->members.begin(), group->members.end(), user.name) != group->members.end();
    r.verdict = member ? Verdict::JoinedLater : Verdict::NotInGroup;
    return r;
}
