#include "dialog/resource.h"
#include "framework/win32/WaitPump.h"
#include "framework/win32/WinUser.h"
#include "tests/DialogDriver.h"
#include "tests/TestDlg.h"
#include "testsupport/PtyDevice.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QTimer>
#include <QWindow>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

// The main dialog on a device that takes 600 ms to answer each command, with the program's
// wait in place; what a test does meanwhile runs from a timer 200 ms into the wait, as a
// person's input would arrive.
class WaitingDialog : public ::testing::Test {
protected:
    PtyDevice dev{2};
    TestDlg dlg;
    DialogDriver ui{dlg};
    WaitPump pump;
    std::atomic<int> commands{0};

    void SetUp() override {
        dev.StartResponder([this](const std::string&) -> std::string {
            ++commands;
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            return "DONE\r";
        });
    }
    // Opens port 2 and sends one command with Enter; meanwhile runs during the exchange.
    void SendWhile(const std::function<void()>& meanwhile) {
        ui.SetText(IDC_PORT, "2");
        ui.Click(IDC_OPEN_PORT);
        ui.SetText(IDC_COMMAND, "DELAY 600");
        ui.Control(IDC_COMMAND)->setFocus();
        QTimer::singleShot(200, meanwhile);
        ui.Key(Qt::Key_Return);
    }
};

TEST_F(WaitingDialog, InputDuringTheExchangeIsDroppedNotReplayed) {
    ui.Run([&] {
        bool busyPointer = false;
        SendWhile([&] {
            busyPointer = QGuiApplication::overrideCursor() &&
                          QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
            // Enter twice, a click on Send and a screen reader's press of it.
            ui.Key(Qt::Key_Return);
            ui.Key(Qt::Key_Return);
            ui.Click(IDC_SEND);
            static_cast<QAbstractButton*>(ui.Control(IDC_SEND))->click();
        });
        DialogDriver::Pump(100);
        EXPECT_TRUE(busyPointer) << "no busy pointer while the exchange ran";
        EXPECT_EQ(nullptr, QGuiApplication::overrideCursor());
        EXPECT_EQ(1, commands.load());
        EXPECT_EQ(QStringList{"DONE"}, ui.Lines());

        // Once the exchange is over, keys work again.
        ui.Key(Qt::Key_Return);
        DialogDriver::Pump(100);
        EXPECT_EQ(2, commands.load());
        EXPECT_EQ(QStringList({"DONE", "DONE"}), ui.Lines());
    });
}

TEST_F(WaitingDialog, CloseRequestDuringTheExchangeEndsTheDialogAfterIt) {
    const std::function<void(DialogDriver&)> requests[] = {
        [](DialogDriver& d) { d.Window()->windowHandle()->close(); }, // the window's Close
        [](DialogDriver& d) { d.Key(Qt::Key_F4, Qt::AltModifier); },
    };
    for (const auto& request : requests) {
        SCOPED_TRACE(&request - requests);
        TestDlg dialog;
        DialogDriver driver{dialog};
        bool requested = false;
        bool endedTooSoon = true;
        bool endedAfter = false;
        const INT_PTR result = driver.Run([&] {
            driver.SetText(IDC_PORT, "2");
            driver.Click(IDC_OPEN_PORT);
            driver.SetText(IDC_COMMAND, "DELAY 600");
            driver.Control(IDC_COMMAND)->setFocus();
            QTimer::singleShot(200, [&] {
                requested = true;
                request(driver);
            });
            // Pressed so, nothing else runs between the end of the exchange and the check.
            static_cast<QAbstractButton*>(driver.Control(IDC_SEND))->click();
            EXPECT_TRUE(requested) << "nothing ran while the exchange waited";
            endedTooSoon = !IsWindowVisible(dialog.m_hWnd);
            EXPECT_EQ(QStringList{"DONE"}, driver.Lines());
            DialogDriver::Pump(100);
            endedAfter = !IsWindowVisible(dialog.m_hWnd);
        });
        EXPECT_FALSE(endedTooSoon) << "the dialog ended in the middle of the exchange";
        EXPECT_TRUE(endedAfter) << "the close request was lost";
        EXPECT_EQ(IDCANCEL, result);
    }
    EXPECT_EQ(2, commands.load());
}

} // namespace
