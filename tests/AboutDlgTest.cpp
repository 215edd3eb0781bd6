#include "core/StringTable.h"
#include "dialog/AboutDlg.h"
#include "dialog/SerialDemoDlg.h"
#include "framework/win32/Resources.h"
#include "framework/afx/WinApp.h"
#include "tests/DialogDriver.h"
#include "testsupport/PtyDevice.h"
#include "tests/TestDlg.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <string>

namespace {

QMenu* SystemMenu(const DialogDriver& ui) {
    return ui.Window()->findChild<QMenu*>();
}

QStringList Entries(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions())
        out << (a->isSeparator() ? QString("-") : a->text());
    return out;
}

struct AboutSeen {
    QString title;
    QStringList texts;
    bool ownedByMain = false;
    bool modal = false;
};

// Waits for the About box, records it, and closes it with a key (or its OK button).
void CloseAboutWhenShown(QWidget* main, AboutSeen* seen, int key) {
    QTimer::singleShot(20, [=] {
        QWidget* about = QApplication::activeModalWidget();
        if (!about || about == main) {
            CloseAboutWhenShown(main, seen, key); // not up yet
            return;
        }
        seen->title = about->windowTitle();
        seen->ownedByMain = about->parentWidget() == main;
        seen->modal = about->isModal();
        for (QLabel* label : about->findChildren<QLabel*>())
            if (!label->text().isEmpty())
                seen->texts << label->text();
        if (key == 0) {
            QTest::mouseClick(about->findChild<QPushButton*>(), Qt::LeftButton);
        } else {
            about->activateWindow();
            (void)QTest::qWaitForWindowActive(about, 1000);
            QTest::keyClick(about->focusWidget() ? about->focusWidget() : about,
                            static_cast<Qt::Key>(key));
        }
    });
}

TEST(AboutTemplate, MatchesTheLayoutTable) {
    const DialogTemplate* t = CResources::FindDialog(IDD_ABOUTBOX);
    ASSERT_NE(nullptr, t);
    EXPECT_FALSE(t->extended);
    EXPECT_STREQ("About Morvik Serial Demo", t->caption);
    EXPECT_EQ(235, t->cx);
    EXPECT_EQ(55, t->cy);
    EXPECT_EQ(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, t->style);
    EXPECT_EQ(0u, t->exStyle);
    EXPECT_STREQ("MS Sans Serif", t->faceName);
    EXPECT_EQ(8, t->pointSize);
    ASSERT_EQ(4, t->itemCount);
    const DialogTemplate::Item* i = t->items;
    EXPECT_EQ(-1, i[0].id);
    EXPECT_EQ(SS_ICON, i[0].style);
    EXPECT_EQ(IDR_MAINFRAME, i[0].iconId);
    EXPECT_EQ((std::array<short, 4>{11, 17, 20, 20}),
              (std::array<short, 4>{i[0].x, i[0].y, i[0].cx, i[0].cy}));
    EXPECT_STREQ("MorvikSerialDemo Version 1.0", i[1].text);
    EXPECT_EQ(SS_LEFT | SS_NOPREFIX | WS_GROUP, i[1].style);
    EXPECT_EQ((std::array<short, 4>{40, 10, 119, 8}),
              (std::array<short, 4>{i[1].x, i[1].y, i[1].cx, i[1].cy}));
    EXPECT_EQ(SS_LEFT | WS_GROUP, i[2].style);
    EXPECT_EQ((std::array<short, 4>{40, 25, 119, 8}),
              (std::array<short, 4>{i[2].x, i[2].y, i[2].cx, i[2].cy}));
    EXPECT_EQ(static_cast<int>(IDOK), i[3].id);
    EXPECT_STREQ("OK", i[3].text);
    EXPECT_EQ(BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, i[3].style);
    EXPECT_EQ((std::array<short, 4>{178, 7, 50, 14}),
              (std::array<short, 4>{i[3].x, i[3].y, i[3].cx, i[3].cy}));
    EXPECT_STREQ("&About MorvikSerialDemo...", CStringTable::Find(IDS_ABOUTBOX));
}

