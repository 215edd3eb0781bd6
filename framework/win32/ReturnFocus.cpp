#include "framework/win32/ReturnFocus.h"

#include <QWidget>

void ReturnFocus(QWidget* pOwner) {
    if (pOwner && pOwner->isVisible())
        pOwner->activateWindow();
}
