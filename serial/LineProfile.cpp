#include "serial/LineProfile.h"

#include "core/OneLine.h"
#include "serial/CommTypes.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <type_traits>

namespace {

// The values of each word field, in the order of its enum.
const char* const kParityNames[] = {"none", "odd", "even", "mark", "space"};
const char* const kStopBitsNames[] = {"1", "1.5", "2"};
const char* const kCommandEndNames[] = {"cr", "lf", "crlf", "none"};
const char* const kReplyEndNames[] = {"cr", "lf", "crlf", "any"};
const char* const kEncodingNames[] = {"auto", "windows-1252", "utf-8"};
const char* const kDataBitsNames[] = {"5", "6", "7", "8"};

// The fields in the order a file names them.
const char* const kFieldNames[] = {"baud",      "data-bits",   "parity",
                                   "stop-bits", "command-end", "reply-end",
                                   "timeout",   "encoding",    "connect-timeout"};

// A value quoted in a reason is cut off after this many bytes.
constexpr std::size_t kLongestValueShown = 40;

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The index of a field's name, exactly as written, or -1.
int FieldIndex(const std::string& name) {
    for (std::size_t i = 0; i < std::size(kFieldNames); ++i)
        if (name == kFieldNames[i])
            return static_cast<int>(i);
    return -1;
}

// The index of value among names (letters in either case), or -1.
template <std::size_t N> int IndexOf(const char* const (&names)[N], const std::string& value) {
    for (std::size_t i = 0; i < N; ++i) {
        const std::string name = names[i];
        bool same = name.size() == value.size();
        for (std::size_t c = 0; same && c < name.size(); ++c)
            same = Lower(value[c]) == name[c];
        if (same)
            return static_cast<int>(i);
    }
    return -1;
}

// "none, odd, even, mark or space"
template <std::size_t N> std::string Listed(const char* const (&names)[N]) {
    std::string text;
    for (std::size_t i = 0; i < N; ++i)
        text += std::string(i == 0 ? "" : (i + 1 == N ? " or " : ", ")) + names[i];
    return text;
}

// A value as a reason quotes it.
std::string Shown(const std::string& value) {
    return Printable(value, kLongestValueShown);
}

// Decimal digits only, from min to max.
bool WholeNumber(const std::string& text, DWORD min, DWORD max, DWORD* pValue) {
    if (text.empty() || text.size() > 10)
        return false;
    unsigned long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value < min || value > max)
        return false;
    *pValue = static_cast<DWORD>(value);
    return true;
}

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

char ParityLetter(LineProfile::Parity parity) {
    return "NOEMS"[static_cast<int>(parity)];
}

} // namespace

bool LineProfile::IsDefault() const {
    const LineProfile standard;
    return baud == standard.baud && dataBits == standard.dataBits && parity == standard.parity &&
           stopBits == standard.stopBits && commandEnd == standard.commandEnd &&
           replyEnd == standard.replyEnd && timeoutMs == standard.timeoutMs &&
           encoding == standard.encoding && connectTimeoutMs == standard.connectTimeoutMs;
}

DWORD LineProfile::ParityCode() const {
    static const DWORD kCodes[] = {PARITY_NONE, PARITY_ODD, PARITY_EVEN, PARITY_MARK, PARITY_SPACE};
    return kCodes[static_cast<int>(parity)];
}

DWORD LineProfile::DataBitsCode() const {
    static const DWORD kCodes[] = {DATABITS_5, DATABITS_6, DATABITS_7, DATABITS_8};
    return (dataBits >= 5 && dataBits <= 8) ? kCodes[dataBits - 5] : 0;
}

DWORD LineProfile::StopBitsCode() const {
    static const DWORD kCodes[] = {STOPBITS_10, STOPBITS_15, STOPBITS_20};
    return kCodes[static_cast<int>(stopBits)];
}

