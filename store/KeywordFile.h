#pragma once

// Keyword lists as text files, as they travel between operators and tools: one keyword per line.

#include <QByteArrayView>
#include <QString>
#include <optional>
#include <vector>

#include "store/Database.h"

namespace vorelta {

// The lines of a keyword list file, joined by CR LF.
struct KeywordFileText {
    QString text;
    // Lines with bytes that are no character of the file's encoding; each such byte reads as
    // U+FFFD. A U+FFFD the file holds as a character is no bad byte.
    int linesWithBadBytes = 0;

    bool operator==(const KeywordFileText&) const = default;
};

// A list file larger than this is not imported: reading it would hold the window and the
// memory for what is no list anyone typed.
inline constexpr qint64 kKeywordFileSizeLimit = qint64(512) << 20;

// The text of a keyword list file. A byte order mark decides the encoding (UTF-8, UTF-16 LE or
// BE); without one, valid UTF-8 is read as UTF-8, and so is UTF-8 whose last character is cut
// off (a file still being written, an interrupted copy); anything else as GB18030, which
// Chinese Windows tools write. Bytes that are no character of the encoding read as U+FFFD, the
// rest of their line as it is. LF, CR and CR LF all end a line; in the text each line break is
// CR LF, and a break at the very end is dropped. None when the bytes are no text: a NUL in a
// file of 8-bit characters without a byte order mark.
std::optional<KeywordFileText> DecodeKeywordFile(QByteArrayView bytes);

// Reads the file at `path` as DecodeKeywordFile does. Only a regular file is read: a folder, a
// FIFO, a device or a socket raises an error naming the file and what it is, before anything is
// read or anything waits. So does a file larger than `sizeLimit` bytes, also one that grows
// past it while it is read, and a file that cannot be read or is no text.
KeywordFileText ReadKeywordFile(const QString& path, qint64 sizeLimit = kKeywordFileSizeLimit);

// Everything the descriptor gives, or up to one byte more than `sizeLimit`, which tells a file
// larger than it said it was; `expectedSize` is where the room starts. Null on a read error.
std::optional<QByteArray> ReadUpTo(int fd, qint64 expectedSize, qint64 sizeLimit);

// Writes the keywords to `path` in this order, one per line, as UTF-8 with a byte order mark
// and CR LF line breaks; a NUL, which makes most programs take a file for no text, is written
// as U+FFFD, and so is half of a surrogate pair, which UTF-8 cannot carry. Null is written as an
// empty line.
//
// The file is written beside the target and put in its place only when complete, so the
// target is either replaced whole or left as it was; the new file takes the owner, group and
// mode of the one it replaces as far as the user may set them. A target with other hard links
// is the exception: it is written where it is, so that all its names stay one file, and a write
// that fails partway (a full disk) leaves it cut short.
//
// Returns how many keywords reading the file back and storing its lines would not store as they
// are now: empty ones, ones with a line break, a NUL or half of a surrogate pair in them, or a
// blank at either end, and repeats of a keyword written before.
int WriteKeywordFile(const QString& path, const std::vector<FieldValue>& keywords);

}  // namespace vorelta
