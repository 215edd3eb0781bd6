// Cost of one short exchange (purge, command, reply) on a port on another machine: ser2net
// (unpacked into the build folder, chardelay off) in front of a pseudo-terminal whose peer
// answers at once, on loopback. CSerialPort through rfc2217:// against a bare socket client doing
// the same through the same server (its purge: PURGE-DATA and its acknowledgement, then the
// command and the reply), and pyserial's rfc2217:// client; contenders take turns in short
// rounds. Then 200 exchanges in one morvik-send, the program's start and end included.

#include "bench/BenchStats.h"
#include "serial/SerialPort.h"
#include "tests/RemoteServers.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/PtyDevice.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using bench::Clock;
using bench::Median;
using bench::Micros;

constexpr int kRounds = 40;
constexpr int kPerRound = 10;
const char kCommand[] = "READ 3\r";
const char kReply[] = "AB\r";

// The fewest calls that make the exchange by RFC 2217: the options offered once, then for each
// exchange PURGE-DATA and a wait for its acknowledgement, the command, and poll + recv until the
// reply's end.
class BareClient {
public:
    explicit BareClient(unsigned port) : m_fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        const int on = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return;
        const std::string offer("\xff\xfb\x00\xff\xfd\x00\xff\xfb\x03\xff\xfd\x03\xff\xfb\x2c", 15);
        m_ok = send(m_fd, offer.data(), offer.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(offer.size());
        // The server's side of the negotiation, and the device's open, before the first purge.
        std::string ignored;
        ReadUntil("\xff\xfd\x2c", &ignored);
        m_ok = m_ok && Exchange();
    }
    ~BareClient() {
        if (m_fd >= 0)
            close(m_fd);
    }
    BareClient(const BareClient&) = delete;
    BareClient& operator=(const BareClient&) = delete;
    bool Ok() const { return m_ok; }

    bool Exchange() {
        static const std::string purge("\xff\xfa\x2c\x0c\x01\xff\xf0", 7);
        static const std::string ack("\xff\xfa\x2c\x70\x01\xff\xf0", 7);
        std::string rest;
        if (send(m_fd, purge.data(), purge.size(), MSG_NOSIGNAL) != 7 || !ReadUntil(ack, &rest))
            return false;
        if (send(m_fd, kCommand, sizeof kCommand - 1, MSG_NOSIGNAL) !=
            static_cast<ssize_t>(sizeof kCommand - 1))
            return false;
        m_buffer = rest;
        return ReadUntil("\r", &rest) && m_got == kReply;
    }

private:
    // Reads until marker has come (3 s at most); what came before it is in m_got, after it in
    // *pRest.
    bool ReadUntil(const std::string& marker, std::string* pRest) {
        for (;;) {
            const std::size_t at = m_buffer.find(marker);
            if (at != std::string::npos) {
                m_got = m_buffer.substr(0, at + (marker == "\r" ? 1 : 0));
                *pRest = m_buffer.substr(at + marker.size());
                m_buffer.clear();
                return true;
            }
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 3000) != 1)
                return false;
            char chunk[4096];
            const ssize_t n = recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return false;
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }

    int m_fd;
    bool m_ok = false;
    std::string m_buffer, m_got;
};

bool BareRun(unsigned port, int n, std::vector<double>& out) {
    BareClient client(port);
    if (!client.Ok())
        return false;
    for (int i = 0; i < n; ++i) {
        const auto t0 = Clock::now();
        if (!client.Exchange())
            return false;
        out.push_back(Micros(Clock::now() - t0));
    }
    return true;
}

bool PortRun(int n, std::vector<double>& out) {
    CSerialPort port;
    if (!port.Open(2, 19200, PARITY_NONE, DATABITS_8, STOPBITS_10))
        return false;
    CString reply;
    for (int i = 0; i <= n; ++i) {
        const auto t0 = Clock::now();
        port.Exchange("READ 3", reply);
        const auto t1 = Clock::now();
        if (std::string(static_cast<const char*>(reply)) != kReply)
            return false;
        if (i > 0)
            out.push_back(Micros(t1 - t0));
    }
    return true;
}

