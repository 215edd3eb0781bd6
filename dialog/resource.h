#pragma once

// Resource identifiers: dialogs, strings, icon, menu commands and controls.
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_SERIALDEMO_DIALOG 102
#define IDR_MAINFRAME 128
#define IDM_ABOUTBOX 0x0010
#define IDC_OPEN_PORT 1000
#define IDC_COMMAND 1001
#define IDC_SEND 1003
#define IDC_CLEAR 1004
#define IDC_RESPONSE_LIST 1005
#define IDC_PORT 1006
#define IDC_CLOSE_PORT 1007
