#pragma once

#include <QPainterPath>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <vector>

// A balloon tip: a note pointing at a control, shown without taking the focus. It goes at the
// next key (Escape only takes it away) or click, when its window moves or hides, or after
// kShowMs. One shows at a time.
//
// It is placed above the control, else beside it, else below it, wholly on the screen and over
// none of the other controls a person may click or type into, so that no click meant for one
// lands on the balloon. A screen reader hears it as an alert.
class BalloonTip : public QWidget {
public:
    static constexpr int kShowMs = 10000;

    // Shows the text pointing at the control, in place of a balloon already showing.
    static void Show(QWidget* pControl, const QString& text);
    // The balloon showing now, or null.
    static BalloonTip* Current();
    // Whether the object is a balloon (alive, shown or not).
    static bool IsBalloon(const QObject* pObject);

    const QString& Text() const { return m_text; }
    // The text as it is drawn, one entry a line.
    const QStringList& Lines() const { return m_lines; }
    // Where the tail's point is, in global coordinates.
    QPoint TailPoint() const;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void moveEvent(QMoveEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    enum class Side { Above, Left, Right, Below };
    static bool Vertical(Side side) { return side == Side::Above || side == Side::Below; }

    // Where the balloon may go: a side of the control, its rectangle there, its lines.
    struct Placement {
        Side side = Side::Above;
        QRect rect;
        QStringList lines;
    };

    BalloonTip(QWidget* pControl, const QString& text);
    ~BalloonTip() override;
    QRect ControlRect() const; // global
    // Each side in turn (above, left, right, below), the text wrapped narrow or wider, the tail
    // near the body's start, middle or end: those whole on the screen, the tail at the control.
    std::vector<Placement> Placements(const QRect& control, const QRect& screen) const;
    // The first placement over no other active control of the window, else the one that covers
    // the least of them.
    void Place();
    // The body and the tail for a side of the control, from where the window is now.
    void Arrange(Side side);
    QPainterPath Outline(qreal inset) const;
    void Dismiss();

    QPointer<QWidget> m_pControl;
    QString m_text;
    QStringList m_lines;
    QTimer m_timer;
    Side m_side = Side::Above;
    QRect m_body; // in the balloon's coordinates; the tail joins it on m_side's far edge
    QPoint m_tail;
};
