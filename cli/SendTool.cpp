#include "cli/SendTool.h"

#include "cli/WholeNumber.h"
#include "core/OneLine.h"
#include "serial/SerialPort.h"
#include "serial/comm.h"

#include <chrono>
#include <initializer_list>
#include <cstdio>
#include <utility>

namespace {

constexpr const char* kProgram = "morvik-send";

void Usage(std::ostream& out) {
    out << "Usage: morvik-send [--port N | --device PATH] [OPTION]... [COMMAND]...\n"
           "Send each COMMAND to a serial device with a carriage return, and print each reply\n"
           "on a line of its own as MorvikSerialDemo lists it: read up to a carriage return or\n"
           "a silence, without trailing white space, \"Serial Error\" when nothing came. With no\n"
           "COMMAND, send the lines of standard input, each as it comes.\n"
           "\n"
           "  --port N         port N, 1 to 4, as MorvikSerialDemo finds it (default 1)\n"
           "  --device PATH    the serial line PATH instead of a port\n"
           "  --baud RATE      50 to 4000000 (default 19200)\n"
           "  --parity P       none, odd, even, mark or space (default none)\n"
           "  --data-bits N    5, 6, 7 or 8 (default 8)\n"
           "  --stop-bits N    1, 1.5 (with 5 data bits only) or 2 (default 1)\n"
           "  --command-end E  cr, lf, crlf or none: what follows each command (default cr)\n"
           "  --reply-end E    cr, lf, crlf or any (cr or lf): what ends a reply (default cr)\n"
           "  --timeout MS     the silence that ends a reply, 1 to 30000 ms (default 1000)\n"
           "  --encoding E     auto, windows-1252 or utf-8 (default auto)\n"
           "                   Port N's profile (morvik-ports --assign) replaces these\n"
           "                   defaults; the options override both.\n"
           "  --raw            print each reply's bytes untrimmed: \\r \\n \\t \\\\ and \\xHH for\n"
           "                   anything else outside printable ASCII\n"
           "  --json           print one JSON object per exchange: command, reply, bytes, ms,\n"
           "                   ended (terminator, silence, cap or failed)\n"
           "  --help           show this help and exit\n"
           "  --version        show the version and exit\n"
           "\n"
           "Exit status: 0 every reply came, 1 a reply was empty, 2 wrong usage or a NUL byte\n"
           "in an input line, 3 the port could not be opened. morvik-ports --check says why a\n"
           "port will not open.\n";
}

// How a reply ended, as --json names it.
const char* EndingName(SerialReply::Ending ending) {
    switch (ending) {
    case SerialReply::Ending::Terminator:
        return "terminator";
    case SerialReply::Ending::Silence:
        return "silence";
    case SerialReply::Ending::Cap:
        return "cap";
    case SerialReply::Ending::Failed:
        break;
    }
    return "failed";
}

const char kHex[] = "0123456789abcdef";

// In printable ASCII, so that the bytes can be had back: \r, \n, \t and \\ (in JSON \" too),
// any other byte outside printable ASCII as \xHH, or in JSON as the character of the same code
// point, \u00HH.
std::string Escaped(const std::string& bytes, bool json) {
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\' || (json && c == '"'))
            out += {'\\', c};
        else if (b >= 0x20 && b < 0x7f)
            out += c;
        else if (json)
            out += {'\\', 'u', '0', '0', kHex[b >> 4], kHex[b & 15]};
        else
            out += {'\\', 'x', kHex[b >> 4], kHex[b & 15]};
    }
    return out;
}

std::string JsonString(const std::string& bytes) {
    return "\"" + Escaped(bytes, true) + "\"";
}

// Undoes a port's device given for one run when the run ends, however it ends.
class DefinedPort {
public:
    DefinedPort(DWORD nPort, const std::string& device) : m_nPort(nPort) {
        if (!device.empty())
            CommDefinePort(nPort, device.c_str());
    }
    ~DefinedPort() { CommDefinePort(m_nPort, nullptr); }
    DefinedPort(const DefinedPort&) = delete;
    DefinedPort& operator=(const DefinedPort&) = delete;

private:
    DWORD m_nPort;
};

} // namespace

std::string SendTool::Escape(const std::string& bytes, bool json) {
    return Escaped(bytes, json);
}

