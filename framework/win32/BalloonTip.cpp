#include "framework/win32/BalloonTip.h"

#include "framework/win32/DialogWindow.h"
#include "framework/win32/WinTypes.h"
#include "framework/win32/WrapText.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QToolTip>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

constexpr int kTail = 10;      // length of the tail, and width of its base
constexpr int kMargin = 8;     // between the outline and the text
constexpr int kRadius = 6;     // of the corners
constexpr int kEms = 40;       // text wider than this many average characters wraps...
constexpr int kWideEms = 64;   // ...or than this, where a lower balloon finds room
constexpr int kWholeRoom = -1; // ...or only at the screen's edge
constexpr int kGap = 2;        // within the window: to its edges and the controls kept clear
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

using Band = std::pair<int, int>; // rows [first, second) across a window

// Within a dialog, what a balloon in it keeps clear of, besides its control: the active
// controls of the control's group box (what a person changes next: the port number after a
// failed open) and the lists (what was said). Outside a dialog, every active control. In the
// window's coordinates.
std::vector<QRect> KeptClear(const QWidget* pWindow, const QWidget* pControl) {
    const DialogWindow* pDialog = DialogOfObject(pWindow);
    const auto itemOf = [pDialog](const QWidget* pChild) {
        return pDialog ? pDialog->ItemOf(pChild) : nullptr;
    };
    const QRect control(pControl->mapTo(pWindow, QPoint(0, 0)), pControl->size());
    const QList<QWidget*> children = pWindow->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    QRect group;
    for (const QWidget* pChild : children) {
        const DialogTemplate::Item* pItem = itemOf(pChild);
        if (pItem && qstricmp(pItem->cls, "button") == 0 &&
            (pItem->style & BS_TYPEMASK) == BS_GROUPBOX && pChild->geometry().contains(control))
            group = pChild->geometry();
    }
    std::vector<QRect> kept{control};
    for (const QWidget* pChild : children) {
        if (pChild == pControl || pChild->isWindow() || !pChild->isVisible() ||
            BalloonTip::IsBalloon(pChild))
            continue;
        const DialogTemplate::Item* pItem = itemOf(pChild);
        const bool list = pItem && qstricmp(pItem->cls, "listbox") == 0;
        const bool active = pChild->isEnabled() && pChild->focusPolicy() != Qt::NoFocus;
        if (list || (active && (!pDialog || group.intersects(pChild->geometry()))))
            kept.push_back(pChild->geometry());
    }
    return kept;
}

// What a tail from a balloon in the window to its control should not cross: every other
// child but the group boxes, whose frames it cannot help crossing. In the window's coordinates.
std::vector<QRect> InTheWay(const QWidget* pWindow, const QWidget* pControl) {
    const DialogWindow* pDialog = DialogOfObject(pWindow);
    std::vector<QRect> rects;
    for (const QWidget* pChild : pWindow->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const DialogTemplate::Item* pItem = pDialog ? pDialog->ItemOf(pChild) : nullptr;
        const bool group = pItem && qstricmp(pItem->cls, "button") == 0 &&
                           (pItem->style & BS_TYPEMASK) == BS_GROUPBOX;
        if (pChild != pControl && !pChild->isWindow() && pChild->isVisible() && !group &&
            !BalloonTip::IsBalloon(pChild))
            rects.push_back(pChild->geometry());
    }
    return rects;
}

// The bands across the window from top to bottom that none of the rectangles reaches into
// (by kGap).
std::vector<Band> FreeBands(int top, int bottom, const std::vector<QRect>& rects) {
    std::vector<Band> bands{{top, bottom}};
    for (const QRect& rect : rects) {
        const int from = rect.top() - kGap, to = rect.bottom() + 1 + kGap;
        std::vector<Band> rest;
        for (const Band& band : bands) {
            if (to <= band.first || from >= band.second) {
                rest.push_back(band);
                continue;
            }
            if (from > band.first)
                rest.emplace_back(band.first, from);
            if (to < band.second)
                rest.emplace_back(to, band.second);
        }
        bands = std::move(rest);
    }
    return bands;
}

