#include "serial/Rfc2217Line.h"

#include "core/OneLine.h"
#include "serial/Deadline.h"

#include <cerrno>
#include <cstring>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

using Codec = TelnetCodec;

constexpr unsigned char kBinary = 0;
constexpr unsigned char kSuppressGoAhead = 3;

// The options a client of a com port takes, both ways; COM-PORT-OPTION is the client's to
// offer (WILL), though some servers offer it themselves.
bool Wanted(unsigned char option) {
    return option == kBinary || option == kSuppressGoAhead || option == Rfc2217Line::kComPortOption;
}

constexpr unsigned char kPurgeReceived = 1; // PURGE-DATA: the server's receive buffer
constexpr unsigned char kNoFlowControl = 1; // SET-CONTROL values
constexpr unsigned char kDtrOn = 8;
constexpr unsigned char kDtrOff = 9;
// SET-PARITY and SET-STOPSIZE values by the DCB's codes.
constexpr unsigned char kParityValues[] = {1, 2, 3, 4, 5}; // none, odd, even, mark, space
constexpr unsigned char kStopValues[] = {1, 3, 2};         // 1, 1.5, 2

std::string Byte(unsigned value) {
    return std::string(1, static_cast<char>(value & 0xff));
}

std::string BigEndian32(DWORD value) {
    return Byte(value >> 24) + Byte(value >> 16) + Byte(value >> 8) + Byte(value);
}

DWORD FromBigEndian32(const std::string& bytes) {
    DWORD value = 0;
    for (const char c : bytes)
        value = (value << 8) | static_cast<unsigned char>(c);
    return value;
}

} // namespace

