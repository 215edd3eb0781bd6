#include "framework/win32/controls/ListBoxControl.h"

#include "tests/DialogDriver.h"

#include <gtest/gtest.h>

#include <QAccessible>
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
#include <QTextDocument>
#include <QToolTip>

namespace {

TEST(ListBoxControl, AddsAtTheEndOrInOrderAndSaysWhere) {
    ListBoxControl plain(false, nullptr);
    EXPECT_EQ(0, plain.AddString("b"));
    EXPECT_EQ(1, plain.AddString("A"));
    plain.AddStrings({"c", "a"});
    EXPECT_EQ(QStringList({"b", "A", "c", "a"}), DialogDriver::LinesOf(plain));

    // A sorted list box compares without regard to case; equal lines keep their arrival order.
    ListBoxControl sorted(true, nullptr);
    EXPECT_EQ(0, sorted.AddString("b"));
    EXPECT_EQ(0, sorted.AddString("A"));
    EXPECT_EQ(2, sorted.AddString("c"));
    EXPECT_EQ(1, sorted.AddString("a"));
    sorted.AddStrings({"B", "0"});
    EXPECT_EQ(QStringList({"0", "A", "a", "b", "B", "c"}), DialogDriver::LinesOf(sorted));

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

TEST_F(ShownList, AListWithLinesShowsWhereTheFocusIsHoweverItCame) {
    // As on X11: scrolled by the pixel, the first line in view half cut off.
    list.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list.resize(list.width(), list.height() + list.fontMetrics().height() / 2);
    for (int i = 0; i < 30; ++i)
        Add(QString("line %1").arg(i));
    list.clearFocus();
    DialogDriver::Pump(10);
    const QImage unfocused = list.viewport()->grab().toImage();
    // By Tab the line in view becomes the current one, not the first line scrolled away; by
    // any other way the view shows it is focused even without a current line.
    for (Qt::FocusReason reason : {Qt::TabFocusReason, Qt::MouseFocusReason}) {
        SCOPED_TRACE(reason);
        list.clearFocus();
        list.selectionModel()->clearCurrentIndex();
        const int before = list.verticalScrollBar()->value();
        list.setFocus(reason);
        DialogDriver::Pump(10);
        fprintf(stderr, "DBG before %d after %d max %d row %d\n", before,
                list.verticalScrollBar()->value(), list.verticalScrollBar()->maximum(),
                list.currentIndex().row());
        EXPECT_TRUE(reason != Qt::TabFocusReason || Shows(list.currentIndex().row()));
        EXPECT_TRUE(unfocused != list.viewport()->grab().toImage()) << "no focus shown";
    }
    // The focus moved nothing: the list still follows the newest line.
    Add("newest");
    EXPECT_TRUE(Shows(30));
}

TEST_F(ShownList, OnlyALineCutAtTheEdgeShowsWholeAsATooltipWrappedWithinTheScreen) {
    // Words; one word; a thousand characters of words and of one word, as long replies come.
    const QStringList lines = {"short", QString("MORVIK,").repeated(20) + "END",
                               QString("reply ").repeated(166) + "end!",
                               QString("0123456789").repeated(100)};
    for (const QString& line : lines)
        Add(line);
    const QRect screen = list.screen()->availableGeometry();
    for (int row = 0; row < lines.size(); ++row) {
        SCOPED_TRACE(row);
        const QPoint at = list.visualRect(list.model()->index(row, 0)).center();
        QHelpEvent event(QEvent::ToolTip, at, list.viewport()->mapToGlobal(at));
        QApplication::sendEvent(list.viewport(), &event);
        DialogDriver::Pump(10);
        ASSERT_EQ(row > 0, QToolTip::isVisible());
        if (row == 0)
            continue;
        // The whole line, broken into lines of the tooltip only where it was wrapped.
        QTextDocument shown;
        shown.setHtml(QToolTip::text());
        const QString plain = shown.toPlainText();
        EXPECT_GT(plain.count('\n'), 0);
        EXPECT_EQ(QString(lines[row]).remove(' '), QString(plain).remove('\n').remove(' '));
        for (const QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->inherits("QTipLabel")) {
                EXPECT_TRUE(screen.contains(w->geometry()));
            }
        }
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
        QTextDocument shown;
        shown.setHtml(QToolTip::isVisible() ? QToolTip::text() : QString());
        return shown.toPlainText().simplified(); // wrapped where it had to be
    };
    const QString tip = tipAt(0);
    for (const char* part : {"Command: *IDN?", "Time: 2026-03-01 23:59:58.007", "Bytes: 4F 4B 0D"})
        EXPECT_TRUE(tip.contains(part)) << part << " in " << tip.toStdString();
    EXPECT_TRUE(tip.startsWith("Command: ")) << tip.toStdString(); // not cut: not repeated

    // The first 256 bytes and the count; the tip wraps to stay on the screen.
    const QString big = tipAt(1);
    EXPECT_TRUE(big.contains(QString("78 ").repeated(255) + "78 ... (5000 bytes)"))
        << big.toStdString();
    const QWidget* label = nullptr;
    for (const QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("QTipLabel") && w->isVisible())
            label = w;
    ASSERT_NE(nullptr, label);
    EXPECT_TRUE(list.screen()->availableGeometry().contains(label->geometry()));
    EXPECT_GT(label->height(), 8 * label->fontMetrics().height()); // many lines, not one
    QToolTip::hideText();
}

TEST(ListBoxControl, AScreenReaderFindsAListOfItsLinesAsItems) {
    ListBoxControl list(false, nullptr);
    list.AddStrings({"first", "second"});
    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(&list);
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(QAccessible::List, view->role());
    ASSERT_EQ(2, view->childCount());
    for (int i = 0; i < 2; ++i) {
        QAccessibleInterface* item = view->child(i);
        EXPECT_EQ(QAccessible::ListItem, item->role());
        EXPECT_EQ(list.Text(i), item->text(QAccessible::Name));
        EXPECT_EQ(i, view->indexOfChild(item));
        EXPECT_EQ(view, item->parent());
    }

    // Lines come and go: the items follow, those of lines gone go with them.
    const QAccessible::Id first = QAccessible::uniqueId(view->child(0));
    list.AddString("third");
    ASSERT_EQ(3, view->childCount());
    EXPECT_EQ(QString("third"), view->child(2)->text(QAccessible::Name));
    EXPECT_NE(nullptr, QAccessible::accessibleInterface(first));
    list.ResetContent();
    EXPECT_EQ(0, view->childCount());
    EXPECT_EQ(nullptr, view->child(0));
    EXPECT_EQ(nullptr, QAccessible::accessibleInterface(first));
}

} // namespace