std::string SendTool::Parse(int argc, const char* const* argv, Options* pOptions) const {
    Options& o = *pOptions;
    // Each value is checked as it comes, as the port's profile file would have it.
    LineProfile checked;
    bool named = false, given = false, raw = false, json = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            o.commands.insert(o.commands.end(), argv + i + 1, argv + argc);
            break;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            o.commands.push_back(arg);
            continue;
        }
        // --name value or --name=value
        std::string value;
        bool hasValue = false;
        const std::size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.erase(equals);
            hasValue = true;
        }
        if (arg == "--help" || arg == "--version" || arg == "--raw" || arg == "--json") {
            if (hasValue)
                return "'" + arg + "' takes no value";
            if ((arg == "--help" || arg == "--version") && argc != 2)
                return "'" + arg + "' takes no other arguments";
            o.help = o.help || arg == "--help";
            o.version = o.version || arg == "--version";
            raw = raw || arg == "--raw";
            json = json || arg == "--json";
            continue;
        }
        const std::string setting = arg.substr(2);
        const bool profile = arg.compare(0, 2, "--") == 0 && LineProfile::IsSetting(setting);
        if (!profile && arg != "--port" && arg != "--device")
            return "unknown option '" + arg + "'";
        if (!hasValue) {
            if (i + 1 >= argc)
                return arg + " takes a value";
            value = argv[++i];
        }
        if (profile) {
            std::string why;
            if (!checked.Set(setting, value, &why))
                return why;
            o.settings.emplace_back(setting, value);
            continue;
        }
        if (arg == "--port") {
            if (!ParseWholeNumber(value, kFirstPort, kLastPort, &o.port))
                return "the port number is " + std::to_string(kFirstPort) + " to " +
                       std::to_string(kLastPort) + ", not '" + value + "'";
            named = true;
        } else if (arg == "--device") {
            if (value.empty())
                return "--device takes a path";
            o.device = value;
            given = true;
        }
    }
    if (named && given)
        return "--port and --device exclude each other";
    if (raw && json)
        return "--raw and --json exclude each other";
    o.format = raw ? Format::Raw : json ? Format::Json : Format::Lines;
    return std::string();
}

int SendTool::Run(int argc, const char* const* argv, std::istream& in, std::ostream& out,
                  std::ostream& err) const {
    Options options;
    const std::string wrong = Parse(argc, argv, &options);
    if (!wrong.empty()) {
        err << kProgram << ": " << OneLine(wrong)
            << "\nTry 'morvik-send --help' for more information.\n";
        return kUsage;
    }
    if (options.help || options.version) {
        if (options.help)
            Usage(out);
        else
            out << kProgram << " " << MORVIK_VERSION << "\n";
        return out.flush() ? kAnswered : kEmptyReply;
    }

    // Replies that cannot be shown are not asked for: nothing goes to the device.
    if (!out) {
        err << kProgram << ": cannot write the output\n";
        return kEmptyReply;
    }
    // A device given by path is a port of its own for this run, checked as any other.
    const DWORD nPort = static_cast<DWORD>(options.port);
    const DefinedPort defined(nPort, options.device);
    // The port's profile with the command line's settings over it; a device given by path has
    // the default profile.
    LineProfile profile;
    if (!CommLoadProfile(nPort, &profile)) {
        err << kProgram << ": " << static_cast<const char*>(CommErrorMessage()) << "\n";
        return kNoPort;
    }
    std::string why;
    for (const auto& setting : options.settings)
        profile.Set(setting.first, setting.second, &why);
    why = profile.Conflict();
    if (!why.empty()) {
        err << kProgram << ": " << why << "\nTry 'morvik-send --help' for more information.\n";
        return kUsage;
    }
    CSerialPort port;
    port.SetProfile(profile);
    if (!port.Open(nPort, profile.baud, profile.ParityCode(), profile.DataBitsCode(),
                   profile.StopBitsCode())) {
        err << kProgram << ": " << static_cast<const char*>(CommErrorMessage()) << "\n";
        return kNoPort;
    }

    bool allAnswered = true;
    auto exchange = [&](const std::string& command) {
        allAnswered = Exchange(port, options.format, command, out) && allAnswered;
        // Each reply as it comes, for whoever reads the other end of a pipe.
        if (out.flush())
            return true;
        err << kProgram << ": cannot write the output\n";
        return false;
    };
    if (!options.commands.empty()) {
        for (const std::string& command : options.commands)
            if (!exchange(command))
                return kEmptyReply;
    } else {
        std::string line;
        for (unsigned long number = 1; std::getline(in, line); ++number) {
            // A file written with CR LF line ends would send each command twice over.
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            // The line would be sent cut at the NUL byte (the port takes text), and a device
            // would take the rest for another command: nothing of it goes out.
            if (line.find('\0') != std::string::npos) {
                err << kProgram << ": line " << number
                    << " of the input holds a NUL byte, which a command cannot; it was not sent\n";
                return kUsage;
            }
            if (!exchange(line))
                return kEmptyReply;
        }
    }
    return allAnswered ? kAnswered : kEmptyReply;
}

bool SendTool::Exchange(CSerialPort& port, Format format, const std::string& command,
                        std::ostream& out) const {
    const auto start = std::chrono::steady_clock::now();
    CString strReply;
    port.Exchange(command.c_str(), strReply);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    // The line the dialog lists; empty stands for "Serial Error".
    strReply.TrimRight();
    const SerialReply& reply = port.LastReply();
    if (format == Format::Lines) {
        out << (strReply.IsEmpty() ? "Serial Error" : static_cast<const char*>(strReply)) << '\n';
    } else if (format == Format::Raw) {
        out << Escaped(reply.bytes, false) << '\n';
    } else {
        char ms[32];
        std::snprintf(ms, sizeof ms, "%.3f", took.count());
        out << "{\"command\":" << JsonString(command) << ",\"reply\":" << JsonString(reply.bytes)
            << ",\"bytes\":" << reply.bytes.size() << ",\"ms\":" << ms << ",\"ended\":\""
            << EndingName(reply.ending) << "\"}\n";
    }
    return !strReply.IsEmpty();
}
