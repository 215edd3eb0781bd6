#pragma once

#include "framework/afx/Wnd.h"

// A list box control.
class CListBox : public CWnd {
public:
    int AddString(LPCSTR lpszItem) {
        return static_cast<int>(SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(lpszItem)));
    }
    void ResetContent() { SendMessage(LB_RESETCONTENT, 0, 0); }
    // What the line at nIndex was made from, for its tooltip, "Copy as Hex" and the save.
    int SetItemDetail(int nIndex, const LBITEMDETAIL& detail) {
        return static_cast<int>(SendMessage(LB_SETITEMDETAIL, static_cast<WPARAM>(nIndex),
                                            reinterpret_cast<LPARAM>(&detail)));
    }
};
