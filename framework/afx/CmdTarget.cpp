#include "framework/afx/CmdTarget.h"

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP_ENTRY* CCmdTarget::FindEntry(UINT nMessage, UINT nCode, UINT nID) const {
    for (const AFX_MSGMAP* map = GetMessageMap(); map;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn; ++e) {
            if (e->nMessage != nMessage)
                continue;
            if (nMessage == WM_COMMAND && (e->nCode != nCode || e->nID != nID))
                continue;
            return e;
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode) {
    const AFX_MSGMAP_ENTRY* e = FindEntry(WM_COMMAND, static_cast<UINT>(nCode), nID);
    if (!e)
        return FALSE;
    e->pfn(this, 0, 0);
    return TRUE;
}
