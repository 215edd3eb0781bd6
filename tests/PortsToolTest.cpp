#include "cli/PortsTool.h"
#include "serial/comm.h"
#include "tests/FakeMachine.h"
#include "tests/Files.h"
#include "tests/ToolRun.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/PtyDevice.h"
#include "testsupport/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <fstream>
#include <iostream>
#include <vector>

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

ToolRun RunTool(const FakeMachine& machine, std::vector<const char*> args,
                const PortCheck::User& user = PortCheck::User()) {
    return ToolRun::Of(PortsTool({machine.Sources()}, user), "morvik-ports", std::move(args));
}

// Every occurrence of each {key} replaced by its value.
std::string Expand(std::string text, const std::vector<std::pair<std::string, std::string>>& keys) {
    for (const auto& key : keys)
        for (std::size_t at; (at = text.find("{" + key.first + "}")) != std::string::npos;)
            text.replace(at, key.first.size() + 2, key.second);
    return text;
}

dev_t DeviceNumber(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(0, stat(path.c_str(), &st)) << path;
    return st.st_rdev;
}

TEST(PortsTool, ListsEachPortWithWhatItNamesAndWhy) {
    PtyDevice dev(1);
    FakeMachine machine;
    for (const char* name : {"ttyS0", "ttyUSB0", "ttyUSB1", "ttyACM0"})
        machine.AddTty(name);
    machine.SetConsoles("ttyS0", "");
    machine.AddById("usb-Morvik_Adapter_7-if00-port0", "../../ttyUSB1");
    dev.Link(5, "/nonexistent/adapter");
    dev.Link(6, machine.Root());
    const std::string f = dev.PortsFolder();
    const std::string byId = machine.Sources().ttys.byIdFolder;
    machine.AddProcess(812, "getty", 812, DeviceNumber(dev.SlavePath()));

    const ToolRun r = RunTool(machine, {});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("COM1  " + dev.SlavePath() + "  link " + f +
                  "/COM1, in use as the terminal of getty (pid 812)\n" + "COM2  " +
                  machine.DevPath("ttyUSB1") + "  found, " + byId +
                  "/usb-Morvik_Adapter_7-if00-port0\n" + "COM3  " + machine.DevPath("ttyACM0") +
                  "  found\n" + "COM4  " + machine.DevPath("ttyS0") + "  console, skipped\n" +
                  "COM5  /nonexistent/adapter  link " + f + "/COM5, no such device\n" + "COM6  " +
                  machine.Root() + "  link " + f + "/COM6, not a serial device\n" +
                  "COM7  -  nothing\n" + "COM8  -  nothing\n",
              r.out);
    EXPECT_EQ("", r.err);
}

TEST(PortsTool, AssignLinksThePortByItsStableName) {
    PtyDevice adapter(8);
    PtyDevice plain(8);
    FakeMachine machine;
    machine.AddById("usb-Morvik_Adapter_7-if00-port0", adapter.SlavePath());
    const std::string byIdName =
        machine.Sources().ttys.byIdFolder + "/usb-Morvik_Adapter_7-if00-port0";

    // A ports folder that does not exist yet is made.
    const TempFolder root;
    setenv("XDG_CONFIG_HOME", root.Path().c_str(), 1);
    const std::string entry = root / "MorvikSerialDemo/ports/COM2";

    ToolRun r = RunTool(machine, {"--assign", "2", adapter.SlavePath().c_str()});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("COM2 -> " + byIdName + "\n", r.out);
    EXPECT_EQ(byIdName, LinkOf(entry));

    // Given by its stable name, it stays so; a device without one is linked as given, and the
    // new link replaces the old.
    r = RunTool(machine, {"--assign", "3", byIdName.c_str()});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(byIdName, LinkOf(root / "MorvikSerialDemo/ports/COM3"));
    r = RunTool(machine, {"--assign", "2", plain.SlavePath().c_str()});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("COM2 -> " + plain.SlavePath() + "\n", r.out);
    EXPECT_EQ(plain.SlavePath(), LinkOf(entry));
    EXPECT_NE(std::string::npos,
              RunTool(machine, {}).out.find("COM2  " + plain.SlavePath() + "  link " + entry));
}

