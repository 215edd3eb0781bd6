#pragma once

#include "core/Types.h"

#include <string>

// Counted 8-bit text in the ANSI code page; owns its characters.
class CString {
public:
    CString() = default;
    CString(const char* psz) : m_str(psz ? psz : "") {} // NOLINT: implicit like the original
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    CString& operator=(const char* psz);

    CString& operator+=(const CString& str);
    CString& operator+=(const char* psz);
    // Inline: a reply is built one received byte at a time.
    CString& operator+=(char ch) {
        m_str += ch;
        return *this;
    }

    void Empty() { m_str.clear(); }
    BOOL IsEmpty() const { return m_str.empty() ? TRUE : FALSE; }
    int GetLength() const { return static_cast<int>(m_str.size()); }
    char GetAt(int nIndex) const { return m_str.at(static_cast<std::size_t>(nIndex)); }

    operator const char*() const { return m_str.c_str(); } // NOLINT: LPCTSTR access

    // printf-style; the program only uses "%i".
    void Format(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));

    // Removes spaces, tabs, CR, LF, VT and FF from the end.
    void TrimRight();

    // Loads a string resource; the string becomes empty and the result FALSE when it is missing.
    BOOL LoadString(UINT nID);

    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator!=(const CString& a, const CString& b) { return a.m_str != b.m_str; }

private:
    std::string m_str;
};
