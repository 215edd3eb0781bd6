#include "serial/SerialPort.h"
#include "serial/TelnetCodec.h"
#include "serial/comm.h"
#include "tests/Files.h"
#include "tests/PortTesting.h"
#include "tests/RemoteServers.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/PtyDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string LastMessage() {
    return static_cast<const char*>(CommErrorMessage());
}

// Answers like the simulated device's acceptance commands: an identity, a value, an error.
std::string Device(const std::string& command) {
    if (command == "*IDN?\r")
        return "MORVIK,SIM,0,1.0\r";
    if (command == "MEAS?\r")
        return "+1.2345E+00\r";
    return "ERR " + command.substr(0, command.size() - 1) + "\r";
}

// A server in front of the pseudo-terminal dev, linked as COM2: ser2net by RFC 2217 or raw TCP,
// or PortManager.
enum class Kind { Ser2netTelnet, Ser2netRaw, PortManager };

struct Served {
    std::unique_ptr<Ser2net> ser2net;
    std::unique_ptr<PortManagerServer> manager;
    std::string url;
};

// The server in front of device; COM2 in dev's ports folder names it. Empty url when the
// server cannot run here (the test is skipped).
Served Serve(Kind kind, const std::string& device, PtyDevice& dev) {
    Served s;
    if (kind == Kind::PortManager) {
        s.manager = std::make_unique<PortManagerServer>(device);
        if (s.manager->Ok())
            s.url = s.manager->Url();
    } else if (!Ser2net::Binary().empty()) {
        s.ser2net = std::make_unique<Ser2net>(device, kind == Kind::Ser2netTelnet);
        if (s.ser2net->Ok())
            s.url = s.ser2net->Url();
    }
    if (!s.url.empty())
        dev.Link(2, s.url);
    return s;
}

Served Serve(Kind kind, PtyDevice& dev) {
    return Serve(kind, dev.SlavePath(), dev);
}

const char* Name(Kind k) {
    return k == Kind::Ser2netTelnet ? "ser2net rfc2217"
                                    : (k == Kind::Ser2netRaw ? "ser2net raw" : "PortManager");
}

// COM2 open through the server, in front of the pseudo-terminal dev.
class ThroughServer : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        served = Serve(GetParam(), dev);
        if (served.url.empty())
            GTEST_SKIP() << Name(GetParam()) << " cannot run here";
        ASSERT_TRUE(OpenStandard(port, 2)) << LastMessage();
    }
    PtyDevice dev{1};
    Served served;
    CSerialPort port;
};

TEST_P(ThroughServer, ExchangesAsOnALocalLine) {
    dev.StartResponder(Device);
    for (int round = 0; round < 3; ++round) {
        for (const char* command : {"*IDN?", "MEAS?", "BOGUS"}) {
            CString reply;
            port.Exchange(command, reply);
            EXPECT_EQ(Device(std::string(command) + "\r"), static_cast<const char*>(reply))
                << Name(GetParam()) << " " << command;
            EXPECT_EQ(SerialReply::Ending::Terminator, port.LastReply().ending);
        }
    }
}

TEST_P(ThroughServer, CarriesEveryByteBothWays) {
    const std::string all = EveryByte();
    DWORD written = 0;
    ASSERT_TRUE(CommWrite(port.m_hPort, all.data(), static_cast<DWORD>(all.size()), &written));
    EXPECT_EQ(all.size(), written);
    EXPECT_EQ(all, dev.Read(3000, 300)) << Name(GetParam());

    dev.Write(all + all);
    std::string got;
    const auto start = Clock::now();
    while (got.size() < 2 * all.size() && MsSince(start) < 3000) {
        char buf[600];
        DWORD n = 0;
        ASSERT_TRUE(CommRead(port.m_hPort, buf, sizeof buf, &n));
        got.append(buf, n);
    }
    EXPECT_EQ(all + all, got) << Name(GetParam());
}

