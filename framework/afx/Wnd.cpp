#include "framework/afx/Wnd.h"

#include "framework/win32/AnsiCodePage.h"
#include "framework/afx/DataExchange.h"
#include "framework/win32/DialogWindow.h"
#include "framework/win32/controls/ListBoxControl.h"
#include "framework/afx/Menu.h"
#include "framework/afx/WinApp.h"

#include <QIcon>
#include <QPainter>
#include <QVariant>
#include <QWidget>
#include <QWindow>

namespace {
const char kWndProperty[] = "afx.cwnd";
} // namespace

CWnd::~CWnd() {
    // The application must not keep pointing at a main window that is gone.
    if (CWinApp* pApp = AfxGetApp(); pApp && pApp->m_pMainWnd == this)
        pApp->m_pMainWnd = nullptr;
    Detach();
}

BOOL CWnd::Attach(HWND hWnd) {
    if (!hWnd || m_hWnd || FromHandlePermanent(hWnd))
        return FALSE;
    m_hWnd = hWnd;
    hWnd->setProperty(kWndProperty, QVariant::fromValue(reinterpret_cast<quintptr>(this)));
    m_destroyed = QObject::connect(hWnd, &QObject::destroyed, [this] { m_hWnd = nullptr; });
    return TRUE;
}

HWND CWnd::Detach() {
    HWND hWnd = m_hWnd;
    if (hWnd) {
        QObject::disconnect(m_destroyed);
        hWnd->setProperty(kWndProperty, QVariant());
    }
    m_hWnd = nullptr;
    return hWnd;
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    if (!hWnd)
        return nullptr;
    const QVariant v = hWnd->property(kWndProperty);
    return v.isValid() ? reinterpret_cast<CWnd*>(v.value<quintptr>()) : nullptr;
}

LRESULT CWnd::SendMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
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

HWND CWnd::GetDlgItemHandle(int nID) const {
    const auto* pDialog = dynamic_cast<const DialogWindow*>(m_hWnd);
    return pDialog ? pDialog->Control(nID) : nullptr;
}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return dx.m_bFailed ? FALSE : TRUE;
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
    return AfxDefWindowProc(m_hWnd, nMsg, wParam, lParam);
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

LRESULT AfxDefWindowProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (!hWnd)
        return 0;
    auto* pDialog = dynamic_cast<DialogWindow*>(hWnd);
    switch (nMsg) {
    case WM_PAINT:
        if (pDialog)
            pDialog->DefaultPaint();
        return 0;
    case WM_ICONERASEBKGND:
        if (auto* painter = reinterpret_cast<QPainter*>(wParam))
            painter->fillRect(hWnd->rect(), hWnd->palette().window());
        return 1;
    case WM_SETICON: {
        if (const auto* icon = reinterpret_cast<const QIcon*>(lParam))
            hWnd->setWindowIcon(*icon);
        return 0;
    }
    case WM_CLOSE:
        // A dialog's Close is its Cancel command.
        if (pDialog)
            return SendMessageA(hWnd, WM_COMMAND, IDCANCEL, 0);
        hWnd->close();
        return 0;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
            return SendMessageA(hWnd, WM_CLOSE, 0, 0);
        case SC_MOVE:
            if (QWindow* window = hWnd->window()->windowHandle())
                window->startSystemMove();
            return 0;
        default:
            return 0;
        }
    case LB_ADDSTRING:
        if (auto* list = dynamic_cast<ListBoxControl*>(hWnd))
            return list->AddString(AnsiCodePage::ToUnicode(reinterpret_cast<const char*>(lParam)));
        return -1;
    case LB_RESETCONTENT:
        if (auto* list = dynamic_cast<ListBoxControl*>(hWnd))
            list->ResetContent();
        return 0;
    default:
        return 0;
    }
}
