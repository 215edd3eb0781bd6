#include "framework/win32/DialogWindow.h"

#include "framework/win32/AnsiCodePage.h"
#include "framework/win32/Handles.h"
#include "framework/win32/ReturnFocus.h"
#include "framework/win32/SystemMove.h"
#include "framework/win32/TitleBar.h"
#include "framework/win32/WinUser.h"
#include "framework/win32/controls/ControlClass.h"

#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QStyle>

#include <algorithm>
#include <unordered_set>

namespace {

QFont::Weight QtWeight(WORD weight) {
    return weight >= 600 ? QFont::Bold : QFont::Normal;
}

std::unordered_set<const QObject*>& LiveDialogs() {
    static auto* dialogs = new std::unordered_set<const QObject*>; // outlives every dialog
    return *dialogs;
}

// A dialog whose children come in template order, which is the tab order. Qt would take the
// stacking order, the template's reversed: the first tab stop came last.
class DialogAccessible : public QAccessibleWidget {
public:
    explicit DialogAccessible(DialogWindow* pDialog)
        : QAccessibleWidget(pDialog, QAccessible::Dialog) {}

    int childCount() const override { return static_cast<int>(Children().size()); }
    QAccessibleInterface* child(int index) const override {
        const std::vector<QWidget*> children = Children();
        return index >= 0 && index < static_cast<int>(children.size())
                   ? QAccessible::queryAccessibleInterface(children[index])
                   : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* pChild) const override {
        const std::vector<QWidget*> children = Children();
        for (std::size_t i = 0; i < children.size(); ++i) {
            if (pChild && children[i] == pChild->object())
                return static_cast<int>(i);
        }
        return -1;
    }

private:
    // The template's controls that are still there, then any other child widget.
    std::vector<QWidget*> Children() const {
        std::vector<QWidget*> children;
        const auto* pDialog = static_cast<const DialogWindow*>(widget());
        for (QWidget* pControl : pDialog->Controls()) {
            if (HandleOf(pControl))
                children.push_back(pControl);
        }
        for (QWidget* pChild : pDialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!pChild->isWindow() && !HandleOf(pChild))
                children.push_back(pChild);
        }
        return children;
    }
};

QAccessibleInterface* AccessibleDialog(const QString&, QObject* pObject) {
    DialogWindow* pDialog = DialogOfObject(pObject);
    return pDialog ? new DialogAccessible(pDialog) : nullptr;
}

} // namespace

DialogWindow* DialogOf(HWND hWnd) {
    return DialogOfObject(WidgetOf(hWnd));
}

DialogWindow* DialogOfObject(const QObject* pObject) {
    const auto it = LiveDialogs().find(pObject);
    return it != LiveDialogs().end()
               ? const_cast<DialogWindow*>(static_cast<const DialogWindow*>(*it))
               : nullptr;
}

