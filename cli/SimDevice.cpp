// A simulated bench device on a pseudo-terminal, published as COMn for MorvikSerialDemo.
//
// Commands end with a carriage return; the device answers like a simple instrument:
//   *IDN?        identity: "MORVIK,SIM-1,0001,1.0"
//   ECHO <text>  <text> (a command is kept up to kMaxCommandBytes)
//   DELAY <ms>   "DONE" after <ms> milliseconds (at most 5000)
//   CRLF         "OK" ended with CR LF
//   SILENT       no answer at all
//   STREAM       digits for 12 seconds, never a carriage return
//   anything else: "OK"
// It prints every command it receives and when the port is opened or closed. Every signal that
// would end it, but SIGKILL, ends it with its ports entry removed; beside the entry it holds a
// liveness mark (LivenessMark), so that a link it left behind when killed is known for what it
// is, whatever pseudo-terminal its number leads to by then.

#include "cli/EndingSignals.h"
#include "cli/WholeNumber.h"
#include "core/OneLine.h"
#include "core/StandardDescriptors.h"
#include "serial/Deadline.h"
#include "serial/DeviceCheck.h"
#include "serial/LivenessMark.h"
#include "serial/PortResolver.h"
#include "serial/PortsFolder.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kProgram = "morvik-simdevice";
constexpr unsigned long kMaxPort = 99;
constexpr int kStreamSeconds = 12;
constexpr int kMaxDelayMs = 5000;
// A command is kept up to this many bytes (what comes after, up to its carriage return, is
// dropped): ECHO returns at most this much text.
constexpr std::size_t kMaxCommandBytes = 1 << 20;
// Replies the program has not taken yet are kept up to this many bytes; more are dropped.
constexpr std::size_t kMaxPendingBytes = 4 << 20;
constexpr std::size_t kReadChunk = 64 * 1024;
// Only where the kernel cannot tell us when the port is opened (no inotify): how often the
// port is looked at then.
constexpr int kIdleCheckMs = 50;

void Usage() {
    std::printf("Usage: %s [--port N] [--ports DIR]\n"
                "Publishes a simulated device as COMN (default 1) in DIR (default "
                "$XDG_CONFIG_HOME/MorvikSerialDemo/ports).\n"
                "\n"
                "  --port N     the port number, 1 to 99 (also --port=N)\n"
                "  --ports DIR  the ports folder (also --ports=DIR)\n"
                "  --help       show this help and exit\n"
                "  --version    show the version and exit\n"
                "\n"
                "It answers commands ended by a carriage return: *IDN?, ECHO text (up to 1 MiB),\n"
                "DELAY ms, CRLF, SILENT, STREAM, anything else with OK. Ctrl+C ends it.\n",
                kProgram);
}

int UsageError(const std::string& what) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram,
                 OneLine(what).c_str(), kProgram);
    return 2;
}

