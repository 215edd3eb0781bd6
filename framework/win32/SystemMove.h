#pragma once

// Whether the window menu's Move can work here: the platform starts a move of the window
// (QWindow::startSystemMove) that the window manager carries out. An X11 window manager does
// so when it supports _NET_WM_MOVERESIZE. A Wayland compositor moves a window only for the
// press of a button that is held on the window itself, which an entry of a menu never is;
// without a window manager (or offscreen) nothing moves windows at all.
class SystemMove {
public:
    static bool Available();
};
