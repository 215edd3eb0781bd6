#include "cli/SendTool.h"

#include "cli/WholeNumber.h"
#include "core/OneLine.h"
#include "core/TextCodec.h"
#include "serial/Deadline.h"
#include "serial/PortWatch.h"
#include "serial/SerialPort.h"
#include "serial/comm.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* kProgram = "morvik-send";

void Usage(std::ostream& out) {
    out << "Usage: morvik-send [--port N | --device PATH] [OPTION]... [COMMAND]...\n"
           "Send each COMMAND to a serial device, ended as the port's profile says (a carriage\n"
           "return by default), and print each reply on a line of its own as MorvikSerialDemo\n"
           "lists it: read up to its end or a silence, without trailing white space, \"Serial\n"
           "Error\" when nothing came. With no COMMAND, send the lines of standard input, each\n"
           "as it comes. Text is in the port's encoding: by default commands go out in\n"
           "Windows-1252, and a reply is printed as UTF-8 text when it is one, else taken as\n"
           "Windows-1252.\n"
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
           "  --hex            print each reply's bytes in hexadecimal: 4f 4b 0d\n"
           "  --json           print one JSON object per exchange: command, reply, bytes, ms,\n"
           "                   ended (terminator, silence, cap, gone or failed)\n"
           "  --log FILE       append each exchange to FILE: the time, the command and the\n"
           "                   reply's bytes as --raw prints them, separated by tabs\n"
           "  --wait SECONDS   wait up to SECONDS (1 to 86400) for the port's device to appear\n"
           "  --help           show this help and exit\n"
           "  --version        show the version and exit\n"
           "\n"
           "Exit status: 0 every reply came, 1 a reply was empty, 2 wrong usage, a NUL byte in\n"
           "an input line or a command the port's encoding cannot carry, 3 the port could not\n"
           "be opened, 4 the device went away. morvik-ports --check says why a port will not\n"
           "open.\n";
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
    case SerialReply::Ending::Gone:
        return "gone";
    case SerialReply::Ending::Failed:
        break;
    }
    return "failed";
}

const char kHex[] = "0123456789abcdef";

// --wait waits at most a day.
constexpr unsigned long kLongestWaitSeconds = 86400;

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

// Each byte as two lower-case hexadecimal digits, a space between two bytes.
std::string Hex(const std::string& bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (!out.empty())
            out += ' ';
        out += {kHex[b >> 4], kHex[b & 15]};
    }
    return out;
}

// The bytes a command goes out as: UTF-8 text in the port's encoding; what is no UTF-8 text (a
// file in another encoding, binary) as it was given. False, with why, for a character the
// encoding cannot carry.
bool CommandBytes(const std::string& command, const LineProfile& profile, std::string* pBytes,
                  std::string* pWhy) {
    if (!TextCodec::IsUtf8(command)) {
        *pBytes = command;
        return true;
    }
    return TextCodec::Encode(command, profile.Codec(), pBytes, pWhy);
}

// Now, local time to the millisecond, as ISO 8601 writes it: 2026-05-04T14:03:07.412+02:00.
std::string IsoTimeNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char date[32], zone[8], text[80];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local);
    std::snprintf(text, sizeof text, "%s.%03ld%.3s:%s", date, now.tv_nsec / 1000000, zone,
                  zone + 3);
    return text;
}

