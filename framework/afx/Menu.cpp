#include "framework/afx/Menu.h"

#include <QMenu>

#include <map>
#include <memory>

CMenu* CMenu::FromHandle(HMENU hMenu) {
    if (!hMenu)
        return nullptr;
    static auto* wrappers = new std::map<HMENU, std::unique_ptr<CMenu>>;
    auto& pMenu = (*wrappers)[hMenu];
    if (!pMenu) {
        pMenu = std::make_unique<CMenu>();
        pMenu->m_hMenu = hMenu;
        QObject::connect(hMenu, &QObject::destroyed, [hMenu] { wrappers->erase(hMenu); });
    }
    return pMenu.get();
}
