// Tips about a control: balloon tips and tooltips.

#include "framework/win32/AnsiCodePage.h"
#include "framework/win32/BalloonTip.h"
#include "framework/win32/Handles.h"
#include "framework/win32/WinUser.h"

BOOL ShowBalloonTip(HWND hWnd, LPCSTR lpszText) {
    QWidget* pWidget = WidgetOf(hWnd);
    if (!pWidget || !lpszText)
        return FALSE;
    BalloonTip::Show(pWidget, AnsiCodePage::ToUnicode(lpszText));
    return TRUE;
}

BOOL SetToolTipText(HWND hWnd, LPCSTR lpszText) {
    QWidget* pWidget = WidgetOf(hWnd);
    if (!pWidget)
        return FALSE;
    pWidget->setToolTip(lpszText ? AnsiCodePage::ToUnicode(lpszText) : QString());
    return TRUE;
}
