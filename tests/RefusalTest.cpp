// The one reason and fix for a device that will not be opened, as the dialog's balloon,
// morvik-send and morvik-ports --check give them.

#include "serial/Refusal.h"
#include "testsupport/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A device's advice names the group that owns it only when that is a group for serial lines;
// a device only its owner may open is given to dialout (never "join root", never another user's
// own group); the owner's own mode is the owner's to fix; a path that is not there is no group
// question at all. Regular files stand in for the devices: only owner, group and mode count.
TEST(Refusal, TheAdviceFitsTheDeviceAndTheUser) {
    if (geteuid() != 0)
        GTEST_SKIP() << "giving the files their owners takes root";
    const TempFolder root;
    const DeviceAccess::Files files{root / "group", root / "passwd"};
    std::ofstream(files.passwdFile) << "root:x:0:0::/root:/bin/sh\nbob:x:4242:4242::/:/bin/sh\n"
                                       "carol:x:4343:4343::/:/bin/sh\n";
    std::ofstream(files.groupFile) << "root:x:0:\ndialout:x:20:alice,dave\nbob:x:4242:\n"
                                      "carol:x:4343:\n";
    const DeviceAccess::User carol{4343, {4343}, "carol", false};
    const DeviceAccess::User alice{4444, {4444}, "alice", false}; // joined after logging in
    const DeviceAccess::User dave{4545, {4545, 20}, "dave", false};
    const std::string udev =
        "fix: echo 'KERNEL==\"ttyX\", GROUP=\"dialout\", MODE=\"0660\"' | sudo tee "
        "/etc/udev/rules.d/99-morvik-serial.rules && sudo udevadm trigger --action=add {dev} && "
        "sudo adduser $USER dialout (then log out and in again; or, until it is plugged in "
        "again: ";
    const struct {
        const char* what;
        uid_t owner;
        gid_t group;
        mode_t mode;
        DeviceAccess::User user;
        std::string line;
    } cases[] = {
        {"the group's, not joined", 0, 20, 0660, carol,
         "permission denied: only the group dialout may open it, and you are not in it; fix: sudo "
         "adduser $USER dialout (then log out and in again)"},
        {"the group's, joined after logging in", 0, 20, 0660, alice,
         "permission denied: you are in the group dialout that may open it, but this session "
         "began before you joined it; fix: newgrp dialout (in this terminal; log out and in again "
         "for the rest)"},
        {"the group's, shut to it", 0, 20, 0600, dave,
         "permission denied: mode 0600 does not let the group dialout read and write it; fix: "
         "sudo chmod g+rw {dev}"},
        {"root's alone", 0, 0, 0600, carol,
         "permission denied: mode 0600 lets only its owner, root, open it; " + udev +
             "sudo chgrp dialout {dev} && sudo chmod g+rw {dev})"},
        {"root's and the group root's", 0, 0, 0660, carol,
         "permission denied: only its owner, root, and the group root may open it, which is no "
         "group for serial lines; " +
             udev + "sudo chgrp dialout {dev} && sudo chmod g+rw {dev})"},
        {"another user's own group", 4242, 4242, 0660, carol,
         "permission denied: only its owner, bob, and the group bob may open it, which is no "
         "group for serial lines; " +
             udev + "sudo chgrp dialout {dev} && sudo chmod g+rw {dev})"},
        {"dialout's, owner only", 0, 20, 0600, carol,
         "permission denied: mode 0600 lets only its owner, root, open it; " + udev +
             "sudo chmod g+rw {dev})"},
        {"one's own, shut", 4343, 4343, 0, carol,
         "permission denied: mode 0000 does not let even its owner, you, read and write it; fix: "
         "chmod u+rw {dev}"},
    };
    const std::string device = root / "ttyX";
    const auto expand = [&](std::string line) {
        for (std::size_t at; (at = line.find("{dev}")) != std::string::npos;)
            line.replace(at, 5, device);
        return line;
    };
    for (const auto& c : cases) {
        std::ofstream(device).flush();
        ASSERT_EQ(0, chown(device.c_str(), c.owner, c.group)) << c.what;
        ASSERT_EQ(0, chmod(device.c_str(), c.mode)) << c.what;
        const Refusal r = Refusal::OfAccess(DeviceAccess::Check(device, c.user, files));
        EXPECT_EQ(COMM_ERROR_ACCESS, r.code) << c.what;
        EXPECT_EQ(expand(c.line), r.ReasonAndFix()) << c.what;
    }

    // Not there: no such device, whose fix is another port, not a group; not to be seen: no fix.
    DeviceCheck::Result missing;
    missing.error = ENOENT;
    Refusal r = Refusal::OfDevice(missing);
    r.nPort = 2;
    EXPECT_EQ("no such device; fix: morvik-ports --assign 2 DEVICE", r.ReasonAndFix());
    missing.error = EACCES;
    EXPECT_EQ("permission denied: a folder on the way to it is closed to you",
              Refusal::OfDevice(missing).ReasonAndFix());
}

} // namespace
