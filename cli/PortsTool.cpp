#include "cli/PortsTool.h"

#include "cli/TtyFacts.h"
#include "cli/WholeNumber.h"
#include "core/OneLine.h"
#include "serial/DeviceCheck.h"
#include "serial/LivenessMark.h"
#include "serial/PortsFolder.h"
#include "serial/Refusal.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kProgram = "morvik-ports";

void Usage(std::ostream& out) {
    out << "Usage: morvik-ports\n"
           "       morvik-ports --check [N]\n"
           "       morvik-ports --assign N DEVICE [OPTION]...\n"
           "Show which device each of MorvikSerialDemo's ports COM1 to COM8 names, and why;\n"
           "say what stands in the way of each; or make port N name DEVICE.\n"
           "\n"
           "  --check [N]        for port N, or every port, what it names, whether it can be\n"
           "                     opened and why not, and the command that fixes it; nothing\n"
           "                     is opened (status 1 when port N cannot be opened)\n"
           "  --assign N DEVICE  link COMN to DEVICE, a serial line, by its stable\n"
           "                     /dev/serial/by-id/ name when udev made one, by its USB\n"
           "                     socket (/dev/serial/by-path/) when that name is not its own;\n"
           "                     its options make the port's profile, COMN.profile beside the\n"
           "                     link (without them the default profile holds):\n"
           "    --baud RATE          50 to 4000000 (default 19200)\n"
           "    --data-bits N        5, 6, 7 or 8 (default 8)\n"
           "    --parity P           none, odd, even, mark or space (default none)\n"
           "    --stop-bits N        1, 1.5 (with 5 data bits only) or 2 (default 1)\n"
           "    --command-end E      cr, lf, crlf or none (default cr)\n"
           "    --reply-end E        cr, lf, crlf or any (default cr)\n"
           "    --timeout MS         the silence that ends a reply, 1 to 30000 ms (default 1000)\n"
           "    --encoding E         auto, windows-1252 or utf-8 (default auto)\n"
           "  --help             show this help and exit\n"
           "  --version          show the version and exit\n"
           "\n"
           "Port n is the entry COMn in $XDG_CONFIG_HOME/MorvikSerialDemo/ports/\n"
           "(~/.config/MorvikSerialDemo/ports/ by default) when it exists, else the n-th serial\n"
           "port of the machine: built-in UARTs, then ttyUSB and ttyACM adapters, by number.\n"
           "A kernel console is used only when linked. MorvikSerialDemo opens ports 1 to 4.\n";
}

int UsageError(std::ostream& err, const std::string& what) {
    err << kProgram << ": " << OneLine(what)
        << "\nTry 'morvik-ports --help' for more information.\n";
    return 2;
}

// What was asked for is the output: not written, not done.
int Written(std::ostream& out, std::ostream& err) {
    if (out.flush())
        return 0;
    err << kProgram << ": cannot write the output\n";
    return 1;
}

// "COMn  what it names  how", as the listing shows a port.
std::string Named(unsigned n, const PortResolver::Port& port) {
    std::string line = "COM" + std::to_string(n) + "  ";
    switch (port.how) {
    case PortResolver::How::Link:
    case PortResolver::How::Ended:
        return line + (port.target.empty() ? port.path : port.target) + "  link " + port.path;
    case PortResolver::How::Found:
        return line + port.path + "  found" + (port.target.empty() ? "" : ", " + port.target);
    case PortResolver::How::Console:
        return line + port.path + "  console, skipped";
    case PortResolver::How::Nothing:
        break;
    case PortResolver::How::LookupError:
        return line + "-  " + port.path + ": " + Refusal::OfPort(n, port).Reason();
    }
    return line + "-  nothing";
}

} // namespace

