// The dialog manager: dialogs from templates, their handles and their controls, their modal
// loop, their window menu.

#include "framework/win32/DialogWindow.h"
#include "framework/win32/Handles.h"
#include "framework/win32/Resources.h"
#include "framework/win32/WinUser.h"
#include "framework/win32/controls/ControlClass.h"

#include <QLabel>

#include <cstdint>
#include <cstdio>

namespace {

// Makes each template item from its control class. FALSE, with a line on standard error, at
// the first item whose class the platform does not have.
BOOL CreateControls(HWND hDlg, DialogWindow* pDialog) {
    const DialogTemplate& tmpl = pDialog->Template();
    for (int i = 0; i < tmpl.itemCount; ++i) {
        const DialogTemplate::Item& item = tmpl.items[i];
        const ControlClass* pClass = FindControlClass(item.cls);
        if (!pClass) {
            std::fprintf(stderr,
                         "%s: dialog \"%s\" not created: its item %d (id %d) has the unknown "
                         "control class \"%s\"\n",
                         GetProgramName(), tmpl.caption ? tmpl.caption : "", i, item.id,
                         item.cls ? item.cls : "");
            return FALSE;
        }
        QWidget* pControl = pClass->create(item, pDialog);
        CreateWindowHandle(pControl, pClass->proc, hDlg, item.id, item.style | WS_CHILD, pClass);
        pDialog->AddControl(pControl, item);
    }
    return TRUE;
}

bool IsTextStatic(const DialogTemplate::Item& item) {
    return FindControlClass(item.cls) == &kStaticClass && (item.style & SS_TYPEMASK) != SS_ICON &&
           item.text && *item.text;
}

// A control without a text of its own (a field, a list) is named for a screen reader by the
// text a person reads for it: the nearest static text on the same row to its left. Templates
// list labels in any order, so the geometry decides.
void NameControlsByTheirLabels(DialogWindow* pDialog) {
    const DialogTemplate& tmpl = pDialog->Template();
    for (int i = 0; i < tmpl.itemCount; ++i) {
        const DialogTemplate::Item& item = tmpl.items[i];
        const ControlClass* pClass = FindControlClass(item.cls);
        if (pClass == &kStaticClass || pClass == &kButtonClass)
            continue; // they show their own text
        int label = -1;
        for (int j = 0; j < tmpl.itemCount; ++j) {
            const DialogTemplate::Item& l = tmpl.items[j];
            const bool sameRow = l.y < item.y + item.cy && item.y < l.y + l.cy;
            if (!IsTextStatic(l) || !sameRow || l.x + l.cx > item.x)
                continue;
            if (label < 0 || l.x + l.cx > tmpl.items[label].x + tmpl.items[label].cx)
                label = j;
        }
        if (label < 0)
            continue;
        QWidget* pControl = pDialog->Controls()[i];
        pControl->setAccessibleName(
            StaticText(tmpl.items[label].text, tmpl.items[label].style & SS_NOPREFIX));
        if (auto* pLabel = qobject_cast<QLabel*>(pDialog->Controls()[label]))
            pLabel->setBuddy(pControl);
    }
}

} // namespace

HWND CreateDialogA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent) {
    if (!IS_INTRESOURCE(lpTemplateName))
        return nullptr;
    const auto nID = static_cast<UINT>(reinterpret_cast<std::uintptr_t>(lpTemplateName));
    return CreateDialogIndirectA(hInstance, CResources::FindDialog(nID), hWndParent);
}

HWND CreateDialogIndirectA(HINSTANCE, const DialogTemplate* pTemplate, HWND hWndParent) {
    if (!pTemplate)
        return nullptr;
    auto* pDialog = new DialogWindow(*pTemplate, WidgetOf(hWndParent));
    const HWND hDlg =
        CreateWindowHandle(pDialog, DefDlgProcA, nullptr, 0, pTemplate->style, nullptr);
    if (!CreateControls(hDlg, pDialog)) {
        DestroyWindow(hDlg);
        return nullptr;
    }
    NameControlsByTheirLabels(pDialog);
    return hDlg;
}

INT_PTR RunModalDialog(HWND hDlg) {
    DialogWindow* pDialog = DialogOf(hDlg);
    return pDialog ? pDialog->RunModal() : -1;
}

BOOL EndDialog(HWND hDlg, INT_PTR nResult) {
    DialogWindow* pDialog = DialogOf(hDlg);
    if (!pDialog)
        return FALSE;
    pDialog->End(nResult);
    return TRUE;
}

HWND GetDlgItem(HWND hDlg, int nIDDlgItem) {
    DialogWindow* pDialog = DialogOf(hDlg);
    return pDialog ? HandleOf(pDialog->Control(nIDDlgItem)) : nullptr;
}

HWND GetNextDlgTabItem(HWND hDlg, HWND hCtl, BOOL bPrevious) {
    DialogWindow* pDialog = DialogOf(hDlg);
    return pDialog ? HandleOf(pDialog->NextTabStop(WidgetOf(hCtl), bPrevious != FALSE)) : nullptr;
}

HMENU GetSystemMenu(HWND hWnd, BOOL bRevert) {
    DialogWindow* pDialog = DialogOf(hWnd);
    return pDialog ? pDialog->SystemMenu(bRevert != FALSE) : nullptr;
}
