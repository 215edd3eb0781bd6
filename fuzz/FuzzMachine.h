#pragma once

#include "fuzz/FuzzTree.h"
#include "serial/PortResolver.h"
#include "tests/FakeMachine.h"

#include <cstddef>
#include <cstdint>
#include <string>

// A machine of one fuzzer input's own: a FakeMachine (sysfs, /dev, udev, /proc, the group file)
// with the FuzzTree the input describes in it, and its ports folder at ports/. The serial layer
// looks there while it lives.
class FuzzMachine {
public:
    FuzzMachine(const std::uint8_t* data, std::size_t size);

    // Where the port rule and the checks look, the ports folder included.
    const PortResolver::Sources& Sources() const { return m_sources; }
    const std::string& GroupFile() const { return m_machine.GroupFile(); }
    const std::string& Root() const { return m_machine.Root(); }
    const FuzzTree& Tree() const { return m_tree; }

private:
    // A machine that stays for the whole run: the serial layer's sources, set to each input's
    // machine and back to this one, keep their room, so that an input leaves no memory behind
    // that the fuzzer would take for a leak and run again to look into.
    static const FakeMachine& Kept();

    const FakeMachine& m_kept;
    FakeMachine m_machine;
    PortResolver::Sources m_sources;
    FuzzTree m_tree;
};
