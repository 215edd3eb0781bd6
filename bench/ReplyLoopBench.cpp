// The reply loop of CSerialPort against the plainest loop that makes the same exchange: flush,
// one write, then poll + read() of 4 KiB chunks with memchr for the end. Unlike exchange_bench,
// each contender has a pseudo-terminal and a peer thread of its own.
//
// The two take turns exchange by exchange (which one goes first alternates), so that a moment
// when the machine is busy falls on a pair rather than on one contender's round; a row's figure
// is the median of the pairs' ratios, beside each one's median time.
//
// Where the threads run decides more of an exchange's time than the loop does: on a virtual
// machine a peer on another CPU than the reader's is woken, and wakes the reader, several times
// slower than one on the same CPU. So the contenders' peers are pinned alike, by default both on
// the reader's CPU, where an exchange is quickest and the loop's own cost shows most; the other
// placements show the effect:
//
//   reply_loop_bench [scale [near | apart | bare-near | port-near | free]]
//     scale      e.g. 0.5 for a quick look
//     near       both peers on the reader's CPU (the default)
//     apart      both peers on the other CPU
//     bare-near  the bare loop's peer on the reader's CPU, the class's on the other
//     port-near  the other way round
//     free       nothing pinned: the scheduler places the three threads

#include "bench/BenchStats.h"
#include "serial/SerialPort.h"
#include "testsupport/Descriptors.h"
#include "testsupport/PtyDevice.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <termios.h>
#include <unistd.h>

