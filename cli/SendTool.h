#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

class CSerialPort;

// morvik-send: MorvikSerialDemo's exchange from the command line. Each command goes out with a
// carriage return and each reply is printed on a line of its own, as the dialog lists it; with
// no command on the command line, the lines of the input are sent one by one as they come.
class SendTool {
public:
    // Exit statuses.
    static constexpr int kAnswered = 0;   // every reply had something in it
    static constexpr int kEmptyReply = 1; // a reply was empty ("Serial Error"), or no output
    static constexpr int kUsage = 2;
    static constexpr int kNoPort = 3; // the port could not be opened

    // The whole command line; returns the exit status.
    int Run(int argc, const char* const* argv, std::istream& in, std::ostream& out,
            std::ostream& err) const;

    // Bytes in printable ASCII as --raw prints a reply, or (json) as a JSON string's contents.
    static std::string Escape(const std::string& bytes, bool json);

private:
    enum class Format { Lines, Raw, Json };
    struct Options {
        unsigned long port = 1;
        std::string device;
        // The profile's fields given on the command line, name and value, in their order:
        // they override the port's profile.
        std::vector<std::pair<std::string, std::string>> settings;
        Format format = Format::Lines;
        bool help = false, version = false;
        std::vector<std::string> commands;
    };

    // Reads the command line into the options; empty when it is good, else what is wrong.
    std::string Parse(int argc, const char* const* argv, Options* pOptions) const;
    // One exchange, printed; false when the reply was empty.
    bool Exchange(CSerialPort& port, Format format, const std::string& command,
                  std::ostream& out) const;
};
