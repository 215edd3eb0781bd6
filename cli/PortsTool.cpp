#include "cli/PortsTool.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kProgram = "morvik-ports";

void Usage(std::ostream& out) {
    out << "Usage: morvik-ports\n"
           "       morvik-ports --assign N DEVICE\n"
           "Show which device each of MorvikSerialDemo's ports COM1 to COM8 names, and why;\n"
           "or make port N name DEVICE.\n"
           "\n"
           "  --assign N DEVICE  link COMN to DEVICE, a character device, by its stable\n"
           "                     /dev/serial/by-id/ name when udev made one\n"
           "  --help             show this help and exit\n"
           "  --version          show the version and exit\n"
           "\n"
           "Port n is the entry COMn in $XDG_CONFIG_HOME/MorvikSerialDemo/ports/\n"
           "(~/.config/MorvikSerialDemo/ports/ by default) when it exists, else the n-th serial\n"
           "port of the machine: built-in UARTs, then ttyUSB and ttyACM adapters, by number.\n"
           "A kernel console is used only when linked. MorvikSerialDemo opens ports 1 to 4.\n";
}

int UsageError(std::ostream& err, const std::string& what) {
    err << kProgram << ": " << what << "\nTry 'morvik-ports --help' for more information.\n";
    return 2;
}

} // namespace

int PortsTool::Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) const {
    if (argc <= 1) {
        List(out);
        return 0;
    }
    const std::string first = argv[1];
    if (first == "--help") {
        Usage(out);
        return 0;
    }
    if (first == "--version") {
        out << kProgram << " " << MORVIK_VERSION << "\n";
        return 0;
    }
    if (first == "--assign") {
        if (argc != 4)
            return UsageError(err, "--assign takes a port number and a device");
        return Assign(argv[2], argv[3], out, err);
    }
    if (first.compare(0, 1, "-") == 0)
        return UsageError(err, "unknown option '" + first + "'");
    return UsageError(err, "unexpected argument '" + first + "'");
}

void PortsTool::List(std::ostream& out) const {
    for (unsigned n = 1; n <= kShownPorts; ++n) {
        const PortResolver::Port port = m_resolver.Resolve(n);
        out << "COM" << n << "  ";
        switch (port.how) {
        case PortResolver::How::Link: {
            out << (port.target.empty() ? port.path : port.target) << "  link " << port.path;
            struct stat st {};
            if (stat(port.path.c_str(), &st) != 0)
                out << ", missing";
            else if (!S_ISCHR(st.st_mode))
                out << ", not a serial device";
            break;
        }
        case PortResolver::How::Found:
            out << port.path << "  found";
            if (!port.target.empty())
                out << ", " << port.target;
            break;
        case PortResolver::How::Console:
            out << port.path << "  console, skipped";
            break;
        case PortResolver::How::Nothing:
            out << "-  nothing";
            break;
        case PortResolver::How::LookupError:
            out << "-  lookup failed: " << port.path << ": " << std::strerror(port.error);
            break;
        }
        out << "\n";
    }
}

int PortsTool::Assign(const std::string& number, const std::string& device, std::ostream& out,
                      std::ostream& err) const {
    char* end = nullptr;
    const long n = std::strtol(number.c_str(), &end, 10);
    if (number.empty() || *end != '\0' || n < 1 || n > static_cast<long>(kShownPorts))
        return UsageError(err, "the port number is 1 to " + std::to_string(kShownPorts) +
                                   ", not '" + number + "'");

    struct stat dev {};
    if (stat(device.c_str(), &dev) != 0) {
        err << kProgram << ": " << device << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    if (!S_ISCHR(dev.st_mode)) {
        err << kProgram << ": " << device << ": not a serial device\n";
        return 1;
    }

    // The by-id name stays with the adapter when it is plugged in elsewhere or enumerated in
    // another order; the kernel name does not.
    std::string target;
    char* real = realpath(device.c_str(), nullptr);
    if (real) {
        target = real;
        std::free(real);
    } else {
        target = device;
    }
    const std::string byIdFolder = m_resolver.GetSources().byIdFolder + "/";
    if (device.compare(0, byIdFolder.size(), byIdFolder) == 0) {
        target = device; // already the stable name
    } else {
        const std::string byId = m_resolver.ByIdName(target);
        struct stat st {};
        if (!byId.empty() && stat(byId.c_str(), &st) == 0 && st.st_rdev == dev.st_rdev)
            target = byId;
    }

    const std::string folder = m_resolver.PortsFolder();
    if (folder.empty()) {
        err << kProgram << ": no ports folder: set HOME or XDG_CONFIG_HOME\n";
        return 1;
    }
    std::error_code folderError;
    std::filesystem::create_directories(folder, folderError);
    if (folderError) {
        err << kProgram << ": cannot create " << folder << ": " << folderError.message() << "\n";
        return 1;
    }
    // A new link under a temporary name, then renamed over the old entry: never half-made.
    const std::string entry = m_resolver.EntryPath(static_cast<unsigned>(n));
    const std::string temporary = entry + ".new-" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0 ||
        rename(temporary.c_str(), entry.c_str()) != 0) {
        const int error = errno;
        unlink(temporary.c_str());
        err << kProgram << ": cannot link " << entry << ": " << std::strerror(error) << "\n";
        return 1;
    }
    out << "COM" << n << " -> " << target << "\n";
    return 0;
}
