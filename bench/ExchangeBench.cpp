// Cost of one command-and-reply exchange through CSerialPort, QtSerialPort's blocking calls,
// morvik-send and pyserial, each against the fewest kernel calls that do the same exchange, in one
// run.
//
// A peer thread on the master side of a pseudo-terminal answers each CR-terminated command at
// once, ending its reply with a CR, or for the lf row with an LF (CSerialPort then reads with
// an lf profile, the others look for the LF). Contenders take turns in short rounds (the starting
// one rotates), so that whatever else the machine does at a moment hits all of them alike; those in
// a process of their own, morvik-send and pyserial, take their rounds after the others. Each round
// opens the port, makes one untimed exchange of the size measured (so that every contender's reply
// storage has grown to it, as the bare calls' buffer is reserved) and then times the rest one by
// one; the figures are per-exchange medians.

#include "serial/SerialPort.h"
#include "bench/BenchStats.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/PtyDevice.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QSerialPort>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace {

using bench::Clock;
using bench::Median;
using bench::Micros;

// Reply sizes in bytes, the CR included; how many rounds each size gets, how many exchanges a
// round times, and in which rounds a slow contender takes its turn (every n-th, to keep the run
// short). Short rounds let the contenders take turns often.
struct Size {
    int bytes;
    int rounds;
    int perRound;
    int slowEvery;
    const char* label;
    char end = '\r'; // what ends the reply
};
const Size kSizes[] = {{3, 80, 5, 1, "3 B"},
                       {4096, 24, 3, 2, "4 KiB"},
                       {65536, 20, 1, 2, "64 KiB"},
                       {3, 80, 5, 1, "3 B, lf", '\n'}};

std::string Command(const Size& size) {
    return "READ " + std::to_string(size.bytes) + (size.end == '\n' ? " LF" : "") + "\r";
}

// The peer's reply to "READ n": n - 1 printable bytes and the end.
std::string Reply(int bytes, char end) {
    std::string s;
    s.reserve(static_cast<std::size_t>(bytes));
    for (int i = 0; i + 1 < bytes; ++i)
        s += static_cast<char>('A' + i % 26);
    return s + end;
}

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// One way of making the exchange. Run opens the port, makes one untimed exchange, appends
// the times of n more (in microseconds) and closes; false when an exchange did not bring the
// reply.
struct Contender {
    std::string name;
    std::function<bool(const Size& size, int n, std::vector<double>& out)> run;
    std::string skipped; // why it could not run, if so
    bool slow = false;   // takes its turn only every slowEvery-th round
    bool apart = false;  // a process of its own: takes its rounds after the in-process ones
};

bool PortRun(const Size& size, int n, std::vector<double>& out) {
    CSerialPort port;
    LineProfile profile;
    profile.replyEnd = size.end == '\n' ? LineProfile::ReplyEnd::Lf : LineProfile::ReplyEnd::Cr;
    port.SetProfile(profile);
    if (!port.Open(1, 19200, PARITY_NONE, DATABITS_8, STOPBITS_10))
        return false;
    const CString command = Command(size).c_str();
    CString reply;
    for (int i = 0; i <= n; ++i) {
        const auto t0 = Clock::now();
        port.SendString(command);
        port.ReceiveLine(reply);
        const auto t1 = Clock::now();
        if (reply.GetLength() != size.bytes)
            return false;
        if (i > 0)
            out.push_back(Micros(t1 - t0));
    }
    return true;
}

