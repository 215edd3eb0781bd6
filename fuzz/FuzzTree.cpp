#include "fuzz/FuzzTree.h"

#include "fuzz/HexDigit.h"
#include "testsupport/PtyDevice.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    while (from <= path.size()) {
        std::size_t slash = path.find('/', from);
        if (slash == std::string::npos)
            slash = path.size();
        parts.push_back(path.substr(from, slash - from));
        from = slash + 1;
    }
    return parts;
}

// The components of a path without empty ones, "." and "..".
std::vector<std::string> Kept(const std::string& path) {
    std::vector<std::string> kept;
    for (const std::string& part : Components(path))
        if (!part.empty() && part != "." && part != "..")
            kept.push_back(part);
    return kept;
}

// Where the harnesses' code only looks at entries (lstat, stat, readlink, realpath) and never
// opens one: /dev, the ports folder and each process's fd folder. Only there may a link lead to
// a real device, or a FIFO stand, and no link from elsewhere may lead there: a reader of sysfs
// or /proc would open the device and wait for it, which no real sysfs or /proc makes it do.
bool LookedAtOnly(const std::vector<std::string>& parts) {
    return !parts.empty() && (parts[0] == "dev" || parts[0] == "ports" ||
                              (parts.size() >= 3 && parts[0] == "proc" && parts[2] == "fd"));
}

std::string Unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'n')
            out += '\n';
        else if (c == 't')
            out += '\t';
        else if (c == 'x' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
                 HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else
            out += c;
    }
    return out;
}

std::string RealPath(const std::string& path) {
    const std::unique_ptr<char, void (*)(void*)> real(realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

// The harness's own pseudo-terminal, whose slave stands for a serial line; never opened here.
// It belongs to the group dialout (20), as a serial port does, where the harness may say so.
const std::string& PtySlave() {
    static const PtyDevice pty(1);
    static const bool grouped = chown(pty.SlavePath().c_str(), static_cast<uid_t>(-1), 20) == 0 &&
                                chmod(pty.SlavePath().c_str(), 0660) == 0;
    static_cast<void>(grouped);
    return pty.SlavePath();
}

} // namespace

const std::map<std::string, std::string>& FuzzTree::Nodes() {
    static const std::map<std::string, std::string> nodes = {
        {"null", "/dev/null"}, {"zero", "/dev/zero"}, {"tty", "/dev/tty"},
        {"ptmx", "/dev/ptmx"}, {"tty0", "/dev/tty0"}, {"pty", PtySlave()}};
    return nodes;
}

FuzzTree::FuzzTree(const std::string& root, const std::uint8_t* data, std::size_t size)
    : m_root(root), m_realRoot(RealPath(root)) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t lines = 0;
    for (std::size_t from = 0; from < input.size() && lines < kMaxLines; ++lines) {
        std::size_t end = input.find('\n', from);
        if (end == std::string::npos)
            end = input.size();
        const std::string line = input.substr(from, end - from);
        from = end + 1;
        if (line.size() < 2 || line[1] != ' ')
            continue;
        const std::string rest = line.substr(2);
        if (line[0] == 'D' || line[0] == 'F' || line[0] == 'L' || line[0] == 'P' ||
            line[0] == 'M') {
            const std::size_t space = rest.find(' ');
            const std::string path = Expand(Unescaped(rest.substr(0, space)));
            const std::string value = space == std::string::npos ? "" : rest.substr(space + 1);
            Make(line[0], path, value);
        } else {
            m_notes.emplace(line[0], Expand(Unescaped(rest)));
        }
    }
}

FuzzTree::~FuzzTree() {
    // A folder shut before what is in it: twice over, in both orders.
    for (auto it = m_modesChanged.rbegin(); it != m_modesChanged.rend(); ++it)
        chmod(it->c_str(), 0700);
    for (const std::string& path : m_modesChanged)
        chmod(path.c_str(), 0700);
}

std::vector<std::string> FuzzTree::Notes(char kind) const {
    std::vector<std::string> notes;
    const auto range = m_notes.equal_range(kind);
    for (auto it = range.first; it != range.second; ++it)
        notes.push_back(it->second);
    return notes;
}