const char* LineProfile::CommandEndBytes() const {
    static const char* const kBytes[] = {"\r", "\n", "\r\n", ""};
    return kBytes[static_cast<int>(commandEnd)];
}

TextCodec::Encoding LineProfile::Codec() const {
    switch (encoding) {
    case Encoding::Windows1252:
        return TextCodec::Encoding::Windows1252;
    case Encoding::Utf8:
        return TextCodec::Encoding::Utf8;
    case Encoding::Auto:
        break;
    }
    return TextCodec::Encoding::Auto;
}

bool LineProfile::IsSetting(const std::string& name) {
    return FieldIndex(name) >= 0;
}

bool LineProfile::Set(const std::string& name, const std::string& value, std::string* pWhy) {
    auto refuse = [&](const std::string& what) {
        *pWhy = what + ", not '" + Shown(value) + "'";
        return false;
    };
    // Each word field: its values, the sentence that lists them, where the index goes.
    auto word = [&](const auto& names, const char* what, auto* pField) {
        const int i = IndexOf(names, value);
        if (i < 0)
            return refuse(std::string(what) + Listed(names));
        *pField = static_cast<std::remove_pointer_t<decltype(pField)>>(i);
        return true;
    };
    if (name == "baud") {
        if (!WholeNumber(value, kMinBaud, kMaxBaud, &baud))
            return refuse("the baud rate is " + std::to_string(kMinBaud) + " to " +
                          std::to_string(kMaxBaud));
        return true;
    }
    if (name == "data-bits") {
        const int i = IndexOf(kDataBitsNames, value);
        if (i < 0)
            return refuse("the data bits are " + Listed(kDataBitsNames));
        dataBits = 5 + i;
        return true;
    }
    if (name == "parity")
        return word(kParityNames, "the parity is ", &parity);
    if (name == "stop-bits")
        return word(kStopBitsNames, "the stop bits are ", &stopBits);
    if (name == "command-end")
        return word(kCommandEndNames, "the command end is ", &commandEnd);
    if (name == "reply-end")
        return word(kReplyEndNames, "the reply end is ", &replyEnd);
    if (name == "timeout") {
        if (!WholeNumber(value, kMinTimeoutMs, kMaxTimeoutMs, &timeoutMs))
            return refuse("the time-out is " + std::to_string(kMinTimeoutMs) + " to " +
                          std::to_string(kMaxTimeoutMs) + " ms");
        return true;
    }
    if (name == "encoding")
        return word(kEncodingNames, "the encoding is ", &encoding);
    if (name == "connect-timeout") {
        if (!WholeNumber(value, kMinTimeoutMs, kMaxTimeoutMs, &connectTimeoutMs))
            return refuse("the connect time-out is " + std::to_string(kMinTimeoutMs) + " to " +
                          std::to_string(kMaxTimeoutMs) + " ms");
        return true;
    }
    *pWhy = "unknown setting '" + Shown(name) + "' (" + Listed(kFieldNames) + ")";
    return false;
}

std::string LineProfile::Conflict() const {
    // A UART makes 1.5 stop bits where 2 are asked for with 5 data bits, and only there.
    if (stopBits == StopBits::OneAndHalf && dataBits != 5)
        return "1.5 stop bits go with 5 data bits only, not " + std::to_string(dataBits);
    if (stopBits == StopBits::Two && dataBits == 5)
        return "5 data bits take 1 or 1.5 stop bits, not 2";
    return std::string();
}