// The fewest kernel calls: flush, one write, then poll + read() of whatever is there into a
// 4 KiB buffer until the end has come.
bool BareRun(const std::string& slave, const Size& size, int n, std::vector<double>& out) {
    const int bytes = size.bytes;
    const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B19200);
    tcsetattr(fd, TCSANOW, &tio);
    const std::string command = Command(size);
    std::string reply;
    reply.reserve(static_cast<std::size_t>(bytes));
    bool ok = true;
    for (int i = 0; i <= n && ok; ++i) {
        const auto t0 = Clock::now();
        tcflush(fd, TCIFLUSH);
        ok = write(fd, command.data(), command.size()) == static_cast<ssize_t>(command.size());
        reply.clear();
        for (bool done = false; ok && !done;) {
            pollfd pfd{fd, POLLIN, 0};
            if (poll(&pfd, 1, 1000) <= 0) {
                ok = false;
                break;
            }
            char buf[4096];
            const ssize_t got = read(fd, buf, sizeof buf);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got <= 0) {
                ok = false;
                break;
            }
            reply.append(buf, static_cast<std::size_t>(got));
            done = std::memchr(buf, size.end, static_cast<std::size_t>(got)) != nullptr;
        }
        const auto t1 = Clock::now();
        ok = ok && reply.size() == static_cast<std::size_t>(bytes);
        if (ok && i > 0)
            out.push_back(Micros(t1 - t0));
    }
    close(fd);
    return ok;
}

// QtSerialPort's blocking pattern: clear input, write, waitForBytesWritten, then
// waitForReadyRead + readAll until the end has come.
bool QtRun(const std::string& slave, const Size& size, int n, std::vector<double>& out) {
    QSerialPort port;
    port.setPortName(QString::fromStdString(slave));
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.setBaudRate(19200);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    const QByteArray command = QByteArray::fromStdString(Command(size));
    QByteArray reply;
    for (int i = 0; i <= n; ++i) {
        const auto t0 = Clock::now();
        port.clear(QSerialPort::Input);
        port.write(command);
        port.waitForBytesWritten(1000);
        reply.clear();
        for (;;) {
            if (!port.waitForReadyRead(1000))
                break;
            const QByteArray chunk = port.readAll();
            reply += chunk;
            if (chunk.contains(size.end))
                break;
        }
        const auto t1 = Clock::now();
        if (reply.size() != size.bytes)
            return false;
        if (i > 0)
            out.push_back(Micros(t1 - t0));
    }
    return true;
}

// morvik-send in standard-input mode, as a script drives it: a command line written to its
// input, timed until the reply's line has come out of its output. The program starts and ends
// outside the timing, once a round.
bool SendToolRun(const Size& size, int n, std::vector<double>& out) {
    const int bytes = size.bytes;
    std::vector<std::string> argv = {MORVIK_SEND, "--port", "1"};
    if (size.end == '\n')
        argv.insert(argv.end(), {"--reply-end", "lf"});
    ChildProcess send(argv, {ChildProcess::Pipe, ChildProcess::Pipe});
    const std::string command =
        "READ " + std::to_string(bytes) + (size.end == '\n' ? " LF" : "") + "\n";
    bool ok = send.Pid() > 0;
    for (int i = 0; i <= n && ok; ++i) {
        const auto t0 = Clock::now();
        ok = send.Write(command);
        const std::string line = send.ReadLine(5000);
        const auto t1 = Clock::now();
        // The reply less its CR, the line end taken off.
        ok = ok && line.size() + 1 == static_cast<std::size_t>(bytes);
        if (ok && i > 0)
            out.push_back(Micros(t1 - t0));
    }
    send.CloseIn();
    send.Wait(5000);
    return ok;
}

// pyserial in a python3 child: reset_input_buffer, write, read_until(CR). The child times each
// exchange itself (time.perf_counter_ns) and is driven round by round over a pipe.
const char kPySerialScript[] = R"PY(
import sys, time
try:
    import serial
except Exception as e:
    print("skipped: no serial module (%s)" % type(e).__name__, flush=True)
    sys.exit(0)
