// Tips about a control: balloon tips and tooltips.

#include "framework/win32/AnsiCodePage.h"
#include "framework/win32/BalloonTip.h"
#include "framework/win32/Handles.h"
#include "framework/win32/WinUser.h"
#include "framework/win32/WrapText.h"

#include <QHelpEvent>
#include <QToolTip>

namespace {

constexpr const char* kWrappedTipName = "wrappedToolTip";

// Shows the control's tooltip wrapped to fit the screen: Qt shows a plain text on one line,
// however long it is.
class WrappedToolTip : public QObject {
public:
    explicit WrappedToolTip(QWidget* pControl) : QObject(pControl) {
        setObjectName(kWrappedTipName);
        pControl->installEventFilter(this);
    }

    bool eventFilter(QObject* pWatched, QEvent* pEvent) override {
        if (pEvent->type() != QEvent::ToolTip)
            return false;
        auto* pControl = static_cast<QWidget*>(pWatched);
        const QString text = pControl->toolTip();
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(static_cast<QHelpEvent*>(pEvent)->globalPos(),
                               WrappedTipText(text, pControl), pControl);
        return true;
    }
};

} // namespace

BOOL ShowBalloonTip(HWND hWnd, LPCSTR lpszText) {
    QWidget* pWidget = WidgetOf(hWnd);
    if (!pWidget || !lpszText)
        return FALSE;
    BalloonTip::Show(pWidget, AnsiCodePage::ToUnicode(lpszText));
    return TRUE;
}

BOOL SetToolTipText(HWND hWnd, LPCSTR lpszText) {
    QWidget* pWidget = WidgetOf(hWnd);
    if (!pWidget)
        return FALSE;
    if (!pWidget->findChild<QObject*>(kWrappedTipName, Qt::FindDirectChildrenOnly))
        new WrappedToolTip(pWidget);
    pWidget->setToolTip(lpszText ? AnsiCodePage::ToUnicode(lpszText) : QString());
    return TRUE;
}
