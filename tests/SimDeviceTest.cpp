#include "cli/SimulatedDevice.h"
#include "serial/SerialPort.h"
#include "serial/comm.h"
#include "tests/Files.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The simulated device as a child process, publishing COM3 in a private config folder.
class SimDevice : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", m_root.Path().c_str(), 1);
        Start();
    }
    // Starts the device and opens its port.
    void Start() {
        m_device.emplace(std::vector<std::string>{MORVIK_SIMDEVICE, "--port", "3"});
        // Until the device has published its line (a link left by an earlier one may be there).
        BOOL opened = FALSE;
        for (int i = 0; i < 100 && !opened; ++i) {
            opened = port.Open(3, 19200, PARITY_NONE, DATABITS_8, STOPBITS_10);
            if (!opened)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_EQ(TRUE, opened) << static_cast<const char*>(CommErrorMessage());
    }
    void TearDown() override {
        port.Close();
        if (m_device && m_device->Signal(SIGTERM))
            m_device->Wait(5000);
        m_device.reset();
        unsetenv("XDG_CONFIG_HOME");
    }
    // After a signal that ends it: status 0 and its link gone.
    void ExpectCleanEnd(const char* signalName) {
        const int status = m_device->Wait(5000);
        m_device.reset();
        EXPECT_TRUE(WIFEXITED(status)) << signalName;
        EXPECT_EQ(0, WEXITSTATUS(status)) << signalName;
        struct stat st {};
        EXPECT_NE(0, lstat(m_link.c_str(), &st)) << signalName;
    }
    CString Ask(const char* cmd) {
        CString command = cmd;
        command += "\r";
        port.SendString(command);
        CString reply;
        port.ReceiveLine(reply);
        return reply;
    }

    const TempFolder m_root;
    const std::string m_link = m_root / "MorvikSerialDemo/ports/COM3";
    CSerialPort port;
    std::optional<ChildProcess> m_device;
};

TEST_F(SimDevice, AnswersItsCommands) {
    EXPECT_EQ(CString("MORVIK,SIM-1,0001,1.0\r"), Ask("*IDN?"));
    EXPECT_EQ(CString("hello there\r"), Ask("ECHO hello there"));
    EXPECT_EQ(CString("OK\r"), Ask("CRLF")); // the LF waits, and the next write discards it
    EXPECT_EQ(CString("OK\r"), Ask("ANYTHING"));

    auto start = Clock::now();
    EXPECT_EQ(CString("DONE\r"), Ask("DELAY 300"));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));

    start = Clock::now();
    EXPECT_EQ(CString(""), Ask("SILENT"));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(950));

    port.SendString("STREAM\r");
    CString digits;
    DWORD count = 0;
    EXPECT_EQ(TRUE, port.ReadBytes(digits, &count, 25, false, '\r'));
    EXPECT_EQ(CString("0123456789012345678901234"), digits);
    EXPECT_EQ(CString("OK\r"), Ask("STOP")); // a new command ends the stream
}

// One signal of each family: the requests to end, one that dumps core, the user's, a timer's,
// a real-time one.
TEST_F(SimDevice, EveryEndingSignalRemovesItsLink) {
    for (const int sig : {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGALRM, SIGRTMIN}) {
        if (!m_device)
            Start();
        port.Close();
        ASSERT_TRUE(m_device->Signal(sig));
        ExpectCleanEnd(strsignal(sig));
    }
}

