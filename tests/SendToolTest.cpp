#include "cli/SendTool.h"
#include "tests/FakeMachine.h"
#include "tests/SlaveView.h"
#include "tests/ToolRun.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/PtyDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include <sys/file.h>
#include <sys/wait.h>

namespace {

using Clock = std::chrono::steady_clock;

ToolRun RunSend(std::vector<const char*> args, const std::string& input = std::string()) {
    std::istringstream in(input);
    return ToolRun::Of(SendTool(), "morvik-send", std::move(args), in);
}

// Every byte value but the carriage return, then the carriage return.
std::string AllBytes() {
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        if (b != '\r')
            bytes += static_cast<char>(b);
    return bytes + '\r';
}

// A device that answers as the table says and notes what it was sent.
class Device {
public:
    Device() {
        m_dev.StartResponder([this](const std::string& command) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_received += command;
            const auto it = m_replies.find(command.substr(0, command.size() - 1));
            return it == m_replies.end() ? std::string("OK\r") : it->second;
        });
    }
    std::string Received() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }
    PtyDevice& Pty() { return m_dev; }

private:
    std::map<std::string, std::string> m_replies = {
        {"*IDN?", "MORVIK,SIM-1\r"},
        {"CRLF", "OK\r\n"},
        {"SPACES", " \t \r"},
        {"NUL", std::string("A\0B\r", 4)},
        {"HIGH", std::string("\0\x7f\x80\xc3\xa9\xff\r", 7)},
        {"FIRSTCR", "\r\nOK\r\n"},
        {"PARTIAL", "abc  "},
        {"SILENT", ""},
        {"ALL", AllBytes()},
        {"FLOOD", std::string(70000, 'x')},
    };
    PtyDevice m_dev{1};
    std::mutex m_mutex;
    std::string m_received;
};

// A JSON object's "ms" is how long the exchange took: replaced by T.
std::string WithoutTimes(std::string json) {
    const std::string key = "\"ms\":";
    for (std::size_t at = json.find(key); at != std::string::npos; at = json.find(key, at + 1)) {
        const std::size_t from = at + key.size();
        json.replace(from, json.find_first_not_of("0123456789.", from) - from, "T");
    }
    return json;
}

