#include "serial/SerialPort.h"

#include "serial/comm.h"

#include <cstring>
#include <string>

namespace {
// Shared by every port object: the counts of the last reads and the last write.
DWORD g_dwBytesRead = 0;
DWORD g_dwBytesWritten = 0;

constexpr DWORD kDcbLength = 28;
} // namespace

CSerialPort::CSerialPort() : m_hPort(INVALID_HANDLE_VALUE) {}

CSerialPort::~CSerialPort() {
    Close();
}

BOOL CSerialPort::Open(DWORD nPort, DWORD nBaud, DWORD nParity, DWORD nDataBits, DWORD nStopBits) {
    if (nPort < kFirstPort || nPort > kLastPort) {
        CommSetLastError(COMM_ERROR_PORT_NUMBER, nPort);
        return FALSE;
    }
    if (nBaud < LineProfile::kMinBaud || nBaud > LineProfile::kMaxBaud) {
        CommSetLastError(COMM_ERROR_SETTINGS, nPort);
        return FALSE;
    }

    BYTE parity;
    switch (nParity) {
    case PARITY_NONE:
        parity = NOPARITY;
        break;
    case PARITY_ODD:
        parity = ODDPARITY;
        break;
    case PARITY_EVEN:
        parity = EVENPARITY;
        break;
    case PARITY_MARK:
        parity = MARKPARITY;
        break;
    case PARITY_SPACE:
        parity = SPACEPARITY;
        break;
    default:
        CommSetLastError(COMM_ERROR_SETTINGS, nPort);
        return FALSE;
    }
    BYTE stopBits;
    switch (nStopBits) {
    case STOPBITS_10:
        stopBits = ONESTOPBIT;
        break;
    case STOPBITS_15:
        stopBits = ONE5STOPBITS;
        break;
    case STOPBITS_20:
        stopBits = TWOSTOPBITS;
        break;
    default:
        CommSetLastError(COMM_ERROR_SETTINGS, nPort);
        return FALSE;
    }
    BYTE byteSize;
    switch (nDataBits) {
    case DATABITS_5:
        byteSize = 5;
        break;
    case DATABITS_6:
        byteSize = 6;
        break;
    case DATABITS_7:
        byteSize = 7;
        break;
    case DATABITS_8:
        byteSize = 8;
        break;
    default:
        CommSetLastError(COMM_ERROR_SETTINGS, nPort);
        return FALSE;
    }
    // A UART makes 1.5 stop bits where 2 are set with 5 data bits, and only there: neither is
    // ever taken for the other.
    if ((stopBits == ONE5STOPBITS && byteSize != 5) || (stopBits == TWOSTOPBITS && byteSize == 5)) {
        CommSetLastError(COMM_ERROR_SETTINGS, nPort);
        return FALSE;
    }

    // A device still held would leak with its descriptor; callers close first, but be safe.
    if (m_hPort != INVALID_HANDLE_VALUE)
        Close();

    m_strPortName.Format("COM%i:", static_cast<int>(nPort));
    m_hPort = CommOpen(m_strPortName, m_profile.connectTimeoutMs);
    if (m_hPort == INVALID_HANDLE_VALUE)
        return FALSE;

    m_dcb.DCBlength = kDcbLength;
    if (!CommGetState(m_hPort, &m_dcb))
        return FALSE;
    m_dcb.BaudRate = nBaud;
    m_dcb.fDtrControl = DTR_CONTROL_DISABLE;
    m_dcb.StopBits = stopBits;
    m_dcb.Parity = parity;
    m_dcb.ByteSize = byteSize;
    if (!CommSetState(m_hPort, &m_dcb))
        return FALSE;

    SetTimeouts(MAXDWORD, MAXDWORD, m_profile.timeoutMs, kWriteTimeoutMsPerByte, 0);
    Purge();
    return TRUE;
}

BOOL CSerialPort::SetTimeouts(DWORD dwReadInterval, DWORD dwReadMultiplier, DWORD dwReadConstant,
                              DWORD dwWriteMultiplier, DWORD dwWriteConstant) {
    m_timeouts.ReadIntervalTimeout = dwReadInterval;
    m_timeouts.ReadTotalTimeoutMultiplier = dwReadMultiplier;
    m_timeouts.ReadTotalTimeoutConstant = dwReadConstant;
    m_timeouts.WriteTotalTimeoutMultiplier = dwWriteMultiplier;
    m_timeouts.WriteTotalTimeoutConstant = dwWriteConstant;
    return CommSetTimeouts(m_hPort, &m_timeouts);
}

BOOL CSerialPort::Purge() {
    return CommPurge(m_hPort, PURGE_RXABORT | PURGE_RXCLEAR);
}

BOOL CSerialPort::WriteBytes(const CString& str, DWORD nExpected, DWORD* pdwWritten) {
    Purge();
    const BOOL bOk = CommWrite(m_hPort, static_cast<const char*>(str),
                               static_cast<DWORD>(str.GetLength()), pdwWritten);
    return (bOk && *pdwWritten == nExpected) ? TRUE : FALSE;
}

