#include "app/SerialDemoApp.h"

#include "dialog/SerialDemoDlg.h"

BEGIN_MESSAGE_MAP(CSerialDemoApp, CWinApp)
ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

CSerialDemoApp::CSerialDemoApp() = default;

CSerialDemoApp::~CSerialDemoApp() = default;

CSerialDemoApp theApp;

BOOL CSerialDemoApp::InitInstance() {
    AfxEnableControlContainer();
    Enable3dControls();

    CSerialDemoDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();

    // The dialog has closed: end the application rather than start its message loop.
    return FALSE;
}
