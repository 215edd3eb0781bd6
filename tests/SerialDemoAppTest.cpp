#include "app/SerialDemoApp.h"
#include "app/VersionInfo.h"
#include "dialog/SerialDemoDlg.h"
#include "framework/win32/EndingSignals.h"
#include "framework/win32/Handles.h"
#include "tests/DialogDriver.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/PtyDevice.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace {

TEST(Application, RunsTheDialogThenEndsAndTheExitClosesThePort) {
    PtyDevice dev(1);
    ASSERT_EQ(&theApp, AfxGetApp());
    bool sawMainWindow = false;
    QStringList messages;
    QTimer::singleShot(0, [&] {
        QWidget* window = QApplication::activeModalWidget();
        ASSERT_NE(nullptr, window);
        auto* dlg = dynamic_cast<CSerialDemoDlg*>(CWnd::FromHandlePermanent(HandleOf(window)));
        ASSERT_NE(nullptr, dlg);
        sawMainWindow = theApp.m_pMainWnd == dlg;
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window, 2000));

        // Help comes from the application's own command map.
        QTimer::singleShot(50, [&] {
            if (auto* box = dynamic_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                messages << box->text();
                box->button(QMessageBox::Ok)->click();
            }
        });
        QTest::keyClick(window, Qt::Key_F1);

        QTest::mouseClick(WidgetOf(dlg->GetDlgItemHandle(IDC_OPEN_PORT)), Qt::LeftButton);
        EXPECT_FALSE(WidgetOf(dlg->GetDlgItemHandle(IDC_OPEN_PORT))->isEnabled());
        QTest::keyClick(window, Qt::Key_Escape);
    });
    EXPECT_EQ(FALSE, theApp.InitInstance());
    EXPECT_TRUE(sawMainWindow);
    EXPECT_EQ(nullptr, theApp.m_pMainWnd); // no pointer to a dialog that is gone
    EXPECT_EQ(QStringList{QString(AfxGetAppName()) + " has no help file."}, messages);
    EXPECT_TRUE(dev.WaitHangUp(1000));
}

TEST(Application, ASignalClosesTheBoxOpenOverTheDialogAndThenTheDialog) {
    PtyDevice dev(1);
    QString boxSeen;
    INT_PTR result = 0;
    {
        EndingSignals endings;
        CSerialDemoDlg dlg;
        theApp.m_pMainWnd = &dlg;
        DialogDriver ui(dlg);
        result = ui.Run([&] {
            ui.Click(IDC_OPEN_PORT);
            ASSERT_FALSE(ui.Enabled(IDC_OPEN_PORT));
            QTimer::singleShot(200, [&] {
                boxSeen = QApplication::activeModalWidget()->windowTitle();
                raise(SIGTERM);
            });
            // The About box runs its own loop until the signal closes it.
            dlg.SendMessage(WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
            EXPECT_FALSE(ui.Window()->isVisible());
        });
        EXPECT_EQ(SIGTERM, endings.Caught());
    }
    EXPECT_EQ(QString("About Morvik Serial Demo"), boxSeen);
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_TRUE(dev.WaitHangUp(1000));
}

TEST(Application, VersionBlock) {
    const CVersionInfo& v = CVersionInfo::Get();
    const WORD version[4] = {1, 0, 0, 1};
    EXPECT_TRUE(std::equal(version, version + 4, v.fileVersion));
    EXPECT_TRUE(std::equal(version, version + 4, v.productVersion));
    EXPECT_EQ(0x3Fu, v.fileFlagsMask);
    EXPECT_EQ(0u, v.fileFlags);
    EXPECT_EQ(0x4u, v.fileOS);
    EXPECT_EQ(0x1u, v.fileType);
    EXPECT_EQ(0u, v.fileSubtype);
    EXPECT_STREQ("040904b0", v.stringTableKey);
    EXPECT_EQ(0x0409, v.translationLanguage);
    EXPECT_EQ(0x04B0, v.translationCodePage);
    EXPECT_STREQ("MorvikSerialDemo MFC Application", v.Find("FileDescription"));
    EXPECT_STREQ("1, 0, 0, 1", v.Find("FileVersion"));
    EXPECT_STREQ("1, 0, 0, 1", v.Find("ProductVersion"));
    EXPECT_STREQ("MorvikSerialDemo", v.Find("InternalName"));
    EXPECT_STREQ("MorvikSerialDemo.EXE", v.Find("OriginalFilename"));
    EXPECT_STREQ("MorvikSerialDemo Application", v.Find("ProductName"));
    for (const char* empty : {"Comments", "LegalTrademarks", "PrivateBuild", "SpecialBuild"})
        EXPECT_STREQ("", v.Find(empty)) << empty;
    EXPECT_NE(nullptr, v.Find("CompanyName"));
    EXPECT_NE(nullptr, v.Find("LegalCopyright"));
    for (int i = 1; i < v.stringCount; ++i)
        EXPECT_LT(std::string(v.strings[i - 1].key), std::string(v.strings[i].key));
}

// A display number with no server behind it.
QString FreeDisplay() {
    for (int n = 97;; ++n) {
        if (!QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)) &&
            !QFile::exists(QString("/tmp/.X%1-lock").arg(n)))
            return QString(":%1").arg(n);
    }
}

