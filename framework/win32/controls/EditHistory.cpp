#include "framework/win32/controls/EditHistory.h"

#include "framework/win32/WholeFile.h"
#include "framework/win32/WinUser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>

#include <cstdio>

namespace {
// Found by name among the field's children: the class has no meta-object of its own.
const char kName[] = "EditHistory";
} // namespace

EditHistory::EditHistory(QLineEdit* pEdit, const QString& path)
    : QObject(pEdit), m_pEdit(pEdit), m_path(path) {
    setObjectName(kName);
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : file.readAll().split('\n')) {
            // Decoding drops a byte order mark: a line of one alone is empty too.
            const QString entry = QString::fromUtf8(line);
            if (!entry.isEmpty() && m_entries.size() < kMaxEntries)
                m_entries << entry;
        }
    }
    m_write.setSingleShot(true);
    m_write.setInterval(kWriteDelayMs);
    connect(&m_write, &QTimer::timeout, this, &EditHistory::Write);
    // Typing makes the text the person's own again.
    connect(pEdit, &QLineEdit::textEdited, this, [this] { m_nShown = -1; });
    pEdit->installEventFilter(this);
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
    QByteArray bytes;
    for (const QString& entry : m_entries)
        bytes += entry.toUtf8() + '\n';
    QString error;
    if (QDir().mkpath(QFileInfo(m_path).path()) && WriteWholeFile(m_path, bytes, &error))
        return;
    if (m_bToldWhy)
        return;
    m_bToldWhy = true; // once is enough for the journal
    std::fprintf(stderr, "%s: the command history is not kept: %s: %s\n", GetProgramName(),
                 qPrintable(QDir::toNativeSeparators(m_path)),
                 qPrintable(error.isEmpty() ? QString("cannot make its folder") : error));
}
