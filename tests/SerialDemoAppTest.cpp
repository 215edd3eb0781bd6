#include "app/SerialDemoApp.h"
#include "app/VersionInfo.h"
#include "dialog/SerialDemoDlg.h"
#include "tests/DialogDriver.h"
#include "tests/PtyDevice.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <string>

namespace {

TEST(Application, RunsTheDialogThenEndsAndTheExitClosesThePort) {
    PtyDevice dev(1);
    ASSERT_EQ(&theApp, AfxGetApp());
    bool sawMainWindow = false;
    QStringList messages;
    QTimer::singleShot(0, [&] {
        QWidget* window = QApplication::activeModalWidget();
        ASSERT_NE(nullptr, window);
        auto* dlg = dynamic_cast<CSerialDemoDlg*>(CWnd::FromHandlePermanent(window));
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

        QTest::mouseClick(dlg->GetDlgItemHandle(IDC_OPEN_PORT), Qt::LeftButton);
        EXPECT_FALSE(dlg->GetDlgItemHandle(IDC_OPEN_PORT)->isEnabled());
        QTest::keyClick(window, Qt::Key_Escape);
    });
    EXPECT_EQ(FALSE, theApp.InitInstance());
    EXPECT_TRUE(sawMainWindow);
    EXPECT_EQ(nullptr, theApp.m_pMainWnd); // no pointer to a dialog that is gone
    EXPECT_EQ(QStringList{QString(AfxGetAppName()) + " has no help file."}, messages);
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

TEST(Application, WithoutADisplaySaysSoInOneLine) {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(var);
    program.setProcessEnvironment(env);
    program.start(MORVIK_EXECUTABLE, {"--some", "argument"});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(QProcess::NormalExit, program.exitStatus());
    EXPECT_EQ(2, program.exitCode());
    const QString err = QString::fromLocal8Bit(program.readAllStandardError());
    EXPECT_EQ(1, err.count('\n')) << err.toStdString();
    EXPECT_TRUE(err.contains("display")) << err.toStdString();
}

} // namespace
