// Renders the README's pictures offscreen with the program's own dialogs: the main dialog
// after a few exchanges with a simulated device, and the About box over it.
// Usage: screenshot <main.png> <about.png>

#include "dialog/SerialDemoDlg.h"
#include "framework/afx/WinApp.h"
#include "framework/win32/Handles.h"
#include "testsupport/PtyDevice.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTemporaryDir>
#include <QIcon>
#include <QLineEdit>
#include <QPainter>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

// A window as a desktop shows it: the client area under a plain caption bar.
QImage Framed(QWidget* window) {
    const QImage client = window->grab().toImage();
    const int bar = 24;
    QImage out(client.width() + 2, client.height() + bar + 1, QImage::Format_ARGB32);
    out.fill(QColor(0, 0, 128));
    QPainter p(&out);
    window->windowIcon().paint(&p, QRect(4, 4, 16, 16));
    QFont font = window->font();
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(24, 0, out.width() - 50, bar), Qt::AlignVCenter, window->windowTitle());
    p.drawText(QRect(out.width() - 22, 0, 18, bar), Qt::AlignCenter, QStringLiteral("\u2715"));
    p.drawImage(1, bar, client);
    return out;
}

void Type(CWnd& dlg, int id, const char* text) {
    dynamic_cast<QLineEdit*>(WidgetOf(dlg.GetDlgItemHandle(id)))->setText(text);
}

void Click(CWnd& dlg, int id) {
    dynamic_cast<QAbstractButton*>(WidgetOf(dlg.GetDlgItemHandle(id)))->click();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <main.png> <about.png>\n", argv[0]);
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    const QTemporaryDir state; // for the command history: none of the user's
    setenv("XDG_STATE_HOME", qPrintable(state.path()), 1);
    PtyDevice dev(1);
    // Replies as the simulated device gives them (morvik-simdevice's command table).
    dev.StartResponder([](const std::string& cmd) -> std::string {
        if (cmd == "*IDN?\r")
            return "MORVIK,SIM-1,0001,1.0\r";
        if (cmd.rfind("ECHO ", 0) == 0)
            return cmd.substr(5);
        if (cmd == "SILENT\r")
            return "";
        return "OK\r";
    });

    CSerialDemoDlg dlg;
    CWinApp app;
    app.m_pMainWnd = &dlg;
    bool ok = true;
    QTimer::singleShot(0, [&] {
        Click(dlg, IDC_OPEN_PORT);
        for (const char* cmd : {"*IDN?", "ECHO Hello from the bench", "SILENT",
                                "ECHO A reply too long for the list is cut at its edge"}) {
            Type(dlg, IDC_COMMAND, cmd);
            Click(dlg, IDC_SEND);
        }
        Type(dlg, IDC_COMMAND, "*IDN?");
        // The focus in the command field, as after Open Port: "Send" is drawn as the default.
        WidgetOf(dlg.m_hWnd)->activateWindow();
        WidgetOf(dlg.GetDlgItemHandle(IDC_COMMAND))->setFocus();
        QCoreApplication::processEvents();
        const QImage main = Framed(WidgetOf(dlg.m_hWnd));
        ok &= main.save(argv[1]);

        // The About box over the dialog, placed as a window manager centres it.
        QTimer::singleShot(50, [&] {
            QWidget* about = QApplication::activeModalWidget();
            QImage shot = main;
            const QImage box = Framed(about);
            QPainter p(&shot);
            p.drawImage((shot.width() - box.width()) / 2, (shot.height() - box.height()) / 3, box);
            p.end();
            ok &= shot.save(argv[2]);
            about->close();
            dlg.EndDialog(IDCANCEL);
        });
        dlg.SendMessage(WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    });
    dlg.DoModal();
    return ok ? 0 : 1;
}
