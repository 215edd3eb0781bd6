// The handle table and message dispatch: every window the platform made, its procedure, and
// the window calls that read or change it.

#include "framework/win32/AnsiCodePage.h"
#include "framework/win32/Handles.h"
#include "framework/win32/WinUser.h"

#include <QApplication>
#include <QWidget>

#include <unordered_map>

namespace {

struct Window {
    QWidget* widget; // null once its destruction has begun
    const ControlClass* cls;
    WNDPROC proc;
    HWND parent;
    int id;
    DWORD style; // as created; WS_DISABLED and WS_VISIBLE are read from the widget
};

// The windows of the GUI thread. Handles count up from 1 and are never reused.
struct HandleTable {
    std::unordered_map<HWND, Window> windows;
    std::unordered_map<const QWidget*, HWND> byWidget;
    std::uintptr_t last = 0;
};

HandleTable& Table() {
    // Never destroyed: widgets that outlive main() still find it when they go.
    static auto* table = new HandleTable;
    return *table;
}

Window* Find(HWND hWnd) {
    const auto it = Table().windows.find(hWnd);
    return it == Table().windows.end() ? nullptr : &it->second;
}

void Destroyed(HWND hWnd) {
    Window* pWindow = Find(hWnd);
    if (!pWindow)
        return;
    Table().byWidget.erase(pWindow->widget);
    pWindow->widget = nullptr;
    // The last message a window gets: whoever subclassed it lets go here.
    SendMessageA(hWnd, WM_NCDESTROY, 0, 0);
    Table().windows.erase(hWnd);
}

} // namespace

HWND CreateWindowHandle(QWidget* pWidget, WNDPROC pfnProc, HWND hParent, int nID, DWORD dwStyle,
                        const ControlClass* pClass) {
    HandleTable& table = Table();
    const HWND hWnd = reinterpret_cast<HWND>(++table.last);
    table.windows.emplace(hWnd, Window{pWidget, pClass, pfnProc, hParent, nID, dwStyle});
    table.byWidget.emplace(pWidget, hWnd);
    QObject::connect(pWidget, &QObject::destroyed, [hWnd] { Destroyed(hWnd); });
    return hWnd;
}

QWidget* WidgetOf(HWND hWnd) {
    const Window* pWindow = Find(hWnd);
    return pWindow ? pWindow->widget : nullptr;
}

HWND HandleOf(const QWidget* pWidget) {
    const auto it = Table().byWidget.find(pWidget);
    return it == Table().byWidget.end() ? nullptr : it->second;
}

const ControlClass* ClassOf(HWND hWnd) {
    const Window* pWindow = Find(hWnd);
    return pWindow && pWindow->widget ? pWindow->cls : nullptr;
}

LRESULT SendMessageA(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(WindowProcOf(hWnd), hWnd, nMsg, wParam, lParam);
}

LRESULT CallWindowProcA(WNDPROC pfnProc, HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    return pfnProc ? pfnProc(hWnd, nMsg, wParam, lParam) : 0;
}

WNDPROC SetWindowProc(HWND hWnd, WNDPROC pfnProc) {
    Window* pWindow = Find(hWnd);
    if (!pWindow)
        return nullptr;
    const WNDPROC pfnOld = pWindow->proc;
    pWindow->proc = pfnProc;
    return pfnOld;
}

WNDPROC WindowProcOf(HWND hWnd) {
    const Window* pWindow = Find(hWnd);
    return pWindow ? pWindow->proc : nullptr;
}

BOOL IsWindow(HWND hWnd) {
    return WidgetOf(hWnd) ? TRUE : FALSE;
}

BOOL DestroyWindow(HWND hWnd) {
    QWidget* pWidget = WidgetOf(hWnd);
    if (!pWidget)
        return FALSE;
    delete pWidget; // its children, and the handles of all, go with it
    return TRUE;
}

HWND GetParent(HWND hWnd) {
    const Window* pWindow = Find(hWnd);
    return pWindow ? pWindow->parent : nullptr;
}

LONG GetWindowLongA(HWND hWnd, int nIndex) {
    const Window* pWindow = Find(hWnd);
    if (!pWindow || !pWindow->widget)
        return 0;
    if (nIndex == GWL_ID)
        return pWindow->id;
    if (nIndex != GWL_STYLE)
        return 0;
    DWORD style = pWindow->style & ~(WS_DISABLED | WS_VISIBLE);
    style |= pWindow->widget->isEnabled() ? 0 : WS_DISABLED;
    style |= pWindow->widget->isVisible() ? WS_VISIBLE : 0;
    return static_cast<LONG>(style);
}

int GetDlgCtrlID(HWND hWnd) {
    return static_cast<int>(GetWindowLongA(hWnd, GWL_ID));
}

BOOL EnableWindow(HWND hWnd, BOOL bEnable) {
    QWidget* pWidget = WidgetOf(hWnd);
    if (!pWidget)
        return FALSE;
    const BOOL bWasDisabled = pWidget->isEnabled() ? FALSE : TRUE;
    pWidget->setEnabled(bEnable != FALSE);
    return bWasDisabled;
}

BOOL IsWindowEnabled(HWND hWnd) {
    QWidget* pWidget = WidgetOf(hWnd);
    return pWidget && pWidget->isEnabled() ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hWnd) {
    QWidget* pWidget = WidgetOf(hWnd);
    return pWidget && pWidget->isVisible() ? TRUE : FALSE;
}

BOOL IsIconic(HWND hWnd) {
    QWidget* pWidget = WidgetOf(hWnd);
    return pWidget && pWidget->isMinimized() ? TRUE : FALSE;
}

HWND SetFocus(HWND hWnd) {
    const HWND hPrevious = HandleOf(QApplication::focusWidget());
    if (QWidget* pWidget = WidgetOf(hWnd))
        pWidget->setFocus(Qt::OtherFocusReason);
    return hPrevious;
}

BOOL GetClientRect(HWND hWnd, LPRECT lpRect) {
    QWidget* pWidget = WidgetOf(hWnd);
    if (!pWidget || !lpRect)
        return FALSE;
    // A window's inside leaves out a title bar it draws itself: its contents margin.
    const QRect client = pWidget->isWindow() ? pWidget->contentsRect() : pWidget->rect();
    *lpRect = RECT{0, 0, client.width(), client.height()};
    return TRUE;
}

// A window's text is what its procedure answers: each class keeps it in its own widget.
int GetWindowTextLengthA(HWND hWnd) {
    return static_cast<int>(SendMessageA(hWnd, WM_GETTEXTLENGTH, 0, 0));
}

int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
    if (!lpString || nMaxCount <= 0)
        return 0;
    lpString[0] = '\0';
    return static_cast<int>(SendMessageA(hWnd, WM_GETTEXT, static_cast<WPARAM>(nMaxCount),
                                         reinterpret_cast<LPARAM>(lpString)));
}

BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString) {
    return static_cast<BOOL>(SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)));
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

int RunMessageLoop() {
    return QApplication::exec();
}

BOOL SetAccessibleName(HWND hWnd, LPCSTR lpszName) {
    QWidget* pWidget = WidgetOf(hWnd);
    if (!pWidget)
        return FALSE;
    pWidget->setAccessibleName(lpszName ? AnsiCodePage::ToUnicode(lpszName) : QString());
    return TRUE;
}