void Rfc2217Line::AckNow() {
    const int on = 1;
    setsockopt(Fd(), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

void Rfc2217Line::Send(const std::string& bytes) {
    const Deadline deadline(kAnswerMs);
    std::size_t sent = 0;
    SendAll(bytes.data(), bytes.size(), deadline, &sent);
}

void Rfc2217Line::Handle(const TelnetCodec::Event& e) {
    if (e.kind == Codec::Event::Kind::Overlong) {
        m_overlong = true;
        return;
    }
    if (e.kind == Codec::Event::Kind::Subnegotiation) {
        // The server's answers: the command's code + 100, then its value.
        if (e.option != kComPortOption || e.payload.empty())
            return;
        const auto code = static_cast<unsigned char>(e.payload[0]);
        if (code >= 100 && code - 100 < static_cast<int>(std::size(m_answers))) {
            Answer& a = m_answers[code - 100];
            a.came = true;
            a.value = e.payload.substr(1);
            a.dataAt = e.dataAt;
        }
        return;
    }
    ++m_negotiations;
    const unsigned char o = e.option;
    // Answered only where the state changes, so that two sides never answer each other for
    // ever (RFC 854).
    switch (e.verb) {
    case Codec::kDo:
        if (Wanted(o) && !m_us[o]) {
            m_us[o] = true;
            if (!m_askedUs[o])
                Send(Codec::Negotiation(Codec::kWill, o));
        } else if (!Wanted(o)) {
            Send(Codec::Negotiation(Codec::kWont, o));
        }
        m_askedUs[o] = false;
        break;
    case Codec::kDont:
        if (o == kComPortOption && (m_askedUs[o] || !m_us[o]))
            m_comPortRefused = !m_him[o];
        if (m_us[o]) {
            m_us[o] = false;
            Send(Codec::Negotiation(Codec::kWont, o));
        }
        m_askedUs[o] = false;
        break;
    case Codec::kWill:
        // ECHO and whatever else a server offers are refused: the bytes are the device's.
        if (Wanted(o) && !m_him[o]) {
            m_him[o] = true;
            if (!m_askedHim[o])
                Send(Codec::Negotiation(Codec::kDo, o));
        } else if (!Wanted(o)) {
            Send(Codec::Negotiation(Codec::kDont, o));
        }
        m_askedHim[o] = false;
        break;
    case Codec::kWont:
        if (m_him[o]) {
            m_him[o] = false;
            Send(Codec::Negotiation(Codec::kDont, o));
        }
        m_askedHim[o] = false;
        break;
    default:
        break;
    }
}

ssize_t Rfc2217Line::Pump(unsigned char* out, std::size_t size, std::size_t* pData) {
    *pData = 0;
    // Decoding never makes more data than it reads.
    const std::size_t want = std::min(size, sizeof m_raw);
    const ssize_t n = RetryOnEintr([&] { return recv(Fd(), m_raw, want, MSG_DONTWAIT); });
    if (n <= 0)
        return n;
    m_events.clear();
    *pData = m_codec.Decode(m_raw, static_cast<std::size_t>(n), out, &m_events);
    for (const TelnetCodec::Event& e : m_events)
        Handle(e);
    // A server that writes an answer in pieces, with Nagle's algorithm on, holds the rest until
    // we ACK the first, which the kernel would delay some 40 ms: ACK at once.
    if (m_codec.InCommand())
        AckNow();
    return n;
}

template <class Done>
bool Rfc2217Line::WaitUntil(Done done, const Deadline& deadline, const char* what) {
    unsigned char data[sizeof m_raw];
    m_negotiations = 0;
    while (!done()) {
        if (m_overlong)
            return Failed(COMM_ERROR_SERVER, EPROTO,
                          std::string("the server sent a subnegotiation longer than ") +
                              std::to_string(TelnetCodec::kLongestSubnegotiation) +
                              " bytes while " + what);
        if (m_negotiations > kMostNegotiations)
            return Failed(COMM_ERROR_SERVER, EPROTO,
                          std::string("the server negotiates without end (") +
                              std::to_string(m_negotiations) + " commands) while " + what);
        std::size_t got = 0;
        const ssize_t n = Pump(data, sizeof data, &got);
        KeepText(data, got);
        // A server that said why and closed resets the connection when it is sent more.
        if (n == 0 || (n < 0 && (errno == ECONNRESET || errno == EPIPE)))
            return Failed(COMM_ERROR_SERVER, ECONNRESET, ClosedReason());
        if (n < 0 && errno != EAGAIN)
            return Failed(COMM_ERROR_SERVER, errno,
                          std::string("the connection failed while ") + what + " (" +
                              std::strerror(errno) + ")");
        // A server that keeps talking without answering is waited for no longer than a silent
        // one.
        const Deadline::Wait w =
            n > 0 ? (deadline.MsLeft() > 0 ? Deadline::Wait::Ready : Deadline::Wait::TimedOut)
                  : deadline.For(Fd(), POLLIN);
        if (w == Deadline::Wait::TimedOut && !done())
            return Failed(COMM_ERROR_SERVER, ETIMEDOUT,
                          std::string("no answer from the server within ") +
                              std::to_string(kAnswerMs / 1000) + " s while " + what);
        if (w == Deadline::Wait::Failed)
            return Failed(COMM_ERROR_SERVER, errno,
                          std::string("the connection failed while ") + what);
        // Ready or hung up: the next recv() says which.
    }
    m_negotiations = 0;
    return true;
}

bool Rfc2217Line::Start() {
    Send(Codec::Negotiation(Codec::kWill, kBinary) + Codec::Negotiation(Codec::kDo, kBinary) +
         Codec::Negotiation(Codec::kWill, kSuppressGoAhead) +
         Codec::Negotiation(Codec::kDo, kSuppressGoAhead) +
         Codec::Negotiation(Codec::kWill, kComPortOption));
    m_askedUs[kBinary] = m_askedHim[kBinary] = true;
    m_askedUs[kSuppressGoAhead] = m_askedHim[kSuppressGoAhead] = true;
    m_askedUs[kComPortOption] = true;
    const Deadline deadline(kAnswerMs);
    const bool settled =
        WaitUntil([&] { return m_us[kComPortOption] || m_him[kComPortOption] || m_comPortRefused; },
                  deadline, "negotiating the Telnet options");
    if (settled && m_comPortRefused)
        return Failed(COMM_ERROR_SERVER, EPROTONOSUPPORT,
                      "the server does not take RFC 2217's COM-PORT-OPTION (a raw TCP port is "
                      "named socket://" +
                          Address().HostAndPort() + ")");
    return settled;
}

bool Rfc2217Line::Ask(Command command, const std::string& value, const char* what) {
    m_answers[command] = Answer();
    Send(Codec::Subnegotiation(kComPortOption, Byte(command) + value));
    const Deadline deadline(kAnswerMs);
    return WaitUntil([&] { return m_answers[command].came; }, deadline, what);
}

bool Rfc2217Line::Apply(const DCB& dcb) {
    if (dcb.Parity >= std::size(kParityValues) || dcb.StopBits >= std::size(kStopValues) ||
        dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.BaudRate == 0)
        return Failed(COMM_ERROR_SETTINGS, EINVAL, "");
    struct Setting {
        Command command;
        std::string value;
        const char* what; // while doing what
        const char* name; // how the refusal names it
    };
    const Setting settings[] = {
        {kSetBaudRate, BigEndian32(dcb.BaudRate), "setting the baud rate", "baud"},
        {kSetDataSize, Byte(dcb.ByteSize), "setting the data bits", "data bits"},
        {kSetParity, Byte(kParityValues[dcb.Parity]), "setting the parity", "parity"},
        {kSetStopSize, Byte(kStopValues[dcb.StopBits]), "setting the stop bits", "stop bits"},
    };
    for (const Setting& s : settings) {
        if (!Ask(s.command, s.value, s.what))
            return false;
        const std::string& answer = m_answers[s.command].value;
        if (answer.size() != s.value.size())
            return Failed(COMM_ERROR_SERVER, EPROTO,
                          std::string("the server answered ") + s.what + " with " +
                              std::to_string(answer.size()) + " bytes, not " +
                              std::to_string(s.value.size()));
        if (answer == s.value)
            continue;
        const DWORD asked = FromBigEndian32(s.value), got = FromBigEndian32(answer);
        if (s.command == kSetBaudRate)
            return Failed(COMM_ERROR_SETTINGS, EINVAL,
                          "the server runs " + std::to_string(got) + " baud, not the " +
                              std::to_string(asked) + " asked for");
        return Failed(COMM_ERROR_SETTINGS, EINVAL,
                      std::string("the server set the ") + s.name + " to " + std::to_string(got) +
                          ", not " + std::to_string(asked) +
                          (s.command == kSetDataSize ? "" : " (RFC 2217's values)"));
    }
    // Servers differ in whether they acknowledge these (ser2net on a pseudo-terminal never
    // does): sent, not waited for.
    Send(Codec::Subnegotiation(kComPortOption, Byte(kSetControl) + Byte(kNoFlowControl)) +
         Codec::Subnegotiation(
             kComPortOption,
             Byte(kSetControl) + Byte(dcb.fDtrControl == DTR_CONTROL_DISABLE ? kDtrOff : kDtrOn)));
    // A server that acknowledges one of them sends that and the next purge's acknowledgement
    // back to back; the second waits for our ACK as above.
    AckNow();
    m_dcb = dcb;
    return true;
}

bool Rfc2217Line::Purge(unsigned char* buffer, std::size_t size, std::size_t* pKept) {
    *pKept = 0;
    m_answers[kPurgeData] = Answer();
    Send(Codec::Subnegotiation(kComPortOption, Byte(kPurgeData) + Byte(kPurgeReceived)));
    // A server that never acknowledged one is not waited for again: what came is dropped.
    const Deadline deadline(m_purgeUnanswered ? 0 : kAnswerMs);
    for (;;) {
        std::size_t got = 0;
        const ssize_t n = Pump(buffer, size, &got);
        if (n > 0 && m_answers[kPurgeData].came) {
            // What the server sent after its acknowledgement is the device's new talk.
            const std::size_t at = m_answers[kPurgeData].dataAt;
            *pKept = got - at;
            std::memmove(buffer, buffer + at, *pKept);
            return true;
        }
        if (n == 0 || (n < 0 && errno != EAGAIN))
            return n == 0; // the end stays for the next read to find
        // A device that keeps talking is purged no longer than a silent one is waited for.
        const Deadline::Wait w = deadline.MsLeft() == 0
                                     ? Deadline::Wait::TimedOut
                                     : (n > 0 ? Deadline::Wait::Ready : deadline.For(Fd(), POLLIN));
        if (w == Deadline::Wait::TimedOut) {
            m_purgeUnanswered = true;
            return false;
        }
        if (w == Deadline::Wait::Failed)
            return false;
    }
}

ssize_t Rfc2217Line::Read(unsigned char* buffer, std::size_t size) {
    std::size_t got = 0;
    const ssize_t n = Pump(buffer, size, &got);
    if (n <= 0)
        return n;
    if (got == 0) {
        errno = EAGAIN; // only the protocol's own bytes
        return -1;
    }
    return static_cast<ssize_t>(got);
}

bool Rfc2217Line::Write(const unsigned char* data, std::size_t n, const Deadline& deadline,
                        std::size_t* pDone) {
    m_out.clear();
    TelnetCodec::AppendEscaped(data, n, &m_out);
    std::size_t sent = 0;
    const bool ok = SendAll(m_out.data(), m_out.size(), deadline, &sent);
    if (sent == m_out.size()) {
        *pDone = n;
        return ok;
    }
    // A short write: the data bytes whose every byte went (a doubled 0xFF counts once whole).
    std::size_t done = 0;
    for (std::size_t at = 0; done < n; ++done) {
        at += data[done] == TelnetCodec::kIac ? 2 : 1;
        if (at > sent)
            break;
    }
    *pDone = done;
    return ok;
}

bool Rfc2217Line::AskSignature(std::string* pSignature) {
    if (!Ask(kSignature, "", "asking for the server's signature"))
        return false;
    *pSignature = OneLine(m_answers[kSignature].value);
    return true;
}

bool Rfc2217Line::AskRate(DWORD* pRate) {
    if (!Ask(kSetBaudRate, BigEndian32(0), "asking for the rate"))
        return false;
    const std::string& answer = m_answers[kSetBaudRate].value;
    if (answer.size() != 4)
        return Failed(COMM_ERROR_SERVER, EPROTO,
                      "the server answered the rate with " + std::to_string(answer.size()) +
                          " bytes");
    *pRate = FromBigEndian32(answer);
    return true;
}
