#include "serial/DeviceCheck.h"
#include "tests/FakeMachine.h"
#include "testsupport/PtyDevice.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// What may be opened is decided from the device number alone: no device here is ever opened.
TEST(DeviceCheck, OnlySerialLinesByTheirNumber) {
    FakeMachine machine;
    const struct {
        mode_t type;
        unsigned major, minor;
        const char* subsystem; // its sysfs class, nullptr for none
        bool serial;
        const char* what;
    } cases[] = {
        {S_IFCHR, 4, 64, "tty", true, "ttyS0"},
        {S_IFCHR, 188, 0, "tty", true, "ttyUSB0"},
        {S_IFCHR, 166, 3, "tty", true, "ttyACM3"},
        {S_IFCHR, 136, 7, nullptr, true, "pts/7"},
        {S_IFCHR, 143, 1048575, nullptr, true, "the last pseudo-terminal slave"},
        {S_IFCHR, 128, 0, "tty", false, "a pseudo-terminal master"},
        {S_IFCHR, 2, 0, "tty", false, "an old BSD pseudo-terminal master"},
        {S_IFCHR, 4, 0, "tty", false, "tty0"},
        {S_IFCHR, 4, 63, "tty", false, "tty63"},
        {S_IFCHR, 5, 0, "tty", false, "/dev/tty"},
        {S_IFCHR, 5, 1, "tty", false, "/dev/console"},
        {S_IFCHR, 5, 2, "tty", false, "/dev/ptmx"},
        {S_IFCHR, 5, 3, "tty", false, "/dev/ttyprintk"},
        {S_IFCHR, 1, 11, "mem", false, "/dev/kmsg"},
        {S_IFCHR, 1, 3, "mem", false, "/dev/null"},
        {S_IFCHR, 1, 1, "mem", false, "/dev/mem"},
        {S_IFCHR, 1, 4, "mem", false, "/dev/port"},
        {S_IFCHR, 10, 130, "misc", false, "/dev/watchdog"},
        {S_IFCHR, 21, 0, "scsi_generic", false, "/dev/sg0"},
        {S_IFCHR, 4, 65, nullptr, false, "a tty number sysfs does not know"},
        {S_IFBLK, 8, 0, "block", false, "/dev/sda"},
        {S_IFREG, 0, 0, nullptr, false, "a file"},
        {S_IFIFO, 0, 0, nullptr, false, "a FIFO"},
    };
    for (const auto& c : cases)
        if (c.subsystem && c.type == S_IFCHR)
            machine.AddCharDevice(makedev(c.major, c.minor), c.subsystem);
    const DeviceCheck check(machine.Sources());
    for (const auto& c : cases)
        EXPECT_EQ(c.serial, check.IsSerialLine(c.type | 0660, makedev(c.major, c.minor))) << c.what;
}

TEST(DeviceCheck, ATerminalInUseNamesTheSessionLeader) {
    PtyDevice dev(1);
    FakeMachine machine;
    struct stat st {};
    ASSERT_EQ(0, stat(dev.SlavePath().c_str(), &st));
    const dev_t other = makedev(136, minor(st.st_rdev) + 1);
    machine.AddProcess(1, "init", 1, 0);
    machine.AddProcess(811, "sh (a) x", 700, st.st_rdev); // a name with a space and ')'
    machine.AddProcess(812, "getty", 812, st.st_rdev);
    machine.AddProcess(813, "getty", 812, other);
    const DeviceCheck check(machine.Sources());

    const DeviceCheck::Result r = check.Check(dev.PortsFolder() + "/COM1");
    EXPECT_EQ(DeviceCheck::Verdict::InUse, r.verdict);
    EXPECT_EQ("getty", r.holder);
    EXPECT_EQ(812, r.holderPid);
    EXPECT_EQ(dev.SlavePath(), r.device);

    std::string name;
    int pid = 0;
    ASSERT_TRUE(check.FindTerminalHolder(other, &name, &pid));
    EXPECT_EQ(813, pid);
    EXPECT_FALSE(check.FindTerminalHolder(makedev(136, minor(st.st_rdev) + 2), &name, &pid));
    machine.AddProcess(812, "getty", 812, 0); // the getty let go: only the shell is left
    ASSERT_TRUE(check.FindTerminalHolder(st.st_rdev, &name, &pid));
    EXPECT_EQ("sh (a) x", name);
    EXPECT_EQ(811, pid);
}

} // namespace
