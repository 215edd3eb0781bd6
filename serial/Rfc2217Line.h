#pragma once

#include "serial/RemoteLine.h"
#include "serial/TelnetCodec.h"

#include <string>
#include <vector>

// A port served by RFC 2217 (rfc2217://HOST:PORT): Telnet with the binary and suppress-go-ahead
// options both ways and COM-PORT-OPTION, by which the line's settings, DTR and purges travel
// with the data. Every wait for the server is bounded (kAnswerMs) and sleeps in poll().
class Rfc2217Line : public RemoteLine {
public:
    // COM-PORT-OPTION's commands (RFC 2217); the server answers each with the code + 100.
    enum Command : unsigned char {
        kSignature = 0,
        kSetBaudRate = 1,
        kSetDataSize = 2,
        kSetParity = 3,
        kSetStopSize = 4,
        kSetControl = 5,
        kPurgeData = 12,
    };
    static constexpr unsigned char kComPortOption = 44;
    // A server that keeps negotiating past this many commands while the line is set up never
    // settles.
    static constexpr int kMostNegotiations = 64;

    Rfc2217Line(int fd, const RemoteAddress& address) : RemoteLine(fd, address) {}

    bool Start() override;
    bool Apply(const DCB& dcb) override;
    bool Purge(unsigned char* buffer, std::size_t size, std::size_t* pKept) override;
    ssize_t Read(unsigned char* buffer, std::size_t size) override;
    bool Write(const unsigned char* data, std::size_t n, const Deadline& deadline,
               std::size_t* pDone) override;

    // What the server says of itself (SIGNATURE) and the rate it runs (SET-BAUDRATE 0): for a
    // check of the port. False with Why().
    bool AskSignature(std::string* pSignature);
    bool AskRate(DWORD* pRate);

private:
    struct Answer {
        bool came = false;
        std::string value;
        std::size_t dataAt = 0; // where among the data of its chunk it came
    };

    // One recv() and its decoding: data bytes into out (room for size), the commands handled.
    // The count received (0 at the end of the connection, -1 with errno), data in *pData.
    ssize_t Pump(unsigned char* out, std::size_t size, std::size_t* pData);
    void Handle(const TelnetCodec::Event& e);
    void Send(const std::string& bytes);
    // Has the kernel acknowledge what came at once, rather than after its delay.
    void AckNow();
    // Sends a COM-PORT-OPTION command and waits for its answer, kept in m_answers.
    bool Ask(Command command, const std::string& value, const char* what);
    // Reads until done() holds, the data kept for the reason; false with Why().
    template <class Done> bool WaitUntil(Done done, const Deadline& deadline, const char* what);

    TelnetCodec m_codec;
    std::vector<TelnetCodec::Event> m_events;
    std::string m_out;
    unsigned char m_raw[4096];
    Answer m_answers[13]; // by command
    // Per option: agreed to, and asked for without an answer yet.
    bool m_us[256] = {}, m_him[256] = {}, m_askedUs[256] = {}, m_askedHim[256] = {};
    bool m_comPortRefused = false;
    bool m_overlong = false;
    int m_negotiations = 0;
    bool m_purgeUnanswered = false; // the server has not acknowledged a purge in time
};
