#include "framework/win32/controls/ListBoxControl.h"

#include <QEvent>
#include <QHeaderView>

#include <algorithm>

ListBoxControl::ListBoxControl(bool bSorted, QWidget* pParent)
    : QTableView(pParent), m_bSorted(bSorted) {
    setModel(&m_model);
    horizontalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    setShowGrid(false);
    setWordWrap(false);
    // A long line is cut at the edge: an added ellipsis would read as part of the reply.
    setTextElideMode(Qt::ElideNone);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab belongs to the dialog, which moves along its tab stops.
    setTabKeyNavigation(false);
    setCornerButtonEnabled(false);
    FitRowsToFont();
}

int ListBoxControl::AddString(const QString& text) {
    int row = m_model.rowCount();
    if (m_bSorted) {
        const QStringList lines = m_model.stringList();
        row = static_cast<int>(std::upper_bound(lines.begin(), lines.end(), text,
                                                [](const QString& a, const QString& b) {
                                                    return a.compare(b, Qt::CaseInsensitive) < 0;
                                                }) -
                               lines.begin());
    }
    m_model.insertRows(row, 1);
    m_model.setData(m_model.index(row), text);
    return row;
}

void ListBoxControl::AddStrings(const QStringList& lines) {
    if (m_bSorted) {
        for (const QString& line : lines)
            AddString(line);
        return;
    }
    m_model.setStringList(m_model.stringList() + lines);
}

void ListBoxControl::ResetContent() {
    m_model.setStringList(QStringList());
}

int ListBoxControl::Count() const {
    return m_model.rowCount();
}

QString ListBoxControl::Text(int nIndex) const {
    return m_model.data(m_model.index(nIndex), Qt::DisplayRole).toString();
}

void ListBoxControl::changeEvent(QEvent* pEvent) {
    if (pEvent->type() == QEvent::FontChange)
        FitRowsToFont();
    QTableView::changeEvent(pEvent);
}

void ListBoxControl::FitRowsToFont() {
    // One text line per row, as a list box draws it.
    verticalHeader()->setDefaultSectionSize(fontMetrics().height());
}
