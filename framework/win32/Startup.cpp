// The program's entry: the GUI application and its display, then the program's own WinMain.

#include "core/StandardDescriptors.h"
#include "framework/win32/EndingSignals.h"
#include "framework/win32/WaitPump.h"
#include "framework/win32/WinUser.h"
#include "serial/comm.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// What the display libraries write to standard error on their own while Qt connects (the
// Wayland client library's "error: XDG_RUNTIME_DIR is invalid ..."), held in a file until it
// is known whether a display was found. Without one it is dropped: the program's one line says
// what the matter is. With one it is passed on. A file never blocks the writer as a pipe would.
class HeldStandardError {
public:
    HeldStandardError() {
        std::fflush(stderr);
        m_held = memfd_create("held-stderr", MFD_CLOEXEC);
        m_saved = fcntl(2, F_DUPFD_CLOEXEC, 3);
        if (m_held < 0 || m_saved < 0 || dup2(m_held, 2) < 0)
            Restore(); // not held: everything goes out as it comes
    }
    ~HeldStandardError() { PassOn(); }
    HeldStandardError(const HeldStandardError&) = delete;
    HeldStandardError& operator=(const HeldStandardError&) = delete;

    void Drop() { Restore(); }
    void PassOn() {
        if (!Restore())
            return;
        char buffer[4096];
        ssize_t n;
        lseek(m_held, 0, SEEK_SET);
        while ((n = read(m_held, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
            if (n > 0 && write(2, buffer, static_cast<std::size_t>(n)) != n)
                break;
        }
    }

private:
    // Standard error back where it was; false when it was not held (any more).
    bool Restore() {
        if (m_saved < 0)
            return false;
        std::fflush(stderr);
        dup2(m_saved, 2);
        close(m_saved);
        m_saved = -1;
        return m_held >= 0;
    }

    int m_held = -1;
    int m_saved = -1;
};
HeldStandardError* g_pHeldStandardError = nullptr;

// What Qt says while it starts its display connection, held back until it is known whether
// a display was found: if none was, the one line below is all the user sees.
struct StartupMessage {
    QtMsgType type;
    // The context as it came, an unnamed part staying unnamed: Qt's handler writes the message
    // from it, and a category that was none must not become an empty name (": text").
    std::optional<std::string> file, function, category;
    int line;
    QString text;

    QMessageLogContext Context() const {
        return QMessageLogContext(Name(file), line, Name(function), Name(category));
    }
    static std::optional<std::string> Kept(const char* psz) {
        return psz ? std::optional<std::string>(psz) : std::nullopt;
    }
    static const char* Name(const std::optional<std::string>& s) {
        return s ? s->c_str() : nullptr;
    }
};
std::vector<StartupMessage>* g_pStartupMessages = nullptr;

std::string Env(const char* var) {
    const char* v = std::getenv(var);
    return v ? v : "";
}

[[noreturn]] void NoDisplay() {
    if (g_pHeldStandardError)
        g_pHeldStandardError->Drop();
    // Name the display that was tried, through the variables that chose it.
    std::string tried;
    for (const char* var : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"}) {
        const std::string value = Env(var);
        if (value.empty())
            continue;
        tried += tried.empty() ? "" : ", ";
        tried += std::string(var) + "=" + value;
    }
    if (tried.empty())
        tried = "neither DISPLAY nor WAYLAND_DISPLAY is set";
    std::fprintf(stderr,
                 "%s: cannot open a graphical display (%s); start it from a desktop session.\n",
                 GetProgramName(), tried.c_str());
    std::fflush(stderr);
    // Qt is half set up and would abort: leave without running anything more of it.
    std::_Exit(2);
}

void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg)
        NoDisplay();
    if (g_pStartupMessages)
        g_pStartupMessages->push_back({type, StartupMessage::Kept(context.file),
                                       StartupMessage::Kept(context.function),
                                       StartupMessage::Kept(context.category), context.line, text});
}

// The events that come after the last window went (the compositor's answer to its end, a ping
// that came with the click on Close) are handed over, and the display's reader thread is given
// time to go back to waiting on the connection. Qt 6.4's Wayland plugin, ended while this thread
// has just handed its reader a read it prepared, leaves that read pending and waits for ever on
// its second reader, which waits for the first.
void SettleWaylandReader() {
    QEventLoop settle;
    QTimer::singleShot(200, &settle, &QEventLoop::quit);
    settle.exec();
}

} // namespace

int main(int argc, char** argv) {
    // Before anything is opened: a port must never become standard input, output or error.
    if (!OpenStandardDescriptors())
        return 2;
    if (Env("QT_QPA_PLATFORM").empty() && Env("DISPLAY").empty() && Env("WAYLAND_DISPLAY").empty())
        NoDisplay();
    // A port is put back however the program ends: also when a display library ends it with
    // _exit() (Qt's Wayland plugin, when the compositor goes), which skips exit() handlers. The
    // guardian is forked now, before Qt starts its threads.
    if (!CommGuardPorts())
        std::fprintf(stderr, "%s: no guardian process for the ports: %s\n", GetProgramName(),
                     std::strerror(errno));

    // The program takes nothing from its command line: Qt sees the program name alone, so
    // none of its own options (-reverse, -platform, -qwindowgeometry ...) apply.
    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 && argv[0] ? argv[0] : const_cast<char*>(GetProgramName()), nullptr};
    // The desktop entry's id: docks match the window to its launcher by it.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.morvik.MorvikSerialDemo"));

    std::vector<StartupMessage> messages;
    g_pStartupMessages = &messages;
    const QtMessageHandler previous = qInstallMessageHandler(StartupMessageHandler);
    HeldStandardError held;
    g_pHeldStandardError = &held;
    QApplication application(qtArgc, qtArgv);
    g_pHeldStandardError = nullptr;
    held.PassOn();
    qInstallMessageHandler(previous);
    g_pStartupMessages = nullptr;
    for (const StartupMessage& m : messages) {
        if (previous)
            previous(m.type, m.Context(), m.text);
    }

    EndingSignals endings;
    WaitPump waits;
    char noArguments[] = "";
    const int nResult = WinMain(GetModuleHandleA(nullptr), nullptr, noArguments, SW_SHOWDEFAULT);
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        SettleWaylandReader();
    // Ended by a signal: the teardown has run, now the status says which signal it was.
    endings.Reraise();
    return nResult;
}
