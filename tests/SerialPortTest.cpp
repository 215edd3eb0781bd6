#include "serial/SerialPort.h"
#include "serial/LineSettings.h"
#include "serial/comm.h"
#include "tests/FakeMachine.h"
#include "tests/Files.h"
#include "tests/PortTesting.h"
#include "tests/SlaveView.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/Descriptors.h"
#include "testsupport/PtyDevice.h"
#include "testsupport/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

#include <cstring>
#include <fstream>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Bytes waiting in the driver for the port's descriptor.
int DriverHolds(HANDLE h) {
    int n = -1;
    ioctl(h, FIONREAD, &n);
    return n;
}

// Waits until the driver holds n bytes for the port (the pty delivers asynchronously).
bool WaitDriverHolds(HANDLE h, int n) {
    for (int i = 0; i < 200 && DriverHolds(h) < n; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return DriverHolds(h) == n;
}

TEST(SerialPortOpen, RefusesBadArgumentsWithoutTouchingAnything) {
    PtyDevice dev(1);
    CSerialPort port;
    struct Case {
        DWORD port, baud, parity, data, stop;
    };
    const Case bad[] = {
        {0, 19200, PARITY_NONE, DATABITS_8, STOPBITS_10},
        {5, 19200, PARITY_NONE, DATABITS_8, STOPBITS_10},
        {0xFFFFFFFF, 19200, PARITY_NONE, DATABITS_8, STOPBITS_10}, // -1 from a signed field
        {1, 49, PARITY_NONE, DATABITS_8, STOPBITS_10},
        {1, 4000001, PARITY_NONE, DATABITS_8, STOPBITS_10},
        {1, 19200, 0, DATABITS_8, STOPBITS_10},
        {1, 19200, PARITY_SPACE << 1, DATABITS_8, STOPBITS_10},
        {1, 19200, PARITY_NONE | PARITY_ODD, DATABITS_8, STOPBITS_10},
        {1, 19200, PARITY_NONE, DATABITS_16, STOPBITS_10},
        {1, 19200, PARITY_NONE, 0, STOPBITS_10},
        {1, 19200, PARITY_NONE, DATABITS_8, 0x0003},
        // 1.5 stop bits are what a UART makes of 2 on a 5-bit line, and nothing else.
        {1, 19200, PARITY_NONE, DATABITS_8, STOPBITS_15},
        {1, 19200, PARITY_NONE, DATABITS_5, STOPBITS_20},
    };
    for (const Case& c : bad) {
        EXPECT_EQ(FALSE, port.Open(c.port, c.baud, c.parity, c.data, c.stop))
            << c.port << " " << c.baud;
        EXPECT_EQ(INVALID_HANDLE_VALUE, port.m_hPort);
        EXPECT_EQ(CString(""), port.m_strPortName);
    }
    // The device was never opened: it has not been claimed by anyone.
    CSerialPort other;
    EXPECT_EQ(TRUE, OpenStandard(other));

    // A refused Open leaves an open port as it was.
    EXPECT_EQ(FALSE, other.Open(5, 19200, PARITY_NONE, DATABITS_8, STOPBITS_10));
    EXPECT_NE(INVALID_HANDLE_VALUE, other.m_hPort);
    EXPECT_EQ(CString("COM1:"), other.m_strPortName);
}

TEST(SerialPortOpen, AppliesRawLineSettingsAndAnyBaudInRange) {
    PtyDevice dev(2);
    for (DWORD baud : {50u, 1200u, 5000u, 19200u, 115200u, 921600u, 4000000u}) {
        CSerialPort port;
        ASSERT_EQ(TRUE, OpenStandard(port, 2, baud)) << baud;
        EXPECT_EQ(CString("COM2:"), port.m_strPortName);
        EXPECT_EQ(28u, port.m_dcb.DCBlength);
        EXPECT_EQ(baud, port.m_dcb.BaudRate);
        EXPECT_EQ(DTR_CONTROL_DISABLE, port.m_dcb.fDtrControl);
        EXPECT_EQ(MAXDWORD, port.m_timeouts.ReadIntervalTimeout);
        EXPECT_EQ(MAXDWORD, port.m_timeouts.ReadTotalTimeoutMultiplier);
        EXPECT_EQ(1000u, port.m_timeouts.ReadTotalTimeoutConstant);
        EXPECT_EQ(50u, port.m_timeouts.WriteTotalTimeoutMultiplier);
        EXPECT_EQ(0u, port.m_timeouts.WriteTotalTimeoutConstant);

        LineSettings s;
        ASSERT_TRUE(LineSettings::Read(port.m_hPort, &s));
        EXPECT_EQ(baud, s.baud);
        EXPECT_EQ(8, s.byteSize);
        EXPECT_EQ(LineSettings::Parity::None, s.parity);
        EXPECT_EQ(LineSettings::StopBits::One, s.stopBits);

        termios tio{};
        ASSERT_EQ(0, tcgetattr(port.m_hPort, &tio));
        EXPECT_EQ(0u, tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
        EXPECT_EQ(0u, tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP));
        EXPECT_EQ(0u, tio.c_oflag & OPOST);
        int lines = 0;
        // Only real ports have modem lines; a pseudo-terminal has no DTR to check.
        if (ioctl(port.m_hPort, TIOCMGET, &lines) == 0) {
            EXPECT_EQ(0, lines & TIOCM_DTR);
        }
    }
    // Settings other than 8N1 are taken too (a pseudo-terminal forces 8N1 back on its own).
    CSerialPort port;
    EXPECT_EQ(TRUE, port.Open(2, 9600, PARITY_EVEN, DATABITS_7, STOPBITS_20));
    EXPECT_EQ(7, port.m_dcb.ByteSize);
    EXPECT_EQ(EVENPARITY, port.m_dcb.Parity);
    EXPECT_EQ(TWOSTOPBITS, port.m_dcb.StopBits);
    EXPECT_EQ(TRUE, port.Open(2, 9600, PARITY_MARK, DATABITS_8, STOPBITS_10));
    EXPECT_EQ(MARKPARITY, port.m_dcb.Parity);
    // The reply time-out is the profile's.
    LineProfile profile;
    profile.timeoutMs = 250;
    port.SetProfile(profile);
    EXPECT_EQ(TRUE, port.Open(2, 9600, PARITY_SPACE, DATABITS_5, STOPBITS_15));
    EXPECT_EQ(250u, port.m_timeouts.ReadTotalTimeoutConstant);
    EXPECT_EQ(SPACEPARITY, port.m_dcb.Parity);
    EXPECT_EQ(5, port.m_dcb.ByteSize);
    EXPECT_EQ(ONE5STOPBITS, port.m_dcb.StopBits);
}

TEST(SerialPortOpen, MissingHeldAndNonSerialDevices) {
    PtyDevice dev(1);
    dev.Link(3, "/nonexistent/serial-device");
    dev.Link(4, "/dev/null");

    // Missing: fails closed, but the name records what was tried.
    CSerialPort missing;
    EXPECT_EQ(FALSE, OpenStandard(missing, 3));
    EXPECT_EQ(INVALID_HANDLE_VALUE, missing.m_hPort);
    EXPECT_EQ(CString("COM3:"), missing.m_strPortName);

    // Held elsewhere: the second opener fails closed, and succeeds once the first lets go.
    CSerialPort first, second;
    ASSERT_EQ(TRUE, OpenStandard(first, 1));
    EXPECT_EQ(FALSE, OpenStandard(second, 1));
    EXPECT_EQ(INVALID_HANDLE_VALUE, second.m_hPort);
    EXPECT_EQ(COMM_ERROR_BUSY, CommGetLastError());
    EXPECT_EQ(TRUE, first.Close());
    EXPECT_EQ(TRUE, OpenStandard(second, 1));

    // Not a serial line: refused closed, nothing sent.
    CSerialPort null;
    EXPECT_EQ(FALSE, OpenStandard(null, 4));
    EXPECT_EQ(INVALID_HANDLE_VALUE, null.m_hPort);
    EXPECT_EQ(COMM_ERROR_NOT_SERIAL, CommGetLastError());
    EXPECT_EQ(FALSE, null.SendString("X\r"));
}

TEST(SerialPortOpen, NoDescriptorLeaksOverManyCycles) {
    PtyDevice dev(1);
    const int before = OpenDescriptors();
    for (int i = 0; i < 1000; ++i) {
        CSerialPort port;
        ASSERT_EQ(TRUE, OpenStandard(port));
        ASSERT_EQ(TRUE, port.Close());
    }
    // Open on a port that still holds a device releases it first.
    CSerialPort port;
    ASSERT_EQ(TRUE, OpenStandard(port));
    ASSERT_EQ(TRUE, OpenStandard(port));
    EXPECT_EQ(before + 1, OpenDescriptors());
    port.Disconnect();
    EXPECT_EQ(before, OpenDescriptors());
}

TEST(SerialPortClosed, OperationsFailWithoutSideEffects) {
    CSerialPort port;
    EXPECT_EQ(FALSE, port.SendString("X\r"));
    CString reply = "stale";
    const auto start = Clock::now();
    EXPECT_EQ(FALSE, port.ReceiveLine(reply));
    EXPECT_LT(MsSince(start), 100);
    EXPECT_EQ(CString(""), reply);

    CString out = "keep";
    DWORD count = 77;
    EXPECT_EQ(FALSE, port.ReadBytes(out, &count, 0, true, '\r'));
    EXPECT_EQ(CString("keep"), out);
    EXPECT_EQ(77u, count);

    EXPECT_EQ(FALSE, port.Close());
    EXPECT_EQ(INVALID_HANDLE_VALUE, port.m_hPort);
    EXPECT_EQ(TRUE, port.Disconnect());

    // The same once a device was held and let go: nothing of it answers for the closed port.
    PtyDevice dev(1);
    ASSERT_EQ(TRUE, OpenStandard(port));
    ASSERT_EQ(TRUE, port.Close());
    EXPECT_EQ(FALSE, port.SetTimeouts(MAXDWORD, MAXDWORD, 1000, 50, 0));
    EXPECT_EQ(FALSE, port.Purge());
    EXPECT_EQ(FALSE, port.SendString("X\r"));
}

class SerialExchange : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(TRUE, OpenStandard(port)); }
    PtyDevice dev{1};
    CSerialPort port;
};

