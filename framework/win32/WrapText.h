#pragma once

#include <QString>
#include <QStringList>

class QFont;
class QFontMetrics;
class QWidget;

// The lines of a text no wider than maxWidth pixels: broken at spaces; a word wider than a line
// (a path) after a '/', and what is still too wide anywhere. A hyphen never breaks a word
// ("morvik-ports" is one word to type). Line ends in the text stay.
QStringList WrapText(const QString& text, const QFontMetrics& metrics, int maxWidth);

// A tooltip of any length, as rich text that shows exactly the text: wrapped so that it fits
// the screen of pNear (in width and, cut with an ellipsis, in height).
QString WrappedTipText(const QString& text, const QWidget* pNear);
