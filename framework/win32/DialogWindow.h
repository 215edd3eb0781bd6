#pragma once

#include "framework/win32/DialogTemplate.h"
#include "framework/win32/WinTypes.h"

#include <QDialog>

#include <vector>

class QPaintEvent;
class TitleBar;

// The widget of a dialog built from its template. It turns Qt's events into the messages of
// the dialog manager, sent to the dialog's handle: button clicks, keys, painting, Close and
// the system menu. The dialog manager (CreateDialogIndirectA) adds its controls.
class DialogWindow : public QDialog {
public:
    DialogWindow(const DialogTemplate& tmpl, QWidget* pOwner);
    ~DialogWindow() override;

    // Dialog units to pixels, from the template font's average character size.
    int UnitsToPixelsX(int x) const { return (x * m_baseX + 2) / 4; }
    int UnitsToPixelsY(int y) const { return (y * m_baseY + 4) / 8; }

    const DialogTemplate& Template() const { return m_template; }

    // Where the dialog's inside begins below a title bar it draws itself (TitleBar), and the
    // inside: what the template lays out, and what a program paints and measures. The title
    // bar is the contents margin at the top.
    int ClientTop() const { return contentsMargins().top(); }
    QRect ClientRect() const { return contentsRect(); }

    // Places a control made for a template item: its rectangle, enabled state, stacking and
    // tab order.
    void AddControl(QWidget* pControl, const DialogTemplate::Item& item);
    // The controls in template order.
    const std::vector<QWidget*>& Controls() const { return m_controls; }
    // The control with this identifier, or null (also for a control destroyed on its own).
    QWidget* Control(int nID) const;
    // The template item a control was made from, or null.
    const DialogTemplate::Item* ItemOf(const QWidget* pControl) const;
    // The next enabled tab stop after pAfter (from the start for null), or before it.
    QWidget* NextTabStop(QWidget* pAfter, bool bPrevious) const;

    // The window menu (Move, Close and what the program appends); null without WS_SYSMENU.
    // bRevert restores the standard entries and returns null.
    HMENU SystemMenu(bool bRevert);
    void PopupSystemMenu(const QPoint& globalPos);

    // The default push button's identifier: the one set, else the template's first
    // BS_DEFPUSHBUTTON, else 0. Enter presses it when the focus is on no push button.
    UINT DefId() const;
    void SetDefId(UINT nID);

    // The painting of the dialog itself, for the WM_PAINT that no one else handled.
    void DefaultPaint();

    // Centred over the owner, else on the screen, with the frame a window manager adds (title
    // bar and borders, as the style draws them) on the screen too: at a large scale the title
    // bar of a centred dialog would lie above the screen's top.
    void PlaceOnScreen();

    // Runs the modal loop unless End came first; returns End's result.
    INT_PTR RunModal();
    void End(INT_PTR nResult);

    void reject() override;
    void accept() override;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    HWND Handle() const;
    void Command(UINT nID);
    // What the focused control answers to WM_GETDLGCODE, with its handle.
    LRESULT FocusDlgCode(HWND* phFocus) const;
    // The context-menu key or Shift+F10: the focused control's own menu, else the window menu.
    void KeyboardContextMenu();
    // Draws as the default the push button Enter would press: the focused one, else the
    // default button when it is enabled.
    void ShowDefault();

    const DialogTemplate& m_template; // static data, lives as long as the program
    DWORD m_style;
    int m_baseX = 1;
    int m_baseY = 1;
    // The controls and the template items they were made from, both in template order: what
    // the dialog knows of its children it holds itself (a control's style never changes).
    std::vector<QWidget*> m_controls;
    std::vector<const DialogTemplate::Item*> m_items;
    TitleBar* m_pTitleBar = nullptr;
    QWidget* m_pLastTabStop = nullptr;
    HMENU m_hSystemMenu = nullptr;
    QPaintEvent* m_pPaintEvent = nullptr;
    UINT m_nDefId = 0;
    bool m_bEnded = false;
    INT_PTR m_nResult = -1;
};

// The dialog window behind a dialog's handle; null for any other window, and once the dialog's
// destruction has begun.
DialogWindow* DialogOf(HWND hWnd);
// The same for the object itself, which may not have its handle yet.
DialogWindow* DialogOfObject(const QObject* pObject);