TEST_F(SerialExchange, ReplyEndsAtCarriageReturnAndTheRestIsPurged) {
    ASSERT_EQ(TRUE, port.SendString("ID?\r"));
    EXPECT_EQ("ID?\r", dev.Read(1000));
    dev.Write("OK\r\nLATE");
    CString reply;
    EXPECT_EQ(TRUE, port.ReceiveLine(reply));
    EXPECT_EQ(CString("OK\r"), reply);

    // The LF and what followed wait in the input until the next write discards them.
    ASSERT_EQ(TRUE, port.SendString("\r"));
    EXPECT_EQ("\r", dev.Read(1000));
    dev.Write("\x01\r");
    EXPECT_EQ(TRUE, port.ReceiveLine(reply));
    EXPECT_EQ(CString("\x01\r"), reply);
}

TEST_F(SerialExchange, SilenceEndsTheReplyAfterOneSecond) {
    CString reply = "stale";
    auto start = Clock::now();
    EXPECT_EQ(FALSE, port.ReceiveLine(reply));
    long long ms = MsSince(start);
    EXPECT_GE(ms, 950);
    EXPECT_LT(ms, 1600);
    EXPECT_EQ(CString(""), reply);

    dev.Write("PART");
    start = Clock::now();
    EXPECT_EQ(TRUE, port.ReceiveLine(reply));
    ms = MsSince(start);
    EXPECT_GE(ms, 950);
    EXPECT_LT(ms, 1600);
    EXPECT_EQ(CString("PART"), reply);
}

