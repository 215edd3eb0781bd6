#include "framework/win32/controls/GroupBoxControl.h"

#include "framework/win32/controls/EdgeLines.h"

#include <QPainter>
#include <QStyle>

namespace {
// Blank space on either side of the title, where the line stops.
constexpr int kTitleGap = 2;
} // namespace

GroupBoxControl::GroupBoxControl(const QString& title, QWidget* pParent)
    : QGroupBox(title, pParent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAutoFillBackground(false);
}

QRect GroupBoxControl::TitleRect() const {
    if (title().isEmpty())
        return QRect();
    const QFontMetrics metrics(font());
    // The title starts one average character in from the frame's left edge.
    return QRect(metrics.averageCharWidth(), 0, metrics.horizontalAdvance(title()),
                 metrics.height());
}

void GroupBoxControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect title = TitleRect();
    const int top = QFontMetrics(font()).height() / 2;

    // The line is drawn everywhere except behind the title and its gaps.
    QRegion clip(rect());
    if (title.isValid())
        clip -= title.adjusted(-kTitleGap, 0, kTitleGap, 0);
    painter.save();
    painter.setClipRegion(clip);
    KeepEdgeLinesWhole(&painter, this);
    // Etched: a light rectangle one pixel down and right, a shadow rectangle over it.
    const int w = width() - 2, h = height() - top - 2;
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(1, top + 1, w, h);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(0, top, w, h);
    painter.restore();

    if (title.isValid())
        style()->drawItemText(&painter, title, Qt::AlignLeft | Qt::AlignTop, palette(), isEnabled(),
                              this->title(), QPalette::WindowText);
}