TEST(AboutBox, SystemMenuEndsWithTheAboutEntry) {
    TestDlg dlg;
    DialogDriver ui(dlg);
    ui.Run([&] {
        QMenu* menu = SystemMenu(ui);
        ASSERT_NE(nullptr, menu);
        EXPECT_EQ(QStringList({"&Move", "-", "&Close\tAlt+F4", "-", "&About MorvikSerialDemo..."}),
                  Entries(menu));
        EXPECT_EQ(IDM_ABOUTBOX, menu->actions().last()->data().toUInt());

        // Alt+Space opens it from the keyboard.
        QTest::keyClick(ui.Window()->focusWidget(), Qt::Key_Space, Qt::AltModifier);
        DialogDriver::Pump(50);
        EXPECT_TRUE(menu->isVisible());
        // Offscreen nothing can move a window: Move is greyed, Close is not.
        EXPECT_FALSE(menu->actions().first()->isEnabled());
        EXPECT_TRUE(menu->actions().at(2)->isEnabled());
        menu->close();
    });
}

TEST(AboutBox, WithoutItsStringTheMenuKeepsOnlyTheStandardEntries) {
    const std::string text = CStringTable::Find(IDS_ABOUTBOX);
    CStringTable::Set(IDS_ABOUTBOX, nullptr);
    TestDlg dlg;
    DialogDriver ui(dlg);
    ui.Run([&] {
        EXPECT_EQ(QStringList({"&Move", "-", "&Close\tAlt+F4"}), Entries(SystemMenu(ui)));
    });
    CStringTable::Set(IDS_ABOUTBOX, text.c_str());
}

TEST(AboutBox, RunsModallyOverTheDialogAndLeavesItsStateAlone) {
    PtyDevice dev(1);
    TestDlg dlg;
    CWinApp app; // as in the program: the main dialog is the application's main window
    app.m_pMainWnd = &dlg;
    DialogDriver ui(dlg);
    std::vector<AboutSeen> seen(4);
    ui.Run([&] {
        ui.Click(IDC_OPEN_PORT);
        ui.SetText(IDC_COMMAND, "typed");
        ASSERT_NE(INVALID_HANDLE_VALUE, dlg.m_port.m_hPort);

        // From the menu, closed with OK.
        CloseAboutWhenShown(ui.Window(), &seen[0], 0);
        SystemMenu(ui)->actions().last()->trigger();
        DialogDriver::Pump(100); // the command arrives once the menu is done
        // By message, with low bits set, closed with Enter, then Escape, then OK again.
        CloseAboutWhenShown(ui.Window(), &seen[1], Qt::Key_Return);
        dlg.SendMessage(WM_SYSCOMMAND, 0x0013, 0);
        CloseAboutWhenShown(ui.Window(), &seen[2], Qt::Key_Escape);
        dlg.SendMessage(WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        CloseAboutWhenShown(ui.Window(), &seen[3], 0);
        dlg.SendMessage(WM_SYSCOMMAND, IDM_ABOUTBOX, 0);

        EXPECT_TRUE(ui.Window()->isVisible());
        EXPECT_EQ(QString("typed"), ui.Text(IDC_COMMAND));
        EXPECT_FALSE(ui.Enabled(IDC_OPEN_PORT));
        EXPECT_TRUE(ui.Enabled(IDC_CLOSE_PORT));
        EXPECT_NE(INVALID_HANDLE_VALUE, dlg.m_port.m_hPort);
    });
    for (const AboutSeen& s : seen) {
        EXPECT_EQ(QString("About Morvik Serial Demo"), s.title);
        EXPECT_TRUE(s.ownedByMain);
        EXPECT_TRUE(s.modal);
        EXPECT_TRUE(s.texts.contains("MorvikSerialDemo Version 1.0"));
    }
    EXPECT_FALSE(dev.WaitHangUp(100)); // still open while the dialog object lives
}

TEST(AboutBox, CloseFromTheSystemMenuEndsTheDialog) {
    TestDlg dlg;
    DialogDriver ui(dlg);
    const INT_PTR result = ui.Run([&] {
        for (QAction* a : SystemMenu(ui)->actions())
            if (a->data().toUInt() == SC_CLOSE)
                a->trigger();
        DialogDriver::Pump(100);
    });
    EXPECT_EQ(IDCANCEL, result);
}

} // namespace