TEST_F(SerialExchange, NulBytesAreCountedButAddNoText) {
    dev.Write(std::string("\0\0", 2));
    CString reply = "x";
    EXPECT_EQ(TRUE, port.ReceiveLine(reply));
    EXPECT_EQ(CString(""), reply);

    // With 0x00 as the terminator the read stops at it; the rest stays buffered.
    dev.Write(std::string("A\0B", 3));
    CString out;
    DWORD count = 0;
    EXPECT_EQ(TRUE, port.ReadBytes(out, &count, 0, true, '\0'));
    EXPECT_EQ(CString("A"), out);
    EXPECT_EQ(2u, count);
    EXPECT_EQ(TRUE, port.ReadBytes(out, &count, 1, false, '\0'));
    EXPECT_EQ(CString("AB"), out);
    EXPECT_EQ(1u, count);
}

TEST_F(SerialExchange, ReadBytesResultsAndCountedMode) {
    // Terminator wanted, silence came first: the bytes and total are kept, the result is FALSE.
    dev.Write("abc");
    CString out;
    DWORD count = 0;
    EXPECT_EQ(FALSE, port.ReadBytes(out, &count, 0, true, '\r'));
    EXPECT_EQ(CString("abc"), out);
    EXPECT_EQ(3u, count);

    // No terminator wanted, silent line: TRUE with a total of 0.
    out.Empty();
    count = 9;
    EXPECT_EQ(TRUE, port.ReadBytes(out, &count, 0, false, '\r'));
    EXPECT_EQ(0u, count);

    // At most three read calls; two bytes stay buffered.
    dev.Write("12345");
    EXPECT_EQ(TRUE, port.ReadBytes(out, &count, 3, false, '\r'));
    EXPECT_EQ(CString("123"), out);
    EXPECT_EQ(3u, count);
    EXPECT_EQ(TRUE, port.ReadBytes(out, &count, 3, false, '\r'));
    EXPECT_EQ(CString("12345"), out);
    EXPECT_EQ(2u, count);

    out.Empty();
    dev.Write("12345");
    EXPECT_EQ(FALSE, port.ReadBytes(out, &count, 3, true, '\r'));
    EXPECT_EQ(CString("123"), out);
    EXPECT_EQ(3u, count);
}

TEST_F(SerialExchange, HangUpMidReplyEndsTheReadAtOnce) {
    std::thread device([&] {
        dev.Write("mid");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        dev.HangUp();
    });
    CString reply;
    const auto start = Clock::now();
    port.ReceiveLine(reply); // what arrived before the hang-up, if the kernel kept it
    EXPECT_LT(MsSince(start), 600);
    device.join();
    EXPECT_TRUE(reply == CString("mid") || reply == CString("")) << static_cast<const char*>(reply);
    EXPECT_EQ(TRUE, port.Close());
}

TEST_F(SerialExchange, HungUpLineFailsAtOnce) {
    dev.Write("par");
    ASSERT_TRUE(WaitDriverHolds(port.m_hPort, 3));
    CString out;
    DWORD count = 0;
    EXPECT_EQ(TRUE, port.ReadBytes(out, &count, 1, false, '\r'));
    EXPECT_EQ(CString("p"), out);
    dev.HangUp(); // the kernel drops what it still held; the port already took "ar" in

    CString reply = "stale";
    const auto start = Clock::now();
    EXPECT_EQ(TRUE, port.ReceiveLine(reply)); // what arrived before the hang-up, at once
    EXPECT_EQ(CString("ar"), reply);
    EXPECT_EQ(FALSE, port.ReceiveLine(reply));
    EXPECT_EQ(CString(""), reply);

    // Counted mode: every call fails; the count keeps the 0 of the last failed call.
    count = 55;
    out = "keep";
    EXPECT_EQ(FALSE, port.ReadBytes(out, &count, 3, false, '\r'));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(CString("keep"), out);
    EXPECT_LT(MsSince(start), 500);

    EXPECT_EQ(FALSE, port.SendString("X\r"));
    EXPECT_EQ(TRUE, port.Close());
}

TEST_F(SerialExchange, EndlessStreamIsCutByByteCap) {
    std::atomic<bool> stop{false};
    std::thread talker([&] {
        const std::string chunk(1024, 'x');
        while (!stop)
            dev.Write(chunk);
    });
    CString reply;
    EXPECT_EQ(TRUE, port.ReceiveLine(reply));
    stop = true;
    talker.join();
    EXPECT_EQ(static_cast<int>(CSerialPort::kMaxReplyBytes), reply.GetLength());
}

