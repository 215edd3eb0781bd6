#include "framework/afx/DataExchange.h"

#include "framework/win32/AnsiCodePage.h"
#include "framework/afx/WinApp.h"
#include "framework/afx/Wnd.h"

#include <QLineEdit>
#include <QVariant>
#include <QWidget>

#include <climits>
#include <cstdio>

namespace {

QString ControlText(HWND hWnd) {
    return hWnd ? hWnd->property("text").toString() : QString();
}

void SetControlText(HWND hWnd, const QString& text) {
    if (hWnd)
        hWnd->setProperty("text", text);
}

// Optional blanks, an optional sign, decimal digits, optional blanks; within int.
bool ParseInt(const QString& text, int* pValue) {
    const QString t = text.trimmed();
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        negative = t[i++] == '-';
    if (i == t.size())
        return false;
    long long value = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9')
            return false;
        value = value * 10 + (t[i].unicode() - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            return false;
    }
    if (negative)
        value = -value;
    if (value < INT_MIN || value > INT_MAX)
        return false;
    *pValue = static_cast<int>(value);
    return true;
}

} // namespace

HWND CDataExchange::PrepareCtrl(int nIDC) {
    m_hWndLastControl = m_pDlgWnd ? m_pDlgWnd->GetDlgItemHandle(nIDC) : nullptr;
    return m_hWndLastControl;
}

void CDataExchange::Fail() {
    m_bFailed = true;
    if (m_hWndLastControl) {
        m_hWndLastControl->setFocus(Qt::OtherFocusReason);
        if (auto* pEdit = dynamic_cast<QLineEdit*>(m_hWndLastControl))
            pEdit->selectAll();
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
    HWND hWnd = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        value = AnsiCodePage::FromUnicode(ControlText(hWnd)).constData();
    else
        SetControlText(hWnd, AnsiCodePage::ToUnicode(value));
}

void DDX_Text(CDataExchange* pDX, int nIDC, int& value) {
    if (pDX->m_bFailed)
        return;
    HWND hWnd = pDX->PrepareCtrl(nIDC);
    if (!pDX->m_bSaveAndValidate) {
        SetControlText(hWnd, QString::number(value));
        return;
    }
    if (!ParseInt(ControlText(hWnd), &value)) {
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
