#include "framework/win32/SystemMove.h"

#include <QGuiApplication>

#include <cstdlib>
#include <memory>
#include <string>

#include <xcb/xcb.h>

namespace {

struct FreeReply {
    void operator()(void* p) const { std::free(p); }
};
template <class T> using Reply = std::unique_ptr<T, FreeReply>;

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 1, static_cast<uint16_t>(std::char_traits<char>::length(name)), name),
        nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// Whether the running X11 window manager lists _NET_WM_MOVERESIZE among what it supports.
bool X11WindowManagerMoves() {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return false;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_atom_t supported = Atom(c, "_NET_SUPPORTED");
    const xcb_atom_t moveResize = Atom(c, "_NET_WM_MOVERESIZE");
    if (!screen || supported == XCB_ATOM_NONE || moveResize == XCB_ATOM_NONE)
        return false;
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, screen->root, supported, XCB_ATOM_ATOM, 0, 4096), nullptr));
    if (!reply || reply->format != 32)
        return false;
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    const int n = xcb_get_property_value_length(reply.get()) / 4;
    for (int i = 0; i < n; ++i) {
        if (atoms[i] == moveResize)
            return true;
    }
    return false;
}

} // namespace

bool SystemMove::Available() {
    return QGuiApplication::platformName() == QLatin1String("xcb") && X11WindowManagerMoves();
}
