#pragma once

#include <QByteArray>
#include <QStringListModel>
#include <QTableView>

#include <optional>
#include <vector>

// A list box of a dialog template: one column of text lines, one text line high each. A table
// view with fixed row heights adds a line without laying out the others, so a list of 100,000
// lines takes a new one as fast as a list of ten; Qt's list view lays out every row again.
//
// It follows the newest line: while the view shows the end, a line added at the end is
// scrolled into view; once the person scrolls up, the view stays where they put it. Home and
// End go to the first and last line; a line cut at the edge shows whole as a tooltip.
// A line may carry what it was made from (the command that asked for it, when it came, its
// bytes): its tooltip shows that, its bytes in hex.
// Ctrl+C copies the selected line; its menu (right click, Menu key, Shift+F10) copies it, its
// bytes in hex or every line, or saves every line to a text file or, with each line's time and
// command, to a tab-separated one.
//
// A screen reader finds a list with its lines as items (ListBoxAccessible). The focus shows
// however it came; the frame stays whole at every scale.
class ListBoxControl : public QTableView {
public:
    struct Detail {
        QString command;
        qint64 timeMs = 0; // since 1970-01-01 UTC
        QByteArray bytes;
    };
    enum class FileFormat { Text, TabSeparated };

    ListBoxControl(bool bSorted, QWidget* pParent);
    ~ListBoxControl() override;

    // Whether the object is a list box (alive).
    static bool IsListBox(const QObject* pObject);

    // Adds a line (in order in a sorted list, else at the end); returns its index.
    int AddString(const QString& text);
    // Adds many lines at once, as AddString would one by one.
    void AddStrings(const QStringList& lines);
    void ResetContent();
    int Count() const;
    QString Text(int nIndex) const;
    // False for a line that is not there.
    bool SetDetail(int nIndex, const Detail& detail);
    // The line's detail; null when it has none.
    const Detail* DetailOf(int nIndex) const;

    // The selected line to the clipboard; its bytes in hex; every line, one a line.
    void Copy();
    void CopyAsHex();
    void CopyAll();
    // Asks for a file and writes every line to it in UTF-8, as text or tab-separated (by the
    // type chosen or the name's ".tsv"); says why when it cannot. The file is replaced whole or
    // not at all.
    void SaveAs();
    // The same without asking: the text file holds one line a line; the tab-separated one a
    // header, then each line's time, command and text, with tab, line feed, carriage return and
    // backslash escaped as \t, \n, \r and \\. FALSE with the reason when the file could not
    // be written.
    bool Save(const QString& path, QString* pError, FileFormat format = FileFormat::Text) const;

    // Bytes as two hex digits each, separated by spaces: "4F 4B 0D".
    static QString Hex(const QByteArray& bytes);

protected:
    bool event(QEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    bool viewportEvent(QEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void focusInEvent(QFocusEvent* pEvent) override;
    void focusOutEvent(QFocusEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;

private:
    void FitRowsToFont();
    // Whether the line is wider than the column shows.
    bool IsCut(const QModelIndex& index) const;

    QStringListModel m_model;
    // Each line's detail, by row.
    std::vector<std::optional<Detail>> m_details;
    bool m_bSorted;
    bool m_bFollow = true; // the view shows the end
};
