// The process table on a /proc the input describes (a FuzzTree: proc/PID/stat, comm and fd
// links where a FakeMachine has /proc), and whose terminal each device is.

#include "fuzz/Expect.h"
#include "fuzz/FuzzMachine.h"
#include "serial/DeviceCheck.h"
#include "serial/ProcessTable.h"

#include <cstdint>
#include <string>
#include <vector>

#include <sys/stat.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FuzzMachine machine(data, size);
    const PortResolver::Sources& sources = machine.Sources();
    const ProcessTable table(sources.procFolder);

    const std::vector<ProcessTable::Process> processes = table.Processes();
    const std::vector<ProcessTable::Process> withFiles = table.ProcessesWithFiles();
    Expect(processes.size() == withFiles.size(), "the same processes with their files");
    std::vector<dev_t> terminals;
    for (std::size_t i = 0; i < withFiles.size(); ++i) {
        const ProcessTable::Process& p = withFiles[i];
        Expect(p.pid > 0 && p.pid == processes[i].pid, "a process by its pid");
        Expect(i == 0 || withFiles[i - 1].pid <= p.pid, "in pid order");
        Expect(processes[i].files.empty(), "files only when asked for");
        for (const std::string& file : p.files)
            Expect(file.compare(0, 5, "/dev/") == 0, "only files below /dev");
        terminals.push_back(p.terminal);
    }
    for (const auto& node : FuzzTree::Nodes()) {
        struct stat st {};
        if (stat(node.second.c_str(), &st) == 0)
            terminals.push_back(st.st_rdev);
    }

    const DeviceCheck check(sources);
    for (const dev_t number : terminals) {
        std::string name;
        int pid = 0;
        if (!check.FindTerminalHolder(number, &name, &pid))
            continue;
        bool holds = false;
        for (const ProcessTable::Process& p : processes)
            holds = holds || (p.pid == pid && p.name == name && p.terminal == number);
        Expect(holds && number != 0, "a holder whose terminal it is");
    }
    return 0;
}
