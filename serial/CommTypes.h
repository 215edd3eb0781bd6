#pragma once

// The platform's serial structures, with the values CSerialPort sets in them, and the comm
// layer's reasons for a failed open.

#include "core/Types.h"

// An open device: a file descriptor, or INVALID_HANDLE_VALUE.
typedef int HANDLE;
constexpr HANDLE INVALID_HANDLE_VALUE = -1;

// Line-setting codes taken by CSerialPort::Open (and made by a LineProfile).
constexpr DWORD PARITY_NONE = 0x0100;
constexpr DWORD PARITY_ODD = 0x0200;
constexpr DWORD PARITY_EVEN = 0x0400;
constexpr DWORD PARITY_MARK = 0x0800;
constexpr DWORD PARITY_SPACE = 0x1000;

constexpr DWORD DATABITS_5 = 0x0001;
constexpr DWORD DATABITS_6 = 0x0002;
constexpr DWORD DATABITS_7 = 0x0004;
constexpr DWORD DATABITS_8 = 0x0008;
constexpr DWORD DATABITS_16 = 0x0010;
constexpr DWORD DATABITS_16X = 0x0020;

constexpr DWORD STOPBITS_10 = 0x0001;
constexpr DWORD STOPBITS_15 = 0x0002;
constexpr DWORD STOPBITS_20 = 0x0004;

// Device-control block: the line settings a device reports and takes.
struct DCB {
    DWORD DCBlength = 0;
    DWORD BaudRate = 0;
    DWORD fParity = 0;      // parity checking on input
    DWORD fOutxCtsFlow = 0; // CTS/RTS hardware flow control
    DWORD fOutX = 0;        // XON/XOFF on output
    DWORD fInX = 0;         // XON/XOFF on input
    DWORD fDtrControl = 0;  // DTR_CONTROL_*
    BYTE ByteSize = 0;      // 5..8
    BYTE Parity = 0;        // NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY
    BYTE StopBits = 0;      // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
};

constexpr DWORD DTR_CONTROL_DISABLE = 0;
constexpr DWORD DTR_CONTROL_ENABLE = 1;

constexpr BYTE NOPARITY = 0;
constexpr BYTE ODDPARITY = 1;
constexpr BYTE EVENPARITY = 2;
constexpr BYTE MARKPARITY = 3;
constexpr BYTE SPACEPARITY = 4;

constexpr BYTE ONESTOPBIT = 0;
constexpr BYTE ONE5STOPBITS = 1;
constexpr BYTE TWOSTOPBITS = 2;

// Read and write time-outs in milliseconds, with their usual meaning:
// a read waits at most ReadTotalTimeoutMultiplier x bytes + ReadTotalTimeoutConstant and at most
// ReadIntervalTimeout between bytes; ReadIntervalTimeout = MAXDWORD with both totals 0 returns at
// once; with the multiplier MAXDWORD too and a constant between 1 and MAXDWORD-1, a read returns
// at once with buffered bytes, else waits up to the constant for the first one.
struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout = 0;
    DWORD ReadTotalTimeoutMultiplier = 0;
    DWORD ReadTotalTimeoutConstant = 0;
    DWORD WriteTotalTimeoutMultiplier = 0;
    DWORD WriteTotalTimeoutConstant = 0;
};

// The time-outs CSerialPort::Open sets after MAXDWORD, MAXDWORD with the default profile: a read
// waits up to a second for its first byte (a profile may say otherwise), a write up to 50 ms a
// byte. A device that could not be configured keeps these.
constexpr DWORD kReadTimeoutMs = 1000;
constexpr DWORD kWriteTimeoutMsPerByte = 50;

// CSerialPort opens the ports COM1: to COM4:.
constexpr DWORD kFirstPort = 1;
constexpr DWORD kLastPort = 4;

constexpr DWORD PURGE_TXABORT = 0x0001;
constexpr DWORD PURGE_RXABORT = 0x0002;
constexpr DWORD PURGE_TXCLEAR = 0x0004;
constexpr DWORD PURGE_RXCLEAR = 0x0008;

// Why the last CommOpen, CommGetState or CommSetState of a thread failed, kept as the platform
// keeps its last-error value (CommGetLastError).
constexpr DWORD COMM_ERROR_NONE = 0;
constexpr DWORD COMM_ERROR_PORT_NUMBER = 1; // a port number the program does not open
constexpr DWORD COMM_ERROR_SETTINGS = 2;    // the line settings were refused
constexpr DWORD COMM_ERROR_NO_DEVICE = 3;
constexpr DWORD COMM_ERROR_ACCESS = 4;
constexpr DWORD COMM_ERROR_BUSY = 5;
constexpr DWORD COMM_ERROR_NOT_SERIAL = 6;
constexpr DWORD COMM_ERROR_CONSOLE = 7;
constexpr DWORD COMM_ERROR_LOOKUP = 8;   // the ports entry could not be looked up
constexpr DWORD COMM_ERROR_SYSTEM = 9;   // anything else the system reported
constexpr DWORD COMM_ERROR_IN_USE = 10;  // the controlling terminal of a running process
constexpr DWORD COMM_ERROR_PROFILE = 11; // the port's profile file cannot be read or is wrong
constexpr DWORD COMM_ERROR_ENDED = 12;   // a link left by a simulated device that has ended
