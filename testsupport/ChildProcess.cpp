#include "testsupport/ChildProcess.h"
#include "testsupport/Descriptors.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Appends what fd has to text, waiting at most until the deadline; false at its end, on a
// failure or when nothing came in time.
bool ReadMore(int fd, std::string& text, std::chrono::steady_clock::time_point deadline) {
    if (fd < 0 || PollUntil(fd, POLLIN, deadline) == 0)
        return false;
    char buf[4096];
    ssize_t n;
    do
        n = read(fd, buf, sizeof buf);
    while (n < 0 && errno == EINTR);
    if (n <= 0)
        return false;
    text.append(buf, static_cast<std::size_t>(n));
    return true;
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Options& options) {
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    Start([&args] { execv(args[0], args.data()); }, options);
}

ChildProcess::ChildProcess(const std::function<int()>& body, const Options& options) {
    Start([&body] { _exit(body()); }, options);
}

ChildProcess::~ChildProcess() {
    Close(m_in);
    Close(m_out);
    Close(m_err);
    if (Signal(SIGKILL))
        Wait(10000);
}

void ChildProcess::Start(const std::function<void()>& run, const Options& options) {
    const Stream* streams[3] = {&options.in, &options.out, &options.err};
    int* ours[3] = {&m_in, &m_out, &m_err};
    int theirs[3] = {-1, -1, -1};
    for (int fd = 0; fd < 3; ++fd) {
        int ends[2];
        if (streams[fd]->kind != Pipe || pipe2(ends, O_CLOEXEC) != 0)
            continue;
        theirs[fd] = ends[fd == 0 ? 0 : 1];
        *ours[fd] = ends[fd == 0 ? 1 : 0];
    }
    m_pid = fork();
    if (m_pid == 0) {
        for (int fd = 0; fd < 3; ++fd) {
            const Stream& s = *streams[fd];
            if (s.kind == Closed)
                close(fd);
            if (s.kind == Closed || s.kind == Inherit)
                continue;
            const int flags = fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
            const int from =
                s.kind == Pipe ? theirs[fd] : open(s.path.c_str(), flags | O_CLOEXEC, 0600);
            if (from < 0 || dup2(from, fd) < 0)
                _exit(127); // also when a pipe could not be made
        }
        // Without an exec nothing closes them for us; a pipe left open would never end.
        for (int fd = 0; fd < 3; ++fd) {
            close(theirs[fd]);
            close(*ours[fd]);
        }
        for (const std::string& change : options.env) {
            const std::size_t eq = change.find('=');
            if (eq == std::string::npos)
                unsetenv(change.c_str());
            else
                setenv(change.substr(0, eq).c_str(), change.c_str() + eq + 1, 1);
        }
        run();
        _exit(127);
    }
    for (const int fd : theirs)
        if (fd >= 0)
            close(fd);
}

void ChildProcess::ReadyAndWait() {
    if (WriteAll(STDOUT_FILENO, "ready\n"))
        for (;;)
            pause();
    _exit(3);
}

bool ChildProcess::Signal(int sig) const {
    return m_pid > 0 && kill(m_pid, sig) == 0;
}

int ChildProcess::Wait(int ms) {
    if (m_pid <= 0)
        return -1;
    // Readable once the process has ended (glibc's wrapper lacks C linkage in this version).
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
    const bool ended = fd >= 0 && (PollUntil(fd, POLLIN, FromNow(ms)) & POLLIN);
    if (fd >= 0)
        close(fd);
    int status = -1;
    if (!ended || waitpid(m_pid, &status, 0) != m_pid)
        return -1;
    m_pid = -1;
    return status;
}

bool ChildProcess::Write(const std::string& text) {
    return m_in >= 0 && WriteAll(m_in, text);
}

std::string ChildProcess::ReadLine(int ms) {
    const auto deadline = FromNow(ms);
    std::size_t eol;
    for (std::size_t from = 0; (eol = m_outPending.find('\n', from)) == std::string::npos;) {
        from = m_outPending.size();
        if (!ReadMore(m_out, m_outPending, deadline))
            return std::string();
    }
    std::string line = m_outPending.substr(0, eol);
    m_outPending.erase(0, eol + 1);
    return line;
}

std::string ChildProcess::ReadToEnd(int fd, std::string text, int ms) {
    const auto deadline = FromNow(ms);
    while (ReadMore(fd, text, deadline)) {
    }
    return text;
}

void ChildProcess::Close(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}
