#pragma once

#include <csignal>
#include <functional>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

// A forked child that prepares something (opens a port, takes a terminal) and then waits to be
// ended; the test acts on it meanwhile. A child still running when the object dies is killed.
class WaitingChild {
public:
    // prepare runs in the child; false ends the child with status 3.
    explicit WaitingChild(const std::function<bool()>& prepare) {
        int ready[2];
        if (pipe2(ready, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            if (!prepare() || write(ready[1], "x", 1) != 1)
                _exit(3);
            for (;;)
                pause();
        }
        close(ready[1]);
        char x;
        m_ready = m_pid > 0 && read(ready[0], &x, 1) == 1;
        close(ready[0]);
    }
    ~WaitingChild() {
        if (m_pid > 0)
            Wait(SIGKILL);
    }
    WaitingChild(const WaitingChild&) = delete;
    WaitingChild& operator=(const WaitingChild&) = delete;

    // True once prepare succeeded; false when the child ended before.
    bool Ready() const { return m_ready; }
    pid_t Pid() const { return m_pid; }
    // Sends sig (none when 0), waits for the end and returns the wait status.
    int Wait(int sig = 0) {
        int status = -1;
        if (m_pid <= 0)
            return status;
        if (sig != 0)
            kill(m_pid, sig);
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return status;
    }

private:
    pid_t m_pid = -1;
    bool m_ready = false;
};
