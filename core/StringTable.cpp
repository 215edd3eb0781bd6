#include "core/StringTable.h"

#include <map>
#include <string>

namespace {
// Function-local so that registrations from other files' static objects find it constructed.
std::map<UINT, std::string>& Table() {
    static std::map<UINT, std::string> table;
    return table;
}
} // namespace

void CStringTable::Set(UINT nID, const char* pszText) {
    if (pszText)
        Table()[nID] = pszText;
    else
        Table().erase(nID);
}

const char* CStringTable::Find(UINT nID) {
    const auto it = Table().find(nID);
    return it == Table().end() ? nullptr : it->second.c_str();
}
