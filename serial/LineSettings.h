#pragma once

#include <array>
#include <cstdint>

// The part of a tty's termios that a DCB carries. Read and written through termios2
// (LineSettings.cpp), whose kernel header cannot share a translation unit with <termios.h>.
struct LineSettings {
    // In the order, and with the values, of the DCB's Parity and StopBits.
    enum class Parity : std::uint8_t { None, Odd, Even, Mark, Space };
    enum class StopBits : std::uint8_t { One, OneAndHalf, Two };

    std::uint32_t baud = 0;
    int byteSize = 8; // 5..8
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    bool parityCheck = false;
    bool ctsFlow = false;
    bool xonOut = false;
    bool xonIn = false;

    // False when the descriptor is not a tty (errno tells why).
    static bool Read(int fd, LineSettings* pSettings);
    // Applies the settings on a raw, 8-bit transparent line; false on failure. Two stop bits on
    // a 5-bit line are one and a half (CSTOPB with CS5): set them as OneAndHalf.
    static bool Apply(int fd, const LineSettings& settings);

    // True when a clock of baudBase divided by the nearest whole divisor comes within 2 % of
    // baud (an asynchronous line tolerates no more); a baudBase of 0 is unknown and passes.
    static bool DivisorMakes(std::uint32_t baudBase, std::uint32_t baud);
    // After Apply: true when the driver reads baud back and, where it tells its baud_base
    // (TIOCGSERIAL), its divisor makes that rate. A tty without TIOCGSERIAL (a pty) passes.
    static bool RateTaken(int fd, std::uint32_t baud);

    // The whole of a tty's settings as found, to be put back when the port is let go. Restore
    // makes one system call and nothing else, so a signal handler may use it.
    using Snapshot = std::array<unsigned char, 64>;
    static bool Save(int fd, Snapshot* pSnapshot);
    static bool Restore(int fd, const Snapshot& snapshot);
};
