#include "framework/win32/controls/ListBoxControl.h"

#include "tests/DialogDriver.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QHelpEvent>
#include <QImage>
#include <QScreen>
#include <QScrollBar>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

namespace {

QStringList LinesOf(const ListBoxControl& list) {
    QStringList lines;
    for (int i = 0; i < list.Count(); ++i)
        lines << list.Text(i);
    return lines;
}

TEST(ListBoxControl, AddsAtTheEndOrInOrderAndSaysWhere) {
    ListBoxControl plain(false, nullptr);
    EXPECT_EQ(0, plain.AddString("b"));
    EXPECT_EQ(1, plain.AddString("A"));
    plain.AddStrings({"c", "a"});
    EXPECT_EQ(QStringList({"b", "A", "c", "a"}), LinesOf(plain));

    // A sorted list box compares without regard to case; equal lines keep their arrival order.
    ListBoxControl sorted(true, nullptr);
    EXPECT_EQ(0, sorted.AddString("b"));
    EXPECT_EQ(0, sorted.AddString("A"));
    EXPECT_EQ(2, sorted.AddString("c"));
    EXPECT_EQ(1, sorted.AddString("a"));
    sorted.AddStrings({"B", "0"});
    EXPECT_EQ(QStringList({"0", "A", "a", "b", "B", "c"}), LinesOf(sorted));

    sorted.ResetContent();
    EXPECT_EQ(0, sorted.Count());
    EXPECT_EQ(QString(), sorted.Text(0));
}

TEST(ListBoxControl, ALinesDetailStaysWithItAndGoesIntoTheTabSeparatedFile) {
    const qint64 ms = QDateTime(QDate(2026, 3, 1), QTime(9, 5, 7, 42)).toMSecsSinceEpoch();
    ListBoxControl list(true, nullptr);
    list.AddString("b");
    ASSERT_TRUE(list.SetDetail(0, {"GET\tB", ms, QByteArray("b\r\n")}));
    list.AddString("a"); // sorted in before it: the detail moves with its line
    list.AddStrings({"c\\d\te"});
    EXPECT_EQ(nullptr, list.DetailOf(0));
    ASSERT_NE(nullptr, list.DetailOf(1));
    EXPECT_EQ(QString("GET\tB"), list.DetailOf(1)->command);
    EXPECT_EQ(nullptr, list.DetailOf(2));
    for (int bad : {-1, 3})
        EXPECT_FALSE(list.SetDetail(bad, {})) << bad;

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QString error;
    ASSERT_TRUE(
        list.Save(folder.filePath("t.tsv"), &error, ListBoxControl::FileFormat::TabSeparated))
        << error.toStdString();
    QFile file(folder.filePath("t.tsv"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    // A tab, a line end or a backslash inside a field is escaped: each line keeps three fields.
    EXPECT_EQ(QByteArray("time\tcommand\treply\n"
                         "\t\ta\n"
                         "2026-03-01 09:05:07.042\tGET\\tB\tb\n"
                         "\t\tc\\\\d\\te\n"),
              file.readAll());

    EXPECT_EQ(QString("00 FF 4F 4B 0D"), ListBoxControl::Hex(QByteArray("\x00\xFFOK\r", 5)));
    list.ResetContent();
    list.AddString("x");
    EXPECT_EQ(nullptr, list.DetailOf(0));
}

// A list on the screen with the keyboard focus, as a person reads it.
class ShownList : public ::testing::Test {
protected:
    ListBoxControl list{false, nullptr};

    void SetUp() override {
        list.resize(160, 100);
        list.show();
        list.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&list, 2000));
        list.setFocus();
    }
    void Add(const QString& text) {
        list.AddString(text);
        DialogDriver::Pump(10); // the view lays the line out before it paints
    }
    bool Shows(int row) const {
        return list.viewport()->rect().contains(list.visualRect(list.model()->index(row, 0)));
    }
    void Key(Qt::Key key) { QTest::keyClick(&list, key); }
};

TEST_F(ShownList, FollowsTheNewestLineUnlessScrolledUpAndHomeEndGoToTheEnds) {
    for (int i = 0; i < 30; ++i)
        Add(QString("line %1").arg(i));
    EXPECT_TRUE(Shows(29));
    EXPECT_FALSE(Shows(0));

    // Scrolled up to read: new lines leave the view where it is.
    Key(Qt::Key_Home);
    EXPECT_EQ(0, list.currentIndex().row());
    EXPECT_TRUE(Shows(0));
    Add("line 30");
    EXPECT_TRUE(Shows(0));
    EXPECT_FALSE(Shows(30));

    // Back at the end, it follows again.
    Key(Qt::Key_End);
    EXPECT_EQ(30, list.currentIndex().row());
    Add("line 31");
    EXPECT_TRUE(Shows(31));
    list.ResetContent();
    Add("after clearing");
    EXPECT_TRUE(Shows(0));
}

TEST_F(ShownList, AnEmptyListShowsItHasTheFocus) {
    const auto topRow = [this] {
        const QImage image = list.viewport()->grab().toImage();
        for (int y = 0; y < list.fontMetrics().height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != image.pixel(image.width() / 2, image.height() - 2))
                    return true; // something drawn there
        return false;
    };
    EXPECT_TRUE(topRow());
    list.clearFocus();
    DialogDriver::Pump(10);
    EXPECT_FALSE(topRow());
}

TEST_F(ShownList, OnlyALineCutAtTheEdgeShowsWholeAsATooltip) {
    const QString longLine = QString("MORVIK,").repeated(20) + "END";
    Add("short");
    Add(longLine);
    for (int row : {0, 1}) {
        const QPoint at = list.visualRect(list.model()->index(row, 0)).center();
        QHelpEvent event(QEvent::ToolTip, at, list.viewport()->mapToGlobal(at));
        QApplication::sendEvent(list.viewport(), &event);
        DialogDriver::Pump(10);
        EXPECT_EQ(row == 1, QToolTip::isVisible()) << row;
        EXPECT_EQ(row == 1, QToolTip::text().contains(longLine)) << row;
        QToolTip::hideText();
    }
}

TEST_F(ShownList, ALinesTooltipShowsTheCommandTheTimeAndTheBytesWrappedOnTheScreen) {
    Add("OK");
    const qint64 ms = QDateTime(QDate(2026, 3, 1), QTime(23, 59, 58, 7)).toMSecsSinceEpoch();
    list.SetDetail(0, {"*IDN?", ms, QByteArray("OK\r")});
    Add("long");
    list.SetDetail(1, {"DUMP", ms, QByteArray(5000, 'x')});
    const auto tipAt = [this](int row) {
        const QPoint at = list.visualRect(list.model()->index(row, 0)).center();
        QHelpEvent event(QEvent::ToolTip, at, list.viewport()->mapToGlobal(at));
        QApplication::sendEvent(list.viewport(), &event);
        DialogDriver::Pump(10);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    const QString tip = tipAt(0);
    for (const char* part : {"Command: *IDN?", "Time: 2026-03-01 23:59:58.007", "Bytes: 4F 4B 0D"})
        EXPECT_TRUE(tip.contains(part)) << part << " in " << tip.toStdString();
    EXPECT_FALSE(tip.contains("<p style='white-space:pre-wrap'>OK</p>")); // not cut: not repeated

    // The first 1024 bytes and the count; the tip wraps to stay on the screen.
    const QString big = tipAt(1);
    EXPECT_TRUE(big.contains(QString("78 ").repeated(1023) + "78 ... (5000 bytes)"));
    const QWidget* label = nullptr;
    for (const QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("QTipLabel") && w->isVisible())
            label = w;
    ASSERT_NE(nullptr, label);
    EXPECT_LE(label->width(), list.screen()->availableGeometry().width());
    EXPECT_GT(label->height(), 10 * label->fontMetrics().height()); // many lines, not one
    QToolTip::hideText();
}

} // namespace
