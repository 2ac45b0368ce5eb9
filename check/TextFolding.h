#pragma once

// Text folded so that the forms a keyword may be disguised in become one: what the screening for
// near-misses compares, beside the exact check.
//
// Each code point is folded on its own, so that every folded code point can be traced back to
// the one it was written as:
// - its NFKC_Casefold form, from ICU: full-width letters, digits and punctuation become
//   half-width, ligatures and circled or styled letters plain ones, and the case is folded fully
//   ("ẞ" → "ss", "İ" → "i̇"). The code points that form removes, the default-ignorable ones
//   (fillers, joiners, variation selectors, tag characters), stay as they are, as separators;
// - its traditional Chinese form made simplified, character by character, through OpenCC's
//   traditional-to-simplified conversion of that character alone. OpenCC converts phrases in
//   context and tells no positions, so phrases are not used: a character that stands for several
//   simplified ones takes its commonest ("乾" → "干", also in "乾隆"; "瞭" stays "瞭"). Keyword and
//   message are folded alike, so such a choice can only make two different words meet, never part
//   two equal ones.
// A letter and a combining mark written apart stay apart: the normalisation works on one code
// point at a time and composes nothing across them.

#include <QChar>
#include <QString>
#include <QStringView>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Text.h"

namespace vorelta {

// OpenCC's conversion of UTF-8 text (opencc_convert_utf8), or a stand-in for it: a new string
// for opencc_convert_utf8_free, or null when the conversion failed.
using Utf8Conversion = char* (*)(void* converter, const char* text, std::size_t length);

// The text with its traditional characters made simplified by OpenCC's t2s.json, through
// `convert` (OpenCC's own when null). RuntimeError 53 without t2s.json, and 51 when the
// conversion fails: an empty text in its place would quietly stop folding traditional forms.
QString TraditionalToSimplified(const QString& text, Utf8Conversion convert = nullptr);

// What a folded code point is to the search for near-misses.
enum class CodePointKind : std::uint8_t {
    Letter,        // a letter, digit or combining mark that is none of the below
    LatinOrDigit,  // a Latin letter or a decimal digit: keywords of these match whole words only
    // One that may stand between the characters of a word without making it another word:
    // punctuation, symbols, emoji, spaces, controls, every default-ignorable code point
    // (zero-width spaces and joiners, fillers, variation selectors, byte order marks) and a lone
    // surrogate.
    Separator,
    // A separator that ends a clause or a line: 、。,.;:!? (full-width ones fold to these) and the
    // line breaks. Only keywords of three or more letters are met across it.
    Break,
};

CodePointKind KindOf(char32_t codePoint);

// Separators and breaks alike.
bool IsSeparator(char32_t codePoint);

// Both of the above, looked up in a table worked out once for the whole program (some tens of
// milliseconds, most of them OpenCC's) for the loops that fold whole messages. Without OpenCC's
// table t2s.json the first use throws RuntimeError 53; when OpenCC or ICU fails at its work,
// RuntimeError 51. The next use tries again.
class FoldingTable {
public:
    static const FoldingTable& Get();

    // Empty when the code point folds to itself.
    std::u32string_view changedForm(char32_t c) const {
        if (c >= kTableEnd) {
            return {};
        }
        return {pool_.data() + start_[c], start_[c + 1] - start_[c]};
    }

    CodePointKind kind(char32_t c) const {
        return c < kTableEnd ? CodePointKind(kind_[c]) : Classify(c);
    }
    bool isSeparator(char32_t c) const { return kind(c) >= CodePointKind::Separator; }

    // What a UTF-16 code unit that is a whole code point folds to where that is simple, as it is
    // for most: the one letter of its form, kDropped for a separator, kDroppedBreak for a break,
    // else kLookUp. Neither U+0000 nor U+0001 is ever a letter.
    static constexpr char16_t kDropped = 0;
    static constexpr char16_t kDroppedBreak = 1;
    static constexpr char16_t kLookUp = 0xFFFF;
    char16_t simpleForm(char16_t c) const { return simpleForm_[c]; }

private:
    // No fold changes a code point from here on (tags, the variation selectors supplement,
    // private use), so the table stops here.
    static constexpr char32_t kTableEnd = 0x40000;

    FoldingTable();
    static CodePointKind Classify(char32_t c);
    char16_t SimpleForm(std::u32string_view form) const;

    std::vector<std::uint32_t> start_;  // where each code point's changed form starts in the pool
    std::u32string pool_;
    std::vector<std::uint8_t> kind_;    // a CodePointKind for each code point
    std::vector<char16_t> simpleForm_;  // for each UTF-16 code unit
};

// A text folded code point by code point, with the way back to what was written.
struct FoldedText {
    std::u32string units;                // the folded code points, in text order
    std::vector<std::int32_t> sourceOf;  // for each unit, the index of the code point it came from
    // For each code point of the text, where it starts; one entry more: the text's length.
    std::vector<qsizetype> sourceStart;

    // The stretch of the text written by the code points from that of unit `first` to that of
    // unit `last`, both included.
    TextRun written(std::size_t first, std::size_t last) const {
        return {sourceStart[std::size_t(sourceOf[first])],
                sourceStart[std::size_t(sourceOf[last]) + 1]};
    }
};

// A surrogate pair is one code point; a lone surrogate is one code point that folds to itself.
FoldedText FoldText(QStringView text);

// Appends the folded code points of a text, without the way back: for folding many keywords.
void AppendFolded(QStringView text, std::u32string& folded);

}  // namespace vorelta
