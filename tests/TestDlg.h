#pragma once

#include "dialog/SerialDemoDlg.h"

// The main dialog with the members a user cannot see opened up for the checks that need them.
class TestDlg : public CSerialDemoDlg {
public:
    using CSerialDemoDlg::m_hIcon;
    using CSerialDemoDlg::m_port;
};