// A program that held the port and was killed left it marked exclusive; the device notices
// when the port is let go and makes the line anew.
TEST_F(SimDevice, APortLeftExclusiveByAKilledProgramIsUsableAgainWithinASecond) {
    const std::string before = LinkOf(m_link);
    port.Close();
    ChildProcess holder(
        [] {
            static CSerialPort held;
            if (held.Open(3, 19200, PARITY_NONE, DATABITS_8, STOPBITS_10))
                ChildProcess::ReadyAndWait();
            return 3;
        },
        {ChildProcess::Inherit, ChildProcess::Pipe});
    ASSERT_EQ("ready", holder.ReadLine(5000));
    holder.Signal(SIGKILL);
    holder.Wait(5000);

    const auto killed = Clock::now();
    BOOL opened = FALSE;
    while (!opened && Clock::now() - killed < std::chrono::seconds(1)) {
        opened = port.Open(3, 19200, PARITY_NONE, DATABITS_8, STOPBITS_10);
        if (!opened)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(TRUE, opened) << static_cast<const char*>(CommErrorMessage());
    EXPECT_NE(before, LinkOf(m_link));
    EXPECT_EQ(CString("OK\r"), Ask("AGAIN"));
}

// Killed with kill -9, the device leaves its link behind. The port rule refuses that link rather
// than follow it to whatever pseudo-terminal now has its number (somebody's terminal), and the
// next start replaces it, whether the number is taken meanwhile or given to the new device.
TEST_F(SimDevice, AfterKillNineItsLinkIsRefusedUntilItStartsAgain) {
    port.Close();
    for (const bool taken : {true, false}) {
        const std::string left = LinkOf(m_link);
        m_device->Signal(SIGKILL);
        m_device->Wait(5000);
        m_device.reset();
        // A new terminal, most likely with the number just freed.
        const int stranger = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_TRUE(stranger >= 0 && grantpt(stranger) == 0 && unlockpt(stranger) == 0);
        CSerialPort other;
        EXPECT_EQ(FALSE, other.Open(3, 19200, PARITY_NONE, DATABITS_8, STOPBITS_10));
        EXPECT_EQ(COMM_ERROR_ENDED, CommGetLastError());
        EXPECT_EQ("cannot open COM3: " + m_link + " -> " + left +
                      ": the simulated device on COM3 has ended; fix: morvik-simdevice --port 3 "
                      "(starts it again)",
                  std::string(CommErrorMessage()));
        char c;
        EXPECT_EQ(-1, read(stranger, &c, 1)); // nothing reached the stranger's terminal
        if (!taken)
            close(stranger);
        Start();
        EXPECT_EQ(CString("OK\r"), Ask("AGAIN"));
        port.Close();
        if (taken)
            close(stranger);
    }
}

// A long command comes back whole, however slowly the program takes the reply; a command is kept
// up to 1 MiB.
TEST_F(SimDevice, EchoReturnsLongTextsWholeUpToItsLimit) {
    for (const std::size_t size : {std::size_t{100000}, std::size_t{1100000}}) {
        ASSERT_EQ(TRUE,
                  port.SendString(CString(("ECHO " + std::string(size, 'x') + "\r").c_str())));
        CString reply;
        DWORD count = 0;
        EXPECT_EQ(TRUE, port.ReadBytes(reply, &count, 2000000, true, '\r')) << size;
        const std::size_t text = std::min<std::size_t>(size, (1u << 20) - 5);
        EXPECT_EQ(text + 1, count) << size;
        EXPECT_EQ(static_cast<int>(text + 1), reply.GetLength()) << size;
    }
}

// The device's answers to what arrives in pieces, in process: the replies it wrote at once, what
// it logged, and whether anything is still to come. A piece "<reset>" is the program letting go.
TEST(SimulatedDeviceReplies, AnswersWholeCommandsHoweverTheyArrive) {
    struct Case {
        std::vector<std::string> pieces;
        std::string replies, log;
        bool more; // a delayed reply or a stream to come
    };
    const std::vector<Case> cases = {
        {{"*ID", "N?", "\r"}, "MORVIK,SIM-1,0001,1.0\r", "command: *IDN?\n", false},
        {{"ECHO a\x01z", "\rCRLF\r"},
         "a\x01z\rOK\r\n",
         "command: ECHO a\\x01z\ncommand: CRLF\n",
         false},
        // A new command forgets the delayed reply and ends the stream.
        {{"DELAY 200\r", "ECHO x\r"}, "x\r", "command: DELAY 200\ncommand: ECHO x\n", false},
        {{"STREAM\rSILENT\r"}, "", "command: STREAM\ncommand: SILENT\n", false},
        {{"ECHO x\rDELAY 200\r"}, "x\r", "command: ECHO x\ncommand: DELAY 200\n", true},
        // Half a command from a program that let go is nobody's.
        {{"ECHO hal", "<reset>", "f\r"}, "OK\r", "command: f\n", false},
        {{"DELAY 200\r", "<reset>"}, "", "command: DELAY 200\n", false},
        // A program that ends commands with CR LF: the LF is no part of the next command.
        {{"*IDN?\r", "\n*IDN?\r\nECHO a\nb\r\n"},
         "MORVIK,SIM-1,0001,1.0\rMORVIK,SIM-1,0001,1.0\ra\nb\r",
         "command: *IDN?\ncommand: *IDN?\ncommand: ECHO a\\x0ab\n",
         false},
    };
    for (const Case& c : cases) {
        int line[2];
        ASSERT_EQ(0, pipe2(line, O_NONBLOCK | O_CLOEXEC));
        char* logged = nullptr;
        std::size_t size = 0;
        std::FILE* log = open_memstream(&logged, &size);
        ASSERT_NE(nullptr, log);
        SimulatedDevice device(line[1], log);
        for (const std::string& piece : c.pieces) {
            if (piece == "<reset>")
                device.Reset();
            else
                device.Receive(piece.data(), piece.size());
        }
        char replies[256];
        const ssize_t n = read(line[0], replies, sizeof replies);
        EXPECT_EQ(c.replies, std::string(replies, n > 0 ? static_cast<std::size_t>(n) : 0))
            << c.pieces[0];
        EXPECT_EQ(c.more, device.MsToNextEvent() >= 0) << c.pieces[0];
        std::fclose(log);
        EXPECT_EQ(c.log, std::string(logged, size)) << c.pieces[0];
        std::free(logged);
        close(line[0]);
        close(line[1]);
    }
}

// Runs the device with its output in a file; returns its exit status, or -1 while it still
// runs after ms (then it is stopped).
int RunDevice(std::vector<std::string> args, const std::string& output, int ms) {
    args.insert(args.begin(), MORVIK_SIMDEVICE);
    ChildProcess device(args, {ChildProcess::Inherit, output});
    const int status = device.Wait(ms);
    if (status == -1 && device.Signal(SIGTERM))
        device.Wait(5000);
    return status == -1 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : -3;
}

TEST(SimDeviceStart, ReplacesStaleLinksAndLeavesLiveOnesAlone) {
    const TempFolder root;
    const std::string folder = root / "ports";
    ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
    const std::string entry = folder + "/COM2";
    const std::string output = root / "out";

    // A pty still served by its master: someone's live port.
    const int live = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_TRUE(live >= 0 && grantpt(live) == 0 && unlockpt(live) == 0);
    char liveSlave[128];
    ASSERT_EQ(0, ptsname_r(live, liveSlave, sizeof liveSlave));
    ASSERT_EQ(0, symlink(liveSlave, entry.c_str()));
    EXPECT_EQ(1, RunDevice({"--port", "2", "--ports", folder.c_str()}, output, 5000));
    EXPECT_EQ(liveSlave, LinkOf(entry));

    // A pty whose master is gone (its slave still open somewhere, so the node stays), and a
    // link that leads nowhere: leftovers, replaced.
    const int gone = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_TRUE(gone >= 0 && grantpt(gone) == 0 && unlockpt(gone) == 0);
    char goneSlave[128];
    ASSERT_EQ(0, ptsname_r(gone, goneSlave, sizeof goneSlave));
    const int goneSlaveFd = open(goneSlave, O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(goneSlaveFd, 0);
    close(gone);
    for (const char* stale : {static_cast<const char*>(goneSlave), "/dev/pts/999999"}) {
        unlink(entry.c_str());
        ASSERT_EQ(0, symlink(stale, entry.c_str()));
        // The options' other form.
        EXPECT_EQ(-1, RunDevice({"--port=2", "--ports=" + folder}, output, 1000)) << stale;
        EXPECT_NE(std::string::npos, ReadFile(output).find("simulated device on COM2")) << stale;
        struct stat st {};
        EXPECT_NE(0, lstat(entry.c_str(), &st)) << stale; // its own link, removed at the end
    }
    close(goneSlaveFd);
    close(live);
}

TEST(SimDeviceStart, HelpVersionAndNothingButWholeNumbers) {
    const TempFolder root;
    const std::string output = root / "out";
    EXPECT_EQ(0, RunDevice({"--help"}, output, 5000));
    EXPECT_EQ(0u, ReadFile(output).find("Usage: "));
    EXPECT_EQ(0, RunDevice({"--version"}, output, 5000));
    EXPECT_EQ(std::string("morvik-simdevice ") + MORVIK_VERSION + "\n", ReadFile(output));
    const std::vector<std::vector<std::string>> bad = {
        {"--no-such-option"},   {"--port", "4294967297"},
        {"--port", " 5"},       {"--port", "5 "},
        {"--port", "+5"},       {"--port", "-1"},
        {"--port", "0"},        {"--port", "100"},
        {"--port", "0x5"},      {"--port"},
        {"--ports", ""},        {"--help", "--bogus"},
        {"--version", "extra"}, {"--port", "2", "--help"},
    };
    for (const auto& args : bad) {
        EXPECT_EQ(2, RunDevice(args, output, 5000)) << args[0] << " " << args.back();
        EXPECT_EQ("", ReadFile(output)) << args[0] << " " << args.back();
    }
}
} // namespace
