// morvik-ports on a machine the input describes (a FuzzTree: its ports folder is ports/, its
// sysfs, /dev, /proc and group file where a FakeMachine has them), with the arguments of its "A"
// lines and the user of its "U" line ("uid name gid..."; else a user 1000 in the group 20).
// Nothing is opened: the tool only looks.

#include "cli/PortsTool.h"
#include "fuzz/Expect.h"
#include "fuzz/FuzzMachine.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMaxArguments = 4;

PortCheck::User UserOf(const std::vector<std::string>& lines) {
    PortCheck::User user;
    user.uid = 1000;
    user.groups = {1000, 20};
    user.name = "fuzz";
    if (lines.empty())
        return user;
    std::istringstream fields(lines.front());
    unsigned long number = 0;
    if (fields >> number)
        user.uid = static_cast<uid_t>(number);
    fields >> user.name;
    user.groups.clear();
    while (fields >> number)
        user.groups.push_back(static_cast<gid_t>(number));
    return user;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FuzzMachine machine(data, size);
    const FuzzTree& tree = machine.Tree();
    const PortCheck::Sources sources{machine.Sources()};

    std::vector<std::string> args = tree.Notes('A');
    if (args.size() > kMaxArguments)
        args.resize(kMaxArguments);
    std::vector<const char*> argv = {"morvik-ports"};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());

    const PortsTool tool(sources, UserOf(tree.Notes('U')));
    std::ostringstream out, err;
    const int status = tool.Run(static_cast<int>(argv.size()), argv.data(), out, err);
    // To see what an input does: MORVIK_FUZZ_SHOW=1 HARNESS FILE.
    if (std::getenv("MORVIK_FUZZ_SHOW"))
        std::fprintf(stderr, "status %d\n%s%s", status, out.str().c_str(), err.str().c_str());
    Expect(status >= 0 && status <= 2, "a documented status");
    if (status == 2)
        Expect(err.str().compare(0, 14, "morvik-ports: ") == 0 && out.str().empty(),
               "a usage error on standard error alone");
    // The listing and the check of every port name each port, in order.
    const bool listing = args.empty() || (args.size() == 1 && args[0] == "--check");
    if (listing) {
        const std::string text = "\n" + out.str();
        std::size_t at = 0;
        for (unsigned n = 1; n <= PortsTool::kShownPorts; ++n) {
            at = text.find("\nCOM" + std::to_string(n) + "  ", at);
            Expect(at != std::string::npos, "every port listed, in order");
        }
    }
    return 0;
}
