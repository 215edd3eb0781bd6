#include "framework/win32/BalloonTip.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QToolTip>

#include <algorithm>

namespace {

constexpr int kTail = 10;   // height of the tail
constexpr int kMargin = 8;  // between the outline and the text
constexpr int kRadius = 6;  // of the corners
constexpr int kMaxEms = 32; // text wider than this many average characters wraps

QPointer<BalloonTip> g_pCurrent;

} // namespace

void BalloonTip::Show(QWidget* pControl, const QString& text) {
    if (g_pCurrent)
        g_pCurrent->Dismiss();
    if (!pControl || !pControl->isVisible())
        return;
    g_pCurrent = new BalloonTip(pControl, text);
    g_pCurrent->show();
    QAccessibleEvent event(g_pCurrent.data(), QAccessible::Alert);
    QAccessible::updateAccessibility(&event);
}

BalloonTip* BalloonTip::Current() {
    return g_pCurrent && g_pCurrent->isVisible() ? g_pCurrent.data() : nullptr;
}

BalloonTip::BalloonTip(QWidget* pControl, const QString& text)
    : QWidget(pControl->window(), Qt::ToolTip | Qt::FramelessWindowHint), m_pControl(pControl),
      m_text(text) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    setFocusPolicy(Qt::NoFocus);
    setPalette(QToolTip::palette());
    setFont(pControl->font());
    // A window of its own: named by its text, for whoever looks for it from outside.
    setWindowTitle(text);
    setAccessibleName(text);
    Place();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &BalloonTip::Dismiss);
    m_timer.start(kShowMs);
    qApp->installEventFilter(this);
}

QPoint BalloonTip::TailPoint() const {
    return mapToGlobal(QPoint(m_tailX, m_bBelow ? 0 : height() - 1));
}

void BalloonTip::Place() {
    const QFontMetrics metrics(font());
    const QRect text = metrics.boundingRect(QRect(0, 0, kMaxEms * metrics.averageCharWidth(), 0),
                                            Qt::TextWordWrap, m_text);
    const QSize size(text.width() + 2 * kMargin, text.height() + 2 * kMargin + kTail);
    const QRect control(m_pControl->mapToGlobal(QPoint(0, 0)), m_pControl->size());
    const QScreen* pScreen = m_pControl->screen();
    const QRect screen = pScreen ? pScreen->availableGeometry() : QRect(QPoint(0, 0), size);

    // Below the control's middle, else above it when the screen ends first; kept on screen.
    const int tipX = control.center().x();
    m_bBelow = control.bottom() + size.height() <= screen.bottom() ||
               control.top() - size.height() < screen.top();
    const int y = m_bBelow ? control.bottom() + 1 : control.top() - size.height();
    const int x = std::clamp(tipX - 2 * kTail, screen.left(),
                             std::max(screen.left(), screen.right() + 1 - size.width()));
    setGeometry(x, y, size.width(), size.height());
    m_tailX = std::clamp(tipX - x, kRadius + kTail, size.width() - kRadius - kTail);
    m_textRect = QRect(kMargin, kMargin + (m_bBelow ? kTail : 0), text.width(), text.height());
    // Shaped by a mask: no compositor is needed for the round corners and the tail.
    setMask(QRegion(Outline().toFillPolygon().toPolygon()));
}

QPainterPath BalloonTip::Outline() const {
    const QRectF body(0.5, (m_bBelow ? kTail : 0) + 0.5, width() - 1, height() - kTail - 1);
    QPainterPath path;
    path.addRoundedRect(body, kRadius, kRadius);
    QPainterPath tail;
    const qreal edge = m_bBelow ? body.top() + 1 : body.bottom() - 1;
    tail.moveTo(m_tailX - kTail / 2, edge);
    tail.lineTo(m_tailX, m_bBelow ? 0.5 : height() - 0.5);
    tail.lineTo(m_tailX + kTail / 2, edge);
    tail.closeSubpath();
    return path.united(tail).simplified();
}

void BalloonTip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(palette().toolTipBase());
    painter.setPen(palette().color(QPalette::ToolTipText));
    painter.drawPath(Outline());
    painter.drawText(m_textRect, Qt::TextWordWrap, m_text);
}

bool BalloonTip::eventFilter(QObject* pWatched, QEvent* pEvent) {
    switch (pEvent->type()) {
    case QEvent::KeyPress: {
        // A modifier alone is no key yet.
        const int key = static_cast<QKeyEvent*>(pEvent)->key();
        if (key < Qt::Key_Shift || key > Qt::Key_ScrollLock)
            Dismiss();
        break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::NonClientAreaMouseButtonPress:
        Dismiss();
        break;
    case QEvent::Move:
    case QEvent::Hide:
        if (pWatched == parentWidget())
            Dismiss();
        break;
    default:
        break;
    }
    return false;
}

void BalloonTip::Dismiss() {
    qApp->removeEventFilter(this);
    m_timer.stop();
    close(); // deletes it
}
