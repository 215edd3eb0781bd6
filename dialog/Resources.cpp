// The program's resources (U.S. English): dialog templates, the application icon, the About
// string.

#include "dialog/resource.h"

#include "core/StringTable.h"
#include "framework/win32/Resources.h"

#include "dialog/res/MainFrame16.xpm"
#include "dialog/res/MainFrame32.xpm"
#include "dialog/res/MainFrameSvg.h"

namespace {

using Item = DialogTemplate::Item;

// clang-format off
// Dialog 102: extended template; controls in tab and creation order.
const Item kMainItems[] = {
    // id                 class      text            x    y    cx   cy   style                                                             ex hlp icon
    {IDC_OPEN_PORT,       "button",  "Open Port",    35,  15,  45,  15,  BS_PUSHBUTTON | WS_TABSTOP,                                       0, 0, 0},
    {IDC_COMMAND,         "edit",    nullptr,        45,  60,  105, 15,  ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP,                0, 0, 0},
    {-1,                  "static",  "Send",         5,   60,  30,  10,  SS_LEFT | WS_GROUP,                                               0, 0, 0},
    {-1,                  "static",  "Response",     5,   95,  35,  10,  SS_LEFT | WS_GROUP,                                               0, 0, 0},
    {IDC_SEND,            "button",  "Send",         170, 60,  50,  15,  BS_PUSHBUTTON | WS_TABSTOP,                                       0, 0, 0},
    {IDC_CLEAR,           "button",  "Clear",        170, 95,  50,  15,  BS_PUSHBUTTON | WS_TABSTOP,                                       0, 0, 0},
    {IDC_RESPONSE_LIST,   "listbox", nullptr,        45,  95,  105, 95,  LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP, 0, 0, 0},
    {IDC_PORT,            "edit",    nullptr,        70,  35,  40,  15,  ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP,                0, 0, 0},
    {-1,                  "static",  "Port",         45,  40,  15,  10,  SS_LEFT | WS_GROUP,                                               0, 0, 0},
    {IDC_CLOSE_PORT,      "button",  "Close Port",   85,  15,  45,  15,  BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED,                         0, 0, 0},
    {-1,                  "button",  "Port Settings", 20, 5,   130, 50,  BS_GROUPBOX,                                                      0, 0, 0},
};

const DialogTemplate kMainDialog = {
    true, "Morvik Serial Demo", 0, 0, 227, 199,
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, WS_EX_APPWINDOW, 0,
    "MS Sans Serif", 8, 400 /* normal */, false, 1 /* DEFAULT_CHARSET */,
    kMainItems, static_cast<int>(sizeof kMainItems / sizeof kMainItems[0]),
};

// Dialog 100: classic template.
const Item kAboutItems[] = {
    {-1,   "static", nullptr,                        11,  17, 20,  20, SS_ICON,                                   0, 0, IDR_MAINFRAME},
    {-1,   "static", "MorvikSerialDemo Version 1.0", 40,  10, 119, 8,  SS_LEFT | SS_NOPREFIX | WS_GROUP,          0, 0, 0},
    {-1,   "static", "Copyright (C) 2026 Morvik",    40,  25, 119, 8,  SS_LEFT | WS_GROUP,                        0, 0, 0},
    {IDOK, "button", "OK",                           178, 7,  50,  14, BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP,  0, 0, 0},
};

const DialogTemplate kAboutDialog = {
    false, "About Morvik Serial Demo", 0, 0, 235, 55,
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, 0, 0,
    "MS Sans Serif", 8, 0, false, 0,
    kAboutItems, static_cast<int>(sizeof kAboutItems / sizeof kAboutItems[0]),
};
// clang-format on

// The program's text is UTF-8, as the desktop's and its files are: a reply in UTF-8 and a
// command with any character pass the platform whole. The port's encoding is applied where the
// bytes meet the line.
const CResources::ManifestEntry g_manifest(CP_UTF8);
const CResources::DialogEntry g_mainDialog(IDD_SERIALDEMO_DIALOG, &kMainDialog);
const CResources::DialogEntry g_aboutDialog(IDD_ABOUTBOX, &kAboutDialog);
const CResources::IconEntry g_mainFrame(IDR_MAINFRAME, {MainFrame32_xpm, MainFrame16_xpm},
                                        MainFrame_svg);
const CStringTable::Entry g_aboutString(IDS_ABOUTBOX, "&About MorvikSerialDemo...");
// What the response list's menu saves.
const CStringTable::Entry g_saveResponses(IDS_LISTBOX_SAVE_AS, "&Save Responses As...");

} // namespace
