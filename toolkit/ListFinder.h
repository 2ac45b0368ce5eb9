#pragma once

#include <QFrame>
#include <vector>

class QLabel;
class QLineEdit;

namespace vorelta {

class ListBox;

// A find field for a list box, shown over the list's bottom edge without moving anything.
// Typing selects and scrolls to the first item that contains the text, from the selected item
// on; Enter or F3 goes on to the next, Shift+F3 back to the previous, going round at either
// end. The field tells where it stands ("3/17") or that no item contains the text. Esc closes
// it and leaves the selection as it is.
//
// Each keystroke looks only through the items that contained the text before it, when the new
// text goes on from the old one; any change of the list starts afresh.
class ListFinder : public QFrame {
    Q_OBJECT

public:
    explicit ListFinder(ListBox* list);

    // Shows the field over the list, with the focus in it and its text selected.
    void open();
    void next();
    void previous();

    QLineEdit* field() const { return field_; }
    QString where() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void search(const QString& text);
    void step(int direction);
    void selectMatch(std::size_t match);

    ListBox* list_;
    QLineEdit* field_;
    QLabel* where_;
    QString searched_;          // the text `matches_` holds the items for
    std::vector<int> matches_;  // the items that contain it, in list order
    std::size_t current_ = 0;   // which of them is selected
};

}  // namespace vorelta