// The options of --assign make the port's profile file, read back as the program reads it; the
// listing shows a profile that is not the default, and one that is wrong; --assign without
// options goes back to the default.
TEST(PortsTool, AssignWithOptionsWritesTheProfileThatTheListingShows) {
    PtyDevice dev(8);
    FakeMachine machine;
    const std::string slave = dev.SlavePath();
    const std::string file = dev.PortsFolder() + "/COM2.profile";
    const std::string listed = "COM2  " + slave + "  link " + dev.PortsFolder() + "/COM2\n";
    auto listing = [&] {
        const std::string out = RunTool(machine, {}).out;
        const std::size_t at = out.find("COM2  ");
        return at == std::string::npos ? out : out.substr(at, out.find("COM3  ") - at);
    };

    ToolRun r = RunTool(machine, {"--assign", "2", slave.c_str(), "--baud", "9600", "--data-bits=7",
                                  "--parity", "even", "--reply-end", "lf", "--timeout=2000"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("COM2 -> " + slave + "\nCOM2 profile: 9600 7E1, reply end lf, time-out 2000 ms\n",
              r.out);
    LineProfile profile;
    ASSERT_EQ(TRUE, CommLoadProfile(2, &profile)) << static_cast<const char*>(CommErrorMessage());
    EXPECT_EQ("9600 7E1, reply end lf, time-out 2000 ms", profile.Describe());
    EXPECT_EQ(profile.Format(), ReadFile(file));
    EXPECT_EQ(listed + "      profile: 9600 7E1, reply end lf, time-out 2000 ms\n", listing());

    // A profile file that holds the default is not shown.
    EXPECT_EQ(0, RunTool(machine, {"--assign", "2", slave.c_str(), "--baud", "19200"}).status);
    EXPECT_EQ(listed, listing());

    // A file somebody got wrong: the listing and --check say where, and --check blocks on it.
    std::ofstream(file) << "baud = 9600\nparity = marks\n";
    const std::string why =
        file + ", line 2: the parity is none, odd, even, mark or space, not 'marks'";
    EXPECT_EQ(listed + "      bad profile: " + why + "\n", listing());
    r = RunTool(machine, {"--check", "2"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(listed + "      bad profile: " + why + "\n", r.out);

    r = RunTool(machine, {"--assign", "2", slave.c_str()});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("COM2 -> " + slave + "\n", r.out);
    struct stat st {};
    EXPECT_NE(0, stat(file.c_str(), &st)) << "the profile file is still there";
    EXPECT_EQ(listed, listing());
}

TEST(PortsTool, RefusesWhatIsNoPortAndBadCommandLines) {
    PtyDevice dev(1);
    PtyDevice shell(8);
    FakeMachine machine;
    machine.AddProcess(700, "bash", 700, DeviceNumber(shell.SlavePath()));
    const std::string file = machine.Root() + "/notes.txt";
    std::ofstream(file) << "x";
    const std::string tty = shell.SlavePath();
    const struct {
        std::vector<const char*> args;
        int status;
        std::string err;
    } cases[] = {
        {{"--assign", "2", "/nonexistent/adapter"},
         1,
         "morvik-ports: /nonexistent/adapter: no such device\n"},
        {{"--assign", "2", file.c_str()}, 1, "morvik-ports: " + file + ": not a serial device\n"},
        {{"--assign", "1", "/dev/kmsg"}, 1, "morvik-ports: /dev/kmsg: not a serial device\n"},
        {{"--assign", "1", tty.c_str()},
         1,
         "morvik-ports: " + tty + ": in use as the terminal of bash (pid 700)\n"},
        {{"--assign", " 1", tty.c_str()}, 2, "morvik-ports: the port number is 1 to 8, not ' 1'\n"},
        {{"--assign", "+2", tty.c_str()}, 2, "morvik-ports: the port number is 1 to 8, not '+2'\n"},
        {{"--assign", "4294967297", tty.c_str()},
         2,
         "morvik-ports: the port number is 1 to 8, not '4294967297'\n"},
        {{"--help", "--bogus"}, 2, "morvik-ports: '--help' takes no other arguments\n"},
        {{"--version", "extra"}, 2, "morvik-ports: '--version' takes no other arguments\n"},
        {{"--assign", "9", "/dev/null"}, 2, "morvik-ports: the port number is 1 to 8, not '9'\n"},
        {{"--assign", "0", "/dev/null"}, 2, "morvik-ports: the port number is 1 to 8, not '0'\n"},
        {{"--assign", "2x", "/dev/null"}, 2, "morvik-ports: the port number is 1 to 8, not '2x'\n"},
        {{"--assign", "2"}, 2, "morvik-ports: --assign takes a port number and a device\n"},
        // The profile's options are checked before anything is looked at.
        {{"--assign", "2", tty.c_str(), "--baud", "49"},
         2,
         "morvik-ports: the baud rate is 50 to 4000000, not '49'\n"},
        {{"--assign", "2", tty.c_str(), "--parity=odd", "--stop-bits", "1.5"},
         2,
         "morvik-ports: 1.5 stop bits go with 5 data bits only, not 8\n"},
        {{"--assign", "2", tty.c_str(), "--speed", "9600"},
         2,
         "morvik-ports: unknown option '--speed'\n"},
        {{"--assign", "2", tty.c_str(), "--timeout"}, 2, "morvik-ports: --timeout takes a value\n"},
        {{"--assign", "2", tty.c_str(), "9600"}, 2, "morvik-ports: unexpected argument '9600'\n"},
        {{"--bogus"}, 2, "morvik-ports: unknown option '--bogus'\n"},
        {{"COM1"}, 2, "morvik-ports: unexpected argument 'COM1'\n"},
    };
    for (const auto& c : cases) {
        const ToolRun r = RunTool(machine, c.args);
        EXPECT_EQ(c.status, r.status) << c.err;
        EXPECT_EQ("", r.out) << c.err;
        const std::string tryHelp = "Try 'morvik-ports --help' for more information.\n";
        EXPECT_EQ(c.status == 2 ? c.err + tryHelp : c.err, r.err);
    }
    struct stat st {};
    EXPECT_NE(0, lstat((dev.PortsFolder() + "/COM2").c_str(), &st)); // nothing was made
    EXPECT_NE(0, lstat((dev.PortsFolder() + "/COM2.profile").c_str(), &st));
}

// One case per verdict. Each runs on a machine of its own: a pseudo-terminal stands in for the
// device, published as COM1 unless the case makes port 1 a machine port; somebody else than root
// asks where the case is about access.
TEST(PortsTool, CheckSaysWhatStandsInTheWayOfEachPortAndWhatFixesIt) {
    struct Bench {
        PtyDevice other{7};
        PtyDevice dev{1};
        FakeMachine machine;
        std::string Slave() const { return dev.SlavePath(); }
        dev_t Number() const { return DeviceNumber(dev.SlavePath()); }
        // Port 1 a machine port: the ports folder holds no COM1.
        void Unlink() const { unlink((dev.PortsFolder() + "/COM1").c_str()); }
    };
    const PortCheck::User bob{4242, {4242}, "bob", false};
    const PortCheck::User alice{4242, {4242}, "alice", false};
    const std::string linked = "COM1  {slave}  link {folder}/COM1\n";
    const std::string usb0 = "COM1  {dev}/ttyUSB0  found\n";
    const std::string ftdiRule =
        "echo 'ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", "
        "ATTR{latency_timer}=\"1\"' | sudo tee /etc/udev/rules.d/99-morvik-ftdi-latency.rules && "
        "sudo udevadm trigger --action=add --subsystem-match=usb-serial";
    const struct {
        const char* verdict;
        std::function<void(Bench&)> setup;
        unsigned port;
        PortCheck::User user;
        int status;
        std::string output;
    } cases[] = {
        {"ok", [](Bench&) {}, 1, {}, 0, linked + "      ok\n"},
        {"nothing",
         [](Bench&) {},
         3,
         {},
         1,
         "COM3  -  nothing\n      nothing: no such device (no {folder}/COM3, and no 3rd serial "
         "port on this machine)\n      fix: morvik-ports --assign 3 DEVICE\n"},
        {"console",
         [](Bench& b) {
             b.Unlink();
             b.machine.AddTty("ttyS0");
             b.machine.AddNode("ttyS0", b.Slave());
             b.machine.SetConsoles("ttyS0", "");
         },
         1,
         {},
         1,
         "COM1  {dev}/ttyS0  console, skipped\n      console: the kernel console, left alone\n"
         "      fix: morvik-ports --assign 1 {dev}/ttyS0  # only to talk over the console\n"},
        {"missing",
         [](Bench& b) { b.dev.Link(1, "/nonexistent/adapter"); },
         1,
         {},
         1,
         "COM1  /nonexistent/adapter  link {folder}/COM1\n      missing: {folder}/COM1 -> "
         "/nonexistent/adapter: no such device; plug the device in, or link another\n      fix: "
         "morvik-ports --assign 1 DEVICE\n"},
        {"missing, brltty",
         [](Bench& b) {
             b.dev.Link(1, "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0");
             b.machine.AddProcess(900, "brltty", 900, 0);
         },
         1,
         {},
         1,
         "COM1  /dev/serial/by-id/usb-1a86_USB_Serial-if00-port0  link {folder}/COM1\n      "
         "missing: {folder}/COM1 -> /dev/serial/by-id/usb-1a86_USB_Serial-if00-port0: no such "
         "device, and brltty (pid 900) runs, which takes some USB serial adapters for braille "
         "displays\n      fix: sudo apt-get remove brltty\n"},
        {"not serial",
         [](Bench& b) { b.dev.Link(1, "/dev/null"); },
         1,
         {},
         1,
         "COM1  /dev/null  link {folder}/COM1\n      not serial: /dev/null: not a serial "
         "device\n      fix: morvik-ports --assign 1 DEVICE\n"},
        {"in use",
         [](Bench& b) { b.machine.AddProcess(812, "agetty", 812, b.Number()); },
         1,
         {},
         1,
         linked + "      in use: {slave}: in use as the terminal of agetty (pid 812)\n      fix: "
                  "sudo systemctl stop "
                  "serial-getty@{tty}.service\n"},
        {"busy",
         [](Bench& b) {
             b.machine.AddProcess(4321, "minicom", 4321, 0);
             b.machine.AddOpenFile(4321, 3, "/dev/null");
             b.machine.AddOpenFile(4321, 5, b.Slave());
         },
         1,
         {},
         1,
         linked + "      busy: held open by minicom (pid 4321)\n      fix: kill 4321\n"},
        {"ok, held by the program that made it",
         [](Bench& b) {
             // socat and the simulated device hold both sides of the pseudo-terminal they serve.
             b.machine.AddProcess(4400, "socat", 4400, 0);
             b.machine.AddPtyMaster(4400, 5, minor(b.Number()));
             b.machine.AddOpenFile(4400, 6, b.Slave());
         },
         1,
         {},
         0,
         linked + "      ok\n"},
        {"no access, not in the group", [](Bench&) {}, 1, bob, 1,
         linked + "      no access: only the group dialout may open it, and you are not in it\n"
                  "      fix: sudo adduser $USER dialout  # then log out and in again\n"},
        {"no access, not logged in again", [](Bench&) {}, 1, alice, 1,
         linked + "      no access: you are in the group dialout that may open it, but this "
                  "session began before you joined it\n      fix: newgrp dialout  # in this "
                  "terminal; log out and in again for the rest\n"},
        {"no access, the owner's only", [](Bench& b) { chmod(b.Slave().c_str(), 0600); }, 1, bob, 1,
         linked + "      no access: mode 0600 lets only its owner, root, open it\n      fix: sudo "
                  "chmod g+rw {slave} && sudo adduser $USER dialout  # then log out and in "
                  "again\n"},
        {"brltty",
         [](Bench& b) {
             b.Unlink();
             b.machine.AddUsbTty("ttyUSB0", b.Slave(), {"1a86", "7523", "", -1, "1-2"});
             b.machine.AddProcess(900, "brltty", 900, 0);
         },
         1,
         {},
         0,
         usb0 + "      brltty: brltty (pid 900) runs, which takes some USB serial adapters for "
                "braille displays and may take this one when it is plugged in again\n      fix: "
                "sudo apt-get remove brltty\n"},
        {"modem manager",
         [](Bench& b) {
             b.Unlink();
             b.machine.AddUsbTty("ttyACM0", b.Slave(), {"2e8a", "000a", "E66138", -1, "1-2"});
             b.machine.AddProcess(700, "ModemManager", 700, 0);
         },
         1,
         {},
         0,
         "COM1  {dev}/ttyACM0  found\n      modem manager: ModemManager (pid 700) probes a new "
         "ACM device for seconds, writing AT commands to it (udev's database is not there to say "
         "it leaves this one alone)\n      fix: echo 'SUBSYSTEM==\"tty\", "
         "ATTRS{idVendor}==\"2e8a\", ATTRS{idProduct}==\"000a\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"' "
         "| sudo tee /etc/udev/rules.d/99-morvik-modemmanager.rules && sudo udevadm control "
         "--reload  # then plug it in again\n"},
        {"ok, modem manager told to leave it alone",
         [](Bench& b) {
             b.Unlink();
             b.machine.AddUsbTty("ttyACM0", b.Slave(), {"2e8a", "000a", "E66138", -1, "1-2"});
             b.machine.AddProcess(700, "ModemManager", 700, 0);
             b.machine.AddUdevEntry(b.Number(), "E:ID_MM_CANDIDATE=1\nE:ID_MM_DEVICE_IGNORE=1\n");
         },
         1,
         {},
         0,
         "COM1  {dev}/ttyACM0  found\n      ok\n"},
        {"slow",
         [](Bench& b) {
             b.Unlink();
             b.machine.AddUsbTty("ttyUSB0", b.Slave(), {"0403", "6001", "A10K", 16, "1-2"});
         },
         1,
         {},
         0,
         usb0 +
             "      slow: the FTDI adapter's latency timer is 16 ms: it holds the last bytes "
             "of every reply that long\n      fix: " +
             ftdiRule + "\n"},
        {"shared name",
         [](Bench& b) {
             b.Unlink();
             b.machine.AddUsbTty("ttyUSB0", b.Slave(), {"1a86", "7523", "", -1, "1-2"});
             b.machine.AddUsbTty("ttyUSB1", b.other.SlavePath(), {"1a86", "7523", "", -1, "1-3"});
             const std::string name = "S:serial/by-id/usb-1a86_USB_Serial-if00-port0\n";
             b.machine.AddUdevEntry(b.Number(), name + "S:serial/by-path/pci-usb-0:2:1.0-port0\n");
             b.machine.AddUdevEntry(DeviceNumber(b.other.SlavePath()), name);
         },
         1,
         {},
         0,
         usb0 + "      shared name: ttyUSB0 and ttyUSB1 both claim "
                "{byid}/usb-1a86_USB_Serial-if00-port0, which leads to the one udev saw last\n"
                "      fix: morvik-ports --assign 1 {dev}/ttyUSB0  # links it by its USB socket\n"},
    };
    for (const auto& c : cases) {
        Bench b;
        // The device as udev makes a serial port: the group dialout may read and write it.
        chmod(b.Slave().c_str(), 0660);
        struct stat st {};
        ASSERT_EQ(0, stat(b.Slave().c_str(), &st));
        b.machine.SetGroupFile("dialout:x:" + std::to_string(st.st_gid) +
                               ":alice,carol\nbob:x:4242:\n");
        c.setup(b);
        const std::string port = std::to_string(c.port);
        const ToolRun r = RunTool(b.machine, {"--check", port.c_str()}, c.user);
        EXPECT_EQ(c.status, r.status) << c.verdict;
        EXPECT_EQ(Expand(c.output, {{"slave", b.Slave()},
                                    {"folder", b.dev.PortsFolder()},
                                    {"dev", b.machine.Sources().devFolder},
                                    {"byid", b.machine.Sources().ttys.byIdFolder},
                                    {"tty", b.Slave().substr(b.Slave().rfind('/') + 1)}}),
                  r.out)
            << c.verdict;
        EXPECT_EQ("", r.err) << c.verdict;
    }
}

// Without a number every port is shown; ports that name nothing, or the console, say no more.
TEST(PortsTool, CheckOfEveryPortSucceedsWhateverItFinds) {
    PtyDevice dev(3);
    FakeMachine machine;
    machine.AddTty("ttyS0");
    machine.AddNode("ttyS0", dev.SlavePath());
    machine.SetConsoles("ttyS0", "");
    dev.Link(2, "/dev/null");
    const ToolRun r = RunTool(machine, {"--check"});
    EXPECT_EQ(0, r.status);
    const std::string f = dev.PortsFolder();
    EXPECT_EQ("COM1  " + machine.DevPath("ttyS0") + "  console, skipped\n" +
                  "COM2  /dev/null  link " + f + "/COM2\n      not serial: /dev/null: not a " +
                  "serial device\n      fix: morvik-ports --assign 2 DEVICE\n" + "COM3  " +
                  dev.SlavePath() + "  link " + f + "/COM3\n      ok\n" + "COM4  -  nothing\n" +
                  "COM5  -  nothing\nCOM6  -  nothing\nCOM7  -  nothing\nCOM8  -  nothing\n",
              r.out);
    for (const char* bad : {"0", "9", "x"}) {
        const ToolRun wrong = RunTool(machine, {"--check", bad});
        EXPECT_EQ(2, wrong.status) << bad;
        EXPECT_EQ("morvik-ports: the port number is 1 to 8, not '" + std::string(bad) +
                      "'\nTry 'morvik-ports --help' for more information.\n",
                  wrong.err);
    }
    EXPECT_EQ(2, RunTool(machine, {"--check", "1", "2"}).status);
}

// A by-id name that is not the adapter's own (no serial number, or another adapter claims it
// too) would follow the wrong adapter: the link goes by the USB socket instead, and says so.
TEST(PortsTool, AssignLinksByTheUsbSocketWhenTheByIdNameIsNotTheAdaptersOwn) {
    PtyDevice clone(8);
    PtyDevice twin(8);
    PtyDevice genuine(8);
    FakeMachine machine;
    machine.AddUsbTty("ttyUSB0", clone.SlavePath(), {"1a86", "7523", "", -1, "1-2"});
    machine.AddUsbTty("ttyUSB1", twin.SlavePath(), {"0403", "6001", "A10K", -1, "1-3"});
    machine.AddUsbTty("ttyUSB2", genuine.SlavePath(), {"0403", "6001", "B20K", -1, "1-4"});
    machine.AddById("usb-1a86_USB_Serial-if00-port0", clone.SlavePath());
    machine.AddByPath("pci-0000:00:14.0-usb-0:2:1.0-port0", clone.SlavePath());
    machine.AddByPath("pci-0000:00:14.0-usb-0:3:1.0-port0", twin.SlavePath());
    machine.AddById("usb-FTDI_FT232R_USB_UART_B20K-if00-port0", genuine.SlavePath());
    // A second adapter that claims the same name as ttyUSB1 (one udev entry set by hand).
    const std::string shared = "S:serial/by-id/usb-FTDI_FT232R_USB_UART_A10K-if00-port0\n";
    machine.AddUdevEntry(DeviceNumber(twin.SlavePath()), shared);
    machine.AddUdevEntry(DeviceNumber(genuine.SlavePath()), shared);
    const std::string byPath = machine.Sources().ttys.byPathFolder + "/pci-0000:00:14.0-usb-0:";
    const std::string entry = genuine.PortsFolder() + "/COM2";

    const struct {
        std::string device;
        std::string out;
    } cases[] = {
        {machine.DevPath("ttyUSB0"),
         "COM2 -> " + byPath +
             "2:1.0-port0\nlinked by its USB socket: the adapter has no serial "
             "number, so a by-id name would fit any adapter of its make; plug "
             "it into the same socket\n"},
        {machine.Sources().ttys.byIdFolder + "/usb-1a86_USB_Serial-if00-port0",
         "COM2 -> " + byPath +
             "2:1.0-port0\nlinked by its USB socket: the adapter has no serial "
             "number, so a by-id name would fit any adapter of its make; plug "
             "it into the same socket\n"},
        {machine.DevPath("ttyUSB1"),
         "COM2 -> " + byPath + "3:1.0-port0\nlinked by its USB socket: its by-id name " +
             machine.Sources().ttys.byIdFolder +
             "/usb-FTDI_FT232R_USB_UART_A10K-if00-port0 is claimed by ttyUSB2 too; plug it into "
             "the same socket\n"},
    };
    for (const auto& c : cases) {
        const ToolRun r = RunTool(machine, {"--assign", "2", c.device.c_str()});
        EXPECT_EQ(0, r.status) << c.device << r.err;
        EXPECT_EQ(c.out, r.out) << c.device;
        EXPECT_EQ(c.out.substr(8, c.out.find('\n') - 8), LinkOf(entry)) << c.device;
    }
}

// The installed program: help and version on standard output with status 0, usage errors
// on standard error with status 2.
TEST(PortsTool, HelpAndVersionAsLinuxToolsHaveThem) {
    const struct {
        const char* arg;
        ChildProcess::Stream out;
        int status;
        std::string outStart;
    } cases[] = {
        {"--help", ChildProcess::Pipe, 0, "Usage: morvik-ports\n"},
        {"--version", ChildProcess::Pipe, 0, std::string("morvik-ports ") + MORVIK_VERSION + "\n"},
        {"--what", ChildProcess::Pipe, 2, ""},
        // Output that was asked for and could not be written is a failure.
        {"--version", ChildProcess::Closed, 1, ""},
    };
    for (const auto& c : cases) {
        ChildProcess ports({MORVIK_PORTS, c.arg}, {ChildProcess::Inherit, c.out, "/dev/null"});
        const std::string out = ports.ReadOut(5000);
        const int status = ports.Wait(5000);
        ASSERT_TRUE(WIFEXITED(status)) << c.arg;
        EXPECT_EQ(c.status, WEXITSTATUS(status)) << c.arg;
        EXPECT_EQ(c.outStart, out.substr(0, c.outStart.size())) << c.arg;
        if (c.outStart.empty()) {
            EXPECT_EQ("", out);
        }
    }
}

// Another user's open files are closed to whoever is not root: such a user cannot know that no
// program holds the line, and is not told "ok".
TEST(PortsTool, CheckSaysWhenOtherUsersHoldersCannotBeSeen) {
    if (geteuid() != 0)
        GTEST_SKIP() << "becoming another user takes root";
    PtyDevice dev(1);
    chmod(dev.SlavePath().c_str(), 0666);
    for (std::string p = dev.PortsFolder(); p.size() > 5; p = p.substr(0, p.rfind('/')))
        chmod(p.c_str(), 0755);
    ChildProcess nobody(
        [] {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                return 3;
            const PortCheck::Sources sources; // this machine's
            const char* argv[] = {"morvik-ports", "--check", "1"};
            const PortCheck::User user = PortCheck::User::OfThisProcess(
                {sources.machine.groupFile, sources.machine.passwdFile});
            return PortsTool(sources, user).Run(3, argv, std::cout, std::cerr);
        },
        {ChildProcess::Inherit, ChildProcess::Pipe});
    const std::string out = nobody.ReadOut(5000);
    const int status = nobody.Wait(5000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string verdict = "\n      no other holder visible to this user: the open files of ";
    EXPECT_NE(std::string::npos, out.find(verdict)) << out;
    EXPECT_EQ(std::string::npos, out.find(" ok")) << out;
}

// The link is the work; a confirmation that cannot be written does not make it a failure.
TEST(PortsTool, AssignWithStandardOutputClosedStillSucceeds) {
    PtyDevice dev(8);
    ChildProcess ports({MORVIK_PORTS, "--assign", "2", dev.SlavePath()},
                       {ChildProcess::Inherit, ChildProcess::Closed, "/dev/null"});
    const int status = ports.Wait(5000);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ(dev.SlavePath(), LinkOf(dev.PortsFolder() + "/COM2"));
}

} // namespace
