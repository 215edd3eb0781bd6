#include "framework/afx/Wnd.h"

#include "framework/afx/Menu.h"
#include "framework/afx/WinApp.h"

#include <unordered_map>

namespace {

// The objects attached to windows, by handle.
std::unordered_map<HWND, CWnd*>& PermanentMap() {
    static auto* map = new std::unordered_map<HWND, CWnd*>; // outlives every object
    return *map;
}

} // namespace

CWnd::~CWnd() {
    // The application must not keep pointing at a main window that is gone.
    if (CWinApp* pApp = AfxGetApp(); pApp && pApp->m_pMainWnd == this)
        pApp->m_pMainWnd = nullptr;
    Detach();
}

BOOL CWnd::Attach(HWND hWnd) {
    if (!::IsWindow(hWnd) || m_hWnd || FromHandlePermanent(hWnd))
        return FALSE;
    m_hWnd = hWnd;
    PermanentMap()[hWnd] = this;
    m_pfnSuper = ::SetWindowProc(hWnd, AfxWndProc);
    return TRUE;
}

HWND CWnd::Detach() {
    const HWND hWnd = m_hWnd;
    if (hWnd) {
        ::SetWindowProc(hWnd, m_pfnSuper);
        PermanentMap().erase(hWnd);
    }
    m_hWnd = nullptr;
    m_pfnSuper = nullptr;
    return hWnd;
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    const auto it = PermanentMap().find(hWnd);
    return it == PermanentMap().end() ? nullptr : it->second;
}

LRESULT CWnd::SendMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    // Straight to this object's procedure: its message map answers even once the window is gone.
    return WindowProc(nMsg, wParam, lParam);
}

BOOL CWnd::EnableWindow(BOOL bEnable) {
    return ::EnableWindow(m_hWnd, bEnable);
}

BOOL CWnd::IsIconic() const {
    return ::IsIconic(m_hWnd);
}

void CWnd::GetClientRect(LPRECT lpRect) const {
    ::GetClientRect(m_hWnd, lpRect);
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

CMenu* CWnd::GetSystemMenu(BOOL bRevert) const {
    return CMenu::FromHandle(::GetSystemMenu(m_hWnd, bRevert));
}

BOOL CWnd::ShowBalloonTip(LPCSTR lpszText) {
    return ::ShowBalloonTip(m_hWnd, lpszText);
}

BOOL CWnd::SetToolTipText(LPCSTR lpszText) {
    return ::SetToolTipText(m_hWnd, lpszText);
}

HWND CWnd::GetDlgItemHandle(int nID) const {
    return ::GetDlgItem(m_hWnd, nID);
}

void CWnd::DoDataExchange(CDataExchange*) {}

LRESULT CWnd::WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    const Message msg{nMsg, wParam, lParam};
    const Message* pPrevious = m_pCurrentMsg;
    m_pCurrentMsg = &msg;
    LRESULT result = 0;
    if (!OnWndMsg(nMsg, wParam, lParam, &result))
        result = DefWindowProc(nMsg, wParam, lParam);
    m_pCurrentMsg = pPrevious;
    return result;
}

LRESULT CWnd::DefWindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (m_pfnSuper)
        return ::CallWindowProcA(m_pfnSuper, m_hWnd, nMsg, wParam, lParam);
    return ::DefWindowProcA(m_hWnd, nMsg, wParam, lParam);
}

BOOL CWnd::OnWndMsg(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (nMsg == WM_COMMAND) {
        *pResult = 0;
        return OnCommand(wParam, lParam);
    }
    const AFX_MSGMAP_ENTRY* e = FindEntry(nMsg, 0, 0);
    if (!e)
        return FALSE;
    *pResult = e->pfn(this, wParam, lParam);
    return TRUE;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM) {
    return OnCmdMsg(LOWORD(wParam), HIWORD(wParam));
}

LRESULT CWnd::Default() {
    return m_pCurrentMsg
               ? DefWindowProc(m_pCurrentMsg->nMsg, m_pCurrentMsg->wParam, m_pCurrentMsg->lParam)
               : 0;
}

void CWnd::OnSysCommand(UINT, LPARAM) {
    Default();
}

void CWnd::OnPaint() {
    Default();
}

HCURSOR CWnd::OnQueryDragIcon() {
    return reinterpret_cast<HCURSOR>(Default());
}

LRESULT AfxWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    CWnd* pWnd = CWnd::FromHandlePermanent(hWnd);
    if (!pWnd)
        return ::DefWindowProcA(hWnd, nMsg, wParam, lParam);
    const LRESULT lResult = pWnd->WindowProc(nMsg, wParam, lParam);
    // The window is gone: the object lets go of its handle.
    if (nMsg == WM_NCDESTROY)
        pWnd->Detach();
    return lResult;
}
