// The dialogs as a person with a mouse meets them: clicks addressed to the window at the
// centre of each template item, so that Qt's own hit-testing decides who gets them.

#include "dialog/AboutDlg.h"
#include "dialog/resource.h"
#include "framework/win32/DialogWindow.h"
#include "framework/win32/Handles.h"
#include "framework/win32/controls/GroupBoxControl.h"
#include "framework/win32/controls/ListBoxControl.h"
#include "framework/win32/Resources.h"
#include "tests/DialogDriver.h"
#include "testsupport/PtyDevice.h"
#include "tests/TestDlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <vector>

#include <sys/resource.h>

namespace {

// Template 102's items by position in the template.
enum MainItem {
    kOpenPort,
    kCommand,
    kSendLabel,
    kResponseLabel,
    kSend,
    kClear,
    kList,
    kPort,
    kPortLabel,
    kClosePort,
    kGroupBox,
};

QMenu* OpenPopup() {
    DialogDriver::Pump(30);
    return dynamic_cast<QMenu*>(QApplication::activePopupWidget());
}

// The window menu is the dialog's own QMenu; a field's menu is another one.
QMenu* WindowMenu(const DialogDriver& ui) {
    return GetSystemMenu(HandleOf(ui.Window()), FALSE);
}

void ClosePopups() {
    while (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
}

class Pointer : public ::testing::Test {
protected:
    PtyDevice dev{2};
    TestDlg dlg;
    DialogDriver ui{dlg};

    bool ShowsOpen() const { return !ui.Enabled(IDC_OPEN_PORT) && ui.Enabled(IDC_CLOSE_PORT); }
};

TEST_F(Pointer, EveryControlOfTheMainDialogAnswersAClickAtItsTemplateCentre) {
    dev.StartResponder([](const std::string& cmd) { return "got " + cmd; });
    ui.Run([&] {
        // The port field takes the focus and what is typed.
        ui.ClickAt(ui.ItemCentre(kPort));
        EXPECT_EQ(ui.Control(IDC_PORT), QApplication::focusWidget());
        ui.Key(Qt::Key_End);
        ui.Key(Qt::Key_Backspace);
        ui.Type("2");
        EXPECT_EQ(QString("2"), ui.Text(IDC_PORT));

        ui.ClickAt(ui.ItemCentre(kOpenPort));
        EXPECT_TRUE(ShowsOpen());

        ui.ClickAt(ui.ItemCentre(kCommand));
        EXPECT_EQ(ui.Control(IDC_COMMAND), QApplication::focusWidget());
        ui.Type("PING");
        EXPECT_EQ(QString("PING"), ui.Text(IDC_COMMAND));

        ui.ClickAt(ui.ItemCentre(kSend));
        EXPECT_EQ(QStringList{"got PING"}, ui.Lines());

        ui.ClickAt(ui.ItemCentre(kList));
        EXPECT_EQ(ui.Control(IDC_RESPONSE_LIST), QApplication::focusWidget());

        ui.ClickAt(ui.ItemCentre(kClosePort));
        EXPECT_FALSE(ShowsOpen());
        EXPECT_TRUE(dev.WaitHangUp(1000));

        ui.ClickAt(ui.ItemCentre(kClear));
        EXPECT_TRUE(ui.Lines().isEmpty());

        // Static texts and the group box let the click through to the dialog's background:
        // no control takes the focus, and a right click there opens the window menu.
        ui.Control(IDC_PORT)->setFocus();
        for (int item : {kSendLabel, kResponseLabel, kPortLabel, kGroupBox}) {
            SCOPED_TRACE(item);
            ui.ClickAt(ui.ItemCentre(item));
            EXPECT_EQ(ui.Control(IDC_PORT), QApplication::focusWidget());
            ui.ClickAt(ui.ItemCentre(item), Qt::RightButton);
            EXPECT_EQ(WindowMenu(ui), OpenPopup());
            ClosePopups();
        }
    });
}

TEST_F(Pointer, ARightClickOnAControlIsThatControlsOwn) {
    ui.Run([&] {
        // Buttons (enabled or not) have no menu: nothing opens.
        for (int item : {kOpenPort, kSend, kClear, kClosePort}) {
            SCOPED_TRACE(item);
            ui.ClickAt(ui.ItemCentre(item), Qt::RightButton);
            EXPECT_EQ(nullptr, OpenPopup());
            ClosePopups();
        }
        // A field opens its own editing menu, the list its own.
        for (int item : {kCommand, kPort, kList}) {
            SCOPED_TRACE(item);
            ui.ClickAt(ui.ItemCentre(item), Qt::RightButton);
            QMenu* menu = OpenPopup();
            ASSERT_NE(nullptr, menu);
            EXPECT_NE(WindowMenu(ui), menu);
            ClosePopups();
        }
    });
}

TEST_F(Pointer, MenuKeyAndShiftF10OpenTheWindowMenuExceptInAFieldOrTheList) {
    ui.Run([&] {
        struct Case {
            int nID;
            int key;
            Qt::KeyboardModifiers modifiers;
            bool windowMenu;
        };
        const Case cases[] = {
            {IDC_OPEN_PORT, Qt::Key_Menu, Qt::NoModifier, true},
            {IDC_SEND, Qt::Key_F10, Qt::ShiftModifier, true},
            {IDC_RESPONSE_LIST, Qt::Key_Menu, Qt::NoModifier, false},
            {IDC_COMMAND, Qt::Key_Menu, Qt::NoModifier, false},
            {IDC_PORT, Qt::Key_F10, Qt::ShiftModifier, false},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.nID);
            ui.Control(c.nID)->setFocus();
            ui.Key(c.key, c.modifiers);
            QMenu* menu = OpenPopup();
            ASSERT_NE(nullptr, menu);
            EXPECT_EQ(c.windowMenu, menu == WindowMenu(ui));
            ClosePopups();
        }
        // F10 alone is nothing of the dialog's.
        ui.Control(IDC_SEND)->setFocus();
        ui.Key(Qt::Key_F10);
        EXPECT_EQ(nullptr, OpenPopup());
    });
}

// The entries of a menu, separators left out.
QStringList Texts(const QMenu* menu) {
    QStringList out;
    for (const QAction* a : menu->actions())
        if (!a->isSeparator())
            out << a->text();
    return out;
}

// Chooses the list menu's last entry and answers the file dialog with this path.
void SaveThroughMenu(DialogDriver& ui, const QString& path) {
    ui.Control(IDC_RESPONSE_LIST)->setFocus();
    ui.Key(Qt::Key_Menu);
    QMenu* menu = OpenPopup();
    ASSERT_NE(nullptr, menu);
    QTimer::singleShot(100, [path] {
        auto* files = dynamic_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(nullptr, files);
        // Typed into its name field, as a person does.
        auto* name = files->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(nullptr, name);
        name->setText(path);
        static_cast<QDialog*>(files)->accept(); // as its Save button does
    });
    menu->actions().last()->trigger();
    ClosePopups();
    DialogDriver::Pump(300);
}

TEST_F(Pointer, CtrlCAndTheListsMenuCopyAndSaveTheReplies) {
    dev.StartResponder([](const std::string& cmd) {
        return cmd == "EURO\r" ? std::string("5 \x80\r") : "got " + cmd;
    });
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString saved = folder.filePath("replies.txt");
    const QString table = folder.filePath("replies.tsv");
    const QString tooBig = folder.filePath("too-big.txt");
    ui.Run([&] {
        ui.SetText(IDC_PORT, "2");
        ui.Click(IDC_OPEN_PORT);
        for (const char* cmd : {"A", "EURO", "B"}) {
            ui.SetText(IDC_COMMAND, cmd);
            ui.Click(IDC_SEND);
        }
        ASSERT_EQ(3, ui.Lines().size());
        auto* list = dynamic_cast<ListBoxControl*>(ui.Control(IDC_RESPONSE_LIST));
        ASSERT_NE(nullptr, list);

        // A click selects the second reply, Ctrl+C copies it.
        const QRect second = list->visualRect(list->model()->index(1, 0));
        ui.ClickAt(list->viewport()->mapTo(ui.Window(), second.center()));
        ui.Key(Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QString::fromUtf8("5 \u20AC"), QGuiApplication::clipboard()->text());

        // The right click's menu copies every reply.
        ui.ClickAt(list->viewport()->mapTo(ui.Window(), second.center()), Qt::RightButton);
        QMenu* menu = OpenPopup();
        ASSERT_NE(nullptr, menu);
        EXPECT_EQ(QStringList({"&Copy", "Copy as &Hex", "Copy &All", "&Save Responses As..."}),
                  Texts(menu));
        // The second reply's bytes as they came, its carriage return too.
        menu->actions().at(1)->trigger();
        ClosePopups();
        DialogDriver::Pump(30);
        EXPECT_EQ(QString("35 20 80 0D"), QGuiApplication::clipboard()->text());

        ui.ClickAt(list->viewport()->mapTo(ui.Window(), second.center()), Qt::RightButton);
        menu = OpenPopup();
        ASSERT_NE(nullptr, menu);
        menu->actions().at(2)->trigger();
        ClosePopups();
        DialogDriver::Pump(30);
        EXPECT_EQ(QString::fromUtf8("got A\n5 \u20AC\ngot B"),
                  QGuiApplication::clipboard()->text());

        // Saved: one reply a line, in UTF-8; by the name ".tsv", with each one's time and
        // command.
        SaveThroughMenu(ui, saved);
        SaveThroughMenu(ui, table);
        EXPECT_TRUE(ui.TakeMessages().isEmpty());

        // A disk that fills up (here: a file size limit) leaves no file, half-written or
        // temporary, and a box says why.
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit small{8, old.rlim_max};
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        SaveThroughMenu(ui, tooBig);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_EQ(
            QStringList{QString(GetProgramName()) + ": Cannot save " + tooBig + ": File too large"},
            ui.TakeMessages());
    });
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QByteArray("got A\n5 \xE2\x82\xAC\ngot B\n"), file.readAll());
    QFile tsv(table);
    ASSERT_TRUE(tsv.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromUtf8(tsv.readAll()).split('\n');
    ASSERT_EQ(5, rows.size());
    EXPECT_EQ(QString("time\tcommand\treply"), rows[0]);
    const QString replies[] = {"A\tgot A", QString::fromUtf8("EURO\t5 \u20AC"), "B\tgot B"};
    for (int i = 0; i < 3; ++i) {
        const QString time = rows[i + 1].section('\t', 0, 0);
        EXPECT_TRUE(QDateTime::fromString(time, "yyyy-MM-dd hh:mm:ss.zzz").isValid())
            << time.toStdString();
        EXPECT_EQ(replies[i], rows[i + 1].section('\t', 1)) << i;
    }
    EXPECT_EQ(QString(), rows[4]);
    EXPECT_EQ(QStringList({"replies.tsv", "replies.txt"}),
              QDir(folder.path()).entryList(QDir::Files));
}

// A template whose controls overlap: the first item must lie on top, whatever comes after.
// clang-format off
const DialogTemplate::Item kOverlapItems[] = {
    {501, "button", "First", 10, 10, 40, 14, BS_PUSHBUTTON | WS_TABSTOP, 0, 0, 0},
    {502, "button", "Second", 30, 10, 40, 14, BS_PUSHBUTTON | WS_TABSTOP, 0, 0, 0},
    {503, "static", "Notifying text", 5, 30, 60, 10, SS_LEFT | SS_NOTIFY, 0, 0, 0},
    {-1, "static", "Plain text over the third button", 60, 30, 60, 10, SS_LEFT, 0, 0, 0},
    {504, "button", "Third", 70, 28, 40, 14, BS_PUSHBUTTON | WS_TABSTOP, 0, 0, 0},
};
const DialogTemplate kOverlapDialog = {
    false, "Overlap", 0, 0, 130, 50, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT, 0, 0,
    "MS Sans Serif", 8, 400, false, 0,
    kOverlapItems, static_cast<int>(sizeof kOverlapItems / sizeof kOverlapItems[0]),
};
// clang-format on
const CResources::DialogEntry g_overlapDialog(900, &kOverlapDialog);

TEST(Stacking, TheFirstTemplateItemLiesOnTopAndPlainStaticsLetTheMouseThrough) {
    CDialog dlg(900);
    DialogDriver ui(dlg);
    std::vector<int> clicked;
    ui.Run([&] {
        for (int nID : {501, 502, 504})
            QObject::connect(dynamic_cast<QPushButton*>(ui.Control(nID)), &QPushButton::clicked,
                             [&clicked, nID] { clicked.push_back(nID); });
        ui.ClickAt(ui.ItemCentre(0));
        ui.ClickAt(ui.ItemCentre(1));
        // Where the first two overlap, the first gets it.
        const auto* window = dynamic_cast<DialogWindow*>(ui.Window());
        ui.ClickAt(QPoint(window->UnitsToPixelsX(40), window->UnitsToPixelsY(17)));
        // The plain static lies above the third button and lets the click through to it.
        ui.ClickAt(QPoint(window->UnitsToPixelsX(75), window->UnitsToPixelsY(35)));
        EXPECT_EQ(ui.Control(504), window->childAt(ui.ItemCentre(3)));
        // A notifying static takes its clicks: no window menu from a right click on it.
        ui.ClickAt(ui.ItemCentre(2), Qt::RightButton);
        EXPECT_EQ(nullptr, OpenPopup());
        ClosePopups();
    });
    EXPECT_EQ((std::vector<int>{501, 502, 501, 504}), clicked);
}

TEST(AboutPointer, EveryItemOfTheAboutBoxAnswersAClickAtItsTemplateCentre) {
    CAboutDlg about;
    DialogDriver ui(about);
    const INT_PTR result = ui.Run([&] {
        auto* ok = dynamic_cast<QPushButton*>(ui.Control(IDOK));
        ASSERT_NE(nullptr, ok);
        // The icon and the two texts let the mouse through to the background.
        for (int item : {0, 1, 2}) {
            SCOPED_TRACE(item);
            ui.ClickAt(ui.ItemCentre(item), Qt::RightButton);
            EXPECT_EQ(WindowMenu(ui), OpenPopup());
            ClosePopups();
        }
        ui.ClickAt(ui.ItemCentre(3));
    });
    EXPECT_EQ(IDOK, result);
}

TEST(AboutPointer, OkIsDrawnAsTheDefaultWhileEnterStaysTheDialogs) {
    TestDlg main;
    DialogDriver mainUi(main);
    mainUi.Run([&] {
        // No template default there: only the focused button is drawn as one.
        for (auto* button : mainUi.Window()->findChildren<QPushButton*>())
            EXPECT_EQ(button->hasFocus(), button->isDefault()) << button->text().toStdString();
    });

    CAboutDlg about;
    DialogDriver ui(about);
    bool wasDefault = false;
    const INT_PTR result = ui.Run([&] {
        auto* ok = dynamic_cast<QPushButton*>(ui.Control(IDOK));
        ASSERT_NE(nullptr, ok);
        wasDefault = ok->isDefault();
        EXPECT_EQ(ok, QApplication::focusWidget());
        ui.Key(Qt::Key_Return);
    });
    EXPECT_TRUE(wasDefault);
    EXPECT_EQ(IDOK, result);
}

// A pixel clearly darker than the dialog's background: the frame's shadow line or text.
bool Dark(const QImage& image, int x, int y, QRgb background) {
    return qGray(image.pixel(x, y)) + 24 < qGray(background);
}

TEST(GroupBoxLook, TheFrameLineRunsThroughTheTitleAndClearOfTheButtons) {
    TestDlg dlg;
    DialogDriver ui(dlg);
    ui.Run([&] {
        QWidget* window = ui.Window();
        const QImage image = window->grab().toImage();
        const QRgb background = window->palette().window().color().rgb();
        const auto* dialog = dynamic_cast<DialogWindow*>(window);
        ASSERT_NE(nullptr, dialog);
        auto* box = dynamic_cast<GroupBoxControl*>(dialog->Controls().at(kGroupBox));
        ASSERT_NE(nullptr, box);
        const QRect frame = box->geometry();
        const QRect title = box->TitleRect().translated(frame.topLeft());

        // The top line, found just inside the frame's left edge, left of the title.
        int line = -1;
        for (int y = frame.top(); y < frame.bottom() && line < 0; ++y)
            if (Dark(image, frame.left() + 2, y, background))
                line = y;
        ASSERT_GE(line, 0);
        // It passes through the title's middle third...
        EXPECT_GE(line, title.top() + title.height() / 3);
        EXPECT_LE(line, title.bottom() - title.height() / 3);
        // ...runs on after it...
        for (int x = title.right() + 4; x < frame.right() - 2; ++x)
            ASSERT_TRUE(Dark(image, x, line, background)) << x;
        // ...and the title breaks it: background just before and just after the title, and
        // a gap of background inside it (the space between the words).
        EXPECT_EQ(background, image.pixel(title.left() - 1, line));
        EXPECT_EQ(background, image.pixel(title.right() + 2, line));
        int run = 0, longest = 0;
        for (int x = title.left(); x <= title.right(); ++x) {
            run = image.pixel(x, line) == background ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        EXPECT_GE(longest, 2);

        // Both buttons lie wholly below the line, with a gap of background above them.
        for (int nID : {IDC_OPEN_PORT, IDC_CLOSE_PORT}) {
            const QRect button = ui.Control(nID)->geometry();
            EXPECT_GT(button.top(), line + 2) << nID;
            // A column of the button clear of the title's letters.
            const int x = button.right() - 3;
            ASSERT_GT(x, title.right()) << nID;
            for (int y = line + 2; y < button.top(); ++y)
                EXPECT_EQ(background, image.pixel(x, y)) << nID << " " << y;
        }
        // No shaded panel: inside the frame, away from any control, is the background.
        EXPECT_EQ(background, image.pixel(frame.left() + 6, frame.bottom() - 6));
        EXPECT_EQ(background, image.pixel(frame.left() + 6, line + 6));
    });
}

TEST(ResponseListLook, ALongLineIsCutAtTheEdgeWithoutAnEllipsis) {
    PtyDevice dev(1);
    dev.StartResponder([](const std::string&) { return std::string(200, 'H') + "\r"; });
    TestDlg dlg;
    DialogDriver ui(dlg);
    ui.Run([&] {
        ui.Click(IDC_OPEN_PORT);
        ui.Click(IDC_SEND);
        auto* list = dynamic_cast<ListBoxControl*>(ui.Control(IDC_RESPONSE_LIST));
        ASSERT_NE(nullptr, list);
        ASSERT_EQ(1, list->Count());
        QWidget* viewport = list->viewport();
        const QImage image = viewport->grab().toImage();
        const QRect row = list->visualRect(list->model()->index(0, 0));
        const QRgb base = image.pixel(viewport->width() / 2, row.bottom() + 8);
        // The letters' stems reach the last few columns at mid-height; an ellipsis would
        // leave only dots on the baseline and blank space there.
        const int y = row.center().y();
        int stems = 0;
        for (int x = viewport->width() - 8; x < viewport->width(); ++x)
            stems += qGray(image.pixel(x, y)) + 48 < qGray(base);
        EXPECT_GT(stems, 0);
    });
}

} // namespace