TEST_F(SerialExchange, SlowStreamIsCutByTimeCap) {
    std::atomic<bool> stop{false};
    std::thread talker([&] {
        while (!stop) {
            dev.Write("y");
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });
    CString reply;
    const auto start = Clock::now();
    EXPECT_EQ(TRUE, port.ReceiveLine(reply));
    const long long ms = MsSince(start);
    stop = true;
    talker.join();
    EXPECT_GE(ms, static_cast<long long>(CSerialPort::kMaxReplyMs));
    EXPECT_LT(ms, CSerialPort::kMaxReplyMs + 1500);
    EXPECT_GE(reply.GetLength(), 40);
}

TEST_F(SerialExchange, OnlyReadsThatReachTheSystemAreCounted) {
    const DWORD before = CommReadSystemCalls();
    ASSERT_EQ(TRUE, port.SendString("X\r"));
    EXPECT_EQ("X\r", dev.Read(1000));
    EXPECT_EQ(before, CommReadSystemCalls());
    dev.Write("AB\r");
    ASSERT_TRUE(WaitDriverHolds(port.m_hPort, 3));
    CString reply;
    EXPECT_EQ(TRUE, port.ReceiveLine(reply));
    EXPECT_EQ(CString("AB\r"), reply);
    // One wait and one read() brought all three bytes; the rest came from the buffer.
    EXPECT_EQ(before + 2, CommReadSystemCalls());
}

TEST_F(SerialExchange, WritesAreBoundedAndShortWritesFail) {
    // Nobody reads the master: the kernel buffer fills and the write time-out ends the write.
    port.SetTimeouts(MAXDWORD, MAXDWORD, 1000, 0, 200);
    std::string big(1 << 20, 'z');
    DWORD written = 0;
    const auto start = Clock::now();
    EXPECT_EQ(FALSE, port.WriteBytes(big.c_str(), static_cast<DWORD>(big.size()), &written));
    EXPECT_LT(MsSince(start), 1500);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
}

// The exchange without a dialog keeps every byte of the reply and how it ended (morvik-send's
// tests show each ending); here what they cannot see: the bytes that came before the line hung
// up, and a failed reply, not the one before, for a port that is not open.
TEST_F(SerialExchange, TheLastReplyKeepsItsBytesAndHowItEnded) {
    const std::string answer("A\0B\r", 4);
    dev.StartResponder([&answer](const std::string& command) {
        return command == "ID?\r" ? answer : std::string("?\r");
    });
    CString reply;
    EXPECT_EQ(TRUE, port.Exchange("ID?", reply));
    EXPECT_EQ(CString("AB\r"), reply);
    EXPECT_EQ(answer, port.LastReply().bytes);
    EXPECT_EQ(SerialReply::Ending::Terminator, port.LastReply().ending);

    dev.StopResponder();
    dev.Write("par");
    ASSERT_TRUE(WaitDriverHolds(port.m_hPort, 3));
    DWORD count = 0;
    ASSERT_EQ(TRUE, port.ReadBytes(reply, &count, 1, false, '\r')); // "ar" now in the buffer
    dev.HangUp();
    EXPECT_EQ(TRUE, port.ReceiveLine(reply));
    EXPECT_EQ("ar", port.LastReply().bytes);
    EXPECT_EQ(SerialReply::Ending::Gone, port.LastReply().ending);

    port.Close();
    EXPECT_EQ(FALSE, port.Exchange("ID?", reply));
    EXPECT_EQ("", port.LastReply().bytes);
    EXPECT_EQ(SerialReply::Ending::Failed, port.LastReply().ending);
}

// Replies read one after another with no purge between them, each ended as the profile says.
// An LF right after a CR belongs to that reply's end under cr and any; the device's bytes come
// in the writes given, 30 ms apart, so that an end can span two reads.
TEST_F(SerialExchange, RepliesEndAsTheProfileSays) {
    using End = LineProfile::ReplyEnd;
    using Ending = SerialReply::Ending;
    const struct {
        End end;
        std::vector<std::string> writes;
        std::vector<std::string> replies;
        Ending last; // how the last reply ended
    } cases[] = {
        {End::Cr, {"A\r\nB\r"}, {"A\r", "B\r"}, Ending::Terminator},
        {End::Cr, {"A\r", "\nB\r"}, {"A\r", "B\r"}, Ending::Terminator},
        {End::Cr, {"\n\nA\r"}, {"\n\nA\r"}, Ending::Terminator}, // not after a CR: kept
        {End::Lf, {"A\r\nB\rC\n"}, {"A\r\n", "B\rC\n"}, Ending::Terminator},
        {End::CrLf, {"A\rB\nC\r\n"}, {"A\rB\nC\r\n"}, Ending::Terminator},
        {End::CrLf, {"A\r", "\nB\r\r", "\n"}, {"A\r\n", "B\r\r\n"}, Ending::Terminator},
        {End::CrLf, {"A\n\r"}, {"A\n\r"}, Ending::Silence},
        {End::Any, {"A\r\nB\nC\rD\r", "\n"}, {"A\r", "B\n", "C\r", "D\r"}, Ending::Terminator},
        {End::Any, {"\rA\n"}, {"\r", "A\n"}, Ending::Terminator},
    };
    for (const auto& c : cases) {
        LineProfile profile;
        profile.replyEnd = c.end;
        profile.timeoutMs = 200;
        port.SetProfile(profile);
        port.SetTimeouts(MAXDWORD, MAXDWORD, 200, 50, 0);
        port.Purge();
        std::thread device([&] {
            for (const std::string& w : c.writes) {
                dev.Write(w);
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
            }
        });
        const std::string what = c.writes[0] + " as " + std::to_string(static_cast<int>(c.end));
        for (const std::string& want : c.replies) {
            CString reply;
            EXPECT_EQ(TRUE, port.ReceiveLine(reply)) << what;
            EXPECT_EQ(want, port.LastReply().bytes) << what;
        }
        EXPECT_EQ(c.last, port.LastReply().ending) << what;
        device.join();
        // Nothing was left behind but what the last reply's end leaves.
        CString rest;
        port.ReceiveLine(rest);
        EXPECT_EQ("", port.LastReply().bytes) << what;
    }
}

// A device that ends replies with CR LF and writes the LF a moment after the CR, as a UART
// delivers it: the LF never starts the next reply, whether it comes before the purge of the
// next command or after it. A device that sends CR alone pays no wait for an LF.
TEST_F(SerialExchange, ACrLfDeviceStaysInStepAndACrDeviceWaitsForNothing) {
    std::atomic<int> lfDelayMs{0};
    dev.StartResponder([&](const std::string& command) {
        dev.Write(command.substr(0, command.size() - 1) + "\r");
        std::this_thread::sleep_for(std::chrono::milliseconds(lfDelayMs));
        return std::string("\n");
    });
    for (int i = 0; i < 20; ++i) {
        lfDelayMs = i % 4; // 0 ms: the LF is there before the next purge, often
        const std::string command = "C" + std::to_string(i);
        CString reply;
        EXPECT_EQ(TRUE, port.Exchange(command.c_str(), reply));
        EXPECT_EQ(command + "\r", port.LastReply().bytes) << i;
    }

    dev.StartResponder([](const std::string& command) { return command; });
    const auto start = Clock::now();
    for (int i = 0; i < 10; ++i) {
        CString reply;
        EXPECT_EQ(TRUE, port.Exchange("ECHO", reply));
        EXPECT_EQ(CString("ECHO\r"), reply);
    }
    EXPECT_LT(MsSince(start), 500);
}

// A device that takes and gives LF-ended lines, as SCPI instruments on USB adapters do: with
// the profile's ends, ten exchanges take well under a second (each waited out a second before).
TEST(SerialPortProfile, AnLfDeviceAnswersAtOnceWithLfEnds) {
    PtyDevice dev(1);
    std::string received;
    dev.StartResponder(
        [&](const std::string& command) {
            received += command;
            return "V" + command;
        },
        '\n');
    LineProfile profile;
    profile.commandEnd = LineProfile::CommandEnd::Lf;
    profile.replyEnd = LineProfile::ReplyEnd::Lf;
    CSerialPort port;
    port.SetProfile(profile);
    ASSERT_EQ(TRUE, OpenStandard(port));
    const auto start = Clock::now();
    for (int i = 0; i < 10; ++i) {
        CString reply;
        EXPECT_EQ(TRUE, port.Exchange("MEAS?", reply));
        EXPECT_EQ(CString("VMEAS?\n"), reply);
        EXPECT_EQ(SerialReply::Ending::Terminator, port.LastReply().ending);
    }
    EXPECT_LT(MsSince(start), 500);
    port.Close();
    dev.StopResponder();
    std::string sent;
    for (int i = 0; i < 10; ++i)
        sent += "MEAS?\n";
    EXPECT_EQ(sent, received);

    // The other command ends, and none.
    for (const auto& [end, bytes] : {std::pair{LineProfile::CommandEnd::Cr, "X\r"},
                                     std::pair{LineProfile::CommandEnd::CrLf, "X\r\n"},
                                     std::pair{LineProfile::CommandEnd::None, "X"}}) {
        profile.commandEnd = end;
        profile.replyEnd = LineProfile::ReplyEnd::Cr;
        port.SetProfile(profile);
        ASSERT_EQ(TRUE, OpenStandard(port));
        port.SetTimeouts(MAXDWORD, MAXDWORD, 50, 50, 0);
        CString reply;
        port.Exchange("X", reply);
        EXPECT_EQ(bytes, dev.Read(1000));
        port.Close();
    }
}

// Looked for over what one read took from the driver, the end and the caps give what a read
// call per byte gives: a reply of 64 KiB with its CR as the last byte that fits ends at the CR;
// one byte later, at the cap, and the CR waits for the next reply.
TEST_F(SerialExchange, TheCapCutsASpanWhereByteReadsWouldStop) {
    for (const std::size_t crAt : {CSerialPort::kMaxReplyBytes - 1, CSerialPort::kMaxReplyBytes}) {
        std::thread device([&] { dev.Write(std::string(crAt, 'x') + "\r"); });
        CString reply;
        EXPECT_EQ(TRUE, port.ReceiveLine(reply));
        device.join();
        const bool fits = crAt < CSerialPort::kMaxReplyBytes;
        EXPECT_EQ(CSerialPort::kMaxReplyBytes, port.LastReply().bytes.size());
        EXPECT_EQ(fits ? SerialReply::Ending::Terminator : SerialReply::Ending::Cap,
                  port.LastReply().ending);
        EXPECT_EQ(fits, port.LastReply().bytes.back() == '\r');
        EXPECT_EQ(fits ? FALSE : TRUE, port.ReceiveLine(reply)) << crAt;
        EXPECT_EQ(fits ? "" : "\r", port.LastReply().bytes);
    }
}

TEST(SerialPortLifetime, DestructorReleasesTheDevice) {
    PtyDevice dev(1);
    {
        CSerialPort port;
        ASSERT_EQ(TRUE, OpenStandard(port));
        CSerialPort other;
        EXPECT_EQ(FALSE, OpenStandard(other));
    }
    EXPECT_TRUE(dev.WaitHangUp(1000));
    CSerialPort again;
    EXPECT_EQ(TRUE, OpenStandard(again));
}

TEST(SerialPortLine, FlowControlBytesPassBothWaysOnAKernelDefaultTty) {
    PtyDevice dev(1);
    // A fresh pseudo-terminal starts as the kernel starts every tty: XON/XOFF on.
    ASSERT_NE(0u, SlaveView(dev.SlavePath()).Settings().c_iflag & IXON);
    CSerialPort port;
    ASSERT_EQ(TRUE, OpenStandard(port));

    ASSERT_EQ(TRUE, port.SendString("a\x11\x13z\r"));
    EXPECT_EQ("a\x11\x13z\r", dev.Read(1000));
    dev.Write("\x13\x11ok\r");
    CString reply;
    EXPECT_EQ(TRUE, port.ReceiveLine(reply));
    EXPECT_EQ(CString("\x13\x11ok\r"), reply);
    // A received 0x13 has not stopped our output.
    ASSERT_EQ(TRUE, port.SendString("again\r"));
    EXPECT_EQ("again\r", dev.Read(1000));

    // Every byte value but 0x00 (which a string cannot carry) goes out and comes back.
    const std::string all = EveryByte().substr(1);
    ASSERT_EQ(TRUE, port.SendString(all.c_str()));
    EXPECT_EQ(all, dev.Read(1000));
    dev.Write(std::string(1, '\0') + all);
    CString back;
    DWORD count = 0;
    EXPECT_EQ(TRUE, port.ReadBytes(back, &count, 256, false, '\r'));
    EXPECT_EQ(256u, count);
    EXPECT_EQ(CString(all.c_str()), back);
}

TEST(SerialPortLine, ClosePutsBackTheSettingsFoundAtOpen) {
    PtyDevice dev(1);
    const SlaveView view(dev.SlavePath());
    const termios before = view.Settings();
    CSerialPort port;
    ASSERT_EQ(TRUE, OpenStandard(port, 1, 57600));
    const termios during = SettingsOf(port.m_hPort);
    EXPECT_EQ(0u, during.c_iflag & (IXON | IXOFF | IXANY));
    EXPECT_EQ(B57600, cfgetospeed(&during));
    ASSERT_EQ(TRUE, port.Close());

    EXPECT_TRUE(SameSettings(before, view.Settings()));
    EXPECT_FALSE(view.Exclusive());
}

// Every end of a program that holds a port puts the line back, except SIGKILL, which nothing
// can catch: an exit() (as on a lost display) and a signal handler that calls
// CommRestoreAllPorts.
TEST(SerialPortLine, EveryEndButSigkillPutsTheLineBack) {
    enum class End { Exit, SignalHandler, Kill };
    const struct {
        End end;
        bool putBack;
        const char* what;
    } cases[] = {
        {End::Exit, true, "exit()"},
        {End::SignalHandler, true, "SIGTERM to a handler"},
        {End::Kill, false, "SIGKILL"},
    };
    for (const auto& c : cases) {
        PtyDevice dev(1);
        const SlaveView view(dev.SlavePath());
        const termios before = view.Settings();
        ChildProcess child(
            [&] {
                // Never destroyed: only the end of the process lets go of the port.
                auto* port = new CSerialPort();
                if (!OpenStandard(*port, 1, 57600))
                    return 3;
                if (c.end == End::Exit)
                    std::exit(7);
                if (c.end == End::SignalHandler)
                    signal(SIGTERM, [](int sig) {
                        CommRestoreAllPorts();
                        signal(sig, SIG_DFL);
                        raise(sig);
                    });
                ChildProcess::ReadyAndWait();
            },
            {ChildProcess::Inherit, ChildProcess::Pipe});
        const bool ready = child.ReadLine(5000) == "ready";
        EXPECT_EQ(c.end != End::Exit, ready) << c.what;
        if (ready) {
            EXPECT_FALSE(SameSettings(before, view.Settings())) << c.what;
        }
        const int sig = c.end == End::Kill ? SIGKILL : SIGTERM;
        if (c.end != End::Exit)
            child.Signal(sig);
        const int status = child.Wait(5000);
        if (c.end == End::Exit)
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
        else
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << c.what << " " << status;
        EXPECT_EQ(c.putBack, SameSettings(before, view.Settings())) << c.what;
        EXPECT_EQ(!c.putBack, view.Exclusive()) << c.what;
    }
}

TEST(SerialPortOpen, ALineHeldExclusivelyByAnotherIsBusyEvenForRoot) {
    PtyDevice dev(1);
    const SlaveView other(dev.SlavePath());
    ASSERT_EQ(0, ioctl(other.Fd(), TIOCEXCL));
    CSerialPort port;
    EXPECT_EQ(FALSE, OpenStandard(port));
    EXPECT_EQ(INVALID_HANDLE_VALUE, port.m_hPort);
    EXPECT_EQ(COMM_ERROR_BUSY, CommGetLastError());
    EXPECT_TRUE(other.Exclusive()); // the other holder's mark is left alone

    ASSERT_EQ(0, ioctl(other.Fd(), TIOCNXCL));
    ASSERT_EQ(TRUE, OpenStandard(port));
    EXPECT_TRUE(other.Exclusive());
    ASSERT_EQ(TRUE, port.Close());
    EXPECT_FALSE(other.Exclusive()); // our own mark goes with us
}

// Share mode 0 holds against a program that takes no lock (a script's plain open, pyserial's
// exclusive=False): the line is busy, and the holder named. The process that made the
// pseudo-terminal and serves its master side does not count (a socat pair, the simulated device).
TEST(SerialPortOpen, AProgramHoldingTheLineWithoutALockMakesItBusy) {
    PtyDevice dev(1);
    std::string name;
    std::ifstream("/proc/self/comm") >> name;
    // A child that holds the line; with makerToo it also keeps the master it was forked with.
    const auto holder = [&](bool makerToo) {
        return [&dev, makerToo] {
            if (!makerToo)
                close(dev.MasterFd()); // a program of its own, which did not make the line
            if (open(dev.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC) >= 0)
                ChildProcess::ReadyAndWait();
            return 3;
        };
    };
    {
        ChildProcess script(holder(false), {ChildProcess::Inherit, ChildProcess::Pipe});
        ASSERT_EQ("ready", script.ReadLine(5000));
        CSerialPort port;
        EXPECT_EQ(FALSE, OpenStandard(port));
        EXPECT_EQ(INVALID_HANDLE_VALUE, port.m_hPort);
        EXPECT_EQ(COMM_ERROR_BUSY, CommGetLastError());
        const std::string pid = std::to_string(script.Pid());
        EXPECT_EQ("cannot open COM1: " + dev.PortsFolder() + "/COM1 -> " + dev.SlavePath() +
                      ": busy, held open by " + name + " (pid " + pid + "); fix: kill " + pid,
                  std::string(CommErrorMessage()));
        EXPECT_FALSE(SlaveView(dev.SlavePath()).Exclusive()); // nothing of ours left on the line
    }
    ChildProcess maker(holder(true), {ChildProcess::Inherit, ChildProcess::Pipe});
    ASSERT_EQ("ready", maker.ReadLine(5000));
    CSerialPort port;
    EXPECT_EQ(TRUE, OpenStandard(port)) << static_cast<const char*>(CommErrorMessage());
}

TEST(SerialPortOpen, SomebodysTerminalIsRefusedNamingTheProcess) {
    PtyDevice dev(1);
    ChildProcess shell(
        [&] {
            // A session of its own whose controlling terminal is the line, as a login shell's is.
            if (setsid() >= 0 && open(dev.SlavePath().c_str(), O_RDWR | O_CLOEXEC) >= 0)
                ChildProcess::ReadyAndWait();
            return 3;
        },
        {ChildProcess::Inherit, ChildProcess::Pipe});
    ASSERT_EQ("ready", shell.ReadLine(5000));
    std::string name;
    std::ifstream("/proc/self/comm") >> name;

    CSerialPort port;
    EXPECT_EQ(FALSE, OpenStandard(port));
    EXPECT_EQ(INVALID_HANDLE_VALUE, port.m_hPort);
    EXPECT_EQ("cannot open COM1: " + dev.PortsFolder() + "/COM1 -> " + dev.SlavePath() +
                  ": in use as the terminal of " + name + " (pid " + std::to_string(shell.Pid()) +
                  "); fix: kill " + std::to_string(shell.Pid()),
              std::string(CommErrorMessage()));
    shell.Signal(SIGKILL);
    shell.Wait(5000);
    EXPECT_EQ(TRUE, OpenStandard(port));
}

TEST(SerialPortOpen, TheLastErrorIsPerThread) {
    CSerialPort port;
    EXPECT_EQ(FALSE, port.Open(5, 19200, PARITY_NONE, DATABITS_8, STOPBITS_10));
    std::thread([] {
        CSerialPort other;
        EXPECT_EQ(FALSE, other.Open(1, 49, PARITY_NONE, DATABITS_8, STOPBITS_10));
        EXPECT_EQ(COMM_ERROR_SETTINGS, CommGetLastError());
    }).join();
    EXPECT_EQ(COMM_ERROR_PORT_NUMBER, CommGetLastError());
}

TEST(SerialPortOpen, OnlySerialLinesAreOpened) {
    PtyDevice dev(1);
    const TempFolder folder;
    const std::string file = folder / "notes.txt";
    const std::string fifo = folder / "fifo";
    const std::string content = "precious data\nline two\n";
    std::ofstream(file, std::ios::binary) << content;
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    const int fifoReader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fifoReader, 0);

    for (const std::string& target :
         {file, fifo, folder.Path(), std::string("/dev/null"), std::string("/dev/zero")}) {
        dev.Link(3, target);
        const int before = OpenDescriptors();
        CSerialPort port;
        EXPECT_EQ(FALSE, OpenStandard(port, 3)) << target;
        EXPECT_EQ(INVALID_HANDLE_VALUE, port.m_hPort) << target;
        EXPECT_EQ(before, OpenDescriptors()) << target;
        EXPECT_EQ(FALSE, port.SendString("OVERWRITE\r"));
        EXPECT_EQ(COMM_ERROR_NOT_SERIAL, CommGetLastError()) << target;
    }
    EXPECT_EQ(content, ReadFile(file));
    char c;
    EXPECT_EQ(0, read(fifoReader, &c, 1)); // nothing was ever written into the FIFO
    close(fifoReader);
}

