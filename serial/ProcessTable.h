#pragma once

#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

// The running processes as the kernel's process table (procfs) shows them: each one's name,
// session and controlling terminal, and, for those who ask, the files below /dev that its
// descriptors lead to and the pseudo-terminals whose master side it holds (what it made). It only
// reads: no file a descriptor leads to is opened or even looked at.
// Where it looks is given (the machine's own by default), so tests can stand up a table of
// their own.
class ProcessTable {
public:
    static constexpr const char* kMachineRoot = "/proc";

    struct Process {
        int pid = 0;
        std::string name;   // the kernel's name of its program ("agetty"), as its stat line has it
        long session = 0;   // the session it belongs to: its leader's pid
        dev_t terminal = 0; // its controlling terminal; 0 for none
        std::vector<std::string> files; // with ProcessesWithFiles: "/dev/ttyUSB0", ...
        // With ProcessesWithFiles: the pseudo-terminals whose master it holds, by number (N of
        // /dev/pts/N); and whether its descriptors were closed to the reader (another user's).
        std::vector<unsigned> ptyMasters;
        bool filesHidden = false;

        bool SessionLeader() const { return session == pid; }
    };

    explicit ProcessTable(std::string root = kMachineRoot) : m_root(std::move(root)) {}

    // Every process whose stat line could be read, in pid order; a process that ends meanwhile
    // is left out.
    std::vector<Process> Processes() const;
    // The same with the open files; another user's descriptors are closed to us unless we are
    // root, so their processes show none and say so.
    std::vector<Process> ProcessesWithFiles() const;

private:
    std::vector<Process> Read(bool withFiles) const;

    std::string m_root;
};
