#pragma once

#include "serial/PortResolver.h"

#include <ostream>
#include <string>

// morvik-ports: shows what MorvikSerialDemo's ports COM1 to COM8 name and why, and links a
// port to a device.
class PortsTool {
public:
    static constexpr unsigned kShownPorts = 8;

    explicit PortsTool(PortResolver::Sources sources) : m_resolver(std::move(sources)) {}

    // The whole command line; returns the exit status (0 done, 1 failed, 2 usage error).
    int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) const;

private:
    void List(std::ostream& out) const;
    int Assign(const std::string& number, const std::string& device, std::ostream& out,
               std::ostream& err) const;

    PortResolver m_resolver;
};
