#pragma once

#include <QStringListModel>
#include <QTableView>

// A list box of a dialog template: one column of text lines, one text line high each. A table
// view with fixed row heights adds a line without laying out the others, so a list of 100,000
// lines takes a new one as fast as a list of ten; Qt's list view lays out every row again.
class ListBoxControl : public QTableView {
public:
    ListBoxControl(bool bSorted, QWidget* pParent);

    // Adds a line (in order in a sorted list, else at the end); returns its index.
    int AddString(const QString& text);
    // Adds many lines at once, as AddString would one by one.
    void AddStrings(const QStringList& lines);
    void ResetContent();
    int Count() const;
    QString Text(int nIndex) const;

protected:
    void changeEvent(QEvent* pEvent) override;

private:
    void FitRowsToFont();

    QStringListModel m_model;
    bool m_bSorted;
};
