#include "dialog/SerialDemoDlg.h"
#include "framework/win32/BalloonTip.h"
#include "dialog/resource.h"
#include "framework/win32/DialogWindow.h"
#include "framework/win32/Handles.h"
#include "framework/win32/Resources.h"
#include "framework/win32/controls/ListBoxControl.h"
#include "framework/afx/WinApp.h"
#include "tests/DialogDriver.h"
#include "tests/PortTesting.h"
#include "testsupport/PtyDevice.h"
#include "tests/StderrCapture.h"
#include "tests/TestDlg.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QHelpEvent>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QToolTip>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The tooltip label Qt shows now, or null.
const QWidget* ShownToolTip() {
    for (const QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->inherits("QTipLabel"))
            return w;
    }
    return nullptr;
}

class MainDialog : public ::testing::Test {
protected:
    PtyDevice dev{2};
    TestDlg dlg;
    DialogDriver ui{dlg};

    void Open(int nPort) {
        ui.SetText(IDC_PORT, QString::number(nPort));
        ui.Click(IDC_OPEN_PORT);
    }
    // "Open Port" disabled and "Close Port" enabled: what a good open shows.
    bool ShowsOpen() const { return !ui.Enabled(IDC_OPEN_PORT) && ui.Enabled(IDC_CLOSE_PORT); }
    bool ShowsClosed() const { return ui.Enabled(IDC_OPEN_PORT) && !ui.Enabled(IDC_CLOSE_PORT); }
    // Where a control is on the screen.
    QRect ScreenRect(int nID) const {
        const QWidget* control = ui.Control(nID);
        return QRect(control->mapToGlobal(QPoint(0, 0)), control->size());
    }
};

