// morvik-simdevice's commands: the bytes a program sends, arriving in pieces, answered as the
// device's table says, each command logged on one line, and the device answering afresh after
// the program lets go. The input: a byte that gives the size of the pieces (1 to 256), then the
// bytes. The replies go to a pipe of the harness's own; the clock is not waited for.

#include "cli/SimulatedDevice.h"
#include "fuzz/Expect.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

const char kIdentity[] = "MORVIK,SIM-1,0001,1.0\r";

// What a command is answered with at once, as the device's table says; "" for none.
std::string ReplyTo(const std::string& command) {
    if (command == "*IDN?")
        return kIdentity;
    if (command.compare(0, 5, "ECHO ") == 0)
        return command.substr(5) + "\r";
    if (command.compare(0, 6, "DELAY ") == 0 || command == "SILENT" || command == "STREAM")
        return "";
    return command == "CRLF" ? "OK\r\n" : "OK\r";
}

struct Line {
    Line() { Expect(pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0, "a pipe for the replies"); }
    // What the device wrote so far, taken while it waits for room.
    std::string Take(SimulatedDevice& device) {
        std::string taken;
        char buffer[65536];
        for (;;) {
            const ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n > 0) {
                taken.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            Expect(n < 0 && errno == EAGAIN, "the pipe open");
            if (!device.Unsent())
                return taken;
            device.Flush();
        }
    }
    int fds[2];
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Line line;
    if (size == 0)
        return 0;
    const std::size_t piece = data[0] + 1u;
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    char* logged = nullptr;
    std::size_t loggedSize = 0;
    std::FILE* log = open_memstream(&logged, &loggedSize);
    Expect(log != nullptr, "a log in memory");
    SimulatedDevice device(line.fds[1], log);

    std::string replies, expected, command, last;
    std::size_t commands = 0;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        device.Receive(bytes.data() + at, std::min(piece, bytes.size() - at));
        replies += line.Take(device);
    }
    for (const char c : bytes) {
        if (c == '\n' && command.empty())
            continue;
        if (c != '\r') {
            if (command.size() < SimulatedDevice::kMaxCommandBytes)
                command += c;
            continue;
        }
        ++commands;
        expected += ReplyTo(command);
        last = command;
        command.clear();
    }
    Expect(replies == expected, "each command answered at once as the table says");

    // What is still to come: a delayed reply within its bound, a stream at once.
    const int ms = device.MsToNextEvent();
    const bool delayed = commands > 0 && last.compare(0, 6, "DELAY ") == 0;
    if (delayed)
        Expect(ms >= 0 && ms <= SimulatedDevice::kMaxDelayMs, "a delay within its bound");
    else if (commands > 0 && last == "STREAM")
        Expect(ms == 0, "a stream that begins at once");
    else
        Expect(ms == -1, "nothing to come after an answered command");
    if (ms == 0) {
        device.Tick();
        const std::string now = line.Take(device);
        Expect(now == (delayed ? "DONE\r" : "0123456789"), "what was due sent when due");
    }

    // The program lets go; the next one is answered afresh, whatever was half received.
    device.Reset();
    device.Receive("*IDN?\r", 6);
    Expect(line.Take(device) == kIdentity && device.MsToNextEvent() == -1,
           "the identity after a reset");
    ++commands;

    std::fclose(log);
    const std::string text(logged, loggedSize);
    std::free(logged);
    std::size_t lines = 0;
    for (std::size_t from = 0; from < text.size(); ++lines) {
        const std::size_t end = text.find('\n', from);
        Expect(end != std::string::npos && text.compare(from, 9, "command: ") == 0,
               "a log of whole lines, one a command");
        for (std::size_t i = from; i < end; ++i)
            Expect(static_cast<unsigned char>(text[i]) >= 0x20 && text[i] != 0x7f,
                   "no control character in the log");
        from = end + 1;
    }
    Expect(lines == commands, "one log line a command");
    return 0;
}
