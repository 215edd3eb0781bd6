// The platform's calls as a program makes them: handles, window procedures, window text, the
// dialog manager's tab stops, and dialogs that cannot be built.

#include "dialog/resource.h"
#include "framework/afx/Dialog.h"
#include "framework/win32/DialogWindow.h"
#include "framework/win32/Handles.h"
#include "framework/win32/Resources.h"
#include "framework/win32/TitleBar.h"
#include "tests/CodePageScope.h"
#include "tests/DialogDriver.h"
#include "testsupport/PtyDevice.h"
#include "tests/StderrCapture.h"
#include "tests/TestDlg.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <string>

namespace {

// clang-format off
// One control of each class, all addressable; 705 is a disabled tab stop.
const DialogTemplate::Item kEveryClassItems[] = {
    {701, "edit",    "",       5, 5,  60, 12, WS_BORDER | WS_TABSTOP,           0, 0, 0},
    {702, "Button",  "Push",   5, 20, 40, 14, BS_PUSHBUTTON | WS_TABSTOP,       0, 0, 0},
    {703, "STATIC",  "Text",   5, 40, 60, 10, SS_LEFT,                          0, 0, 0},
    {704, "button",  "Group",  70, 5, 60, 40, BS_GROUPBOX,                      0, 0, 0},
    {705, "button",  "Off",    70, 50, 40, 14, BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED, 0, 0, 0},
    {706, "listbox", nullptr,  5, 55, 60, 30, WS_BORDER | WS_TABSTOP,           0, 0, 0},
};
const DialogTemplate kEveryClassDialog = {
    false, "Every class", 0, 0, 140, 90, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT, 0, 0,
    "MS Sans Serif", 8, 400, false, 0,
    kEveryClassItems, static_cast<int>(sizeof kEveryClassItems / sizeof kEveryClassItems[0]),
};
// A class the platform does not have, after one it does.
const DialogTemplate::Item kUnknownClassItems[] = {
    {IDOK, "button",   "OK",    5, 5,  40, 14, BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 0, 0},
    {711,  "combobox", nullptr, 5, 25, 60, 40, WS_TABSTOP,                    0, 0, 0},
};
const DialogTemplate kUnknownClassDialog = {
    false, "Unknown class", 0, 0, 80, 70, WS_POPUP | WS_CAPTION | DS_SETFONT, 0, 0,
    "MS Sans Serif", 8, 400, false, 0,
    kUnknownClassItems, static_cast<int>(sizeof kUnknownClassItems / sizeof kUnknownClassItems[0]),
};
// Taller than any screen the tests have.
const DialogTemplate::Item kTallItems[] = {
    {IDOK, "button", "OK", 5, 5, 40, 14, BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 0, 0},
};
const DialogTemplate kTallDialog = {
    false, "Tall", 0, 0, 100, 900, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT, 0, 0,
    "MS Sans Serif", 8, 400, false, 0, kTallItems, 1,
};
// clang-format on
const CResources::DialogEntry g_everyClassDialog(910, &kEveryClassDialog);
const CResources::DialogEntry g_tallDialog(912, &kTallDialog);
const CResources::DialogEntry g_unknownClassDialog(911, &kUnknownClassDialog);

std::string Text(HWND hWnd, int nMax = 256) {
    std::string buffer(static_cast<std::size_t>(nMax), 'x');
    const int n = GetWindowTextA(hWnd, buffer.data(), nMax);
    EXPECT_EQ(n, static_cast<int>(std::char_traits<char>::length(buffer.c_str())));
    return buffer.substr(0, static_cast<std::size_t>(n));
}

TEST(Platform, ADialogThatCannotBeBuiltIsNotCreatedAndTheUnknownClassIsNamed) {
    const int windows = static_cast<int>(QApplication::topLevelWidgets().size());
    StderrCapture capture;
    CDialog unknownClass(911);
    CDialog noTemplate(999);
    EXPECT_EQ(-1, unknownClass.DoModal());
    EXPECT_EQ(-1, noTemplate.DoModal());
    EXPECT_EQ(nullptr, unknownClass.m_hWnd);
    EXPECT_EQ(windows, static_cast<int>(QApplication::topLevelWidgets().size()));
    EXPECT_EQ((QStringList{QString(GetProgramName()) +
                           ": dialog \"Unknown class\" not created: its item 1 (id 711) has the "
                           "unknown control class \"combobox\""}),
              capture.Lines(GetProgramName()));
}

TEST(Platform, WindowTextPassesTheAnsiCodePageInEveryClass) {
    CodePageScope page(1252); // a program without a manifest
    CDialog dlg(910);
    DialogDriver ui(dlg);
    ui.Run([&] {
        struct Case {
            int nID; // 0: the dialog itself
            const char* set;
            QString shown; // what the widget shows
            std::string read;
        };
        const QString euro = QString::fromUtf8("\u20AC");
        const Case cases[] = {
            {701, "5 \x80 & more", "5 " + euro + " & more", "5 \x80 & more"},
            {702, "&Go \x80", "&Go " + euro, "&Go \x80"},
            // Statics and group boxes show an access key's text without its marker.
            {703, "&Port && \x80", "Port & " + euro, "Port & \x80"},
            {704, "&Settings", "Settings", "Settings"},
            {0, "Caf\xE9", QString::fromUtf8("Caf\u00E9"), "Caf\xE9"},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.nID);
            const HWND hWnd = c.nID ? GetDlgItem(dlg.m_hWnd, c.nID) : dlg.m_hWnd;
            ASSERT_TRUE(IsWindow(hWnd));
            EXPECT_EQ(TRUE, SetWindowTextA(hWnd, c.set));
            QWidget* w = WidgetOf(hWnd);
            const QString shown = c.nID == 704 ? static_cast<QGroupBox*>(w)->title()
                                  : c.nID == 0 ? w->windowTitle()
                                               : w->property("text").toString();
            EXPECT_EQ(c.shown, shown);
            EXPECT_EQ(static_cast<int>(c.read.size()), GetWindowTextLengthA(hWnd));
            EXPECT_EQ(c.read, Text(hWnd));
            // A short buffer takes what fits, and the terminating zero.
            EXPECT_EQ(c.read.substr(0, 3), Text(hWnd, 4));
            EXPECT_EQ("", Text(hWnd, 1));
        }
    });
}

