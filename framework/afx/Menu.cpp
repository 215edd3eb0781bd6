#include "framework/afx/Menu.h"

#include <map>
#include <memory>

CMenu* CMenu::FromHandle(HMENU hMenu) {
    if (!hMenu)
        return nullptr;
    static auto* wrappers = new std::map<HMENU, std::unique_ptr<CMenu>>;
    // Objects of menus that are gone go now, before one could stand for a new menu.
    for (auto it = wrappers->begin(); it != wrappers->end();)
        it = ::IsMenu(it->first) ? std::next(it) : wrappers->erase(it);
    auto& pMenu = (*wrappers)[hMenu];
    if (!pMenu) {
        pMenu = std::make_unique<CMenu>();
        pMenu->m_hMenu = hMenu;
    }
    return pMenu.get();
}
