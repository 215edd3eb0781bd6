// The program's ANSI code page both ways: Windows-1252, or UTF-8 when its manifest asks.

#include "framework/win32/AnsiCodePage.h"
#include "framework/win32/WinUser.h"
#include "tests/CodePageScope.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

#include <string>

namespace {

TEST(AnsiCodePage, MapsWindows1252BothWays) {
    CodePageScope page(1252);
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

TEST(AnsiCodePage, Utf8WhenTheProgramAsks) {
    CodePageScope page(CP_UTF8);
    EXPECT_EQ(CP_UTF8, GetACP());
    const QString text = QString::fromUtf8("25.0 \u00B0C \u03A9 \u2713 \U0001F600");
    EXPECT_EQ(text.toUtf8(), AnsiCodePage::FromUnicode(text));
    EXPECT_EQ(text, AnsiCodePage::ToUnicode(text.toUtf8().constData()));
    // A byte that is no part of a sequence is shown as the replacement character.
    EXPECT_EQ(QString::fromUtf8("5 \uFFFD"), AnsiCodePage::ToUnicode("5 \x80"));

    // A short buffer takes whole characters only: "Ω" is two bytes, "✓" three.
    const QString field = QString::fromUtf8("\u03A9\u2713");
    for (const auto& [size, expected] : {std::pair<int, const char*>{2, ""},
                                         {3, "\xCE\xA9"},
                                         {5, "\xCE\xA9"},
                                         {6, "\xCE\xA9\xE2\x9C\x93"}}) {
        char buffer[8] = "xxxxxxx";
        const auto n = AnsiCodePage::AnswerGetText(WM_GETTEXT, static_cast<WPARAM>(size),
                                                   reinterpret_cast<LPARAM>(buffer), field);
        EXPECT_EQ(std::string(expected), std::string(buffer)) << size;
        EXPECT_EQ(static_cast<LRESULT>(std::string(expected).size()), n) << size;
    }
    EXPECT_EQ(5, AnsiCodePage::AnswerGetText(WM_GETTEXTLENGTH, 0, 0, field));

    // The choice holds against pages the platform does not know.
    AnsiCodePage::SetActive(437);
    EXPECT_EQ(CP_UTF8, GetACP());
}

} // namespace
