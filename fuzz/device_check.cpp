// The checks before open on a machine the input describes (a FuzzTree: sysfs, /dev, udev's
// links and database, /proc where a FakeMachine has them): each entry of /dev and of the ports
// folder, each path of a "C" line and each real node of the tree's table is checked as the
// program checks a device, and sysfs and udev are read about it as morvik-ports reads them.

#include "cli/TtyFacts.h"
#include "fuzz/Expect.h"
#include "fuzz/FuzzMachine.h"
#include "serial/DeviceCheck.h"
#include "serial/Refusal.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>

namespace {

// The entries of a folder, as paths.
void AddEntries(const std::string& folder, std::vector<std::string>* pPaths) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), &closedir);
    while (dir) {
        const dirent* e = readdir(dir.get());
        if (!e)
            break;
        if (e->d_name[0] != '.')
            pPaths->push_back(folder + "/" + e->d_name);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FuzzMachine machine(data, size);
    const FuzzTree& tree = machine.Tree();
    const PortResolver::Sources& sources = machine.Sources();
    const DeviceCheck check(sources);
    const TtyClass ttys(sources.ttys);

    std::vector<std::string> paths;
    AddEntries(sources.devFolder, &paths);
    AddEntries(sources.portsFolder, &paths);
    for (const std::string& path : tree.Notes('C'))
        paths.push_back(path.empty() || path[0] == '/' ? path : machine.Root() + "/" + path);
    for (const auto& node : FuzzTree::Nodes())
        paths.push_back(node.second);

    for (const std::string& path : paths) {
        const DeviceCheck::Result r = check.Check(path);
        const std::string reason = Refusal::OfDevice(r).Reason();
        Expect(reason.empty() == (r.verdict == DeviceCheck::Verdict::SerialLine),
               "a reason exactly for what is refused");
        if (r.verdict == DeviceCheck::Verdict::Missing)
            continue;
        Expect(!r.device.empty() && r.device[0] == '/', "the device by its full path");
        if (r.verdict == DeviceCheck::Verdict::InUse)
            Expect(r.holderPid != 0, "the holder's pid");
        ttys.ByIdName(r.device);
        ttys.ByPathName(r.device);
        TtyFacts::Of(ttys, r.number);
    }
    for (const std::string& name : ttys.Names()) {
        ttys.HasDevice(name);
        ttys.UartType(name);
        const dev_t number = ttys.NumberOf(name);
        if (number != 0)
            Expect(ttys.NumberOf(ttys.NameOf(number)) == number, "the tty of its own number");
        ttys.AdapterOf(name);
        ttys.ClaimedByIdName(ttys.Udev(number));
    }
    return 0;
}
