// A simulated bench device on a pseudo-terminal, published as COMn for MorvikSerialDemo.
//
// Commands end with a carriage return; the device answers like a simple instrument:
//   *IDN?        identity: "MORVIK,SIM-1,0001,1.0"
//   ECHO <text>  <text>
//   DELAY <ms>   "DONE" after <ms> milliseconds (at most 5000)
//   CRLF         "OK" ended with CR LF
//   SILENT       no answer at all
//   STREAM       digits for 12 seconds, never a carriage return
//   anything else: "OK"
// It prints every command it receives and when the port is opened or closed. SIGINT, SIGTERM
// or SIGHUP end it and remove its ports entry.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStreamSeconds = 12;
constexpr int kMaxDelayMs = 5000;
// While no program holds the port the pty reports a hang-up continuously, so it is looked at
// again after this pause instead of in a loop.
constexpr int kIdleCheckMs = 50;

void Usage(FILE* out, const char* self) {
    std::fprintf(out,
                 "Usage: %s [--port N] [--ports DIR]\n"
                 "Publishes a simulated device as COMN (default 1) in DIR (default "
                 "$XDG_CONFIG_HOME/MorvikSerialDemo/ports).\n"
                 "\n"
                 "  --port N     the port number, 1 to 99\n"
                 "  --ports DIR  the ports folder\n"
                 "  --help       show this help and exit\n"
                 "\n"
                 "It answers commands ended by a carriage return: *IDN?, ECHO text, DELAY ms,\n"
                 "CRLF, SILENT, STREAM, anything else with OK. Ctrl+C ends it.\n",
                 self);
}

// True when the entry leads to a pseudo-terminal that no program serves any more (its
// master side is closed), or nowhere at all: a leftover that may be replaced. A link to
// anything else is someone's port and is never probed, since opening a real serial port
// changes its modem lines.
bool IsStale(const std::string& entry) {
    struct stat st {};
    if (stat(entry.c_str(), &st) != 0)
        return errno == ENOENT;
    char target[4096] = {};
    if (readlink(entry.c_str(), target, sizeof target - 1) <= 0 ||
        std::strncmp(target, "/dev/pts/", 9) != 0 || !S_ISCHR(st.st_mode))
        return false;
    int fd;
    do {
        fd = open(entry.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
        close(fd);
        return false;
    }
    // A slave whose master is gone refuses to open with EIO; a held one answers EBUSY.
    return errno == EIO;
}

std::string DefaultPortsFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/MorvikSerialDemo/ports";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "/tmp") + "/.config/MorvikSerialDemo/ports";
}

class Device {
public:
    explicit Device(int master) : m_master(master) {}

    // Bytes from the program.
    void Receive(const char* data, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (data[i] != '\r') {
                m_line += data[i];
                continue;
            }
            std::printf("command: %s\n", m_line.c_str());
            std::fflush(stdout);
            Answer(m_line);
            m_line.clear();
        }
    }

    // How long until the next thing to send, or -1.
    int MsToNextEvent() const {
        Clock::time_point next = Clock::time_point::max();
        if (m_pending)
            next = m_replyAt;
        if (m_streaming)
            next = std::min(next, m_nextChunk);
        if (next == Clock::time_point::max())
            return -1;
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
        return ms < 0 ? 0 : static_cast<int>(ms);
    }

    void Tick() {
        const auto now = Clock::now();
        if (m_pending && now >= m_replyAt) {
            m_pending = false;
            Send(m_reply);
        }
        if (m_streaming && now >= m_nextChunk) {
            if (now >= m_streamEnd) {
                m_streaming = false;
            } else {
                Send("0123456789");
                m_nextChunk = now + std::chrono::milliseconds(100);
            }
        }
    }

    void Reset() {
        m_line.clear();
        m_pending = m_streaming = false;
    }