TEST(SendTool, PrintsEachReplyAsTheDialogListsItAndSaysWhetherAllCame) {
    Device device;
    const struct {
        std::vector<const char*> args;
        std::string input;
        int status;
        std::string out;
    } cases[] = {
        {{"*IDN?", "CRLF"}, "", 0, "MORVIK,SIM-1\nOK\n"},
        {{"--timeout", "100", "SPACES", "*IDN?"}, "", 1, "Serial Error\nMORVIK,SIM-1\n"},
        {{"NUL", "FIRSTCR"}, "", 1, "AB\nSerial Error\n"},
        {{"--timeout", "100", "PARTIAL", "SILENT"}, "", 1, "abc\nSerial Error\n"},
        // Without commands the lines of the input, a CR LF line end counted as a line end and
        // an empty line sending the carriage return alone; an argument is sent as it is.
        {{}, "*IDN?\r\nCRLF\n\nECHO\n", 0, "MORVIK,SIM-1\nOK\nOK\nOK\n"},
        {{"--", "--raw"}, "", 0, "OK\n"},
        {{"--raw", "NUL", "FIRSTCR", "SPACES"}, "", 1, "A\\x00B\\r\n\\r\n \\t \\r\n"},
        {{"HIGH"}, "", 0, "\x7f\x80\xc3\xa9\xff\n"},
        {{"--raw", "--timeout=100", "CRLF", "HIGH", "PARTIAL", "SILENT"},
         "",
         1,
         "OK\\r\n\\x00\\x7f\\x80\\xc3\\xa9\\xff\\r\nabc  \n\n"},
        {{"--json", "HIGH"},
         "",
         0,
         "{\"command\":\"HIGH\",\"reply\":\"\\u0000\\u007f\\u0080\\u00c3\\u00a9\\u00ff\\r\","
         "\"bytes\":7,\"ms\":T,\"ended\":\"terminator\"}\n"},
        {{"--json", "--timeout=100", "CRLF", "PARTIAL", "SILENT", "ECHO \"\\"},
         "",
         1,
         "{\"command\":\"CRLF\",\"reply\":\"OK\\r\",\"bytes\":3,\"ms\":T,\"ended\":\"terminator\"}"
         "\n"
         "{\"command\":\"PARTIAL\",\"reply\":\"abc  "
         "\",\"bytes\":5,\"ms\":T,\"ended\":\"silence\"}\n"
         "{\"command\":\"SILENT\",\"reply\":\"\",\"bytes\":0,\"ms\":T,\"ended\":\"silence\"}\n"
         "{\"command\":\"ECHO \\\"\\\\\",\"reply\":\"OK\\r\",\"bytes\":3,\"ms\":T,\"ended\":"
         "\"terminator\"}\n"},
        // The class's cap on a reply's size; the rest of the flood is discarded before the next.
        {{"--json", "FLOOD", "CRLF"},
         "",
         0,
         "{\"command\":\"FLOOD\",\"reply\":\"" + std::string(65536, 'x') +
             "\",\"bytes\":65536,\"ms\":T,\"ended\":\"cap\"}\n{\"command\":\"CRLF\",\"reply\":"
             "\"OK\\r\",\"bytes\":3,\"ms\":T,\"ended\":\"terminator\"}\n"},
        {{"--raw", "FLOOD", "CRLF"}, "", 0, std::string(65536, 'x') + "\nOK\\r\n"},
    };
    for (const auto& c : cases) {
        const ToolRun r = RunSend(c.args, c.input);
        const std::string what = c.args.empty() ? c.input : c.args.back();
        EXPECT_EQ(c.status, r.status) << what;
        EXPECT_EQ(c.out, WithoutTimes(r.out)) << what;
        EXPECT_EQ("", r.err) << what;
    }
    EXPECT_NE(std::string::npos, device.Received().find("*IDN?\rCRLF\r\rECHO\r--raw\r"));
}

// A NUL byte cannot be part of a command: the line holding one is refused whole, with what came
// before it sent and nothing after.
TEST(SendTool, ACommandWithANulByteIsRefusedNotCut) {
    Device device;
    const ToolRun r = RunSend({}, std::string("ECHO a\nECHO b\0c\nECHO d\n", 23));
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("OK\n", r.out);
    EXPECT_EQ("morvik-send: line 2 of the input holds a NUL byte, which a command cannot; it was "
              "not sent\n",
              r.err);
    EXPECT_EQ("ECHO a\r", device.Received());
}

// The line hangs up once the command has come: that reply fails, and so does every later one.
TEST(SendTool, RepliesOnAHungUpLineFail) {
    const struct {
        std::vector<const char*> args;
        std::string out;
    } cases[] = {
        {{"A", "B"}, "Serial Error\nSerial Error\n"},
        {{"--raw", "A", "B"}, "\n\n"},
        {{"--json", "A", "B"},
         "{\"command\":\"A\",\"reply\":\"\",\"bytes\":0,\"ms\":T,\"ended\":\"failed\"}\n"
         "{\"command\":\"B\",\"reply\":\"\",\"bytes\":0,\"ms\":T,\"ended\":\"failed\"}\n"},
    };
    for (const auto& c : cases) {
        PtyDevice dev(1);
        auto run = std::async(std::launch::async, [&c] { return RunSend(c.args); });
        EXPECT_EQ("A\r", dev.ReadUntil('\r', 5000)) << c.out;
        dev.HangUp();
        const ToolRun r = run.get();
        EXPECT_EQ(1, r.status) << c.out;
        EXPECT_EQ(c.out, WithoutTimes(r.out));
        EXPECT_EQ("", r.err) << c.out;
    }
}

