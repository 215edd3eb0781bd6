#include "framework/afx/WinApp.h"

#include "framework/win32/AnsiCodePage.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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
    name = AnsiCodePage::FromUnicode(QCoreApplication::applicationName()).constData();
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
                    AnsiCodePage::ToUnicode(AfxGetAppName()), AnsiCodePage::ToUnicode(lpszText),
                    QMessageBox::Ok, pParent);
    box.exec();
    return IDOK;
}

namespace {

const char* g_pszProgram = "MorvikSerialDemo";

// What Qt says while it starts its display connection, held back until it is known whether
// a display was found: if none was, the one line below is all the user sees.
struct StartupMessage {
    QtMsgType type;
    std::string category;
    QString text;
};
std::vector<StartupMessage>* g_pStartupMessages = nullptr;

std::string Env(const char* var) {
    const char* v = std::getenv(var);
    return v ? v : "";
}

[[noreturn]] void NoDisplay() {
    // Name the display that was tried, through the variables that chose it.
    std::string tried;
    for (const char* var : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"}) {
        const std::string value = Env(var);
        if (value.empty())
            continue;
        tried += tried.empty() ? "" : ", ";
        tried += std::string(var) + "=" + value;
    }
    if (tried.empty())
        tried = "neither DISPLAY nor WAYLAND_DISPLAY is set";
    std::fprintf(stderr,
                 "%s: cannot open a graphical display (%s); start it from a desktop session.\n",
                 g_pszProgram, tried.c_str());
    std::fflush(stderr);
    // Qt is half set up and would abort: leave without running anything more of it.
    std::_Exit(2);
}

void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg)
        NoDisplay();
    if (g_pStartupMessages)
        g_pStartupMessages->push_back({type, context.category ? context.category : "", text});
}

} // namespace

int AfxWinMain(int argc, char** argv) {
    if (argc > 0 && argv[0]) {
        g_pszProgram = argv[0];
        if (const char* slash = std::strrchr(g_pszProgram, '/'))
            g_pszProgram = slash + 1;
    }
    if (Env("QT_QPA_PLATFORM").empty() && Env("DISPLAY").empty() && Env("WAYLAND_DISPLAY").empty())
        NoDisplay();

    // The program takes nothing from its command line: Qt sees the program name alone, so
    // none of its own options (-reverse, -platform, -qwindowgeometry ...) apply.
    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 && argv[0] ? argv[0] : const_cast<char*>("MorvikSerialDemo"),
                      nullptr};
    // The desktop entry's id: docks match the window to its launcher by it.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.morvik.MorvikSerialDemo"));

    std::vector<StartupMessage> messages;
    g_pStartupMessages = &messages;
    const QtMessageHandler previous = qInstallMessageHandler(StartupMessageHandler);
    QApplication application(qtArgc, qtArgv);
    qInstallMessageHandler(previous);
    g_pStartupMessages = nullptr;
    for (const StartupMessage& m : messages) {
        if (previous)
            previous(m.type, QMessageLogContext(nullptr, 0, nullptr, m.category.c_str()), m.text);
    }

    CWinApp* pApp = AfxGetApp();
    if (!pApp) {
        std::fprintf(stderr, "%s: no application object\n", g_pszProgram);
        return 1;
    }
    if (!pApp->m_pszAppName) {
        pApp->m_strAppName =
            AnsiCodePage::FromUnicode(
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