TEST(Application, WithoutAReachableDisplaySaysSoInOneLineAndEndsWithTwo) {
    const QString display = FreeDisplay();
    // Started through a link of another name, the program still names itself after its file.
    QTemporaryDir links;
    ASSERT_TRUE(links.isValid());
    const QString link = links.filePath("serial-demo-link");
    ASSERT_TRUE(QFile::link(MORVIK_EXECUTABLE, link));
    struct Case {
        std::vector<std::string> env; // set over an environment without any display
        std::string named;            // what the line must name
        std::string program = MORVIK_EXECUTABLE;
    };
    const std::string unreachable = "DISPLAY=" + display.toStdString();
    const Case cases[] = {
        {{}, "DISPLAY"},
        {{unreachable}, unreachable},
        {{"QT_QPA_PLATFORM=wayland", "WAYLAND_DISPLAY=no-such-wayland"},
         "WAYLAND_DISPLAY=no-such-wayland"},
        {{"QT_QPA_PLATFORM=no-such-platform"}, "QT_QPA_PLATFORM=no-such-platform"},
        {{unreachable}, unreachable, link.toStdString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program + " " + (c.env.empty() ? "" : c.env.back()));
        // No runtime folder either: the Wayland library complains of that on its own.
        std::vector<std::string> env = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                        "XDG_SESSION_TYPE", "XDG_RUNTIME_DIR"};
        env.insert(env.end(), c.env.begin(), c.env.end());
        ChildProcess program({c.program, "--some", "argument"},
                             {ChildProcess::Inherit, "/dev/null", ChildProcess::Pipe, env});
        const int status = program.Wait(10000);
        const std::string err = program.ReadErr(1000);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(2, WEXITSTATUS(status));
        EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << err;
        EXPECT_EQ(0u, err.find("MorvikSerialDemo: cannot open a graphical display")) << err;
        EXPECT_NE(std::string::npos, err.find(c.named)) << err;
        // Whoever installed the program has no source tree to run scripts from.
        EXPECT_EQ(std::string::npos, err.find("tools/")) << err;
    }
}

TEST(Application, WhatALibrarySaysDuringStartUpIsPassedOnOnceADisplayIsFound) {
    // Fontconfig, asked for a configuration that is not there, says so on standard error
    // while the display's fonts are set up: held back, then passed on.
    ChildProcess program({MORVIK_EXECUTABLE}, {ChildProcess::Inherit,
                                               "/dev/null",
                                               ChildProcess::Pipe,
                                               {"QT_QPA_PLATFORM=offscreen",
                                                "FONTCONFIG_FILE=/nonexistent/fonts.conf"}});
    ASSERT_GT(program.Pid(), 0);
    EXPECT_EQ(-1, program.Wait(1500));
    program.Signal(SIGKILL);
    program.Wait(5000);
    EXPECT_NE(std::string::npos, program.ReadErr(1000).find("Fontconfig error"));
}

TEST(Application, QtsOwnCommandLineOptionsAreIgnored) {
    // Taken as Qt's option, "-platform" would end the program at once for want of a display.
    ChildProcess program(
        {MORVIK_EXECUTABLE, "-platform", "no-such-platform", "-reverse"},
        {ChildProcess::Inherit, "/dev/null", ChildProcess::Pipe, {"QT_QPA_PLATFORM=offscreen"}});
    ASSERT_GT(program.Pid(), 0);
    EXPECT_EQ(-1, program.Wait(1500)) << program.ReadErr(1000);
}

} // namespace
