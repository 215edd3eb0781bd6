#pragma once

// Handles, messages, styles and constants of the platform. No Qt here: above the platform a
// window, menu, icon or device context is an opaque handle (see WinUser.h).

#include "core/Types.h"

#include <cstdint>

typedef struct HWND__* HWND;
typedef struct HMENU__* HMENU;
typedef struct HDC__* HDC;
typedef struct HICON__* HICON;
typedef HICON HCURSOR;
typedef struct HINSTANCE__* HINSTANCE;
typedef char* LPSTR;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;
typedef std::intptr_t LRESULT;
typedef std::intptr_t INT_PTR;

// A window procedure: what a window is sent goes to the one stored for it.
typedef LRESULT (*WNDPROC)(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);

struct RECT {
    LONG left, top, right, bottom;
};
typedef RECT* LPRECT;

struct PAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
};

inline WORD LOWORD(WPARAM w) {
    return static_cast<WORD>(w & 0xFFFF);
}
inline WORD HIWORD(WPARAM w) {
    return static_cast<WORD>((w >> 16) & 0xFFFF);
}
inline WPARAM MAKEWPARAM(WORD lo, WORD hi) {
    return static_cast<WPARAM>(lo) | (static_cast<WPARAM>(hi) << 16);
}
inline LPCSTR MAKEINTRESOURCE(WORD id) {
    return reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(id));
}
inline bool IS_INTRESOURCE(LPCSTR p) {
    return (reinterpret_cast<std::uintptr_t>(p) >> 16) == 0;
}

// Messages
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_ICONERASEBKGND = 0x0027;
constexpr UINT WM_NEXTDLGCTL = 0x0028;
constexpr UINT WM_QUERYDRAGICON = 0x0037;
constexpr UINT WM_SETICON = 0x0080;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_GETDLGCODE = 0x0087;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_USER = 0x0400;
constexpr UINT DM_GETDEFID = WM_USER + 0;
constexpr UINT DM_SETDEFID = WM_USER + 1;
constexpr UINT EM_SETSEL = 0x00B1;
constexpr UINT BM_SETSTYLE = 0x00F4;
constexpr UINT BM_CLICK = 0x00F5;
constexpr UINT LB_ADDSTRING = 0x0180;
constexpr UINT LB_RESETCONTENT = 0x0184;
// The platform's own: a list box line's detail (wParam the line's index, lParam an
// LBITEMDETAIL*), shown in the line's tooltip, copied by its menu's "Copy as Hex" and written by
// its tab-separated save. LB_ERR for a line that is not there.
constexpr UINT LB_SETITEMDETAIL = WM_USER + 0x0100;
constexpr LRESULT LB_ERR = -1;

// Notifications, in the high word of WM_COMMAND's wParam.
constexpr WORD BN_CLICKED = 0;
constexpr WORD LBN_SETFOCUS = 4; // list boxes with LBS_NOTIFY
constexpr WORD EN_SETFOCUS = 0x0100;
// DM_GETDEFID's high word when the dialog has a default push button.
constexpr WORD DC_HASDEFID = 0x534B;
constexpr WPARAM ICON_SMALL = 0;
constexpr WPARAM ICON_BIG = 1;

// What a control answers to WM_GETDLGCODE: how the dialog manager treats it.
constexpr LRESULT DLGC_WANTARROWS = 0x0001;
constexpr LRESULT DLGC_HASSETSEL = 0x0008;
constexpr LRESULT DLGC_DEFPUSHBUTTON = 0x0010;
constexpr LRESULT DLGC_UNDEFPUSHBUTTON = 0x0020;
constexpr LRESULT DLGC_WANTCHARS = 0x0080;
constexpr LRESULT DLGC_STATIC = 0x0100;
constexpr LRESULT DLGC_BUTTON = 0x2000;

// A string a program may register to name, in its own words, what a list box's menu saves
// ("&Save As..." when it registers none).
constexpr UINT IDS_LISTBOX_SAVE_AS = 0xEF10;

// Code pages: the program's ANSI code page is 1252 (Windows-1252) or this.
constexpr UINT CP_UTF8 = 65001;

// Command identifiers
constexpr UINT IDOK = 1;
constexpr UINT IDCANCEL = 2;
constexpr UINT ID_HELP = 0xE146;
constexpr UINT SC_MOVE = 0xF010;
constexpr UINT SC_CLOSE = 0xF060;

// Menus
constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_SEPARATOR = 0x0800;

// System metrics
constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;

// Window data
constexpr int GWL_STYLE = -16;
constexpr int GWL_ID = -12;

// Message boxes
constexpr UINT MB_OK = 0x0000;
constexpr UINT MB_ICONEXCLAMATION = 0x0030;

// Showing a window
constexpr int SW_SHOWDEFAULT = 10;

// Resource types
inline LPCSTR RT_GROUP_ICON() {
    return MAKEINTRESOURCE(14);
}

// What a list box line was made from.
struct LBITEMDETAIL {
    LPCSTR lpszCommand; // the command that asked for it, in the ANSI code page
    long long llTimeMs; // when it came, in milliseconds since 1970-01-01 UTC
    const char* pBytes; // the bytes as they came, their terminator included
    int cbBytes;
};

// Window styles
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000; // a window's; a control's is WS_GROUP
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000; // a window's; a control's is WS_TABSTOP
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;
constexpr DWORD DS_SETFONT = 0x0040;
constexpr DWORD DS_MODALFRAME = 0x0080;
constexpr DWORD SS_LEFT = 0x0000;
constexpr DWORD SS_ICON = 0x0003;
constexpr DWORD SS_TYPEMASK = 0x001F;
constexpr DWORD SS_NOPREFIX = 0x0080;
constexpr DWORD SS_NOTIFY = 0x0100;
constexpr DWORD BS_PUSHBUTTON = 0x0000;
constexpr DWORD BS_DEFPUSHBUTTON = 0x0001;
constexpr DWORD BS_GROUPBOX = 0x0007;
constexpr DWORD BS_TYPEMASK = 0x000F;
constexpr DWORD ES_LEFT = 0x0000;
constexpr DWORD ES_AUTOHSCROLL = 0x0080;
constexpr DWORD LBS_NOTIFY = 0x0001;
constexpr DWORD LBS_SORT = 0x0002;
constexpr DWORD LBS_NOINTEGRALHEIGHT = 0x0100;
