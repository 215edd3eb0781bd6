#pragma once

// What a handle is inside the platform: the Qt object it stands for. The platform's own files
// and the tests include this header; the floors above cannot (it needs Qt).

#include "framework/win32/WinTypes.h"

#include <QIcon>
#include <QMenu>
#include <QPainter>

class DialogWindow;
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
// Handles are never reused: one that outlived its window names no window.
HWND CreateDialogHandle(DialogWindow* pDialog);
HWND CreateControlHandle(QWidget* pWidget, const ControlClass& cls, HWND hDlg, int nID,
                         DWORD dwStyle);
QWidget* WidgetOf(HWND hWnd);
HWND HandleOf(const QWidget* pWidget);
// The dialog window behind a dialog's handle; null for any other window.
DialogWindow* DialogOf(HWND hWnd);
// The control class a control was created from; null for a window that is no control.
const ControlClass* ClassOf(HWND hWnd);
