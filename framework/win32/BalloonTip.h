#pragma once

#include <QPainterPath>
#include <QPointer>
#include <QRegion>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <vector>

// A balloon tip: a note pointing at a control, shown without taking the focus. It goes at the
// next key (Escape only takes it away) or click, when its window moves or hides, or after
// kShowMs. One shows at a time. A screen reader hears it as an alert.
//
// Where the platform says where windows are, it is a window of its own, placed above the
// control, else beside it, else below it, wholly on the screen and over none of the other
// controls a person may click or type into, so that no click meant for one lands on it.
// Where it does not (Wayland), only the control's own window is sure to be on the screen: the
// balloon lies within it, across the window in a band free of the control's group (what a
// person changes next) and of lists (what was said), its tail reaching the control between
// the controls in the way. It covers other controls there, and lets clicks through to them.
// A text longer than the band holds ends in "...", the balloon's accessible name keeping it
// whole.
class BalloonTip : public QWidget {
public:
    static constexpr int kShowMs = 10000;

    // Where a balloon may lie.
    enum class Room {
        Screen, // anywhere on the screen, as a window of its own
        Window, // within the control's window, drawn over it
    };
    // The room of this platform: Window where a program cannot learn where its windows are.
    static Room PlatformRoom();

    // Shows the text pointing at the control, in place of a balloon already showing.
    static void Show(QWidget* pControl, const QString& text);
    static void Show(QWidget* pControl, const QString& text, Room room);
    // The balloon showing now, or null.
    static BalloonTip* Current();
    // Whether the object is a balloon (alive, shown or not).
    static bool IsBalloon(const QObject* pObject);

    const QString& Text() const { return m_text; }
    // The text as it is drawn, one entry a line.
    const QStringList& Lines() const { return m_lines; }
    // Where the tail's point is, in global coordinates.
    QPoint TailPoint() const;
    // What it covers: its rounded body and its tail, in global coordinates.
    QRegion Covered() const;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void moveEvent(QMoveEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    enum class Side { Above, Left, Right, Below };
    static bool Vertical(Side side) { return side == Side::Above || side == Side::Below; }

    // Where the balloon may go: a side of the control, its rectangle there, its lines; within
    // the window also its tail's length and where the tail leaves the body (in the rectangle).
    struct Placement {
        Side side = Side::Above;
        QRect rect;
        QStringList lines;
        int tail = 0;
        int along = 0;
    };

    BalloonTip(QWidget* pControl, const QString& text, Room room);
    ~BalloonTip() override;
    QRect ControlRect() const; // global
    // Each side in turn (above, left, right, below), the text wrapped narrow or wider, the tail
    // near the body's start, middle or end: those whole on the screen, the tail at the control.
    std::vector<Placement> Placements(const QRect& control, const QRect& screen) const;
    // The first placement over no other active control of the window, else the one that covers
    // the least of them.
    void Place();
    // Within the window: in the band above or below the control that shows the most of the
    // text, nearest the control; in the window's coordinates.
    Placement PlaceInWindow() const;
    // The body and the tail for a side of the control: the tail's length, and where along the
    // body's edge it leaves it.
    void Arrange(Side side, int tail, int along);
    // Where along the body's edge the tail leaves it to point at the control's middle, from
    // where the balloon is now.
    int AlongToControl(Side side) const;
    QPainterPath Outline(qreal inset) const;
    void Dismiss();

    QPointer<QWidget> m_pControl;
    QString m_text;
    Room m_room;
    QStringList m_lines;
    QTimer m_timer;
    Side m_side = Side::Above;
    QRect m_body; // in the balloon's coordinates; the tail joins it on m_side's far edge
    QPoint m_tail;
};
