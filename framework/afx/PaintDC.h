#pragma once

#include "framework/win32/WinUser.h"

class CWnd;

// Painting of a window during its WM_PAINT: begins on construction, ends on destruction.
class CPaintDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }

    HDC m_hDC = nullptr;

private:
    HWND m_hWnd = nullptr;
    PAINTSTRUCT m_ps = {};
};
