#include "cli/SendTool.h"
#include "tests/FakeMachine.h"
#include "tests/SlaveView.h"
#include "tests/ToolRun.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/PtyDevice.h"
#include "testsupport/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cctype>
#include <csignal>
#include <ctime>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
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
        {"UTF8", "25.0 \u00b0C \u00b5A \u03a9\r"},
        {"W1252", "25.0 \xb0\x43 \xb5\x41 \x80\r"}, // "25.0 °C µA €"
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
        // Not UTF-8 (a lone 0x80): Windows-1252, printed in UTF-8.
        {{"HIGH"}, "", 0, "\x7f\u20ac\u00c3\u00a9\u00ff\n"},
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

// The line hangs up once the command has come (the device was killed): that reply is listed,
// the device's going is said once, and nothing more is sent.
TEST(SendTool, ADeviceThatWentAwayIsSaidOnceAndEndsWithStatusFour) {
    const struct {
        std::vector<const char*> args;
        std::string out;
    } cases[] = {
        {{"A", "B"}, "Serial Error\n"},
        {{"--raw", "A", "B"}, "\n"},
        {{"--hex", "A", "B"}, "\n"},
        {{"--json", "A", "B"},
         "{\"command\":\"A\",\"reply\":\"\",\"bytes\":0,\"ms\":T,\"ended\":\"gone\"}\n"},
        {{"--device", "SLAVE", "A", "B"}, "Serial Error\n"},
    };
    for (const auto& c : cases) {
        PtyDevice dev(1);
        std::vector<const char*> args = c.args;
        if (std::string(args[0]) == "--device")
            args[1] = dev.SlavePath().c_str();
        auto run = std::async(std::launch::async, [&args] { return RunSend(args); });
        EXPECT_EQ("A\r", dev.ReadUntil('\r', 5000)) << c.out;
        dev.HangUp();
        const ToolRun r = run.get();
        EXPECT_EQ(4, r.status) << c.out;
        EXPECT_EQ(c.out, WithoutTimes(r.out));
        const std::string port = args[0] == std::string("--device") ? "" : "COM1: ";
        EXPECT_EQ("morvik-send: " + port + "the device went away: " + dev.SlavePath() + "\n",
                  r.err);
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

// A device that ends replies with CR LF and writes the LF a moment after the CR, as a UART
// delivers it: fifty commands from a pipe, fifty replies in step, in either output.
TEST(SendTool, ACrLfDeviceThatWritesTheLfLaterStaysInStep) {
    PtyDevice dev(1);
    dev.StartResponder([&dev](const std::string& command) {
        // Between the runs the line is back in the kernel's default mode, which echoes a late LF
        // as CR LF: no command, and no part of the next one.
        const std::size_t at = command.find("ECHO ");
        if (at == std::string::npos)
            return std::string();
        dev.Write(command.substr(at + 5, command.size() - at - 6) + "\r"); // "n\r"
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return std::string("\n");
    });
    std::string input, lines, json;
    for (int i = 0; i < 50; ++i) {
        const std::string n = std::to_string(i);
        input += "ECHO " + n + "\n";
        lines += n + "\n";
        json += "{\"command\":\"ECHO " + n + "\",\"reply\":\"" + n +
                "\\r\",\"bytes\":" + std::to_string(n.size() + 1) +
                ",\"ms\":T,\"ended\":\"terminator\"}\n";
    }
    const ToolRun r = RunSend({}, input);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(lines, r.out);
    const ToolRun j = RunSend({"--json"}, input);
    EXPECT_EQ(0, j.status);
    EXPECT_EQ(json, WithoutTimes(j.out));
}

TEST(SendTool, AReplyLaterThanASecondComesWithinALongerTimeout) {
    PtyDevice dev(1);
    dev.StartResponder([](const std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2000));
        return std::string("DONE\r");
    });
    const ToolRun r = RunSend({"--timeout", "3000", "DELAY 2000"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("DONE\n", r.out);
}

// The listed line is the reply as text, printed in UTF-8 as the dialog lists it: UTF-8 where the
// reply is UTF-8 with a multi-byte character in it, else Windows-1252. The other outputs show
// the bytes as they came.
TEST(SendTool, RepliesArePrintedAsTextByTheEncodingRule) {
    Device device;
    const struct {
        std::vector<const char*> args;
        std::string out;
    } cases[] = {
        {{"UTF8", "W1252"}, "25.0 \u00b0C \u00b5A \u03a9\n25.0 \u00b0C \u00b5A \u20ac\n"},
        {{"--raw", "UTF8", "W1252"},
         "25.0 \\xc2\\xb0C \\xc2\\xb5A \\xce\\xa9\\r\n25.0 \\xb0C \\xb5A \\x80\\r\n"},
        {{"--hex", "W1252", "CRLF"}, "32 35 2e 30 20 b0 43 20 b5 41 20 80 0d\n4f 4b 0d\n"},
        // Told the encoding: a byte that is no UTF-8 is U+FFFD; UTF-8 read as Windows-1252.
        {{"--encoding", "utf-8", "W1252"}, "25.0 \ufffdC \ufffdA \ufffd\n"},
        {{"--encoding=windows-1252", "UTF8"}, "25.0 \u00c2\u00b0C \u00c2\u00b5A \u00ce\u00a9\n"},
    };
    for (const auto& c : cases) {
        const ToolRun r = RunSend(c.args);
        EXPECT_EQ(0, r.status) << c.out;
        EXPECT_EQ(c.out, r.out);
    }
}

// Under the default encoding commands go out in Windows-1252. A command that holds a character
// Windows-1252 lacks is not sent, and none of the others given with it; from the input, the
// lines before it were. What is not UTF-8 text is sent as it was given.
TEST(SendTool, ACommandTheEncodingCannotCarryIsNotSent) {
    Device device;
    ToolRun r = RunSend({"ECHO \u00e9", "ECHO \u03a9"});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("morvik-send: cannot send 'ECHO \u03a9': U+03A9 \u03a9 is not in windows-1252\n",
              r.err);
    EXPECT_EQ("", device.Received());

    r = RunSend({}, "ECHO \u00e9\nECHO \u2713\nECHO x\n");
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("OK\n", r.out);
    EXPECT_EQ("morvik-send: cannot send 'ECHO \u2713': U+2713 \u2713 is not in windows-1252\n",
              r.err);
    EXPECT_EQ("ECHO \xe9\r", device.Received());

    EXPECT_EQ(0, RunSend({"ECHO \xb0"}).status);
    EXPECT_EQ(0, RunSend({"--encoding", "utf-8", "ECHO \u03a9"}).status);
    EXPECT_EQ("ECHO \xe9\rECHO \xb0\rECHO \u03a9\r", device.Received());
}

// An instrument that takes and gives LF-ended lines: told so, ten commands take well under a
// second (each waited out the second's silence before).
TEST(SendTool, AnLfDeviceAnswersAtOnceWithItsEnds) {
    PtyDevice dev(1);
    dev.StartResponder([](const std::string& command) { return "V" + command; }, '\n');
    std::string input, lines;
    for (int i = 0; i < 10; ++i) {
        input += "MEAS" + std::to_string(i) + "?\n";
        lines += "VMEAS" + std::to_string(i) + "?\n";
    }
    const auto start = Clock::now();
    const ToolRun r = RunSend({"--command-end", "lf", "--reply-end", "lf"}, input);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(lines, r.out);
}

TEST(SendTool, ALogOfEachExchange) {
    Device device;
    const TempFolder folder;
    const std::string log = folder / "exchanges.tsv";
    ToolRun r = RunSend({"--log", log.c_str(), "CRLF", "NUL"});
    EXPECT_EQ(0, r.status) << r.err;
    const std::string option = "--log=" + log;
    r = RunSend({option.c_str(), "--timeout", "100", "SILENT"}); // appended
    EXPECT_EQ(1, r.status);

    // Each line: the local time to the millisecond as ISO 8601 writes it, the command, the reply.
    const std::string shape = "0000-00-00T00:00:00.000+00:00";
    std::ifstream in(log);
    std::vector<std::string> fields;
    for (std::string text; std::getline(in, text);) {
        const std::size_t tab = text.find('\t'), tab2 = text.find('\t', tab + 1);
        ASSERT_EQ(shape.size(), tab) << text;
        for (std::size_t i = 0; i < tab; ++i)
            EXPECT_TRUE(shape[i] == '0'   ? std::isdigit(static_cast<unsigned char>(text[i]))
                        : shape[i] == '+' ? text[i] == '+' || text[i] == '-'
                                          : text[i] == shape[i])
                << text;
        ASSERT_NE(std::string::npos, tab2) << text;
        fields.push_back(text.substr(tab + 1, tab2 - tab - 1));
        fields.push_back(text.substr(tab2 + 1));
    }
    const std::vector<std::string> want = {"CRLF", "OK\\r", "NUL", "A\\x00B\\r", "SILENT", ""};
    EXPECT_EQ(want, fields);

    const std::string nowhere = folder / "no/such/folder.tsv";
    r = RunSend({"--log", nowhere.c_str(), "CRLF"});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("morvik-send: cannot open the log " + nowhere + ": No such file or directory\n",
              r.err);
    EXPECT_EQ("CRLF\rNUL\rSILENT\r", device.Received());
}

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// --wait: the port's device may come later, linked in the ports folder or plugged in as a
// machine port; the program sleeps until it is there, then opens it. If it never comes, status
// 3 with the reason once the time is up.
TEST(SendTool, WaitsForThePortsDeviceToAppear) {
    Device device; // linked as COM1 only
    FakeMachine machine;
    const std::string slave = device.Pty().SlavePath();
    const std::function<void()> appear[] = {
        [&] { device.Pty().Link(2, slave); },
        [&] {
            // As the kernel makes them: the class entry first, then the node.
            machine.AddTty("ttyUSB0");
            machine.AddNode("ttyUSB0", slave);
        },
    };
    const char* ports[] = {"2", "1"};
    for (int k = 0; k < 2; ++k) {
        if (k == 1) // port 1 is now the machine's first port, which is not there yet
            unlink((device.Pty().PortsFolder() + "/COM1").c_str());
        std::thread later([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            appear[k]();
        });
        const auto start = Clock::now();
        const double cpu = ThreadCpuMs();
        const ToolRun r = RunSend({"--wait", "10", "--port", ports[k], "*IDN?"});
        const auto took = Clock::now() - start;
        later.join();
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ("MORVIK,SIM-1\n", r.out);
        EXPECT_GE(took, std::chrono::milliseconds(250)) << k;
        EXPECT_LT(took, std::chrono::milliseconds(5000)) << k;
        EXPECT_LT(ThreadCpuMs() - cpu, 100) << k; // asleep, not polling
    }

    const auto start = Clock::now();
    const ToolRun r = RunSend({"--wait", "1", "--port", "3", "*IDN?"});
    const auto took = Clock::now() - start;
    EXPECT_EQ(3, r.status);
    EXPECT_EQ(0u, r.err.find("morvik-send: cannot open COM3: no such device")) << r.err;
    EXPECT_GE(took, std::chrono::milliseconds(950));
    EXPECT_LT(took, std::chrono::milliseconds(3000));
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
