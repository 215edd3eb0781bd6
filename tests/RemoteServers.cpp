#include "tests/RemoteServers.h"

#include "testsupport/Descriptors.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A listening socket at 127.0.0.1 on a port the kernel picks.
int Listen(unsigned* pPort) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    *pPort = ntohs(a.sin_port);
    return fd;
}

// Until something listens at port, at most ms.
bool AwaitListener(unsigned port, int ms) {
    const auto deadline = FromNow(ms);
    while (!Listening(port)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string Url(const char* scheme, unsigned port) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
}

// PortManager as pyserial's own example server runs it; the port object records DTR instead
// of setting it, which a pseudo-terminal cannot.
const char kPortManagerScript[] = R"PY(
import socket, sys, threading
import serial, serial.rfc2217
device, port, record = sys.argv[1], int(sys.argv[2]), sys.argv[3]
class Recorded(serial.Serial):
    @property
    def dtr(self):
        return True
    @dtr.setter
    def dtr(self, value):
        with open(record, "a") as f:
            f.write("on\n" if value else "off\n")
    # A pseudo-terminal has no modem lines to report.
    cts = dsr = ri = cd = property(lambda self: True)
    @property
    def rts(self):
        return True
    @rts.setter
    def rts(self, value):
        pass
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", port))
listener.listen(1)
print("ready", flush=True)
while True:
    conn, _ = listener.accept()
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    ser = Recorded(device, 19200, timeout=0.05)
    lock = threading.Lock()
    class Out:
        def write(self, data):
            with lock:
                conn.sendall(data)
    manager = serial.rfc2217.PortManager(ser, Out())
    alive = [True]
    def reader():
        while alive[0]:
            data = ser.read(ser.in_waiting or 1)
            if data:
                try:
                    Out().write(b"".join(manager.escape(data)))
                except OSError:
                    break
    t = threading.Thread(target=reader, daemon=True)
    t.start()
    while True:
        data = conn.recv(4096)
        if not data:
            break
        ser.write(b"".join(manager.filter(data)))
    alive[0] = False
    t.join()
    ser.close()
    conn.close()
)PY";

} // namespace

unsigned FreeTcpPort() {
    unsigned port = 0;
    const int fd = Listen(&port);
    if (fd >= 0)
        close(fd);
    return port;
}

bool Listening(unsigned port) {
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X", port);
    std::ifstream table("/proc/net/tcp");
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string slot, address, remote, state;
        if (fields >> slot >> address >> remote >> state && address == local && state == "0A")
            return true;
    }
    return false;
}

std::string Ser2net::Binary() {
    const std::string path = MORVIK_SER2NET;
    return access(path.c_str(), X_OK) == 0 ? path : std::string();
}

Ser2net::Ser2net(const std::string& device, bool telnet, bool kickOldUser, bool chardelay)
    : m_telnet(telnet) {
    if (Binary().empty())
        return;
    m_port = FreeTcpPort();
    const std::string config = m_folder / "ser2net.yaml";
    std::ofstream(config) << "connection: &port\n"
                          << "  accepter: " << (telnet ? "telnet(rfc2217),tcp" : "tcp")
                          << ",127.0.0.1," << m_port << "\n"
                          << "  connector: serialdev," << device << ",19200n81,local\n"
                          << "  options:\n"
                          << "    chardelay: " << (chardelay ? "true" : "false") << "\n"
                          << "    kickolduser: " << (kickOldUser ? "true" : "false") << "\n";
    // -u: no UUCP lock files, which need a writable /var/lock; -d: in the foreground.
    m_child = std::make_unique<ChildProcess>(
        std::vector<std::string>{Binary(), "-u", "-d", "-c", config},
        ChildProcess::Options({}, m_folder / "ser2net.log", m_folder / "ser2net.err"));
    m_ok = m_child->Pid() > 0 && AwaitListener(m_port, 5000);
}

std::string Ser2net::Url() const {
    return ::Url(m_telnet ? "rfc2217" : "socket", m_port);
}

PortManagerServer::PortManagerServer(const std::string& device) {
    m_port = FreeTcpPort();
    m_child = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/python3", "-I", "-c", kPortManagerScript, device,
                                 std::to_string(m_port), m_folder / "dtr"},
        ChildProcess::Options({}, ChildProcess::Pipe));
    m_ok = m_child->Pid() > 0 && m_child->ReadLine(10000) == "ready";
}

std::string PortManagerServer::Url() const {
    return ::Url("rfc2217", m_port);
}

std::string PortManagerServer::DtrRecord() const {
    std::ifstream in(m_folder / "dtr");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

ScriptedServer::ScriptedServer(std::string greeting, std::string (*answer)(const std::string&),
                               bool endless, std::string scheme)
    : m_scheme(std::move(scheme)) {
    const int listener = Listen(&m_port);
    m_child = std::make_unique<ChildProcess>([listener, greeting, answer, endless] {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0 || !WriteAll(fd, greeting))
            return 1;
        // Until the client goes (a write then fails) or the test ends it.
        while (endless)
            if (!WriteAll(fd, greeting))
                return 0;
        for (;;) {
            char buf[4096];
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0)
                return 0;
            std::string reply = answer(std::string(buf, static_cast<std::size_t>(n)));
            const std::string close = "<close>";
            const bool closing =
                reply.size() >= close.size() &&
                reply.compare(reply.size() - close.size(), close.size(), close) == 0;
            if (closing) {
                reply.erase(reply.size() - close.size());
                WriteAll(fd, reply);
                return 0;
            }
            if (!reply.empty() && !WriteAll(fd, reply))
                return 0;
        }
    });
    close(listener);
}

std::string ScriptedServer::Url() const {
    return ::Url(m_scheme.c_str(), m_port);
}
