// The default processing of messages: DefWindowProcA for every window, DefDlgProcA, the
// procedure a dialog starts with, for what only dialogs do.

#include "framework/win32/AnsiCodePage.h"
#include "framework/win32/DialogWindow.h"
#include "framework/win32/Handles.h"
#include "framework/win32/WinUser.h"

#include <QWidget>
#include <QWindow>

LRESULT DefWindowProcA(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    QWidget* pWidget = WidgetOf(hWnd);
    if (!pWidget)
        return 0;
    switch (nMsg) {
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
        return AnsiCodePage::AnswerGetText(nMsg, wParam, lParam, pWidget->windowTitle());
    case WM_SETTEXT:
        pWidget->setWindowTitle(AnsiCodePage::ToUnicode(reinterpret_cast<LPCSTR>(lParam)));
        return TRUE;
    case WM_ICONERASEBKGND:
        if (HDC hDC = reinterpret_cast<HDC>(wParam))
            hDC->fillRect(pWidget->rect(), pWidget->palette().window());
        return 1;
    case WM_SETICON:
        if (HICON hIcon = reinterpret_cast<HICON>(lParam))
            pWidget->setWindowIcon(*hIcon);
        return 0;
    case WM_CLOSE:
        pWidget->close();
        return 0;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
            return SendMessageA(hWnd, WM_CLOSE, 0, 0);
        case SC_MOVE:
            if (QWindow* pWindow = pWidget->window()->windowHandle())
                pWindow->startSystemMove();
            return 0;
        default:
            return 0;
        }
    default:
        return 0;
    }
}

LRESULT DefDlgProcA(HWND hDlg, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    DialogWindow* pDialog = DialogOf(hDlg);
    if (!pDialog)
        return DefWindowProcA(hDlg, nMsg, wParam, lParam);
    switch (nMsg) {
    case WM_PAINT:
        pDialog->DefaultPaint();
        return 0;
    case WM_CLOSE:
        // A dialog's Close is its Cancel command.
        return SendMessageA(hDlg, WM_COMMAND, IDCANCEL, 0);
    case DM_GETDEFID:
        if (const UINT nID = pDialog->DefId())
            return static_cast<LRESULT>(MAKEWPARAM(static_cast<WORD>(nID), DC_HASDEFID));
        return 0;
    case DM_SETDEFID:
        pDialog->SetDefId(static_cast<UINT>(wParam));
        return TRUE;
    case WM_NEXTDLGCTL: {
        // lParam TRUE: wParam is the control to focus; else wParam says backwards or not.
        QWidget* pNext = lParam ? WidgetOf(reinterpret_cast<HWND>(wParam))
                                : pDialog->NextTabStop(pDialog->focusWidget(), wParam != 0);
        // As Tab moves it: a field's text is selected.
        if (pNext)
            pNext->setFocus(Qt::TabFocusReason);
        return 0;
    }
    default:
        return DefWindowProcA(hDlg, nMsg, wParam, lParam);
    }
}
