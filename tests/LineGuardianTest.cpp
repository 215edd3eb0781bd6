#include "serial/SerialPort.h"
#include "serial/comm.h"
#include "tests/PortTesting.h"
#include "tests/SlaveView.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/PtyDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <termios.h>
#include <unistd.h>

namespace {

// The guardian acts once the process it guards is gone: give it a moment.
bool PutBackSoon(const SlaveView& view, const termios& before) {
    for (int i = 0; i < 100; ++i) {
        if (SameSettings(before, view.Settings()) && !view.Exclusive())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// A program that ends without its exit handlers (_exit(), as Qt's Wayland plugin ends one when
// the compositor goes) or is killed leaves the line as it set it, unless a guardian watches.
TEST(LineGuardian, PutsTheLineBackWhenTheProgramEndsWithoutDoingSo) {
    enum class End { UnderscoreExit, Kill };
    const struct {
        End end;
        bool guarded;
        const char* what;
    } cases[] = {
        {End::UnderscoreExit, false, "_exit() without a guardian"},
        {End::UnderscoreExit, true, "_exit()"},
        {End::Kill, true, "SIGKILL"},
    };
    for (const auto& c : cases) {
        PtyDevice dev(1);
        const SlaveView view(dev.SlavePath());
        const termios before = view.Settings();
        ChildProcess child(
            [&] {
                if (c.guarded && !CommGuardPorts())
                    return 3;
                auto* port = new CSerialPort(); // only the end of the process lets go of it
                if (!OpenStandard(*port, 1, 57600))
                    return 3;
                if (c.end == End::UnderscoreExit)
                    _exit(7);
                ChildProcess::ReadyAndWait();
            },
            {ChildProcess::Inherit, ChildProcess::Pipe});
        if (c.end == End::Kill) {
            ASSERT_EQ("ready", child.ReadLine(5000)) << c.what;
            child.Signal(SIGKILL);
        }
        const int status = child.Wait(5000);
        if (c.end == End::UnderscoreExit) {
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << c.what << " " << status;
        }
        if (c.guarded) {
            EXPECT_TRUE(PutBackSoon(view, before)) << c.what;
        } else {
            EXPECT_FALSE(SameSettings(before, view.Settings())) << c.what;
            EXPECT_TRUE(view.Exclusive()) << c.what;
        }
    }
}

// A line closed normally is forgotten by the guardian at once: the same program opens it again
// straight away (the guardian's copy no longer holds its lock), and what a later owner sets is
// still there after the program and its guardian are gone.
TEST(LineGuardian, LeavesALineClosedNormallyToItsNextOwner) {
    PtyDevice dev(1);
    const SlaveView view(dev.SlavePath());
    ChildProcess child(
        [&] {
            CSerialPort port;
            if (CommGuardPorts() && OpenStandard(port, 1, 57600) && port.Close() &&
                OpenStandard(port, 1, 57600) && port.Close())
                ChildProcess::ReadyAndWait();
            return 3;
        },
        {ChildProcess::Inherit, ChildProcess::Pipe});
    ASSERT_EQ("ready", child.ReadLine(5000));
    termios later = view.Settings();
    cfsetospeed(&later, B2400);
    cfsetispeed(&later, B2400);
    ASSERT_EQ(0, tcsetattr(view.Fd(), TCSANOW, &later));
    child.Signal(SIGKILL);
    child.Wait(5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(SameSettings(later, view.Settings()));
}

} // namespace
