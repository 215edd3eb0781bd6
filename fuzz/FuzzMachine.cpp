#include "fuzz/FuzzMachine.h"

namespace {

PortResolver::Sources WithPortsFolder(const FakeMachine& machine) {
    PortResolver::Sources sources = machine.Sources();
    sources.portsFolder = machine.Root() + "/ports";
    return sources;
}

} // namespace

const FakeMachine& FuzzMachine::Kept() {
    static const FakeMachine kept;
    return kept;
}

FuzzMachine::FuzzMachine(const std::uint8_t* data, std::size_t size)
    : m_kept(Kept()), m_sources(WithPortsFolder(m_machine)), m_tree(m_machine.Root(), data, size) {}