namespace {

using bench::Clock;
using bench::Median;
using bench::Micros;

struct Row {
    const char* label;
    int bytes; // the end included
    LineProfile::ReplyEnd replyEnd;
    int pairs;
};
const Row kRows[] = {
    {"3 B, cr", 3, LineProfile::ReplyEnd::Cr, 2000},
    {"4 KiB, cr", 4096, LineProfile::ReplyEnd::Cr, 1000},
    {"4 KiB, lf", 4096, LineProfile::ReplyEnd::Lf, 1000},
    {"64 KiB, cr", 65536, LineProfile::ReplyEnd::Cr, 200},
};

char EndOf(const Row& row) {
    return row.replyEnd == LineProfile::ReplyEnd::Lf ? '\n' : '\r';
}

// "READ n CR" or "READ n LF": n - 1 printable bytes and that end.
std::string Reply(const std::string& command) {
    const int bytes = std::atoi(command.c_str() + 5);
    std::string s;
    for (int i = 0; i + 1 < bytes; ++i)
        s += static_cast<char>('A' + i % 26);
    return s + (command.find(" LF") != std::string::npos ? '\n' : '\r');
}

std::string Command(const Row& row) {
    return "READ " + std::to_string(row.bytes) + (EndOf(row) == '\n' ? " LF" : " CR") + "\r";
}

// Runs the calling thread on one CPU only; -1 leaves it free.
void PinTo(int cpu) {
    if (cpu < 0)
        return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

// The device: answers each CR-ended command on the master side at once, from a thread of its
// own on the CPU given.
class Peer {
public:
    Peer(int master, int cpu) : m_master(master) {
        m_thread = std::thread([this, cpu] {
            PinTo(cpu);
            Run();
        });
    }
    ~Peer() {
        m_stop = true;
        m_thread.join();
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

private:
    void Run() {
        std::string line;
        while (!m_stop) {
            pollfd pfd{m_master, POLLIN, 0};
            if (poll(&pfd, 1, 50) <= 0)
                continue;
            if (!(pfd.revents & POLLIN)) {
                usleep(20000); // no slave open: POLLHUP until there is
                continue;
            }
            char buf[256];
            const ssize_t n = read(m_master, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                line += buf[i];
                if (buf[i] == '\r') {
                    // Made once: the peer's own work stays out of the figures.
                    auto it = m_replies.find(line);
                    if (it == m_replies.end())
                        it = m_replies.emplace(line, Reply(line)).first;
                    WriteAll(m_master, it->second);
                    line.clear();
                }
            }
        }
    }
    int m_master;
    std::map<std::string, std::string> m_replies;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class BareLoop {
public:
    explicit BareLoop(const std::string& slave)
        : m_fd(open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios tio{};
        tcgetattr(m_fd, &tio);
        cfmakeraw(&tio);
        cfsetspeed(&tio, B19200);
        tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~BareLoop() {
        if (m_fd >= 0)
            close(m_fd);
    }
    BareLoop(const BareLoop&) = delete;
    BareLoop& operator=(const BareLoop&) = delete;

    // The reply's length, or -1.
    long Exchange(const std::string& command, char end) {
        tcflush(m_fd, TCIFLUSH);
        if (write(m_fd, command.data(), command.size()) != static_cast<ssize_t>(command.size()))
            return -1;
        m_reply.clear();
        for (;;) {
            pollfd pfd{m_fd, POLLIN, 0};
            if (poll(&pfd, 1, 1000) <= 0)
                return -1;
            char buf[4096];
            const ssize_t got = read(m_fd, buf, sizeof buf);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got <= 0)
                return -1;
            m_reply.append(buf, static_cast<std::size_t>(got));
            if (std::memchr(buf, end, static_cast<std::size_t>(got)))
                return static_cast<long>(m_reply.size());
        }
    }

private:
    int m_fd;
    std::string m_reply;
};

} // namespace

int main(int argc, char** argv) {
    const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
    const std::string placement = argc > 2 ? argv[2] : "near";
    const bool pinned = placement != "free";
    const int reader = 0, other = 1;
    const bool bareNear = placement == "near" || placement == "bare-near";
    const bool portNear = placement == "near" || placement == "port-near";
    const int bareCpu = !pinned ? -1 : bareNear ? reader : other;
    const int portCpu = !pinned ? -1 : portNear ? reader : other;
    if (pinned && !bareNear && !portNear && placement != "apart") {
        std::fprintf(stderr, "placement: near, apart, bare-near, port-near or free\n");
        return 2;
    }
    PinTo(pinned ? reader : -1);
    // Two lines, a peer each: the bare loop's on port 1's, the class's on port 2's (the ports
    // folder in use is the second one's).
    PtyDevice bareLine(1);
    PtyDevice portLine(2);
    const Peer barePeer(bareLine.MasterFd(), bareCpu);
    const Peer portPeer(portLine.MasterFd(), portCpu);

    std::printf("a pty and a peer thread per contender, exchanges in alternating pairs; peers: "
                "%s\n",
                placement.c_str());
    std::printf("%-12s %8s %14s %14s %9s\n", "reply", "pairs", "bare loop", "CSerialPort",
                "x median");
    for (const Row& row : kRows) {
        BareLoop bare(bareLine.SlavePath());
        CSerialPort port;
        LineProfile profile;
        profile.replyEnd = row.replyEnd;
        port.SetProfile(profile);
        if (!port.Open(2, 19200, PARITY_NONE, DATABITS_8, STOPBITS_10)) {
            std::fprintf(stderr, "cannot open the class's line\n");
            return 1;
        }
        const std::string line = Command(row);
        const CString command = line.c_str();
        const char end = EndOf(row);
        auto timeBare = [&](double* pUs) {
            const auto t0 = Clock::now();
            const long got = bare.Exchange(line, end);
            *pUs = Micros(Clock::now() - t0);
            return got == row.bytes;
        };
        CString reply;
        auto timePort = [&](double* pUs) {
            const auto t0 = Clock::now();
            port.SendString(command);
            port.ReceiveLine(reply);
            *pUs = Micros(Clock::now() - t0);
            return port.LastReply().bytes.size() == static_cast<std::size_t>(row.bytes);
        };
        // Untimed: each one's reply storage grows to the size measured.
        double us = 0;
        bool ok = timeBare(&us) && timePort(&us);
        std::vector<double> bareUs, portUs, ratios;
        const int pairs = std::max(1, static_cast<int>(row.pairs * scale + 0.5));
        for (int i = 0; i < pairs && ok; ++i) {
            double b = 0, p = 0;
            ok = (i % 2 == 0) ? timeBare(&b) && timePort(&p) : timePort(&p) && timeBare(&b);
            bareUs.push_back(b);
            portUs.push_back(p);
            ratios.push_back(p / b);
        }
        if (!ok) {
            std::fprintf(stderr, "%s: an exchange did not bring the reply\n", row.label);
            return 1;
        }
        std::printf("%-12s %8d %11.1f us %11.1f us %9.2f\n", row.label, pairs, Median(bareUs),
                    Median(portUs), Median(ratios));
    }
    return 0;
}
