#pragma once

// What a handle is inside the platform: the Qt object it stands for. The platform's own files
// and the tests include this header; the floors above cannot (it needs Qt).

#include "framework/win32/WinTypes.h"

#include <QIcon>
#include <QMenu>
#include <QPainter>

class QWidget;
struct ControlClass;

// An icon stays loaded for the life of the program.
struct HICON__ : QIcon {
    using QIcon::QIcon;
};

// A menu is a QMenu owned by its window; IsMenu knows the live ones.
struct HMENU__ : QMenu {
    explicit HMENU__(QWidget* pParent);
    ~HMENU__() override;
};

// A device context is the painter of the paint under way.
struct HDC__ : QPainter {
    using QPainter::QPainter;
};

// A window is a widget with an entry in the platform's handle table. The entry, and with it the
// handle, goes when the widget is destroyed, after the window procedure got WM_NCDESTROY.
// Handles are never reused: one that outlived its window names no window. Who makes a window
// makes its handle: the procedure it starts with, its parent, identifier and style as created,
// and for a control the class it was made from (null for any other window).
HWND CreateWindowHandle(QWidget* pWidget, WNDPROC pfnProc, HWND hParent, int nID, DWORD dwStyle,
                        const ControlClass* pClass);
QWidget* WidgetOf(HWND hWnd);
HWND HandleOf(const QWidget* pWidget);
// The control class a control was created from; null for a window that is no control.
const ControlClass* ClassOf(HWND hWnd);