// Escaped, every byte value can be told from every other and had back.
TEST(SendTool, RawShowsEveryByteValueSoThatItCanBeHadBack) {
    Device device;
    const ToolRun r = RunSend({"--raw", "ALL"});
    ASSERT_EQ(0, r.status);
    ASSERT_EQ('\n', r.out.back());
    std::string back;
    const std::string& text = r.out;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        ASSERT_TRUE(text[i] >= 0x20 && text[i] < 0x7f) << i;
        if (text[i] != '\\') {
            back += text[i];
            continue;
        }
        const char kind = text[++i];
        if (kind == 'x') {
            back += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            back += kind == 'r' ? '\r' : kind == 'n' ? '\n' : kind == 't' ? '\t' : kind;
        }
    }
    EXPECT_EQ(AllBytes(), back);
    EXPECT_EQ(0u, r.out.find("\\x00\\x01")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("\\x08\\t\\n\\x0b\\x0c\\x0e"));
    EXPECT_NE(std::string::npos, r.out.find("}~\\x7f\\x80"));
    EXPECT_NE(std::string::npos, r.out.find("\\xfe\\xff\\r\n"));
}

TEST(SendTool, ASilenceEndsAReplyAfterTheTimeoutGiven) {
    Device device;
    for (const int ms : {100, 1000}) {
        std::vector<const char*> args = {"SILENT"};
        const std::string timeout = std::to_string(ms);
        if (ms != 1000)
            args.insert(args.begin(), {"--timeout", timeout.c_str()});
        const auto start = Clock::now();
        const ToolRun r = RunSend(args);
        const auto took = Clock::now() - start;
        EXPECT_EQ(1, r.status);
        EXPECT_GE(took, std::chrono::milliseconds(ms - 5)) << ms;
        EXPECT_LT(took, std::chrono::milliseconds(ms + 500)) << ms;
    }
}

