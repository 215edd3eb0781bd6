#include "framework/win32/controls/EditHistory.h"

#include "core/OneLine.h"
#include "framework/win32/WholeFile.h"
#include "framework/win32/WinUser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Found by name among the field's children: the class has no meta-object of its own.
const char kName[] = "EditHistory";
} // namespace

EditHistory::EditHistory(QLineEdit* pEdit, const QString& path)
    : QObject(pEdit), m_pEdit(pEdit), m_path(path) {
    setObjectName(kName);
    Read();
    m_write.setSingleShot(true);
    m_write.setInterval(kWriteDelayMs);
    connect(&m_write, &QTimer::timeout, this, &EditHistory::Write);
    // Typing makes the text the person's own again.
    connect(pEdit, &QLineEdit::textEdited, this, [this] { m_nShown = -1; });
    pEdit->installEventFilter(this);
}

void EditHistory::Read() {
    const QByteArray name = QFile::encodeName(m_path);
    struct stat st {};
    if (stat(name.constData(), &st) != 0) {
        // None yet is the usual start; a path that cannot be looked at is told when written.
        return;
    }
    // Looked at before it is opened: a FIFO or a device is never opened at all.
    if (!S_ISREG(st.st_mode)) {
        m_bWritable = false;
        TellWhy(QString("not a regular file"));
        return;
    }
    int fd;
    do
        fd = open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    struct stat opened {};
    if (fd < 0 || fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev ||
        opened.st_ino != st.st_ino) {
        // Gone, or replaced by something else between the look and the open.
        if (fd >= 0)
            close(fd);
        m_bWritable = false;
        TellWhy(fd < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                       : QString("it changed while it was opened"));
        return;
    }
    if (opened.st_size > kMaxFileBytes) {
        close(fd);
        m_bWritable = false;
        TellWhy(QString("larger than %1 bytes").arg(kMaxFileBytes));
        return;
    }
    // At most one byte past the size it had, in case it grows meanwhile.
    QByteArray bytes(static_cast<int>(opened.st_size) + 1, Qt::Uninitialized);
    qint64 got = 0;
    while (got < bytes.size()) {
        const ssize_t n =
            read(fd, bytes.data() + got, static_cast<std::size_t>(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    close(fd);
    bytes.truncate(static_cast<int>(got));
    for (const QByteArray& line : bytes.split('\n')) {
        // Decoding drops one byte order mark; the others go too, or an entry of one would be
        // written back as a line that reads as empty.
        QString entry = QString::fromUtf8(line);
        while (entry.startsWith(QChar(0xFEFF)))
            entry.remove(0, 1);
        if (!entry.isEmpty() && m_entries.size() < kMaxEntries)
            m_entries << entry;
    }
}

EditHistory::~EditHistory() {
    if (m_write.isActive())
        Write();
}

EditHistory* EditHistory::Of(QLineEdit* pEdit) {
    return static_cast<EditHistory*>(pEdit->findChild<QObject*>(kName, Qt::FindDirectChildrenOnly));
}

QString EditHistory::PathFor(const QString& name) {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + "/.local/state";
    return state + '/' + GetProgramName() + '/' + name;
}

void EditHistory::Add(const QString& text) {
    m_nShown = -1;
    if (text.isEmpty() || (!m_entries.isEmpty() && m_entries.first() == text))
        return;
    m_entries.prepend(text);
    while (m_entries.size() > kMaxEntries)
        m_entries.removeLast();
    if (!m_write.isActive())
        m_write.start();
}

bool EditHistory::eventFilter(QObject*, QEvent* pEvent) {
    if (pEvent->type() != QEvent::KeyPress)
        return false;
    const auto* pKey = static_cast<QKeyEvent*>(pEvent);
    if (pKey->modifiers() != Qt::NoModifier && pKey->modifiers() != Qt::KeypadModifier)
        return false;
    if (pKey->key() != Qt::Key_Up && pKey->key() != Qt::Key_Down)
        return false;
    Step(pKey->key() == Qt::Key_Up);
    return true;
}

void EditHistory::Step(bool bOlder) {
    const QString shown = m_pEdit->text();
    int n = m_nShown;
    do
        n += bOlder ? 1 : -1;
    while (n >= 0 && n < m_entries.size() && m_entries[n] == shown);
    if (n >= m_entries.size() || (n < 0 && m_nShown < 0))
        return; // nothing older; already the person's own text
    if (m_nShown < 0)
        m_draft = shown;
    m_nShown = n < 0 ? -1 : n;
    m_pEdit->setText(n < 0 ? m_draft : m_entries[n]);
}

void EditHistory::Write() {
    m_write.stop();
    if (!m_bWritable)
        return; // said when it was read
    QByteArray bytes;
    for (const QString& entry : m_entries)
        bytes += entry.toUtf8() + '\n';
    QString error;
    if (QDir().mkpath(QFileInfo(m_path).path()) && WriteWholeFile(m_path, bytes, &error))
        return;
    TellWhy(error.isEmpty() ? QString("cannot make its folder") : error);
}

void EditHistory::TellWhy(const QString& why) {
    if (m_bToldWhy)
        return;
    m_bToldWhy = true; // once is enough for the journal
    const std::string line =
        "the command history is not kept: " + QFile::encodeName(m_path).toStdString() + ": " +
        why.toLocal8Bit().toStdString();
    std::fprintf(stderr, "%s: %s\n", GetProgramName(), OneLine(line).c_str());
}
