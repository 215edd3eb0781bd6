#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

// What morvik-simdevice plays: a simple instrument that answers each command as soon as its
// carriage return arrives, with its replies written to a descriptor (the pseudo-terminal's
// master) as the program takes them, and each command printed to a log:
//   *IDN?        identity: "MORVIK,SIM-1,0001,1.0"
//   ECHO <text>  <text> (a command is kept up to kMaxCommandBytes)
//   DELAY <ms>   "DONE" after <ms> milliseconds (at most kMaxDelayMs)
//   CRLF         "OK" ended with CR LF
//   SILENT       no answer at all
//   STREAM       digits for kStreamSeconds, never a carriage return
//   anything else: "OK"
// A new command ends a stream and forgets a reply still delayed.
class SimulatedDevice {
public:
    static constexpr int kStreamSeconds = 12;
    static constexpr int kMaxDelayMs = 5000;
    // A command is kept up to this many bytes (what comes after, up to its carriage return, is
    // dropped): ECHO returns at most this much text.
    static constexpr std::size_t kMaxCommandBytes = 1 << 20;
    // Replies the program has not taken yet are kept up to this many bytes; more are dropped.
    static constexpr std::size_t kMaxPendingBytes = 4 << 20;

    SimulatedDevice(int master, std::FILE* log) : m_master(master), m_log(log) {}

    // Bytes from the program: each command is answered as soon as its carriage return is here.
    void Receive(const char* data, std::size_t n);
    // How long until the next thing to send, or -1.
    int MsToNextEvent() const;
    // Sends what is due: a delayed reply, the stream's next digits.
    void Tick();
    // Whether replies wait for the program to take them.
    bool Unsent() const { return m_sent < m_out.size(); }
    // Hands the program what it has room for; the rest waits for the line to take more.
    void Flush();
    // The program let go: a command begun, a reply due and the stream are forgotten.
    void Reset();
    void SetMaster(int master) { m_master = master; }

private:
    using Clock = std::chrono::steady_clock;

    void Answer(const std::string& cmd);
    // A reply longer than the line holds goes out as the program reads it, never cut short.
    void Send(const std::string& bytes);

    int m_master;
    std::FILE* m_log;
    std::string m_line;
    bool m_pending = false;
    std::string m_reply;
    Clock::time_point m_replyAt;
    bool m_streaming = false;
    Clock::time_point m_nextChunk, m_streamEnd;
    std::string m_out; // replies, of which the first m_sent bytes are out
    std::size_t m_sent = 0;
};