TEST(SendTool, TheLineSettingsByName) {
    PtyDevice dev(1);
    dev.StartResponder([&](const std::string&) {
        const termios tio = SettingsOf(dev.MasterFd());
        return std::to_string(cfgetospeed(&tio) == B57600) + "\r";
    });
    const ToolRun r = RunSend({"--baud", "57600", "--parity", "even", "--data-bits", "5",
                               "--stop-bits", "1.5", "SPEED?"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("1\n", r.out);
}

// Port N's profile file gives the line; the command line's options override it, and a device given
// by path has the default profile whatever the file of the port number it stands in for says.
TEST(SendTool, ThePortsProfileWithTheCommandLineOverIt) {
    PtyDevice dev(1);
    dev.StartResponder([&](const std::string&) {
        const termios tio = SettingsOf(dev.MasterFd());
        const std::map<speed_t, std::string> rates = {
            {B9600, "9600\r"}, {B19200, "19200\r"}, {B57600, "57600\r"}};
        const auto rate = rates.find(cfgetospeed(&tio));
        return rate == rates.end() ? std::string("other\r") : rate->second;
    });
    std::ofstream(dev.PortsFolder() + "/COM1.profile") << "baud = 57600\n";
    const std::string slave = dev.SlavePath();
    const struct {
        std::vector<const char*> args;
        std::string out;
    } cases[] = {
        {{"SPEED?"}, "57600\n"},
        {{"--port", "1", "--baud", "9600", "SPEED?"}, "9600\n"},
        {{"--baud=9600", "--baud", "57600", "SPEED?"}, "57600\n"},
        {{"--device", slave.c_str(), "SPEED?"}, "19200\n"},
    };
    for (const auto& c : cases) {
        const ToolRun r = RunSend(c.args);
        EXPECT_EQ(0, r.status) << c.out << r.err;
        EXPECT_EQ(c.out, r.out);
    }
    // 1.5 stop bits on the profile's 5 data bits; on the command line's 8 they are wrong.
    std::ofstream(dev.PortsFolder() + "/COM1.profile") << "data-bits = 5\nstop-bits = 1.5\n";
    EXPECT_EQ(0, RunSend({"SPEED?"}).status);
    const ToolRun r = RunSend({"--data-bits", "8", "SPEED?"});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("morvik-send: 1.5 stop bits go with 5 data bits only, not 8\nTry 'morvik-send "
              "--help' for more information.\n",
              r.err);
}

// A profile file that is wrong stops the run before the device is opened: the line keeps its
// settings, nothing is sent, and the reason names the file, the line and what.
TEST(SendTool, AWrongProfileFileOpensNothing) {
    PtyDevice dev(1);
    const SlaveView view(dev.SlavePath());
    const termios before = view.Settings();
    const std::string file = dev.PortsFolder() + "/COM1.profile";
    std::ofstream(file) << "# the meter\nbaud = 9600\nparity = marks\n";
    const ToolRun r = RunSend({"--baud", "19200", "*IDN?"});
    EXPECT_EQ(3, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("morvik-send: cannot open COM1: " + file +
                  ", line 3: the parity is none, odd, even, mark or space, not 'marks'\n",
              r.err);
    EXPECT_TRUE(SameSettings(before, view.Settings()));
    EXPECT_EQ("", dev.Read(200));
}

// A device by path goes through the checks of a port; a port that cannot be opened says why on
// one line, as the program does, and nothing is sent.
TEST(SendTool, StatusThreeWithTheReasonWhenThePortCannotBeOpened) {
    Device device;
    FakeMachine machine;
    const std::string slave = device.Pty().SlavePath();
    EXPECT_EQ(0, RunSend({"--device", slave.c_str(), "*IDN?"}).status);
    const std::string folder = device.Pty().PortsFolder();
    device.Pty().Link(2, "/dev/null");
    const struct {
        std::vector<const char*> args;
        std::string err;
    } cases[] = {
        {{"--port", "3", "*IDN?"},
         "cannot open COM3: no such device (no " + folder +
             "/COM3, and no 3rd serial port on this machine); fix: morvik-ports --assign 3 "
             "DEVICE"},
        {{"--port", "2", "*IDN?"},
         "cannot open COM2: " + folder +
             "/COM2 -> /dev/null: not a serial device; fix: morvik-ports --assign 2 DEVICE"},
        {{"--device", "/dev/null", "*IDN?"}, "cannot open /dev/null: not a serial device"},
        {{"--device", "/nonexistent/adapter"}, "cannot open /nonexistent/adapter: no such device"},
        // A name that would break the line, or act on the terminal, is shown escaped.
        {{"--device", "/nonexistent/a\nb\x1b[2J"},
         "cannot open /nonexistent/a\\x0ab\\x1b[2J: no such device"},
    };
    for (const auto& c : cases) {
        const ToolRun r = RunSend(c.args);
        EXPECT_EQ(3, r.status) << c.err;
        EXPECT_EQ("", r.out) << c.err;
        EXPECT_EQ("morvik-send: " + c.err + "\n", r.err);
    }
    // The device given for one run is forgotten after it: port 1 is the ports entry again.
    EXPECT_EQ(0, RunSend({"*IDN?"}).status);
    EXPECT_EQ("*IDN?\r*IDN?\r", device.Received());
}

TEST(SendTool, RefusesBadCommandLinesWithStatusTwo) {
    const struct {
        std::vector<const char*> args;
        std::string err;
    } cases[] = {
        {{"--port", "5"}, "the port number is 1 to 4, not '5'"},
        {{"--baud", "49"}, "the baud rate is 50 to 4000000, not '49'"},
        {{"--baud=4000001"}, "the baud rate is 50 to 4000000, not '4000001'"},
        {{"--parity", "marks"}, "the parity is none, odd, even, mark or space, not 'marks'"},
        {{"--data-bits", "9"}, "the data bits are 5, 6, 7 or 8, not '9'"},
        {{"--stop-bits", "3"}, "the stop bits are 1, 1.5 or 2, not '3'"},
        {{"--stop-bits", "1.5"}, "1.5 stop bits go with 5 data bits only, not 8"},
        {{"--reply-end=eol"}, "the reply end is cr, lf, crlf or any, not 'eol'"},
        {{"--timeout", "0"}, "the time-out is 1 to 30000 ms, not '0'"},
        {{"--timeout"}, "--timeout takes a value"},
        {{"--device="}, "--device takes a path"},
        {{"--port", "1", "--device", "/dev/ttyUSB0"}, "--port and --device exclude each other"},
        {{"--raw", "--json"}, "--raw and --json exclude each other"},
        {{"--help", "X"}, "'--help' takes no other arguments"},
        {{"X", "--verbose"}, "unknown option '--verbose'"},
        {{"--port", "5\r\n"}, "the port number is 1 to 4, not '5\\x0d\\x0a'"},
    };
    for (const auto& c : cases) {
        const ToolRun r = RunSend(c.args);
        EXPECT_EQ(2, r.status) << c.err;
        EXPECT_EQ("", r.out) << c.err;
        EXPECT_EQ("morvik-send: " + c.err + "\nTry 'morvik-send --help' for more information.\n",
                  r.err);
    }
    EXPECT_EQ(0u, RunSend({"--help"}).out.find("Usage: morvik-send "));
    EXPECT_EQ(std::string("morvik-send ") + MORVIK_VERSION + "\n", RunSend({"--version"}).out);
}

// The installed program, with pipes on its standard input and output: as a program that writes
// a command at a time and waits for each reply drives it.
TEST(SendToolProgram, AnswersEachLineOfItsInputAsItComes) {
    Device device;
    ChildProcess send({MORVIK_SEND, "--port", "1"}, {ChildProcess::Pipe, ChildProcess::Pipe});
    EXPECT_TRUE(send.Write("*IDN?\n"));
    EXPECT_EQ("MORVIK,SIM-1", send.ReadLine(5000));
    EXPECT_TRUE(send.Write("CRLF\n"));
    EXPECT_EQ("OK", send.ReadLine(5000));
    send.CloseIn();
    const int status = send.Wait(5000);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}

// Ctrl+C, a request to end, or a reader that went away while a reply is awaited: the program
// ends as the signal ends a program, with the line's settings put back and the line let go.
TEST(SendToolProgram, AnEndingSignalDuringAReadPutsTheLineBackAndLetsItGo) {
    for (const int sig : {SIGINT, SIGTERM, SIGPIPE}) {
        PtyDevice dev(1);
        const SlaveView view(dev.SlavePath());
        const termios before = view.Settings();
        ChildProcess send({MORVIK_SEND, "--port", "1", "--timeout", "30000", "WAIT"},
                          {ChildProcess::Pipe, ChildProcess::Pipe});
        ASSERT_EQ("WAIT\r", dev.ReadUntil('\r', 5000)) << strsignal(sig);
        EXPECT_FALSE(SameSettings(before, view.Settings())) << strsignal(sig);
        EXPECT_TRUE(view.Exclusive()) << strsignal(sig);
        if (sig == SIGPIPE) {
            send.CloseOut();
            dev.Write("OK\r");
        } else {
            send.Signal(sig);
        }
        const int status = send.Wait(3000);
        ASSERT_TRUE(WIFSIGNALED(status)) << strsignal(sig) << " " << status;
        EXPECT_EQ(sig, WTERMSIG(status));
        EXPECT_TRUE(SameSettings(before, view.Settings())) << strsignal(sig);
        EXPECT_FALSE(view.Exclusive()) << strsignal(sig);
        EXPECT_EQ(0, flock(view.Fd(), LOCK_EX | LOCK_NB)) << strsignal(sig);
    }
}

} // namespace
