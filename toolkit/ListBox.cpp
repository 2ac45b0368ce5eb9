#include "toolkit/ListBox.h"

#include <QAbstractListModel>
#include <QScrollBar>
#include <algorithm>

#include "base/Text.h"

namespace vorelta {

class ListBox::Model final : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : count_;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) {
            return {};
        }
        return Shown(item(index.row()));
    }

    void show(ItemsSource source) {
        beginResetModel();
        held_.clear();
        holding_ = false;
        source_ = std::move(source);
        const Items* items = source_ ? source_() : nullptr;
        count_ = items ? int(items->size()) : 0;
        endResetModel();
    }

    // Keeps the items of these rows, and asks the source nothing until the next show.
    void hold(int first, int last) {
        held_.clear();
        heldFrom_ = first;
        for (int row = first; row <= last && row >= 0; ++row) {
            held_.push_back(item(row));
        }
        holding_ = true;
    }

    // The item at `row` as the source holds it now; empty for a row it no longer has.
    QString item(int row) const {
        if (holding_) {
            const int at = row - heldFrom_;
            return at >= 0 && std::size_t(at) < held_.size() ? held_[std::size_t(at)] : QString();
        }
        const Items* items = source_ ? source_() : nullptr;
        if (!items || row < 0 || std::size_t(row) >= items->size()) {
            return {};
        }
        return (*items)[std::size_t(row)].value_or(QString());
    }

    // Each item in order, `visit(row, item)`.
    template <class Visit>
    void forEach(Visit visit) const {
        if (holding_) {
            for (std::size_t at = 0; at < held_.size(); ++at) {
                visit(heldFrom_ + int(at), held_[at]);
            }
            return;
        }
        const Items* items = source_ ? source_() : nullptr;
        for (int row = 0; items && row < count_ && std::size_t(row) < items->size(); ++row) {
            visit(row, (*items)[std::size_t(row)].value_or(QString()));
        }
    }

private:
    // An item is shown on one line and only as far as a list is ever read: a keyword of
    // millions of characters would otherwise be laid out whole at every repaint.
    static QString Shown(const QString& item) {
        constexpr qsizetype kShownLength = 4000;
        QString shown = item;
        if (shown.size() > kShownLength) {
            shown = shown.first(CodePointBoundaryBefore(shown, kShownLength)) + QChar(0x2026);
        }
        if (shown.contains(u'\r') || shown.contains(u'\n')) {
            shown.replace(u'\r', QChar(0x240D)).replace(u'\n', QChar(0x240A));
        }
        return shown;
    }

    ItemsSource source_;
    int count_ = 0;  // as the view was told at the last show
    bool holding_ = false;
    std::vector<QString> held_;  // while holding: the items from row heldFrom_ on
    int heldFrom_ = 0;
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

void ListBox::ShowItems(ItemsSource source) {
    model_->show(std::move(source));
}

// The rows in view are worked out from the scroll position and the line height: asking the view
// (indexAt) would lay out a list of a million items at once.
void ListBox::HoldItems() {
    const int lineHeight = std::max(1, fontMetrics().height());
    const int scrolled = verticalScrollBar()->value();
    const int first = verticalScrollMode() == ScrollPerItem ? scrolled : scrolled / lineHeight;
    const int inView = viewport()->height() / lineHeight + 2;
    model_->hold(first, std::min(model_->rowCount(), first + inView) - 1);
}

int ListBox::ListCount() const {
    return model_->rowCount();
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
    return index < ListCount() ? model_->item(index) : QString();
}

std::vector<int> ListBox::Find(QStringView text) const {
    std::vector<int> found;
    model_->forEach([&](int row, const QString& item) {
        if (item.contains(text)) {
            found.push_back(row);
        }
    });
    return found;
}

}  // namespace vorelta
