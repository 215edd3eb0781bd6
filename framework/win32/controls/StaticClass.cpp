// The "static" class: text and icons.

#include "framework/win32/AnsiCodePage.h"
#include "framework/win32/Resources.h"
#include "framework/win32/WinUser.h"
#include "framework/win32/controls/ControlClass.h"

#include <QLabel>

namespace {

QWidget* CreateStatic(const DialogTemplate::Item& item, QWidget* pDialog) {
    auto* pLabel = new QLabel(pDialog);
    pLabel->setFocusPolicy(Qt::NoFocus);
    // A static control without SS_NOTIFY lets the mouse through to what lies under it.
    if (!(item.style & SS_NOTIFY))
        pLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    if ((item.style & SS_TYPEMASK) == SS_ICON) {
        // An icon static takes the icon's own size.
        const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
        if (HICON hIcon = CResources::FindIcon(item.iconId))
            pLabel->setPixmap(hIcon->pixmap(cx, cy));
        pLabel->setFixedSize(cx, cy); // the template's size does not apply
        return pLabel;
    }
    pLabel->setText(StaticText(item.text, (item.style & SS_NOPREFIX) != 0));
    pLabel->setTextFormat(Qt::PlainText);
    pLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    pLabel->setWordWrap(true);
    return pLabel;
}

LRESULT StaticProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    auto* pLabel = ControlWidget<QLabel>(hWnd, kStaticClass);
    if (!pLabel)
        return DefWindowProcA(hWnd, nMsg, wParam, lParam);
    switch (nMsg) {
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
        return AnsiCodePage::AnswerGetText(nMsg, wParam, lParam, pLabel->text());
    case WM_SETTEXT: {
        const DWORD style = static_cast<DWORD>(GetWindowLongA(hWnd, GWL_STYLE));
        pLabel->setText(StaticText(reinterpret_cast<LPCSTR>(lParam), (style & SS_NOPREFIX) != 0));
        return TRUE;
    }
    default:
        return DefWindowProcA(hWnd, nMsg, wParam, lParam);
    }
}

} // namespace

const ControlClass kStaticClass = {"static", CreateStatic, StaticProc};
