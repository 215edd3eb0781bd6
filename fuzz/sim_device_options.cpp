// morvik-simdevice's command line. The input: the arguments, one a line (a NUL byte ends an
// argument, as it would on a real command line). Checked against the grammar the help gives:
// an accepted line sets the port and the folder of the last --port and --ports, and every other
// line ends the program with the help, the version or one line of usage error.

#include "cli/SimDeviceOptions.h"
#include "cli/WholeNumber.h"
#include "fuzz/Expect.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMaxArguments = 8;
const char kUsageEnd[] = "Try 'morvik-simdevice --help' for more information.\n";

bool Printable(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args = {"morvik-simdevice"};
    for (std::size_t from = 0;
         !input.empty() && from <= input.size() && args.size() <= kMaxArguments;) {
        std::size_t end = input.find('\n', from);
        if (end == std::string::npos)
            end = input.size();
        const std::string arg = input.substr(from, end - from);
        args.push_back(arg.substr(0, arg.find('\0')));
        from = end + 1;
    }
    std::vector<const char*> argv;
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());

    SimDeviceOptions options;
    std::string out, err;
    const int status = options.Parse(static_cast<int>(argv.size()), argv.data(), out, err);
    // To see what an input does: MORVIK_FUZZ_SHOW=1 HARNESS FILE.
    if (std::getenv("MORVIK_FUZZ_SHOW"))
        std::fprintf(stderr, "status %d port %lu ports '%s'\n%s%s", status, options.Port(),
                     options.PortsFolder().c_str(), out.c_str(), err.c_str());

    if (status == 0) {
        Expect(err.empty() && args.size() == 2, "help or version alone");
        Expect(args[1] == "--help"
                   ? out.compare(0, 24, "Usage: morvik-simdevice ") == 0
                   : args[1] == "--version" && out.compare(0, 17, "morvik-simdevice ") == 0 &&
                         out.find('\n') == out.size() - 1,
               "the help or the version line");
        return 0;
    }
    if (status == 2) {
        const std::size_t first = err.find('\n');
        Expect(out.empty() && err.compare(0, 18, "morvik-simdevice: ") == 0 &&
                   first != std::string::npos && Printable(err.substr(0, first)) &&
                   err.compare(first + 1, std::string::npos, kUsageEnd) == 0,
               "a usage error of one line, then the way to the help");
        return 0;
    }
    Expect(status == SimDeviceOptions::kRun && out.empty() && err.empty(), "a documented status");

    // Run: every argument an option with its value, the last of each counting.
    std::string port = "1", folder;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        Expect(name == "--port" || name == "--ports", "only --port and --ports accepted");
        std::string value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else {
            Expect(i + 1 < args.size(), "an option's value");
            value = args[++i];
        }
        (name == "--port" ? port : folder) = value;
    }
    unsigned long number = 0;
    Expect(ParseWholeNumber(port, 1, SimDeviceOptions::kMaxPort, &number) &&
               number == options.Port(),
           "the last port given, a whole number from 1 to 99");
    Expect(options.PortsFolder() == folder, "the last folder given");
    return 0;
}
