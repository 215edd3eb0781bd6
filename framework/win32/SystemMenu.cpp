// Menus: which are alive, and the entries a program appends to one (the window menu a dialog
// makes for itself).

#include "framework/win32/AnsiCodePage.h"
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
