#include "framework/afx/Dialog.h"

#include "framework/win32/DialogWindow.h"
#include "framework/win32/Resources.h"
#include "framework/afx/WinApp.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDHelp(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
    // A dialog object that dies while its window still exists takes the window along.
    if (HWND hWnd = Detach())
        delete hWnd;
}

INT_PTR CDialog::DoModal() {
    const DialogTemplate* pTemplate = CResources::FindDialog(m_nIDHelp);
    if (!pTemplate || m_hWnd)
        return -1;

    // Without a parent, the application's main window owns the dialog.
    HWND hOwner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    if (!hOwner) {
        CWinApp* pApp = AfxGetApp();
        if (pApp && pApp->m_pMainWnd && pApp->m_pMainWnd != this)
            hOwner = pApp->m_pMainWnd->m_hWnd;
    }

    auto* pWindow = new DialogWindow(*pTemplate, hOwner);
    Attach(pWindow);
    m_bEnded = false;
    m_nResult = -1;
    if (OnInitDialog()) {
        if (QWidget* pFirst = pWindow->FirstTabStop())
            pFirst->setFocus(Qt::TabFocusReason);
    }
    const int nResult = m_bEnded ? m_nResult : pWindow->exec();
    Detach();
    delete pWindow;
    return nResult;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::EndDialog(int nResult) {
    m_bEnded = true;
    m_nResult = nResult;
    if (auto* pWindow = dynamic_cast<DialogWindow*>(m_hWnd))
        pWindow->End(nResult);
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
