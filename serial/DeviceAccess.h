#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

// Whether a user may read and write a device, by its owner, group and mode as open() decides, and
// if not, which of the ways it is closed: the facts that the comm layer's refusal and morvik-ports
// --check put into words (Refusal), so that both give the same reason and the same fix. It looks
// at the device's inode and the account files only; nothing is opened.
class DeviceAccess {
public:
    // Where the names of users and groups are read.
    struct Files {
        std::string groupFile = "/etc/group";
        std::string passwdFile = "/etc/passwd";
    };

    // Who asks.
    struct User {
        uid_t uid = 0;
        std::vector<gid_t> groups; // the groups of its session, its own among them
        std::string name;
        // The process itself asks: access(2) may decide too, which knows access lists.
        bool thisProcess = false;

        static User OfThisProcess(const Files& files);
    };

    enum class Verdict {
        Allowed,
        Unseen,      // the device could not be looked at: error says why
        OwnerMode,   // the user owns it, and its mode shuts out even the owner
        GroupMode,   // the user is in its group, a group for serial lines, whose mode shuts it out
        NotInGroup,  // its group, a group for serial lines, may open it; the user is not in it
        JoinedLater, // the same, and the group file has the user: the session began before
        OwnerOnly,   // only its owner may open it (and a group that is none for serial lines)
        BeyondMode   // its mode lets the user in, but something else (an access list) refuses
    };

    struct Result {
        Verdict verdict = Verdict::Allowed;
        std::string device;
        int error = 0;
        mode_t mode = 0;
        std::string owner;           // the owner's name, or its number
        std::string group;           // the group's name, or its number
        bool groupOpens = false;     // its group may read and write it
        bool pseudoTerminal = false; // a pseudo-terminal slave: a program made it, not udev
        // The group to give the device to: its own when that is one for serial lines (and it is
        // no pseudo-terminal), else dialout; and whether the user's session has it.
        std::string lineGroup = "dialout";
        bool inLineGroup = false;
    };

    // The groups whose devices a user joins to use them; never root nor anyone's own group.
    static bool IsDeviceGroup(const std::string& name);

    static Result Check(const std::string& device, const User& user, const Files& files);
};
