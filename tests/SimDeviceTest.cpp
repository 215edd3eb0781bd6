#include "serial/SerialPort.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// The simulated device as a child process, publishing COM3 in a private config folder.
class SimDevice : public ::testing::Test {
protected:
    void SetUp() override {
        char root[] = "/tmp/morvik-sim-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(root));
        m_root = root;
        setenv("XDG_CONFIG_HOME", m_root.c_str(), 1);
        m_link = m_root + "/MorvikSerialDemo/ports/COM3";
        const char* argv[] = {MORVIK_SIMDEVICE, "--port", "3", nullptr};
        ASSERT_EQ(0, posix_spawn(&m_pid, MORVIK_SIMDEVICE, nullptr, nullptr,
                                 const_cast<char**>(argv), environ));
        struct stat st {};
        for (int i = 0; i < 100 && lstat(m_link.c_str(), &st) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(TRUE, port.Open(3, 19200, PARITY_NONE, DATABITS_8, STOPBITS_10));
    }
    void TearDown() override {
        port.Close();
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        unlink(m_link.c_str());
        rmdir((m_root + "/MorvikSerialDemo/ports").c_str());
        rmdir((m_root + "/MorvikSerialDemo").c_str());
        rmdir(m_root.c_str());
        unsetenv("XDG_CONFIG_HOME");
    }
    CString Ask(const char* cmd) {
        CString command = cmd;
        command += "\r";
        port.SendString(command);
        CString reply;
        port.ReceiveLine(reply);
        return reply;
    }

    CSerialPort port;
    pid_t m_pid = -1;
    std::string m_root, m_link;
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

TEST_F(SimDevice, StopsCleanlyAndRemovesItsLink) {
    port.Close();
    ASSERT_EQ(0, kill(m_pid, SIGTERM));
    int status = -1;
    ASSERT_EQ(m_pid, waitpid(m_pid, &status, 0));
    m_pid = -1;
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    struct stat st {};
    EXPECT_NE(0, lstat(m_link.c_str(), &st));
}

} // namespace
