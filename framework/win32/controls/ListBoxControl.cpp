#include "framework/win32/controls/ListBoxControl.h"

#include "framework/win32/ReturnFocus.h"
#include "framework/win32/WholeFile.h"
#include "framework/win32/WinUser.h"
#include "framework/win32/WrapText.h"
#include "framework/win32/controls/EdgeLines.h"
#include "framework/win32/controls/ListBoxAccessible.h"

#include "core/StringTable.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionFocusRect>
#include <QToolTip>

#include <algorithm>
#include <unordered_set>

namespace {

std::unordered_set<const QObject*>& LiveLists() {
    static auto* lists = new std::unordered_set<const QObject*>; // outlives every list
    return *lists;
}

QAccessibleInterface* AccessibleList(const QString&, QObject* pObject) {
    return ListBoxControl::IsListBox(pObject)
               ? new ListBoxAccessible(static_cast<ListBoxControl*>(pObject))
               : nullptr;
}

// A tooltip shows this much of a line, and of its bytes, at most.
constexpr int kMaxTipChars = 4096;
constexpr int kMaxTipBytes = 256;

// Local time to the millisecond, as the tooltip and the tab-separated file give it.
QString TimeText(qint64 timeMs) {
    return QDateTime::fromMSecsSinceEpoch(timeMs).toString("yyyy-MM-dd hh:mm:ss.zzz");
}

// A field of a tab-separated line: no tab or line end of its own.
QString TsvField(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}
} // namespace

ListBoxControl::ListBoxControl(bool bSorted, QWidget* pParent)
    : QTableView(pParent), m_bSorted(bSorted) {
    // Known as a list box before anything asks for a screen reader's view of it (Qt keeps
    // each factory once).
    QAccessible::installFactory(AccessibleList);
    LiveLists().insert(this);
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

    // The range grows once the view has laid out an added line: at the end, follow it.
    QScrollBar* pBar = verticalScrollBar();
    connect(pBar, &QScrollBar::valueChanged, this,
            [this, pBar](int value) { m_bFollow = value >= pBar->maximum(); });
    connect(pBar, &QScrollBar::rangeChanged, this, [this, pBar](int, int maximum) {
        if (m_bFollow)
            pBar->setValue(maximum);
    });
}

ListBoxControl::~ListBoxControl() {
    LiveLists().erase(this);
}

bool ListBoxControl::IsListBox(const QObject* pObject) {
    return LiveLists().count(pObject) != 0;
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
    m_details.emplace(m_details.begin() + row);
    return row;
}

void ListBoxControl::AddStrings(const QStringList& lines) {
    if (m_bSorted) {
        for (const QString& line : lines)
            AddString(line);
        return;
    }
    m_model.setStringList(m_model.stringList() + lines);
    m_details.resize(m_details.size() + static_cast<std::size_t>(lines.size()));
}

void ListBoxControl::ResetContent() {
    m_model.setStringList(QStringList());
    m_details.clear();
}

int ListBoxControl::Count() const {
    return m_model.rowCount();
}

QString ListBoxControl::Text(int nIndex) const {
    return m_model.data(m_model.index(nIndex), Qt::DisplayRole).toString();
}

bool ListBoxControl::SetDetail(int nIndex, const Detail& detail) {
    if (nIndex < 0 || nIndex >= Count())
        return false;
    m_details[static_cast<std::size_t>(nIndex)] = detail;
    return true;
}

const ListBoxControl::Detail* ListBoxControl::DetailOf(int nIndex) const {
    if (nIndex < 0 || nIndex >= Count() || !m_details[static_cast<std::size_t>(nIndex)])
        return nullptr;
    return &*m_details[static_cast<std::size_t>(nIndex)];
}

QString ListBoxControl::Hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

void ListBoxControl::Copy() {
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (!rows.isEmpty())
        QGuiApplication::clipboard()->setText(rows.first().data().toString());
}

void ListBoxControl::CopyAsHex() {
    const QModelIndexList rows = selectionModel()->selectedRows();
    const Detail* pDetail = rows.isEmpty() ? nullptr : DetailOf(rows.first().row());
    if (pDetail)
        QGuiApplication::clipboard()->setText(Hex(pDetail->bytes));
}

