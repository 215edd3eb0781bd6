#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <vector>

#include <poll.h>

// The wait of the program's one thread on a serial line, made the way a modal wait is: while
// the comm layer waits, the windows keep painting and answer the window manager's and the
// compositor's pings, the pointer shows that the program is busy, and keys and clicks are
// dropped, never delivered once the wait is over. A request to close a dialog (its Close, Alt+F4,
// an ending signal) is carried out once the event loop has control again. While one exists the
// comm layer's waits go through it.
class WaitPump : public QObject {
public:
    // How often a wait looks at the windows. Qt reads the display connection on threads of its
    // own and wakes this thread through a descriptor of its event dispatcher, which a wait
    // cannot watch: the wait wakes this often instead. 50 ms keeps the repaint and the answer
    // to a ping prompt; a wait shorter than that pumps nothing and changes no pointer.
    static constexpr int kEveryMs = 50;

    WaitPump();
    ~WaitPump() override;
    WaitPump(const WaitPump&) = delete;
    WaitPump& operator=(const WaitPump&) = delete;

    // Whether input is being dropped now: a wait began and the event loop has not had control
    // back since.
    static bool Busy();

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void customEvent(QEvent* pEvent) override;

private:
    static int Poll(pollfd* pfds, nfds_t nfds, int timeoutMs);
    int Wait(pollfd* pfds, nfds_t nfds, int timeoutMs);
    void Pump();
    void End();
    // The dialog a close request sent to pTarget (a window, or the widget behind it) is for;
    // null when it is for no dialog.
    static QWidget* DialogToClose(QObject* pTarget);

    bool m_bBusy = false;       // input is dropped
    bool m_bInPump = false;     // events are being processed for a wait
    bool m_bInWait = false;     // a wait is under way
    bool m_bOverPosted = false; // the event that ends Busy() is queued
    bool m_bCursor = false;     // the busy pointer is set
    long long m_nextPumpMs = 0;
    std::vector<QPointer<QWidget>> m_closes; // dialogs to close once the wait is over
};
