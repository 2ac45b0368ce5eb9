#include "toolkit/TextBoxDocument.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <cstdlib>

#include "base/Text.h"

namespace vorelta::textbox {

namespace {

constexpr char16_t kCR = u'\r';
constexpr char16_t kLF = u'\n';
constexpr char16_t kParagraphSeparator = 0x2029;  // what the document keeps between blocks

// A mark carries the character it stands for in this property of its character format.
constexpr int kStandsForProperty = QTextFormat::UserProperty + 1;
// A block separator with this property in its character format is a soft break: it stands for
// nothing in the text. Being the separator's own, the property goes and comes back with it, in
// deletes, undo and redo alike. (A property of the block after it would not: when the editor
// removes a separator after an empty block, the joined block keeps the format of the block
// after the separator, which then claims a soft break that is no longer there.)
constexpr int kSoftBreakProperty = QTextFormat::UserProperty + 2;

bool IsBreakCharacter(char16_t c) {
    return c == kCR || c == kLF || c == kLineSeparator || c == kParagraphSeparator;
}

// The visible mark shown for a break character that is not part of a CR LF pair.
char16_t MarkFor(char16_t c) {
    switch (c) {
        case kCR:
            return 0x240D;  // ␍
        case kLF:
            return 0x240A;  // ␊
        default:
            return 0x2424;  // ␤
    }
}

bool IsPairAt(const QString& text, qsizetype i) {
    return text[i] == kCR && i + 1 < text.size() && text[i + 1] == kLF;
}

QTextCharFormat SoftBreakFormat() {
    QTextCharFormat format;
    format.setProperty(kSoftBreakProperty, true);
    return format;
}

// How far the cursor stands into its line, or into its piece of a line in pieces.
int ColumnInLine(const QTextCursor& cursor) {
    const QString before = cursor.block().text().left(cursor.positionInBlock());
    return int(before.size() - before.lastIndexOf(QChar(kLineSeparator)) - 1);
}

// Writes text at a cursor. A CR LF pair (with pasted text, every break character) ends the line:
// short lines share a block, each ended by a line separator inside it, since a document of a
// million lines would take seconds to build as a million blocks; a line that would take the
// block past kPieceLength code units starts a block of its own instead. A line grows a soft break
// after every kPieceLength code units of its own, so that a line no longer than that is never cut.
class PieceWriter {
public:
    PieceWriter(QTextCursor& cursor, LoneBreaks loneBreaks)
        : cursor_(cursor),
          loneBreaks_(loneBreaks),
          column_(ColumnInLine(cursor)),
          blockColumn_(cursor.positionInBlock()) {}

    void write(const QString& text) {
        run_.reserve(std::min<qsizetype>(text.size(), kPieceLength * 2));
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            if (endsLineAt(text, i)) {
                i += IsPairAt(text, i) ? 1 : 0;
                endLine(text, i + 1);
                continue;
            }
            // Never between the halves of a surrogate pair.
            if (column_ >= kPieceLength && !QChar::isLowSurrogate(c)) {
                flush();
                cutLine();
            }
            if (IsBreakCharacter(c)) {
                flush();
                QTextCharFormat mark;
                mark.setProperty(kStandsForProperty, int(c));
                cursor_.insertText(QString(QChar(MarkFor(c))), mark);
            } else {
                run_ += QChar(c);
            }
            ++column_;
            ++blockColumn_;
        }
        flush();
    }

    // Where the soft breaks and the line separators went, as document positions.
    const std::vector<int>& softBreaks() const { return softBreaks_; }
    const std::vector<int>& lineSeparators() const { return lineSeparators_; }

private:
    bool endsLineAt(const QString& text, qsizetype i) const {
        return IsPairAt(text, i) ||
               (IsBreakCharacter(text[i].unicode()) && loneBreaks_ == LoneBreaks::BreakTheLine);
    }

    // Whether the line of the text that starts at `from` ends (or the text does) within `room`
    // code units.
    bool lineFits(const QString& text, qsizetype from, int room) const {
        for (qsizetype i = from; i < text.size() && i - from <= room; ++i) {
            if (endsLineAt(text, i)) {
                return true;
            }
        }
        return text.size() - from <= room;
    }

    // The next line shares the block only if all of it fits in there: a longer one, starting a
    // block of its own, is cut into full pieces.
    void endLine(const QString& text, qsizetype next) {
        if (!lineFits(text, next, kPieceLength - blockColumn_ - 1)) {
            flush();
            insertBreak(QTextCharFormat());
            return;
        }
        lineSeparators_.push_back(cursor_.position() + int(run_.size()));
        run_ += QChar(kLineSeparator);
        column_ = 0;
        ++blockColumn_;
    }

    // At the end of a piece already full, the soft break after it moves to the cursor instead of
    // getting a second one there, which would give what is written a line of its own on the
    // screen; and a caret standing there moves along with what is written.
    void cutLine() {
        if (cursor_.atBlockEnd() && FollowsSoftBreak(cursor_.block().next())) {
            cursor_.deleteChar();
        }
        softBreaks_.push_back(cursor_.position());
        insertBreak(SoftBreakFormat());
    }

    void insertBreak(const QTextCharFormat& separator) {
        cursor_.insertBlock(QTextBlockFormat(), separator);
        column_ = blockColumn_ = 0;
    }