TEST(SerialPortOpen, MachinePortsAndConsolesFollowThePortRule) {
    PtyDevice adapter(4); // COM4 linked; COM1..COM3 are the machine's
    PtyDevice console(5);
    FakeMachine machine;
    machine.AddTty("ttyS0");
    machine.AddTty("ttyUSB0");
    machine.AddNode("ttyS0", console.SlavePath());
    machine.AddNode("ttyUSB0", adapter.SlavePath());
    machine.SetConsoles("tty0 ttyS0", "");

    CSerialPort port;
    ASSERT_EQ(TRUE, OpenStandard(port, 1)); // the adapter, the console left out
    ASSERT_EQ(TRUE, port.SendString("HI\r"));
    EXPECT_EQ("HI\r", adapter.Read(1000));
    port.Close();

    // The console: refused without being opened (a pty never opened shows no hang-up yet).
    EXPECT_EQ(FALSE, OpenStandard(port, 2));
    EXPECT_EQ(INVALID_HANDLE_VALUE, port.m_hPort);
    EXPECT_EQ(COMM_ERROR_CONSOLE, CommGetLastError());
    EXPECT_FALSE(console.WaitHangUp(50));
    EXPECT_EQ(FALSE, OpenStandard(port, 3));
    EXPECT_EQ(COMM_ERROR_NO_DEVICE, CommGetLastError());

    // Linked by the user, the console is a port like any other (the newest ports folder is
    // the one in use).
    console.Link(2, machine.DevPath("ttyS0"));
    EXPECT_EQ(TRUE, OpenStandard(port, 2));
}

