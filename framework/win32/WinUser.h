#pragma once

// The platform: window calls on Qt 6 Widgets, in the shape of the Win32 user interface.
//
// The framework has two floors. This folder (framework/win32) is the platform: handles,
// window procedures, the dialog window, the control classes, templates, resources, message
// boxes and the program entry. Qt lives here and nowhere else of framework/, dialog/ and app/;
// these headers hand out opaque handles. framework/afx above holds the classes (CWnd, CDialog,
// CWinApp, ...) and includes only core/ and the platform's Qt-free headers.
//
// The one call from the platform up into the classes is the window procedure: every window
// has one, stored with its handle, and SendMessageA calls it. A window starts with its class's
// procedure (DefDlgProcA for dialogs, the control classes' own, DefWindowProcA); CWnd installs
// AfxWndProc with SetWindowProc when it attaches a handle and passes what it does not handle
// on to the procedure it replaced. When a window goes, it is sent WM_NCDESTROY last.

#include "framework/win32/WinTypes.h"

#include <cstdint>

struct DialogTemplate;

// Messages and window procedures
LRESULT SendMessageA(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProcA(WNDPROC pfnProc, HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
// Stores a new procedure for the window; returns the one it replaces (null for no window).
WNDPROC SetWindowProc(HWND hWnd, WNDPROC pfnProc);
WNDPROC WindowProcOf(HWND hWnd);
// The default processing of a message, for any window and for a dialog.
LRESULT DefWindowProcA(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
LRESULT DefDlgProcA(HWND hDlg, UINT nMsg, WPARAM wParam, LPARAM lParam);

// Windows
BOOL IsWindow(HWND hWnd);
BOOL DestroyWindow(HWND hWnd);
HWND GetParent(HWND hWnd);
LONG GetWindowLongA(HWND hWnd, int nIndex); // GWL_STYLE or GWL_ID
int GetDlgCtrlID(HWND hWnd);
BOOL EnableWindow(HWND hWnd, BOOL bEnable);
BOOL IsWindowEnabled(HWND hWnd);
BOOL IsWindowVisible(HWND hWnd);
BOOL IsIconic(HWND hWnd);
HWND SetFocus(HWND hWnd);
BOOL GetClientRect(HWND hWnd, LPRECT lpRect);
int GetWindowTextLengthA(HWND hWnd);
int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount);
BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString);
int GetSystemMetrics(int nIndex);

// Dialogs. Creating one builds the window and its controls from the template, hidden; a
// template that names a control class the platform lacks fails the creation, with a line on
// standard error.
HWND CreateDialogA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent);
HWND CreateDialogIndirectA(HINSTANCE hInstance, const DialogTemplate* pTemplate, HWND hWndParent);
// Shows the dialog and runs it modally until EndDialog, which may come before; returns the
// result EndDialog was given.
INT_PTR RunModalDialog(HWND hDlg);
BOOL EndDialog(HWND hDlg, INT_PTR nResult);
HWND GetDlgItem(HWND hDlg, int nIDDlgItem);
// The next tab stop after hCtl (the first one for null) that is enabled, in template order.
HWND GetNextDlgTabItem(HWND hDlg, HWND hCtl, BOOL bPrevious);

// Painting
HDC BeginPaint(HWND hWnd, PAINTSTRUCT* lpPaint);
BOOL EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint);
BOOL DrawIcon(HDC hDC, int x, int y, HICON hIcon);

// Menus: the window menu of a window with WS_SYSMENU.
HMENU GetSystemMenu(HWND hWnd, BOOL bRevert);
BOOL AppendMenuA(HMENU hMenu, UINT uFlags, std::uintptr_t uIDNewItem, LPCSTR lpNewItem);
BOOL IsMenu(HMENU hMenu);

// Tips about a control. A balloon tip points at it and says something without taking the
// focus; it goes at the next key or click, or after about ten seconds. A tooltip shows while
// the pointer rests on the control; null text removes it.
BOOL ShowBalloonTip(HWND hWnd, LPCSTR lpszText);
BOOL SetToolTipText(HWND hWnd, LPCSTR lpszText);

// Screen readers name a field or a list by the text on its left; this names it otherwise, for
// a field whose label says what it is for (a button's text) rather than what it holds.
BOOL SetAccessibleName(HWND hWnd, LPCSTR lpszName);

// A field's history: Up and Down in the field step through the texts added, most recent
// first; they are kept across runs in the file `name` of the program's folder under
// $XDG_STATE_HOME (~/.local/state by default). A file that cannot be read or written loses
// the history, nothing else.
BOOL EnableEditHistory(HWND hEdit, LPCSTR lpszName);
BOOL AddEditHistory(HWND hEdit, LPCSTR lpszText);

// Message boxes. A null owner: the window the user is working in.
int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

// The program's ANSI code page, in which the text of every call here is: 1252 (Windows-1252),
// or CP_UTF8 when its manifest asks for it.
UINT GetACP();

// The module and its resources
HINSTANCE GetModuleHandleA(LPCSTR lpModuleName); // null: the program's own
HICON LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName);
// The program's name: its executable's file name, links followed, without folder or
// extension. Every message of the program names it so, whatever name it was started by.
LPCSTR GetProgramName();

// The program: the platform's entry sets up the display, then calls WinMain, which the floor
// above provides; RunMessageLoop runs until the last window has closed.
int WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);
int RunMessageLoop();
