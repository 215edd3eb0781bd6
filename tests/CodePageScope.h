#pragma once

#include "framework/win32/AnsiCodePage.h"

// The program's ANSI code page set to another one while the object lives.
class CodePageScope {
public:
    explicit CodePageScope(UINT nCodePage) : m_nSaved(AnsiCodePage::Active()) {
        AnsiCodePage::SetActive(nCodePage);
    }
    ~CodePageScope() { AnsiCodePage::SetActive(m_nSaved); }
    CodePageScope(const CodePageScope&) = delete;
    CodePageScope& operator=(const CodePageScope&) = delete;

private:
    UINT m_nSaved;
};