// pyserial's rfc2217:// client (ser2net does not acknowledge SET-CONTROL: ?ign_set_control),
// timing each exchange itself.
const char kPySerialScript[] = R"PY(
import sys, time
import serial
print("ready", flush=True)
url = sys.argv[1]
for line in sys.stdin:
    n = int(line)
    times = []
    with serial.serial_for_url(url + "?ign_set_control", 19200, timeout=3) as port:
        for i in range(n + 1):
            t0 = time.perf_counter_ns()
            port.reset_input_buffer()
            port.write(b"READ 3\r")
            reply = port.read_until(b"\r")
            t1 = time.perf_counter_ns()
            if reply != b"AB\r":
                times = None
                break
            if i > 0:
                times.append(t1 - t0)
    print("fail" if times is None else " ".join(map(str, times)), flush=True)
)PY";

bool PySerialRun(ChildProcess& python, int n, std::vector<double>& out) {
    if (!python.Write(std::to_string(n) + "\n"))
        return false;
    std::istringstream times(python.ReadLine(60000));
    long long ns = 0;
    int count = 0;
    for (; times >> ns; ++count)
        out.push_back(ns / 1000.0);
    return count == n;
}

} // namespace

int main() {
    signal(SIGPIPE, SIG_IGN);
    if (Ser2net::Binary().empty()) {
        std::printf("skipped: ser2net is not unpacked in the build folder\n");
        return 0;
    }
    PtyDevice dev(1);
    dev.StartResponder([](const std::string& command) {
        return command == kCommand ? std::string(kReply) : std::string("?\r");
    });
    Ser2net server(dev.SlavePath());
    if (!server.Ok()) {
        std::fprintf(stderr, "ser2net did not listen\n");
        return 1;
    }
    dev.Link(2, server.Url());
    ChildProcess python({"/usr/bin/python3", "-I", "-c", kPySerialScript, server.Url()},
                        {ChildProcess::Pipe, ChildProcess::Pipe});
    const bool pythonReady = python.ReadLine(10000) == "ready";

    struct Contender {
        const char* name;
        std::function<bool(int, std::vector<double>&)> run;
        std::vector<double> samples;
    };
    std::vector<Contender> contenders = {
        {"bare socket",
         [&](int n, std::vector<double>& o) { return BareRun(server.Port(), n, o); },
         {}},
        {"CSerialPort", PortRun, {}},
    };
    if (pythonReady)
        contenders.push_back(
            {"pyserial",
             [&](int n, std::vector<double>& o) { return PySerialRun(python, n, o); },
             {}});
    for (int r = 0; r < kRounds; ++r)
        for (std::size_t k = 0; k < contenders.size(); ++k) {
            Contender& c = contenders[(k + static_cast<std::size_t>(r)) % contenders.size()];
            // pyserial waits for each purge's acknowledgement in 50 ms steps: a few rounds.
            if (std::string(c.name) == "pyserial" && r % 10 != 0)
                continue;
            if (!c.run(kPerRound, c.samples)) {
                std::fprintf(stderr, "%s: the exchange did not bring the reply\n", c.name);
                return 1;
            }
        }

    std::printf("short exchange (purge, command, 3-byte reply) through ser2net, chardelay off, "
                "loopback; medians; x = time / bare socket's time\n");
    const double bare = Median(contenders[0].samples);
    double ratio = 0;
    for (const Contender& c : contenders) {
        const double m = Median(c.samples);
        std::printf("  %-12s %9.1f us  x%.2f  (%zu exchanges)\n", c.name, m, m / bare,
                    c.samples.size());
        if (std::string(c.name) == "CSerialPort")
            ratio = m / bare;
    }
    if (!pythonReady)
        std::printf("  pyserial     skipped: python3 with pyserial did not start\n");

    // 200 exchanges in one morvik-send, as a script makes them.
    std::string commands;
    for (int i = 0; i < 200; ++i)
        commands += "READ 3\n";
    const auto t0 = Clock::now();
    ChildProcess send({MORVIK_SEND, "--port", "2"}, {ChildProcess::Pipe, ChildProcess::Pipe});
    bool ok = send.Write(commands);
    send.CloseIn();
    for (int i = 0; i < 200 && ok; ++i)
        ok = send.ReadLine(5000) == "AB";
    const int status = send.Wait(5000);
    const double wall = Micros(Clock::now() - t0) / 1e6;
    std::printf("200 exchanges in one morvik-send through ser2net: %.3f s%s\n", wall,
                ok && status == 0 ? "" : " (FAILED)");
    std::printf("ratio %.3f\n", ratio);
    return ok ? 0 : 1;
}