TEST(Platform, TabStopsAndTheEditSelectionByMessage) {
    CDialog dlg(910);
    DialogDriver ui(dlg);
    ui.Run([&] {
        const HWND hEdit = GetDlgItem(dlg.m_hWnd, 701), hPush = GetDlgItem(dlg.m_hWnd, 702),
                   hList = GetDlgItem(dlg.m_hWnd, 706);
        // Enabled tab stops in template order, round the end both ways; 705 is disabled.
        struct Step {
            HWND from;
            BOOL previous;
            HWND to;
        };
        for (const Step& s :
             {Step{nullptr, FALSE, hEdit}, Step{hEdit, FALSE, hPush}, Step{hPush, FALSE, hList},
              Step{hList, FALSE, hEdit}, Step{hEdit, TRUE, hList}, Step{hList, TRUE, hPush}})
            EXPECT_EQ(s.to, GetNextDlgTabItem(dlg.m_hWnd, s.from, s.previous));

        SetWindowTextA(hEdit, "abcdef");
        auto* edit = static_cast<QLineEdit*>(WidgetOf(hEdit));
        struct Selection {
            WPARAM start;
            LPARAM end;
            QString selected;
        };
        for (const Selection& s :
             {Selection{0, -1, "abcdef"}, Selection{1, 3, "bc"},
              Selection{static_cast<WPARAM>(-1), 0, ""}, Selection{4, 99, "ef"}}) {
            SendMessageA(hEdit, EM_SETSEL, s.start, s.end);
            EXPECT_EQ(s.selected, edit->selectedText()) << s.start << " " << s.end;
        }
    });
}

TEST(Platform, AControlDestroyedOnItsOwnLeavesItsDialogAndAGoneDialogAnswersNothing) {
    CDialog dlg(910);
    DialogDriver ui(dlg);
    HWND hDlg = nullptr;
    ui.Run([&] {
        hDlg = dlg.m_hWnd;
        const HWND hEdit = GetDlgItem(hDlg, 701), hList = GetDlgItem(hDlg, 706);
        ASSERT_EQ(TRUE, DestroyWindow(GetDlgItem(hDlg, 702)));
        EXPECT_EQ(nullptr, GetDlgItem(hDlg, 702));
        EXPECT_EQ(hList, GetNextDlgTabItem(hDlg, hEdit, FALSE));
        EXPECT_EQ(hEdit, GetNextDlgTabItem(hDlg, hList, TRUE));
        EXPECT_NE(nullptr, GetSystemMenu(hDlg, FALSE));
    });
    EXPECT_EQ(nullptr, GetDlgItem(hDlg, 701));
    EXPECT_EQ(nullptr, GetSystemMenu(hDlg, FALSE));
    EXPECT_EQ(FALSE, EndDialog(hDlg, IDOK));
}

