#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

class CSerialPort;

// morvik-send: MorvikSerialDemo's exchange from the command line. Each command goes out in the
// port's encoding with the end the port's profile gives commands, and each reply is printed on a
// line of its own, as the dialog lists it; with no command on the command line, the lines of the
// input are sent one by one as they come.
class SendTool {
public:
    // Exit statuses.
    static constexpr int kAnswered = 0;   // every reply had something in it
    static constexpr int kEmptyReply = 1; // a reply was empty ("Serial Error"), or no output
    static constexpr int kUsage = 2;      // also a command the port's encoding cannot carry
    static constexpr int kNoPort = 3;     // the port could not be opened
    static constexpr int kGone = 4;       // the device went away while the port was open

    // The whole command line; returns the exit status.
    int Run(int argc, const char* const* argv, std::istream& in, std::ostream& out,
            std::ostream& err) const;

    // Bytes in printable ASCII as --raw prints a reply, or (json) as a JSON string's contents.
    static std::string Escape(const std::string& bytes, bool json);

private:
    enum class Format { Lines, Raw, Hex, Json };
    struct Options {
        unsigned long port = 1;
        std::string device;
        // The profile's fields given on the command line, name and value, in their order:
        // they override the port's profile.
        std::vector<std::pair<std::string, std::string>> settings;
        unsigned long waitSeconds = 0; // 0: no wait for the device
        std::string log;
        Format format = Format::Lines;
        bool help = false, version = false;
        std::vector<std::string> commands;
    };
    // How an exchange went.
    enum class Outcome { Answered, Empty, Gone };

    // Reads the command line into the options; empty when it is good, else what is wrong.
    std::string Parse(int argc, const char* const* argv, Options* pOptions) const;
    // Opens the port, waiting for its device first when told to; false when it cannot be had.
    bool OpenPort(CSerialPort& port, const Options& options) const;
    // One exchange of a command already in the port's encoding, printed.
    Outcome Exchange(CSerialPort& port, Format format, const std::string& command,
                     std::ostream& out) const;
};
