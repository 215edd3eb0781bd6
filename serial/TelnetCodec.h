#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The Telnet stream of a connection (RFC 854, 855): data bytes, where 0xFF travels doubled, and
// commands among them, option negotiation (WILL, WONT, DO, DONT) and subnegotiations (SB ... SE).
// Reading keeps its place between chunks, so a command may be cut anywhere.
class TelnetCodec {
public:
    static constexpr unsigned char kIac = 255;
    static constexpr unsigned char kDont = 254;
    static constexpr unsigned char kDo = 253;
    static constexpr unsigned char kWont = 252;
    static constexpr unsigned char kWill = 251;
    static constexpr unsigned char kSb = 250;
    static constexpr unsigned char kSe = 240;
    // A subnegotiation longer than this is no answer a client waits for: cut off and said so.
    static constexpr std::size_t kLongestSubnegotiation = 256;

    struct Event {
        enum class Kind {
            Negotiation,    // verb (WILL, WONT, DO, DONT) and option
            Subnegotiation, // option and payload, 0xFF undoubled
            Overlong,       // a subnegotiation of option ran past kLongestSubnegotiation
        };
        Kind kind = Kind::Negotiation;
        unsigned char verb = 0;
        unsigned char option = 0;
        std::string payload;
        std::size_t dataAt = 0; // how many data bytes of this Decode came before it
    };

    // Decodes n bytes of the stream: the data bytes go to out (there is room for n), the
    // commands to *pEvents (appended, in order; other commands, NOP and the like, are dropped).
    // Returns how many data bytes were written.
    std::size_t Decode(const unsigned char* in, std::size_t n, unsigned char* out,
                       std::vector<Event>* pEvents);

    // True when the stream read so far stops inside a command: its rest is still to come.
    bool InCommand() const { return m_state != State::Data; }

    // Data bytes for the stream: every 0xFF doubled.
    static void AppendEscaped(const unsigned char* data, std::size_t n, std::string* pOut);
    static std::string Negotiation(unsigned char verb, unsigned char option);
    static std::string Subnegotiation(unsigned char option, const std::string& payload);

private:
    enum class State { Data, Iac, Verb, SbOption, SbData, SbIac };
    State m_state = State::Data;
    unsigned char m_verb = 0;
    Event m_sb;
    bool m_overlong = false;
};