BOOL CSerialPort::SendString(const CString& str) {
    if (m_hPort == INVALID_HANDLE_VALUE)
        return FALSE;
    return WriteBytes(str, static_cast<DWORD>(str.GetLength()), &g_dwBytesWritten);
}

BOOL CSerialPort::ReadBytes(CString& str, DWORD* pdwRead, DWORD nMaxReads, bool bUseTerminator,
                            char cTerminator) {
    if (m_hPort == INVALID_HANDLE_VALUE)
        return FALSE;

    if (nMaxReads == 0) {
        ReadReply(bUseTerminator, cTerminator);
        const std::string& bytes = m_lastReply.bytes;
        // The text, where a 0x00 adds no character: the bytes between the 0x00s, each run as a
        // zero-terminated string.
        const char* const pszBytes = bytes.c_str();
        for (std::size_t at = 0; at < bytes.size(); at += std::strlen(pszBytes + at) + 1)
            str += pszBytes + at;
        if (bytes.empty() && m_lastReply.ending == SerialReply::Ending::Failed) {
            *pdwRead = 0; // what the failed call left
            return FALSE;
        }
        *pdwRead = static_cast<DWORD>(bytes.size());
        if (bUseTerminator)
            return m_lastReply.ending == SerialReply::Ending::Terminator ? TRUE : FALSE;
        return TRUE;
    }

    // At most nMaxReads read calls; a failed one uses up an attempt and the loop goes on.
    char c = 0;
    DWORD dwRead = 0;
    DWORD dwTotal = 0;
    bool bTerminatorSeen = false;
    BOOL bLastOk = TRUE;
    for (DWORD i = 0; i < nMaxReads; ++i) {
        bLastOk = CommRead(m_hPort, &c, 1, &dwRead);
        if (!bLastOk)
            continue;
        if (dwRead == 0)
            break;
        dwTotal += dwRead;
        if (c != 0)
            str += c;
        if (bUseTerminator && c == cTerminator) {
            bTerminatorSeen = true;
            break;
        }
    }

    if (dwTotal == 0 && !bLastOk) {
        *pdwRead = dwRead; // the 0 the failed call left
        return FALSE;
    }
    *pdwRead = dwTotal;
    if (bUseTerminator)
        return bTerminatorSeen ? TRUE : FALSE;
    return TRUE;
}

void CSerialPort::ReadReply(bool bUseTerminator, char cTerminator) {
    std::string& bytes = m_lastReply.bytes;
    bytes.clear();
    const DWORD dwStart = CommTickCount();
    DWORD dwCallsSeen = CommReadSystemCalls();
    // Held for the whole loop; a copy lets the compiler keep it out of memory.
    const HANDLE hPort = m_hPort;
    char c = 0;
    DWORD dwRead = 0;
    for (;;) {
        if (!CommRead(hPort, &c, 1, &dwRead)) {
            m_lastReply.ending = SerialReply::Ending::Failed;
            return;
        }
        if (dwRead == 0) {
            m_lastReply.ending = SerialReply::Ending::Silence;
            return;
        }
        bytes += c;
        if (bUseTerminator && c == cTerminator) {
            m_lastReply.ending = SerialReply::Ending::Terminator;
            return;
        }
        if (bytes.size() >= kMaxReplyBytes) {
            m_lastReply.ending = SerialReply::Ending::Cap;
            return;
        }
        // The clock is read only after a read went to the system: bytes handed out from the
        // buffer take no time worth measuring.
        if (CommReadSystemCalls() != dwCallsSeen) {
            dwCallsSeen = CommReadSystemCalls();
            if (CommTickCount() - dwStart >= kMaxReplyMs) {
                m_lastReply.ending = SerialReply::Ending::Cap;
                return;
            }
        }
    }
}

BOOL CSerialPort::ReceiveLine(CString& str) {
    str.Empty();
    if (m_hPort == INVALID_HANDLE_VALUE) {
        m_lastReply.bytes.clear();
        m_lastReply.ending = SerialReply::Ending::Failed;
        return FALSE;
    }
    ReadBytes(str, &g_dwBytesRead, 0, true, '\r');
    return g_dwBytesRead != 0 ? TRUE : FALSE;
}

BOOL CSerialPort::Exchange(const CString& strCommand, CString& strReply) {
    CString strLine = strCommand;
    strLine += "\r";
    SendString(strLine);
    return ReceiveLine(strReply);
}

BOOL CSerialPort::Close() {
    // The system releases the descriptor even when close() fails; a number kept would later
    // name whatever file is opened next.
    const BOOL bOk = CommClose(m_hPort);
    m_hPort = INVALID_HANDLE_VALUE;
    return bOk;
}

BOOL CSerialPort::Disconnect() {
    Close();
    return TRUE;
}
