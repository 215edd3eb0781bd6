#include "framework/win32/WaitPump.h"

#include "serial/comm.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QThread>
#include <QWindow>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

WaitPump* g_pPump = nullptr;

// Queued by a wait; once the event loop has control again, the wait is over.
const QEvent::Type kWaitOver = static_cast<QEvent::Type>(QEvent::registerEventType());

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What a person does to the program, as opposed to what the display does to its windows.
bool IsInput(QEvent::Type type) {
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::NativeGesture:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

} // namespace

WaitPump::WaitPump() {
    g_pPump = this;
    CommSetWaitHook(&WaitPump::Poll);
}

WaitPump::~WaitPump() {
    CommSetWaitHook(nullptr);
    g_pPump = nullptr;
    if (m_bCursor)
        QGuiApplication::restoreOverrideCursor();
}

bool WaitPump::Busy() {
    return g_pPump && g_pPump->m_bBusy;
}

int WaitPump::Poll(pollfd* pfds, nfds_t nfds, int timeoutMs) {
    // A plain wait where no window can be served: outside the event loop (the teardown at the
    // end), on another thread, or for the events a wait is processing.
    if (!g_pPump || g_pPump->m_bInPump || QThread::currentThread() != g_pPump->thread() ||
        QThread::currentThread()->loopLevel() == 0)
        return poll(pfds, nfds, timeoutMs);
    return g_pPump->Wait(pfds, nfds, timeoutMs);
}

int WaitPump::Wait(pollfd* pfds, nfds_t nfds, int timeoutMs) {
    if (!m_bBusy) {
        m_bBusy = true;
        m_nextPumpMs = NowMs() + kEveryMs;
        qApp->installEventFilter(this);
    }
    m_bInWait = true;
    const long long untilMs = timeoutMs < 0 ? -1 : NowMs() + timeoutMs;
    int rc = 0;
    for (;;) {
        long long now = NowMs();
        // Also when the line is ready each time: a device that keeps talking keeps the wait
        // from ever blocking, and the windows must still be served.
        if (now >= m_nextPumpMs) {
            Pump();
            now = NowMs();
            m_nextPumpMs = now + kEveryMs;
        }
        long long slice = m_nextPumpMs - now;
        if (untilMs >= 0)
            slice = std::min(slice, std::max(0LL, untilMs - now));
        rc = poll(pfds, nfds, static_cast<int>(slice));
        if (rc != 0 || (untilMs >= 0 && NowMs() >= untilMs))
            break;
    }
    const int saved = errno;
    m_bInWait = false;
    if (!m_bOverPosted) {
        m_bOverPosted = true;
        QCoreApplication::postEvent(this, new QEvent(kWaitOver));
    }
    errno = saved;
    return rc;
}

void WaitPump::Pump() {
    if (!m_bCursor) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        m_bCursor = true;
    }
    // Paint, the display's messages (pings among them) and what was posted; the filter drops
    // input. Bounded, so that a flood of events cannot hold up the line.
    m_bInPump = true;
    QCoreApplication::processEvents(QEventLoop::AllEvents, kEveryMs);
    m_bInPump = false;
}

void WaitPump::customEvent(QEvent* pEvent) {
    if (pEvent->type() != kWaitOver)
        return;
    m_bOverPosted = false;
    // Taken by a wait's own pump: the exchange goes on, and the wait queues it anew.
    if (!m_bInWait)
        End();
}

void WaitPump::End() {
    // Input that came during the wait may still be queued: it goes through the filter too.
    m_bInPump = true;
    QCoreApplication::processEvents(QEventLoop::AllEvents, kEveryMs);
    m_bInPump = false;
    qApp->removeEventFilter(this);
    m_bBusy = false;
    if (m_bCursor) {
        QGuiApplication::restoreOverrideCursor();
        m_bCursor = false;
    }
    std::vector<QPointer<QWidget>> closes;
    closes.swap(m_closes);
    for (const QPointer<QWidget>& pDialog : closes) {
        if (pDialog)
            pDialog->close();
    }
}

QWidget* WaitPump::DialogToClose(QObject* pTarget) {
    QWidget* pWidget = qobject_cast<QWidget*>(pTarget);
    if (auto* pWindow = qobject_cast<QWindow*>(pTarget)) {
        const QWidgetList tops = QApplication::topLevelWidgets();
        const auto it = std::find_if(tops.begin(), tops.end(), [&](QWidget* pTop) {
            return pTop->windowHandle() == pWindow;
        });
        pWidget = it == tops.end() ? nullptr : *it;
    }
    return pWidget && pWidget->isWindow() ? qobject_cast<QDialog*>(pWidget) : nullptr;
}

bool WaitPump::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (!m_bBusy)
        return false;
    QWidget* pClose = nullptr;
    if (pEvent->type() == QEvent::Close) {
        pClose = DialogToClose(pWatched);
        if (!pClose)
            return false;
        pEvent->ignore();
    } else if (pEvent->type() == QEvent::KeyPress || pEvent->type() == QEvent::ShortcutOverride) {
        // Alt+F4 is the window manager's Close; without one the dialog hears the key itself
        // (as a shortcut, which is offered to the focus first).
        const auto* pKey = static_cast<QKeyEvent*>(pEvent);
        if (pKey->key() == Qt::Key_F4 && pKey->modifiers() == Qt::AltModifier) {
            auto* pWidget = qobject_cast<QWidget*>(pWatched);
            pClose = DialogToClose(pWidget ? pWidget->window() : pWatched);
        }
    }
    if (pClose && std::find(m_closes.begin(), m_closes.end(), pClose) == m_closes.end())
        m_closes.emplace_back(pClose);
    return pEvent->type() == QEvent::Close || IsInput(pEvent->type());
}
