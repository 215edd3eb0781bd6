// What a "Send" costs the user as the response list grows: the time from the mouse click on the
// button until the event loop has nothing left to do (reply listed, list laid out, window
// repainted), with 10 to 100,000 lines already listed, against the dialog's own port making the
// bare SendString + ReceiveLine exchange in the same run.

#include "framework/win32/Handles.h"
#include "framework/win32/controls/ListBoxControl.h"
#include "testsupport/PtyDevice.h"
#include "tests/TestDlg.h"
#include "bench/BenchStats.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using bench::Clock;
using bench::Median;
using bench::Micros;

const char kReply[] = "+1.2345E+00";

// Lines already in the list, and how many clicks a round times at each count.
struct Fill {
    int lines;
    int perRound;
    const char* label;
};
const Fill kFills[] = {
    {10, 30, "10"}, {1000, 20, "1,000"}, {10000, 8, "10,000"}, {100000, 4, "100,000"}};

// Counts every event the application delivers.
class EventCounter : public QObject {
public:
    long long count = 0;

protected:
    bool eventFilter(QObject*, QEvent*) override {
        ++count;
        return false;
    }
};

// Runs whatever is pending (posted events, due timers, repaints) until a pass delivers nothing;
// returns when the last event delivered was done. Bounded by a generous number of passes.
Clock::time_point RunUntilIdle(const EventCounter& events) {
    Clock::time_point last = Clock::now();
    for (int pass = 0; pass < 100000; ++pass) {
        const long long before = events.count;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (events.count == before)
            break;
        last = Clock::now();
    }
    return last;
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    const QTemporaryDir state; // for the command history: none of the user's
    setenv("XDG_STATE_HOME", qPrintable(state.path()), 1);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

    PtyDevice dev(1);
    dev.StartResponder([](const std::string&) { return std::string(kReply) + "\r"; });

    const std::size_t nFills = sizeof kFills / sizeof kFills[0];
    std::vector<std::vector<double>> clicks(nFills);
    std::vector<double> bare;
    const char* failure = nullptr;
    EventCounter events;
    application.installEventFilter(&events);

    TestDlg dlg;
    QTimer::singleShot(0, [&] {
        QWidget* window = WidgetOf(dlg.m_hWnd);
        auto* open = dynamic_cast<QAbstractButton*>(WidgetOf(dlg.GetDlgItemHandle(IDC_OPEN_PORT)));
        auto* send = dynamic_cast<QAbstractButton*>(WidgetOf(dlg.GetDlgItemHandle(IDC_SEND)));
        auto* list =
            dynamic_cast<ListBoxControl*>(WidgetOf(dlg.GetDlgItemHandle(IDC_RESPONSE_LIST)));
        dynamic_cast<QLineEdit*>(WidgetOf(dlg.GetDlgItemHandle(IDC_COMMAND)))->setText("MEAS?");
        if (!QTest::qWaitForWindowExposed(window, 5000)) {
            failure = "the dialog was never shown";
            dlg.EndDialog(IDCANCEL);
            return;
        }
        open->click(); // setting up, not measured
        if (!IsWindowEnabled(dlg.GetDlgItemHandle(IDC_CLOSE_PORT)))
            failure = "the port did not open";
        // Where a person would click "Send", in the window's coordinates.
        const QPoint sendAt = send->mapTo(window, send->rect().center());
        if (window->childAt(sendAt) != send)
            failure = "something covers the Send button";
        const QStringList filler(kFills[nFills - 1].lines, QString::fromLatin1(kReply));

        for (int r = 0; r < rounds && !failure; ++r) {
            list->ResetContent();
            for (std::size_t f = 0; f < nFills && !failure; ++f) {
                if (list->Count() < kFills[f].lines)
                    list->AddStrings(filler.mid(0, kFills[f].lines - list->Count()));
                RunUntilIdle(events);
                for (int i = 0; i < kFills[f].perRound; ++i) {
                    const int before = list->Count();
                    const auto t0 = Clock::now();
                    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                                      sendAt);
                    const auto t1 = RunUntilIdle(events);
                    clicks[f].push_back(Micros(t1 - t0));
                    if (list->Count() != before + 1 ||
                        list->Text(before) != QLatin1String(kReply)) {
                        failure = "a click did not list the reply";
                        break;
                    }
                }
                // The same exchange without the dialog: its own port, called directly.
                CString reply, expected(kReply);
                expected += '\r';
                for (int i = 0; i < kFills[f].perRound; ++i) {
                    const auto t0 = Clock::now();
                    dlg.m_port.SendString("MEAS?\r");
                    dlg.m_port.ReceiveLine(reply);
                    bare.push_back(Micros(Clock::now() - t0));
                    if (!(reply == expected))
                        failure = "the bare exchange did not bring the reply";
                }
            }
        }
        dlg.EndDialog(IDCANCEL);
    });
    dlg.DoModal();
    application.removeEventFilter(&events);
    dev.StopResponder();
    if (failure || bare.empty()) {
        std::fprintf(stderr, "%s\n", failure ? failure : "nothing was measured");
        return 1;
    }

    std::printf("send click until the event loop is idle with the reply listed "
                "(medians, %d interleaved rounds):\n",
                rounds);
    for (std::size_t f = 0; f < nFills; ++f)
        std::printf("  %7s lines listed: %9.1f us\n", kFills[f].label, Median(clicks[f]));
    const double first = Median(clicks[0]), last = Median(clicks[nFills - 1]);
    const double exchange = Median(bare);
    std::printf("bare exchange (SendString + ReceiveLine on the same port): %.1f us; "
                "10-line click / bare exchange %.2f\n",
                exchange, first / exchange);
    std::printf("list growth %.2f\n", last / first);
    return 0;
}
