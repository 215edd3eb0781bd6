#pragma once

#include "core/TextCodec.h"
#include "core/Types.h"

#include <string>

// What a port's device expects of the line and of an exchange: the speed and frame, how a
// command and a reply end, the silence that ends a reply and the text encoding. The default is
// the program's own: 19200 baud, 8N1, CR after a command, a reply ended by CR or one second of
// silence, and text taken as UTF-8 where it is, else as Windows-1252.
struct LineProfile {
    enum class Parity { None, Odd, Even, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };
    enum class CommandEnd { Cr, Lf, CrLf, None };
    enum class ReplyEnd { Cr, Lf, CrLf, Any };
    enum class Encoding { Auto, Windows1252, Utf8 };

    static constexpr DWORD kMinBaud = 50;
    static constexpr DWORD kMaxBaud = 4000000;
    static constexpr DWORD kMinTimeoutMs = 1;
    static constexpr DWORD kMaxTimeoutMs = 30000;

    DWORD baud = 19200;
    int dataBits = 8; // 5..8
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    CommandEnd commandEnd = CommandEnd::Cr;
    ReplyEnd replyEnd = ReplyEnd::Cr;
    DWORD timeoutMs = 1000;
    Encoding encoding = Encoding::Auto;

    bool IsDefault() const;

    // The codes CSerialPort::Open takes for the frame.
    DWORD ParityCode() const;
    DWORD DataBitsCode() const;
    DWORD StopBitsCode() const;
    // The bytes that end a command: "\r", "\n", "\r\n" or none.
    const char* CommandEndBytes() const;
    // The encoding as the codec names it.
    TextCodec::Encoding Codec() const;

    // One field by the name it has in a profile file and on a command line ("baud",
    // "data-bits", "parity", "stop-bits", "command-end", "reply-end", "timeout", "encoding").
    // False, with what is wrong in *pWhy, for an unknown name or a value the field cannot take.
    bool Set(const std::string& name, const std::string& value, std::string* pWhy);
    // True for a name Set takes.
    static bool IsSetting(const std::string& name);
    // What is wrong with the fields together (1.5 stop bits only with 5 data bits); empty when
    // nothing is.
    std::string Conflict() const;

    // A profile file: "name = value" lines in any order, blank lines and '#' comments; a field
    // not named keeps its default. False with the line (1-based, 0 when the fault is not one
    // line's) and what is wrong.
    static bool Parse(const std::string& text, LineProfile* pProfile, int* pLine,
                      std::string* pWhy);
    // The file's text for this profile, every field named, as a person would write it.
    std::string Format() const;
    // One line for a listing: "9600 7E1, command end lf, reply end lf, time-out 2000 ms".
    std::string Describe() const;
};
