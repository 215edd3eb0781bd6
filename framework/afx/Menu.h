#pragma once

#include "framework/win32/WinUser.h"

// A menu object wrapping a menu handle.
class CMenu {
public:
    HMENU m_hMenu = nullptr;

    // The object for a handle, kept while the menu exists; null for a null handle.
    static CMenu* FromHandle(HMENU hMenu);

    BOOL AppendMenu(UINT nFlags, std::uintptr_t nIDNewItem = 0, LPCSTR lpszNewItem = nullptr) {
        return ::AppendMenuA(m_hMenu, nFlags, nIDNewItem, lpszNewItem);
    }
};