TEST_P(ThroughServer, PurgeDropsStaleBytesAlreadyOnTheirWay) {
    // A raw socket's server sets the line up in its own time, with nothing to answer: until
    // then the pseudo-terminal would echo what the device says.
    if (GetParam() == Kind::Ser2netRaw)
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    // Talk nobody asked for, some of it still in the server when the purge goes.
    dev.Write("STALE1\r");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    dev.Write("STALE2\r");
    // A raw socket has no purge to send: only what has arrived can be dropped. PortManager
    // forwards the device's bytes from a thread of its own, which may send what it read before
    // the purge after the purge's acknowledgement: in flight, only ser2net's purge holds.
    if (GetParam() != Kind::Ser2netTelnet)
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    dev.StartResponder(Device);
    CString reply;
    port.Exchange("*IDN?", reply);
    EXPECT_EQ("MORVIK,SIM,0,1.0\r", std::string(static_cast<const char*>(reply)))
        << Name(GetParam());
}

// The simulated device's acceptance commands, as the dialog sends them, through the server.
// Raw TCP makes the same exchange with no purge: the RFC 2217 servers show it.
class ThroughRfc2217Server : public ::testing::TestWithParam<Kind> {};

TEST_P(ThroughRfc2217Server, TheSimulatedDevicesCommandsAnswerAsOnALocalLine) {
    PtyDevice dev(8); // the private ports folder
    ChildProcess device({MORVIK_SIMDEVICE, "--port", "1", "--ports", dev.PortsFolder()},
                        {{}, ChildProcess::Pipe});
    ASSERT_NE(std::string::npos, device.ReadLine(5000).find("simulated device on COM1"));
    const std::string slave = LinkOf(dev.PortsFolder() + "/COM1");
    ASSERT_FALSE(slave.empty());
    const Served s = Serve(GetParam(), slave, dev);
    if (s.url.empty())
        GTEST_SKIP() << Name(GetParam()) << " cannot run here";
    CSerialPort port;
    ASSERT_TRUE(OpenStandard(port, 2)) << LastMessage();
    struct Case {
        const char* command;
        std::string bytes;
        SerialReply::Ending ending;
    };
    const Case cases[] = {
        {"*IDN?", "MORVIK,SIM-1,0001,1.0\r", SerialReply::Ending::Terminator},
        {"ECHO a\xff\xff"
         "b\x01",
         "a\xff\xff"
         "b\x01\r",
         SerialReply::Ending::Terminator},
        {"DELAY 300", "DONE\r", SerialReply::Ending::Terminator},
        // The LF after the CR stays behind; the next purge drops it.
        {"CRLF", "OK\r", SerialReply::Ending::Terminator},
        {"SILENT", "", SerialReply::Ending::Silence},
        {"ANYTHING", "OK\r", SerialReply::Ending::Terminator},
        {"*IDN?", "MORVIK,SIM-1,0001,1.0\r", SerialReply::Ending::Terminator},
    };
    for (const Case& c : cases) {
        CString reply;
        port.Exchange(c.command, reply);
        EXPECT_EQ(c.bytes, port.LastReply().bytes) << Name(GetParam()) << " " << c.command;
        EXPECT_EQ(c.ending, port.LastReply().ending) << Name(GetParam()) << " " << c.command;
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, ThroughRfc2217Server,
                         ::testing::Values(Kind::Ser2netTelnet, Kind::PortManager));
INSTANTIATE_TEST_SUITE_P(Servers, ThroughServer,
                         ::testing::Values(Kind::Ser2netTelnet, Kind::Ser2netRaw,
                                           Kind::PortManager));

TEST(RemotePort, AsksTheServerForDtrOff) {
    PtyDevice dev(1);
    const Served s = Serve(Kind::PortManager, dev);
    if (s.url.empty())
        GTEST_SKIP() << "PortManager cannot run here";
    CSerialPort port;
    ASSERT_TRUE(OpenStandard(port, 2)) << LastMessage();
    // SET-CONTROL is not waited for: an exchange after it shows the server took it.
    dev.StartResponder(Device);
    CString reply;
    port.Exchange("*IDN?", reply);
    EXPECT_NE(std::string::npos, s.manager->DtrRecord().find("off")) << s.manager->DtrRecord();
}

TEST(RemotePort, SaysWhatSer2netSaysWhenItCannotServe) {
    PtyDevice dev(1);
    if (Ser2net::Binary().empty())
        GTEST_SKIP() << "no unpacked ser2net";
    // A device that is not there: ser2net binds, then tells the client and closes.
    Ser2net missing("/nonexistent/ttyNone");
    ASSERT_TRUE(missing.Ok());
    dev.Link(3, missing.Url());
    CSerialPort port;
    EXPECT_FALSE(OpenStandard(port, 3));
    EXPECT_EQ(COMM_ERROR_SERVER, CommGetLastError());
    EXPECT_NE(std::string::npos, LastMessage().find("Device open failure")) << LastMessage();

    // A port held by somebody else, without kickolduser.
    Ser2net held(dev.SlavePath(), true, false);
    ASSERT_TRUE(held.Ok());
    dev.Link(2, held.Url());
    CSerialPort first, second;
    ASSERT_TRUE(OpenStandard(first, 2)) << LastMessage();
    EXPECT_FALSE(OpenStandard(second, 2));
    EXPECT_NE(std::string::npos, LastMessage().find("Port already in use")) << LastMessage();
}

// A server that takes the line's settings as RFC 2217 says and acknowledges each with the value
// asked for (the baud rate with 9600 when slowRate); a purge it acknowledges right after a
// device's stale line, in the same write; a command gets "FRESH".
std::string Acks(const std::string& chunk, bool slowRate) {
    std::string out;
    if (chunk.find('\r') != std::string::npos)
        return "FRESH\r";
    for (std::size_t i = 0; i + 2 < chunk.size(); ++i) {
        const auto c = [&](std::size_t at) { return static_cast<unsigned char>(chunk[at]); };
        if (c(i) != TelnetCodec::kIac)
            continue;
        if (c(i + 1) == TelnetCodec::kWill)
            out += TelnetCodec::Negotiation(TelnetCodec::kDo, c(i + 2));
        if (c(i + 1) == TelnetCodec::kSb && c(i + 2) == 44 && i + 3 < chunk.size()) {
            const std::size_t end = chunk.find("\xff\xf0", i);
            std::string value = chunk.substr(i + 4, end - i - 4);
            if (c(i + 3) == 1 && slowRate)
                value = std::string("\x00\x00\x25\x80", 4);
            if (c(i + 3) == 12)
                out += "STALE\r";
            out += TelnetCodec::Subnegotiation(
                44, std::string(1, static_cast<char>(c(i + 3) + 100)) + value);
        }
    }
    return out;
}

std::string AckSlowRate(const std::string& chunk) {
    return Acks(chunk, true);
}

std::string AckAll(const std::string& chunk) {
    return Acks(chunk, false);
}

// What came before the purge's acknowledgement is dropped even when it came in the same
// segment; what comes after it is the reply.
TEST(RemotePort, PurgeDropsWhatCameBeforeItsAcknowledgementInTheSameSegment) {
    PtyDevice dev(1);
    ScriptedServer server("", AckAll);
    dev.Link(2, server.Url());
    CSerialPort port;
    ASSERT_TRUE(OpenStandard(port, 2)) << LastMessage();
    CString reply;
    port.Exchange("MEAS?", reply);
    EXPECT_EQ("FRESH\r", port.LastReply().bytes);
}

std::string Silent(const std::string&) {
    return "";
}

// The bytes of an IAC, as text.
const std::string kIac(1, '\xff');

TEST(RemotePort, EndsWithinItsTimeOutWithAReasonWhateverTheServerDoes) {
    struct Case {
        const char* what;
        std::string greeting;
        std::string (*answer)(const std::string&);
        bool endless;
        const char* reason;
    };
    std::string overlong = kIac + "\xfa\x2c" + std::string(2000, 'x') + kIac + "\xf0";
    const Case cases[] = {
        {"negotiates for ever", kIac + "\xfb\x01" + kIac + "\xfc\x01", Silent, true,
         "negotiates without end"},
        {"an overlong subnegotiation", overlong, Silent, false, "longer than"},
        {"never answers", "", Silent, false, "no answer from the server within 3 s"},
        {"an HTTP server", "HTTP/1.0 400 Bad Request\r\n\r\n", Silent, false,
         "no answer from the server"},
        {"a different rate", "", AckSlowRate, false, "runs 9600 baud, not the 19200"},
        {"refuses COM-PORT-OPTION", kIac + "\xfe\x2c", Silent, false, "COM-PORT-OPTION"},
    };
    PtyDevice dev(1);
    for (const Case& c : cases) {
        ScriptedServer server(c.greeting, c.answer, c.endless);
        dev.Link(2, server.Url());
        CSerialPort port;
        const auto start = Clock::now();
        EXPECT_FALSE(OpenStandard(port, 2)) << c.what;
        EXPECT_LT(MsSince(start), 4500) << c.what;
        EXPECT_NE(std::string::npos, LastMessage().find(c.reason))
            << c.what << ": " << LastMessage();
    }
}

TEST(RemotePort, NothingListeningAndNoSuchNameFailWithinTheConnectTimeOut) {
    PtyDevice dev(1);
    struct Case {
        std::string url;
        DWORD code;
        const char* reason;
    };
    const Case cases[] = {
        {"rfc2217://127.0.0.1:" + std::to_string(FreeTcpPort()), COMM_ERROR_CONNECT,
         "nothing listens at 127.0.0.1:"},
        {"socket://[::1]:" + std::to_string(FreeTcpPort()), COMM_ERROR_CONNECT, "[::1]:"},
        {"rfc2217://no-such-host.invalid:2217", COMM_ERROR_RESOLVE, "no-such-host.invalid"},
        {"rfc2217://127.0.0.1", COMM_ERROR_ADDRESS, "the port number is missing"},
        {"telnet://127.0.0.1:23", COMM_ERROR_ADDRESS, "unknown scheme 'telnet'"},
        {"rfc2217://[fe80::1:2217", COMM_ERROR_ADDRESS, "closing ']'"},
        {"socket://host:99999", COMM_ERROR_ADDRESS, "1 to 65535"},
    };
    for (const Case& c : cases) {
        dev.Link(2, c.url);
        CSerialPort port;
        const auto start = Clock::now();
        EXPECT_FALSE(OpenStandard(port, 2)) << c.url;
        EXPECT_LT(MsSince(start), 2500) << c.url;
        EXPECT_EQ(c.code, CommGetLastError()) << c.url;
        EXPECT_NE(std::string::npos, LastMessage().find(c.reason))
            << c.url << ": " << LastMessage();
    }
}

// What the server sends, then closes: after part of a reply.
std::string CloseMidReply(const std::string& chunk) {
    return chunk.find('\r') == std::string::npos ? "" : "PARTIAL<close>";
}

TEST(RemotePort, AServerThatClosesMidReplyIsADeviceGone) {
    PtyDevice dev(1);
    ScriptedServer server("", CloseMidReply, false, "socket");
    dev.Link(2, server.Url());
    CSerialPort port;
    ASSERT_TRUE(OpenStandard(port, 2)) << LastMessage();
    CString reply;
    const auto start = Clock::now();
    port.Exchange("MEAS?", reply);
    EXPECT_LT(MsSince(start), 900);
    EXPECT_EQ(SerialReply::Ending::Gone, port.LastReply().ending);
    EXPECT_EQ("PARTIAL", port.LastReply().bytes);
    EXPECT_NE(std::string::npos,
              std::string(static_cast<const char*>(CommGoneMessage(port.m_hPort)))
                  .find("COM2: the server closed the connection: socket://127.0.0.1:"));
}

// The decoder keeps its place between chunks: a stream cut anywhere reads as the whole does.
TEST(TelnetCodec, ReadsAStreamCutAnywhereAsTheWhole) {
    const std::string stream = "ab" + kIac + kIac + "c" + kIac + "\xfb\x03" + "d" + kIac +
                               "\xfa\x2c\x65" + kIac + kIac + "\x01" + kIac + "\xf0" + "e" + kIac +
                               "\xf1" + "f";
    const unsigned char* in = reinterpret_cast<const unsigned char*>(stream.data());
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        TelnetCodec codec;
        std::vector<TelnetCodec::Event> events;
        unsigned char out[64];
        std::size_t n = codec.Decode(in, cut, out, &events);
        n += codec.Decode(in + cut, stream.size() - cut, out + n, &events);
        EXPECT_EQ("ab\xff"
                  "cdef",
                  std::string(reinterpret_cast<char*>(out), n))
            << cut;
        ASSERT_EQ(2u, events.size()) << cut;
        EXPECT_EQ(TelnetCodec::kWill, events[0].verb);
        EXPECT_EQ(3, events[0].option);
        EXPECT_EQ(44, events[1].option);
        EXPECT_EQ(std::string("\x65\xff\x01"), events[1].payload) << cut;
    }
    std::string escaped;
    const std::string all = EveryByte();
    TelnetCodec::AppendEscaped(reinterpret_cast<const unsigned char*>(all.data()), all.size(),
                               &escaped);
    EXPECT_EQ(all + kIac, escaped);
}

} // namespace
