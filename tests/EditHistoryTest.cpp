// The command field's history: recalled with Up and Down, kept across runs, bounded.

#include "dialog/resource.h"
#include "framework/win32/controls/EditHistory.h"
#include "tests/DialogDriver.h"
#include "testsupport/PtyDevice.h"
#include "tests/StderrCapture.h"
#include "tests/TestDlg.h"
#include "testsupport/TempFolder.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(CommandHistory, UpAndDownRecallTheCommandsSentAlsoAfterARestart) {
    PtyDevice dev(1);
    std::string received;
    dev.StartResponder([&](const std::string& cmd) {
        received += cmd;
        return std::string("OK\r");
    });
    const QString file = EditHistory::PathFor("history");
    QFile::remove(file);
    const auto run = [](const std::function<void(DialogDriver&)>& body) {
        TestDlg dlg;
        DialogDriver ui(dlg);
        ui.Run([&] {
            ui.Click(IDC_OPEN_PORT); // the focus moves on to the command field
            ASSERT_EQ(ui.Control(IDC_COMMAND), QApplication::focusWidget());
            body(ui);
        });
    };
    run([](DialogDriver& ui) {
        for (const char* cmd : {"FIRST", "SECOND", "SECOND", "THIRD"}) {
            ui.SetText(IDC_COMMAND, cmd);
            ui.Key(Qt::Key_Return);
        }
        // Most recent first, each once, past the one the field shows already.
        const auto step = [&](Qt::Key key, const char* expected) {
            ui.Key(key);
            EXPECT_EQ(QString(expected), ui.Text(IDC_COMMAND)) << expected;
        };
        step(Qt::Key_Up, "SECOND");
        step(Qt::Key_Up, "FIRST");
        step(Qt::Key_Up, "FIRST"); // nothing older
        step(Qt::Key_Down, "SECOND");
        step(Qt::Key_Down, "THIRD");
        // Typing makes the text one's own; Down past the newest brings it back.
        ui.Type("X");
        step(Qt::Key_Up, "THIRD");
        step(Qt::Key_Down, "THIRDX");
        step(Qt::Key_Up, "THIRD");
        step(Qt::Key_Up, "SECOND");
        ui.Key(Qt::Key_Return);
        EXPECT_EQ(5, ui.Lines().size());
    });
    EXPECT_EQ("FIRST\rSECOND\rSECOND\rTHIRD\rSECOND\r", received);
    // After a restart the dialog finds them in the file.
    run([](DialogDriver& ui) {
        ui.Key(Qt::Key_Up);
        EXPECT_EQ(QString("SECOND"), ui.Text(IDC_COMMAND));
        ui.Key(Qt::Key_Up);
        EXPECT_EQ(QString("THIRD"), ui.Text(IDC_COMMAND));
    });
    QFile kept(file);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    // No two the same in a row; older repeats stay, as they were sent.
    EXPECT_EQ(QByteArray("SECOND\nTHIRD\nSECOND\nFIRST\n"), kept.readAll());

    // A history that cannot be kept costs the history only, with one line for the journal.
    const QByteArray state = qgetenv("XDG_STATE_HOME");
    setenv("XDG_STATE_HOME", "/dev/null/state", 1);
    StderrCapture capture;
    run([](DialogDriver& ui) {
        ui.Key(Qt::Key_Up); // nothing to read
        EXPECT_EQ(QString(), ui.Text(IDC_COMMAND));
        for (const char* cmd : {"ONE", "TWO"}) {
            ui.SetText(IDC_COMMAND, cmd);
            ui.Key(Qt::Key_Return);
        }
        EXPECT_EQ(QStringList({"OK", "OK"}), ui.Lines());
        ui.Key(Qt::Key_Up);
        EXPECT_EQ(QString("ONE"), ui.Text(IDC_COMMAND)); // kept for this run
    });
    setenv("XDG_STATE_HOME", state.constData(), 1);
    EXPECT_EQ(1, capture.Lines("the command history is not kept").size());
}

TEST(CommandHistory, KeepsTheLatestFiveHundred) {
    QLineEdit edit;
    const QString file = EditHistory::PathFor("history-limit");
    QFile::remove(file);
    {
        EditHistory history(&edit, file);
        for (int i = 0; i < 501; ++i)
            history.Add(QString::number(i));
        EXPECT_EQ(500, history.Entries().size());
        EXPECT_EQ(QString("500"), history.Entries().first());
        EXPECT_EQ(QString("1"), history.Entries().last());
        // Written a moment later, once for the whole burst.
        EXPECT_FALSE(QFile::exists(file));
        DialogDriver::Pump(EditHistory::kWriteDelayMs + 200);
        EXPECT_TRUE(QFile::exists(file));
        history.Add("last");
    }
    // And when it goes.
    const EditHistory again(&edit, file);
    EXPECT_EQ(500, again.Entries().size());
    EXPECT_EQ(QString("last"), again.Entries().first());
}

// Byte order marks at a line's start are no part of a command: an entry read is one that writing
// gives back.
TEST(CommandHistory, ReadsBackWhatItWrites) {
    QLineEdit edit;
    const QString file = EditHistory::PathFor("history-marks");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).path()));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("\xEF\xBB\xBF\xEF\xBB\xBF\n\xEF\xBB\xBF\xEF\xBB\xBF"
                "DIR\nOK\n");
    }
    QStringList read;
    {
        EditHistory history(&edit, file);
        read = history.Entries();
        EXPECT_EQ(QStringList({"DIR", "OK"}), read);
        history.Add("NEW");
    }
    read.prepend("NEW");
    EXPECT_EQ(read, EditHistory(&edit, file).Entries());
}

// What is no regular file of sane size is neither read nor written over: a FIFO (which would
// hold the start), a link to /dev/zero (which never ends), a file past the limit. Each costs the
// history of the run and one line on standard error, never a hang.
TEST(CommandHistory, OnlyARegularFileOfSaneSizeIsRead) {
    const TempFolder root;
    const std::string fifo = root / "fifo", zero = root / "zero", big = root / "big";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    ASSERT_EQ(0, symlink("/dev/zero", zero.c_str()));
    QFile file(QString::fromStdString(big));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(EditHistory::kMaxFileBytes + 1, '\n'));
    file.close();
    QLineEdit edit;
    for (const std::string& path : {fifo, zero, big}) {
        StderrCapture capture;
        const auto start = std::chrono::steady_clock::now();
        {
            EditHistory history(&edit, QString::fromStdString(path));
            EXPECT_TRUE(history.Entries().isEmpty()) << path;
            history.Add("KEPT FOR THIS RUN");
            EXPECT_EQ(1, history.Entries().size()) << path;
        } // written when it goes, if it may be
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << path;
        EXPECT_EQ(1, capture.Lines(QString::fromStdString("history is not kept: " + path)).size())
            << path;
    }
    struct stat st {};
    EXPECT_TRUE(lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    EXPECT_TRUE(lstat(zero.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    EXPECT_TRUE(stat(big.c_str(), &st) == 0 && st.st_size == EditHistory::kMaxFileBytes + 1);
}

} // namespace
