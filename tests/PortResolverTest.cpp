#include "serial/PortResolver.h"
#include "tests/FakeMachine.h"
#include "testsupport/PtyDevice.h"

#include <gtest/gtest.h>

#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using How = PortResolver::How;

// A machine with a console on ttyS0, an unidentified UART slot, ports of every family given
// out of order, and ttys that are no serial ports at all.
void Populate(FakeMachine& m) {
    m.AddTty("ttyS0");
    m.AddTty("ttyS1", 0); // type unknown: nothing behind it
    m.AddTty("ttyS10");
    m.AddTty("ttyS2");
    m.AddTty("ttyS3", 4, false); // no hardware behind the name
    m.AddTty("ttyUSB1");
    m.AddTty("ttyACM0");
    m.AddTty("ttyUSB0");
    m.AddTty("tty5");
    m.AddTty("ttyUSBx");
    m.AddTty("ptmx", 4, false);
    m.SetConsoles("tty0 ttyS0\n", "tty0                 -WU (E  p  )    4:1\n"
                                  "ttyS0                -W- (EC  p a)    4:64\n");
}

TEST(PortResolver, OrdersMachinePortsAndLeavesConsolesOut) {
    PtyDevice dev(7); // a private, empty ports folder for COM1..COM6
    FakeMachine m;
    Populate(m);
    const PortResolver r(m.Sources());
    EXPECT_EQ((std::vector<std::string>{"ttyS2", "ttyS10", "ttyUSB0", "ttyUSB1", "ttyACM0"}),
              r.MachinePorts());
    EXPECT_EQ((std::vector<std::string>{"ttyS0"}), r.SkippedConsoles());

    const struct {
        unsigned n;
        How how;
        std::string path;
    } expected[] = {
        {1, How::Found, m.DevPath("ttyS2")},   {2, How::Found, m.DevPath("ttyS10")},
        {3, How::Found, m.DevPath("ttyUSB0")}, {5, How::Found, m.DevPath("ttyACM0")},
        {6, How::Console, m.DevPath("ttyS0")}, {8, How::Nothing, dev.PortsFolder() + "/COM8"},
    };
    for (const auto& e : expected) {
        const PortResolver::Port p = r.Resolve(e.n);
        EXPECT_EQ(e.how, p.how) << e.n;
        EXPECT_EQ(e.path, p.path) << e.n;
    }
    // The user's entry comes first, whatever the machine has.
    const PortResolver::Port linked = r.Resolve(7);
    EXPECT_EQ(How::Link, linked.how);
    EXPECT_EQ(dev.PortsFolder() + "/COM7", linked.path);
    EXPECT_EQ(dev.SlavePath(), linked.target);
}

TEST(PortResolver, ConsolesFromEitherSource) {
    FakeMachine m;
    for (const char* name : {"ttyS0", "ttyS1", "ttyUSB0", "ttyUSB1", "ttyACM0"})
        m.AddTty(name);
    // Active in sysfs only; enabled in /proc/consoles only; listed there but disabled; listed
    // with flags that cannot be read (taken as a console, to be safe).
    m.SetConsoles("ttyS1", "ttyUSB0 -W- (EC p a) 188:0\n"
                           "ttyS0 -W- (C p a) 4:64\n"
                           "ttyACM0 -W-\n");
    const PortResolver r(m.Sources());
    EXPECT_EQ((std::vector<std::string>{"ttyS0", "ttyUSB1"}), r.MachinePorts());
    EXPECT_EQ((std::vector<std::string>{"ttyS1", "ttyUSB0", "ttyACM0"}), r.SkippedConsoles());

    // No console sources at all: nothing is skipped.
    FakeMachine bare;
    bare.AddTty("ttyS0");
    EXPECT_EQ((std::vector<std::string>{"ttyS0"}), PortResolver(bare.Sources()).MachinePorts());
}

TEST(PortResolver, StableNamesAndLookupErrors) {
    PtyDevice dev(1);
    FakeMachine m;
    m.AddTty("ttyUSB0");
    m.AddTty("ttyUSB1");
    m.AddById("usb-Other_Thing-if00", "../../ttyUSB10");
    m.AddById("usb-FTDI_FT232R_A1-if00-port0", "../../ttyUSB0");
    PortResolver::Sources s = m.Sources();
    const PortResolver r(s);
    const TtyClass ttys(s.ttys);
    EXPECT_EQ(s.ttys.byIdFolder + "/usb-FTDI_FT232R_A1-if00-port0",
              ttys.ByIdName(m.DevPath("ttyUSB0")));
    EXPECT_EQ("", ttys.ByIdName(m.DevPath("ttyUSB1")));

    EXPECT_EQ(How::Nothing, r.Resolve(3).how); // no entry, and only two machine ports
    dev.Link(2, "/dev/null");
    unlink((dev.PortsFolder() + "/COM1").c_str());
    EXPECT_EQ(How::Found, r.Resolve(1).how);
    EXPECT_EQ(s.ttys.byIdFolder + "/usb-FTDI_FT232R_A1-if00-port0", r.Resolve(1).target);
    EXPECT_EQ(How::Link, r.Resolve(2).how);

    // A ports "folder" that is a file: the lookup fails, and nothing is guessed instead.
    const std::string file = m.Root() + "/not-a-folder";
    std::ofstream(file) << "x";
    s.portsFolder = file + "/ports";
    const PortResolver::Port failed = PortResolver(s).Resolve(1);
    EXPECT_EQ(How::LookupError, failed.how);
    EXPECT_EQ(ENOTDIR, failed.error);
    EXPECT_EQ(file + "/ports/COM1", failed.path);
}

} // namespace