TEST(MainDialogTemplate, MatchesTheLayoutTable) {
    const DialogTemplate* t = CResources::FindDialog(IDD_SERIALDEMO_DIALOG);
    ASSERT_NE(nullptr, t);
    EXPECT_TRUE(t->extended);
    EXPECT_STREQ("Morvik Serial Demo", t->caption);
    EXPECT_EQ(227, t->cx);
    EXPECT_EQ(199, t->cy);
    EXPECT_EQ(0, t->x);
    EXPECT_EQ(0, t->y);
    EXPECT_EQ(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
              t->style);
    EXPECT_EQ(WS_EX_APPWINDOW, t->exStyle);
    EXPECT_STREQ("MS Sans Serif", t->faceName);
    EXPECT_EQ(8, t->pointSize);
    EXPECT_EQ(400, t->weight);
    EXPECT_FALSE(t->italic);
    EXPECT_EQ(1, t->charSet); // DEFAULT_CHARSET

    struct Row {
        int id;
        const char* cls;
        const char* text;
        short x, y, cx, cy;
        DWORD style;
    };
    const DWORD edit = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
    const Row rows[] = {
        {1000, "button", "Open Port", 35, 15, 45, 15, WS_TABSTOP},
        {1001, "edit", nullptr, 45, 60, 105, 15, edit},
        {-1, "static", "Send", 5, 60, 30, 10, WS_GROUP},
        {-1, "static", "Response", 5, 95, 35, 10, WS_GROUP},
        {1003, "button", "Send", 170, 60, 50, 15, WS_TABSTOP},
        {1004, "button", "Clear", 170, 95, 50, 15, WS_TABSTOP},
        {1005, "listbox", nullptr, 45, 95, 105, 95,
         LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP},
        {1006, "edit", nullptr, 70, 35, 40, 15, edit},
        {-1, "static", "Port", 45, 40, 15, 10, WS_GROUP},
        {1007, "button", "Close Port", 85, 15, 45, 15, WS_TABSTOP | WS_DISABLED},
        {-1, "button", "Port Settings", 20, 5, 130, 50, BS_GROUPBOX},
    };
    ASSERT_EQ(static_cast<int>(std::size(rows)), t->itemCount);
    for (int i = 0; i < t->itemCount; ++i) {
        const DialogTemplate::Item& item = t->items[i];
        const Row& row = rows[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(row.id, item.id);
        EXPECT_STREQ(row.cls, item.cls);
        EXPECT_EQ(std::string(row.text ? row.text : ""), std::string(item.text ? item.text : ""));
        EXPECT_EQ(row.x, item.x);
        EXPECT_EQ(row.y, item.y);
        EXPECT_EQ(row.cx, item.cx);
        EXPECT_EQ(row.cy, item.cy);
        EXPECT_EQ(row.style, item.style);
        EXPECT_EQ(0u, item.exStyle);
        EXPECT_EQ(0u, item.helpId);
    }
}

TEST_F(MainDialog, StartsWithPortOneAndTheFocusOnOpenPort) {
    ui.Run([&] {
        QWidget* window = ui.Window();
        EXPECT_EQ(QString("Morvik Serial Demo"), window->windowTitle());
        EXPECT_EQ(QString("1"), ui.Text(IDC_PORT));
        EXPECT_EQ(QString(""), ui.Text(IDC_COMMAND));
        EXPECT_TRUE(ShowsClosed());
        EXPECT_TRUE(ui.Lines().isEmpty());
        EXPECT_EQ(ui.Control(IDC_OPEN_PORT), QApplication::focusWidget());
        EXPECT_FALSE(window->windowIcon().isNull());
        EXPECT_EQ(1, dlg.m_nPort);

        // Controls sit where the template puts them, in dialog units of the template font.
        const auto* units = dynamic_cast<DialogWindow*>(window);
        ASSERT_NE(nullptr, units);
        EXPECT_EQ(QSize(units->UnitsToPixelsX(227), units->UnitsToPixelsY(199)), window->size());
        const DialogTemplate* t = CResources::FindDialog(IDD_SERIALDEMO_DIALOG);
        for (int i = 0; i < t->itemCount; ++i) {
            const DialogTemplate::Item& item = t->items[i];
            if (item.id < 0)
                continue;
            EXPECT_EQ(QRect(units->UnitsToPixelsX(item.x), units->UnitsToPixelsY(item.y),
                            units->UnitsToPixelsX(item.cx), units->UnitsToPixelsY(item.cy)),
                      ui.Control(item.id)->geometry())
                << item.id;
        }
        EXPECT_GT(ui.Control(IDC_SEND)->x(), ui.Control(IDC_RESPONSE_LIST)->geometry().right());

        // Tab order: Open Port, command, Send, Clear, list, port (Close Port is disabled).
        const int order[] = {IDC_COMMAND,       IDC_SEND, IDC_CLEAR,
                             IDC_RESPONSE_LIST, IDC_PORT, IDC_OPEN_PORT};
        for (int id : order) {
            ui.Key(Qt::Key_Tab);
            EXPECT_EQ(ui.Control(id), QApplication::focusWidget()) << id;
        }
    });
    EXPECT_EQ(reinterpret_cast<LRESULT>(dlg.m_hIcon), dlg.SendMessage(WM_QUERYDRAGICON));
}

TEST_F(MainDialog, OpenAndCloseShowInTheButtons) {
    dev.Link(3, "/nonexistent/serial-device");
    ui.Run([&] {
        Open(2);
        EXPECT_TRUE(ShowsOpen());
        ui.Click(IDC_CLOSE_PORT);
        EXPECT_TRUE(ShowsClosed());
        EXPECT_TRUE(dev.WaitHangUp(1000));

        Open(3); // no such device
        EXPECT_TRUE(ShowsClosed());
        Open(6); // passes the field's check, refused by the port
        EXPECT_TRUE(ShowsClosed());
        EXPECT_TRUE(ui.TakeMessages().isEmpty());

        Open(2);
        EXPECT_TRUE(ShowsOpen());
        // The field's check fails for 9, the handler goes on with 9 and the open is refused;
        // the port held before is released first.
        ui.SetText(IDC_PORT, "9");
        dlg.OnOpenPort();
        EXPECT_EQ(QStringList{QString(AfxGetAppName()) + ": Please enter a number from 1 to 8."},
                  ui.TakeMessages());
        EXPECT_EQ(9, dlg.m_nPort);
        EXPECT_TRUE(ShowsClosed());
        EXPECT_EQ(ui.Control(IDC_PORT), ui.Window()->focusWidget());
        EXPECT_TRUE(dev.WaitHangUp(1000));
    });
}

TEST_F(MainDialog, AFailedSaveKeepsWhatTheEarlierStepsStored) {
    ui.Run([&] {
        ui.SetText(IDC_COMMAND, "FIRST");
        ui.SetText(IDC_PORT, "x1");
        EXPECT_EQ(FALSE, dlg.UpdateData(TRUE));
        EXPECT_EQ(QStringList{QString(AfxGetAppName()) + ": Please enter a whole number."},
                  ui.TakeMessages());
        EXPECT_EQ(CString("FIRST"), dlg.m_strCommand);
        EXPECT_EQ(1, dlg.m_nPort); // not a number: the member keeps its value

        ui.SetText(IDC_COMMAND, "SECOND");
        ui.SetText(IDC_PORT, " -4 ");
        EXPECT_EQ(FALSE, dlg.UpdateData(TRUE));
        EXPECT_EQ(1, ui.TakeMessages().size());
        EXPECT_EQ(CString("SECOND"), dlg.m_strCommand);
        EXPECT_EQ(-4, dlg.m_nPort);

        ui.SetText(IDC_PORT, "8");
        EXPECT_EQ(TRUE, dlg.UpdateData(TRUE));
        EXPECT_EQ(8, dlg.m_nPort);
    });
}

TEST_F(MainDialog, SendShowsTheTrimmedFirstLineOfTheReply) {
    std::string received;
    dev.StartResponder([&](const std::string& cmd) -> std::string {
        received += cmd;
        if (cmd == "ID?\r")
            return "  MORVIK,SD1 \r\nEXTRA\r";
        if (cmd == "BLANK\r")
            return "   \t\r";
        if (cmd == "CRFIRST\r")
            return "\r\nOK\r\n";
        if (cmd == "\r")
            return "EMPTY\r";
        return std::string("EURO \x80\r");
    });
    QStringList lines;
    ui.Run([&] {
        Open(2);
        ASSERT_TRUE(ShowsOpen());
        ui.SetText(IDC_COMMAND, "ID?");
        ui.Click(IDC_SEND);
        ui.Click(IDC_SEND); // the field keeps its text: the same command again
        EXPECT_EQ(QString("ID?"), ui.Text(IDC_COMMAND));
        for (const char* cmd : {"BLANK", "CRFIRST", "", "X"}) {
            ui.SetText(IDC_COMMAND, cmd);
            ui.Click(IDC_SEND);
        }
        lines = ui.Lines();
    });
    dev.StopResponder();
    EXPECT_EQ(std::string("ID?\rID?\rBLANK\rCRFIRST\r\rX\r"), received);
    const QStringList expected = {"  MORVIK,SD1", "  MORVIK,SD1", "Serial Error",
                                  "Serial Error", "EMPTY",        QString::fromUtf8("EURO \u20AC")};
    EXPECT_EQ(expected, lines);
}

TEST_F(MainDialog, EachLineKeepsTheCommandTheTimeAndTheBytesOfItsReply) {
    dev.StartResponder(
        [](const std::string&) { return std::string("  MORVIK\x00,1 \r\nX\r", 16); });
    const auto now = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    ui.Run([&] {
        auto* list = dynamic_cast<ListBoxControl*>(ui.Control(IDC_RESPONSE_LIST));
        ASSERT_NE(nullptr, list);
        ui.SetText(IDC_COMMAND, "ID?");
        ui.Click(IDC_SEND); // no port: nothing came
        Open(2);
        const long long before = now();
        ui.Click(IDC_SEND);
        const long long after = now();
        ASSERT_EQ(QStringList({"Serial Error", "  MORVIK,1"}), ui.Lines());
        for (int i : {0, 1}) {
            const ListBoxControl::Detail* detail = list->DetailOf(i);
            ASSERT_NE(nullptr, detail) << i;
            EXPECT_EQ(QString("ID?"), detail->command);
        }
        EXPECT_EQ(QByteArray(), list->DetailOf(0)->bytes);
        // Every byte up to the end of the first line, the 0x00 that the text drops too.
        EXPECT_EQ(QByteArray("  MORVIK\x00,1 \r", 13), list->DetailOf(1)->bytes);
        EXPECT_GE(list->DetailOf(1)->timeMs, before);
        EXPECT_LE(list->DetailOf(1)->timeMs, after);
    });
}

// The balloon showing at a control: its text, empty for none or one pointing elsewhere.
QString BalloonAt(const QWidget* control) {
    const BalloonTip* tip = BalloonTip::Current();
    if (!tip)
        return QString();
    const QRect at(control->mapToGlobal(QPoint(0, 0)), control->size());
    return at.adjusted(-2, -2, 2, 2).contains(tip->TailPoint()) ? tip->Text() : QString();
}

TEST_F(MainDialog, RepliesInUtf8OrWindows1252AndACommandTheLineCannotCarryUnderAuto) {
    std::string received;
    dev.StartResponder([&](const std::string& cmd) -> std::string {
        received += cmd;
        if (cmd == "UTF\r")
            return "25.0 \xC2\xB0"
                   "C \xC2\xB5"
                   "A \xCE\xA9\r";
        if (cmd == "CP\r")
            return "25.0 \xB0"
                   "C \x80\r";
        return "got " + cmd;
    });
    ui.Run([&] {
        EXPECT_EQ(CP_UTF8, GetACP()); // the program's text, whatever the line's
        Open(2);
        for (const char* cmd : {"UTF", "CP", "caf\xC3\xA9"}) {
            ui.SetText(IDC_COMMAND, QString::fromUtf8(cmd));
            ui.Click(IDC_SEND);
        }
        const QStringList expected = {QString::fromUtf8("25.0 \u00B0C \u00B5A \u03A9"),
                                      QString::fromUtf8("25.0 \u00B0C \u20AC"),
                                      QString::fromUtf8("got caf\u00E9")};
        ASSERT_EQ(expected, ui.Lines());
        auto* list = dynamic_cast<ListBoxControl*>(ui.Control(IDC_RESPONSE_LIST));
        ASSERT_NE(nullptr, list);
        const QRect first = list->visualRect(list->model()->index(0, 0));
        ui.ClickAt(list->viewport()->mapTo(ui.Window(), first.center()));
        ui.Key(Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(expected[0], QGuiApplication::clipboard()->text());

        // Ω is not in Windows-1252: the command is not sent, nothing is listed, and the
        // balloon at Send says which character and which encoding.
        ui.SetText(IDC_COMMAND, QString::fromUtf8("R=5\u03A9"));
        ui.Click(IDC_SEND);
        const QString why = BalloonAt(ui.Control(IDC_SEND));
        EXPECT_TRUE(why.contains(QString::fromUtf8("U+03A9 \u03A9")) &&
                    why.contains("windows-1252"))
            << why.toStdString();
        EXPECT_EQ(3, ui.Lines().size());
        EXPECT_TRUE(ShowsOpen());
    });
    dev.StopResponder();
    // é went out as the byte E9, and nothing after it.
    EXPECT_EQ("UTF\rCP\rcaf\xE9\r", received);
}

TEST_F(MainDialog, APortsProfileSetsTheEndsTheTimeoutAndTheEncodingOfSend) {
    std::ofstream(dev.PortsFolder() + "/COM2.profile")
        << "command-end = lf\nreply-end = lf\ntimeout = 3000\nencoding = utf-8\n";
    std::string received;
    dev.StartResponder(
        [&](const std::string& cmd) -> std::string {
            received += cmd;
            if (cmd == "SLOW\n") {
                std::this_thread::sleep_for(std::chrono::milliseconds(1500));
                return "1.5 \xCE\xA9\nNEXT\n";
            }
            return std::string("\xFF ") + cmd;
        },
        '\n');
    ui.Run([&] {
        Open(2);
        ASSERT_TRUE(ShowsOpen());
        auto* list = dynamic_cast<ListBoxControl*>(ui.Control(IDC_RESPONSE_LIST));
        ASSERT_NE(nullptr, list);
        // Past the default second of silence, and listed at its LF, not after three seconds.
        ui.SetText(IDC_COMMAND, "SLOW");
        const auto start = Clock::now();
        ui.Click(IDC_SEND);
        EXPECT_LT(MsSince(start), 2500);
        // UTF-8 both ways: Ω goes out as its two bytes; a byte that is not UTF-8 is shown as
        // U+FFFD and kept as it came.
        ui.SetText(IDC_COMMAND, QString::fromUtf8("\u03A9?"));
        ui.Click(IDC_SEND);
        EXPECT_EQ(
            QStringList({QString::fromUtf8("1.5 \u03A9"), QString::fromUtf8("\uFFFD \u03A9?")}),
            ui.Lines());
        ASSERT_NE(nullptr, list->DetailOf(1));
        EXPECT_EQ(QByteArray("\xFF \xCE\xA9?\n"), list->DetailOf(1)->bytes);
        EXPECT_EQ(nullptr, BalloonTip::Current());
    });
    dev.StopResponder();
    EXPECT_EQ("SLOW\n\xCE\xA9?\n", received);
}

TEST_F(MainDialog, AWrongProfileFileOpensNothingAndSaysWhichLineAndWhat) {
    std::ofstream(dev.PortsFolder() + "/COM2.profile") << "# the meter\nparity = marks\n";
    ui.Run([&] {
        Open(2);
        EXPECT_TRUE(ShowsClosed());
        const QString why = BalloonAt(ui.Control(IDC_OPEN_PORT));
        EXPECT_TRUE(
            why.startsWith("cannot open COM2: " + QString::fromStdString(dev.PortsFolder()) +
                           "/COM2.profile, line 2: "))
            << why.toStdString();
    });
}

TEST_F(MainDialog, AVanishedDeviceIsSaidAtSendAndThePortShownClosedForOneClickToReopen) {
    dev.StartResponder([](const std::string& cmd) { return "got " + cmd; });
    StderrCapture capture;
    const std::string gone = "COM2: the device went away: " + dev.SlavePath();
    ui.Run([&] {
        Open(2);
        ui.SetText(IDC_COMMAND, "A");
        ui.Click(IDC_SEND);
        dev.StopResponder();
        dev.HangUp();

        // "Serial Error" as for any reply that did not come, at once; then why, and the port
        // shown closed and let go.
        auto start = Clock::now();
        ui.Click(IDC_SEND);
        EXPECT_LT(MsSince(start), 500);
        EXPECT_EQ(QStringList({"got A", "Serial Error"}), ui.Lines());
        EXPECT_EQ(QString::fromStdString(gone), BalloonAt(ui.Control(IDC_SEND)));
        EXPECT_TRUE(ShowsClosed());
        EXPECT_EQ(INVALID_HANDLE_VALUE, dlg.m_port.m_hPort);

        // Without a port, Send is the Parts' failed exchange: nothing more to say.
        ui.Click(IDC_SEND);
        EXPECT_EQ(3, ui.Lines().size());
        EXPECT_EQ(nullptr, BalloonTip::Current());

        // The device is back (on a new pseudo-terminal): one click opens it again.
        PtyDevice back(2);
        back.StartResponder([](const std::string& cmd) { return "back " + cmd; });
        ui.Click(IDC_OPEN_PORT);
        EXPECT_TRUE(ShowsOpen());
        ui.Click(IDC_SEND);
        EXPECT_EQ(QString("back A"), ui.Lines().last());
        ui.Click(IDC_CLOSE_PORT);
        back.StopResponder();
    });
    EXPECT_EQ(QStringList{QString(AfxGetAppName()) + ": " + QString::fromStdString(gone)},
              capture.Lines("went away"));
}

TEST_F(MainDialog, SerialErrorForSilenceAndForNoPort) {
    ui.Run([&] {
        // No port open: both transfers fail at once.
        auto start = Clock::now();
        ui.Click(IDC_SEND);
        EXPECT_LT(MsSince(start), 300);
        EXPECT_EQ(QStringList{"Serial Error"}, ui.Lines());

        // An open port on a silent device: one second, then the same line.
        Open(2);
        start = Clock::now();
        ui.Click(IDC_SEND);
        EXPECT_GE(MsSince(start), 950);
        EXPECT_EQ(QStringList({"Serial Error", "Serial Error"}), ui.Lines());
        EXPECT_EQ("\r", dev.Read(200));

        ui.Click(IDC_CLEAR);
        EXPECT_TRUE(ui.Lines().isEmpty());
        ui.Click(IDC_CLEAR);
        EXPECT_TRUE(ui.Lines().isEmpty());
        EXPECT_TRUE(ShowsOpen()); // Clear leaves the port alone
    });
}

// The push buttons drawn as the default: the one Enter presses.
QStringList Defaults(const DialogDriver& ui) {
    QStringList out;
    for (auto* button : ui.Window()->findChildren<QPushButton*>())
        if (button->isDefault())
            out << button->text();
    return out;
}

TEST_F(MainDialog, EnterPressesTheButtonForWhereTheFocusIsAndNeverEndsTheDialog) {
    dev.StartResponder([](const std::string& cmd) { return "got " + cmd; });
    const INT_PTR result = ui.Run([&] {
        ui.SetText(IDC_PORT, "2");
        // At the start the focus is on "Open Port": Enter presses it, and the focus moves
        // on from the button it disabled to the command field, where Enter presses "Send".
        EXPECT_EQ(QStringList{"Open Port"}, Defaults(ui));
        ui.Key(Qt::Key_Return);
        ASSERT_TRUE(ShowsOpen());
        EXPECT_EQ(ui.Control(IDC_COMMAND), QApplication::focusWidget());
        EXPECT_EQ(QStringList{"Send"}, Defaults(ui));
        ui.Type("PING");
        ui.Key(Qt::Key_Return);
        ui.Key(Qt::Key_Enter);
        EXPECT_EQ(QStringList({"got PING", "got PING"}), ui.Lines());

        // On the list Enter does nothing, and no button is drawn as the default.
        ui.Control(IDC_RESPONSE_LIST)->setFocus();
        EXPECT_EQ(QStringList{}, Defaults(ui));
        ui.Key(Qt::Key_Return);
        EXPECT_EQ(2, ui.Lines().size());

        // On a button Enter presses that button.
        ui.Control(IDC_CLOSE_PORT)->setFocus();
        ui.Key(Qt::Key_Return);
        EXPECT_TRUE(ShowsClosed());
        ui.Control(IDC_CLEAR)->setFocus();
        ui.Key(Qt::Key_Return);
        EXPECT_TRUE(ui.Lines().isEmpty());

        // In the port field Enter presses "Open Port"; while that is disabled, nothing.
        ui.Control(IDC_PORT)->setFocus();
        EXPECT_EQ(QStringList{"Open Port"}, Defaults(ui));
        ui.Key(Qt::Key_Return);
        EXPECT_TRUE(ShowsOpen());
        ui.Control(IDC_PORT)->setFocus();
        EXPECT_EQ(QStringList{}, Defaults(ui));
        ui.Key(Qt::Key_Return);
        EXPECT_TRUE(ShowsOpen());
        EXPECT_TRUE(ui.TakeMessages().isEmpty());
        EXPECT_TRUE(ui.Window()->isVisible());
    });
    EXPECT_EQ(IDCANCEL, result); // ended by the driver, not by a key
}

TEST_F(MainDialog, EscapeCloseAndAltF4GiveCancel) {
    // Each ends the dialog itself, before the driver would.
    EXPECT_EQ(IDCANCEL, ui.Run([&] {
        ui.Key(Qt::Key_Escape);
        EXPECT_FALSE(ui.Window()->isVisible());
    }));
    TestDlg third;
    DialogDriver ui3(third);
    EXPECT_EQ(IDCANCEL, ui3.Run([&] {
        ui3.Key(Qt::Key_F4, Qt::AltModifier);
        EXPECT_FALSE(ui3.Window()->isVisible());
    }));
    TestDlg second;
    DialogDriver ui2(second);
    EXPECT_EQ(IDCANCEL, ui2.Run([&] {
        ui2.SetText(IDC_PORT, "not checked on Cancel");
        ui2.Window()->close();
    }));
    EXPECT_TRUE(ui2.TakeMessages().isEmpty());
}

TEST(MainDialogLifetime, TheEndOfTheDialogClosesThePort) {
    PtyDevice dev(1);
    {
        TestDlg dlg;
        DialogDriver ui(dlg);
        ui.Run([&] {
            ui.Click(IDC_OPEN_PORT);
            EXPECT_FALSE(ui.Enabled(IDC_OPEN_PORT));
            ui.Key(Qt::Key_Escape);
        });
        // The port belongs to the dialog object, which is still alive.
        EXPECT_NE(INVALID_HANDLE_VALUE, dlg.m_port.m_hPort);
    }
    EXPECT_TRUE(dev.WaitHangUp(1000));
}

TEST(MainDialogPaint, AMinimisedWindowShowsTheIconCentred) {
    TestDlg dlg;
    DialogDriver ui(dlg);
    ui.Run([&] {
        QWidget* window = ui.Window();
        window->setWindowState(Qt::WindowMinimized);
        if (!window->isMinimized())
            GTEST_SKIP() << "this platform cannot minimise";
        // The dialog's own painting, without its (hidden while minimised) controls.
        QImage image(window->size(), QImage::Format_ARGB32);
        window->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
        const QImage icon = dlg.m_hIcon->pixmap(32, 32).toImage();
        const int x = (window->width() - 32 + 1) / 2, y = (window->height() - 32 + 1) / 2;
        // The tile's blue at the icon's centre, the dialog's background at the corner.
        EXPECT_EQ(icon.pixel(16, 16), image.pixel(x + 16, y + 16));
        EXPECT_EQ(window->palette().window().color().rgb(), image.pixel(2, 2));
    });
}

TEST_F(MainDialog, AFailedOpenWritesWhyToStandardError) {
    dev.Link(3, "/nonexistent/serial-device");
    StderrCapture capture;
    ui.Run([&] {
        Open(3);
        Open(6);
        Open(2); // a good open says nothing
        EXPECT_TRUE(ShowsOpen());
    });
    const QString app = QString(AfxGetAppName()) + ": ";
    EXPECT_EQ((QStringList{app + "cannot open COM3: " + QString::fromStdString(dev.PortsFolder()) +
                               "/COM3 -> /nonexistent/serial-device: no such device; fix: "
                               "morvik-ports --assign 3 DEVICE",
                           app + "cannot open COM6: port number outside 1 to 4"}),
              capture.Lines("cannot open"));
}

TEST_F(MainDialog, AFailedOpenShowsWhyInABalloonAtTheButtonAndAsItsTooltipUntilTheNextOpen) {
    dev.Link(3, "/nonexistent/serial-device");
    ui.Run([&] {
        QWidget* button = ui.Control(IDC_OPEN_PORT);
        ui.Control(IDC_COMMAND)->setFocus();
        Open(3);
        const BalloonTip* tip = BalloonTip::Current();
        ASSERT_NE(nullptr, tip);
        const QString why = tip->Text();
        EXPECT_TRUE(why.startsWith("cannot open COM3: ")) << why.toStdString();
        EXPECT_EQ(why, button->toolTip());
        // It points down at the button's upper edge and takes neither the focus nor the window.
        const QRect at = ScreenRect(IDC_OPEN_PORT);
        EXPECT_GE(tip->TailPoint().x(), at.left());
        EXPECT_LE(tip->TailPoint().x(), at.right());
        EXPECT_NEAR(at.top(), tip->TailPoint().y(), 2);
        EXPECT_LT(tip->geometry().bottom(), at.top());
        EXPECT_EQ(ui.Control(IDC_OPEN_PORT), QApplication::focusWidget()); // the click's own
        EXPECT_EQ(ui.Window(), QApplication::activeWindow());
        // The dialog's popup, for a compositor to place; a screen reader hears an alert.
        EXPECT_EQ(ui.Window()->windowHandle(), tip->windowHandle()->transientParent());
        QAccessibleInterface* alert =
            QAccessible::queryAccessibleInterface(const_cast<BalloonTip*>(tip));
        EXPECT_EQ(QAccessible::AlertMessage, alert->role());
        EXPECT_EQ(why, alert->text(QAccessible::Name));

        // A modifier alone leaves it; the next key takes it away, the tooltip stays.
        ui.Key(Qt::Key_Shift);
        EXPECT_NE(nullptr, BalloonTip::Current());
        ui.Key(Qt::Key_Right);
        EXPECT_EQ(nullptr, BalloonTip::Current());
        EXPECT_EQ(why, button->toolTip());

        // The next failure says its own reason; a click anywhere takes it away.
        Open(6);
        ASSERT_NE(nullptr, BalloonTip::Current());
        EXPECT_EQ(QString("cannot open COM6: port number outside 1 to 4"),
                  BalloonTip::Current()->Text());
        ui.Click(IDC_CLEAR);
        EXPECT_EQ(nullptr, BalloonTip::Current());

        // A good open shows nothing and ends the tooltip.
        Open(2);
        ASSERT_TRUE(ShowsOpen());
        EXPECT_EQ(nullptr, BalloonTip::Current());
        EXPECT_EQ(QString(), button->toolTip());
    });
}

TEST_F(MainDialog, TheFirstClickOnThePortFieldWhileTheBalloonShowsGoesToTheField) {
    dev.Link(3, "/nonexistent/serial-device");
    ui.Run([&] {
        Open(3);
        const BalloonTip* tip = BalloonTip::Current();
        ASSERT_NE(nullptr, tip);
        for (int nID : {IDC_PORT, IDC_RESPONSE_LIST, IDC_COMMAND, IDC_SEND, IDC_CLEAR})
            EXPECT_FALSE(tip->geometry().intersects(ScreenRect(nID))) << nID;
        // Where a person clicks on the screen: the field takes the click, so the number typed
        // next is the port the next Open Port opens.
        ui.ClickOnScreen(ui.ScreenCentre(IDC_PORT));
        EXPECT_EQ(nullptr, BalloonTip::Current());
        EXPECT_EQ(ui.Control(IDC_PORT), QApplication::focusWidget());
        ui.Key(Qt::Key_A, Qt::ControlModifier);
        ui.Type("2");
        ui.Key(Qt::Key_Return);
        EXPECT_TRUE(ShowsOpen());
        EXPECT_EQ(2, dlg.m_nPort);
    });
}

TEST_F(MainDialog, EscapeTakesTheBalloonAwayAndLeavesTheDialogWithItsReplies) {
    dev.Link(3, "/nonexistent/serial-device");
    const INT_PTR result = ui.Run([&] {
        ui.Click(IDC_SEND); // no port: "Serial Error" at once
        Open(3);
        ASSERT_NE(nullptr, BalloonTip::Current());
        ui.Key(Qt::Key_Escape);
        EXPECT_EQ(nullptr, BalloonTip::Current());
        EXPECT_TRUE(IsWindowVisible(dlg.m_hWnd));
        EXPECT_EQ(QStringList{"Serial Error"}, ui.Lines());
        // Without a balloon, Escape is Cancel as ever.
        ui.Key(Qt::Key_Escape);
        EXPECT_FALSE(IsWindowVisible(dlg.m_hWnd));
    });
    EXPECT_EQ(IDCANCEL, result);
}

TEST_F(MainDialog, TheBalloonIsWholeOnTheScreenAndPointsAtTheButtonWhereverTheDialogIs) {
    dev.Link(3, "/nonexistent/serial-device");
    ui.Run([&] {
        QWidget* window = ui.Window();
        const QRect screen = window->screen()->availableGeometry();
        const int right = screen.right() + 1 - window->width();
        const int bottom = screen.bottom() + 1 - window->height();
        const int midX = (screen.left() + right) / 2, midY = (screen.top() + bottom) / 2;
        const QPoint places[] = {
            {screen.left(), screen.top()}, {midX, screen.top()}, {right, screen.top()},
            {screen.left(), midY},         {midX, midY},         {right, midY},
            {screen.left(), bottom},       {midX, bottom},       {right, bottom}};
        for (const QPoint& place : places) {
            SCOPED_TRACE(testing::Message() << place.x() << "," << place.y());
            window->move(place);
            Open(3);
            BalloonTip* tip = BalloonTip::Current();
            ASSERT_NE(nullptr, tip);
            const QRect button = ScreenRect(IDC_OPEN_PORT);
            EXPECT_TRUE(screen.contains(tip->geometry()));
            EXPECT_GE(tip->width(), 30 * tip->fontMetrics().averageCharWidth()); // no column
            EXPECT_TRUE(button.adjusted(-2, -2, 2, 2).contains(tip->TailPoint()));
            EXPECT_FALSE(tip->geometry().intersects(button));
            for (int nID : {IDC_PORT, IDC_RESPONSE_LIST})
                EXPECT_FALSE(tip->geometry().intersects(ScreenRect(nID)))
                    << nID << " under the balloon at " << tip->x() << "," << tip->y();
            // Moved by someone else (a compositor flips a popup that would leave the screen),
            // it still points at the button, from where it is now.
            const QRect was = tip->geometry();
            if (was.bottom() < button.top() || was.top() > button.bottom())
                tip->move(was.x(), was.top() < button.top() ? button.bottom() + 1
                                                            : button.top() - was.height());
            else
                tip->move(was.left() < button.left() ? button.right() + 1
                                                     : button.left() - was.width(),
                          was.y());
            EXPECT_TRUE(button.adjusted(-2, -2, 2, 2).contains(tip->TailPoint()));
            ui.Key(Qt::Key_Escape);
        }
    });
}

// Where the platform does not say where windows are (Wayland), the balloon lies within the
// dialog: in the band between the port field's row and the list, its tail up to the button.
TEST_F(MainDialog,
       WithinTheWindowTheBalloonKeepsClearOfThePortFieldAndTheListAndPointsAtTheButton) {
    dev.Link(3, "/nonexistent/serial-device");
    ui.Run([&] {
        Open(3);
        QWidget* button = ui.Control(IDC_OPEN_PORT);
        const QString reason = button->toolTip();
        ASSERT_TRUE(reason.startsWith("cannot open COM3: ")) << reason.toStdString();
        ui.Key(Qt::Key_Escape);
        const QString longest =
            "cannot open COM1: /home/a-rather-long-user-name/.config/MorvikSerialDemo/ports/COM1 "
            "-> /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0: permission "
            "denied; is your user in the dialout group? (sudo adduser $USER dialout, then log in "
            "again)";
        const struct {
            QString text;
            bool whole; // shown whole, else cut with an ellipsis
        } cases[] = {{"cannot open COM6: port number outside 1 to 4", true},
                     {reason, true},
                     {longest + "; " + longest + "; " + longest, false}};
        const QRect dialog(ui.Window()->mapToGlobal(QPoint(0, 0)), ui.Window()->size());
        for (const auto& c : cases) {
            SCOPED_TRACE(c.text.toStdString());
            BalloonTip::Show(button, c.text, BalloonTip::Room::Window);
            BalloonTip* tip = BalloonTip::Current();
            ASSERT_NE(nullptr, tip);
            EXPECT_FALSE(tip->isWindow());
            const QRegion covered = tip->Covered();
            EXPECT_EQ(covered, covered.intersected(dialog));
            // Only the command row and the group's frame lie under it: template items 1, 2, 4
            // and 10; its tail passes between the port field and its label.
            const std::vector<QWidget*>& items = DialogOf(dlg.m_hWnd)->Controls();
            for (int i : {0, 3, 5, 6, 7, 8, 9})
                EXPECT_FALSE(covered.intersects(
                    QRect(items[i]->mapToGlobal(QPoint(0, 0)), items[i]->size())))
                    << "item " << i;
            EXPECT_TRUE(
                ScreenRect(IDC_OPEN_PORT).adjusted(-2, -2, 2, 2).contains(tip->TailPoint()));
            const QStringList lines = tip->Lines();
            for (const QString& line : lines)
                EXPECT_LE(tip->fontMetrics().horizontalAdvance(line), tip->width())
                    << line.toStdString();
            QString shown = lines.join(' ');
            if (c.whole) {
                EXPECT_EQ(QString(c.text).remove(' '), shown.remove(' '));
            } else {
                EXPECT_GT(lines.size(), 1);
                EXPECT_TRUE(lines.last().endsWith(QChar(0x2026))) << lines.last().toStdString();
                EXPECT_TRUE(c.text.startsWith(lines.first()));
            }
            // Whole for a screen reader, and the button's tooltip keeps the failure's reason.
            EXPECT_EQ(c.text, QAccessible::queryAccessibleInterface(tip)->text(QAccessible::Name));
            EXPECT_EQ(reason, button->toolTip());
        }
        // It covers the command field, and a click there goes to the field.
        const QPoint field = ui.ScreenCentre(IDC_COMMAND);
        ASSERT_TRUE(BalloonTip::Current()->Covered().contains(field));
        ui.ClickOnScreen(field);
        EXPECT_EQ(nullptr, BalloonTip::Current());
        EXPECT_EQ(ui.Control(IDC_COMMAND), QApplication::focusWidget());

        // A balloon at Send (a command the line cannot carry, a device gone), outside the
        // group: whole, its tail at Send, the command to be mended and the list in view.
        for (const QString& text : {QString::fromUtf8("not sent: U+03A9 \u03A9 is not in "
                                                      "windows-1252, the port's encoding"),
                                    QString("COM2: the device went away: /dev/pts/12")}) {
            SCOPED_TRACE(text.toStdString());
            BalloonTip::Show(ui.Control(IDC_SEND), text, BalloonTip::Room::Window);
            const BalloonTip* tip = BalloonTip::Current();
            ASSERT_NE(nullptr, tip);
            const QRegion covered = tip->Covered();
            EXPECT_EQ(covered, covered.intersected(dialog));
            EXPECT_TRUE(ScreenRect(IDC_SEND).adjusted(-2, -2, 2, 2).contains(tip->TailPoint()));
            for (int nID : {IDC_COMMAND, IDC_RESPONSE_LIST})
                EXPECT_FALSE(covered.intersects(ScreenRect(nID))) << nID;
            EXPECT_EQ(QString(text).remove(' '), tip->Lines().join("").remove(' '));
            ui.Key(Qt::Key_Escape);
        }
    });
}

TEST_F(MainDialog, TheReasonWrapsAtWordsAndSlashesToASaneWidthInTheBalloonAndTheTooltip) {
    dev.Link(3, "/nonexistent/serial-device");
    ui.Run([&] {
        Open(3);
        const BalloonTip* tip = BalloonTip::Current();
        ASSERT_NE(nullptr, tip);
        // Several lines, none wider than a sane width, none ending inside "morvik-ports".
        const QStringList lines = tip->Lines();
        EXPECT_GT(lines.size(), 1);
        for (const QString& line : lines)
            EXPECT_FALSE(line.endsWith('-')) << line.toStdString();
        EXPECT_LE(tip->width(), 70 * tip->fontMetrics().averageCharWidth());

        // The button's tooltip, shown where the pointer rests, is wrapped within the screen too.
        QWidget* button = ui.Control(IDC_OPEN_PORT);
        ui.Key(Qt::Key_Escape);
        const QPoint at = button->rect().center();
        QHelpEvent event(QEvent::ToolTip, at, button->mapToGlobal(at));
        QApplication::sendEvent(button, &event);
        const QWidget* label = ShownToolTip();
        ASSERT_NE(nullptr, label);
        EXPECT_TRUE(button->screen()->availableGeometry().contains(label->geometry()));
        EXPECT_LE(label->width(), 70 * label->fontMetrics().averageCharWidth());
        QToolTip::hideText();
    });
}

} // namespace
