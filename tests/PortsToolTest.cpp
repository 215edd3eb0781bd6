#include "cli/PortsTool.h"
#include "tests/FakeMachine.h"
#include "tests/PtyDevice.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Result {
    int status;
    std::string out, err;
};

Result RunTool(const FakeMachine& machine, std::vector<const char*> args) {
    args.insert(args.begin(), "morvik-ports");
    std::ostringstream out, err;
    const int status =
        PortsTool(machine.Sources()).Run(static_cast<int>(args.size()), args.data(), out, err);
    return {status, out.str(), err.str()};
}

dev_t DeviceNumber(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(0, stat(path.c_str(), &st)) << path;
    return st.st_rdev;
}

std::string LinkOf(const std::string& entry) {
    char target[4096];
    const ssize_t n = readlink(entry.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
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
    const std::string byId = machine.Sources().byIdFolder;
    machine.AddProcess(812, "getty", 812, DeviceNumber(dev.SlavePath()));

    const Result r = RunTool(machine, {});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("COM1  " + dev.SlavePath() + "  link " + f +
                  "/COM1, in use as the terminal of getty (pid 812)\n" + "COM2  " +
                  machine.DevPath("ttyUSB1") + "  found, " + byId +
                  "/usb-Morvik_Adapter_7-if00-port0\n" + "COM3  " + machine.DevPath("ttyACM0") +
                  "  found\n" + "COM4  " + machine.DevPath("ttyS0") + "  console, skipped\n" +
                  "COM5  /nonexistent/adapter  link " + f + "/COM5, missing\n" + "COM6  " +
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
    const std::string byIdName = machine.Sources().byIdFolder + "/usb-Morvik_Adapter_7-if00-port0";

    // A ports folder that does not exist yet is made.
    char root[] = "/tmp/morvik-assign-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(root));
    setenv("XDG_CONFIG_HOME", root, 1);
    const std::string entry = std::string(root) + "/MorvikSerialDemo/ports/COM2";

    Result r = RunTool(machine, {"--assign", "2", adapter.SlavePath().c_str()});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("COM2 -> " + byIdName + "\n", r.out);
    EXPECT_EQ(byIdName, LinkOf(entry));

    // Given by its stable name, it stays so; a device without one is linked as given, and the
    // new link replaces the old.
    r = RunTool(machine, {"--assign", "3", byIdName.c_str()});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(byIdName, LinkOf(std::string(root) + "/MorvikSerialDemo/ports/COM3"));
    r = RunTool(machine, {"--assign", "2", plain.SlavePath().c_str()});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("COM2 -> " + plain.SlavePath() + "\n", r.out);
    EXPECT_EQ(plain.SlavePath(), LinkOf(entry));
    EXPECT_NE(std::string::npos,
              RunTool(machine, {}).out.find("COM2  " + plain.SlavePath() + "  link " + entry));

    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
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
         "morvik-ports: /nonexistent/adapter: No such file or directory\n"},
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
        {{"--bogus"}, 2, "morvik-ports: unknown option '--bogus'\n"},
        {{"COM1"}, 2, "morvik-ports: unexpected argument 'COM1'\n"},
    };
    for (const auto& c : cases) {
        const Result r = RunTool(machine, c.args);
        EXPECT_EQ(c.status, r.status) << c.err;
        EXPECT_EQ("", r.out) << c.err;
        const std::string tryHelp = "Try 'morvik-ports --help' for more information.\n";
        EXPECT_EQ(c.status == 2 ? c.err + tryHelp : c.err, r.err);
    }
    struct stat st {};
    EXPECT_NE(0, lstat((dev.PortsFolder() + "/COM2").c_str(), &st)); // nothing was made
}

// The installed program: help and version on standard output with status 0, usage errors
// on standard error with status 2.
TEST(PortsTool, HelpAndVersionAsLinuxToolsHaveThem) {
    const struct {
        const char* args;
        int status;
        std::string outStart;
    } cases[] = {
        {"--help", 0, "Usage: morvik-ports\n"},
        {"--version", 0, std::string("morvik-ports ") + MORVIK_VERSION + "\n"},
        {"--what 2>/dev/null", 2, ""},
        // Output that was asked for and could not be written is a failure.
        {"--version >&- 2>/dev/null", 1, ""},
    };
    for (const auto& c : cases) {
        FILE* p = popen((std::string(MORVIK_PORTS) + " " + c.args).c_str(), "r");
        ASSERT_NE(nullptr, p);
        std::string out;
        char buf[512];
        std::size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        const int status = pclose(p);
        ASSERT_TRUE(WIFEXITED(status)) << c.args;
        EXPECT_EQ(c.status, WEXITSTATUS(status)) << c.args;
        EXPECT_EQ(c.outStart, out.substr(0, c.outStart.size())) << c.args;
        if (c.outStart.empty()) {
            EXPECT_EQ("", out);
        }
    }
}

// The link is the work; a confirmation that cannot be written does not make it a failure.
TEST(PortsTool, AssignWithStandardOutputClosedStillSucceeds) {
    PtyDevice dev(8);
    const std::string command =
        std::string(MORVIK_PORTS) + " --assign 2 " + dev.SlavePath() + " >&- 2>/dev/null";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ(dev.SlavePath(), LinkOf(dev.PortsFolder() + "/COM2"));
}

} // namespace
