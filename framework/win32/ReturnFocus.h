#pragma once

class QWidget;

// Gives the keyboard back to the window a box was opened from, once the box has closed.
// A window manager would; without one the focus stays on the screen's root window.
void ReturnFocus(QWidget* pOwner);