DialogWindow::DialogWindow(const DialogTemplate& tmpl, QWidget* pOwner)
    : QDialog(pOwner), m_template(tmpl), m_style(tmpl.style) {
    // Known as a dialog before anything asks for a screen reader's view of it (Qt keeps each
    // factory once).
    QAccessible::installFactory(AccessibleDialog);
    LiveDialogs().insert(this);
    // The buttons of the title bar are the template's: Close with the window menu, minimize
    // and maximize only with their boxes.
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if ((tmpl.style & WS_CAPTION) == WS_CAPTION)
        flags |= Qt::WindowTitleHint;
    if (tmpl.style & WS_SYSMENU) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (tmpl.style & WS_MINIMIZEBOX)
            flags |= Qt::WindowMinimizeButtonHint;
        if (tmpl.style & WS_MAXIMIZEBOX)
            flags |= Qt::WindowMaximizeButtonHint;
    }
    if (!pOwner && (tmpl.exStyle & WS_EX_APPWINDOW))
        flags = (flags & ~Qt::WindowType_Mask) | Qt::Window; // its own taskbar entry
    // A title bar of its own replaces the platform's frame (Qt drops a frameless hint that
    // comes with title bar hints).
    if (TitleBar::Wanted(tmpl.style))
        flags = (flags & Qt::WindowType_Mask) | Qt::FramelessWindowHint;
    setWindowFlags(flags);
    setWindowTitle(AnsiCodePage::ToUnicode(tmpl.caption));

    QFont font(QString::fromLatin1(tmpl.faceName ? tmpl.faceName : "MS Sans Serif"));
    font.setPointSize(tmpl.pointSize ? tmpl.pointSize : 8);
    font.setWeight(QtWeight(tmpl.weight));
    font.setItalic(tmpl.italic);
    setFont(font);
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = metrics.height();
    if (TitleBar::Wanted(tmpl.style)) {
        setContentsMargins(0, TitleBar::HeightFor(this), 0, 0);
        m_pTitleBar = new TitleBar(this, (tmpl.style & WS_SYSMENU) != 0,
                                   [this](const QPoint& at) { PopupSystemMenu(at); });
    }
    setFixedSize(UnitsToPixelsX(tmpl.cx), ClientTop() + UnitsToPixelsY(tmpl.cy));

    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* pNow) {
        if (pNow && pNow->window() == this)
            ShowDefault();
    });

    if (m_style & WS_SYSMENU) {
        auto* pShortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
        connect(pShortcut, &QShortcut::activated, this,
                [this] { PopupSystemMenu(mapToGlobal(QPoint(0, ClientTop()))); });
        // The window menu's Close says Alt+F4; without a window manager nobody else hears it.
        auto* pClose = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_F4), this);
        connect(pClose, &QShortcut::activated, this,
                [this] { SendMessageA(Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); });
    }
}

DialogWindow::~DialogWindow() {
    LiveDialogs().erase(this);
}

void DialogWindow::AddControl(QWidget* pControl, const DialogTemplate::Item& item) {
    // A control of a fixed size (an icon static) keeps it.
    pControl->setGeometry(UnitsToPixelsX(item.x), ClientTop() + UnitsToPixelsY(item.y),
                          UnitsToPixelsX(item.cx), UnitsToPixelsY(item.cy));
    pControl->setEnabled(!(item.style & WS_DISABLED));
    pControl->installEventFilter(this); // for changes of its enabled state
    // The first template item lies on top: each new control goes below those before it.
    pControl->lower();
    m_controls.push_back(pControl);
    m_items.push_back(&item);
    // Tab order is template order over the tab stops.
    if (item.style & WS_TABSTOP) {
        pControl->setFocusPolicy(Qt::StrongFocus);
        if (m_pLastTabStop)
            QWidget::setTabOrder(m_pLastTabStop, pControl);
        m_pLastTabStop = pControl;
    } else if (pControl->focusPolicy() != Qt::NoFocus) {
        pControl->setFocusPolicy(Qt::ClickFocus);
    }
}

QWidget* DialogWindow::Control(int nID) const {
    for (std::size_t i = 0; i < m_controls.size(); ++i) {
        if (m_items[i]->id == nID && HandleOf(m_controls[i]))
            return m_controls[i];
    }
    return nullptr;
}

const DialogTemplate::Item* DialogWindow::ItemOf(const QWidget* pControl) const {
    for (std::size_t i = 0; i < m_controls.size(); ++i) {
        if (m_controls[i] == pControl)
            return m_items[i];
    }
    return nullptr;
}

QWidget* DialogWindow::NextTabStop(QWidget* pAfter, bool bPrevious) const {
    const int n = static_cast<int>(m_controls.size());
    int start = bPrevious ? 0 : n - 1; // the search begins after it, wrapping round
    for (int i = 0; i < n; ++i) {
        if (m_controls[i] == pAfter)
            start = i;
    }
    for (int k = 1; k <= n; ++k) {
        const int i = (start + (bPrevious ? n - k : k)) % n;
        QWidget* pChild = m_controls[i];
        if ((m_items[i]->style & WS_TABSTOP) && HandleOf(pChild) && pChild->isEnabled())
            return pChild;
    }
    return nullptr;
}