// For a link that no mark of ours speaks for: true when it is a leftover that may be replaced:
// it leads nowhere, to a pseudo-terminal that nobody serves any more (its master side is
// closed), or to one that is somebody's terminal by now (its number given to a new shell). A
// link to anything else is someone's port and is never opened, since opening a real serial port
// changes its modem lines.
bool IsStale(const std::string& entry, const PortResolver::Sources& sources) {
    const DeviceCheck::Result r = DeviceCheck(sources).Check(entry);
    switch (r.verdict) {
    case DeviceCheck::Verdict::Missing:
        return r.error == ENOENT;
    case DeviceCheck::Verdict::NotSerial:
        return false;
    case DeviceCheck::Verdict::InUse:
        return DeviceCheck::IsPseudoTerminalSlave(r.number);
    case DeviceCheck::Verdict::SerialLine:
        break;
    }
    if (!DeviceCheck::IsPseudoTerminalSlave(r.number))
        return false;
    const int fd = RetryOnEintr([&] {
        return open(r.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    });
    if (fd >= 0) {
        close(fd);
        return false;
    }
    // A slave whose master is gone refuses to open with EIO; a held one answers EBUSY.
    return errno == EIO;
}

// The pseudo-terminal the device plays on, the ports entry that publishes its slave side, and
// the kernel's word (inotify) each time somebody opens that slave.
class PtyPort {
public:
    explicit PtyPort(PortsFolder folder)
        : m_folder(std::move(folder)), m_watch(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~PtyPort() {
        Unpublish();
        if (m_master >= 0)
            close(m_master);
        if (m_watch >= 0)
            close(m_watch);
    }
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // A new pseudo-terminal; false with errno set.
    bool Create() {
        const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char slave[128];
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
            ptsname_r(master, slave, sizeof slave) != 0 ||
            fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
            const int error = errno;
            if (master >= 0)
                close(master);
            errno = error;
            return false;
        }
        // A pty whose slave was never opened does not report a hang-up; open and close it once
        // so that "nobody holds the port" looks the same before the first program as after one.
        const int once = RetryOnEintr([&] { return open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC); });
        if (once >= 0)
            close(once);
        if (m_master >= 0)
            close(m_master);
        m_master = master;
        m_slave = slave;
        if (m_watch >= 0) {
            if (m_watched >= 0)
                inotify_rm_watch(m_watch, m_watched);
            m_watched = inotify_add_watch(m_watch, slave, IN_OPEN);
        }
        return true;
    }

    // Links port n to the slave side; replace: over whatever its entry is, else only where
    // there is none.
    bool Publish(unsigned nPort, bool replace) {
        m_port = nPort;
        return replace ? m_folder.Link(nPort, m_slave) : m_folder.LinkNew(nPort, m_slave);
    }

    // Removes the entry if it still leads to our slave.
    void Unpublish() {
        if (m_port != 0)
            m_folder.RemoveLink(m_port, m_slave);
        m_port = 0;
    }

    // The descriptor that becomes readable when somebody opens the slave; -1 when the kernel
    // cannot say (the port is then looked at every kIdleCheckMs).
    int OpenEvents() const { return m_watched >= 0 ? m_watch : -1; }
    // Forgets the opens reported so far.
    void DrainOpenEvents() const {
        alignas(inotify_event) char events[4096];
        while (m_watch >= 0 &&
               RetryOnEintr([&] { return read(m_watch, events, sizeof events); }) > 0)
            continue;
    }

    // True while no program holds the slave side: the master then reports a hang-up.
    bool Idle() const {
        pollfd probe{m_master, POLLIN, 0};
        return poll(&probe, 1, 0) >= 0 && (probe.revents & POLLHUP);
    }

    // Whether a program that no longer holds the line left it marked exclusive (it ended without
    // closing it, by SIGKILL), so that nobody but root could open it again.
    bool LeftExclusive() const {
        bool marked = false;
        const int fd = RetryOnEintr(
            [&] { return open(m_slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
        if (fd < 0) {
            marked = errno == EBUSY;
        } else {
            int exclusive = 0;
            marked = ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
            close(fd);
        }
        // A program that holds the line keeps its mark.
        return marked && Idle();
    }

    // A new pseudo-terminal in place of the old, vouched for by the mark and published under
    // the same entry. The kernel frees the old one with its last descriptor; a normal user
    // cannot clear another process's TIOCEXCL, but can always make a new line.
    bool Renew(LivenessMark& mark) {
        const unsigned port = m_port;
        return Create() && mark.Vouch(m_slave) && Publish(port, true);
    }

    int Master() const { return m_master; }
    const std::string& Slave() const { return m_slave; }

private:
    PortsFolder m_folder;
    int m_master = -1;
    std::string m_slave;
    unsigned m_port = 0; // the port published, 0 for none
    int m_watch = -1;    // inotify
    int m_watched = -1;  // its watch of the slave
};

class Device {
public:
    explicit Device(int master) : m_master(master) {}

    // Bytes from the program: each command is answered as soon as its carriage return is here.
    void Receive(const char* data, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (data[i] != '\r') {
                if (m_line.size() < kMaxCommandBytes)
                    m_line += data[i];
                continue;
            }
            std::printf("command: %s\n", OneLine(m_line).c_str());
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

    // Whether replies wait for the program to take them.
    bool Unsent() const { return m_sent < m_out.size(); }
    // Hands the program what it has room for; the rest waits for the line to take more.
    void Flush() {
        while (Unsent()) {
            const ssize_t n = RetryOnEintr(
                [&] { return write(m_master, m_out.data() + m_sent, m_out.size() - m_sent); });
            if (n > 0) {
                m_sent += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EAGAIN)
                return;
            break; // the program is gone: nobody takes the rest
        }
        m_out.clear();
        m_sent = 0;
    }

    void Reset() {
        m_line.clear();
        m_pending = m_streaming = false;
        m_out.clear();
        m_sent = 0;
    }

    void SetMaster(int master) { m_master = master; }

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

    // A reply longer than the line holds goes out as the program reads it, never cut short.
    void Send(const std::string& bytes) {
        if (m_sent > 0) {
            m_out.erase(0, m_sent);
            m_sent = 0;
        }
        if (m_out.size() + bytes.size() > kMaxPendingBytes)
            return; // the program does not read: drop what it would not take anyway
        m_out += bytes;
        Flush();
    }

    int m_master;
    std::string m_line;
    bool m_pending = false;
    std::string m_reply;
    Clock::time_point m_replyAt;
    bool m_streaming = false;
    Clock::time_point m_nextChunk, m_streamEnd;
    std::string m_out; // replies, of which the first m_sent bytes are out
    std::size_t m_sent = 0;
};

} // namespace

int main(int argc, char** argv) {
    // Before anything is opened: a closed standard output must not become the pseudo-terminal,
    // or the device would answer with its own log.
    if (!OpenStandardDescriptors())
        return 1;
    unsigned long port = 1;
    PortResolver::Sources sources;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "--version") {
            if (argc != 2)
                return UsageError("'" + arg + "' takes no other arguments");
            if (arg == "--help")
                Usage();
            else
                std::printf("%s %s\n", kProgram, MORVIK_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        // --name value or --name=value
        std::string value;
        const std::size_t equals = arg.find('=');
        const bool joined = arg.compare(0, 2, "--") == 0 && equals != std::string::npos;
        if (joined) {
            value = arg.substr(equals + 1);
            arg.erase(equals);
        }
        if (arg != "--port" && arg != "--ports")
            return UsageError("unexpected argument '" + std::string(argv[i]) + "'");
        if (!joined) {
            if (i + 1 >= argc)
                return UsageError(arg + " takes a value");
            value = argv[++i];
        }
        if (arg == "--port" && !ParseWholeNumber(value, 1, kMaxPort, &port))
            return UsageError("the port is a number from 1 to 99, not '" + value + "'");
        if (arg == "--ports" && value.empty())
            return UsageError("--ports takes a folder");
        if (arg == "--ports")
            sources.portsFolder = value;
    }
    const PortsFolder folder(sources.portsFolder);
    if (folder.Path().empty()) {
        std::fprintf(stderr, "%s: no ports folder: set HOME or XDG_CONFIG_HOME\n", kProgram);
        return 1;
    }
    const auto nPort = static_cast<unsigned>(port);
    const std::string entry = OneLine(folder.EntryPath(nPort));

    // Signals are taken from here on, so that an end always removes the link; a reader of our
    // output that went away must not end us before that either.
    const sigset_t signals = EndingSignals(true);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int sigfd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (sigfd < 0) {
        std::fprintf(stderr, "%s: %s\n", kProgram, std::strerror(errno));
        return 1;
    }

    if (!folder.Create()) {
        std::fprintf(stderr, "%s: cannot create %s: %s\n", kProgram, OneLine(folder.Path()).c_str(),
                     std::strerror(errno));
        return 1;
    }
    // The mark first: while it is ours no other device runs on the port, and what it named is
    // the link the last one left.
    LivenessMark mark;
    if (!mark.Take(folder.EntryPath(nPort, LivenessMark::kSuffix))) {
        if (errno == EWOULDBLOCK)
            std::fprintf(stderr,
                         "%s: %s is taken by a simulated device that runs; choose another "
                         "--port\n",
                         kProgram, entry.c_str());
        else
            std::fprintf(stderr, "%s: cannot mark %s: %s\n", kProgram, entry.c_str(),
                         std::strerror(errno));
        return 1;
    }
    // A link that a device that ended left is replaced whatever it leads to now (its
    // pseudo-terminal's number may be somebody else's); another leftover as well; a live port is
    // left alone.
    const PortsFolder::Entry found = folder.Read(nPort);
    if (found.kind == PortsFolder::Entry::Kind::Link ||
        found.kind == PortsFolder::Entry::Kind::Other) {
        const bool leftByADevice = found.kind == PortsFolder::Entry::Kind::Link &&
                                   !mark.Previous().empty() && found.target == mark.Previous();
        if (!leftByADevice && !IsStale(found.path, sources)) {
            std::fprintf(stderr, "%s: %s is taken; choose another --port\n", kProgram,
                         entry.c_str());
            return 1;
        }
        unlink(found.path.c_str());
    }

    PtyPort pty(folder);
    if (!pty.Create() || !mark.Vouch(pty.Slave())) {
        std::fprintf(stderr, "%s: no pseudo-terminal: %s\n", kProgram, std::strerror(errno));
        return 1;
    }
    if (!pty.Publish(nPort, false)) {
        std::fprintf(stderr, "%s: cannot link %s: %s\n", kProgram, entry.c_str(),
                     std::strerror(errno));
        return 1;
    }

    std::printf("simulated device on COM%lu (%s -> %s); Ctrl+C ends it\n", port, entry.c_str(),
                pty.Slave().c_str());
    std::fflush(stdout);

    Device device(pty.Master());
    bool held = false;
    // The port is not held: somebody may have opened it, or a program that was killed while it
    // held it left it marked exclusive.
    const auto lookAtIdlePort = [&] {
        pty.DrainOpenEvents();
        if (pty.Idle() && pty.LeftExclusive()) {
            // However short its hold was, the port is made usable again at once.
            if (pty.Renew(mark)) {
                device.SetMaster(pty.Master());
                std::printf("port left exclusive by a program that ended without closing "
                            "it: made anew (%s -> %s)\n",
                            entry.c_str(), pty.Slave().c_str());
            } else {
                std::printf("port left exclusive, and no new one: %s\n", std::strerror(errno));
            }
            std::fflush(stdout);
        }
        // The look above opened the port itself: that open is no program's.
        pty.DrainOpenEvents();
        if (pty.Idle()) {
            // A program that came and went: what it wrote is nobody's command.
            tcflush(pty.Master(), TCIFLUSH);
            return;
        }
        held = true;
        std::printf("port opened\n");
        std::fflush(stdout);
    };

    for (;;) {
        const short out = device.Unsent() ? POLLOUT : 0;
        pollfd fds[3] = {{sigfd, POLLIN, 0},
                         {pty.OpenEvents(), POLLIN, 0},
                         {pty.Master(), static_cast<short>(POLLIN | out), 0}};
        // Without a program on the port the master reports a hang-up all the time: then only a
        // signal and an open of the port are waited for.
        int timeout = held ? device.MsToNextEvent() : -1;
        if (!held && pty.OpenEvents() < 0)
            timeout = kIdleCheckMs;
        const int ready = RetryOnEintr([&] { return poll(fds, held ? 3 : 2, timeout); });
        if (ready < 0)
            break;
        if (fds[0].revents & POLLIN)
            break;
        if (!held) {
            if ((fds[1].revents & POLLIN) || ready == 0)
                lookAtIdlePort();
            continue;
        }
        if (fds[1].revents & POLLIN)
            pty.DrainOpenEvents(); // another opener of a held port: its own business
        bool closed = (fds[2].revents & (POLLHUP | POLLERR)) && !(fds[2].revents & POLLIN);
        if (fds[2].revents & POLLIN) {
            static char buf[kReadChunk];
            const ssize_t n = RetryOnEintr([&] { return read(pty.Master(), buf, sizeof buf); });
            if (n > 0)
                device.Receive(buf, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EAGAIN)
                closed = true;
        }
        if (closed) {
            held = false;
            device.Reset();
            std::printf("port closed\n");
            std::fflush(stdout);
            lookAtIdlePort();
            continue;
        }
        if (fds[2].revents & POLLOUT)
            device.Flush();
        device.Tick();
    }

    pty.Unpublish();
    mark.Drop();
    std::printf("simulated device stopped\n");
    return 0;
}