TEST(Platform, AnObjectGetsItsWindowsMessagesFirstAndLetsGoWhenTheWindowGoes) {
    PtyDevice dev(1);
    TestDlg dlg;
    DialogDriver ui(dlg);
    HWND hDlg = nullptr, hList = nullptr;
    ui.Run([&] {
        hDlg = dlg.m_hWnd;
        hList = dlg.m_lstResponse.m_hWnd;
        ASSERT_TRUE(IsWindow(hList));
        EXPECT_EQ(&dlg.m_lstResponse, CWnd::FromHandlePermanent(hList));
        EXPECT_EQ(&AfxWndProc, WindowProcOf(hList));

        // Detached, the list keeps its own procedure and still takes its lines.
        EXPECT_EQ(hList, dlg.m_lstResponse.Detach());
        EXPECT_NE(&AfxWndProc, WindowProcOf(hList));
        EXPECT_EQ(0, SendMessageA(hList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("direct")));
        EXPECT_EQ(QStringList{"direct"}, ui.Lines());
        // Data exchange attaches it again.
        dlg.UpdateData(FALSE);
        EXPECT_EQ(&dlg.m_lstResponse, CWnd::FromHandlePermanent(hList));
        EXPECT_EQ(1, dlg.m_lstResponse.AddString("through the object"));
    });
    for (const CWnd* pWnd : std::initializer_list<const CWnd*>{&dlg, &dlg.m_lstResponse,
                                                               &dlg.m_btnOpen, &dlg.m_btnClose})
        EXPECT_EQ(nullptr, pWnd->m_hWnd);
    // Handles of windows that are gone name nothing, and nothing answers them.
    for (HWND hWnd : {hDlg, hList}) {
        EXPECT_FALSE(IsWindow(hWnd));
        EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hWnd));
        EXPECT_EQ(0, SendMessageA(hWnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("late")));
    }
    // The same objects run again on new windows.
    ui.Run([&] {
        EXPECT_TRUE(IsWindow(dlg.m_lstResponse.m_hWnd));
        EXPECT_NE(hList, dlg.m_lstResponse.m_hWnd);
        EXPECT_TRUE(ui.Lines().isEmpty());
    });
}

TEST(Platform, AScreenReaderFindsFieldsAndListsNamedByTheTextOnTheirLeft) {
    TestDlg dlg;
    DialogDriver ui(dlg);
    ui.Run([&] {
        struct Case {
            int nID;
            QString name;
            QAccessible::Role role;
        };
        // The labels come after their controls in the template: the geometry pairs them. The
        // command field's label is the Send button's text: the dialog names it for what it
        // holds.
        const Case cases[] = {
            {IDC_COMMAND, "Command", QAccessible::EditableText},
            {IDC_PORT, "Port", QAccessible::EditableText},
            {IDC_RESPONSE_LIST, "Response", QAccessible::List},
            {IDC_OPEN_PORT, "Open Port", QAccessible::Button},
            {IDC_SEND, "Send", QAccessible::Button},
            {IDC_CLOSE_PORT, "Close Port", QAccessible::Button},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.nID);
            QAccessibleInterface* control =
                QAccessible::queryAccessibleInterface(ui.Control(c.nID));
            ASSERT_NE(nullptr, control);
            EXPECT_EQ(c.name, control->text(QAccessible::Name));
            EXPECT_EQ(c.role, control->role());
        }
        // The label says whom it labels.
        const auto relations = QAccessible::queryAccessibleInterface(ui.Control(IDC_PORT))
                                   ->relations(QAccessible::Label);
        ASSERT_EQ(1, relations.size());
        EXPECT_EQ(QString("Port"), relations.first().first->text(QAccessible::Name));

        // The dialog's controls in template order: those that take the focus in tab order.
        QAccessibleInterface* dialog = QAccessible::queryAccessibleInterface(ui.Window());
        QList<QObject*> focusable;
        for (int i = 0; i < dialog->childCount(); ++i) {
            QAccessibleInterface* child = dialog->child(i);
            EXPECT_EQ(i, dialog->indexOfChild(child));
            if (child->state().focusable)
                focusable << child->object();
        }
        EXPECT_EQ((QList<QObject*>{ui.Control(IDC_OPEN_PORT), ui.Control(IDC_COMMAND),
                                   ui.Control(IDC_SEND), ui.Control(IDC_CLEAR),
                                   ui.Control(IDC_RESPONSE_LIST), ui.Control(IDC_PORT),
                                   ui.Control(IDC_CLOSE_PORT)}),
                  focusable);
    });

    // A text on another row, or to the right, names nothing.
    CDialog every(910);
    DialogDriver ui2(every);
    ui2.Run([&] {
        EXPECT_EQ(QString(),
                  QAccessible::queryAccessibleInterface(ui2.Control(701))->text(QAccessible::Name));
    });
}