TEST(SerialPortOpen, EachFailureSaysWhyInOneLine) {
    PtyDevice dev(2);
    FakeMachine machine;
    machine.AddTty("ttyS0");
    machine.AddNode("ttyS0", "/dev/null");
    machine.SetConsoles("ttyS0", "");
    const std::string folder = dev.PortsFolder();
    dev.Link(3, "/nonexistent/serial-device");
    dev.Link(4, "/dev/null");
    CSerialPort holder;
    ASSERT_EQ(TRUE, OpenStandard(holder, 2));

    const std::string hint = "; fix: morvik-ports --assign 3 DEVICE";
    const struct {
        DWORD port;
        std::string line;
    } cases[] = {
        {5, "cannot open COM5: port number outside 1 to 4"},
        {0xFFFFFFFC, "cannot open COM-4: port number outside 1 to 4"},
        {1, "cannot open COM1: " + machine.DevPath("ttyS0") +
                ": the kernel console, left alone; fix: morvik-ports --assign 1 " +
                machine.DevPath("ttyS0") + " (only to talk over the console)"},
        {2, "cannot open COM2: " + folder + "/COM2 -> " + dev.SlavePath() +
                ": busy, held by another program"},
        {3, "cannot open COM3: " + folder + "/COM3 -> /nonexistent/serial-device: no such device" +
                hint},
        {4, "cannot open COM4: " + folder +
                "/COM4 -> /dev/null: not a serial device; fix: morvik-ports --assign 4 "
                "DEVICE"},
    };
    for (const auto& c : cases) {
        CSerialPort port;
        EXPECT_EQ(FALSE, OpenStandard(port, c.port));
        EXPECT_EQ(c.line, std::string(CommErrorMessage())) << c.port;
    }

    // Nothing at all for the number; and an entry that cannot be looked up.
    unlink((folder + "/COM3").c_str());
    CSerialPort port;
    EXPECT_EQ(FALSE, OpenStandard(port, 3));
    EXPECT_EQ("cannot open COM3: no such device (no " + folder +
                  "/COM3, and no 3rd serial port on this machine)" + hint,
              std::string(CommErrorMessage()));
    setenv("XDG_CONFIG_HOME", "/dev/null", 1);
    EXPECT_EQ(FALSE, OpenStandard(port, 2));
    EXPECT_EQ("cannot open COM2: /dev/null/MorvikSerialDemo/ports/COM2: cannot look up the entry "
              "(Not a directory)",
              std::string(CommErrorMessage()));
    EXPECT_EQ(COMM_ERROR_LOOKUP, CommGetLastError());
}