// Where a tail between the rows from and to (exclusive) reaches the control: as near its
// middle as the tail passes clear of what is in the way, else at its middle.
int TailColumn(const QRect& control, int from, int to, const std::vector<QRect>& inTheWay) {
    const int half = kTail / 2 + 1;
    std::vector<Band> columns{{control.left() + 2, control.right() - 1}};
    for (const QRect& rect : inTheWay) {
        if (rect.bottom() < from || rect.top() >= to)
            continue;
        const int left = rect.left() - half, right = rect.right() + 1 + half;
        std::vector<Band> rest;
        for (const Band& column : columns) {
            if (right <= column.first || left >= column.second) {
                rest.push_back(column);
                continue;
            }
            if (left > column.first)
                rest.emplace_back(column.first, left);
            if (right < column.second)
                rest.emplace_back(right, column.second);
        }
        columns = std::move(rest);
    }
    const int middle = control.center().x();
    int best = middle, nearest = INT_MAX;
    for (const Band& column : columns) {
        const int x = std::clamp(middle, column.first, column.second - 1);
        if (std::abs(x - middle) < nearest) {
            nearest = std::abs(x - middle);
            best = x;
        }
    }
    return best;
}

// The first n lines of a wrapped text; when more follow, the last of them is the rest of the
// text, cut to the width with an ellipsis.
QStringList FirstLines(const QString& text, const QStringList& lines, int n,
                       const QFontMetrics& metrics, int width) {
    if (lines.size() <= n)
        return lines;
    QStringList shown = lines.mid(0, n - 1);
    qsizetype at = 0;
    for (const QString& line : shown) {
        const qsizetype found = text.indexOf(line, at);
        if (found >= 0)
            at = found + line.size();
    }
    shown << metrics.elidedText(text.mid(at).simplified(), Qt::ElideRight, width);
    return shown;
}

} // namespace

BalloonTip::Room BalloonTip::PlatformRoom() {
    // A Wayland client learns neither where its windows are nor where the screen's edges lie
    // around them; the compositor keeps that to itself.
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland")) ? Room::Window
                                                                                : Room::Screen;
}

void BalloonTip::Show(QWidget* pControl, const QString& text) {
    Show(pControl, text, PlatformRoom());
}

