#include "windows/edit/KeywordInsert.h"

#include <QHash>
#include <algorithm>
#include <bit>
#include <exception>
#include <vector>

#include "base/Text.h"

namespace vorelta {

namespace {

const QString kLineBreak = QStringLiteral("\r\n");

// The distinct typed keywords, each marked once it is found stored or has been stored. Every
// stored keyword is looked up among the typed ones, rather than every typed one among the
// stored: the table is as large as the input, which is small when a few lines go into a long
// list. Keywords compare as the list shows them: a typed line is stored already when the list
// shows a keyword of the same text, whatever form that keyword is stored in.
class TypedKeywords {
public:
    explicit TypedKeywords(const std::vector<QStringView>& keywords)
        : entryOf_(keywords.size(), kNone), slots_(std::bit_ceil(2 * keywords.size() + 16)) {
        texts_.reserve(keywords.size());
        for (std::size_t line = 0; line < keywords.size(); ++line) {
            if (!keywords[line].isEmpty()) {
                entryOf_[line] = insert(keywords[line]);
            }
        }
        taken_.assign(texts_.size(), false);
    }

    void markStored(const std::vector<FieldValue>& stored) {
        for (const FieldValue& keyword : stored) {
            if (keyword) {
                if (const std::uint32_t entry = find(*keyword); entry != kNone) {
                    taken_[entry] = true;
                }
            }
        }
    }

    // How many keywords are neither stored nor taken yet.
    std::size_t untaken() const {
        return std::size_t(std::count(taken_.begin(), taken_.end(), false));
    }

    // True the first time for a line whose keyword is not stored: it is to be stored now.
    bool take(std::size_t line) {
        const std::uint32_t entry = entryOf_[line];
        if (entry == kNone || taken_[entry]) {
            return false;
        }
        taken_[entry] = true;
        return true;
    }

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;
    // The hash sits beside the entry, so that a probe reads the text only when they agree.
    struct Slot {
        std::uint32_t entry = kNone;
        std::uint32_t hash = 0;
    };

    // The slot holding the text, or the empty one where it would go.
    Slot& slotFor(QStringView text, std::uint32_t hash) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t at = hash & mask;
        while (slots_[at].entry != kNone &&
               (slots_[at].hash != hash || texts_[slots_[at].entry] != text)) {
            at = (at + 1) & mask;
        }
        return slots_[at];
    }

    std::uint32_t find(QStringView text) { return slotFor(text, std::uint32_t(qHash(text))).entry; }

    std::uint32_t insert(QStringView text) {
        const auto hash = std::uint32_t(qHash(text));
        Slot& slot = slotFor(text, hash);
        if (slot.entry == kNone) {
            slot = {std::uint32_t(texts_.size()), hash};
            texts_.push_back(text);
        }
        return slot.entry;
    }

    std::vector<std::uint32_t> entryOf_;  // each line's entry
    std::vector<Slot> slots_;
    std::vector<QStringView> texts_;  // the entries
    std::vector<bool> taken_;
};

void InsertKeywords(Module1& state, const std::vector<QStringView>& lines, std::int32_t& added) {
    std::vector<QStringView> trimmed;
    trimmed.reserve(lines.size());
    for (const QStringView line : lines) {
        trimmed.push_back(TrimBlanks(line));
    }
    TypedKeywords typed(trimmed);
    // The rows as they are now, the transaction holding the file: no other program can change
    // them until the commit.
    state.KeyRecordset.Requery();
    typed.markStored(state.KeyRecordset.Column(kKeynameField));
    state.KeyRecordset.ReserveRows(typed.untaken());
    for (std::size_t line = 0; line < trimmed.size(); ++line) {
        if (!typed.take(line)) {
            continue;
        }
        state.KeyRecordset.AddNew();
        state.KeyRecordset.Fields(kKeynameField).SetValue(trimmed[line].toString());
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
