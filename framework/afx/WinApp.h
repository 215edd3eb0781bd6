#pragma once

#include "core/String.h"
#include "framework/afx/CmdTarget.h"

class CWnd;

// The application object. Exactly one exists; the program entry finds it and runs it.
class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(LPCSTR lpszAppName = nullptr);
    ~CWinApp() override;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
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
    friend int AfxWinMain(int argc, char** argv);
};

CWinApp* AfxGetApp();
// The application's name: from its executable's file name unless the object named it.
LPCSTR AfxGetAppName();
// Dialogs may host ActiveX controls; there are none on this platform.
void AfxEnableControlContainer(void* pManager = nullptr);
// A modal message box captioned with the application's name.
int AfxMessageBox(LPCSTR lpszText, UINT nType = MB_OK);
// The program entry: creates the GUI application and runs InitInstance.
int AfxWinMain(int argc, char** argv);
