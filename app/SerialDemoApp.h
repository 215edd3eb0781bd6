#pragma once

#include "framework/afx/WinApp.h"

// The application: runs the main dialog modally, then ends.
class CSerialDemoApp : public CWinApp {
public:
    CSerialDemoApp();
    ~CSerialDemoApp() override;

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

extern CSerialDemoApp theApp;
