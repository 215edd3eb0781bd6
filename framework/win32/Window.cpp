#include "framework/win32/WinUser.h"

#include "framework/win32/AnsiCodePage.h"
#include "framework/win32/DialogWindow.h"
#include "framework/afx/Wnd.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QWidget>

LRESULT SendMessageA(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (!hWnd)
        return 0;
    if (CWnd* pWnd = CWnd::FromHandlePermanent(hWnd))
        return pWnd->WindowProc(nMsg, wParam, lParam);
    return AfxDefWindowProc(hWnd, nMsg, wParam, lParam);
}

BOOL EnableWindow(HWND hWnd, BOOL bEnable) {
    if (!hWnd)
        return FALSE;
    const BOOL bWasDisabled = hWnd->isEnabled() ? FALSE : TRUE;
    hWnd->setEnabled(bEnable != FALSE);
    return bWasDisabled;
}

BOOL IsIconic(HWND hWnd) {
    return (hWnd && hWnd->isMinimized()) ? TRUE : FALSE;
}

int GetSystemMetrics(int nIndex) {
    switch (nIndex) {
    case SM_CXICON:
    case SM_CYICON:
        return 32;
    default:
        return 0;
    }
}

BOOL GetClientRect(HWND hWnd, LPRECT lpRect) {
    if (!hWnd || !lpRect)
        return FALSE;
    *lpRect = RECT{0, 0, hWnd->width(), hWnd->height()};
    return TRUE;
}

BOOL DrawIcon(HDC hDC, int x, int y, HICON hIcon) {
    if (!hDC || !hIcon)
        return FALSE;
    const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    hDC->drawPixmap(x, y, hIcon->pixmap(cx, cy));
    return TRUE;
}

HMENU GetSystemMenu(HWND hWnd, BOOL bRevert) {
    auto* pDialog = dynamic_cast<DialogWindow*>(hWnd);
    return pDialog ? pDialog->SystemMenu(bRevert != FALSE) : nullptr;
}

BOOL AppendMenuA(HMENU hMenu, UINT uFlags, std::uintptr_t uIDNewItem, LPCSTR lpNewItem) {
    if (!hMenu)
        return FALSE;
    if (uFlags & MF_SEPARATOR) {
        hMenu->addSeparator();
        return TRUE;
    }
    QAction* action = hMenu->addAction(AnsiCodePage::ToUnicode(lpNewItem));
    action->setData(QVariant::fromValue(static_cast<quintptr>(uIDNewItem)));
    return TRUE;
}
