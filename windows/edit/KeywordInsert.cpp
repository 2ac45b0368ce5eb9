#include "windows/edit/KeywordInsert.h"

#include <QHash>
#include <algorithm>
#include <exception>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include "base/Text.h"
#include "windows/edit/StoreWait.h"

namespace vorelta {

namespace {

// A text's 40-bit hash above a 24-bit index, so that sorting these keys sorts by hash and keeps
// equal hashes in index order.
constexpr int kIndexBits = 24;
constexpr std::uint64_t kIndexMask = (std::uint64_t(1) << kIndexBits) - 1;

const QString kReplacedDuringInsert =
    QStringLiteral(u"插入期间 key.mdb 被替换，这些关键字没有存入现在的 key.mdb，请再按一次插入。");

std::uint64_t KeyOf(QStringView text, std::size_t index) {
    return std::uint64_t(qHash(text)) << kIndexBits | (index & kIndexMask);
}

std::uint64_t HashPart(std::uint64_t key) {
    return key >> kIndexBits;
}

// Sorts by hash, least significant digits first: three passes over the keys in order, where a
// comparison sort of a million keys jumps about memory twenty times as often. The index bits
// are not sorted on: each pass keeps the order of equal digits, and the keys come in index
// order.
void RadixSort(std::vector<std::uint64_t>& keys) {
    constexpr int kDigitBits = 14;  // three digits cover the 40 bits of the hash
    constexpr std::size_t kDigits = std::size_t(1) << kDigitBits;
    constexpr int kShifts[] = {kIndexBits, kIndexBits + kDigitBits, kIndexBits + 2 * kDigitBits};
    // Where each digit's keys start, for every pass, from one reading of the keys.
    std::vector<std::size_t> start(std::size(kShifts) * kDigits);
    for (const std::uint64_t key : keys) {
        for (std::size_t pass = 0; pass < std::size(kShifts); ++pass) {
            ++start[pass * kDigits + ((key >> kShifts[pass]) & (kDigits - 1))];
        }
    }
    for (std::size_t pass = 0; pass < std::size(kShifts); ++pass) {
        std::size_t sum = 0;
        for (std::size_t digit = pass * kDigits; digit < (pass + 1) * kDigits; ++digit) {
            sum += std::exchange(start[digit], sum);
        }
    }
    std::vector<std::uint64_t> scratch(keys.size());
    for (std::size_t pass = 0; pass < std::size(kShifts); ++pass) {
        std::size_t* passStart = &start[pass * kDigits];
        for (const std::uint64_t key : keys) {
            scratch[passStart[(key >> kShifts[pass]) & (kDigits - 1)]++] = key;
        }
        keys.swap(scratch);
    }
}

// The sorted keys of the texts that are there and not empty.
template <class Texts, class TextOf>
std::vector<std::uint64_t> SortedKeys(const Texts& texts, TextOf textOf) {
    std::vector<std::uint64_t> keys;
    keys.reserve(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (const std::optional<QStringView> text = textOf(texts[i]); text && !text->isEmpty()) {
            keys.push_back(KeyOf(*text, i));
        }
    }
    RadixSort(keys);
    return keys;
}

// Which lines are to be stored: those that are not blank, not stored already and not the same
// as an earlier line. Keywords compare as the list shows them: a typed line is stored already
// when the list shows a keyword of the same text, whatever form it is stored in. The typed and
// the stored keywords are sorted by hash and merged, reading memory in order, instead of looked
// up one by one in a table, where a million look-ups are a million cache misses.
std::vector<bool> LinesToStore(const std::vector<QStringView>& typed,
                               const std::vector<FieldValue>& stored) {
    std::vector<bool> toStore(typed.size(), false);
    if (typed.size() > kIndexMask || stored.size() > kIndexMask) {
        throw RuntimeError(6,
                           QStringLiteral(u"行数过多：一次插入的行和库中的记录各最多16777215条。"));
    }
    const std::vector<std::uint64_t> lines =
        SortedKeys(typed, [](QStringView line) { return std::optional<QStringView>(line); });
    const std::vector<std::uint64_t> rows = SortedKeys(stored, [](const FieldValue& keyword) {
        return keyword ? std::optional<QStringView>(*keyword) : std::nullopt;
    });
    const auto line = [&](std::uint64_t key) { return typed[key & kIndexMask]; };
    const auto row = [&](std::uint64_t key) { return QStringView(*stored[key & kIndexMask]); };
    std::size_t r = 0;
    for (std::size_t i = 0; i < lines.size();) {
        const std::uint64_t hash = HashPart(lines[i]);
        std::size_t end = i + 1;
        while (end < lines.size() && HashPart(lines[end]) == hash) {
            ++end;
        }
        while (r < rows.size() && HashPart(rows[r]) < hash) {
            ++r;
        }
        std::size_t rowsEnd = r;
        while (rowsEnd < rows.size() && HashPart(rows[rowsEnd]) == hash) {
            ++rowsEnd;
        }
        // Lines of one hash, in line order: each new text's first line, unless it is stored.
        for (std::size_t k = i; k < end; ++k) {
            bool seen = false;
            for (std::size_t j = i; j < k && !seen; ++j) {
                seen = line(lines[j]) == line(lines[k]);
            }
            for (std::size_t j = r; j < rowsEnd && !seen; ++j) {
                seen = row(rows[j]) == line(lines[k]);
            }
            toStore[lines[k] & kIndexMask] = !seen;
        }
        i = end;
    }
    return toStore;
}

void InsertKeywords(Module1& state, const std::vector<QStringView>& lines, std::int32_t& added,
                    std::vector<std::size_t>& refusedLines) {
    std::vector<QStringView> trimmed;
    trimmed.reserve(lines.size());
    for (const QStringView line : lines) {
        trimmed.push_back(TrimBlanks(line));
    }
    // The rows as they are now, the transaction holding the file: no other program can change
    // them until the commit.
    state.KeyRecordset.Requery();
    const std::vector<bool> toStore =
        LinesToStore(trimmed, state.KeyRecordset.Column(kKeynameField));
    state.KeyRecordset.ReserveRows(std::size_t(std::count(toStore.begin(), toStore.end(), true)));
    for (std::size_t line = 0; line < trimmed.size(); ++line) {
        if (!toStore[line]) {
            continue;
        }
        state.KeyRecordset.AddNew();
        state.KeyRecordset.Fields(kKeynameField).SetValue(trimmed[line].toString());
        try {
            // A row the database drops (a trigger, a conflict clause) is not counted.
            if (state.KeyRecordset.Update()) {
                ++added;
            }
        } catch (const RuntimeError& error) {
            if (error.number() != adErrTextNotStorable) {
                throw;
            }
            refusedLines.push_back(line + 1);
        }
    }
}

// Stores the transaction's rows; when that is not possible nothing of it was stored. SQLite may
// also have rolled the transaction back by itself after a fatal error (a full disk, for one).
// The store knows what its kept rows then hold.
void CommitStoredRows(Connection& connection, std::int32_t& added) {
    try {
        if (connection.CommitTrans()) {
            return;
        }
    } catch (const RuntimeError& error) {
        added = 0;
        if (error.number() == adErrFileReplaced) {
            throw RuntimeError(error.number(), kReplacedDuringInsert);
        }
        if (connection.InTransaction()) {
            connection.RollbackTrans();
        }
        throw;
    }
    added = 0;
}

// A cancelled insert stores nothing. SQLite may have rolled the transaction back by itself when
// the cancel stopped a row; the commit then finds none and says the kept rows were undone.
void AbandonStoredRows(Connection& connection, std::int32_t& added) {
    added = 0;
    if (connection.InTransaction()) {
        connection.RollbackTrans();
    } else {
        connection.CommitTrans();
    }
}

}  // namespace

std::vector<QStringView> KeywordLines(QStringView text) {
    return SplitAtLineBreaks(text);
}

void StoreNewKeywords(Module1& state, const std::vector<QStringView>& lines, std::int32_t& added,
                      std::vector<std::size_t>& refusedLines) {
    added = 0;
    refusedLines.clear();
    state.KeyConnection.BeginTrans();
    std::exception_ptr failure;
    try {
        InsertKeywords(state, lines, added, refusedLines);
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        // Also after an error: the rows stored before it stay; not after a cancel.
        if (failure && IsCancel(failure)) {
            AbandonStoredRows(state.KeyConnection, added);
        } else {
            CommitStoredRows(state.KeyConnection, added);
        }
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
