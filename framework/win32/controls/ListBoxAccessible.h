#pragma once

#include <QAccessible>
#include <QAccessibleWidget>

#include <unordered_map>
#include <vector>

class QAbstractItemView;

// A list box as a screen reader finds it: a list whose items are its lines, the rows of the
// view's first column. The table view under it would be announced as a table with a column
// header. An item's interface is made when it is first asked for and goes when lines are
// added or removed.
class ListBoxAccessible : public QAccessibleWidget {
public:
    explicit ListBoxAccessible(QAbstractItemView* pList);

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* pChild) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

protected:
    ~ListBoxAccessible() override;

private:
    QAbstractItemView* List() const;
    void LinesAdded(int first, int last);
    void Forget();

    mutable std::unordered_map<int, QAccessible::Id> m_items; // by line
    std::vector<QMetaObject::Connection> m_connections;
};
