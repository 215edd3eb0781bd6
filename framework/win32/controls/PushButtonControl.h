#pragma once

#include <QPushButton>

// A push button of a dialog template. A default push button (BS_DEFPUSHBUTTON) is drawn as
// the default, but Enter is always left to the dialog, which decides what it does.
class PushButtonControl : public QPushButton {
public:
    PushButtonControl(const QString& text, bool bDefault, QWidget* pParent);

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;
};
