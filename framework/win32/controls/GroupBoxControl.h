#pragma once

#include <QGroupBox>

// A group box as a dialog template draws it: an etched frame whose top line runs through the
// middle of the title, the title breaking the line, nothing filled. It takes no mouse input:
// the controls it encloses, and the dialog behind it, get the clicks.
class GroupBoxControl : public QGroupBox {
public:
    GroupBoxControl(const QString& title, QWidget* pParent);

    // Where the title sits, in the control's coordinates; the frame's top line passes through
    // its vertical middle and is broken across its width.
    QRect TitleRect() const;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
};
