#pragma once

#include "cli/PortCheck.h"
#include "serial/PortResolver.h"

#include <ostream>
#include <string>
#include <utility>

#include <sys/types.h>

// morvik-ports: shows what MorvikSerialDemo's ports COM1 to COM8 name and why, says what stands
// in the way of each, and links a port to a device.
class PortsTool {
public:
    static constexpr unsigned kShownPorts = 8;

    // user: who the check of the ports speaks for (root, who may open anything, when not said).
    explicit PortsTool(PortCheck::Sources sources, PortCheck::User user = PortCheck::User())
        : m_sources(std::move(sources)), m_resolver(m_sources.machine), m_user(std::move(user)) {}

    // The whole command line; returns the exit status (0 done, 1 failed, 2 usage error).
    int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) const;

private:
    void List(std::ostream& out) const;
    // Port nPort, or all when 0; returns the exit status.
    int Check(unsigned nPort, std::ostream& out, std::ostream& err) const;
    // argv holds the options after the device: the profile's settings.
    int Assign(const std::string& number, const std::string& device, int argc,
               const char* const* argv, std::ostream& out, std::ostream& err) const;
    // The name a link to the device (given as given, checked as device and number) is best made
    // with; why, when it is not the obvious one.
    std::string StableName(const std::string& given, const std::string& device, dev_t number,
                           std::string* pWhy) const;

    PortCheck::Sources m_sources;
    PortResolver m_resolver;
    PortCheck::User m_user;
};
