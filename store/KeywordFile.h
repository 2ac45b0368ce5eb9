#pragma once

// Keyword lists as text files, as they travel between operators and tools: one keyword per line.

#include <QByteArrayView>
#include <QString>
#include <optional>
#include <vector>

#include "store/Database.h"

namespace vorelta {

// The text of a keyword list file. A byte order mark decides the encoding (UTF-8, UTF-16 LE or
// BE); without one, valid UTF-8 is read as UTF-8 and anything else as GB18030, which Chinese
// Windows tools write. LF, CR and CR LF all end a line; in the text each line break is CR LF,
// and a break at the very end is dropped. None when the bytes are no text: a NUL in a file of
// 8-bit characters.
std::optional<QString> DecodeKeywordFile(QByteArrayView bytes);

// Reads the file at `path` as DecodeKeywordFile does. A file that cannot be read, a folder and
// a file that is no text raise an error whose description names the file.
QString ReadKeywordFile(const QString& path);

// Writes the keywords to `path` in this order, one per line, as UTF-8 with a byte order mark
// and CR LF line breaks. The file is written beside the target and put in its place only when
// complete, so the target is either replaced whole or left as it was. Null is written as an
// empty line. Returns how many keywords the file holds that reading it back and storing its
// lines would not store as they are now: empty ones, ones with a line break, a NUL or half of a
// surrogate pair in them, or a blank at either end, and repeats of a keyword written before.
int WriteKeywordFile(const QString& path, const std::vector<FieldValue>& keywords);

}  // namespace vorelta
