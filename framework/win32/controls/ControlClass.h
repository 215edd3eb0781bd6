#pragma once

#include "framework/win32/DialogTemplate.h"
#include "framework/win32/Handles.h"

#include <QString>

class QWidget;

// A window class of the controls a template can name: how to make a control's widget, and the
// window procedure each control of the class starts with.
struct ControlClass {
    const char* name; // as templates name it, matched without regard to case
    QWidget* (*create)(const DialogTemplate::Item& item, QWidget* pDialog);
    WNDPROC proc;
};

// The class of this name; null when the platform has none.
const ControlClass* FindControlClass(const char* pszName);

// The built-in classes, each in a file of its own.
extern const ControlClass kButtonClass;
extern const ControlClass kEditClass;
extern const ControlClass kStaticClass;
extern const ControlClass kListBoxClass;

// The widget of a control of class cls, of the type that class's factory made; null for a
// window of any other class, so a procedure called with a stranger's handle leaves it alone.
template <class Widget> Widget* ControlWidget(HWND hWnd, const ControlClass& cls) {
    return ClassOf(hWnd) == &cls ? static_cast<Widget*>(WidgetOf(hWnd)) : nullptr;
}

// Sends the control's parent WM_COMMAND with nCode (EN_SETFOCUS, LBN_SETFOCUS) whenever the
// control takes the keyboard focus.
void NotifyOnFocus(QWidget* pControl, WORD nCode);

// The text a static control or a group box shows: "&x" marks an access key and "&&" is a
// literal ampersand; with no buddy to give the key to, only the text stays.
QString StaticText(const char* psz, bool bNoPrefix);
