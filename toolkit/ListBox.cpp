#include "toolkit/ListBox.h"

#include <QAbstractListModel>

namespace vorelta {

class ListBox::Model final : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(items_.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= items_.size()) {
            return {};
        }
        return Shown(items_[index.row()]);
    }

    const QStringList& items() const { return items_; }

    void clear() {
        beginResetModel();
        items_.clear();
        endResetModel();
    }

    void append(QStringList items) {
        if (items.isEmpty()) {
            return;
        }
        const int first = int(items_.size());
        beginInsertRows({}, first, first + int(items.size()) - 1);
        if (items_.isEmpty()) {
            items_ = std::move(items);
        } else {
            items_.append(std::move(items));
        }
        endInsertRows();
    }

    void remove(int row) {
        if (row < 0 || row >= items_.size()) {
            return;
        }
        beginRemoveRows({}, row, row);
        items_.removeAt(row);
        endRemoveRows();
    }

private:
    static QString Shown(const QString& item) {
        if (!item.contains(u'\r') && !item.contains(u'\n')) {
            return item;
        }
        return QString(item).replace(u'\r', QChar(0x240D)).replace(u'\n', QChar(0x240A));
    }

    QStringList items_;
};

ListBox::ListBox(QWidget* parent) : QListView(parent), model_(new Model(this)) {
    setModel(model_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    // After a change of a list of a million items the view lays them out again: in batches
    // between events, so that a click that adds or removes one item returns at once.
    setLayoutMode(QListView::Batched);
    setBatchSize(2000);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideNone);
}

void ListBox::Clear() {
    model_->clear();
}

void ListBox::AddItem(const QString& item) {
    model_->append({item});
}

void ListBox::AddItems(QStringList items) {
    model_->append(std::move(items));
}

void ListBox::RemoveItem(int index) {
    model_->remove(index);
}

int ListBox::ListCount() const {
    return int(model_->items().size());
}

int ListBox::ListIndex() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.front().row();
}

void ListBox::setListIndex(int index) {
    if (index < 0 || index >= ListCount()) {
        clearSelection();
        return;
    }
    const QModelIndex item = model_->index(index);
    selectionModel()->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect);
}

QString ListBox::List(int index) const {
    const QStringList& items = model_->items();
    return index >= 0 && index < items.size() ? items[index] : QString();
}

std::vector<int> ListBox::Find(QStringView text) const {
    const QStringList& items = model_->items();
    std::vector<int> found;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i].contains(text)) {
            found.push_back(int(i));
        }
    }
    return found;
}

}  // namespace vorelta
