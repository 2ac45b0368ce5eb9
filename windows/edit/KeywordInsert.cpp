#include "windows/edit/KeywordInsert.h"

#include <algorithm>
#include <bit>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "base/Text.h"

namespace vorelta {

namespace {

const QString kLineBreak = QStringLiteral("\r\n");

// Every keyword now in the table, read once instead of looking each line up on its own, and
// compared as the list shows it: a typed line is stored already when the list shows a keyword
// of the same text, whatever form that keyword is stored in. The texts sit side by side in one
// block and an open-addressed table points into it: a hundred thousand keywords cost two
// allocations instead of one each.
class StoredKeywords {
public:
    StoredKeywords(const std::vector<FieldValue>& stored, std::size_t typed) {
        resize(std::bit_ceil(2 * (stored.size() + typed) + 16));
        for (const FieldValue& keyword : stored) {
            if (keyword) {
                add(QStringView(*keyword));
            }
        }
    }

    // True when the keyword was not stored yet, and is counted as stored from now on.
    bool add(QStringView keyword) {
        return add(std::string_view(reinterpret_cast<const char*>(keyword.utf16()),
                                    std::size_t(keyword.size()) * sizeof(char16_t)));
    }

private:
    struct Slot {
        std::size_t hash = 0;  // 0: empty
        std::size_t offset = 0;
        std::size_t length = 0;
    };

    bool add(std::string_view bytes) {
        const std::size_t hash = std::hash<std::string_view>()(bytes) | 1;
        std::size_t at = hash & mask_;
        for (; slots_[at].hash != 0; at = (at + 1) & mask_) {
            const Slot& slot = slots_[at];
            if (slot.hash == hash && bytesOf(slot) == bytes) {
                return false;
            }
        }
        slots_[at] = {hash, bytes_.size(), bytes.size()};
        bytes_.append(bytes);
        if (++count_ * 2 > slots_.size()) {
            resize(slots_.size() * 2);
        }
        return true;
    }

    std::string_view bytesOf(const Slot& slot) const {
        return std::string_view(bytes_).substr(slot.offset, slot.length);
    }

    void resize(std::size_t capacity) {
        std::vector<Slot> old(capacity);
        old.swap(slots_);
        mask_ = capacity - 1;
        for (const Slot& slot : old) {
            if (slot.hash != 0) {
                std::size_t at = slot.hash & mask_;
                while (slots_[at].hash != 0) {
                    at = (at + 1) & mask_;
                }
                slots_[at] = slot;
            }
        }
    }

    std::string bytes_;
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
    std::size_t count_ = 0;
};

void InsertKeywords(Module1& state, const std::vector<QStringView>& lines, std::int32_t& added) {
    // The rows as they are now, the transaction holding the file: no other program can change
    // them until the commit.
    state.KeyRecordset.Requery();
    StoredKeywords stored(state.KeyRecordset.Column(kKeynameField), lines.size());
    for (const QStringView line : lines) {
        const QStringView trimmed = TrimBlanks(line);
        if (trimmed.isEmpty() || !stored.add(trimmed)) {
            continue;
        }
        state.KeyRecordset.AddNew();
        state.KeyRecordset.Fields(kKeynameField).SetValue(trimmed.toString());
        // A row the database drops (a trigger, a conflict clause) is not counted.
        if (state.KeyRecordset.Update()) {
            ++added;
        }
    }
}

// Stores the transaction's rows; when that is not possible nothing of it was stored, and the
// shared recordset, which holds them already, reads the table anew next time. SQLite may also
// have rolled the transaction back by itself after a fatal error (a full disk, for one).
void CommitStoredRows(Module1& state, std::int32_t& added) {
    Connection& connection = state.KeyConnection;
    try {
        if (connection.InTransaction()) {
            connection.CommitTrans();
            return;
        }
    } catch (...) {
        if (connection.InTransaction()) {
            connection.RollbackTrans();
        }
        added = 0;
        state.KeyRecordset.Forget();
        throw;
    }
    added = 0;
    state.KeyRecordset.Forget();
}

}  // namespace

std::vector<QStringView> KeywordLines(QStringView text) {
    std::vector<QStringView> lines;
    if (text.isEmpty()) {
        return lines;
    }
    qsizetype start = 0;
    for (qsizetype at; (at = text.indexOf(kLineBreak, start)) >= 0; start = at + 2) {
        lines.push_back(text.mid(start, at - start));
    }
    lines.push_back(text.mid(start));
    return lines;
}

void StoreNewKeywords(Module1& state, const std::vector<QStringView>& lines, std::int32_t& added) {
    added = 0;
    state.KeyConnection.BeginTrans();
    std::exception_ptr failure;
    try {
        InsertKeywords(state, lines, added);
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        // Also after an error: the rows stored before it stay.
        CommitStoredRows(state, added);
    } catch (...) {
        if (!failure) {
            failure = std::current_exception();
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

}  // namespace vorelta