    void flush() {
        if (!run_.isEmpty()) {
            cursor_.insertText(run_, QTextCharFormat());
            run_.clear();
        }
    }

    QTextCursor& cursor_;
    const LoneBreaks loneBreaks_;
    QString run_;      // written but not yet in the document
    int column_;       // in the line, or in its piece
    int blockColumn_;  // in the block, which short lines share
    std::vector<int> softBreaks_;
    std::vector<int> lineSeparators_;
};

// How long the line around a document position is, counted only until it is longer than a piece.
int LineLengthAround(const QTextDocument& document, int position) {
    const QTextBlock at = document.findBlock(position);
    const int column = position - at.position();
    int length = 0;
    QString part = at.text().left(column);
    for (QTextBlock block = at; length <= kPieceLength;
         block = block.previous(), part = block.text()) {
        const qsizetype start = part.lastIndexOf(QChar(kLineSeparator)) + 1;
        length += int(part.size() - start);
        if (start > 0 || !FollowsSoftBreak(block)) {
            break;
        }
    }
    part = at.text().mid(column);
    for (QTextBlock block = at; length <= kPieceLength; block = block.next(), part = block.text()) {
        const qsizetype end = part.indexOf(QChar(kLineSeparator));
        length += int(end < 0 ? part.size() : end);
        if (end >= 0 || !FollowsSoftBreak(block.next())) {
            break;
        }
    }
    return length;
}

// The characters of one block between two document positions, marks read as what they stand for
// and line separators as CR LF; notes the positions of the line separators.
void AppendCharacters(const QTextBlock& block, int from, int to, QString& out,
                      std::vector<int>& lineSeparators) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        const int start = std::max(from, fragment.position());
        const int end = std::min(to, fragment.position() + fragment.length());
        if (fragment.position() >= to) {
            break;
        }
        if (start >= end) {
            continue;
        }
        const QString chars = fragment.text().mid(start - fragment.position(), end - start);
        const QVariant standsFor = fragment.charFormat().property(kStandsForProperty);
        if (standsFor.isValid()) {
            // Marks are told from typed look-alikes by their character format.
            const auto original = char16_t(standsFor.toInt());
            for (const QChar c : chars) {
                out += c == MarkFor(original) ? QChar(original) : c;
            }
            continue;
        }
        for (qsizetype i = 0, runStart = 0; i <= chars.size(); ++i) {
            if (i == chars.size() || chars[i] == QChar(kLineSeparator)) {
                out += QStringView(chars).sliced(runStart, i - runStart);
                if (i < chars.size()) {
                    out += kLineBreak;
                    lineSeparators.push_back(start + int(i));
                }
                runStart = i + 1;
            }
        }
    }
}

}  // namespace

bool FollowsSoftBreak(const QTextBlock& block) {
    // A block's character format is that of the separator before it.
    return block.isValid() && block.charFormat().boolProperty(kSoftBreakProperty);
}

WrittenBreaks WriteText(QTextCursor& cursor, const QString& text, LoneBreaks loneBreaks) {
    PieceWriter writer(cursor, loneBreaks);
    writer.write(text);
    return {writer.softBreaks(), writer.lineSeparators()};
}

QString ReadRange(const QTextDocument& document, int from, int to, int& breaks,
                  std::vector<int>& softBreaks, std::vector<int>& lineSeparators) {
    QString result;
    to = std::min(to, document.characterCount() - 1);
    for (QTextBlock block = document.findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        const int separator = block.position() + block.length() - 1;
        AppendCharacters(block, std::max(from, block.position()), std::min(to, separator), result,
                         lineSeparators);
        if (separator >= to || !block.next().isValid()) {
            break;
        }
        ++breaks;
        if (FollowsSoftBreak(block.next())) {
            softBreaks.push_back(separator);
        } else {
            result += kLineBreak;
        }
    }
    return result;
}

// A soft break only cuts a line in two: beside an empty piece or a line separator it would show
// a line that the text does not have, and a line that fits in a piece is shown whole.
bool IsNeedlessSoftBreak(const QTextDocument& document, int separator) {
    const QTextBlock before = document.findBlock(separator);
    return before.length() == 1 || before.next().length() == 1 ||
           document.characterAt(separator - 1) == QChar(kLineSeparator) ||
           document.characterAt(separator + 1) == QChar(kLineSeparator) ||
           LineLengthAround(document, separator) <= kPieceLength;
}

// The document itself is asked where the soft breaks are: a box's own record of them is not
// brought up to date until an edit still open has ended.
int StepAlongLine(const QTextDocument& document, int position, int units) {
    const auto softBreakAt = [&document](int at) {
        const QTextBlock block = document.findBlock(at);
        return at == block.position() + block.length() - 1 && FollowsSoftBreak(block.next());
    };
    const int step = units < 0 ? -1 : 1;
    const int end = document.characterCount() - 1;
    for (int left = std::abs(units); left > 0 && position + step >= 0 && position + step <= end;
         --left) {
        // Soft breaks can meet around a piece that the edit has just emptied.
        while (softBreakAt(step < 0 ? position - 1 : position)) {
            position += step;
        }
        position += step;
    }
    return std::clamp(position, 0, end);
}

}  // namespace vorelta::textbox
