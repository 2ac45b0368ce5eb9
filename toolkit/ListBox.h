#pragma once

#include <QListView>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace vorelta {

// A single-selection list of plain text items that it does not hold: it shows a column kept
// elsewhere (the keywords as the store keeps them), read item by item as they are drawn. A
// list of a million keywords costs no second copy of them.
//
// The view has uniform item sizes and lays out in batches, so such a list fills, scrolls and
// selects without a pause. A line break inside an item is shown as a mark, so that every item
// stays one line high, and an item of any length is shown by its beginning.
class ListBox : public QListView {
    Q_OBJECT

public:
    // The items; a missing one (Null) is listed as an empty item.
    using Items = std::vector<std::optional<QString>>;
    // Where the items are now; null while there are none. Asked at every use, so that the list
    // never holds on to items that have moved.
    using ItemsSource = std::function<const Items*()>;

    explicit ListBox(QWidget* parent = nullptr);

    // Lists the items the source holds now, none selected. Called again after they change.
    void ShowItems(ItemsSource source);
    // While the source's items are being changed on another thread, the list asks it nothing:
    // the items in view stay shown as they were, until the next ShowItems.
    void HoldItems();

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
