// What the dialog adds to an exchange: the time from the "Send" click to the reply's line in
// the list, against the bare SendString + ReceiveLine exchange on the same device, in one run.

#include "dialog/SerialDemoDlg.h"
#include "tests/PtyDevice.h"
#include "bench/BenchStats.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using bench::Clock;
using bench::Median;
using bench::Micros;

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    const int rounds = 10;
    const int perRound = argc > 1 ? std::atoi(argv[1]) : 100;

    PtyDevice dev(1);
    dev.StartResponder([](const std::string&) { return std::string("+1.2345E+00\r"); });

    std::vector<double> dialog, bare;
    bool failed = false;
    CSerialDemoDlg dlg;
    QTimer::singleShot(0, [&] {
        auto* open = dynamic_cast<QAbstractButton*>(dlg.GetDlgItemHandle(IDC_OPEN_PORT));
        auto* close = dynamic_cast<QAbstractButton*>(dlg.GetDlgItemHandle(IDC_CLOSE_PORT));
        auto* send = dynamic_cast<QAbstractButton*>(dlg.GetDlgItemHandle(IDC_SEND));
        auto* list = dynamic_cast<QListWidget*>(dlg.GetDlgItemHandle(IDC_RESPONSE_LIST));
        dynamic_cast<QLineEdit*>(dlg.GetDlgItemHandle(IDC_COMMAND))->setText("MEAS?");
        for (int r = 0; r < rounds && !failed; ++r) {
            open->click();
            for (int i = 0; i < perRound; ++i) {
                const int before = list->count();
                const auto t0 = Clock::now();
                send->click();
                dialog.push_back(Micros(Clock::now() - t0));
                failed |= list->count() != before + 1 ||
                          list->item(before)->text() != QLatin1String("+1.2345E+00");
            }
            list->clear();
            close->click();

            CSerialPort port;
            failed |= !port.Open(1, 19200, PARITY_NONE, DATABITS_8, STOPBITS_10);
            CString reply;
            for (int i = 0; i < perRound; ++i) {
                const auto t0 = Clock::now();
                port.SendString("MEAS?\r");
                port.ReceiveLine(reply);
                bare.push_back(Micros(Clock::now() - t0));
            }
        }
        dlg.EndDialog(IDCANCEL);
    });
    dlg.DoModal();
    dev.StopResponder();
    if (failed || dialog.empty()) {
        std::fprintf(stderr, "the exchange did not work\n");
        return 1;
    }
    const double md = Median(dialog), mb = Median(bare);
    std::printf("send click to listed reply: median %.1f us; bare SendString+ReceiveLine: median "
                "%.1f us; ratio %.3f (%zu exchanges each)\n",
                md, mb, md / mb, dialog.size());
    return 0;
}
