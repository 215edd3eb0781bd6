#include "serial/PortResolver.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The families of serial ttys in port order; built-in UARTs first.
constexpr const char* kFamilies[] = {"ttyS", "ttyUSB", "ttyACM"};
constexpr std::size_t kFamilyCount = sizeof kFamilies / sizeof kFamilies[0];

// Family index and number of a name such as "ttyUSB3"; false for anything else.
bool ParseTtyName(const std::string& name, std::size_t* pFamily, unsigned long* pNumber) {
    for (std::size_t f = 0; f < kFamilyCount; ++f) {
        const std::string prefix = kFamilies[f];
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 6)
            continue;
        *pFamily = f;
        *pNumber = std::strtoul(digits.c_str(), nullptr, 10);
        return true;
    }
    return false;
}

bool ReadWholeFile(const std::string& path, std::string* pText) {
    std::ifstream in(path);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    *pText = text.str();
    return true;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The entry of a folder of udev's links that leads to the device node, or empty.
std::string LinkLeadingTo(const std::string& folder, const std::string& devicePath) {
    std::string found;
    const std::string device = BaseName(devicePath);
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* e = readdir(dir)) {
            if (e->d_name[0] == '.')
                continue;
            const std::string entry = folder + "/" + e->d_name;
            char target[4096];
            const ssize_t n = readlink(entry.c_str(), target, sizeof target - 1);
            if (n <= 0)
                continue;
            target[n] = '\0';
            // udev links are relative ("../../ttyUSB0"); one name per device, take the first
            // in name order so the answer does not depend on the directory's order.
            if (BaseName(target) == device && (found.empty() || entry < found))
                found = entry;
        }
        closedir(dir);
    }
    return found;
}

} // namespace

std::string PortResolver::PortsFolder() const {
    if (!m_sources.portsFolder.empty())
        return m_sources.portsFolder;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/MorvikSerialDemo/ports";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.config/MorvikSerialDemo/ports";
    return std::string();
}

std::string PortResolver::EntryPath(unsigned nPort) const {
    const std::string folder = PortsFolder();
    return folder.empty() ? std::string() : folder + "/COM" + std::to_string(nPort);
}

std::vector<std::string> PortResolver::SerialTtys() const {
    struct Tty {
        std::size_t family;
        unsigned long number;
        std::string name;
    };
    std::vector<Tty> ttys;
    if (DIR* dir = opendir(m_sources.sysClassTty.c_str())) {
        while (const dirent* e = readdir(dir)) {
            Tty tty{0, 0, e->d_name};
            if (!ParseTtyName(tty.name, &tty.family, &tty.number))
                continue;
            const std::string node = m_sources.sysClassTty + "/" + tty.name;
            struct stat st {};
            // Only ttys backed by hardware; a UART slot the kernel could not identify has
            // type 0 (unknown) and nothing behind it.
            if (stat((node + "/device").c_str(), &st) != 0)
                continue;
            if (tty.family == 0) {
                std::string type;
                if (!ReadWholeFile(node + "/type", &type) || std::atoi(type.c_str()) == 0)
                    continue;
            }
            ttys.push_back(tty);
        }
        closedir(dir);
    }
    std::sort(ttys.begin(), ttys.end(), [](const Tty& a, const Tty& b) {
        return a.family != b.family ? a.family < b.family : a.number < b.number;
    });
    std::vector<std::string> names;
    for (const Tty& t : ttys)
        names.push_back(t.name);
    return names;
}

std::vector<std::string> PortResolver::ActiveConsoles() const {
    std::vector<std::string> names;
    std::string text;
    if (ReadWholeFile(m_sources.consoleActive, &text)) {
        std::istringstream words(text);
        std::string name;
        while (words >> name)
            if (!Contains(names, name))
                names.push_back(name);
    }
    // Lines such as "ttyS0                -W- (EC  p a)    4:64"; E marks an enabled console.
    // A line whose flags cannot be read counts as a console: better unused than disturbed.
    if (ReadWholeFile(m_sources.procConsoles, &text)) {
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
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

std::string PortResolver::ByIdName(const std::string& devicePath) const {
    return LinkLeadingTo(m_sources.byIdFolder, devicePath);
}

std::string PortResolver::ByPathName(const std::string& devicePath) const {
    return LinkLeadingTo(m_sources.byPathFolder, devicePath);
}

PortResolver::Port PortResolver::Resolve(unsigned nPort) const {
    Port port;
    const std::string entry = EntryPath(nPort);
    if (!entry.empty()) {
        struct stat st {};
        if (lstat(entry.c_str(), &st) == 0) {
            port.how = How::Link;
            port.path = entry;
            if (S_ISLNK(st.st_mode)) {
                char target[4096];
                const ssize_t n = readlink(entry.c_str(), target, sizeof target - 1);
                if (n > 0)
                    port.target.assign(target, static_cast<std::size_t>(n));
            }
            return port;
        }
        if (errno != ENOENT) {
            port.how = How::LookupError;
            port.path = entry;
            port.error = errno;
            return port;
        }
    }

    const std::vector<std::string> ports = MachinePorts();
    if (nPort >= 1 && nPort <= ports.size()) {
        port.how = How::Found;
        port.path = m_sources.devFolder + "/" + ports[nPort - 1];
        port.target = ByIdName(port.path);
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
    port.path = entry;
    return port;
}
