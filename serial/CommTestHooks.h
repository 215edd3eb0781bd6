#pragma once

// For tests only: where the comm layer looks (a machine of the test's own instead of this one)
// and where a port name leads.

#include "core/String.h"
#include "serial/PortResolver.h"

PortResolver::Sources CommGetSources();
void CommSetSources(const PortResolver::Sources& sources);
// The ports entry or machine port that "COMn" or "COMn:" names; empty when it names nothing
// that may be opened (no such port, a kernel console, a failed lookup, a name not COMn).
CString CommDevicePath(const char* pszPortName);