void ListBoxControl::CopyAll() {
    QGuiApplication::clipboard()->setText(m_model.stringList().join('\n'));
}

bool ListBoxControl::Save(const QString& path, QString* pError, FileFormat format) const {
    const QStringList lines = m_model.stringList();
    QByteArray bytes;
    if (format == FileFormat::TabSeparated)
        bytes += "time\tcommand\treply\n";
    for (int i = 0; i < lines.size(); ++i) {
        if (format == FileFormat::Text) {
            bytes += (lines[i] + '\n').toUtf8();
            continue;
        }
        const Detail* pDetail = DetailOf(i);
        const QString time = pDetail ? TimeText(pDetail->timeMs) : QString();
        const QString command = pDetail ? TsvField(pDetail->command) : QString();
        bytes += (time + '\t' + command + '\t' + TsvField(lines[i]) + '\n').toUtf8();
    }
    return WriteWholeFile(path, bytes, pError);
}

void ListBoxControl::SaveAs() {
    const char* pszEntry = CStringTable::Find(IDS_LISTBOX_SAVE_AS);
    QString title = QString::fromLatin1(pszEntry ? pszEntry : "&Save As...");
    title.remove('&').remove("...");
    const QString tsv = "Tab-separated values (*.tsv)";
    QString type;
    const QString path = QFileDialog::getSaveFileName(
        window(), title, QDir::home().filePath(QString(GetProgramName()) + ".txt"),
        "Text files (*.txt);;" + tsv + ";;All files (*)", &type);
    ReturnFocus(window());
    const FileFormat format = type == tsv || path.endsWith(".tsv", Qt::CaseInsensitive)
                                  ? FileFormat::TabSeparated
                                  : FileFormat::Text;
    QString error;
    if (path.isEmpty() || Save(path, &error, format))
        return;
    QMessageBox box(QMessageBox::Warning, GetProgramName(),
                    QString("Cannot save %1: %2").arg(QDir::toNativeSeparators(path), error),
                    QMessageBox::Ok, window());
    box.exec();
    ReturnFocus(window());
}

void ListBoxControl::keyPressEvent(QKeyEvent* pEvent) {
    if (pEvent->matches(QKeySequence::Copy)) {
        Copy();
        return;
    }
    QTableView::keyPressEvent(pEvent);
}

void ListBoxControl::contextMenuEvent(QContextMenuEvent* pEvent) {
    const char* pszSaveAs = CStringTable::Find(IDS_LISTBOX_SAVE_AS);
    auto* pMenu = new QMenu(this);
    connect(pMenu, &QMenu::aboutToHide, pMenu, &QObject::deleteLater);
    // Each entry acts once the menu has gone.
    const auto add = [this, pMenu](const QString& text, void (ListBoxControl::*pfn)(), bool on) {
        QAction* pAction = pMenu->addAction(text, this, pfn, Qt::QueuedConnection);
        pAction->setEnabled(on);
        return pAction;
    };
    const QModelIndexList rows = selectionModel()->selectedRows();
    const Detail* pDetail = rows.isEmpty() ? nullptr : DetailOf(rows.first().row());
    add("&Copy", &ListBoxControl::Copy, !rows.isEmpty())->setShortcut(QKeySequence::Copy);
    add("Copy as &Hex", &ListBoxControl::CopyAsHex, pDetail && !pDetail->bytes.isEmpty());
    add("Copy &All", &ListBoxControl::CopyAll, Count() > 0);
    add(QString::fromLatin1(pszSaveAs ? pszSaveAs : "&Save As..."), &ListBoxControl::SaveAs,
        Count() > 0);
    // From the keyboard: at the current line, else at the top of the list.
    QPoint at = pEvent->globalPos();
    if (pEvent->reason() == QContextMenuEvent::Keyboard)
        at = viewport()->mapToGlobal(currentIndex().isValid() ? visualRect(currentIndex()).center()
                                                              : QPoint(0, 0));
    pMenu->popup(at);
}

void ListBoxControl::changeEvent(QEvent* pEvent) {
    if (pEvent->type() == QEvent::FontChange)
        FitRowsToFont();
    QTableView::changeEvent(pEvent);
}

