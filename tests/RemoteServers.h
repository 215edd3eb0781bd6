#pragma once

#include "testsupport/ChildProcess.h"
#include "testsupport/TempFolder.h"

#include <memory>
#include <string>

// Servers that make a serial device a port on another machine, all on 127.0.0.1 at a free port
// of their own: ser2net (the Debian package's binary unpacked into the build folder, with its
// own configuration, never the system's service), pyserial's PortManager, and a scripted
// server that breaks the rules.

// A TCP port on 127.0.0.1 that nothing listens at right now.
unsigned FreeTcpPort();
// Whether something listens at 127.0.0.1:port, as the kernel's socket table says: asking by a
// connection would make ser2net open its device.
bool Listening(unsigned port);

class Ser2net {
public:
    // Empty when the unpacked binary is not there (the test is then skipped).
    static std::string Binary();

    // Serves device by RFC 2217 (telnet=true) or raw TCP; chardelay off unless said.
    Ser2net(const std::string& device, bool telnet = true, bool kickOldUser = true,
            bool chardelay = false);
    bool Ok() const { return m_ok; }
    unsigned Port() const { return m_port; }
    std::string Url() const;

private:
    TempFolder m_folder;
    unsigned m_port = 0;
    bool m_telnet;
    bool m_ok = false;
    std::unique_ptr<ChildProcess> m_child;
};

// pyserial's PortManager in front of device, one connection at a time; it writes each DTR
// change a client asks for to a file.
class PortManagerServer {
public:
    explicit PortManagerServer(const std::string& device);
    bool Ok() const { return m_ok; }
    unsigned Port() const { return m_port; }
    std::string Url() const;
    // The DTR changes asked for so far: "off", "on", one a line.
    std::string DtrRecord() const;

private:
    TempFolder m_folder;
    unsigned m_port = 0;
    bool m_ok = false;
    std::unique_ptr<ChildProcess> m_child;
};

// Accepts one connection and answers it from a script: it sends greeting at once (over and over
// when endless), then for each chunk it receives, answer(chunk) (empty: nothing; ending in
// "<close>": what comes before, then it closes). Its URL has the scheme given.
class ScriptedServer {
public:
    ScriptedServer(std::string greeting, std::string (*answer)(const std::string&),
                   bool endless = false, std::string scheme = "rfc2217");
    unsigned Port() const { return m_port; }
    std::string Url() const;

private:
    unsigned m_port = 0;
    std::string m_scheme;
    std::unique_ptr<ChildProcess> m_child;
};
