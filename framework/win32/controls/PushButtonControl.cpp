#include "framework/win32/controls/PushButtonControl.h"

#include <QKeyEvent>

PushButtonControl::PushButtonControl(const QString& text, bool bDefault, QWidget* pParent)
    : QPushButton(text, pParent) {
    // A button that became the default on focus would take Enter for itself.
    setAutoDefault(false);
    setDefault(bDefault);
}

void PushButtonControl::keyPressEvent(QKeyEvent* pEvent) {
    if (pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter) {
        pEvent->ignore(); // on to the dialog
        return;
    }
    QPushButton::keyPressEvent(pEvent);
}