QModelIndex ListBoxControl::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    // One column: Home and End are the first and the last line, not the row's ends.
    if (action == MoveHome)
        return m_model.index(0);
    if (action == MoveEnd)
        return m_model.index(m_model.rowCount() - 1);
    return QTableView::moveCursor(action, modifiers);
}

bool ListBoxControl::IsCut(const QModelIndex& index) const {
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    return fontMetrics().horizontalAdvance(index.data().toString()) >
           visualRect(index).width() - 2 * margin;
}

bool ListBoxControl::viewportEvent(QEvent* pEvent) {
    if (pEvent->type() != QEvent::ToolTip)
        return QTableView::viewportEvent(pEvent);
    const auto* pHelp = static_cast<QHelpEvent*>(pEvent);
    const QModelIndex index = indexAt(pHelp->pos());
    // The line whole where it is cut, then what it was made from.
    QStringList paragraphs;
    if (index.isValid() && IsCut(index))
        paragraphs << index.data().toString().left(kMaxTipChars);
    if (const Detail* pDetail = index.isValid() ? DetailOf(index.row()) : nullptr) {
        QString bytes =
            pDetail->bytes.isEmpty() ? QString("none") : Hex(pDetail->bytes.left(kMaxTipBytes));
        if (pDetail->bytes.size() > kMaxTipBytes)
            bytes += QString(" ... (%1 bytes)").arg(pDetail->bytes.size());
        paragraphs << "Command: " + pDetail->command.left(kMaxTipChars)
                   << "Time: " + TimeText(pDetail->timeMs) << "Bytes: " + bytes;
    }
    if (paragraphs.isEmpty()) {
        QToolTip::hideText();
        return true;
    }
    // Wrapped, so that a long reply and its bytes stay on the screen.
    QToolTip::showText(pHelp->globalPos(), WrappedTipText(paragraphs.join('\n'), this), viewport(),
                       visualRect(index));
    return true;
}

bool ListBoxControl::event(QEvent* pEvent) {
    if (pEvent->type() != QEvent::Paint || frameShape() == QFrame::NoFrame)
        return QTableView::event(pEvent);
    // The frame only: the view and the scroll bar cover the rest.
    QPainter painter(this);
    KeepEdgeLinesWhole(&painter, this);
    drawFrame(&painter);
    return true;
}

void ListBoxControl::paintEvent(QPaintEvent* pEvent) {
    QTableView::paintEvent(pEvent);
    if (!hasFocus())
        return;
    // Where the focus is, however it came (Qt shows it only once a key has moved it): at the
    // current line; in an empty list where its first line would be; else around the view, when
    // no current line is in it.
    QRect rect = viewport()->rect();
    const QModelIndex current = currentIndex();
    if (Count() == 0)
        rect.setHeight(verticalHeader()->defaultSectionSize());
    else if (current.isValid() && rect.intersects(visualRect(current)))
        rect = visualRect(current);
    QPainter painter(viewport());
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = rect;
    option.backgroundColor = palette().color(QPalette::Base);
    option.state |= QStyle::State_KeyboardFocusChange;
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

void ListBoxControl::focusInEvent(QFocusEvent* pEvent) {
    // Without a current line, the first one wholly in view becomes it (with nothing selected),
    // and the view stays: Qt would take the list's first line, scrolled out of view while the
    // list follows the newest, and scroll to it, and the list would stop following.
    QModelIndex top = indexAt(QPoint(0, 0));
    if (top.isValid() && visualRect(top).top() < 0 && top.row() + 1 < Count())
        top = m_model.index(top.row() + 1);
    if (!currentIndex().isValid() && top.isValid() && pEvent->reason() != Qt::MouseFocusReason) {
        const bool bAutoScroll = hasAutoScroll();
        setAutoScroll(false);
        selectionModel()->setCurrentIndex(top, QItemSelectionModel::NoUpdate);
        setAutoScroll(bAutoScroll);
    }
    QTableView::focusInEvent(pEvent);
    viewport()->update();
}

void ListBoxControl::focusOutEvent(QFocusEvent* pEvent) {
    QTableView::focusOutEvent(pEvent);
    viewport()->update();
}

void ListBoxControl::FitRowsToFont() {
    // One text line per row, as a list box draws it.
    verticalHeader()->setDefaultSectionSize(fontMetrics().height());
}
