// Painting during WM_PAINT: a device context is a painter on the window's widget.

#include "framework/win32/Handles.h"
#include "framework/win32/WinUser.h"

#include <QWidget>

HDC BeginPaint(HWND hWnd, PAINTSTRUCT* lpPaint) {
    QWidget* pWidget = WidgetOf(hWnd);
    if (!pWidget || !lpPaint)
        return nullptr;
    lpPaint->hdc = new HDC__(pWidget);
    // A window paints its inside, below a title bar of its own (GetClientRect).
    if (pWidget->isWindow())
        lpPaint->hdc->translate(pWidget->contentsRect().topLeft());
    lpPaint->fErase = FALSE;
    GetClientRect(hWnd, &lpPaint->rcPaint);
    return lpPaint->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* lpPaint) {
    if (!lpPaint || !lpPaint->hdc)
        return FALSE;
    delete lpPaint->hdc;
    return TRUE;
}

BOOL DrawIcon(HDC hDC, int x, int y, HICON hIcon) {
    if (!hDC || !hIcon)
        return FALSE;
    const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    hDC->drawPixmap(x, y, hIcon->pixmap(cx, cy));
    return TRUE;
}