void BalloonTip::Show(QWidget* pControl, const QString& text, Room room) {
    if (g_pCurrent)
        g_pCurrent->Dismiss();
    if (!pControl || !pControl->isVisible())
        return;
    auto* pBalloon = new BalloonTip(pControl, text, room);
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

// On the screen, a tooltip window with the dialog as its transient parent; within the window,
// a child of it.
BalloonTip::BalloonTip(QWidget* pControl, const QString& text, Room room)
    : QWidget(pControl->window(),
              room == Room::Screen ? Qt::ToolTip | Qt::FramelessWindowHint : Qt::Widget),
      m_pControl(pControl), m_text(text), m_room(room) {
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
    if (room == Room::Window) {
        // Over the controls of the window, and a click on it goes to the control below.
        setAttribute(Qt::WA_TransparentForMouseEvents);
        raise();
    }
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

QRegion BalloonTip::Covered() const {
    // The outline's pen reaches half a pixel out, and its smoothing one more.
    const QRegion shape = isWindow() ? mask() : QRegion(Outline(-1).toFillPolygon().toPolygon());
    return shape.translated(mapToGlobal(QPoint(0, 0)));
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
    if (m_room == Room::Window) {
        const Placement within = PlaceInWindow();
        m_lines = within.lines;
        setGeometry(within.rect);
        Arrange(within.side, within.tail, within.along);
        return;
    }
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
    Arrange(best.side, kTail, AlongToControl(best.side));
}

BalloonTip::Placement BalloonTip::PlaceInWindow() const {
    const QWidget* pWindow = m_pControl->window();
    const DialogWindow* pDialog = DialogOfObject(pWindow);
    const QRect client =
        (pDialog ? pDialog->ClientRect() : pWindow->rect()).adjusted(kGap, kGap, -kGap, -kGap);
    const QRect control(m_pControl->mapTo(pWindow, QPoint(0, 0)), m_pControl->size());
    const QFontMetrics metrics(font());
    const int textWidth = client.width() - 2 * kMargin;
    const QStringList lines = WrapText(m_text, metrics, textWidth);

    // The band that shows the most lines, nearest the control; where none is free of what the
    // balloon keeps clear of, the one that would be free of the control alone.
    Band band;
    bool below = true;
    int most = 0;
    for (const std::vector<QRect>& kept :
         {KeptClear(pWindow, m_pControl), std::vector<QRect>{control}}) {
        int nearest = INT_MAX;
        for (const Band& free : FreeBands(client.top(), client.bottom() + 1, kept)) {
            const bool isBelow = free.first > control.bottom();
            if (!isBelow && free.second > control.top())
                continue;
            const int n =
                std::min(static_cast<int>(lines.size()),
                         (free.second - free.first - 2 * kMargin) / metrics.lineSpacing());
            const int distance =
                isBelow ? free.first - control.bottom() : control.top() - free.second;
            if (n < 1 || n < most || (n == most && distance >= nearest))
                continue;
            band = free;
            below = isBelow;
            most = n;
            nearest = distance;
        }
        if (most > 0)
            break;
    }
    if (most == 0) // a window without room for a line: below the control all the same
        band = Band(control.bottom() + 1 + kGap, INT_MAX);

    Placement placement;
    placement.side = below ? Side::Below : Side::Above;
    placement.lines = FirstLines(m_text, lines, std::max(most, 1), metrics, textWidth);
    const QSize body = TextSize(metrics, placement.lines) + QSize(2 * kMargin, 2 * kMargin);
    const int bodyTop = below ? band.first : band.second - body.height();
    const int x =
        below ? TailColumn(control, control.bottom() + 1, bodyTop, InTheWay(pWindow, m_pControl))
              : TailColumn(control, bodyTop + body.height(), control.top(),
                           InTheWay(pWindow, m_pControl));
    const int left = std::clamp(x - body.width() / 2, client.left(),
                                std::max(client.left(), client.right() + 1 - body.width()));
    if (below) {
        placement.rect = QRect(left, control.bottom() + 1, body.width(),
                               bodyTop + body.height() - control.bottom() - 1);
        placement.tail = bodyTop - control.bottom() - 1;
    } else {
        placement.rect = QRect(left, bodyTop, body.width(), control.top() - bodyTop);
        placement.tail = control.top() - bodyTop - body.height();
    }
    placement.along = x - left;
    return placement;
}

int BalloonTip::AlongToControl(Side side) const {
    const QRect control = ControlRect();
    const QPoint at = mapToGlobal(QPoint(0, 0));
    return Vertical(side) ? std::clamp(control.center().x() - at.x(), kLead,
                                       std::max(kLead, width() - 1 - kLead))
                          : std::clamp(control.center().y() - at.y(), kLead,
                                       std::max(kLead, height() - 1 - kLead));
}

void BalloonTip::Arrange(Side side, int tail, int along) {
    m_side = side;
    const int w = width(), h = height();
    switch (side) {
    case Side::Above:
        m_body = QRect(0, 0, w, h - tail);
        m_tail = QPoint(along, h - 1);
        break;
    case Side::Below:
        m_body = QRect(0, tail, w, h - tail);
        m_tail = QPoint(along, 0);
        break;
    case Side::Left:
        m_body = QRect(0, 0, w - tail, h);
        m_tail = QPoint(w - 1, along);
        break;
    case Side::Right:
        m_body = QRect(tail, 0, w - tail, h);
        m_tail = QPoint(0, along);
        break;
    }
    // A window is shaped by a mask: no compositor is needed for the round corners and the
    // tail. The mask holds the outline's whole width, so that no scale cuts an edge of it off.
    // Within the window, what it does not paint shows the window.
    if (isWindow())
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
    if (!m_pControl || m_room == Room::Window)
        return;
    // The window system may put it elsewhere than it was placed (a Wayland compositor flips or
    // slides a popup that would leave the screen): the tail follows, still at the control.
    const QRect control = ControlRect();
    const QPoint centre = geometry().center();
    Side side;
    if (Vertical(m_side))
        side = centre.y() < control.center().y() ? Side::Above : Side::Below;
    else
        side = centre.x() < control.center().x() ? Side::Left : Side::Right;
    Arrange(side, kTail, AlongToControl(side));
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
