#pragma once

#include "core/Types.h"

// A dialog template as data: the window and its controls, positions in dialog units.
struct DialogTemplate {
    struct Item {
        int id;           // -1 for controls that no code addresses
        const char* cls;  // "button", "edit", "static", "listbox"
        const char* text; // null for none
        short x, y, cx, cy;
        DWORD style; // beyond WS_CHILD | WS_VISIBLE, which every control has
        DWORD exStyle;
        DWORD helpId;
        WORD iconId; // SS_ICON statics: the icon resource shown
    };

    bool extended; // DLGTEMPLATEEX rather than the classic layout
    const char* caption;
    short x, y, cx, cy;
    DWORD style;
    DWORD exStyle;
    DWORD helpId;
    const char* faceName;
    WORD pointSize;
    WORD weight;
    bool italic;
    BYTE charSet;
    const Item* items;
    int itemCount;
};
