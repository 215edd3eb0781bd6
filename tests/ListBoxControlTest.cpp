#include "framework/win32/controls/ListBoxControl.h"

#include <gtest/gtest.h>

#include <QStringList>

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

} // namespace
