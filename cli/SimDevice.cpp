// A simulated bench device on a pseudo-terminal, published as COMn for MorvikSerialDemo.
//
// Commands end with a carriage return; the device answers like a simple instrument
// (SimulatedDevice has the commands). It prints every command it receives and when the port is
// opened or closed. Every signal that would end it, but SIGKILL, ends it with its ports entry
// removed; beside the entry it holds a liveness mark (LivenessMark), so that a link it left
// behind when killed is known for what it is, whatever pseudo-terminal its number leads to by
// then.

#include "cli/EndingSignals.h"
#include "cli/SimDeviceOptions.h"
#include "cli/SimulatedDevice.h"
#include "core/OneLine.h"
#include "core/StandardDescriptors.h"
#include "serial/Deadline.h"
#include "serial/DeviceCheck.h"
#include "serial/LivenessMark.h"
#include "serial/PortResolver.h"
#include "serial/PortsFolder.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
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

constexpr const char* kProgram = "morvik-simdevice";
constexpr std::size_t kReadChunk = 64 * 1024;
// Only where the kernel cannot tell us when the port is opened (no inotify): how often the
// port is looked at then.
constexpr int kIdleCheckMs = 50;

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

} // namespace

int main(int argc, char** argv) {
    // Before anything is opened: a closed standard output must not become the pseudo-terminal,
    // or the device would answer with its own log.
    if (!OpenStandardDescriptors())
        return 1;
    SimDeviceOptions options;
    std::string out, err;
    const int ended = options.Parse(argc, argv, out, err);
    if (ended != SimDeviceOptions::kRun) {
        std::fputs(err.c_str(), stderr);
        std::fputs(out.c_str(), stdout);
        return std::fflush(stdout) == 0 || ended != 0 ? ended : 1;
    }
    const unsigned long port = options.Port();
    PortResolver::Sources sources;
    sources.portsFolder = options.PortsFolder();
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

    SimulatedDevice device(pty.Master(), stdout);
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
