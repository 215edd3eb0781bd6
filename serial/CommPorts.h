#pragma once

// What a port name leads to, for the comm layer of every platform: the number in "COMn:", the
// devices the program defined for ports (CommDefinePort), and the port rule with the sources
// the comm layer looks at (a test's machine instead of this one: CommTestHooks.h).

#include "serial/PortResolver.h"

// "COM<n>" or "COM<n>:" with n >= 1, else 0.
unsigned long CommPortNumber(const char* pszName);
// What port n names: a device the program defined for it (as a ports entry of that name, with
// *pDefined set), else what the port rule finds.
PortResolver::Port CommLookUpPort(unsigned long nPort, bool* pDefined);
// Where the comm layer looks: the machine's own unless a test said otherwise.
const PortResolver::Sources& CommSources();
