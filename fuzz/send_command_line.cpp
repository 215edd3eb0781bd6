// morvik-send's command line and standard input, run in process against a device that answers
// every command at once. The input: the arguments one a line, then a NUL byte and standard
// input. Port 1 and the device "ttyUSB0" are the harness's pseudo-terminal; every other port
// names nothing, and every --device and --log is taken inside the harness's machine, so that no
// real line is ever opened and no file written outside it. --wait goes with its value: a port
// that names nothing would be waited for.

#include "cli/SendTool.h"
#include "fuzz/Expect.h"
#include "tests/FakeMachine.h"
#include "testsupport/PtyDevice.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMaxArguments = 16;
// Each line of input is an exchange: enough to see several, few enough to stay fast.
constexpr std::size_t kMaxInputLines = 8;

struct Machine {
    Machine() {
        device.StartResponder([](const std::string& command) { return command; });
        machine.AddNode("ttyUSB0", device.SlavePath());
    }
    FakeMachine machine; // no machine ports: ports 2 to 4 name nothing
    PtyDevice device{1};
};

// A path below the machine's /dev, without a way up.
std::string Inside(const Machine& m, std::string path) {
    for (std::size_t at = path.find(".."); at != std::string::npos; at = path.find("..", at))
        path.replace(at, 2, "__");
    return m.machine.DevPath(path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Machine m;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string line = input.substr(0, nul);
    std::string standardInput = nul == std::string::npos ? "" : input.substr(nul + 1);
    std::size_t lines = 0;
    for (std::size_t at = standardInput.find('\n'); at != std::string::npos;
         at = standardInput.find('\n', at + 1))
        if (++lines == kMaxInputLines) {
            standardInput.resize(at + 1);
            break;
        }

    std::vector<std::string> args = {"morvik-send"};
    for (std::size_t from = 0;
         !line.empty() && from <= line.size() && args.size() <= kMaxArguments;) {
        std::size_t end = line.find('\n', from);
        if (end == std::string::npos)
            end = line.size();
        args.push_back(line.substr(from, end - from));
        from = end + 1;
    }
    // What follows --device or --log, or --device= or --log=, becomes a path inside the machine;
    // a log's name is never a device's.
    for (std::size_t i = 1; i < args.size(); ++i) {
        for (const std::string option : {"--device", "--log"}) {
            const std::string prefix = option == "--log" ? "log-" : "";
            if (args[i - 1] == option)
                args[i] = Inside(m, prefix + args[i]);
            else if (args[i].compare(0, option.size() + 1, option + "=") == 0)
                args[i] = option + "=" + Inside(m, prefix + args[i].substr(option.size() + 1));
        }
    }
    // --wait goes, with its value.
    for (std::size_t i = 1; i < args.size() && args[i] != "--";) {
        const auto at = args.begin() + static_cast<std::ptrdiff_t>(i);
        if (args[i].compare(0, 7, "--wait=") == 0)
            args.erase(at);
        else if (args[i] == "--wait")
            args.erase(at, at + std::min<std::ptrdiff_t>(2, args.end() - at));
        else
            ++i;
    }
    std::vector<const char*> argv;
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());

    std::istringstream in(standardInput);
    std::ostringstream out, err;
    const int status = SendTool().Run(static_cast<int>(argv.size()), argv.data(), in, out, err);
    // To see what an input does: MORVIK_FUZZ_SHOW=1 HARNESS FILE.
    if (std::getenv("MORVIK_FUZZ_SHOW"))
        std::fprintf(stderr, "status %d\n%s%s", status, out.str().c_str(), err.str().c_str());
    Expect(status >= SendTool::kAnswered && status <= SendTool::kGone, "a documented status");
    const std::string said = err.str();
    const bool usage =
        said.find("\nTry 'morvik-send --help' for more information.\n") != std::string::npos;
    if (status == SendTool::kUsage && !usage) {
        // Not the command line: a line of standard input with a NUL byte, a command that the
        // encoding cannot carry, or a log that cannot be opened; what came before it was sent.
        const bool nul = said.compare(0, 18, "morvik-send: line ") == 0 &&
                         said.find(" of the input holds a NUL byte") != std::string::npos;
        const bool uncarried = said.compare(0, 25, "morvik-send: cannot send ") == 0 &&
                               said.find(" is not in windows-1252\n") != std::string::npos;
        const bool log = said.compare(0, 33, "morvik-send: cannot open the log ") == 0;
        Expect((nul || uncarried || log) && said.find('\n') == said.size() - 1,
               "a line or a log refused, on a line of its own");
    } else if (status == SendTool::kUsage) {
        Expect(out.str().empty(), "no output for a wrong command line");
        Expect(said.compare(0, 13, "morvik-send: ") == 0,
               "a usage error that names the program and the help");
    } else if (status == SendTool::kNoPort) {
        Expect(said.compare(0, 13, "morvik-send: ") == 0 && said.back() == '\n',
               "the reason the port did not open, on a line of its own");
    }
    return 0;
}