print("ready", flush=True)
path = sys.argv[1]
while True:
    line = sys.stdin.readline()
    if not line:
        break
    size, n, end = map(int, line.split())
    times = []
    # read_until's time-out bounds the whole reply: give it the class's 10 s cap, not 1 s.
    with serial.Serial(path, 19200, timeout=10) as port:
        for i in range(n + 1):
            command = (b"READ %d LF\r" if end == 10 else b"READ %d\r") % size
            t0 = time.perf_counter_ns()
            port.reset_input_buffer()
            port.write(command)
            reply = port.read_until(bytes([end]))
            t1 = time.perf_counter_ns()
            if len(reply) != size:
                times = None
                break
            if i > 0:
                times.append(t1 - t0)
    print("fail" if times is None else " ".join(map(str, times)), flush=True)
)PY";

class PySerialChild {
public:
    explicit PySerialChild(const std::string& slave)
        : m_child({"/usr/bin/python3", "-I", "-c", kPySerialScript, slave},
                  {ChildProcess::Pipe, ChildProcess::Pipe}) {
        const std::string hello = m_child.ReadLine(10000);
        if (hello == "ready")
            m_ready = true;
        else if (m_child.Pid() < 0)
            m_status = "skipped: cannot start /usr/bin/python3";
        else
            m_status = hello.empty() ? "skipped: /usr/bin/python3 did not start" : hello;
    }
    ~PySerialChild() {
        m_child.CloseIn(); // end of input: the child leaves its loop
        m_child.Wait(2000);
    }
    PySerialChild(const PySerialChild&) = delete;
    PySerialChild& operator=(const PySerialChild&) = delete;

    bool Ready() const { return m_ready; }
    const std::string& Status() const { return m_status; }

    bool Run(const Size& size, int n, std::vector<double>& out) {
        if (!m_child.Write(std::to_string(size.bytes) + " " + std::to_string(n) + " " +
                           std::to_string(static_cast<int>(size.end)) + "\n"))
            return false;
        std::istringstream times(m_child.ReadLine(60000));
        long long ns = 0;
        int count = 0;
        while (times >> ns) {
            out.push_back(ns / 1000.0);
            ++count;
        }
        return count == n;
    }

private:
    ChildProcess m_child;
    bool m_ready = false;
    std::string m_status;
};

class SlaveHolder {
public:
    explicit SlaveHolder(const std::string& path)
        : m_fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~SlaveHolder() {
        if (m_fd >= 0)
            close(m_fd);
    }
    SlaveHolder(const SlaveHolder&) = delete;
    SlaveHolder& operator=(const SlaveHolder&) = delete;

private:
    int m_fd;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    // A python child that died must not take the run with it.
    signal(SIGPIPE, SIG_IGN);
    // An argument scales the number of rounds, e.g. 0.5 for a quick look.
    const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;

    std::map<std::pair<int, char>, std::string> replies;
    for (const Size& size : kSizes)
        replies[{size.bytes, size.end}] = Reply(size.bytes, size.end);
    PtyDevice dev(1);
    dev.StartResponder([&replies](const std::string& command) {
        const char end = command.find(" LF") != std::string::npos ? '\n' : '\r';
        const auto it = replies.find({std::atoi(command.c_str() + 5), end});
        return it != replies.end() ? it->second : std::string("?\r");
    });
    const std::string slave = dev.SlavePath();
    // The slave stays open for the whole run, so the peer never sees the line hang up between
    // rounds and answers a round's first command at once.
    const SlaveHolder holder(slave);

    PySerialChild python(slave);
    std::vector<Contender> contenders = {
        {"bare calls",
         [&](const Size& z, int n, std::vector<double>& o) { return BareRun(slave, z, n, o); },
         {}},
        {"CSerialPort", PortRun, {}},
        {"QtSerialPort",
         [&](const Size& z, int n, std::vector<double>& o) { return QtRun(slave, z, n, o); },
         {}},
        {"morvik-send", SendToolRun, {}, false, true},
        {"pyserial",
         [&](const Size& z, int n, std::vector<double>& o) { return python.Run(z, n, o); },
         python.Ready() ? std::string() : python.Status(), true, true},
    };
    const std::size_t nSizes = sizeof kSizes / sizeof kSizes[0];
    const std::size_t nContenders = contenders.size();
    std::vector<std::vector<std::vector<double>>> samples(nContenders,
                                                          std::vector<std::vector<double>>(nSizes));

