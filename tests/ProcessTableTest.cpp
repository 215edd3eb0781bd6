#include "serial/ProcessTable.h"
#include "tests/FakeMachine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include <sys/sysmacros.h>

namespace {

// What is not a running process is left out: other files of the table, a process that ended
// while it was read. Descriptors count only where they lead below /dev, and only when asked.
TEST(ProcessTable, EachProcessWithItsTerminalAndWhatItHoldsBelowDev) {
    FakeMachine machine;
    const std::string proc = machine.Sources().procFolder;
    machine.AddProcess(30, "minicom", 12, makedev(188, 0));
    machine.AddOpenFile(30, 0, "/dev/pts/4");
    machine.AddOpenFile(30, 3, "/dev/ttyUSB0");
    machine.AddOpenFile(30, 4, "/home/user/capture.log");
    machine.AddOpenFile(30, 5, "socket:[4711]");
    machine.AddPtyMaster(30, 6, 12);
    machine.AddOpenFile(30, 7, "/dev/ptmx"); // no fdinfo to say which one
    machine.AddProcess(4, "kworker/0:1", 0, 0);
    std::filesystem::create_directories(proc + "/self");
    std::filesystem::create_directories(proc + "/77"); // ended: no stat line any more

    const ProcessTable table(proc);
    std::vector<ProcessTable::Process> processes = table.Processes();
    ASSERT_EQ(2u, processes.size());
    EXPECT_EQ(4, processes[0].pid);
    EXPECT_EQ("kworker/0:1", processes[0].name);
    EXPECT_EQ(0u, processes[0].terminal);
    EXPECT_EQ(30, processes[1].pid);
    EXPECT_EQ(makedev(188, 0), processes[1].terminal);
    EXPECT_EQ(12, processes[1].session);
    EXPECT_FALSE(processes[1].SessionLeader());
    EXPECT_TRUE(processes[1].files.empty());

    processes = table.ProcessesWithFiles();
    ASSERT_EQ(2u, processes.size());
    std::vector<std::string> files = processes[1].files;
    std::sort(files.begin(), files.end());
    EXPECT_EQ((std::vector<std::string>{"/dev/ptmx", "/dev/ptmx", "/dev/pts/4", "/dev/ttyUSB0"}),
              files);
    EXPECT_EQ(std::vector<unsigned>{12}, processes[1].ptyMasters);
    EXPECT_TRUE(processes[0].files.empty());
    EXPECT_FALSE(processes[0].filesHidden); // a process without descriptors hides nothing

    EXPECT_TRUE(ProcessTable(machine.Root() + "/nonexistent").Processes().empty());
}

} // namespace
