#pragma once

#include "core/String.h"
#include "core/Types.h"
#include "serial/CommTypes.h"
#include "serial/LineProfile.h"
#include "serial/SerialReply.h"

#include <cstddef>

// One serial device for a line-oriented command protocol. Every operation is synchronous.
class CSerialPort {
public:
    // A reply read without a limit of read calls also ends after this many bytes or this long
    // since its first byte came, so that a device that never stops talking cannot hold us.
    static constexpr DWORD kMaxReplyBytes = 65536;
    static constexpr DWORD kMaxReplyMs = 10000;

    CSerialPort();
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    BOOL Open(DWORD nPort, DWORD nBaud, DWORD nParity, DWORD nDataBits, DWORD nStopBits);
    BOOL SetTimeouts(DWORD dwReadInterval, DWORD dwReadMultiplier, DWORD dwReadConstant,
                     DWORD dwWriteMultiplier, DWORD dwWriteConstant);
    BOOL Purge();
    BOOL WriteBytes(const CString& str, DWORD nExpected, DWORD* pdwWritten);
    BOOL SendString(const CString& str);
    BOOL ReadBytes(CString& str, DWORD* pdwRead, DWORD nMaxReads, bool bUseTerminator,
                   char cTerminator);
    BOOL ReceiveLine(CString& str);
    BOOL Close();
    BOOL Disconnect();

    // The exchange of the dialog's Send for callers without a dialog: the command out with the
    // end the profile gives commands, then the reply read as ReceiveLine reads it.
    BOOL Exchange(const CString& strCommand, CString& strReply);
    // The last reply read to its end (by ReceiveLine, or ReadBytes without a limit of read
    // calls): its bytes and how it ended, known without reading it again.
    const SerialReply& LastReply() const { return m_lastReply; }
    // What the port's device expects beyond the frame that Open takes: how commands and replies
    // end, the silence that ends a reply, the text encoding. Set before Open; the default is
    // the program's own.
    void SetProfile(const LineProfile& profile) { m_profile = profile; }
    const LineProfile& Profile() const { return m_profile; }

    CString m_strPortName;
    DCB m_dcb;
    COMMTIMEOUTS m_timeouts;
    HANDLE m_hPort;

private:
    // What ends a reply: nothing but a silence, a failed read or a cap (None), one byte (Byte),
    // the first CR or LF (Either), or CR LF (Pair).
    enum class EndRule { None, Byte, Either, Pair };

    // How many of the n bytes at p belong to the reply up to its end, the end included; 0 when
    // the end is not among them. bAfterCr: the reply so far ends with a CR.
    static std::size_t FindEnd(const char* p, std::size_t n, EndRule rule, char cEnd,
                               bool bAfterCr);
    // ReadBytes without a limit of read calls, for the end the rule gives.
    BOOL ReadToEnd(CString& str, DWORD* pdwRead, EndRule rule, char cEnd, bool bDropLf);
    // The read loop of a reply, into m_lastReply. bDropLf: an LF that comes first is the end of
    // the reply before, not a byte of this one.
    void ReadReply(EndRule rule, char cEnd, bool bDropLf);

    SerialReply m_lastReply;
    LineProfile m_profile;
    // The last reply ended at a CR, or the port was just opened: the LF that a CR LF device
    // sends after the CR may still come, after the purge before the next command.
    bool m_bLfMayFollow = false;
};
