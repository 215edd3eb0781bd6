#include "framework/win32/BalloonTip.h"

#include "framework/win32/WrapText.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QToolTip>

#include <algorithm>
#include <climits>
#include <unordered_set>
#include <vector>

namespace {

constexpr int kTail = 10;      // length of the tail, and width of its base
constexpr int kMargin = 8;     // between the outline and the text
constexpr int kRadius = 6;     // of the corners
constexpr int kEms = 40;       // text wider than this many average characters wraps...
constexpr int kWideEms = 64;   // ...or than this, where a lower balloon finds room
constexpr int kWholeRoom = -1; // ...or only at the screen's edge
// From the body's corner to the middle of the tail's base, at least.
constexpr int kLead = kRadius + kTail / 2;

QPointer<BalloonTip> g_pCurrent;

std::unordered_set<const QObject*>& LiveBalloons() {
    static auto* balloons = new std::unordered_set<const QObject*>; // outlives every balloon
    return *balloons;
}

// A balloon is an alert to a screen reader.
QAccessibleInterface* AccessibleBalloon(const QString&, QObject* pObject) {
    return BalloonTip::IsBalloon(pObject)
               ? new QAccessibleWidget(static_cast<QWidget*>(pObject), QAccessible::AlertMessage)
               : nullptr;
}

// As wide as the widest line is measured when wrapping, so that a text wrapped to the room
// there is fits it.
QSize TextSize(const QFontMetrics& metrics, const QStringList& lines) {
    int width = 0;
    for (const QString& line : lines)
        width = std::max(width, metrics.horizontalAdvance(line));
    return QSize(width, static_cast<int>(lines.size()) * metrics.lineSpacing());
}

// The global rectangles of the controls of the window a person may click or type into.
std::vector<QRect> ActiveControls(const QWidget* pWindow, const QWidget* pExcept) {
    std::vector<QRect> rects;
    for (const QWidget* pChild : pWindow->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (pChild != pExcept && !pChild->isWindow() && pChild->isVisible() &&
            pChild->isEnabled() && pChild->focusPolicy() != Qt::NoFocus)
            rects.emplace_back(pChild->mapToGlobal(QPoint(0, 0)), pChild->size());
    }
    return rects;
}

long long Overlap(const QRect& rect, const std::vector<QRect>& others) {
    long long area = 0;
    for (const QRect& other : others) {
        const QRect common = rect & other;
        if (!common.isEmpty())
            area += static_cast<long long>(common.width()) * common.height();
    }
    return area;
}

} // namespace

void BalloonTip::Show(QWidget* pControl, const QString& text) {
    if (g_pCurrent)
        g_pCurrent->Dismiss();
    if (!pControl || !pControl->isVisible())
        return;
    auto* pBalloon = new BalloonTip(pControl, text);
    g_pCurrent = pBalloon;
    pBalloon->show();
    // Qt tells screen readers nothing when a tooltip window shows: an alert that appears is
    // what they announce.
    for (QAccessible::Event type : {QAccessible::ObjectShow, QAccessible::Alert}) {
        QAccessibleEvent event(pBalloon, type);
        QAccessible::updateAccessibility(&event);
    }
}

BalloonTip* BalloonTip::Current() {
    return g_pCurrent && g_pCurrent->isVisible() ? g_pCurrent.data() : nullptr;
}

bool BalloonTip::IsBalloon(const QObject* pObject) {
    return LiveBalloons().count(pObject) != 0;
}