bool LineProfile::Parse(const std::string& text, LineProfile* pProfile, int* pLine,
                        std::string* pWhy) {
    LineProfile profile;
    int setOn[std::size(kFieldNames)] = {};
    int line = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string content = text.substr(at, end - at);
        at = end + 1;
        ++line;
        content = Trimmed(content.substr(0, content.find('#')));
        // A file written with CR LF line ends reads the same.
        if (!content.empty() && content.back() == '\r')
            content = Trimmed(content.substr(0, content.size() - 1));
        if (content.empty())
            continue;
        *pLine = line;
        const std::size_t equals = content.find('=');
        const std::string name = Trimmed(content.substr(0, equals));
        if (equals == std::string::npos || name.empty()) {
            *pWhy = "'" + Shown(content) + "' is not a 'name = value' line";
            return false;
        }
        if (!profile.Set(name, Trimmed(content.substr(equals + 1)), pWhy))
            return false;
        int& first = setOn[FieldIndex(name)];
        if (first != 0) {
            *pWhy = name + " is set twice, on line " + std::to_string(first) + " and here";
            return false;
        }
        first = line;
    }
    const std::string conflict = profile.Conflict();
    if (!conflict.empty()) {
        // The later of the two lines that made it, if the file made it at all.
        *pLine = std::max(setOn[FieldIndex("data-bits")], setOn[FieldIndex("stop-bits")]);
        *pWhy = conflict;
        return false;
    }
    *pProfile = profile;
    return true;
}

std::string LineProfile::Format() const {
    const std::string timeouts =
        std::to_string(kMinTimeoutMs) + " to " + std::to_string(kMaxTimeoutMs) + " ms";
    std::string text =
        "# How MorvikSerialDemo talks to the device on this port (man morvik-ports).\n";
    text += "# One \"name = value\" a line; a name left out keeps its default; '#' begins a ";
    text += "comment.\n";
    text +=
        "#   baud         " + std::to_string(kMinBaud) + " to " + std::to_string(kMaxBaud) + "\n";
    text += "#   data-bits    " + Listed(kDataBitsNames) + "\n";
    text += "#   parity       " + Listed(kParityNames) + "\n";
    text += "#   stop-bits    1, 1.5 (with 5 data bits only) or 2\n";
    text += "#   command-end  " + Listed(kCommandEndNames) + ": what follows each command\n";
    text += "#   reply-end    " + Listed(kReplyEndNames) + " (cr or lf): what ends a reply\n";
    text += "#   timeout      the silence that also ends a reply, " + timeouts + "\n";
    text += "#   encoding     " + Listed(kEncodingNames) + "\n";
    text += "#   connect-timeout  a port on another machine: for its name, then its connection, " +
            timeouts + "\n";
    const std::string values[] = {std::to_string(baud),
                                  std::to_string(dataBits),
                                  kParityNames[static_cast<int>(parity)],
                                  kStopBitsNames[static_cast<int>(stopBits)],
                                  kCommandEndNames[static_cast<int>(commandEnd)],
                                  kReplyEndNames[static_cast<int>(replyEnd)],
                                  std::to_string(timeoutMs),
                                  kEncodingNames[static_cast<int>(encoding)],
                                  std::to_string(connectTimeoutMs)};
    for (std::size_t i = 0; i < std::size(kFieldNames); ++i)
        text += std::string(kFieldNames[i]) + " = " + values[i] + "\n";
    return text;
}

std::string LineProfile::Describe() const {
    const LineProfile standard;
    std::string text = std::to_string(baud) + " " + std::to_string(dataBits) +
                       ParityLetter(parity) + kStopBitsNames[static_cast<int>(stopBits)];
    if (commandEnd != standard.commandEnd)
        text += std::string(", command end ") + kCommandEndNames[static_cast<int>(commandEnd)];
    if (replyEnd != standard.replyEnd)
        text += std::string(", reply end ") + kReplyEndNames[static_cast<int>(replyEnd)];
    if (timeoutMs != standard.timeoutMs)
        text += ", time-out " + std::to_string(timeoutMs) + " ms";
    if (encoding != standard.encoding)
        text += std::string(", encoding ") + kEncodingNames[static_cast<int>(encoding)];
    if (connectTimeoutMs != standard.connectTimeoutMs)
        text += ", connect time-out " + std::to_string(connectTimeoutMs) + " ms";
    return text;
}
