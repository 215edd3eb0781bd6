#include "framework/afx/DataExchange.h"

#include "framework/afx/WinApp.h"
#include "framework/afx/Wnd.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <vector>

namespace {

CString WindowText(HWND hWnd) {
    std::vector<char> text(static_cast<std::size_t>(::GetWindowTextLengthA(hWnd)) + 1);
    ::GetWindowTextA(hWnd, text.data(), static_cast<int>(text.size()));
    return text.data();
}

// Optional blanks, an optional sign, decimal digits, optional blanks; within int.
bool ParseInt(const char* psz, int* pValue) {
    while (std::isspace(static_cast<unsigned char>(*psz)))
        ++psz;
    bool negative = false;
    if (*psz == '+' || *psz == '-')
        negative = *psz++ == '-';
    if (!std::isdigit(static_cast<unsigned char>(*psz)))
        return false;
    long long value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*psz)); ++psz) {
        value = value * 10 + (*psz - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            return false;
    }
    while (std::isspace(static_cast<unsigned char>(*psz)))
        ++psz;
    if (*psz)
        return false;
    if (negative)
        value = -value;
    if (value < INT_MIN || value > INT_MAX)
        return false;
    *pValue = static_cast<int>(value);
    return true;
}

} // namespace

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return dx.m_bFailed ? FALSE : TRUE;
}

HWND CDataExchange::PrepareCtrl(int nIDC) {
    m_hWndLastControl = m_pDlgWnd ? m_pDlgWnd->GetDlgItemHandle(nIDC) : nullptr;
    m_bEditLastControl = false;
    return m_hWndLastControl;
}

HWND CDataExchange::PrepareEditCtrl(int nIDC) {
    HWND hWnd = PrepareCtrl(nIDC);
    m_bEditLastControl = true;
    return hWnd;
}

void CDataExchange::Fail() {
    m_bFailed = true;
    if (m_hWndLastControl) {
        ::SetFocus(m_hWndLastControl);
        if (m_bEditLastControl)
            ::SendMessageA(m_hWndLastControl, EM_SETSEL, 0, -1);
    }
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (pDX->m_bFailed || rControl.m_hWnd)
        return;
    rControl.Attach(pDX->PrepareCtrl(nIDC));
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
    if (pDX->m_bFailed)
        return;
    HWND hWnd = pDX->PrepareEditCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        value = WindowText(hWnd);
    else
        ::SetWindowTextA(hWnd, value);
}

void DDX_Text(CDataExchange* pDX, int nIDC, int& value) {
    if (pDX->m_bFailed)
        return;
    HWND hWnd = pDX->PrepareEditCtrl(nIDC);
    if (!pDX->m_bSaveAndValidate) {
        char text[16];
        std::snprintf(text, sizeof text, "%d", value);
        ::SetWindowTextA(hWnd, text);
        return;
    }
    if (!ParseInt(WindowText(hWnd), &value)) {
        AfxMessageBox("Please enter a whole number.", MB_OK | MB_ICONEXCLAMATION);
        pDX->Fail();
    }
}

void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal) {
    if (pDX->m_bFailed || !pDX->m_bSaveAndValidate)
        return;
    if (value < minVal || value > maxVal) {
        char text[96];
        std::snprintf(text, sizeof text, "Please enter a number from %d to %d.", minVal, maxVal);
        AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
        pDX->Fail();
    }
}
