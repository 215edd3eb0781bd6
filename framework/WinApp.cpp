#include "framework/WinApp.h"

#include "framework/AnsiCodePage.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    if (g_pApp && g_pApp->m_pszAppName)
        return g_pApp->m_pszAppName;
    static CString name;
    name = CAnsiCodePage::FromUnicode(QCoreApplication::applicationName()).constData();
    return name;
}

void AfxEnableControlContainer(void*) {
    // Nothing to install: Qt has no ActiveX controls, and no dialog here uses one.
}

int AfxMessageBox(LPCSTR lpszText, UINT nType) {
    QWidget* pParent = QApplication::activeModalWidget();
    if (!pParent)
        pParent = QApplication::activeWindow();
    QMessageBox box((nType & MB_ICONEXCLAMATION) ? QMessageBox::Warning : QMessageBox::NoIcon,
                    CAnsiCodePage::ToUnicode(AfxGetAppName()), CAnsiCodePage::ToUnicode(lpszText),
                    QMessageBox::Ok, pParent);
    box.exec();
    return IDOK;
}

int AfxWinMain(int argc, char** argv) {
    const char* name = (argc > 0 && argv[0]) ? argv[0] : "MorvikSerialDemo";
    if (const char* slash = std::strrchr(name, '/'))
        name = slash + 1;
    auto set = [](const char* var) {
        const char* v = std::getenv(var);
        return v && *v;
    };
    if (!set("QT_QPA_PLATFORM") && !set("DISPLAY") && !set("WAYLAND_DISPLAY")) {
        std::fprintf(stderr,
                     "%s: no graphical display (DISPLAY or WAYLAND_DISPLAY is not set); start it "
                     "from a desktop session. To run the tests without one: bash "
                     "tools/run-tests.sh\n",
                     name);
        return 2;
    }

    QApplication application(argc, argv);
    CWinApp* pApp = AfxGetApp();
    if (!pApp) {
        std::fprintf(stderr, "%s: no application object\n", name);
        return 1;
    }
    if (!pApp->m_pszAppName) {
        pApp->m_strAppName =
            CAnsiCodePage::FromUnicode(
                QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName())
                .constData();
        pApp->m_pszAppName = pApp->m_strAppName;
    }
    if (!pApp->InitInstance())
        return pApp->ExitInstance();
    const int nResult = QApplication::exec();
    pApp->ExitInstance();
    return nResult;
}