    std::vector<int> rounds;
    for (const Size& size : kSizes)
        rounds.push_back(std::max(1, static_cast<int>(size.rounds * scale + 0.5)));
    const int mostRounds = *std::max_element(rounds.begin(), rounds.end());
    // Contenders in a process of their own take their rounds after the others: interleaved, a
    // round of theirs (a program started and ended, seconds of a busy interpreter) shifted the
    // figures of the in-process ones by up to half.
    for (const bool apartPass : {false, true})
        for (int r = 0; r < mostRounds; ++r) {
            for (std::size_t s = 0; s < nSizes; ++s) {
                if (r >= rounds[s])
                    continue;
                for (std::size_t k = 0; k < nContenders; ++k) {
                    const std::size_t c = (k + static_cast<std::size_t>(r) + s) % nContenders;
                    if (!contenders[c].skipped.empty() || contenders[c].apart != apartPass ||
                        (contenders[c].slow && r % kSizes[s].slowEvery != 0))
                        continue;
                    if (!contenders[c].run(kSizes[s], kSizes[s].perRound, samples[c][s])) {
                        std::fprintf(stderr, "%s: the %s exchange did not bring the reply\n",
                                     contenders[c].name.c_str(), kSizes[s].label);
                        return 1;
                    }
                }
            }
        }

    std::printf("per-exchange medians on a pty with an instantly answering peer "
                "(interleaved rounds); x = time / bare calls' time\n");
    std::printf("%-12s", "reply (n)");
    for (const Contender& c : contenders)
        std::printf("  %22s", c.name.c_str());
    std::printf("\n");
    double shortRatio = 0;
    for (std::size_t s = 0; s < nSizes; ++s) {
        const double bare = Median(samples[0][s]);
        char label[32];
        std::snprintf(label, sizeof label, "%s (%zu)", kSizes[s].label, samples[0][s].size());
        std::printf("%-12s", label);
        for (std::size_t c = 0; c < nContenders; ++c) {
            if (!contenders[c].skipped.empty() || samples[c][s].empty()) {
                std::printf("  %22s", contenders[c].skipped.empty() ? "-" : "skipped");
                continue;
            }
            const double m = Median(samples[c][s]);
            char cell[64];
            if (c == 0)
                std::snprintf(cell, sizeof cell, "%.1f us", m);
            else
                std::snprintf(cell, sizeof cell, "%.1f us x%.2f", m, m / bare);
            std::printf("  %22s", cell);
            if (c == 1 && s == 0)
                shortRatio = m / bare;
        }
        std::printf("\n");
    }
    for (std::size_t c = 0; c < nContenders; ++c) {
        if (!contenders[c].skipped.empty()) {
            std::printf("%s: %s\n", contenders[c].name.c_str(), contenders[c].skipped.c_str());
        } else if (contenders[c].slow) {
            std::printf("%s, fewer exchanges to keep the run short:", contenders[c].name.c_str());
            for (std::size_t s = 0; s < nSizes; ++s)
                std::printf(" %zu", samples[c][s].size());
            std::printf("\n");
        }
    }

    // A silent line: the wait for the first byte must sleep, not spin.
    dev.StopResponder();
    CSerialPort silent;
    silent.Open(1, 19200, PARITY_NONE, DATABITS_8, STOPBITS_10);
    CString reply;
    const double cpu0 = ThreadCpuMs();
    const auto t0 = Clock::now();
    silent.ReceiveLine(reply);
    std::printf("silent line: ReceiveLine wall %.1f ms, CPU %.3f ms\n",
                Micros(Clock::now() - t0) / 1000.0, ThreadCpuMs() - cpu0);

    std::printf("ratio %.3f\n", shortRatio);
    return 0;
}
