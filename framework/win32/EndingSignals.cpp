#include "framework/win32/EndingSignals.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// The self-pipe: the handler writes the signal's number, the event loop reads it.
int g_pipe[2] = {-1, -1};

void OnSignal(int nSignal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(nSignal);
    // A full pipe already holds a signal to act on: this one may be dropped.
    [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
    errno = saved;
}

// Closes what the program shows, as a person would: an open menu, then each box before the
// window it came from (closing the window under a box would leave the box's loop running),
// then the windows.
void CloseWindows() {
    for (QWidget* pLast = nullptr; QWidget* pPopup = QApplication::activePopupWidget();) {
        if (pPopup == pLast)
            break; // it will not close
        pLast = pPopup;
        pPopup->close();
    }
    for (QWidget* pLast = nullptr; QWidget* pModal = QApplication::activeModalWidget();) {
        if (pModal == pLast)
            break;
        pLast = pModal;
        pModal->close();
    }
    for (QWidget* pWindow : QApplication::topLevelWidgets()) {
        if (pWindow->isVisible())
            pWindow->close();
    }
}

} // namespace

EndingSignals::EndingSignals() {
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("signal pipe");
        return;
    }
    for (int nSignal : kSignals) {
        struct sigaction old {};
        sigaction(nSignal, nullptr, &old);
        if (old.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(nSignal, &action, nullptr);
    }
    m_pNotifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_pNotifier, &QSocketNotifier::activated, [this] { Read(); });
}

EndingSignals::~EndingSignals() {
    delete m_pNotifier;
    for (int nSignal : kSignals) {
        struct sigaction old {};
        sigaction(nSignal, nullptr, &old);
        if (old.sa_handler == OnSignal)
            std::signal(nSignal, SIG_DFL);
    }
    for (int& fd : g_pipe) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}

void EndingSignals::Read() {
    unsigned char byte = 0;
    ssize_t n;
    while ((n = read(g_pipe[0], &byte, 1)) == 1 || (n < 0 && errno == EINTR)) {
        if (n == 1 && !m_nSignal)
            m_nSignal = byte;
    }
    if (m_nSignal)
        CloseWindows();
}

void EndingSignals::Reraise() const {
    if (!m_nSignal)
        return;
    std::fflush(nullptr);
    std::signal(m_nSignal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, m_nSignal);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(m_nSignal);
    _exit(128 + m_nSignal); // not reached: the default action of these signals ends the process
}
