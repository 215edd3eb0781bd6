#include "framework/afx/Dialog.h"

#include "framework/afx/WinApp.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_lpszTemplateName(MAKEINTRESOURCE(static_cast<WORD>(nIDTemplate))),
      m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
    // A dialog object that dies while its window still exists takes the window along.
    if (HWND hWnd = Detach())
        ::DestroyWindow(hWnd);
}

INT_PTR CDialog::DoModal() {
    if (m_hWnd)
        return -1;
    // Without a parent, the application's main window owns the dialog.
    HWND hOwner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    if (!hOwner) {
        CWinApp* pApp = AfxGetApp();
        if (pApp && pApp->m_pMainWnd && pApp->m_pMainWnd != this)
            hOwner = pApp->m_pMainWnd->m_hWnd;
    }

    const HWND hWnd = ::CreateDialogA(AfxGetResourceHandle(), m_lpszTemplateName, hOwner);
    if (!hWnd)
        return -1;
    Attach(hWnd);
    if (OnInitDialog()) {
        if (HWND hFirst = ::GetNextDlgTabItem(hWnd, nullptr, FALSE))
            ::SendMessageA(hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hFirst), TRUE);
    }
    const INT_PTR nResult = ::RunModalDialog(hWnd);
    ::DestroyWindow(hWnd); // its WM_NCDESTROY detaches this object
    return nResult;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::EndDialog(int nResult) {
    ::EndDialog(m_hWnd, nResult);
}

void CDialog::SetDefID(UINT nID) {
    SendMessage(DM_SETDEFID, nID, 0);
}

DWORD CDialog::GetDefID() {
    return static_cast<DWORD>(SendMessage(DM_GETDEFID, 0, 0));
}

BOOL CDialog::OnCmdMsg(UINT nID, int nCode) {
    if (CWnd::OnCmdMsg(nID, nCode))
        return TRUE;
    CWinApp* pApp = AfxGetApp();
    return pApp ? pApp->OnCmdMsg(nID, nCode) : FALSE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}