int PortsTool::Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) const {
    if (argc <= 1) {
        List(out);
        return Written(out, err);
    }
    const std::string first = argv[1];
    if ((first == "--help" || first == "--version") && argc > 2)
        return UsageError(err, "'" + first + "' takes no other arguments");
    if (first == "--help") {
        Usage(out);
        return Written(out, err);
    }
    if (first == "--version") {
        out << kProgram << " " << MORVIK_VERSION << "\n";
        return Written(out, err);
    }
    if (first == "--check") {
        if (argc > 3)
            return UsageError(err, "--check takes at most a port number");
        unsigned long n = 0;
        if (argc == 3 && !ParseWholeNumber(argv[2], 1, kShownPorts, &n))
            return UsageError(err, "the port number is 1 to " + std::to_string(kShownPorts) +
                                       ", not '" + argv[2] + "'");
        return Check(static_cast<unsigned>(n), out, err);
    }
    if (first == "--assign") {
        if (argc < 4)
            return UsageError(err, "--assign takes a port number and a device");
        return Assign(argv[2], argv[3], argc - 4, argv + 4, out, err);
    }
    if (first.compare(0, 1, "-") == 0)
        return UsageError(err, "unknown option '" + first + "'");
    return UsageError(err, "unexpected argument '" + first + "'");
}

void PortsTool::List(std::ostream& out) const {
    const DeviceCheck check(m_sources.machine);
    const PortsFolder folder(m_sources.machine.portsFolder);
    for (unsigned n = 1; n <= kShownPorts; ++n) {
        const PortResolver::Port port = m_resolver.Resolve(n);
        std::string line = Named(n, port);
        if (port.how == PortResolver::How::Ended) {
            line += ", " + Refusal::OfPort(n, port).Reason();
        } else if (port.how == PortResolver::How::Link) {
            const std::string reason = Refusal::OfDevice(check.Check(port.path)).Reason();
            if (!reason.empty())
                line += ", " + reason;
        } else if (port.how == PortResolver::How::Found) {
            // The kernel listed it as a serial port: only somebody's use of it can stand in
            // the way.
            const DeviceCheck::Result r = check.Check(port.path);
            if (r.verdict == DeviceCheck::Verdict::InUse)
                line += ", " + Refusal::OfDevice(r).Reason();
        }
        out << OneLine(line) << "\n";
        LineProfile profile;
        std::string wrong;
        switch (folder.ReadProfile(n, &profile, &wrong)) {
        case PortsFolder::Profile::None:
            break;
        case PortsFolder::Profile::Read:
            if (!profile.IsDefault())
                out << "      profile: " << profile.Describe() << "\n";
            break;
        case PortsFolder::Profile::Wrong:
            out << "      bad profile: " << OneLine(wrong) << "\n";
            break;
        }
    }
}

int PortsTool::Check(unsigned nPort, std::ostream& out, std::ostream& err) const {
    const PortCheck check(m_sources, m_user);
    bool blocked = false;
    for (unsigned n = nPort ? nPort : 1; n <= (nPort ? nPort : kShownPorts); ++n) {
        const PortResolver::Port port = m_resolver.Resolve(n);
        out << OneLine(Named(n, port)) << "\n";
        // In the whole list a port that names nothing, or the console, says enough by that.
        if (nPort == 0 &&
            (port.how == PortResolver::How::Nothing || port.how == PortResolver::How::Console))
            continue;
        for (const PortCheck::Finding& f : check.Check(n, port)) {
            out << "      " << f.verdict << (f.reason.empty() ? "" : ": ") << OneLine(f.reason)
                << "\n";
            if (!f.fix.empty())
                out << "      fix: " << OneLine(f.fix) << "\n";
            blocked = blocked || f.blocking;
        }
    }
    const int status = Written(out, err);
    return status != 0 || (nPort != 0 && blocked) ? 1 : 0;
}