// A tooltip window with the dialog as its transient parent: a Wayland compositor makes it the
// dialog's popup and keeps it on the screen.
BalloonTip::BalloonTip(QWidget* pControl, const QString& text)
    : QWidget(pControl->window(), Qt::ToolTip | Qt::FramelessWindowHint), m_pControl(pControl),
      m_text(text) {
    // Known as a balloon before anything asks for a screen reader's view of it (Qt keeps each
    // factory once).
    QAccessible::installFactory(AccessibleBalloon);
    LiveBalloons().insert(this);
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

BalloonTip::~BalloonTip() {
    LiveBalloons().erase(this);
}

QRect BalloonTip::ControlRect() const {
    return QRect(m_pControl->mapToGlobal(QPoint(0, 0)), m_pControl->size());
}

QPoint BalloonTip::TailPoint() const {
    return mapToGlobal(m_tail);
}

std::vector<BalloonTip::Placement> BalloonTip::Placements(const QRect& control,
                                                          const QRect& screen) const {
    const QFontMetrics metrics(font());
    // Narrower than this the text would be a column of broken words.
    const int narrowest = std::min(kEms * metrics.averageCharWidth(),
                                   TextSize(metrics, WrapText(m_text, metrics, INT_MAX)).width());
    std::vector<Placement> placements;
    for (Side side : {Side::Above, Side::Left, Side::Right, Side::Below}) {
        const bool vertical = Vertical(side);
        const int room = vertical             ? screen.width()
                         : side == Side::Left ? control.left() - screen.left() - kTail
                                              : screen.right() - control.right() - kTail;
        QStringList lastLines;
        for (int ems : {kEms, kWideEms, kWholeRoom}) {
            const int widest = room - 2 * kMargin;
            const int width =
                ems == kWholeRoom ? widest : std::min(ems * metrics.averageCharWidth(), widest);
            if (width < narrowest)
                continue;
            const QStringList lines = WrapText(m_text, metrics, width);
            if (lines == lastLines)
                continue;
            lastLines = lines;
            const QSize body = TextSize(metrics, lines) + QSize(2 * kMargin, 2 * kMargin);
            const QSize size = body + (vertical ? QSize(0, kTail) : QSize(kTail, 0));
            const int along = vertical ? size.width() : size.height();
            if (along < 2 * kLead)
                continue;
            // The tail near the body's start, in its middle, near its end.
            for (int tail : {kLead, along / 2, along - kLead}) {
                QPoint at;
                if (vertical) {
                    at.setX(std::clamp(control.center().x() - tail, screen.left(),
                                       std::max(screen.left(), screen.right() + 1 - size.width())));
                    at.setY(side == Side::Above ? control.top() - size.height()
                                                : control.bottom() + 1);
                } else {
                    at.setY(
                        std::clamp(control.center().y() - tail, screen.top(),
                                   std::max(screen.top(), screen.bottom() + 1 - size.height())));
                    at.setX(side == Side::Left ? control.left() - size.width()
                                               : control.right() + 1);
                }
                const QRect rect(at, size);
                // Whole on the screen, and the tail can reach the control from there.
                const bool reaches = vertical ? rect.left() + kLead <= control.right() - 2 &&
                                                    rect.right() - kLead >= control.left() + 2
                                              : rect.top() + kLead <= control.bottom() - 2 &&
                                                    rect.bottom() - kLead >= control.top() + 2;
                if (screen.contains(rect) && reaches)
                    placements.push_back(Placement{side, rect, lines});
            }
        }
    }
    return placements;
}

void BalloonTip::Place() {
    const QRect control = ControlRect();
    const QScreen* pScreen = m_pControl->screen();
    const QRect screen =
        pScreen ? pScreen->availableGeometry() : control.adjusted(-4000, -4000, 4000, 4000);
    const std::vector<QRect> avoid = ActiveControls(m_pControl->window(), m_pControl);

    const std::vector<Placement> placements = Placements(control, screen);
    const Placement* pBest = nullptr;
    long long least = 0;
    for (const Placement& placement : placements) {
        const long long overlap = Overlap(placement.rect, avoid);
        if (!pBest || overlap < least) {
            pBest = &placement;
            least = overlap;
        }
        if (overlap == 0)
            break;
    }
    Placement best;
    if (pBest) {
        best = *pBest;
    } else {
        // No room anywhere (a screen smaller than the text): above, kept on the screen.
        const QFontMetrics metrics(font());
        best.lines = WrapText(m_text, metrics, kEms * metrics.averageCharWidth());
        const QSize size = TextSize(metrics, best.lines) + QSize(2 * kMargin, 2 * kMargin + kTail);
        best.rect =
            QRect(QPoint(std::clamp(control.center().x() - kLead, screen.left(),
                                    std::max(screen.left(), screen.right() + 1 - size.width())),
                         std::max(screen.top(), control.top() - size.height())),
                  size);
    }
    m_lines = best.lines;
    setGeometry(best.rect);
    Arrange(best.side);
}

void BalloonTip::Arrange(Side side) {
    m_side = side;
    const QRect control = ControlRect();
    const QPoint at = pos();
    const int w = width(), h = height();
    switch (side) {
    case Side::Above:
    case Side::Below: {
        const int x =
            std::clamp(control.center().x() - at.x(), kLead, std::max(kLead, w - 1 - kLead));
        m_body = side == Side::Above ? QRect(0, 0, w, h - kTail) : QRect(0, kTail, w, h - kTail);
        m_tail = QPoint(x, side == Side::Above ? h - 1 : 0);
        break;
    }
    case Side::Left:
    case Side::Right: {
        const int y =
            std::clamp(control.center().y() - at.y(), kLead, std::max(kLead, h - 1 - kLead));
        m_body = side == Side::Left ? QRect(0, 0, w - kTail, h) : QRect(kTail, 0, w - kTail, h);
        m_tail = QPoint(side == Side::Left ? w - 1 : 0, y);
        break;
    }
    }
    // Shaped by a mask: no compositor is needed for the round corners and the tail. The mask
    // holds the outline's whole width, so that no scale cuts an edge of it off.
    setMask(QRegion(Outline(0).toFillPolygon().toPolygon()));
    update();
}

QPainterPath BalloonTip::Outline(qreal inset) const {
    const QRectF body = QRectF(m_body).adjusted(inset, inset, -inset, -inset);
    QPainterPath path;
    path.addRoundedRect(body, kRadius, kRadius);
    // The tail: its point on the window's edge, its base one pixel into the body.
    const qreal half = kTail / 2.0;
    const QPointF mid = QPointF(m_tail) + QPointF(0.5, 0.5);
    QPointF point, a, b;
    switch (m_side) {
    case Side::Above:
        point = QPointF(mid.x(), height() - inset);
        a = QPointF(mid.x() - half, body.bottom() - 1);
        b = QPointF(mid.x() + half, body.bottom() - 1);
        break;
    case Side::Below:
        point = QPointF(mid.x(), inset);
        a = QPointF(mid.x() - half, body.top() + 1);
        b = QPointF(mid.x() + half, body.top() + 1);
        break;
    case Side::Left:
        point = QPointF(width() - inset, mid.y());
        a = QPointF(body.right() - 1, mid.y() - half);
        b = QPointF(body.right() - 1, mid.y() + half);
        break;
    case Side::Right:
        point = QPointF(inset, mid.y());
        a = QPointF(body.left() + 1, mid.y() - half);
        b = QPointF(body.left() + 1, mid.y() + half);
        break;
    }
    QPainterPath tail;
    tail.moveTo(a);
    tail.lineTo(point);
    tail.lineTo(b);
    tail.closeSubpath();
    return path.united(tail).simplified();
}

void BalloonTip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(palette().toolTipBase());
    painter.setPen(palette().color(QPalette::ToolTipText));
    painter.drawPath(Outline(0.5));
    const QFontMetrics metrics(font());
    for (int i = 0; i < m_lines.size(); ++i)
        painter.drawText(m_body.topLeft() + QPoint(kMargin, kMargin + i * metrics.lineSpacing() +
                                                                metrics.ascent()),
                         m_lines[i]);
}

void BalloonTip::moveEvent(QMoveEvent* pEvent) {
    QWidget::moveEvent(pEvent);
    if (!m_pControl)
        return;
    // The window system may put it elsewhere than it was placed (a Wayland compositor flips or
    // slides a popup that would leave the screen): the tail follows, still at the control.
    const QRect control = ControlRect();
    const QPoint centre = geometry().center();
    if (Vertical(m_side))
        Arrange(centre.y() < control.center().y() ? Side::Above : Side::Below);
    else
        Arrange(centre.x() < control.center().x() ? Side::Left : Side::Right);
}

bool BalloonTip::eventFilter(QObject* pWatched, QEvent* pEvent) {
    switch (pEvent->type()) {
    case QEvent::KeyPress: {
        // A modifier alone is no key yet.
        const int key = static_cast<QKeyEvent*>(pEvent)->key();
        if (key >= Qt::Key_Shift && key <= Qt::Key_ScrollLock)
            break;
        Dismiss();
        // Escape only takes the balloon away: the dialog would end with it, and the list too.
        return key == Qt::Key_Escape;
    }
    case QEvent::MouseButtonPress:
    case QEvent::NonClientAreaMouseButtonPress:
        // The click goes on to where it was meant: the balloon covers no control.
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
