#pragma once

#include "framework/afx/CmdTarget.h"

#include <QMetaObject>

class CMenu;
class CDataExchange;

// A window object: wraps a widget and routes the messages sent to it through its message map.
class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;

    // Binds this object to a widget; the binding ends when either side goes.
    BOOL Attach(HWND hWnd);
    HWND Detach();
    static CWnd* FromHandlePermanent(HWND hWnd);

    LRESULT SendMessage(UINT nMsg, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL IsIconic() const;
    void GetClientRect(LPRECT lpRect) const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    CMenu* GetSystemMenu(BOOL bRevert) const;
    // The child control with this identifier, or null.
    HWND GetDlgItemHandle(int nID) const;

    // Moves data between the controls and the members (TRUE: from the controls, with checks).
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    virtual LRESULT WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam);
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

private:
    struct Message {
        UINT nMsg;
        WPARAM wParam;
        LPARAM lParam;
    };
    const Message* m_pCurrentMsg = nullptr;
    QMetaObject::Connection m_destroyed;
};

// The platform's processing of a message that no map takes.
LRESULT AfxDefWindowProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
