#pragma once

#include "framework/Dialog.h"

#include <QString>
#include <QStringList>

#include <functional>

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
    void Click(int nID);
    void SetText(int nID, const QString& text);
    QString Text(int nID) const;
    bool Enabled(int nID) const;
    QStringList Lines() const; // the response list
    // Sends a key to the widget that has the focus.
    void Key(int key);
    // Message boxes that came up (and were answered with OK) since the last call.
    QStringList TakeMessages();

    // Lets queued events run for a while.
    static void Pump(int ms = 50);

private:
    CDialog& m_dlg;
    QStringList m_messages;
};
