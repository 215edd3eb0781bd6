#include "framework/win32/DialogWindow.h"

#include "framework/win32/AnsiCodePage.h"
#include "framework/win32/controls/GroupBoxControl.h"
#include "framework/win32/controls/ListBoxControl.h"
#include "framework/win32/controls/PushButtonControl.h"
#include "framework/win32/Resources.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>

namespace {

const char kIdProperty[] = "afx.id";
const char kTabStopProperty[] = "afx.tabstop";

// Static text: "&x" marks an access key and "&&" is a literal ampersand; labels here have no
// buddy to give the key to, so only the text stays.
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

QFont::Weight QtWeight(WORD weight) {
    return weight >= 600 ? QFont::Bold : QFont::Normal;
}

} // namespace

DialogWindow::DialogWindow(const DialogTemplate& tmpl, QWidget* pOwner)
    : QDialog(pOwner), m_template(tmpl), m_style(tmpl.style) {
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if ((tmpl.style & WS_CAPTION) == WS_CAPTION)
        flags |= Qt::WindowTitleHint;
    if (tmpl.style & WS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (!pOwner && (tmpl.exStyle & WS_EX_APPWINDOW))
        flags = (flags & ~Qt::WindowType_Mask) | Qt::Window; // its own taskbar entry
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
    setFixedSize(UnitsToPixelsX(tmpl.cx), UnitsToPixelsY(tmpl.cy));

    QWidget* pPrevious = nullptr;
    for (int i = 0; i < tmpl.itemCount; ++i) {
        const DialogTemplate::Item& item = tmpl.items[i];
        QWidget* pControl = CreateControl(item);
        pControl->setProperty(kIdProperty, item.id);
        pControl->setGeometry(UnitsToPixelsX(item.x), UnitsToPixelsY(item.y),
                              UnitsToPixelsX(item.cx), UnitsToPixelsY(item.cy));
        pControl->setEnabled(!(item.style & WS_DISABLED));
        // The first template item lies on top: each new control goes below those before it.
        pControl->lower();
        m_controls.push_back(pControl);
        // Tab order is template order over the tab stops.
        if (item.style & WS_TABSTOP) {
            pControl->setProperty(kTabStopProperty, true);
            pControl->setFocusPolicy(Qt::StrongFocus);
            if (pPrevious)
                QWidget::setTabOrder(pPrevious, pControl);
            pPrevious = pControl;
        } else if (pControl->focusPolicy() != Qt::NoFocus) {
            pControl->setFocusPolicy(Qt::ClickFocus);
        }
    }

    if (m_style & WS_SYSMENU) {
        auto* pShortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
        connect(pShortcut, &QShortcut::activated, this,
                [this] { PopupSystemMenu(mapToGlobal(QPoint(0, 0))); });
    }
}

DialogWindow::~DialogWindow() = default;

QWidget* DialogWindow::CreateControl(const DialogTemplate::Item& item) {
    const QString cls = QString::fromLatin1(item.cls).toLower();
    if (cls == "button") {
        const DWORD type = item.style & BS_TYPEMASK;
        if (type == BS_GROUPBOX)
            return new GroupBoxControl(StaticText(item.text, false), this);
        auto* pButton = new PushButtonControl(AnsiCodePage::ToUnicode(item.text),
                                              type == BS_DEFPUSHBUTTON, this);
        const UINT nID = static_cast<UINT>(item.id);
        connect(pButton, &QPushButton::clicked, this,
                [this, nID, pButton] { Command(nID, BN_CLICKED, pButton); });
        return pButton;
    }
    if (cls == "edit") {
        auto* pEdit = new QLineEdit(this);
        pEdit->setFrame((item.style & WS_BORDER) != 0);
        if (item.text)
            pEdit->setText(AnsiCodePage::ToUnicode(item.text));
        return pEdit;
    }
    if (cls == "listbox") {
        auto* pList = new ListBoxControl((item.style & LBS_SORT) != 0, this);
        pList->setVerticalScrollBarPolicy((item.style & WS_VSCROLL) ? Qt::ScrollBarAsNeeded
                                                                    : Qt::ScrollBarAlwaysOff);
        pList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        if (!(item.style & WS_BORDER))
            pList->setFrameShape(QFrame::NoFrame);
        return pList;
    }
    // static
    auto* pLabel = new QLabel(this);
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

QWidget* DialogWindow::Control(int nID) const {
    for (QWidget* pChild : m_controls) {
        if (pChild->property(kIdProperty).toInt() == nID)
            return pChild;
    }
    return nullptr;
}

QWidget* DialogWindow::FirstTabStop() const {
    for (QWidget* pChild : m_controls) {
        if (pChild->property(kTabStopProperty).toBool() && pChild->isEnabled())
            return pChild;
    }
    return nullptr;
}

QMenu* DialogWindow::SystemMenu(bool bRevert) {
    if (!(m_style & WS_SYSMENU))
        return nullptr;
    if (bRevert && m_pSystemMenu) {
        delete m_pSystemMenu;
        m_pSystemMenu = nullptr;
    }
    if (!m_pSystemMenu) {
        m_pSystemMenu = new QMenu(this);
        AppendMenuA(m_pSystemMenu, MF_STRING, SC_MOVE, "&Move");
        AppendMenuA(m_pSystemMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(m_pSystemMenu, MF_STRING, SC_CLOSE, "&Close\tAlt+F4");
        // The command arrives once the menu has closed, as the platform's does.
        connect(m_pSystemMenu, &QMenu::triggered, this, [this](QAction* pAction) {
            const WPARAM nID = pAction->data().value<quintptr>();
            QMetaObject::invokeMethod(
                this, [this, nID] { SendMessageA(this, WM_SYSCOMMAND, nID, 0); },
                Qt::QueuedConnection);
        });
    }
    return bRevert ? nullptr : m_pSystemMenu;
}

void DialogWindow::PopupSystemMenu(const QPoint& globalPos) {
    if (QMenu* pMenu = SystemMenu(false))
        pMenu->popup(globalPos);
}

void DialogWindow::DefaultPaint() {
    if (m_pPaintEvent)
        QDialog::paintEvent(m_pPaintEvent);
}

void DialogWindow::End(int nResult) {
    QDialog::done(nResult);
}

void DialogWindow::reject() {
    Command(IDCANCEL);
}

void DialogWindow::accept() {
    Command(IDOK);
}

void DialogWindow::Command(UINT nID, WORD nCode, QWidget* pControl) {
    SendMessageA(this, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(nID), nCode),
                 reinterpret_cast<LPARAM>(pControl));
}

void DialogWindow::paintEvent(QPaintEvent* pEvent) {
    m_pPaintEvent = pEvent;
    SendMessageA(this, WM_PAINT, 0, 0);
    m_pPaintEvent = nullptr;
}

void DialogWindow::keyPressEvent(QKeyEvent* pEvent) {
    switch (pEvent->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Enter presses the focused push button, else gives OK.
        if (auto* pButton = dynamic_cast<QPushButton*>(focusWidget())) {
            if (pButton->isEnabled())
                pButton->click();
        } else {
            Command(IDOK);
        }
        return;
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
    // In a field the key is the field's: its own menu, where its cursor is.
    if (auto* pEdit = dynamic_cast<QLineEdit*>(focusWidget())) {
        const QPoint pos = pEdit->inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
        QContextMenuEvent event(QContextMenuEvent::Keyboard, pos, pEdit->mapToGlobal(pos));
        QCoreApplication::sendEvent(pEdit, &event);
        return;
    }
    PopupSystemMenu(mapToGlobal(QPoint(0, 0)));
}

void DialogWindow::closeEvent(QCloseEvent* pEvent) {
    if (!isVisible()) {
        pEvent->accept();
        return;
    }
    // The title bar's Close is the system command Close: the program sees it first.
    pEvent->ignore();
    SendMessageA(this, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void DialogWindow::contextMenuEvent(QContextMenuEvent* pEvent) {
    // A control that has no menu of its own passes the event up to here. From the mouse only
    // the background (statics and group boxes are transparent) opens the window menu; a
    // right click on a button or the list does nothing.
    if (pEvent->reason() == QContextMenuEvent::Keyboard)
        PopupSystemMenu(mapToGlobal(QPoint(0, 0)));
    else if (!childAt(pEvent->pos()))
        PopupSystemMenu(pEvent->globalPos());
}
