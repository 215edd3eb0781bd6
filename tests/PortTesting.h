#pragma once

#include "serial/SerialPort.h"

#include <chrono>
#include <string>

// What the serial tests share: a port opened as the dialog opens it, elapsed time, every byte.

using Clock = std::chrono::steady_clock;

inline long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// 8N1 at the rate given, as Open Port does with the default profile.
inline BOOL OpenStandard(CSerialPort& port, DWORD nPort = 1, DWORD nBaud = 19200) {
    return port.Open(nPort, nBaud, PARITY_NONE, DATABITS_8, STOPBITS_10);
}

// The byte values 0x00 to 0xFF, in order.
inline std::string EveryByte() {
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}
