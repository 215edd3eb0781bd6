// The "button" class: push buttons and group boxes.

#include "framework/win32/AnsiCodePage.h"
#include "framework/win32/WaitPump.h"
#include "framework/win32/WinUser.h"
#include "framework/win32/controls/ControlClass.h"
#include "framework/win32/controls/GroupBoxControl.h"
#include "framework/win32/controls/PushButtonControl.h"

namespace {

bool IsGroupBox(DWORD style) {
    return (style & BS_TYPEMASK) == BS_GROUPBOX;
}

QWidget* CreateButton(const DialogTemplate::Item& item, QWidget* pDialog) {
    if (IsGroupBox(item.style))
        return new GroupBoxControl(StaticText(item.text, false), pDialog);
    auto* pButton = new PushButtonControl(AnsiCodePage::ToUnicode(item.text),
                                          (item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON, pDialog);
    // A click is the button's notification to its dialog. One that comes while the program
    // waits for a device (a screen reader's press) is dropped as a key or a click then is.
    QObject::connect(pButton, &QPushButton::clicked, [pButton] {
        if (WaitPump::Busy())
            return;
        const HWND hWnd = HandleOf(pButton);
        SendMessageA(GetParent(hWnd), WM_COMMAND,
                     MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(hWnd)), BN_CLICKED),
                     reinterpret_cast<LPARAM>(hWnd));
    });
    return pButton;
}

LRESULT GroupBoxProc(GroupBoxControl* pBox, HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
        return AnsiCodePage::AnswerGetText(nMsg, wParam, lParam, pBox->title());
    case WM_SETTEXT:
        pBox->setTitle(StaticText(reinterpret_cast<LPCSTR>(lParam), false));
        return TRUE;
    default:
        return DefWindowProcA(hWnd, nMsg, wParam, lParam);
    }
}

LRESULT ButtonProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    QWidget* pWidget = ControlWidget<QWidget>(hWnd, kButtonClass);
    if (!pWidget)
        return DefWindowProcA(hWnd, nMsg, wParam, lParam);
    // The style chose the widget when the button was made.
    if (IsGroupBox(static_cast<DWORD>(GetWindowLongA(hWnd, GWL_STYLE))))
        return GroupBoxProc(static_cast<GroupBoxControl*>(pWidget), hWnd, nMsg, wParam, lParam);
    auto* pButton = static_cast<PushButtonControl*>(pWidget);
    switch (nMsg) {
    case WM_GETDLGCODE:
        return DLGC_BUTTON | (pButton->isDefault() ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    case BM_CLICK:
        pButton->click(); // nothing when disabled
        return 0;
    case BM_SETSTYLE:
        // The dialog manager moves the default look between push buttons.
        pButton->setDefault((wParam & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
        return 0;
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
        return AnsiCodePage::AnswerGetText(nMsg, wParam, lParam, pButton->text());
    case WM_SETTEXT:
        pButton->setText(AnsiCodePage::ToUnicode(reinterpret_cast<LPCSTR>(lParam)));
        return TRUE;
    default:
        return DefWindowProcA(hWnd, nMsg, wParam, lParam);
    }
}

} // namespace

const ControlClass kButtonClass = {"button", CreateButton, ButtonProc};
