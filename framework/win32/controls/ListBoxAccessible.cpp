#include "framework/win32/controls/ListBoxAccessible.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QPointer>
#include <QWindow>

namespace {

// Lines added at once beyond this many are announced as a change of the whole list.
constexpr int kAnnouncedLines = 16;

// One line of the list.
class ListLine : public QAccessibleInterface {
public:
    ListLine(QAbstractItemView* pList, int row) : m_pList(pList), m_row(row) {}

    bool isValid() const override { return m_pList && m_row < m_pList->model()->rowCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override {
        return m_pList ? m_pList->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(m_pList.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name && isValid() ? Index().data().toString() : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid())
            return QRect();
        const QRect line = m_pList->visualRect(Index());
        return QRect(m_pList->viewport()->mapToGlobal(line.topLeft()), line.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const QModelIndex index = Index();
        state.focusable = true;
        state.selectable = true;
        state.selected = m_pList->selectionModel()->isSelected(index);
        state.focused = m_pList->hasFocus() && m_pList->currentIndex() == index;
        if (!m_pList->viewport()->rect().intersects(m_pList->visualRect(index)))
            state.invisible = state.offscreen = true;
        return state;
    }

private:
    QModelIndex Index() const { return m_pList->model()->index(m_row, 0); }

    QPointer<QAbstractItemView> m_pList;
    int m_row;
};

} // namespace

ListBoxAccessible::ListBoxAccessible(QAbstractItemView* pList)
    : QAccessibleWidget(pList, QAccessible::List) {
    // The items' interfaces know their lines by number: when the numbers change they go.
    const QAbstractItemModel* pModel = pList->model();
    m_connections = {
        QObject::connect(
            pModel, &QAbstractItemModel::rowsInserted,
            [this](const QModelIndex&, int first, int last) { LinesAdded(first, last); }),
        QObject::connect(pModel, &QAbstractItemModel::rowsRemoved, [this] { Forget(); }),
        QObject::connect(pModel, &QAbstractItemModel::modelReset, [this] { Forget(); }),
        QObject::connect(pModel, &QAbstractItemModel::layoutChanged, [this] { Forget(); }),
    };
}

ListBoxAccessible::~ListBoxAccessible() {
    for (const QMetaObject::Connection& connection : m_connections)
        QObject::disconnect(connection);
    // The list is being destroyed: its items go without a word, as nothing may ask it any more.
    for (const auto& [row, id] : m_items) {
        if (QAccessible::accessibleInterface(id))
            QAccessible::deleteAccessibleInterface(id);
    }
}

QAbstractItemView* ListBoxAccessible::List() const {
    return static_cast<QAbstractItemView*>(widget());
}

int ListBoxAccessible::childCount() const {
    return List()->model()->rowCount();
}

QAccessibleInterface* ListBoxAccessible::child(int index) const {
    if (index < 0 || index >= childCount())
        return nullptr;
    const auto it = m_items.find(index);
    if (it != m_items.end())
        return QAccessible::accessibleInterface(it->second);
    auto* pLine = new ListLine(List(), index);
    m_items.emplace(index, QAccessible::registerAccessibleInterface(pLine));
    return pLine;
}

int ListBoxAccessible::indexOfChild(const QAccessibleInterface* pChild) const {
    for (const auto& [row, id] : m_items) {
        if (QAccessible::accessibleInterface(id) == pChild)
            return row;
    }
    return -1;
}

QAccessibleInterface* ListBoxAccessible::childAt(int x, int y) const {
    const QModelIndex index = List()->indexAt(List()->viewport()->mapFromGlobal(QPoint(x, y)));
    return index.isValid() ? child(index.row()) : nullptr;
}

QAccessibleInterface* ListBoxAccessible::focusChild() const {
    const QModelIndex current = List()->currentIndex();
    return List()->hasFocus() && current.isValid() ? child(current.row()) : nullptr;
}

void ListBoxAccessible::LinesAdded(int first, int last) {
    // Lines at the end leave the others' numbers as they were.
    if (first < childCount() - 1 - (last - first))
        Forget();
    if (last - first >= kAnnouncedLines) {
        QAccessibleEvent event(List(), QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&event);
        return;
    }
    for (int row = first; row <= last; ++row) {
        QAccessibleEvent event(List(), QAccessible::ObjectCreated);
        event.setChild(row);
        QAccessible::updateAccessibility(&event);
    }
}

void ListBoxAccessible::Forget() {
    const auto items = std::move(m_items);
    m_items.clear();
    for (const auto& [row, id] : items) {
        if (QAccessibleInterface* pLine = QAccessible::accessibleInterface(id)) {
            QAccessibleEvent event(pLine, QAccessible::ObjectDestroyed);
            QAccessible::updateAccessibility(&event);
            QAccessible::deleteAccessibleInterface(id);
        }
    }
}
