#include "serial/TtyClass.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The name prefix of each family, in the order of TtyClass::Family.
constexpr const char* kFamilyPrefixes[] = {"ttyS", "ttyUSB", "ttyACM"};

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// "188:0": how sysfs and udev name a device number.
std::string Number(dev_t number) {
    return std::to_string(major(number)) + ":" + std::to_string(minor(number));
}

// The first line of a small file (a sysfs attribute) without its line end; empty when it cannot
// be read.
std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where a symbolic link points, or empty.
std::string LinkTarget(const std::string& path) {
    char target[4096];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// The entry of a folder of udev's links that leads to the device node, or empty.
std::string LinkLeadingTo(const std::string& folder, const std::string& devicePath) {
    std::string found;
    const std::string device = BaseName(devicePath);
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), &closedir);
    if (!dir)
        return found;
    while (const dirent* e = readdir(dir.get())) {
        if (e->d_name[0] == '.')
            continue;
        const std::string entry = folder + "/" + e->d_name;
        // udev links are relative ("../../ttyUSB0"); one name per device, the first in name
        // order so that the answer does not depend on the directory's order.
        const std::string target = LinkTarget(entry);
        if (!target.empty() && BaseName(target) == device && (found.empty() || entry < found))
            found = entry;
    }
    return found;
}

} // namespace

bool TtyClass::ParseName(const std::string& name, Family* pFamily, unsigned long* pNumber) {
    for (std::size_t f = 0; f < sizeof kFamilyPrefixes / sizeof kFamilyPrefixes[0]; ++f) {
        const std::string prefix = kFamilyPrefixes[f];
        if (name.size() <= prefix.size() || !StartsWith(name, prefix))
            continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 6)
            continue;
        *pFamily = static_cast<Family>(f);
        *pNumber = std::strtoul(digits.c_str(), nullptr, 10);
        return true;
    }
    return false;
}

bool TtyClass::InFamily(const std::string& name, Family family) {
    Family found = Family::Uart;
    unsigned long number = 0;
    return ParseName(name, &found, &number) && found == family;
}

std::vector<std::string> TtyClass::Names() const {
    std::vector<std::string> names;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(m_roots.sysClassTty.c_str()), &closedir);
    if (!dir)
        return names;
    while (const dirent* e = readdir(dir.get()))
        if (e->d_name[0] != '.')
            names.emplace_back(e->d_name);
    std::sort(names.begin(), names.end());
    return names;
}

bool TtyClass::HasDevice(const std::string& name) const {
    return Exists(m_roots.sysClassTty + "/" + name + "/device");
}

int TtyClass::UartType(const std::string& name) const {
    return std::atoi(FirstLine(m_roots.sysClassTty + "/" + name + "/type").c_str());
}

dev_t TtyClass::NumberOf(const std::string& name) const {
    unsigned maj = 0, min = 0;
    char end = 0;
    const std::string text = FirstLine(m_roots.sysClassTty + "/" + name + "/dev");
    if (std::sscanf(text.c_str(), "%u:%u%c", &maj, &min, &end) != 2)
        return 0;
    return makedev(maj, min);
}

std::string TtyClass::NameOf(dev_t number) const {
    for (const std::string& name : Names())
        if (NumberOf(name) == number)
            return name;
    return std::string();
}

bool TtyClass::IsTty(dev_t number) const {
    // "/sys/dev/char/4:64/subsystem" leads to the class folder, named "tty".
    return BaseName(LinkTarget(m_roots.sysDevChar + "/" + Number(number) + "/subsystem")) == "tty";
}

TtyClass::Adapter TtyClass::AdapterOf(const std::string& name) const {
    Adapter adapter;
    // The USB device is an ancestor of the tty's device: the port of a USB serial driver
    // (ttyUSB*) below the interface, or the interface itself (ttyACM*).
    const std::unique_ptr<char, void (*)(void*)> device(
        realpath((m_roots.sysClassTty + "/" + name + "/device").c_str(), nullptr), &std::free);
    if (!device)
        return adapter;
    std::string dir = device.get();
    for (int up = 0; up < 3 && !adapter.usb && dir.size() > 1; ++up) {
        if (Exists(dir + "/idVendor")) {
            adapter.usb = true;
            adapter.vendor = FirstLine(dir + "/idVendor");
            adapter.product = FirstLine(dir + "/idProduct");
            adapter.serialNumber = !FirstLine(dir + "/serial").empty();
        }
        dir.erase(dir.rfind('/'));
    }
    const std::string latency = FirstLine(std::string(device.get()) + "/latency_timer");
    if (!latency.empty())
        adapter.latencyMs = std::atoi(latency.c_str());
    return adapter;
}

std::vector<std::string> TtyClass::ActiveConsoles() const {
    std::vector<std::string> names;
    std::ifstream in(m_roots.sysClassTty + "/console/active");
    for (std::string name; in >> name;)
        names.push_back(name);
    return names;
}

std::string TtyClass::ByIdName(const std::string& devicePath) const {
    return LinkLeadingTo(m_roots.byIdFolder, devicePath);
}

std::string TtyClass::ByPathName(const std::string& devicePath) const {
    return LinkLeadingTo(m_roots.byPathFolder, devicePath);
}

std::string TtyClass::ClaimedByIdName(const UdevEntry& entry) const {
    const std::string folder = "serial/by-id/";
    for (const std::string& link : entry.links)
        if (StartsWith(link, folder))
            return m_roots.byIdFolder + "/" + link.substr(folder.size());
    return std::string();
}

TtyClass::UdevEntry TtyClass::Udev(dev_t number) const {
    // "S:" lines are the device's links below /dev, "E:" lines its properties.
    UdevEntry entry;
    std::ifstream in(m_roots.udevData + "/c" + Number(number));
    entry.known = static_cast<bool>(in);
    for (std::string line; std::getline(in, line);) {
        if (StartsWith(line, "S:"))
            entry.links.push_back(line.substr(2));
        else if (StartsWith(line, "E:"))
            entry.properties.push_back(line.substr(2));
    }
    return entry;
}
