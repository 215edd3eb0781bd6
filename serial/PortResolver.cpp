#include "serial/PortResolver.h"

#include "serial/PortsFolder.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

std::vector<std::string> PortResolver::SerialTtys() const {
    struct Tty {
        TtyClass::Family family;
        unsigned long number;
        std::string name;
    };
    const TtyClass ttys(m_sources.ttys);
    std::vector<Tty> found;
    for (const std::string& name : ttys.Names()) {
        Tty tty{TtyClass::Family::Uart, 0, name};
        if (!TtyClass::ParseName(name, &tty.family, &tty.number))
            continue;
        // Only ttys backed by hardware; a UART slot the kernel could not identify has type 0
        // (unknown) and nothing behind it.
        if (!ttys.HasDevice(name))
            continue;
        if (tty.family == TtyClass::Family::Uart && ttys.UartType(name) == 0)
            continue;
        found.push_back(tty);
    }
    std::sort(found.begin(), found.end(), [](const Tty& a, const Tty& b) {
        return a.family != b.family ? a.family < b.family : a.number < b.number;
    });
    std::vector<std::string> names;
    for (const Tty& t : found)
        names.push_back(t.name);
    return names;
}

std::vector<std::string> PortResolver::ActiveConsoles() const {
    std::vector<std::string> names;
    for (const std::string& name : TtyClass(m_sources.ttys).ActiveConsoles())
        if (!Contains(names, name))
            names.push_back(name);
    // Lines such as "ttyS0                -W- (EC  p a)    4:64"; E marks an enabled console.
    // A line whose flags cannot be read counts as a console: better unused than disturbed.
    std::ifstream in(m_sources.procConsoles);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string name;
        if (!(fields >> name))
            continue;
        const std::size_t open = line.find('(');
        const std::size_t close = line.find(')', open == std::string::npos ? 0 : open);
        const bool enabled = open == std::string::npos || close == std::string::npos ||
                             line.substr(open, close - open).find('E') != std::string::npos;
        if (enabled && !Contains(names, name))
            names.push_back(name);
    }
    return names;
}

std::vector<std::string> PortResolver::MachinePorts() const {
    const std::vector<std::string> consoles = ActiveConsoles();
    std::vector<std::string> ports;
    for (const std::string& name : SerialTtys())
        if (!Contains(consoles, name))
            ports.push_back(name);
    return ports;
}

std::vector<std::string> PortResolver::SkippedConsoles() const {
    const std::vector<std::string> consoles = ActiveConsoles();
    std::vector<std::string> skipped;
    for (const std::string& name : SerialTtys())
        if (Contains(consoles, name))
            skipped.push_back(name);
    return skipped;
}

PortResolver::Port PortResolver::Resolve(unsigned nPort) const {
    Port port;
    const PortsFolder::Entry entry = PortsFolder(m_sources.portsFolder).Read(nPort);
    switch (entry.kind) {
    case PortsFolder::Entry::Kind::Link:
    case PortsFolder::Entry::Kind::Other:
        port.how = entry.ended ? How::Ended : How::Link;
        port.path = entry.path;
        port.target = entry.target;
        return port;
    case PortsFolder::Entry::Kind::LookupError:
        port.how = How::LookupError;
        port.path = entry.path;
        port.error = entry.error;
        return port;
    case PortsFolder::Entry::Kind::None:
        break;
    }

    const std::vector<std::string> ports = MachinePorts();
    if (nPort >= 1 && nPort <= ports.size()) {
        port.how = How::Found;
        port.path = m_sources.devFolder + "/" + ports[nPort - 1];
        port.target = TtyClass(m_sources.ttys).ByIdName(port.path);
        return port;
    }
    // The numbers past the usable ports are where the consoles would have been.
    const std::vector<std::string> consoles = SkippedConsoles();
    const std::size_t past = nPort - ports.size();
    if (nPort >= 1 && past >= 1 && past <= consoles.size()) {
        port.how = How::Console;
        port.path = m_sources.devFolder + "/" + consoles[past - 1];
        return port;
    }
    port.how = How::Nothing;
    port.path = entry.path;
    return port;
}
