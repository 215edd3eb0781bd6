#pragma once

#include "framework/afx/Wnd.h"

// A modal dialog on a template from the resources.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Creates the dialog, runs it until EndDialog, destroys the window; -1 when it cannot be
    // created (no such template, or a control the platform cannot make).
    virtual INT_PTR DoModal();
    // Loads the members into the controls; TRUE puts the focus on the first tab stop.
    virtual BOOL OnInitDialog();
    void EndDialog(int nResult);
    // The push button Enter presses when the focus is on no push button.
    void SetDefID(UINT nID);
    DWORD GetDefID();

    // Commands the dialog does not take go on to the application.
    BOOL OnCmdMsg(UINT nID, int nCode) override;

    afx_msg virtual void OnOK();
    afx_msg virtual void OnCancel();

protected:
    LPCSTR m_lpszTemplateName;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()
};
