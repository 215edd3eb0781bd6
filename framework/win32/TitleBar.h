#pragma once

#include "framework/win32/WinTypes.h"

#include <QWidget>

#include <functional>

// The title bar a dialog draws itself where the platform's own would not be as its template
// says: Qt's decoration on Wayland shows minimize and maximize buttons whatever the window's
// flags. It shows the caption and, with a window menu, the icon and Close; a drag moves the
// window (the compositor moves it), a click on the icon or a right click opens the window menu.
class TitleBar : public QWidget {
public:
    // Whether a dialog of this style draws its own on this platform (or the one named, as Qt
    // names it): one with a caption and neither a minimize nor a maximize box, on Wayland.
    static bool Wanted(DWORD dwStyle);
    static bool Wanted(DWORD dwStyle, const QString& platform);
    // How high it is for the window's font.
    static int HeightFor(const QWidget* pWindow);

    // Across the top of the window; with a window menu, which openMenu opens at a point of the
    // screen, it shows the icon and Close.
    TitleBar(QWidget* pWindow, bool bSystemMenu, std::function<void(const QPoint&)> openMenu);

    // Where its parts are, in its coordinates; empty without a window menu.
    QRect CloseRect() const;
    QRect IconRect() const;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    QWidget* m_pWindow;
    bool m_bSystemMenu;
    std::function<void(const QPoint&)> m_openMenu;
    bool m_bCloseHot = false;     // the pointer is over Close
    bool m_bClosePressed = false; // a press on Close waits for its release
};
