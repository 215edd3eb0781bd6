#pragma once

#include "framework/afx/Dialog.h"

#include <QPoint>
#include <QString>
#include <QStringList>

#include <functional>

class ListBoxControl;
class QWidget;

// Drives a real dialog by control id from inside its modal loop, as a user would.
class DialogDriver {
public:
    explicit DialogDriver(CDialog& dlg) : m_dlg(dlg) {}

    // Runs the dialog; body runs once the modal loop is up. Whatever still runs afterwards is
    // cancelled, so a failing test cannot hang. Returns DoModal's result.
    INT_PTR Run(const std::function<void()>& body);

    QWidget* Control(int nID) const;
    QWidget* Window() const;
    // The centre of template item `index` in the window, as the template places it.
    QPoint ItemCentre(int index) const;
    // A mouse click addressed to the dialog's window at a position: Qt decides who gets it.
    void ClickAt(const QPoint& pos, Qt::MouseButton button = Qt::LeftButton);
    // Clicks the middle of the control with this identifier, through the window.
    void Click(int nID);
    // A mouse click at a point of the screen, delivered to the window on top there (a balloon
    // over the dialog takes it, as it would on a display).
    static void ClickOnScreen(const QPoint& globalPos);
    // The middle of the control with this identifier, on the screen.
    QPoint ScreenCentre(int nID) const;
    // Keys and text addressed to the dialog's window, delivered to whatever has the focus.
    void Type(const QString& text);
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void SetText(int nID, const QString& text);
    QString Text(int nID) const;
    bool Enabled(int nID) const;
    QStringList Lines() const; // the response list
    static QStringList LinesOf(const ListBoxControl& list);
    // Message boxes that came up (and were answered with OK, else their default button) since
    // the last call.
    QStringList TakeMessages();

    // Lets queued events run for a while.
    static void Pump(int ms = 50);

private:
    CDialog& m_dlg;
    QStringList m_messages;
};
