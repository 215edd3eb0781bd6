#include "dialog/SerialDemoDlg.h"

#include "dialog/AboutDlg.h"
#include "framework/afx/DataExchange.h"
#include "framework/afx/Menu.h"
#include "framework/afx/PaintDC.h"
#include "framework/afx/WinApp.h"
#include "core/TextCodec.h"
#include "serial/comm.h"

#include <chrono>
#include <cstdio>
#include <string>

CSerialDemoDlg::CSerialDemoDlg(CWnd* pParent) : CDialog(CSerialDemoDlg::IDD, pParent) {
    m_strCommand = "";
    m_nPort = 0;
    m_hIcon = ::LoadIconA(AfxFindResourceHandle(MAKEINTRESOURCE(IDR_MAINFRAME), RT_GROUP_ICON()),
                          MAKEINTRESOURCE(IDR_MAINFRAME));
}

CSerialDemoDlg::~CSerialDemoDlg() = default;

void CSerialDemoDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_CLOSE_PORT, m_btnClose);
    DDX_Control(pDX, IDC_OPEN_PORT, m_btnOpen);
    DDX_Control(pDX, IDC_RESPONSE_LIST, m_lstResponse);
    DDX_Text(pDX, IDC_COMMAND, m_strCommand);
    DDX_Text(pDX, IDC_PORT, m_nPort);
    DDV_MinMaxInt(pDX, m_nPort, 1, 8);
}

BEGIN_MESSAGE_MAP(CSerialDemoDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_OPEN_PORT, OnOpenPort)
ON_BN_CLICKED(IDC_SEND, OnSend)
ON_BN_CLICKED(IDC_CLEAR, OnClear)
ON_BN_CLICKED(IDC_CLOSE_PORT, OnClosePort)
ON_EN_SETFOCUS(IDC_COMMAND, OnSetFocusCommand)
ON_EN_SETFOCUS(IDC_PORT, OnSetFocusPort)
ON_LBN_SETFOCUS(IDC_RESPONSE_LIST, OnSetFocusResponseList)
END_MESSAGE_MAP()

BOOL CSerialDemoDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    // Add "About..." to the system menu.
    CMenu* pSysMenu = GetSystemMenu(FALSE);
    if (pSysMenu != nullptr) {
        CString strAboutMenu;
        strAboutMenu.LoadString(IDS_ABOUTBOX);
        if (!strAboutMenu.IsEmpty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu);
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_nPort = 1;
    UpdateData(FALSE);

    // Commands sent before, in this run and earlier ones, come back with Up and Down.
    ::EnableEditHistory(GetDlgItemHandle(IDC_COMMAND), "history");
    // Its label is the button's text: a screen reader would say "Send" twice.
    ::SetAccessibleName(GetDlgItemHandle(IDC_COMMAND), "Command");
    return TRUE;
}

void CSerialDemoDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else {
        CDialog::OnSysCommand(nID, lParam);
    }
}

void CSerialDemoDlg::OnPaint() {
    if (IsIconic()) {
        CPaintDC dc(this);
        SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);

        // Centre the icon in the client rectangle.
        const int cxIcon = GetSystemMetrics(SM_CXICON);
        const int cyIcon = GetSystemMetrics(SM_CYICON);
        RECT rect;
        GetClientRect(&rect);
        const int x = (rect.right - rect.left - cxIcon + 1) / 2;
        const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
        ::DrawIcon(dc.GetSafeHdc(), x, y, m_hIcon);
    } else {
        CDialog::OnPaint();
    }
}

HCURSOR CSerialDemoDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

