#include "toolkit/ListFinder.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>

#include "toolkit/ListBox.h"

namespace vorelta {

ListFinder::ListFinder(ListBox* list)
    : QFrame(list->parentWidget()),
      list_(list),
      field_(new QLineEdit(this)),
      where_(new QLabel(this)) {
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 2, 4, 2);
    row->addWidget(field_, 1);
    row->addWidget(where_);
    field_->setPlaceholderText(QStringLiteral(u"查找"));
    field_->installEventFilter(this);
    connect(field_, &QLineEdit::textChanged, this, &ListFinder::search);
    // Items read before a change of the list may no longer be where they were.
    const auto forget = [this] { searched_.clear(); };
    connect(list->model(), &QAbstractItemModel::modelReset, this, forget);
    connect(list->model(), &QAbstractItemModel::rowsInserted, this, forget);
    connect(list->model(), &QAbstractItemModel::rowsRemoved, this, forget);
    hide();
}

void ListFinder::open() {
    const QRect over = list_->geometry();
    const int height = sizeHint().height();
    setGeometry(over.x(), over.bottom() + 1 - height, over.width(), height);
    show();
    raise();
    field_->setFocus();
    field_->selectAll();
}

QString ListFinder::where() const {
    return where_->text();
}

void ListFinder::next() {
    step(+1);
}

void ListFinder::previous() {
    step(-1);
}

bool ListFinder::eventFilter(QObject* watched, QEvent* event) {
    if (watched != field_ || event->type() != QEvent::KeyPress) {
        return QFrame::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool shift = key->modifiers() & Qt::ShiftModifier;
    switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            next();
            return true;
        case Qt::Key_F3:
            shift ? previous() : next();
            return true;
        case Qt::Key_Escape:
            hide();
            list_->setFocus();
            return true;
        default:
            return false;
    }
}

// The items that contain the text, from the selected one on.
void ListFinder::search(const QString& text) {
    if (text.isEmpty()) {
        searched_.clear();
        matches_.clear();
        where_->clear();
        return;
    }
    std::vector<int> found;
    if (!searched_.isEmpty() && text.startsWith(searched_)) {
        for (const int item : matches_) {
            if (list_->List(item).contains(text)) {
                found.push_back(item);
            }
        }
    } else {
        found = list_->Find(text);
    }
    searched_ = text;
    matches_ = std::move(found);
    const int from = std::max(list_->ListIndex(), 0);
    const auto first = std::lower_bound(matches_.begin(), matches_.end(), from);
    selectMatch(first == matches_.end() ? 0 : std::size_t(first - matches_.begin()));
}

void ListFinder::step(int direction) {
    if (field_->text().isEmpty()) {
        return;
    }
    if (searched_ != field_->text()) {
        search(field_->text());  // the list changed since
        return;
    }
    if (!matches_.empty()) {
        const std::size_t count = matches_.size();
        selectMatch(direction > 0 ? (current_ + 1) % count : (current_ + count - 1) % count);
    }
}

void ListFinder::selectMatch(std::size_t match) {
    if (matches_.empty()) {
        where_->setText(QStringLiteral(u"无匹配"));
        return;
    }
    current_ = match;
    list_->setListIndex(matches_[match]);
    // In the middle, clear of the field over the bottom edge.
    list_->scrollTo(list_->model()->index(matches_[match], 0), QAbstractItemView::PositionAtCenter);
    where_->setText(QStringLiteral("%1/%2").arg(match + 1).arg(matches_.size()));
}

}  // namespace vorelta