// The file --log appends to: a line per exchange, each written at once, so that lines of other
// writers of the file never cut into one.
class ExchangeLog {
public:
    explicit ExchangeLog(const std::string& path)
        : m_fd(path.empty() ? -1 : RetryOnEintr([&] {
              return open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
          })) {}
    ~ExchangeLog() {
        if (m_fd >= 0)
            close(m_fd);
    }
    ExchangeLog(const ExchangeLog&) = delete;
    ExchangeLog& operator=(const ExchangeLog&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    bool Append(const std::string& command, const std::string& reply) const {
        const std::string line =
            IsoTimeNow() + '\t' + Escaped(command, false) + '\t' + Escaped(reply, false) + '\n';
        return RetryOnEintr([&] { return write(m_fd, line.data(), line.size()); }) ==
               static_cast<ssize_t>(line.size());
    }

private:
    int m_fd;
};

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
    bool named = false, given = false;
    std::vector<std::string> formats;
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
        if (arg == "--help" || arg == "--version" || arg == "--raw" || arg == "--hex" ||
            arg == "--json") {
            if (hasValue)
                return "'" + arg + "' takes no value";
            if ((arg == "--help" || arg == "--version") && argc != 2)
                return "'" + arg + "' takes no other arguments";
            o.help = o.help || arg == "--help";
            o.version = o.version || arg == "--version";
            if (arg != "--help" && arg != "--version" &&
                std::find(formats.begin(), formats.end(), arg) == formats.end())
                formats.push_back(arg);
            continue;
        }
        const std::string setting = arg.substr(2);
        const bool profile = arg.compare(0, 2, "--") == 0 && LineProfile::IsSetting(setting);
        if (!profile && arg != "--port" && arg != "--device" && arg != "--log" && arg != "--wait")
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
        } else if (arg == "--log") {
            if (value.empty())
                return "--log takes a file";
            o.log = value;
        } else if (arg == "--wait") {
            if (!ParseWholeNumber(value, 1, kLongestWaitSeconds, &o.waitSeconds))
                return "the wait is 1 to " + std::to_string(kLongestWaitSeconds) +
                       " seconds, not '" + value + "'";
        }
    }
    if (named && given)
        return "--port and --device exclude each other";
    if (formats.size() > 1)
        return formats[0] + " and " + formats[1] + " exclude each other";
    const std::string format = formats.empty() ? std::string() : formats[0];
    o.format = format == "--raw"    ? Format::Raw
               : format == "--hex"  ? Format::Hex
               : format == "--json" ? Format::Json
                                    : Format::Lines;
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
    const ExchangeLog log(options.log);
    if (!options.log.empty() && !log.IsOpen()) {
        err << kProgram << ": cannot open the log " << OneLine(options.log) << ": "
            << std::strerror(errno) << "\n";
        return kUsage;
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
    if (!OpenPort(port, options)) {
        err << kProgram << ": " << static_cast<const char*>(CommErrorMessage()) << "\n";
        return kNoPort;
    }

    // The bytes of a command, or the status to end with when the encoding cannot carry it.
    auto encoded = [&](const std::string& command, std::string* pBytes) {
        std::string why;
        if (CommandBytes(command, port.Profile(), pBytes, &why))
            return true;
        err << kProgram << ": cannot send '" << OneLine(command) << "': " << why << "\n";
        return false;
    };
    bool allAnswered = true;
    // The status to end with, or -1 to go on.
    auto exchange = [&](const std::string& bytes) {
        const Outcome outcome = Exchange(port, options.format, bytes, out);
        allAnswered = allAnswered && outcome == Outcome::Answered;
        if (log.IsOpen() && !log.Append(bytes, port.LastReply().bytes)) {
            err << kProgram << ": cannot write the log " << OneLine(options.log) << "\n";
            return kEmptyReply;
        }
        // Each reply as it comes, for whoever reads the other end of a pipe.
        if (!out.flush()) {
            err << kProgram << ": cannot write the output\n";
            return kEmptyReply;
        }
        if (outcome == Outcome::Gone) {
            // Said once; nothing more goes to a device that is not there.
            err << kProgram << ": " << static_cast<const char*>(CommGoneMessage(port.m_hPort))
                << "\n";
            return kGone;
        }
        return -1;
    };
    if (!options.commands.empty()) {
        // Nothing is sent unless every command can be.
        std::vector<std::string> commands(options.commands.size());
        for (std::size_t i = 0; i < commands.size(); ++i)
            if (!encoded(options.commands[i], &commands[i]))
                return kUsage;
        for (const std::string& command : commands)
            if (const int status = exchange(command); status >= 0)
                return status;
    } else {
        std::string line, command;
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
            if (!encoded(line, &command))
                return kUsage;
            if (const int status = exchange(command); status >= 0)
                return status;
        }
    }
    return allAnswered ? kAnswered : kEmptyReply;
}

bool SendTool::OpenPort(CSerialPort& port, const Options& options) const {
    const auto nPort = static_cast<DWORD>(options.port);
    const LineProfile& profile = port.Profile();
    auto open = [&] {
        return port.Open(nPort, profile.baud, profile.ParityCode(), profile.DataBitsCode(),
                         profile.StopBitsCode());
    };
    if (options.waitSeconds == 0)
        return open() == TRUE;
    // Watched before the first try, so that whatever happens after it wakes the wait.
    PortWatch watch(nPort);
    const Deadline deadline(static_cast<long long>(options.waitSeconds) * 1000);
    for (;;) {
        if (open())
            return true;
        // A device not there yet, or one that udev has not given its group yet: it appears
        // with the rights of root alone, and gets the group dialout a moment later.
        const DWORD why = CommGetLastError();
        if ((why != COMM_ERROR_NO_DEVICE && why != COMM_ERROR_ACCESS) ||
            !watch.WaitForChange(deadline.MsLeft()))
            return false;
    }
}

SendTool::Outcome SendTool::Exchange(CSerialPort& port, Format format, const std::string& command,
                                     std::ostream& out) const {
    const auto start = std::chrono::steady_clock::now();
    CString strReply;
    port.Exchange(command.c_str(), strReply);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    // The line the dialog lists; empty stands for "Serial Error".
    strReply.TrimRight();
    const SerialReply& reply = port.LastReply();
    switch (format) {
    case Format::Lines:
        // As text in the port's encoding, printed in UTF-8.
        out << (strReply.IsEmpty()
                    ? std::string("Serial Error")
                    : TextCodec::Decode(static_cast<const char*>(strReply), port.Profile().Codec()))
            << '\n';
        break;
    case Format::Raw:
        out << Escaped(reply.bytes, false) << '\n';
        break;
    case Format::Hex:
        out << Hex(reply.bytes) << '\n';
        break;
    case Format::Json: {
        char ms[32];
        std::snprintf(ms, sizeof ms, "%.3f", took.count());
        out << "{\"command\":" << JsonString(command) << ",\"reply\":" << JsonString(reply.bytes)
            << ",\"bytes\":" << reply.bytes.size() << ",\"ms\":" << ms << ",\"ended\":\""
            << EndingName(reply.ending) << "\"}\n";
        break;
    }
    }
    if (reply.ending == SerialReply::Ending::Gone)
        return Outcome::Gone;
    return strReply.IsEmpty() ? Outcome::Empty : Outcome::Answered;
}
