#pragma once

#include <QString>
#include <vector>

class QTextBlock;
class QTextCursor;
class QTextDocument;

namespace vorelta {

// Text as a text box holds it (CR LF breaks, marks for lone breaks) <-> the document it shows.
//
// A CR LF pair ends a line. Short lines share a block, each ended by a line separator inside it;
// a line longer than a piece is held as several blocks joined by soft breaks, block separators
// that stand for nothing in the text. A lone CR or LF, or a Unicode line or paragraph separator,
// is shown as a visible mark (␍, ␊, ␤) that stands for the character it replaces.
namespace textbox {
// Lines longer than this many code units are laid out in pieces of this length.
inline constexpr int kPieceLength = 1000;
// Ends a line inside a block; it is also what Shift+Enter would type.
inline constexpr char16_t kLineSeparator = 0x2028;

// True when the separator before the block is a soft break: the block goes on with the line of
// the block before it.
bool FollowsSoftBreak(const QTextBlock& block);

// What becomes of a lone CR, LF or Unicode separator being written: text from code keeps it as a
// mark, text from outside (pasted or committed) ends the line there.
enum class LoneBreaks { ShownAsMarks, BreakTheLine };

// Where a write put its soft breaks and its line separators, as ascending document positions.
struct WrittenBreaks {
    std::vector<int> softBreaks;
    std::vector<int> lineSeparators;
};

// Writes text at the cursor, which ends up after it.
WrittenBreaks WriteText(QTextCursor& cursor, const QString& text, LoneBreaks loneBreaks);

// The text that the document range [from, to) stands for. Counts the block separators in it
// into `breaks` and adds the positions of its soft breaks and line separators.
QString ReadRange(const QTextDocument& document, int from, int to, int& breaks,
                  std::vector<int>& softBreaks, std::vector<int>& lineSeparators);

// True when the soft break at this separator cuts no line that needs cutting.
bool IsNeedlessSoftBreak(const QTextDocument& document, int separator);

// The document position `units` characters after (or, when negative, before) the position, as
// the line is shown: a soft break takes no room.
int StepAlongLine(const QTextDocument& document, int position, int units);
}  // namespace textbox

}  // namespace vorelta
