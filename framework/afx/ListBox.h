#pragma once

#include "framework/afx/Wnd.h"

// A list box control.
class CListBox : public CWnd {
public:
    int AddString(LPCSTR lpszItem) {
        return static_cast<int>(SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(lpszItem)));
    }
    void ResetContent() { SendMessage(LB_RESETCONTENT, 0, 0); }
};
