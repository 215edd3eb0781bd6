#pragma once

#include <functional>
#include <utility>
#include <string>
#include <vector>

#include <sys/types.h>

// A child process: a program started with its arguments, or a function run in a fork of this
// process. Each standard stream is this process's, a pipe to it, a file or closed. A child that
// still runs when the object dies is killed.
class ChildProcess {
public:
    enum Kind { Inherit, Pipe, File, Closed };
    struct Stream {
        Stream(Kind k = Inherit) : kind(k) {}
        // A file: read as standard input; made empty and written as standard output or error.
        Stream(std::string file) : kind(File), path(std::move(file)) {}
        Stream(const char* file) : Stream(std::string(file)) {}
        Kind kind;
        std::string path;
    };
    struct Options {
        Options(Stream in = {}, Stream out = {}, Stream err = {}, std::vector<std::string> env = {})
            : in(std::move(in)), out(std::move(out)), err(std::move(err)), env(std::move(env)) {}
        Stream in, out, err;
        // Changes to this process's environment: "NAME=value" sets NAME, "NAME" removes it.
        std::vector<std::string> env;
    };

    // argv[0] is the program's path.
    explicit ChildProcess(const std::vector<std::string>& argv, const Options& options = {});
    // The function's result is the child's exit status.
    explicit ChildProcess(const std::function<int()>& body, const Options& options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // For a forked function: says "ready" on standard output and waits to be ended.
    [[noreturn]] static void ReadyAndWait();

    // -1 when it could not be started, and once it has been waited for.
    pid_t Pid() const { return m_pid; }
    bool Signal(int sig) const;
    // The wait status once it has ended, or -1 when it has not within ms.
    int Wait(int ms);

    // On the pipes: all of text to standard input; one line of standard output without its
    // line end (empty when no whole line came within ms); what is left of standard output or
    // error up to its end (what came within ms).
    bool Write(const std::string& text);
    std::string ReadLine(int ms);
    std::string ReadOut(int ms) { return ReadToEnd(m_out, std::exchange(m_outPending, {}), ms); }
    std::string ReadErr(int ms) { return ReadToEnd(m_err, std::string(), ms); }
    void CloseIn() { Close(m_in); }
    void CloseOut() { Close(m_out); }

private:
    void Start(const std::function<void()>& run, const Options& options);
    std::string ReadToEnd(int fd, std::string text, int ms);
    static void Close(int& fd);

    pid_t m_pid = -1;
    int m_in = -1, m_out = -1, m_err = -1;
    std::string m_outPending; // standard output read past the last line ReadLine returned
};