int PortsTool::Assign(const std::string& number, const std::string& device, int argc,
                      const char* const* argv, std::ostream& out, std::ostream& err) const {
    unsigned long n = 0;
    if (!ParseWholeNumber(number, 1, kShownPorts, &n))
        return UsageError(err, "the port number is 1 to " + std::to_string(kShownPorts) +
                                   ", not '" + number + "'");
    // The profile is what the options say over the default: --name value or --name=value.
    LineProfile profile;
    for (int i = 0; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        const std::size_t equals = name.find('=');
        const bool hasValue = equals != std::string::npos;
        if (hasValue) {
            value = name.substr(equals + 1);
            name.erase(equals);
        }
        if (name.compare(0, 2, "--") != 0 || !LineProfile::IsSetting(name.substr(2)))
            return UsageError(err, name.compare(0, 1, "-") == 0
                                       ? "unknown option '" + name + "'"
                                       : "unexpected argument '" + name + "'");
        if (!hasValue && i + 1 >= argc)
            return UsageError(err, name + " takes a value");
        std::string why;
        if (!profile.Set(name.substr(2), hasValue ? value : argv[++i], &why))
            return UsageError(err, why);
    }
    if (!profile.Conflict().empty())
        return UsageError(err, profile.Conflict());

    // The same check as the program's before it opens a port; nothing is opened here.
    std::string why;
    const DeviceCheck::Result checked = DeviceCheck(m_sources.machine).Check(device);
    if (checked.verdict != DeviceCheck::Verdict::SerialLine) {
        err << kProgram << ": " << OneLine(device + ": " + Refusal::OfDevice(checked).Reason())
            << "\n";
        return 1;
    }

    const std::string target = StableName(device, checked.device, checked.number, &why);
    const PortsFolder folder(m_sources.machine.portsFolder);
    if (folder.Path().empty()) {
        err << kProgram << ": no ports folder: set HOME or XDG_CONFIG_HOME\n";
        return 1;
    }
    if (!folder.Create()) {
        err << kProgram << ": cannot create " << OneLine(folder.Path()) << ": "
            << std::strerror(errno) << "\n";
        return 1;
    }
    if (!folder.Link(static_cast<unsigned>(n), target)) {
        err << kProgram << ": cannot link " << OneLine(folder.EntryPath(static_cast<unsigned>(n)))
            << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    // A mark left by a simulated device that ended must not disown the new link.
    const std::string mark = folder.EntryPath(static_cast<unsigned>(n), LivenessMark::kSuffix);
    if (LivenessMark::Of(mark, target) == LivenessMark::State::Ended)
        unlink(mark.c_str());
    // Without options the port goes back to the default profile.
    const unsigned nPort = static_cast<unsigned>(n);
    if (argc > 0 ? !folder.WriteProfile(nPort, profile) : !folder.RemoveProfile(nPort)) {
        err << kProgram << ": cannot " << (argc > 0 ? "write " : "remove ")
            << OneLine(folder.ProfilePath(nPort)) << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    // The link is made: a confirmation that cannot be written does not undo that.
    if (argc > 0)
        why += "COM" + std::to_string(n) + " profile: " + profile.Describe() + "\n";
    if (!(out << "COM" << n << " -> " << OneLine(target) << "\n" << why).flush())
        err << kProgram << ": COM" << n << " -> " << OneLine(target)
            << " (the confirmation could not be written)\n";
    return 0;
}

std::string PortsTool::StableName(const std::string& given, const std::string& device, dev_t number,
                                  std::string* pWhy) const {
    const TtyClass ttys(m_sources.machine.ttys);
    const TtyClass::Roots& roots = ttys.GetRoots();
    auto under = [](const std::string& path, const std::string& folder) {
        return path.compare(0, folder.size() + 1, folder + "/") == 0;
    };
    auto leadsThere = [&](const std::string& name) {
        struct stat st {};
        return !name.empty() && stat(name.c_str(), &st) == 0 && st.st_rdev == number;
    };
    // A by-id name is the adapter's own only when it carries a serial number that no other
    // adapter's name repeats; else the USB socket it is plugged into tells it apart.
    const TtyFacts tty = TtyFacts::Of(ttys, number);
    std::string notOwn;
    if (tty.usb && !tty.serialNumber)
        notOwn = "the adapter has no serial number, so a by-id name would fit any adapter of its "
                 "make";
    else if (!tty.sharers.empty())
        notOwn =
            "its by-id name " + tty.byIdName + " is claimed by " + tty.sharers.front() + " too";
    if (!notOwn.empty()) {
        const std::string byPath =
            under(given, roots.byPathFolder) ? given : ttys.ByPathName(device);
        if (leadsThere(byPath)) {
            *pWhy = "linked by its USB socket: " + notOwn + "; plug it into the same socket\n";
            return byPath;
        }
    }
    // The by-id name stays with the adapter when it is plugged in elsewhere or enumerated in
    // another order; the kernel name does not.
    if (under(given, roots.byIdFolder) || under(given, roots.byPathFolder))
        return given;
    const std::string byId = ttys.ByIdName(device);
    return leadsThere(byId) ? byId : device;
}
