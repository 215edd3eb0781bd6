#include "framework/win32/controls/EdgeLines.h"

#include <QPainter>
#include <QWidget>

#include <cmath>

void KeepEdgeLinesWhole(QPainter* pPainter, const QWidget* pWidget) {
    const qreal ratio = pWidget->devicePixelRatioF();
    if (ratio != std::floor(ratio))
        pPainter->translate(0.5, 0.5);
}
