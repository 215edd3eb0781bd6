#include "serial/SerialPort.h"

#include "serial/comm.h"

#include <algorithm>
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
    m_hPort = CommOpen(m_strPortName);
    if (m_hPort == INVALID_HANDLE_VALUE)
        return FALSE;
    // Whoever had the line before may have left a CR LF reply's LF on its way.
    m_bLfMayFollow = true;

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
    // Bytes read here are taken as they come, an LF too.
    m_bLfMayFollow = false;

    if (nMaxReads == 0)
        return ReadToEnd(str, pdwRead, bUseTerminator ? EndRule::Byte : EndRule::None, cTerminator,
                         false);

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

BOOL CSerialPort::ReadToEnd(CString& str, DWORD* pdwRead, EndRule rule, char cEnd, bool bDropLf) {
    ReadReply(rule, cEnd, bDropLf);
    const std::string& bytes = m_lastReply.bytes;
    // The text, where a 0x00 adds no character: the bytes between the 0x00s, each run as a
    // zero-terminated string.
    const char* const pszBytes = bytes.c_str();
    for (std::size_t at = 0; at < bytes.size(); at += std::strlen(pszBytes + at) + 1)
        str += pszBytes + at;
    if (bytes.empty() && m_lastReply.ending == SerialReply::Ending::Gone) {
        *pdwRead = 0; // what the failed call left
        return FALSE;
    }
    *pdwRead = static_cast<DWORD>(bytes.size());
    if (rule != EndRule::None)
        return m_lastReply.ending == SerialReply::Ending::Terminator ? TRUE : FALSE;
    return TRUE;
}

std::size_t CSerialPort::FindEnd(const char* p, std::size_t n, EndRule rule, char cEnd,
                                 bool bAfterCr) {
    switch (rule) {
    case EndRule::None:
        break;
    case EndRule::Byte:
        if (const void* q = std::memchr(p, cEnd, n))
            return static_cast<std::size_t>(static_cast<const char*>(q) - p) + 1;
        break;
    case EndRule::Either: {
        const void* cr = std::memchr(p, '\r', n);
        const std::size_t before =
            cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - p) : n;
        if (const void* lf = std::memchr(p, '\n', before))
            return static_cast<std::size_t>(static_cast<const char*>(lf) - p) + 1;
        return cr ? before + 1 : 0;
    }
    case EndRule::Pair:
        for (std::size_t from = 0; from < n;) {
            const void* lf = std::memchr(p + from, '\n', n - from);
            if (!lf)
                break;
            const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(lf) - p);
            if (at > 0 ? p[at - 1] == '\r' : bAfterCr)
                return at + 1;
            from = at + 1;
        }
        break;
    }
    return 0;
}

void CSerialPort::ReadReply(EndRule rule, char cEnd, bool bDropLf) {
    std::string& bytes = m_lastReply.bytes;
    bytes.clear();
    // The reply's time is counted from its first byte: a reply may be long in coming when the
    // profile allows it, and only a device that keeps talking must be cut off.
    DWORD dwStart = 0;
    bool bStarted = false;
    DWORD dwCallsSeen = CommReadSystemCalls();
    // Held for the whole loop; a copy lets the compiler keep it out of memory.
    const HANDLE hPort = m_hPort;
    for (;;) {
        // The end is looked for over all the bytes already taken from the driver at once, with
        // the results a read call per byte would have.
        const char* pBytes = nullptr;
        DWORD nBytes = 0;
        if (!CommPeek(hPort, &pBytes, &nBytes)) {
            m_lastReply.ending = SerialReply::Ending::Gone;
            return;
        }
        if (nBytes == 0) {
            m_lastReply.ending = SerialReply::Ending::Silence;
            return;
        }
        if (bDropLf) {
            bDropLf = false;
            if (pBytes[0] == '\n') {
                CommSkip(hPort, 1);
                continue;
            }
        }
        std::size_t nTake = std::min<std::size_t>(nBytes, kMaxReplyBytes - bytes.size());
        // The clock is read only after a read went to the system: bytes handed out from the
        // buffer take no time worth measuring. Read a byte at a time, a reply out of time ends
        // after the first byte that read brought.
        bool bOutOfTime = false;
        if (CommReadSystemCalls() != dwCallsSeen) {
            dwCallsSeen = CommReadSystemCalls();
            const DWORD dwNow = CommTickCount();
            if (!bStarted)
                dwStart = dwNow;
            bStarted = true;
            bOutOfTime = dwNow - dwStart >= kMaxReplyMs;
            if (bOutOfTime)
                nTake = 1;
        }
        const bool bAfterCr = !bytes.empty() && bytes.back() == '\r';
        const std::size_t nEnd = FindEnd(pBytes, nTake, rule, cEnd, bAfterCr);
        const std::size_t nUsed = nEnd != 0 ? nEnd : nTake;
        bytes.append(pBytes, nUsed);
        CommSkip(hPort, static_cast<DWORD>(nUsed));
        if (nEnd != 0) {
            m_lastReply.ending = SerialReply::Ending::Terminator;
            return;
        }
        if (bytes.size() >= kMaxReplyBytes || bOutOfTime) {
            m_lastReply.ending = SerialReply::Ending::Cap;
            return;
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
    EndRule rule = EndRule::Byte;
    char cEnd = '\r';
    switch (m_profile.replyEnd) {
    case LineProfile::ReplyEnd::Cr:
        break;
    case LineProfile::ReplyEnd::Lf:
        cEnd = '\n';
        break;
    case LineProfile::ReplyEnd::CrLf:
        rule = EndRule::Pair;
        break;
    case LineProfile::ReplyEnd::Any:
        rule = EndRule::Either;
        break;
    }
    ReadToEnd(str, &g_dwBytesRead, rule, cEnd, m_bLfMayFollow);
    const std::string& bytes = m_lastReply.bytes;
    m_bLfMayFollow = m_lastReply.ending == SerialReply::Ending::Terminator && bytes.back() == '\r';
    return g_dwBytesRead != 0 ? TRUE : FALSE;
}

BOOL CSerialPort::Exchange(const CString& strCommand, CString& strReply) {
    CString strLine = strCommand;
    strLine += m_profile.CommandEndBytes();
    SendString(strLine);
    return ReceiveLine(strReply);
}

BOOL CSerialPort::Close() {
    // The system releases the descriptor even when close() fails; a number kept would later
    // name whatever file is opened next.
    const BOOL bOk = CommClose(m_hPort);
    m_hPort = INVALID_HANDLE_VALUE;
    m_bLfMayFollow = false;
    return bOk;
}

BOOL CSerialPort::Disconnect() {
    Close();
    return TRUE;
}
