// The dialog manager: dialogs from templates, their modal loop, their controls.

#include "framework/win32/DialogWindow.h"
#include "framework/win32/Handles.h"
#include "framework/win32/Resources.h"
#include "framework/win32/WinUser.h"
#include "framework/win32/controls/ControlClass.h"

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
        CreateControlHandle(pControl, *pClass, hDlg, item.id, item.style);
        pDialog->AddControl(pControl, item);
    }
    return TRUE;
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
    const HWND hDlg = CreateDialogHandle(pDialog);
    if (!CreateControls(hDlg, pDialog)) {
        DestroyWindow(hDlg);
        return nullptr;
    }
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
