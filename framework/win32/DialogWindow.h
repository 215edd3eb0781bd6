#pragma once

#include "framework/win32/DialogTemplate.h"
#include "framework/win32/WinUser.h"

#include <QDialog>

#include <vector>

class QMenu;
class QPaintEvent;

// The widget of a dialog built from its template. It turns Qt's events into the messages of
// the dialog manager: button clicks, keys, painting, Close and the system menu.
class DialogWindow : public QDialog {
public:
    DialogWindow(const DialogTemplate& tmpl, QWidget* pOwner);
    ~DialogWindow() override;

    // Dialog units to pixels, from the template font's average character size.
    int UnitsToPixelsX(int x) const { return (x * m_baseX + 2) / 4; }
    int UnitsToPixelsY(int y) const { return (y * m_baseY + 4) / 8; }

    const DialogTemplate& Template() const { return m_template; }

    // The window menu (Move, Close and what the program appends); null without WS_SYSMENU.
    // bRevert restores the standard entries and returns null.
    QMenu* SystemMenu(bool bRevert);
    void PopupSystemMenu(const QPoint& globalPos);

    // The control with this identifier, or null.
    QWidget* Control(int nID) const;
    // The controls in template order.
    const std::vector<QWidget*>& Controls() const { return m_controls; }
    // The first enabled tab stop in template order, or null.
    QWidget* FirstTabStop() const;

    void DefaultPaint();
    // Ends the modal loop with a result.
    void End(int nResult);

    void reject() override;
    void accept() override;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;

private:
    QWidget* CreateControl(const DialogTemplate::Item& item);
    void Command(UINT nID, WORD nCode = 0, QWidget* pControl = nullptr);
    // The context-menu key or Shift+F10: a field's own menu, else the window menu.
    void KeyboardContextMenu();

    const DialogTemplate& m_template; // static data, lives as long as the program
    DWORD m_style;
    int m_baseX = 1;
    int m_baseY = 1;
    std::vector<QWidget*> m_controls; // template order
    QMenu* m_pSystemMenu = nullptr;
    QPaintEvent* m_pPaintEvent = nullptr;
};
