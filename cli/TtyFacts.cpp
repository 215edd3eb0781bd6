#include "cli/TtyFacts.h"

#include "cli/FirstLine.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string Number(dev_t number) {
    return std::to_string(major(number)) + ":" + std::to_string(minor(number));
}

// The ttys of the sysfs class, each with its device number as "MAJ:MIN".
std::vector<std::pair<std::string, std::string>> ClassTtys(const std::string& sysClassTty) {
    std::vector<std::pair<std::string, std::string>> ttys;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(sysClassTty.c_str()), &closedir);
    if (!dir)
        return ttys;
    while (const dirent* e = readdir(dir.get())) {
        if (e->d_name[0] == '.')
            continue;
        const std::string number = FirstLine(sysClassTty + "/" + e->d_name + "/dev");
        if (!number.empty())
            ttys.emplace_back(e->d_name, number);
    }
    std::sort(ttys.begin(), ttys.end());
    return ttys;
}

// A device's entry in udev's database: "S:" lines are its links below /dev, "E:" lines its
// properties. False when there is none.
bool ReadUdevEntry(const std::string& udevData, const std::string& number,
                   std::vector<std::string>* pLines) {
    std::ifstream in(udevData + "/c" + number);
    if (!in)
        return false;
    for (std::string line; std::getline(in, line);)
        pLines->push_back(line);
    return true;
}

// The by-id name among an entry's links, in the by-id folder.
std::string ByIdLink(const std::vector<std::string>& entry, const std::string& byIdFolder) {
    const std::string prefix = "S:serial/by-id/";
    for (const std::string& line : entry)
        if (line.compare(0, prefix.size(), prefix) == 0)
            return byIdFolder + "/" + line.substr(prefix.size());
    return std::string();
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

} // namespace

TtyFacts TtyFacts::Of(const PortResolver::Sources& sources, dev_t number) {
    TtyFacts facts;
    const std::string wanted = Number(number);
    const auto ttys = ClassTtys(sources.sysClassTty);
    for (const auto& tty : ttys)
        if (tty.second == wanted)
            facts.name = tty.first;
    if (facts.name.empty())
        return facts;

    // The USB device is an ancestor of the tty's device: the port of a USB serial driver
    // (ttyUSB*) below the interface, or the interface itself (ttyACM*).
    const std::string classDir = sources.sysClassTty + "/" + facts.name;
    const std::unique_ptr<char, void (*)(void*)> device(
        realpath((classDir + "/device").c_str(), nullptr), &std::free);
    if (device) {
        std::string dir = device.get();
        for (int up = 0; up < 3 && !facts.usb && dir.size() > 1; ++up) {
            if (Exists(dir + "/idVendor")) {
                facts.usb = true;
                facts.vendor = FirstLine(dir + "/idVendor");
                facts.product = FirstLine(dir + "/idProduct");
                facts.serialNumber = !FirstLine(dir + "/serial").empty();
            }
            dir.erase(dir.rfind('/'));
        }
        const std::string latency = FirstLine(std::string(device.get()) + "/latency_timer");
        if (!latency.empty())
            facts.latencyMs = std::atoi(latency.c_str());
    }

    std::vector<std::string> entry;
    facts.udevKnown = ReadUdevEntry(sources.udevData, wanted, &entry);
    for (const std::string& line : entry)
        if (line == "E:ID_MM_DEVICE_IGNORE=1")
            facts.modemManagerIgnores = true;
    facts.byIdName = ByIdLink(entry, sources.byIdFolder);
    // udev gives the name to one device, the last it saw: two adapters without serial numbers
    // of the same make both claim it.
    if (!facts.byIdName.empty()) {
        for (const auto& tty : ttys) {
            std::vector<std::string> other;
            const bool adapter = StartsWith(tty.first, "ttyUSB") || StartsWith(tty.first, "ttyACM");
            if (adapter && tty.first != facts.name &&
                ReadUdevEntry(sources.udevData, tty.second, &other) &&
                ByIdLink(other, sources.byIdFolder) == facts.byIdName)
                facts.sharers.push_back(tty.first);
        }
    }
    return facts;
}