// The advice fits the device: root's pseudo-terminal is given to dialout (never "join root"); a
// user's own one shut to its owner is opened up again by its owner.
TEST(SerialPortOpen, NoPermissionPointsAtTheDialoutGroup) {
    PtyDevice dev(1);
    const std::string slave = dev.SlavePath();
    struct stat st {};
    ASSERT_EQ(0, stat(slave.c_str(), &st));
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    const std::string expected =
        "cannot open COM1: " + dev.PortsFolder() + "/COM1 -> " + slave + ": permission denied: " +
        (geteuid() == 0
             ? "mode " + std::string(mode) + " lets only its owner, root, open it; fix: sudo " +
                   "chgrp dialout " + slave + " && sudo chmod g+rw " + slave +
                   " && sudo adduser $USER dialout (then log out and in again)"
             : "mode 0000 does not let even its owner, you, read and write it; fix: chmod u+rw " +
                   slave);
    ChildProcess child(
        [&] {
            // Root opens anything: the child gives up its rights (the ports folder stays
            // readable), an ordinary user takes the rights away from its own pseudo-terminal.
            if (geteuid() == 0) {
                for (std::string p = dev.PortsFolder(); p.size() > 5; p = p.substr(0, p.rfind('/')))
                    chmod(p.c_str(), 0755);
                if (setgid(65534) != 0 || setuid(65534) != 0)
                    return 3;
            } else if (chmod(dev.SlavePath().c_str(), 0) != 0) {
                return 3;
            }
            CSerialPort port;
            const BOOL ok = OpenStandard(port);
            if (!WriteAll(STDOUT_FILENO, std::string(CommErrorMessage())))
                return 4;
            return ok ? 1 : 0;
        },
        {ChildProcess::Inherit, ChildProcess::Pipe});
    const std::string line = child.ReadOut(5000);
    const int status = child.Wait(5000);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ(expected, line);
}

