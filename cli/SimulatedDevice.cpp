#include "cli/SimulatedDevice.h"

#include "core/OneLine.h"
#include "serial/Deadline.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include <unistd.h>

void SimulatedDevice::Receive(const char* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        // An LF before a command is the end of a CR LF sender's last one, not part of the next.
        if (data[i] == '\n' && m_line.empty())
            continue;
        if (data[i] != '\r') {
            if (m_line.size() < kMaxCommandBytes)
                m_line += data[i];
            continue;
        }
        std::fprintf(m_log, "command: %s\n", OneLine(m_line).c_str());
        std::fflush(m_log);
        Answer(m_line);
        m_line.clear();
    }
}

int SimulatedDevice::MsToNextEvent() const {
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

void SimulatedDevice::Tick() {
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

void SimulatedDevice::Flush() {
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

void SimulatedDevice::Reset() {
    m_line.clear();
    m_pending = m_streaming = false;
    m_out.clear();
    m_sent = 0;
}

void SimulatedDevice::Answer(const std::string& cmd) {
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
        m_replyAt =
            Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : std::min<long>(ms, kMaxDelayMs));
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

void SimulatedDevice::Send(const std::string& bytes) {
    if (m_sent > 0) {
        m_out.erase(0, m_sent);
        m_sent = 0;
    }
    if (m_out.size() + bytes.size() > kMaxPendingBytes)
        return; // the program does not read: drop what it would not take anyway
    m_out += bytes;
    Flush();
}
