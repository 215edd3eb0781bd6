#pragma once

#include <string>

// A number on a command line: decimal digits only (no sign, no spaces, nothing after them),
// from min to max (max at most ULONG_MAX / 10, so that no digit can overflow).
inline bool ParseWholeNumber(const std::string& text, unsigned long min, unsigned long max,
                             unsigned long* pValue) {
    if (text.empty())
        return false;
    unsigned long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
        if (value > max)
            return false;
    }
    if (value < min)
        return false;
    *pValue = value;
    return true;
}
