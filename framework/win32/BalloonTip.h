#pragma once

#include <QPainterPath>
#include <QPointer>
#include <QTimer>
#include <QWidget>

// A balloon tip: a note pointing at a control, shown without taking the focus. It goes at the
// next key or click, when its window moves or hides, or after kShowMs. One shows at a time.
class BalloonTip : public QWidget {
public:
    static constexpr int kShowMs = 10000;

    // Shows the text pointing at the control, in place of a balloon already showing.
    static void Show(QWidget* pControl, const QString& text);
    // The balloon showing now, or null.
    static BalloonTip* Current();

    const QString& Text() const { return m_text; }
    // Where the tail's point is, in global coordinates.
    QPoint TailPoint() const;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    BalloonTip(QWidget* pControl, const QString& text);
    void Place();
    QPainterPath Outline() const;
    void Dismiss();

    QPointer<QWidget> m_pControl;
    QString m_text;
    QTimer m_timer;
    QRect m_textRect;
    int m_tailX = 0;
    bool m_bBelow = true; // the balloon hangs below the control, its tail pointing up
};
