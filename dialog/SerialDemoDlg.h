#pragma once

#include "core/String.h"
#include "dialog/resource.h"
#include "framework/afx/Button.h"
#include "framework/afx/Dialog.h"
#include "framework/afx/ListBox.h"
#include "serial/SerialPort.h"

// The main window: open and close a port, send one command at a time, list the replies.
class CSerialDemoDlg : public CDialog {
public:
    explicit CSerialDemoDlg(CWnd* pParent = nullptr);
    ~CSerialDemoDlg() override;

    enum { IDD = IDD_SERIALDEMO_DIALOG };

    // Declaration order is destruction order in reverse: the port closes first.
    CButton m_btnClose;
    CButton m_btnOpen;
    CListBox m_lstResponse;
    CString m_strCommand;
    int m_nPort;

protected:
    HICON m_hIcon;
    CSerialPort m_port;

    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;

public:
    afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();
    afx_msg void OnOpenPort();
    afx_msg void OnSend();
    afx_msg void OnClear();
    afx_msg void OnClosePort();
    afx_msg void OnSetFocusCommand();
    afx_msg void OnSetFocusPort();
    afx_msg void OnSetFocusResponseList();

    DECLARE_MESSAGE_MAP()
};
