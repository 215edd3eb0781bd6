#include "serial/CommTestHooks.h"
#include "tests/FakeMachine.h"
#include "testsupport/PtyDevice.h"

#include <gtest/gtest.h>

namespace {

TEST(CommDevicePath, ResolvesPortsFolderThenMachinePorts) {
    PtyDevice dev(2);
    FakeMachine machine;
    machine.AddTty("ttyS0");
    machine.AddTty("ttyUSB0");
    machine.SetConsoles("ttyS0", "");
    EXPECT_EQ(CString((dev.PortsFolder() + "/COM2").c_str()), CommDevicePath("COM2:"));
    EXPECT_EQ(CString((dev.PortsFolder() + "/COM2").c_str()), CommDevicePath("COM2"));
    EXPECT_EQ(CString(machine.DevPath("ttyUSB0").c_str()), CommDevicePath("COM1:"));
    // Past the machine's ports nothing is named.
    EXPECT_EQ(CString(""), CommDevicePath("COM3:"));
    EXPECT_EQ(CString(""), CommDevicePath("COM4:"));
    EXPECT_EQ(CString(""), CommDevicePath("COM0:"));
    EXPECT_EQ(CString(""), CommDevicePath("LPT1:"));
    EXPECT_EQ(CString(""), CommDevicePath("COM1:x"));
    EXPECT_EQ(CString(""), CommDevicePath("COM:"));
}

} // namespace
