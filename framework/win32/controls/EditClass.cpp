// The "edit" class: a one-line field.

#include "framework/win32/AnsiCodePage.h"
#include "framework/win32/WinUser.h"
#include "framework/win32/controls/ControlClass.h"
#include "framework/win32/controls/EditHistory.h"

#include <QLineEdit>

#include <algorithm>

namespace {

QWidget* CreateEdit(const DialogTemplate::Item& item, QWidget* pDialog) {
    auto* pEdit = new QLineEdit(pDialog);
    pEdit->setFrame((item.style & WS_BORDER) != 0);
    if (item.text)
        pEdit->setText(AnsiCodePage::ToUnicode(item.text));
    NotifyOnFocus(pEdit, EN_SETFOCUS);
    return pEdit;
}

LRESULT EditProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    auto* pEdit = ControlWidget<QLineEdit>(hWnd, kEditClass);
    if (!pEdit)
        return DefWindowProcA(hWnd, nMsg, wParam, lParam);
    switch (nMsg) {
    case WM_GETDLGCODE:
        return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
    case EM_SETSEL: {
        // From wParam up to lParam; an end of -1 is the end of the text, a start of -1
        // removes the selection.
        const int nLength = static_cast<int>(pEdit->text().size());
        const int nStart = std::min(static_cast<int>(wParam), nLength);
        const int nEnd = lParam < 0 ? nLength : std::min(static_cast<int>(lParam), nLength);
        if (nStart < 0)
            pEdit->deselect();
        else
            pEdit->setSelection(nStart, nEnd - nStart);
        return 0;
    }
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
        return AnsiCodePage::AnswerGetText(nMsg, wParam, lParam, pEdit->text());
    case WM_SETTEXT:
        pEdit->setText(AnsiCodePage::ToUnicode(reinterpret_cast<LPCSTR>(lParam)));
        return TRUE;
    default:
        return DefWindowProcA(hWnd, nMsg, wParam, lParam);
    }
}

} // namespace

const ControlClass kEditClass = {"edit", CreateEdit, EditProc};

BOOL EnableEditHistory(HWND hEdit, LPCSTR lpszName) {
    auto* pEdit = ControlWidget<QLineEdit>(hEdit, kEditClass);
    if (!pEdit || !lpszName || EditHistory::Of(pEdit))
        return FALSE;
    new EditHistory(pEdit, EditHistory::PathFor(QString::fromLocal8Bit(lpszName)));
    return TRUE;
}

BOOL AddEditHistory(HWND hEdit, LPCSTR lpszText) {
    auto* pEdit = ControlWidget<QLineEdit>(hEdit, kEditClass);
    EditHistory* pHistory = pEdit ? EditHistory::Of(pEdit) : nullptr;
    if (!pHistory || !lpszText)
        return FALSE;
    pHistory->Add(AnsiCodePage::ToUnicode(lpszText));
    return TRUE;
}