TEST(Platform, ADialogIsCentredWithItsFrameOnTheScreenAndItsIconHasEverySize) {
    TestDlg dlg;
    DialogDriver ui(dlg);
    ui.Run([&] {
        QWidget* window = ui.Window();
        const QRect screen = window->screen()->availableGeometry();
        // Centred with the frame the style would give it (a title bar's height may differ).
        EXPECT_NEAR(screen.center().x(), window->frameGeometry().center().x(), 8);
        EXPECT_NEAR(screen.center().y(), window->frameGeometry().center().y(), 24);
        // Sharp at any scale: drawn for every size a desktop asks for, not scaled up from 32.
        const QList<QSize> sizes = window->windowIcon().availableSizes();
        for (int size : {16, 32, 48, 64, 128})
            EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
    });
    // Taller than the screen: the top, where the title bar goes, stays on it.
    CDialog tall(912);
    DialogDriver ui2(tall);
    ui2.Run([&] {
        QWidget* window = ui2.Window();
        const QRect screen = window->screen()->availableGeometry();
        ASSERT_GT(window->height(), screen.height());
        EXPECT_EQ(screen.top(), window->frameGeometry().top());
    });
}

// The title bar's buttons are the template's boxes: Close with the window menu, minimize and
// maximize only with their boxes. On Wayland, whose decoration shows them all whatever the
// flags, a dialog without them draws a title bar of its own.
TEST(Platform, TheTitleBarHasTheButtonsOfTheTemplatesBoxes) {
    using F = Qt::WindowType;
    const DWORD dialog = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    const struct {
        DWORD style;
        Qt::WindowFlags present, absent;
        bool ownOnWayland;
    } cases[] = {
        {dialog, F::WindowCloseButtonHint | F::WindowSystemMenuHint | F::WindowTitleHint,
         F::WindowMinimizeButtonHint | F::WindowMaximizeButtonHint, true},
        {dialog | WS_MINIMIZEBOX, F::WindowCloseButtonHint | F::WindowMinimizeButtonHint,
         F::WindowMaximizeButtonHint, false},
        {dialog | WS_MINIMIZEBOX | WS_MAXIMIZEBOX,
         F::WindowCloseButtonHint | F::WindowMinimizeButtonHint | F::WindowMaximizeButtonHint,
         {},
         false},
        {WS_POPUP | WS_CAPTION | DS_SETFONT, F::WindowTitleHint,
         F::WindowCloseButtonHint | F::WindowMinimizeButtonHint | F::WindowMaximizeButtonHint,
         true},
        {WS_POPUP | DS_SETFONT, {}, F::WindowTitleHint | F::WindowCloseButtonHint, false},
        // The program's own: the main dialog and the About box.
        {CResources::FindDialog(IDD_SERIALDEMO_DIALOG)->style,
         F::WindowCloseButtonHint | F::WindowSystemMenuHint,
         F::WindowMinimizeButtonHint | F::WindowMaximizeButtonHint, true},
        {CResources::FindDialog(IDD_ABOUTBOX)->style,
         F::WindowCloseButtonHint | F::WindowSystemMenuHint,
         F::WindowMinimizeButtonHint | F::WindowMaximizeButtonHint, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.style);
        DialogTemplate tmpl = kEveryClassDialog;
        tmpl.style = c.style;
        const DialogWindow window(tmpl, nullptr);
        EXPECT_EQ(c.present, window.windowFlags() & c.present);
        EXPECT_EQ(Qt::WindowFlags(), window.windowFlags() & c.absent);
        EXPECT_EQ(c.ownOnWayland, TitleBar::Wanted(c.style, "wayland"));
        EXPECT_FALSE(TitleBar::Wanted(c.style, "xcb"));
        EXPECT_EQ(0, window.ClientTop()); // offscreen: no title bar of its own
    }
}

} // namespace
