// Menus: the window menu of a dialog and the entries a program appends to it.

#include "framework/win32/AnsiCodePage.h"
#include "framework/win32/DialogWindow.h"
#include "framework/win32/Handles.h"
#include "framework/win32/WinUser.h"

#include <QAction>

#include <unordered_set>

namespace {

std::unordered_set<const HMENU__*>& LiveMenus() {
    static auto* menus = new std::unordered_set<const HMENU__*>; // outlives every menu
    return *menus;
}

} // namespace

HMENU__::HMENU__(QWidget* pParent) : QMenu(pParent) {
    LiveMenus().insert(this);
}

HMENU__::~HMENU__() {
    LiveMenus().erase(this);
}

BOOL IsMenu(HMENU hMenu) {
    return LiveMenus().count(hMenu) ? TRUE : FALSE;
}

HMENU GetSystemMenu(HWND hWnd, BOOL bRevert) {
    DialogWindow* pDialog = DialogOf(hWnd);
    return pDialog ? pDialog->SystemMenu(bRevert != FALSE) : nullptr;
}

BOOL AppendMenuA(HMENU hMenu, UINT uFlags, std::uintptr_t uIDNewItem, LPCSTR lpNewItem) {
    if (!IsMenu(hMenu))
        return FALSE;
    if (uFlags & MF_SEPARATOR) {
        hMenu->addSeparator();
        return TRUE;
    }
    QAction* action = hMenu->addAction(AnsiCodePage::ToUnicode(lpNewItem));
    action->setData(QVariant::fromValue(static_cast<quintptr>(uIDNewItem)));
    return TRUE;
}
