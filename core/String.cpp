#include "core/String.h"

#include "core/StringTable.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

CString& CString::operator=(const char* psz) {
    m_str.assign(psz ? psz : "");
    return *this;
}

CString& CString::operator+=(const CString& str) {
    m_str += str.m_str;
    return *this;
}

CString& CString::operator+=(const char* psz) {
    if (psz)
        m_str += psz;
    return *this;
}

void CString::Format(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, pszFormat, copy);
    va_end(copy);
    if (n < 0) {
        va_end(args);
        m_str.clear();
        return;
    }
    std::vector<char> buf(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), pszFormat, args);
    va_end(args);
    m_str.assign(buf.data(), static_cast<std::size_t>(n));
}

void CString::TrimRight() {
    const auto end = m_str.find_last_not_of(" \t\r\n\v\f");
    m_str.erase(end == std::string::npos ? 0 : end + 1);
}

BOOL CString::LoadString(UINT nID) {
    const char* psz = CStringTable::Find(nID);
    m_str.assign(psz ? psz : "");
    return psz ? TRUE : FALSE;
}
