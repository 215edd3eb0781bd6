#include "testsupport/PtyDevice.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

int Remaining(Clock::time_point deadline) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return ms.count() < 0 ? 0 : static_cast<int>(ms.count());
}
} // namespace

PtyDevice::PtyDevice(int nPort) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0)
        throw std::runtime_error("no pseudo-terminal name");
    m_slavePath = name;
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);

    char root[] = "/tmp/morvik-pty-XXXXXX";
    if (!mkdtemp(root))
        throw std::runtime_error("no temporary folder");
    m_root = root;
    mkdir((m_root + "/MorvikSerialDemo").c_str(), 0700);
    m_portsFolder = m_root + "/MorvikSerialDemo/ports";
    mkdir(m_portsFolder.c_str(), 0700);
    Link(nPort, m_slavePath);

    if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
        m_hadXdg = true;
        m_oldXdg = old;
    }
    setenv("XDG_CONFIG_HOME", m_root.c_str(), 1);
}

PtyDevice::~PtyDevice() {
    StopResponder();
    if (m_master >= 0)
        close(m_master);
    if (m_hadXdg)
        setenv("XDG_CONFIG_HOME", m_oldXdg.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    for (int n = 0; n <= 9; ++n)
        unlink((m_portsFolder + "/COM" + std::to_string(n)).c_str());
    rmdir(m_portsFolder.c_str());
    rmdir((m_root + "/MorvikSerialDemo").c_str());
    rmdir(m_root.c_str());
}

void PtyDevice::Link(int nPort, const std::string& target) {
    const std::string entry = m_portsFolder + "/COM" + std::to_string(nPort);
    unlink(entry.c_str());
    if (symlink(target.c_str(), entry.c_str()) != 0)
        throw std::runtime_error("cannot link " + entry);
}

void PtyDevice::Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd pfd{m_master, POLLOUT, 0};
            if (poll(&pfd, 1, 1000) <= 0)
                return;
        } else if (!(n < 0 && errno == EINTR)) {
            return;
        }
    }
}

std::string PtyDevice::Read(int ms, int quietMs) {
    std::string out;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const int left = Remaining(deadline);
        pollfd pfd{m_master, POLLIN, 0};
        const int wait = out.empty() ? left : std::min(left, quietMs);
        if (left == 0 || poll(&pfd, 1, wait) <= 0 || !(pfd.revents & POLLIN))
            return out;
        char buf[4096];
        const ssize_t n = read(m_master, buf, sizeof buf);
        if (n <= 0)
            return out;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

std::string PtyDevice::ReadUntil(char cEnd, int ms) {
    std::string out;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (out.empty() || out.back() != cEnd) {
        pollfd pfd{m_master, POLLIN, 0};
        if (poll(&pfd, 1, Remaining(deadline)) <= 0 || !(pfd.revents & POLLIN))
            break;
        char c;
        if (read(m_master, &c, 1) != 1)
            break;
        out += c;
    }
    return out;
}

bool PtyDevice::WaitHangUp(int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        pollfd pfd{m_master, POLLIN, 0};
        const int rc = poll(&pfd, 1, Remaining(deadline));
        if (rc <= 0)
            return false;
        if (pfd.revents & POLLHUP)
            return true;
        char buf[256];
        if (read(m_master, buf, sizeof buf) < 0 && errno == EIO)
            return true;
    }
}

void PtyDevice::HangUp() {
    StopResponder();
    if (m_master >= 0)
        close(m_master);
    m_master = -1;
}

void PtyDevice::StartResponder(std::function<std::string(const std::string&)> answer, char cEnd) {
    StopResponder();
    m_stop = false;
    m_responder = std::thread([this, answer, cEnd] {
        std::string line;
        while (!m_stop) {
            pollfd pfd{m_master, POLLIN, 0};
            // Short waits so that StopResponder is noticed; no spinning on a closed slave.
            const int rc = poll(&pfd, 1, 50);
            if (rc <= 0)
                continue;
            if (!(pfd.revents & POLLIN)) {
                usleep(20000); // slave not open yet: POLLHUP until it is
                continue;
            }
            char buf[256];
            const ssize_t n = read(m_master, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                line += buf[i];
                if (buf[i] == cEnd) {
                    Write(answer(line));
                    line.clear();
                }
            }
        }
    });
}

void PtyDevice::StopResponder() {
    m_stop = true;
    if (m_responder.joinable())
        m_responder.join();
}
