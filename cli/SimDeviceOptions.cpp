#include "cli/SimDeviceOptions.h"

#include "cli/WholeNumber.h"
#include "core/OneLine.h"

namespace {

constexpr const char* kProgram = "morvik-simdevice";

std::string Usage() {
    return std::string("Usage: ") + kProgram +
           " [--port N] [--ports DIR]\n"
           "Publishes a simulated device as COMN (default 1) in DIR (default "
           "$XDG_CONFIG_HOME/MorvikSerialDemo/ports).\n"
           "\n"
           "  --port N     the port number, 1 to 99 (also --port=N)\n"
           "  --ports DIR  the ports folder (also --ports=DIR)\n"
           "  --help       show this help and exit\n"
           "  --version    show the version and exit\n"
           "\n"
           "It answers commands ended by a carriage return (an LF after it is ignored): *IDN?,\n"
           "ECHO text, DELAY ms, CRLF, SILENT, STREAM, anything else with OK. A command is kept\n"
           "up to 1 MiB. Ctrl+C ends it.\n";
}

int UsageError(const std::string& what, std::string& err) {
    err = std::string(kProgram) + ": " + OneLine(what) + "\nTry '" + kProgram +
          " --help' for more information.\n";
    return 2;
}

} // namespace

int SimDeviceOptions::Parse(int argc, const char* const* argv, std::string& out, std::string& err) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "--version") {
            if (argc != 2)
                return UsageError("'" + arg + "' takes no other arguments", err);
            out = arg == "--help" ? Usage() : std::string(kProgram) + " " + MORVIK_VERSION + "\n";
            return 0;
        }
        // --name value or --name=value
        std::string value;
        const std::size_t equals = arg.find('=');
        const bool joined = arg.compare(0, 2, "--") == 0 && equals != std::string::npos;
        if (joined) {
            value = arg.substr(equals + 1);
            arg.erase(equals);
        }
        if (arg != "--port" && arg != "--ports")
            return UsageError("unexpected argument '" + std::string(argv[i]) + "'", err);
        if (!joined) {
            if (i + 1 >= argc)
                return UsageError(arg + " takes a value", err);
            value = argv[++i];
        }
        if (arg == "--port" && !ParseWholeNumber(value, 1, kMaxPort, &m_port))
            return UsageError("the port is a number from 1 to 99, not '" + value + "'", err);
        if (arg == "--ports" && value.empty())
            return UsageError("--ports takes a folder", err);
        if (arg == "--ports")
            m_portsFolder = value;
    }
    return kRun;
}
