// The "listbox" class: a list of text lines.

#include "framework/win32/AnsiCodePage.h"
#include "framework/win32/WinUser.h"
#include "framework/win32/controls/ControlClass.h"
#include "framework/win32/controls/ListBoxControl.h"

namespace {

QWidget* CreateListBox(const DialogTemplate::Item& item, QWidget* pDialog) {
    auto* pList = new ListBoxControl((item.style & LBS_SORT) != 0, pDialog);
    pList->setVerticalScrollBarPolicy((item.style & WS_VSCROLL) ? Qt::ScrollBarAsNeeded
                                                                : Qt::ScrollBarAlwaysOff);
    pList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    if (!(item.style & WS_BORDER))
        pList->setFrameShape(QFrame::NoFrame);
    if (item.style & LBS_NOTIFY)
        NotifyOnFocus(pList, LBN_SETFOCUS);
    return pList;
}

LRESULT ListBoxProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    auto* pList = ControlWidget<ListBoxControl>(hWnd, kListBoxClass);
    if (!pList)
        return DefWindowProcA(hWnd, nMsg, wParam, lParam);
    switch (nMsg) {
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case LB_ADDSTRING:
        return pList->AddString(AnsiCodePage::ToUnicode(reinterpret_cast<LPCSTR>(lParam)));
    case LB_RESETCONTENT:
        pList->ResetContent();
        return 0;
    case LB_SETITEMDETAIL: {
        const auto* pDetail = reinterpret_cast<const LBITEMDETAIL*>(lParam);
        if (!pDetail)
            return LB_ERR;
        ListBoxControl::Detail detail;
        detail.command = AnsiCodePage::ToUnicode(pDetail->lpszCommand);
        detail.timeMs = pDetail->llTimeMs;
        if (pDetail->pBytes && pDetail->cbBytes > 0)
            detail.bytes = QByteArray(pDetail->pBytes, pDetail->cbBytes);
        return pList->SetDetail(static_cast<int>(wParam), detail) ? 0 : LB_ERR;
    }
    default:
        return DefWindowProcA(hWnd, nMsg, wParam, lParam);
    }
}

} // namespace

const ControlClass kListBoxClass = {"listbox", CreateListBox, ListBoxProc};
