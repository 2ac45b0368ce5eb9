#pragma once

#include <QListView>
#include <QStringList>
#include <vector>

namespace vorelta {

// A single-selection list of plain text items, kept in the order they were added.
//
// The items live in one model shown by a view with uniform item sizes, laid out in batches, so a
// list of a million keywords fills, scrolls, selects and changes without a pause. A line break
// inside an item is shown as a mark, so that every item stays one line high.
class ListBox : public QListView {
    Q_OBJECT

public:
    explicit ListBox(QWidget* parent = nullptr);

    // Removes every item; any selection goes with them.
    void Clear();
    // Appends one item at the end.
    void AddItem(const QString& item);
    // Appends many items at the end at once.
    void AddItems(QStringList items);
    // Removes the item at `index`; the items after it move up.
    void RemoveItem(int index);

    int ListCount() const;
    // The index of the selected item, -1 when none is selected.
    int ListIndex() const;
    void setListIndex(int index);
    // The text of the item at `index`; an empty text for -1 or any index without an item.
    QString List(int index) const;
    // The indexes of the items that contain the text, in list order.
    std::vector<int> Find(QStringView text) const;

private:
    class Model;
    Model* model_;
};

}  // namespace vorelta
