#pragma once

#include "core/Types.h"

// The module's string resources, keyed by identifier. Resource files register their strings
// during static initialisation; CString::LoadString reads them.
class CStringTable {
public:
    // Adds or replaces a string; a null text removes the entry.
    static void Set(UINT nID, const char* pszText);
    // The text of a string, or null when there is none.
    static const char* Find(UINT nID);

    // Registers a string for the lifetime of the program (a static object in a resource file).
    struct Entry {
        Entry(UINT nID, const char* pszText) { Set(nID, pszText); }
    };
};
