// Windows-1252 both ways: how the program's 8-bit text crosses into Qt.

#include "framework/win32/AnsiCodePage.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

namespace {

TEST(AnsiCodePage, MapsWindows1252BothWays) {
    EXPECT_EQ(QString::fromUtf8("\u20AC\u2122\u00E9A"), AnsiCodePage::ToUnicode("\x80\x99\xE9"
                                                                                "A"));
    EXPECT_EQ(QByteArray("\x80\x99\xE9"
                         "A"),
              AnsiCodePage::FromUnicode(QString::fromUtf8("\u20AC\u2122\u00E9A")));
    // Characters outside the code page become one '?' each, also beyond the BMP.
    EXPECT_EQ(QByteArray("a?b?"),
              AnsiCodePage::FromUnicode(QString::fromUtf8("a\u4E2Db\U0001F600")));
    EXPECT_EQ(QString(QChar(0x81)), AnsiCodePage::ToUnicode("\x81"));
}

} // namespace
