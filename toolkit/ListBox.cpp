#include "toolkit/ListBox.h"

#include <QAbstractListModel>
#include <algorithm>

namespace vorelta {

class ListBox::Model final : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(count_);
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= count_) {
            return {};
        }
        return Shown(item(index.row()));
    }

    qsizetype count() const { return count_; }

    // The item at `row`, which must be below count().
    const QString& item(qsizetype row) const {
        const std::size_t piece = pieceOf(row);
        return pieces_[piece][row - starts_[piece]];
    }

    // Each item in order, `visit(row, item)`.
    template <class Visit>
    void forEach(Visit visit) const {
        qsizetype row = 0;
        for (const QStringList& piece : pieces_) {
            for (const QString& text : piece) {
                visit(row++, text);
            }
        }
    }

    void clear() {
        beginResetModel();
        pieces_.clear();
        reindex();
        endResetModel();
    }

    void append(QStringList items) {
        if (items.isEmpty()) {
            return;
        }
        beginInsertRows({}, int(count_), int(count_ + items.size()) - 1);
        // A batch at least as long as the whole list makes a piece of its own, so that adding
        // a million items to a million moves none of those already there; a smaller batch joins
        // the last piece. The pieces stay few: each starts at least as long as all before it
        // together.
        if (pieces_.empty() || items.size() >= count_) {
            pieces_.push_back(std::move(items));
        } else {
            pieces_.back().append(std::move(items));
        }
        reindex();
        endInsertRows();
    }

    void remove(int row) {
        if (row < 0 || row >= count_) {
            return;
        }
        beginRemoveRows({}, row, row);
        const std::size_t piece = pieceOf(row);
        pieces_[piece].removeAt(row - starts_[piece]);
        if (pieces_[piece].isEmpty()) {
            pieces_.erase(pieces_.begin() + std::ptrdiff_t(piece));
        }
        reindex();
        endRemoveRows();
    }

private:
    // An item is shown on one line and only as far as a list is ever read: a keyword of
    // millions of characters would otherwise be laid out whole at every repaint.
    static QString Shown(const QString& item) {
        constexpr qsizetype kShownLength = 4000;
        QString shown = item;
        if (shown.size() > kShownLength) {
            const qsizetype cut =
                shown[kShownLength - 1].isHighSurrogate() ? kShownLength - 1 : kShownLength;
            shown = shown.first(cut) + QChar(0x2026);
        }
        if (shown.contains(u'\r') || shown.contains(u'\n')) {
            shown.replace(u'\r', QChar(0x240D)).replace(u'\n', QChar(0x240A));
        }
        return shown;
    }

    std::size_t pieceOf(qsizetype row) const {
        return std::size_t(std::upper_bound(starts_.begin(), starts_.end(), row) -
                           starts_.begin()) -
               1;
    }

    void reindex() {
        starts_.clear();
        count_ = 0;
        for (const QStringList& piece : pieces_) {
            starts_.push_back(count_);
            count_ += piece.size();
        }
    }

    // The items in pieces, as they were added.
    std::vector<QStringList> pieces_;
    std::vector<qsizetype> starts_;  // the row of each piece's first item
    qsizetype count_ = 0;
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
    return int(model_->count());
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
    return index >= 0 && index < model_->count() ? model_->item(index) : QString();
}

std::vector<int> ListBox::Find(QStringView text) const {
    std::vector<int> found;
    model_->forEach([&](qsizetype row, const QString& item) {
        if (item.contains(text)) {
            found.push_back(int(row));
        }
    });
    return found;
}

}  // namespace vorelta
