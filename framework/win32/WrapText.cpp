#include "framework/win32/WrapText.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QToolTip>
#include <QWidget>

#include <algorithm>

namespace {

constexpr int kTipEms = 60;   // a tooltip wider than this many average characters wraps
constexpr int kTipMargin = 8; // the tooltip's frame and padding, on each side

// A word wider than a line, in pieces: each up to and with a '/', and each of those that is
// still too wide in runs of characters that fit.
QStringList BreakWord(const QString& word, const QFontMetrics& metrics, int maxWidth) {
    QStringList pieces;
    int start = 0;
    while (start < word.size()) {
        const int slash = static_cast<int>(word.indexOf('/', start));
        const int end = slash < 0 ? static_cast<int>(word.size()) : slash + 1;
        const QString part = word.mid(start, end - start);
        start = end;
        if (metrics.horizontalAdvance(part) <= maxWidth) {
            pieces << part;
            continue;
        }
        QString run;
        for (int i = 0; i < part.size(); ++i) {
            // A surrogate pair is one character.
            const int n = part[i].isHighSurrogate() && i + 1 < part.size() ? 2 : 1;
            const QString c = part.mid(i, n);
            i += n - 1;
            if (!run.isEmpty() && metrics.horizontalAdvance(run + c) > maxWidth) {
                pieces << run;
                run.clear();
            }
            run += c;
        }
        pieces << run;
    }
    return pieces;
}

} // namespace

QStringList WrapText(const QString& text, const QFontMetrics& metrics, int maxWidth) {
    const auto fits = [&](const QString& s) { return metrics.horizontalAdvance(s) <= maxWidth; };
    QStringList lines;
    for (const QString& paragraph : text.split('\n')) {
        QString line;
        bool bStarted = false; // the line holds a word, perhaps an empty one between two spaces
        for (const QString& word : paragraph.split(' ')) {
            const QString joined = bStarted ? line + ' ' + word : word;
            if (fits(joined)) {
                line = joined;
                bStarted = true;
                continue;
            }
            if (fits(word)) { // on a line of its own
                lines << line;
                line = word;
                continue;
            }
            // Wider than any line: its pieces fill this line and the next ones.
            const QStringList pieces = BreakWord(word, metrics, maxWidth);
            for (int i = 0; i < pieces.size(); ++i) {
                const QString next =
                    i == 0 ? (bStarted ? line + ' ' + pieces[i] : pieces[i]) : line + pieces[i];
                if (fits(next)) {
                    line = next;
                } else {
                    lines << line;
                    line = pieces[i];
                }
                bStarted = true;
            }
        }
        lines << line;
    }
    return lines;
}

QString WrappedTipText(const QString& text, const QWidget* pNear) {
    const QFontMetrics metrics(QToolTip::font());
    const QScreen* pScreen = pNear ? pNear->screen() : QGuiApplication::primaryScreen();
    const QRect screen =
        pScreen ? pScreen->availableGeometry() : QRect(0, 0, 80 * metrics.averageCharWidth(), 600);
    const int width =
        std::max(metrics.averageCharWidth(),
                 std::min(kTipEms * metrics.averageCharWidth(), screen.width() - 2 * kTipMargin));
    QStringList lines = WrapText(text, metrics, width);
    const int room = std::max(1, (screen.height() - 2 * kTipMargin) / metrics.lineSpacing());
    if (lines.size() > room) {
        const QString rest = lines.mid(room - 1).join(' ');
        lines = lines.mid(0, room - 1);
        lines << metrics.elidedText(rest, Qt::ElideRight, width);
    }
    // Rich text, so that a reply that looks like markup shows as it is; every line as broken.
    QStringList escaped;
    for (const QString& line : lines)
        escaped << line.toHtmlEscaped();
    return "<p style='white-space:pre'>" + escaped.join("<br>") + "</p>";
}