std::string FuzzTree::Expand(const std::string& text) const {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t close = text[i] == '{' ? text.find('}', i) : std::string::npos;
        if (close == std::string::npos || close - i > 32) {
            out += text[i];
            continue;
        }
        std::string name = text.substr(i + 1, close - i - 1);
        std::string what;
        const std::size_t dot = name.find('.');
        if (dot != std::string::npos) {
            what = name.substr(dot + 1);
            name.erase(dot);
        }
        std::string value;
        bool known = true;
        if (name == "root" && what.empty()) {
            value = m_root;
        } else if (name == "pid" && what.empty()) {
            value = std::to_string(getpid());
        } else if (Nodes().count(name) != 0) {
            const std::string& path = Nodes().at(name);
            struct stat st {};
            const dev_t number = stat(path.c_str(), &st) == 0 ? st.st_rdev : 0;
            const unsigned maj = major(number), min = minor(number);
            if (what.empty())
                value = std::to_string(maj) + ":" + std::to_string(min);
            else if (what == "nr")
                value = std::to_string((min & 0xffu) | (maj << 8) |
                                       (static_cast<unsigned long>(min & ~0xffu) << 12));
            else if (what == "path")
                value = path;
            else
                known = false;
        } else {
            known = false;
        }
        if (!known) {
            out += text[i];
            continue;
        }
        out += value;
        i = close;
    }
    return out;
}

std::string FuzzTree::Place(const std::string& path) const {
    std::string placed = m_root;
    const std::vector<std::string> kept = Kept(path);
    for (std::size_t i = 0; i < kept.size(); ++i) {
        placed += "/" + kept[i];
        if (i + 1 < kept.size())
            mkdir(placed.c_str(), 0755); // it may be there, or be a file: the entry then fails
    }
    return kept.empty() ? std::string() : placed;
}

std::string FuzzTree::Target(const std::string& linkPath, const std::string& target) const {
    // Where the link really is, below the root.
    const std::size_t slash = linkPath.rfind('/');
    const std::string folder = RealPath(linkPath.substr(0, slash));
    if (m_realRoot.empty() ||
        (folder != m_realRoot && folder.compare(0, m_realRoot.size() + 1, m_realRoot + "/") != 0))
        return std::string();
    const std::vector<std::string> folderParts = Kept(folder.substr(m_realRoot.size()));
    std::vector<std::string> where = folderParts;
    where.push_back(linkPath.substr(slash + 1));
    const bool looked = LookedAtOnly(where);

    if (!target.empty() && target[0] == '@') {
        const auto node = Nodes().find(target.substr(1));
        return node == Nodes().end() || !looked ? std::string() : node->second;
    }
    const std::string expanded = Expand(target);
    std::size_t ups = 0;
    for (const std::string& part : Components(expanded)) {
        if (part != "..")
            break;
        ++ups;
    }
    const std::vector<std::string> kept = Kept(expanded);
    std::string rest;
    for (const std::string& part : kept)
        rest += (rest.empty() ? "" : "/") + part;
    const bool absolute = !expanded.empty() && expanded[0] == '/';
    // As many steps up as the link's folder lies below the root.
    ups = absolute ? folderParts.size() : std::min(ups, folderParts.size());
    std::vector<std::string> leadsTo(folderParts.begin(), folderParts.end() - ups);
    leadsTo.insert(leadsTo.end(), kept.begin(), kept.end());
    if (!looked && LookedAtOnly(leadsTo))
        return std::string();
    if (absolute)
        return m_root + "/" + rest;
    std::string climbed;
    for (std::size_t i = 0; i < ups; ++i)
        climbed += "../";
    return climbed + (rest.empty() && !climbed.empty() ? "." : rest);
}

void FuzzTree::Make(char kind, const std::string& path, const std::string& value) {
    const std::string placed = Place(path);
    if (placed.empty())
        return;
    switch (kind) {
    case 'D':
        mkdir(placed.c_str(), 0755);
        break;
    case 'F': {
        // Never through a link, and never waiting for a FIFO's reader.
        const int fd =
            open(placed.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                 0644);
        if (fd < 0)
            break;
        const std::string text = Expand(Unescaped(value));
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = write(fd, text.data() + done, text.size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        close(fd);
        break;
    }
    case 'L': {
        const std::string target = Target(placed, Unescaped(value));
        if (!target.empty())
            symlink(target.c_str(), placed.c_str());
        break;
    }
    case 'P': {
        // Only a ports entry, really there: every reader of other files would wait for a writer.
        const std::size_t slash = placed.rfind('/');
        const std::string name = placed.substr(slash + 1);
        if (RealPath(placed.substr(0, slash)) == m_realRoot + "/ports" &&
            name.compare(0, 3, "COM") == 0 && name.size() > 3 &&
            name.find_first_not_of("0123456789", 3) == std::string::npos)
            mkfifo(placed.c_str(), 0644);
        break;
    }
    case 'M': {
        struct stat st {};
        char* end = nullptr;
        const unsigned long mode = std::strtoul(value.c_str(), &end, 8);
        if (lstat(placed.c_str(), &st) == 0 && !S_ISLNK(st.st_mode) &&
            chmod(placed.c_str(), static_cast<mode_t>(mode & 0777)) == 0)
            m_modesChanged.push_back(placed);
        break;
    }
    default:
        break;
    }
}