HMENU DialogWindow::SystemMenu(bool bRevert) {
    if (!(m_style & WS_SYSMENU))
        return nullptr;
    if (bRevert && m_hSystemMenu) {
        delete m_hSystemMenu;
        m_hSystemMenu = nullptr;
    }
    if (!m_hSystemMenu) {
        m_hSystemMenu = new HMENU__(this);
        AppendMenuA(m_hSystemMenu, MF_STRING, SC_MOVE, "&Move");
        AppendMenuA(m_hSystemMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(m_hSystemMenu, MF_STRING, SC_CLOSE, "&Close\tAlt+F4");
        // The command arrives once the menu has closed, as the platform's does.
        connect(m_hSystemMenu, &QMenu::triggered, this, [this](QAction* pAction) {
            const WPARAM nID = pAction->data().value<quintptr>();
            QMetaObject::invokeMethod(
                this, [this, nID] { SendMessageA(Handle(), WM_SYSCOMMAND, nID, 0); },
                Qt::QueuedConnection);
        });
    }
    return bRevert ? nullptr : m_hSystemMenu;
}

void DialogWindow::PopupSystemMenu(const QPoint& globalPos) {
    HMENU hMenu = SystemMenu(false);
    if (!hMenu)
        return;
    // Move is offered where the window manager can carry it out, greyed where it cannot, as
    // the platform greys the entries of its window menu that do not apply.
    for (QAction* pAction : hMenu->actions()) {
        if (pAction->data().value<quintptr>() == SC_MOVE)
            pAction->setEnabled(SystemMove::Available());
    }
    hMenu->popup(globalPos);
}

UINT DialogWindow::DefId() const {
    if (m_nDefId)
        return m_nDefId;
    for (int i = 0; i < m_template.itemCount; ++i) {
        const DialogTemplate::Item& item = m_template.items[i];
        if (FindControlClass(item.cls) == &kButtonClass &&
            (item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return static_cast<UINT>(item.id);
    }
    return 0;
}

void DialogWindow::SetDefId(UINT nID) {
    m_nDefId = nID;
    ShowDefault();
}

void DialogWindow::ShowDefault() {
    HWND hFocus = nullptr;
    HWND hDefault = nullptr;
    if (FocusDlgCode(&hFocus) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) {
        hDefault = hFocus;
    } else if (const int nID = static_cast<int>(DefId())) {
        const QWidget* pDefault = Control(nID);
        if (pDefault && pDefault->isEnabled())
            hDefault = HandleOf(pDefault);
    }
    for (QWidget* pControl : m_controls) {
        const HWND hControl = HandleOf(pControl);
        const LRESULT code = SendMessageA(hControl, WM_GETDLGCODE, 0, 0);
        if ((code & DLGC_DEFPUSHBUTTON) && hControl != hDefault)
            SendMessageA(hControl, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
        else if ((code & DLGC_UNDEFPUSHBUTTON) && hControl == hDefault)
            SendMessageA(hControl, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    }
}

void DialogWindow::DefaultPaint() {
    if (m_pPaintEvent)
        QDialog::paintEvent(m_pPaintEvent);
}

void DialogWindow::PlaceOnScreen() {
    const QWidget* pOwner = parentWidget();
    const QScreen* pScreen = pOwner ? pOwner->screen() : screen();
    if (!pScreen)
        return;
    const QRect avail = pScreen->availableGeometry();
    const QRect over = pOwner && pOwner->isVisible() ? pOwner->frameGeometry() : avail;
    const int title = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    const int border = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, this);
    const QSize frame(width() + 2 * border, height() + title + border);
    const QPoint centred = over.center() - QPoint(frame.width() / 2, frame.height() / 2);
    // A window's position is its frame's: clamped, the frame's top-left corner stays on the
    // screen even when the dialog is larger than it.
    move(std::clamp(centred.x(), avail.left(),
                    std::max(avail.left(), avail.right() + 1 - frame.width())),
         std::clamp(centred.y(), avail.top(),
                    std::max(avail.top(), avail.bottom() + 1 - frame.height())));
}

INT_PTR DialogWindow::RunModal() {
    if (m_bEnded)
        return m_nResult;
    PlaceOnScreen();
    const INT_PTR nResult = exec();
    ReturnFocus(parentWidget());
    return nResult;
}

void DialogWindow::End(INT_PTR nResult) {
    m_bEnded = true;
    m_nResult = nResult;
    QDialog::done(static_cast<int>(nResult));
}

void DialogWindow::reject() {
    Command(IDCANCEL);
}

void DialogWindow::accept() {
    Command(IDOK);
}

HWND DialogWindow::Handle() const {
    return HandleOf(this);
}

void DialogWindow::Command(UINT nID) {
    SendMessageA(Handle(), WM_COMMAND, MAKEWPARAM(static_cast<WORD>(nID), 0), 0);
}

LRESULT DialogWindow::FocusDlgCode(HWND* phFocus) const {
    *phFocus = HandleOf(focusWidget());
    return *phFocus ? SendMessageA(*phFocus, WM_GETDLGCODE, 0, 0) : 0;
}

void DialogWindow::paintEvent(QPaintEvent* pEvent) {
    m_pPaintEvent = pEvent;
    SendMessageA(Handle(), WM_PAINT, 0, 0);
    m_pPaintEvent = nullptr;
    if (m_pTitleBar) {
        // Without the platform's frame the window shows its edges itself.
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void DialogWindow::keyPressEvent(QKeyEvent* pEvent) {
    switch (pEvent->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // Enter presses the focused push button, else the default one (nothing when it is
        // disabled), else gives OK.
        HWND hFocus = nullptr;
        if (FocusDlgCode(&hFocus) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) {
            SendMessageA(hFocus, BM_CLICK, 0, 0);
            return;
        }
        const auto defId = static_cast<WPARAM>(SendMessageA(Handle(), DM_GETDEFID, 0, 0));
        if (HIWORD(defId) != DC_HASDEFID) {
            Command(IDOK);
            return;
        }
        const HWND hDefault = HandleOf(Control(LOWORD(defId)));
        if (!hDefault || IsWindowEnabled(hDefault))
            SendMessageA(Handle(), WM_COMMAND, MAKEWPARAM(LOWORD(defId), BN_CLICKED),
                         reinterpret_cast<LPARAM>(hDefault));
        return;
    }
    case Qt::Key_Escape:
        Command(IDCANCEL);
        return;
    case Qt::Key_F1:
        Command(ID_HELP);
        return;
    case Qt::Key_Menu:
        KeyboardContextMenu();
        return;
    case Qt::Key_F10:
        if (pEvent->modifiers() == Qt::ShiftModifier) {
            KeyboardContextMenu();
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(pEvent);
}

void DialogWindow::KeyboardContextMenu() {
    // The focused control's own menu where it has one (a field's, at its cursor; the list's);
    // a control without one passes the event up to the dialog, which opens the window menu.
    QWidget* pTarget = focusWidget() ? focusWidget() : this;
    const QPoint pos = pTarget->inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
    QContextMenuEvent event(QContextMenuEvent::Keyboard, pos, pTarget->mapToGlobal(pos));
    QCoreApplication::sendEvent(pTarget, &event);
}

void DialogWindow::closeEvent(QCloseEvent* pEvent) {
    if (!isVisible()) {
        pEvent->accept();
        return;
    }
    // The title bar's Close is the system command Close: the program sees it first.
    pEvent->ignore();
    SendMessageA(Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
}

bool DialogWindow::eventFilter(QObject* pWatched, QEvent* pEvent) {
    // A disabled default button is not drawn as one; enabled again, it is.
    if (pEvent->type() == QEvent::EnabledChange)
        ShowDefault();
    return QDialog::eventFilter(pWatched, pEvent);
}

void DialogWindow::contextMenuEvent(QContextMenuEvent* pEvent) {
    // A control that has no menu of its own passes the event up to here. From the mouse only
    // the background (statics and group boxes are transparent) opens the window menu; a
    // right click on a button does nothing.
    if (pEvent->reason() == QContextMenuEvent::Keyboard)
        PopupSystemMenu(mapToGlobal(QPoint(0, ClientTop())));
    else if (!childAt(pEvent->pos()))
        PopupSystemMenu(pEvent->globalPos());
}
