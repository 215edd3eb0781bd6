// Exchange cost of CSerialPort against the bare kernel calls it stands on, in one run.
//
// A peer thread on a pseudo-terminal answers each CR-terminated command at once with a short
// CR-terminated reply. The baseline makes the same calls directly: flush input, one write,
// one poll + read per reply byte.

#include "serial/SerialPort.h"
#include "tests/PtyDevice.h"
#include "bench/BenchStats.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

using bench::Clock;
using bench::Median;
using bench::Micros;

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void PortRound(int n, std::vector<double>& out) {
    CSerialPort port;
    if (!port.Open(1, 19200, PARITY_NONE, DATABITS_8, STOPBITS_10)) {
        std::fprintf(stderr, "cannot open the port\n");
        std::exit(1);
    }
    CString reply;
    for (int i = 0; i < n; ++i) {
        const auto t0 = Clock::now();
        port.SendString("MEAS?\r");
        port.ReceiveLine(reply);
        out.push_back(Micros(Clock::now() - t0));
    }
}

void BaselineRound(const std::string& slave, int n, std::vector<double>& out) {
    const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    static const char kCommand[] = "MEAS?\r";
    for (int i = 0; i < n; ++i) {
        const auto t0 = Clock::now();
        tcflush(fd, TCIFLUSH);
        if (write(fd, kCommand, sizeof kCommand - 1) < 0)
            break;
        std::string reply;
        for (;;) {
            pollfd pfd{fd, POLLIN, 0};
            if (poll(&pfd, 1, 1000) <= 0)
                break;
            char c;
            if (read(fd, &c, 1) != 1)
                break;
            reply += c;
            if (c == '\r')
                break;
        }
        out.push_back(Micros(Clock::now() - t0));
    }
    close(fd);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = 10;
    const int perRound = argc > 1 ? std::atoi(argv[1]) : 200;
    PtyDevice dev(1);
    dev.StartResponder([](const std::string&) { return std::string("+1.2345E+00\r"); });

    std::vector<double> port, base;
    for (int r = 0; r < rounds; ++r) {
        PortRound(perRound, port);
        BaselineRound(dev.SlavePath(), perRound, base);
    }
    const double mp = Median(port), mb = Median(base);
    std::printf("exchange: CSerialPort median %.1f us, bare kernel calls median %.1f us, "
                "ratio %.3f (%d exchanges each)\n",
                mp, mb, mp / mb, rounds * perRound);

    dev.StopResponder();
    CSerialPort silent;
    silent.Open(1, 19200, PARITY_NONE, DATABITS_8, STOPBITS_10);
    CString reply;
    const double cpu0 = ThreadCpuMs();
    const auto t0 = Clock::now();
    silent.ReceiveLine(reply);
    const double wallMs = Micros(Clock::now() - t0) / 1000.0;
    std::printf("silent line: ReceiveLine wall %.1f ms, CPU %.3f ms\n", wallMs,
                ThreadCpuMs() - cpu0);
    return 0;
}
