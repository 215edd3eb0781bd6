#pragma once

// The classes: CWnd and the classes built on it.
//
// The framework has two floors. This folder (framework/afx) holds the classes a program
// derives from or uses: CCmdTarget, CWnd, CDialog, CWinApp, CButton, CListBox, CMenu,
// CPaintDC, message maps and dialog data exchange. It includes core/ and the platform's
// Qt-free headers (framework/win32/WinTypes.h, WinUser.h) and nothing of Qt: the build keeps Qt
// off its include path. It works on windows through their handles and the platform's calls.
//
// The one call from the platform up into these classes is the window procedure. Attaching a
// handle installs AfxWndProc as the window's procedure and keeps the one it replaced in
// m_pfnSuper; AfxWndProc hands each message to the object's WindowProc, which runs the message
// map, and what no map entry takes goes to DefWindowProc, that is to the replaced procedure.
// WM_NCDESTROY, the last message of a window, detaches the object.

#include "framework/afx/CmdTarget.h"
#include "framework/win32/WinUser.h"

class CMenu;
class CDataExchange;

// A window object: holds a window's handle and routes the messages sent to it through its
// message map.
class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;

    // Binds this object to a window, whose messages then come here; the binding ends with
    // Detach or when the window goes.
    BOOL Attach(HWND hWnd);
    HWND Detach();
    static CWnd* FromHandlePermanent(HWND hWnd);

    LRESULT SendMessage(UINT nMsg, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL IsIconic() const;
    void GetClientRect(LPRECT lpRect) const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    CMenu* GetSystemMenu(BOOL bRevert) const;
    // A balloon tip pointing at the window, and the tooltip it shows (null: none).
    BOOL ShowBalloonTip(LPCSTR lpszText);
    BOOL SetToolTipText(LPCSTR lpszText);
    // The child control with this identifier, or null.
    HWND GetDlgItemHandle(int nID) const;

    // Moves data between the controls and the members (TRUE: from the controls, with checks).
    // Defined with the exchange it runs, which works on windows: DataExchange.cpp.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    virtual LRESULT WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam);
    // The processing of the procedure this object replaced.
    virtual LRESULT DefWindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam);

    // Default handlers: each gives the current message its default processing.
    afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual BOOL OnWndMsg(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    LRESULT Default();

    WNDPROC m_pfnSuper = nullptr;

private:
    struct Message {
        UINT nMsg;
        WPARAM wParam;
        LPARAM lParam;
    };
    const Message* m_pCurrentMsg = nullptr;
};

// The window procedure of every window a CWnd is attached to.
LRESULT AfxWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