TEST(SerialPortLifetime, AFailedCloseStillLetsGoOfTheDescriptor) {
    PtyDevice dev(1);
    CSerialPort port;
    ASSERT_EQ(TRUE, OpenStandard(port));
    const HANDLE h = port.m_hPort;
    close(h); // released behind the port's back: its own close() fails
    EXPECT_EQ(FALSE, port.Close());
    EXPECT_EQ(INVALID_HANDLE_VALUE, port.m_hPort);
    // The number comes again for the next file opened; the port must not write into it.
    char name[] = "/tmp/morvik-reuse-XXXXXX";
    const int other = mkostemp(name, O_CLOEXEC);
    ASSERT_EQ(h, other);
    EXPECT_EQ(FALSE, port.SendString("NOT INTO THE FILE\r"));
    EXPECT_EQ("", ReadFile(name));
    close(other);
    unlink(name);
}

// Open at exit: closed by its destructor after every other static object may be gone.
CSerialPort g_portOpenAtExit;

TEST(SerialPortLifetime, AStaticPortOpenAtExitClosesCleanly) {
    EXPECT_EXIT(
        {
            {
                PtyDevice dev(1);
                if (!OpenStandard(g_portOpenAtExit))
                    std::_Exit(3);
                g_portOpenAtExit.SendString("BYE\r");
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

class SerialBuffering : public SerialExchange {};

TEST_F(SerialBuffering, OneReadTakesWhatTheDriverHolds) {
    const std::string burst(100, 'b');
    dev.Write(burst + "\r");
    ASSERT_TRUE(WaitDriverHolds(port.m_hPort, 101));
    CString out;
    DWORD count = 0;
    EXPECT_EQ(TRUE, port.ReadBytes(out, &count, 1, false, '\r'));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(0, DriverHolds(port.m_hPort)); // the rest came along in the same call
    CString reply;
    EXPECT_EQ(TRUE, port.ReceiveLine(reply));
    EXPECT_EQ(CString((burst.substr(1) + "\r").c_str()), reply);
}

TEST_F(SerialBuffering, PurgeDiscardsBufferedBytes) {
    dev.Write("STALE");
    ASSERT_TRUE(WaitDriverHolds(port.m_hPort, 5));
    CString out;
    DWORD count = 0;
    ASSERT_EQ(TRUE, port.ReadBytes(out, &count, 1, false, '\r'));
    ASSERT_EQ(0, DriverHolds(port.m_hPort));
    port.Purge();
    port.SetTimeouts(MAXDWORD, 0, 0, 50, 0); // reads return at once
    out.Empty();
    EXPECT_EQ(TRUE, port.ReadBytes(out, &count, 10, false, '\r'));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(CString(""), out);
}

TEST_F(SerialBuffering, ReplySplitAcrossReadsAndTheRestDiscardedBySend) {
    std::thread device([&] {
        dev.Write("SPL");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        dev.Write("IT\rAFTER");
    });
    CString reply;
    EXPECT_EQ(TRUE, port.ReceiveLine(reply));
    device.join();
    EXPECT_EQ(CString("SPLIT\r"), reply);

    // "AFTER" waits in the buffer until the next Send discards it.
    ASSERT_TRUE(WaitDriverHolds(port.m_hPort, 0));
    ASSERT_EQ(TRUE, port.SendString("NEXT\r"));
    EXPECT_EQ("NEXT\r", dev.Read(1000));
    dev.Write("NEW\r");
    EXPECT_EQ(TRUE, port.ReceiveLine(reply));
    EXPECT_EQ(CString("NEW\r"), reply);
}

} // namespace
