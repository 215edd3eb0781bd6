#include "framework/win32/controls/ControlClass.h"

#include "framework/win32/AnsiCodePage.h"
#include "framework/win32/WinUser.h"

#include <QEvent>
#include <QWidget>

#include <strings.h>

namespace {

class FocusNotifier : public QObject {
public:
    FocusNotifier(QWidget* pControl, WORD nCode) : QObject(pControl), m_nCode(nCode) {
        pControl->installEventFilter(this);
    }

    bool eventFilter(QObject* pWatched, QEvent* pEvent) override {
        if (pEvent->type() == QEvent::FocusIn) {
            const HWND hWnd = HandleOf(static_cast<QWidget*>(pWatched));
            SendMessageA(GetParent(hWnd), WM_COMMAND,
                         MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(hWnd)), m_nCode),
                         reinterpret_cast<LPARAM>(hWnd));
        }
        return false;
    }

private:
    WORD m_nCode;
};

} // namespace

const ControlClass* FindControlClass(const char* pszName) {
    static const ControlClass* const kClasses[] = {&kButtonClass, &kEditClass, &kStaticClass,
                                                   &kListBoxClass};
    for (const ControlClass* pClass : kClasses) {
        if (pszName && strcasecmp(pClass->name, pszName) == 0)
            return pClass;
    }
    return nullptr;
}

void NotifyOnFocus(QWidget* pControl, WORD nCode) {
    new FocusNotifier(pControl, nCode);
}

QString StaticText(const char* psz, bool bNoPrefix) {
    const QString text = AnsiCodePage::ToUnicode(psz);
    if (bNoPrefix)
        return text;
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size())
            ++i;
        out += text[i];
    }
    return out;
}
