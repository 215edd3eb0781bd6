#include "framework/afx/WinApp.h"

#include <cstdio>

namespace {
CWinApp* g_pApp = nullptr;
} // namespace

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCSTR lpszAppName) {
    if (lpszAppName) {
        m_strAppName = lpszAppName;
        m_pszAppName = m_strAppName;
    }
    if (!g_pApp)
        g_pApp = this;
}

CWinApp::~CWinApp() {
    if (g_pApp == this)
        g_pApp = nullptr;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::Run() {
    return ::RunMessageLoop();
}

int CWinApp::ExitInstance() {
    return 0;
}

BOOL CWinApp::Enable3dControls() {
    return TRUE;
}

void CWinApp::OnHelp() {
    CString text = AfxGetAppName();
    text += " has no help file.";
    AfxMessageBox(text);
}

CWinApp* AfxGetApp() {
    return g_pApp;
}

LPCSTR AfxGetAppName() {
    return g_pApp && g_pApp->m_pszAppName ? g_pApp->m_pszAppName : ::GetProgramName();
}

void AfxEnableControlContainer(void*) {
    // Nothing to install: Qt has no ActiveX controls, and no dialog here uses one.
}

int AfxMessageBox(LPCSTR lpszText, UINT nType) {
    return ::MessageBoxA(nullptr, lpszText, AfxGetAppName(), nType);
}

HINSTANCE AfxGetResourceHandle() {
    return ::GetModuleHandleA(nullptr);
}

HINSTANCE AfxFindResourceHandle(LPCSTR, LPCSTR) {
    return AfxGetResourceHandle();
}

int AfxWinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CWinApp* pApp = AfxGetApp();
    if (!pApp) {
        std::fprintf(stderr, "%s: no application object\n", ::GetProgramName());
        return 1;
    }
    if (!pApp->m_pszAppName) {
        pApp->m_strAppName = ::GetProgramName();
        pApp->m_pszAppName = pApp->m_strAppName;
    }
    if (!pApp->InitInstance())
        return pApp->ExitInstance();
    const int nResult = pApp->Run();
    pApp->ExitInstance();
    return nResult;
}

int WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd) {
    return AfxWinMain(hInstance, hPrevInstance, lpCmdLine, nShowCmd);
}