private:
    void Answer(const std::string& cmd) {
        m_streaming = false;
        m_pending = false;
        if (cmd == "*IDN?")
            Send("MORVIK,SIM-1,0001,1.0\r");
        else if (cmd.rfind("ECHO ", 0) == 0)
            Send(cmd.substr(5) + "\r");
        else if (cmd.rfind("DELAY ", 0) == 0) {
            const long ms = std::strtol(cmd.c_str() + 6, nullptr, 10);
            m_pending = true;
            m_reply = "DONE\r";
            m_replyAt = Clock::now() +
                        std::chrono::milliseconds(ms < 0 ? 0 : std::min<long>(ms, kMaxDelayMs));
        } else if (cmd == "CRLF")
            Send("OK\r\n");
        else if (cmd == "SILENT")
            ;
        else if (cmd == "STREAM") {
            m_streaming = true;
            m_nextChunk = Clock::now();
            m_streamEnd = m_nextChunk + std::chrono::seconds(kStreamSeconds);
        } else
            Send("OK\r");
    }

    void Send(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (!(n < 0 && errno == EINTR))
                return; // the program is gone or not reading: drop the rest
        }
    }

    int m_master;
    std::string m_line;
    bool m_pending = false;
    std::string m_reply;
    Clock::time_point m_replyAt;
    bool m_streaming = false;
    Clock::time_point m_nextChunk, m_streamEnd;
};

} // namespace

int main(int argc, char** argv) {
    int port = 1;
    std::string folder = DefaultPortsFolder();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            char* end = nullptr;
            port = static_cast<int>(std::strtol(argv[++i], &end, 10));
            if (*end || port < 1 || port > 99) {
                std::fprintf(stderr, "%s: the port is a number from 1 to 99\n", argv[0]);
                return 2;
            }
        } else if (arg == "--ports" && i + 1 < argc) {
            folder = argv[++i];
        } else if (arg == "--help") {
            Usage(stdout, argv[0]);
            return 0;
        } else {
            Usage(stderr, argv[0]);
            return 2;
        }
    }

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char slave[128];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, slave, sizeof slave) != 0) {
        std::perror("pseudo-terminal");
        return 1;
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    // A pty whose slave was never opened does not report a hang-up; open and close it once so
    // that "nobody holds the port" looks the same before the first program as after one.
    const int once = open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (once >= 0)
        close(once);

    // Signals are taken from here on, so that an end always removes the link; a reader of our
    // output that went away must not end us before that either.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int sigfd = signalfd(-1, &signals, SFD_CLOEXEC);

    const std::string entry = folder + "/COM" + std::to_string(port);
    struct stat st {};
    std::error_code folderError;
    std::filesystem::create_directories(folder, folderError);
    if (folderError) {
        std::fprintf(stderr, "%s: cannot create %s: %s\n", argv[0], folder.c_str(),
                     folderError.message().c_str());
        return 1;
    }
    // A leftover of a device that is gone is replaced; a live port is left alone.
    if (lstat(entry.c_str(), &st) == 0) {
        if (!IsStale(entry)) {
            std::fprintf(stderr, "%s: %s is taken; choose another --port\n", argv[0],
                         entry.c_str());
            return 1;
        }
        unlink(entry.c_str());
    }
    if (symlink(slave, entry.c_str()) != 0) {
        std::fprintf(stderr, "%s: cannot link %s: %s\n", argv[0], entry.c_str(),
                     std::strerror(errno));
        return 1;
    }

    std::printf("simulated device on COM%d (%s -> %s); Ctrl+C ends it\n", port, entry.c_str(),
                slave);
    std::fflush(stdout);

    Device device(master);
    bool held = false;
    for (;;) {
        pollfd fds[2] = {{sigfd, POLLIN, 0}, {master, POLLIN, 0}};
        const int timeout = held ? device.MsToNextEvent() : kIdleCheckMs;
        // Without a program on the port, only the signal is waited for.
        const int rc = poll(fds, held ? 2 : 1, timeout);
        if (rc < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN)
            break;
        if (!held) {
            pollfd probe{master, POLLIN, 0};
            if (poll(&probe, 1, 0) >= 0 && !(probe.revents & POLLHUP)) {
                held = true;
                std::printf("port opened\n");
                std::fflush(stdout);
            }
            continue;
        }
        if (fds[1].revents & POLLIN) {
            char buf[512];
            const ssize_t n = read(master, buf, sizeof buf);
            if (n > 0)
                device.Receive(buf, static_cast<std::size_t>(n));
        }
        if (fds[1].revents & POLLHUP) {
            held = false;
            device.Reset();
            std::printf("port closed\n");
            std::fflush(stdout);
            continue;
        }
        device.Tick();
    }

    char target[256] = {};
    if (readlink(entry.c_str(), target, sizeof target - 1) > 0 && std::strcmp(target, slave) == 0)
        unlink(entry.c_str());
    std::printf("simulated device stopped\n");
    close(master);
    return 0;
}
