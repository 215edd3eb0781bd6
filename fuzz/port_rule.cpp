// The port rule on a machine the input describes (a FuzzTree: ports folder ports/, sysfs,
// /proc/consoles and /dev where a FakeMachine has them): what each port number names, and the
// refusal the program would give for it.

#include "fuzz/Expect.h"
#include "fuzz/FuzzMachine.h"
#include "serial/PortResolver.h"
#include "serial/Refusal.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FuzzMachine machine(data, size);
    const PortResolver::Sources& sources = machine.Sources();
    const PortResolver resolver(sources);

    const std::vector<std::string> ports = resolver.MachinePorts();
    const std::vector<std::string> consoles = resolver.ActiveConsoles();
    const std::vector<std::string> skipped = resolver.SkippedConsoles();
    for (const std::string& name : ports)
        Expect(!Contains(consoles, name), "no active console among the ports");
    for (const std::string& name : skipped)
        Expect(Contains(consoles, name), "only active consoles skipped");

    for (unsigned n = 1; n <= 10; ++n) {
        const PortResolver::Port port = resolver.Resolve(n);
        const Refusal refusal = Refusal::OfPort(n, port);
        const std::string reason = refusal.Reason();
        switch (port.how) {
        case PortResolver::How::Found:
            Expect(n <= ports.size() && port.path == sources.devFolder + "/" + ports[n - 1],
                   "a machine port by its number");
            Expect(reason.empty(), "a machine port that may be looked at");
            break;
        case PortResolver::How::Console:
            Expect(n > ports.size() && n - ports.size() <= skipped.size() &&
                       port.path == sources.devFolder + "/" + skipped[n - ports.size() - 1],
                   "a console where it would have been");
            Expect(!reason.empty(), "a console refused with a reason");
            break;
        case PortResolver::How::Ended:
            Expect(!reason.empty(), "a link whose device ended refused with a reason");
            [[fallthrough]];
        case PortResolver::How::Link:
        case PortResolver::How::LookupError:
            Expect(port.path == sources.portsFolder + "/COM" + std::to_string(n),
                   "the entry of the port");
            break;
        case PortResolver::How::Nothing:
            Expect(!reason.empty(), "nothing refused with a reason");
            break;
        }
    }
    return 0;
}
