#pragma once

class QPainter;
class QWidget;

// Keeps the lines a widget draws along its own edges (a frame) whole at a scale where a pixel
// of the layout is no whole number of the screen's (1.25, 1.5): there a widget's edge may fall
// inside a screen pixel, and a line on it is cut off or lies under the child beside it. The
// painter moves half a pixel in, so that each such line covers a screen pixel of its own.
void KeepEdgeLinesWhole(QPainter* pPainter, const QWidget* pWidget);