void CSerialDemoDlg::OnOpenPort() {
    UpdateData(TRUE);
    // The port's profile first: a wrong one opens nothing.
    LineProfile profile;
    const BOOL bProfile = CommLoadProfile(static_cast<DWORD>(m_nPort), &profile);
    m_port.Disconnect();
    m_port.SetProfile(profile);
    if (bProfile && m_port.Open(static_cast<DWORD>(m_nPort), profile.baud, profile.ParityCode(),
                                profile.DataBitsCode(), profile.StopBitsCode())) {
        m_btnOpen.EnableWindow(FALSE);
        m_btnClose.EnableWindow(TRUE);
        m_btnOpen.SetToolTipText(nullptr);
    } else {
        m_btnOpen.EnableWindow(TRUE);
        m_btnClose.EnableWindow(FALSE);
        // Why: at the button, until the next open, and for the journal.
        const CString strReason = CommErrorMessage();
        m_btnOpen.ShowBalloonTip(strReason);
        m_btnOpen.SetToolTipText(strReason);
        std::fprintf(stderr, "%s: %s\n", AfxGetAppName(), static_cast<const char*>(strReason));
    }
}

void CSerialDemoDlg::OnSend() {
    UpdateData(TRUE);
    // The program's text is UTF-8; the line takes the port's encoding, and a character it
    // cannot carry is said rather than sent as something else.
    const TextCodec::Encoding encoding = m_port.Profile().Codec();
    std::string command;
    std::string why;
    if (!TextCodec::Encode(static_cast<const char*>(m_strCommand), encoding, &command, &why)) {
        ::ShowBalloonTip(GetDlgItemHandle(IDC_SEND), ("not sent: " + why).c_str());
        return;
    }
    ::AddEditHistory(GetDlgItemHandle(IDC_COMMAND), m_strCommand);
    CString strCommand = command.c_str();
    strCommand += m_port.Profile().CommandEndBytes();
    m_port.SendString(strCommand);

    CString strReply;
    m_port.ReceiveLine(strReply);
    const auto came = std::chrono::system_clock::now().time_since_epoch();
    strReply.TrimRight();
    if (strReply.IsEmpty())
        strReply = "Serial Error";
    else
        strReply = TextCodec::Decode(static_cast<const char*>(strReply), encoding).c_str();
    const int nIndex = m_lstResponse.AddString(strReply);

    // What the line was made from, for its tooltip, Copy as Hex and the tab-separated save.
    const std::string& bytes = m_port.LastReply().bytes;
    LBITEMDETAIL detail{};
    detail.lpszCommand = m_strCommand;
    detail.llTimeMs = std::chrono::duration_cast<std::chrono::milliseconds>(came).count();
    detail.pBytes = bytes.data();
    detail.cbBytes = static_cast<int>(bytes.size());
    m_lstResponse.SetItemDetail(nIndex, detail);

    UpdateData(FALSE);

    // A device that went away is not a silent one: say so, and show the port closed so that
    // one click opens it again once the device is back.
    if (m_port.LastReply().ending == SerialReply::Ending::Gone) {
        const CString strReason = CommGoneMessage(m_port.m_hPort);
        m_port.Disconnect();
        m_btnOpen.EnableWindow(TRUE);
        m_btnClose.EnableWindow(FALSE);
        ::ShowBalloonTip(GetDlgItemHandle(IDC_SEND), strReason);
        std::fprintf(stderr, "%s: %s\n", AfxGetAppName(), static_cast<const char*>(strReason));
    }
}

void CSerialDemoDlg::OnClear() {
    m_lstResponse.ResetContent();
}

void CSerialDemoDlg::OnClosePort() {
    m_port.Disconnect();
    m_btnOpen.EnableWindow(TRUE);
    m_btnClose.EnableWindow(FALSE);
}

// Enter in a field presses the button that acts on it; on the list it gives OK, which does
// nothing here.
void CSerialDemoDlg::OnSetFocusCommand() {
    SetDefID(IDC_SEND);
}

void CSerialDemoDlg::OnSetFocusPort() {
    SetDefID(IDC_OPEN_PORT);
}

void CSerialDemoDlg::OnSetFocusResponseList() {
    SetDefID(IDOK);
}

// The dialog has no OK button, and ending it would throw the replies away: Enter never ends
// it. Escape and the window's Close still do.
void CSerialDemoDlg::OnOK() {}
