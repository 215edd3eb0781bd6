#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

class QLineEdit;

// What a field was used for: Up and Down step through the texts added, most recent first,
// skipping one the field already shows; Down past the newest brings back what was being
// typed. The texts are kept in a file across runs, written a moment after a text is added
// (one write for a burst of them, none in the middle of a Send) and when the field goes; a
// file that cannot be read or written costs the history only, never the field. Only a regular
// file of at most kMaxFileBytes is read, and nothing else found at the path is written over: a
// FIFO there would block the start, a device could act on the open or never end.
class EditHistory : public QObject {
public:
    static constexpr int kMaxEntries = 500;
    static constexpr qint64 kMaxFileBytes = 1 << 20;

    static constexpr int kWriteDelayMs = 1000;

    EditHistory(QLineEdit* pEdit, const QString& path);
    ~EditHistory() override;
    // The history of a field, or null.
    static EditHistory* Of(QLineEdit* pEdit);

    // Adds a text as the most recent (not an empty one, nor the most recent again) and keeps
    // the file up to date.
    void Add(const QString& text);
    const QStringList& Entries() const { return m_entries; }

    // The file of a history by this name: in the program's folder under $XDG_STATE_HOME
    // (~/.local/state when that is not set).
    static QString PathFor(const QString& name);

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void Read();
    void Step(bool bOlder);
    void Write();
    // Says once on standard error that the history is not kept, and why.
    void TellWhy(const QString& why);

    QLineEdit* m_pEdit;
    QString m_path;
    QStringList m_entries; // most recent first
    int m_nShown = -1;     // the entry the field shows; -1: the person's own text
    QString m_draft;       // the person's own text while an entry shows
    QTimer m_write;
    bool m_bToldWhy = false;
    bool m_bWritable = true; // what is at the path may be replaced
};
