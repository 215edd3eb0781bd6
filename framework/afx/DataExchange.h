#pragma once

#include "core/String.h"
#include "framework/win32/WinUser.h"

class CWnd;

// One pass of data exchange between a window's controls and its members. A failed check shows
// its message, puts the focus on the control (a field's text selected) and ends the pass:
// later steps do nothing.
class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    HWND m_hWndLastControl = nullptr;
    bool m_bEditLastControl = false;
    bool m_bFailed = false;

    HWND PrepareCtrl(int nIDC);
    HWND PrepareEditCtrl(int nIDC);
    void Fail();
};

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);
void DDX_Text(CDataExchange* pDX, int nIDC, int& value);
void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal);
