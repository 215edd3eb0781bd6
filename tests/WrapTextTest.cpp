#include "framework/win32/WrapText.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>

namespace {

TEST(WrapText, BreaksAtSpacesThenAfterSlashesThenAnywhereButNeverAtAHyphen) {
    // Characters of one width: a line's width is a number of them.
    QFont font("monospace");
    font.setStyleHint(QFont::Monospace);
    const QFontMetrics metrics(font);
    const auto width = [&](int chars) { return metrics.horizontalAdvance(QString(chars, 'x')); };
    ASSERT_EQ(width(10), metrics.horizontalAdvance("morvik-pts"));
    const struct {
        const char* text;
        int chars;
        QStringList lines;
    } cases[] = {
        {"one two three four", 10, {"one two", "three four"}},
        {"run morvik-ports to see", 12, {"run", "morvik-ports", "to see"}},
        {"see /home/user/.config/MorvikSerialDemo/ports/COM2 now",
         20,
         {"see /home/user/", ".config/", "MorvikSerialDemo/", "ports/COM2 now"}},
        {"at /0123456789abcdef/x", 10, {"at /", "0123456789", "abcdef/x"}},
        {"WWWWWWWWWWWWWWWWWWWWWWWWW", 10, {"WWWWWWWWWW", "WWWWWWWWWW", "WWWWW"}},
        {"first\nsecond line", 20, {"first", "second line"}},
        {"", 10, {""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const QStringList lines = WrapText(c.text, metrics, width(c.chars));
        EXPECT_EQ(c.lines, lines);
        for (const QString& line : lines)
            EXPECT_LE(metrics.horizontalAdvance(line), width(c.chars)) << line.toStdString();
    }
}

} // namespace
