#pragma once

#include <string>

// A number on a command line: decimal digits only (no sign, no spaces, nothing after them),
// from min to max.
inline bool ParseWholeNumber(const std::string& text, unsigned long min, unsigned long max,
                             unsigned long* pValue) {
    if (text.empty())
        return false;
    unsigned long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        const auto digit = static_cast<unsigned long>(c - '0');
        // value * 10 + digit > max, asked so that it cannot overflow whatever max is.
        if (digit > max || value > (max - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    if (value < min)
        return false;
    *pValue = value;
    return true;
}
