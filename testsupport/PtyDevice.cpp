#include "testsupport/PtyDevice.h"
#include "testsupport/Descriptors.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

PtyDevice::PtyDevice(int nPort) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0)
        throw std::runtime_error("no pseudo-terminal name");
    m_slavePath = name;
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);

    mkdir((m_root / "MorvikSerialDemo").c_str(), 0700);
    m_portsFolder = m_root / "MorvikSerialDemo/ports";
    mkdir(m_portsFolder.c_str(), 0700);
    Link(nPort, m_slavePath);

    if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
        m_hadXdg = true;
        m_oldXdg = old;
    }
    setenv("XDG_CONFIG_HOME", m_root.Path().c_str(), 1);
}

PtyDevice::~PtyDevice() {
    StopResponder();
    if (m_master >= 0)
        close(m_master);
    if (m_hadXdg)
        setenv("XDG_CONFIG_HOME", m_oldXdg.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

void PtyDevice::Link(int nPort, const std::string& target) {
    const std::string entry = m_portsFolder + "/COM" + std::to_string(nPort);
    unlink(entry.c_str());
    if (symlink(target.c_str(), entry.c_str()) != 0)
        throw std::runtime_error("cannot link " + entry);
}

void PtyDevice::Write(const std::string& bytes) {
    WriteAll(m_master, bytes);
}

std::string PtyDevice::Read(int ms, int quietMs) {
    std::string out;
    const auto deadline = FromNow(ms);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto until = out.empty() ? deadline : std::min(deadline, FromNow(quietMs));
        char buf[4096];
        const ssize_t n =
            (PollUntil(m_master, POLLIN, until) & POLLIN) ? read(m_master, buf, sizeof buf) : 0;
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

std::string PtyDevice::ReadUntil(char cEnd, int ms) {
    std::string out;
    const auto deadline = FromNow(ms);
    char c;
    while ((out.empty() || out.back() != cEnd) &&
           (PollUntil(m_master, POLLIN, deadline) & POLLIN) && read(m_master, &c, 1) == 1)
        out += c;
    return out;
}

bool PtyDevice::WaitHangUp(int ms) {
    const auto deadline = FromNow(ms);
    for (;;) {
        const short revents = PollUntil(m_master, POLLIN, deadline);
        if (revents == 0)
            return false;
        if (revents & POLLHUP)
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
            // Short waits so that StopResponder is noticed; no spinning on a closed slave.
            const short revents = PollUntil(m_master, POLLIN, FromNow(50));
            if (revents == 0)
                continue;
            if (!(revents & POLLIN)) {
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
