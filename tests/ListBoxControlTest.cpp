#include "framework/win32/controls/ListBoxControl.h"

#include "tests/DialogDriver.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHelpEvent>
#include <QImage>
#include <QScrollBar>
#include <QStringList>
#include <QTest>
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

} // namespace
