#pragma once

#include <string>

// morvik-simdevice's command line: --port N and --ports DIR, each also as --name=value (the
// last one given counts), or --help or --version alone.
class SimDeviceOptions {
public:
    static constexpr unsigned long kMaxPort = 99;
    // Parse's answer when the device is to run.
    static constexpr int kRun = -1;

    // Reads the command line. kRun when the device is to run; else the program ends at once with
    // the status returned: 0 with the help or the version in out, 2 with a usage error in err.
    int Parse(int argc, const char* const* argv, std::string& out, std::string& err);

    unsigned long Port() const { return m_port; }
    // Empty: the default folder.
    const std::string& PortsFolder() const { return m_portsFolder; }

private:
    unsigned long m_port = 1;
    std::string m_portsFolder;
};
