#include "serial/CommPorts.h"

#include "serial/CommErrorRecord.h"
#include "serial/CommTestHooks.h"
#include "serial/PortsFolder.h"
#include "serial/comm.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Never destroyed: a port closed from a static destructor may still ask.
PortResolver::Sources& Sources() {
    static auto* sources = new PortResolver::Sources();
    return *sources;
}

// The ports given a device by the program, port number -> device.
struct DefinedPort {
    DWORD nPort = 0;
    std::string device;
};
std::vector<DefinedPort>& DefinedPorts() {
    static auto* defined = new std::vector<DefinedPort>();
    return *defined;
}

} // namespace

unsigned long CommPortNumber(const char* pszName) {
    if (!pszName || std::strncmp(pszName, "COM", 3) != 0)
        return 0;
    const char* digits = pszName + 3;
    if (*digits < '0' || *digits > '9')
        return 0;
    char* end = nullptr;
    errno = 0;
    const unsigned long n = std::strtoul(digits, &end, 10);
    if (errno != 0 || n > UINT_MAX || (*end != '\0' && !(end[0] == ':' && end[1] == '\0')))
        return 0;
    return n;
}

PortResolver::Port CommLookUpPort(unsigned long nPort, bool* pDefined) {
    for (const DefinedPort& d : DefinedPorts()) {
        if (d.nPort == nPort) {
            *pDefined = true;
            PortResolver::Port port;
            port.how = PortResolver::How::Link;
            port.path = d.device;
            return port;
        }
    }
    *pDefined = false;
    return PortResolver(Sources()).Resolve(static_cast<unsigned>(nPort));
}

const PortResolver::Sources& CommSources() {
    return Sources();
}

void CommDefinePort(DWORD nPort, const char* pszDevice) {
    std::vector<DefinedPort>& defined = DefinedPorts();
    defined.erase(std::remove_if(defined.begin(), defined.end(),
                                 [&](const DefinedPort& d) { return d.nPort == nPort; }),
                  defined.end());
    if (pszDevice)
        defined.push_back({nPort, pszDevice});
}

BOOL CommLoadProfile(DWORD nPort, LineProfile* pProfile) {
    *pProfile = LineProfile();
    bool defined = false;
    for (const DefinedPort& d : DefinedPorts())
        defined = defined || d.nPort == nPort;
    if (nPort < kFirstPort || nPort > kLastPort || defined)
        return TRUE;
    std::string why;
    if (PortsFolder(Sources().portsFolder).ReadProfile(nPort, pProfile, &why) !=
        PortsFolder::Profile::Wrong)
        return TRUE;
    CommSetLastError(COMM_ERROR_PROFILE, nPort);
    CommErrorRecord::Last().fault = why;
    return FALSE;
}

PortResolver::Sources CommGetSources() {
    return Sources();
}

void CommSetSources(const PortResolver::Sources& sources) {
    Sources() = sources;
}

CString CommDevicePath(const char* pszPortName) {
    const unsigned long n = CommPortNumber(pszPortName);
    if (n == 0)
        return CString();
    bool defined = false;
    const PortResolver::Port port = CommLookUpPort(n, &defined);
    if (port.how != PortResolver::How::Link && port.how != PortResolver::How::Found)
        return CString();
    return CString(port.path.c_str());
}
