#pragma once

#include "core/String.h"
#include "framework/afx/CmdTarget.h"
#include "framework/win32/WinUser.h"

class CWnd;

// The application object. Exactly one exists; the program entry finds it and runs it.
class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(LPCSTR lpszAppName = nullptr);
    ~CWinApp() override;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    // The message loop, for an application whose InitInstance returned TRUE.
    virtual int Run();
    virtual int ExitInstance();
    // The three-dimensional control look; Qt's styles give it already.
    BOOL Enable3dControls();

    afx_msg void OnHelp();

    CWnd* m_pMainWnd = nullptr;
    // Null until the program entry names the application after its executable.
    LPCSTR m_pszAppName = nullptr;

    DECLARE_MESSAGE_MAP()

private:
    CString m_strAppName;
    friend int AfxWinMain(HINSTANCE, HINSTANCE, LPSTR, int);
};

CWinApp* AfxGetApp();
// The application's name: the program's name unless the object named it.
LPCSTR AfxGetAppName();
// Dialogs may host ActiveX controls; there are none on this platform.
void AfxEnableControlContainer(void* pManager = nullptr);
// A modal message box captioned with the application's name.
int AfxMessageBox(LPCSTR lpszText, UINT nType = MB_OK);
// The module whose resources the program loads.
HINSTANCE AfxGetResourceHandle();
// The module that holds a resource. This program is one module, so that is the answer whether
// it holds the resource or not: loading a missing one fails there.
HINSTANCE AfxFindResourceHandle(LPCSTR lpszName, LPCSTR lpszType);
// The program entry, reached through WinMain: runs InitInstance, and the message loop when it
// returns TRUE.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);
