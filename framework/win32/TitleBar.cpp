#include "framework/win32/TitleBar.h"

#include "framework/win32/Handles.h"
#include "framework/win32/WinUser.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include <algorithm>
#include <utility>

namespace {

constexpr int kIconSize = 16;
constexpr int kPadding = 4; // round the icon and the Close button

} // namespace

bool TitleBar::Wanted(DWORD dwStyle) {
    return Wanted(dwStyle, QGuiApplication::platformName());
}

bool TitleBar::Wanted(DWORD dwStyle, const QString& platform) {
    return (dwStyle & WS_CAPTION) == WS_CAPTION &&
           !(dwStyle & WS_SYSMENU && dwStyle & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) &&
           platform.startsWith(QLatin1String("wayland"));
}

int TitleBar::HeightFor(const QWidget* pWindow) {
    return std::max(kIconSize + 2 * kPadding + 2, pWindow->fontMetrics().height() + 12);
}

TitleBar::TitleBar(QWidget* pWindow, bool bSystemMenu, std::function<void(const QPoint&)> openMenu)
    : QWidget(pWindow), m_pWindow(pWindow), m_bSystemMenu(bSystemMenu),
      m_openMenu(std::move(openMenu)) {
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setAccessibleName(pWindow->windowTitle());
    pWindow->installEventFilter(this); // its title, its icon, its activation, its width
    setGeometry(0, 0, pWindow->width(), HeightFor(pWindow));
}

QRect TitleBar::CloseRect() const {
    if (!m_bSystemMenu)
        return QRect();
    const int side = height() - 2 * kPadding;
    return QRect(width() - kPadding - side, kPadding, side, side);
}

QRect TitleBar::IconRect() const {
    if (!m_bSystemMenu)
        return QRect();
    return QRect(kPadding + 2, (height() - kIconSize) / 2, kIconSize, kIconSize);
}

void TitleBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const bool active = m_pWindow->isActiveWindow();
    const QPalette& colours = palette();
    painter.fillRect(rect(), colours.color(QPalette::Window).darker(active ? 112 : 104));
    painter.setPen(colours.color(QPalette::Mid));
    painter.drawRect(
        rect().adjusted(0, 0, -1, 0)); // the window's top and sides; the dialog the rest

    const QIcon icon = m_pWindow->windowIcon();
    if (m_bSystemMenu && !icon.isNull())
        icon.paint(&painter, IconRect());

    // The caption in the middle, as far as it fits between the icon and Close.
    QFont font = m_pWindow->font();
    font.setBold(true);
    painter.setFont(font);
    const int side = m_bSystemMenu ? width() - CloseRect().left() + kPadding : kPadding;
    const QRect room = rect().adjusted(side, 0, -side, 0);
    painter.setPen(
        colours.color(active ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(
        room, Qt::AlignCenter,
        QFontMetrics(font).elidedText(m_pWindow->windowTitle(), Qt::ElideRight, room.width()));

    if (!m_bSystemMenu)
        return;
    const QRect close = CloseRect();
    if (m_bCloseHot || m_bClosePressed) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colours.color(QPalette::Window).darker(m_bClosePressed ? 140 : 125));
        painter.drawRoundedRect(close, 3, 3);
    }
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(colours.color(active ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    pen.setWidthF(1.5);
    painter.setPen(pen);
    const QRectF cross = QRectF(close).adjusted(close.width() * 0.3, close.height() * 0.3,
                                                -close.width() * 0.3, -close.height() * 0.3);
    painter.drawLine(cross.topLeft(), cross.bottomRight());
    painter.drawLine(cross.bottomLeft(), cross.topRight());
}

void TitleBar::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton)
        return;
    const QPoint at = pEvent->position().toPoint();
    if (CloseRect().contains(at)) {
        m_bClosePressed = true;
        update();
    } else if (m_bSystemMenu &&
               IconRect().adjusted(-kPadding, -kPadding, kPadding, kPadding).contains(at)) {
        m_openMenu(mapToGlobal(QPoint(0, height())));
    } else if (QWindow* pWindow = m_pWindow->windowHandle()) {
        // The compositor moves the window for as long as the button is held.
        pWindow->startSystemMove();
    }
}

void TitleBar::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton || !m_bClosePressed)
        return;
    m_bClosePressed = false;
    update();
    if (CloseRect().contains(pEvent->position().toPoint()))
        SendMessageA(HandleOf(m_pWindow), WM_SYSCOMMAND, SC_CLOSE, 0);
}

void TitleBar::mouseMoveEvent(QMouseEvent* pEvent) {
    const bool hot = CloseRect().contains(pEvent->position().toPoint());
    if (hot != m_bCloseHot) {
        m_bCloseHot = hot;
        update();
    }
}

void TitleBar::leaveEvent(QEvent*) {
    m_bCloseHot = false;
    update();
}

void TitleBar::contextMenuEvent(QContextMenuEvent* pEvent) {
    m_openMenu(pEvent->globalPos());
}

bool TitleBar::eventFilter(QObject*, QEvent* pEvent) {
    switch (pEvent->type()) {
    case QEvent::WindowTitleChange:
        setAccessibleName(m_pWindow->windowTitle());
        update();
        break;
    case QEvent::ActivationChange:
    case QEvent::WindowIconChange:
        update();
        break;
    case QEvent::Resize:
        resize(m_pWindow->width(), height());
        break;
    default:
        break;
    }
    return false;
}
