#pragma once

#include "dialog/resource.h"
#include "framework/afx/Dialog.h"

// The About box: the program's name, version and notice.
class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override;

    enum { IDD = IDD_ABOUTBOX };

protected:
    void DoDataExchange(CDataExchange* pDX) override;

    DECLARE_MESSAGE_MAP()
};
