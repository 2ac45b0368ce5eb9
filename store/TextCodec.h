#pragma once

// Keyword text as it is stored in key.mdb: UTF-8, extended so that every sequence of UTF-16
// code units survives the trip. A surrogate pair is one four-byte character as in UTF-8; a lone
// surrogate, which UTF-8 has no form for, is written as the three bytes its code would take.
// Ordinary UTF-8 written by other programs reads as it always did.

#include <QString>
#include <QStringView>
#include <string>

namespace vorelta {

// Appends the text's bytes to `out`.
void AppendStoredText(QStringView text, std::string& out);

// Appends the text as standard UTF-8, for files that other programs read: a lone surrogate,
// which UTF-8 has no form for, becomes U+FFFD.
void AppendUtf8(QStringView text, std::string& out);

// The text those bytes stand for. Bytes that are no part of a character read as U+FFFD, as
// QString::fromUtf8 reads them; a U+FEFF at the start stays.
QString ReadStoredText(const char* bytes, qsizetype size);

}  // namespace vorelta
