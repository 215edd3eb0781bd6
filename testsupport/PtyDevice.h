#pragma once

#include "testsupport/TempFolder.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>

// A pseudo-terminal that plays a serial device: the test holds the master side, and the slave
// is published as COMn in a private ports folder that XDG_CONFIG_HOME points at while the object
// lives.
class PtyDevice {
public:
    explicit PtyDevice(int nPort = 1);
    ~PtyDevice();
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }
    const std::string& PortsFolder() const { return m_portsFolder; }
    int MasterFd() const { return m_master; }

    // Another ports entry in the same folder, e.g. COM4 -> /dev/null.
    void Link(int nPort, const std::string& target);

    void Write(const std::string& bytes);
    // Everything that arrives within ms (returns early once nothing more comes for quietMs).
    std::string Read(int ms, int quietMs = 100);
    // Bytes up to and including cEnd, waiting at most ms.
    std::string ReadUntil(char cEnd, int ms);
    // True once the slave side has been closed by everyone (the device sees the hang-up).
    bool WaitHangUp(int ms);
    // Closes the master: the line hangs up for the slave side.
    void HangUp();

    // Answers each command ended by cEnd (passed with its end) on a thread, until the object
    // dies or StopResponder.
    void StartResponder(std::function<std::string(const std::string&)> answer, char cEnd = '\r');
    void StopResponder();

private:
    int m_master = -1;
    std::string m_slavePath;
    TempFolder m_root;
    std::string m_portsFolder;
    std::string m_oldXdg;
    bool m_hadXdg = false;
    std::thread m_responder;
    std::atomic<bool> m_stop{false};
};
