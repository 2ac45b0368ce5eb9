#pragma once

// Turning the fuzzer's bytes into the program's inputs.

#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/FieldValue.h"

namespace vorelta::fuzz {

// Every two bytes are one UTF-16 code unit, any value: lone surrogates and U+FFFF included,
// as a paste may bring them. An odd last byte is dropped.
inline QString Utf16Units(const std::uint8_t* data, std::size_t size) {
    QString text(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(text.data(), data, size / 2 * 2);
    return text;
}

// Stops the run with the input kept, when a property does not hold.
inline void Require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// A message and keywords to look for in it: the pieces between U+0001 units, the first the
// message, a piece of U+0002 alone a Null keyword. The first byte's lowest bit doubles the message
// until it is longer than `shortLimit`, so that the matchers for long messages run too.
struct MessageAndKeywords {
    QString message;
    std::vector<FieldValue> keywords;
};

inline MessageAndKeywords SplitMessageAndKeywords(const std::uint8_t* data, std::size_t size,
                                                  qsizetype shortLimit) {
    const bool lengthen = data[0] & 1;
    const QStringList pieces = Utf16Units(data + 1, size - 1).split(QChar(u'\x01'));
    MessageAndKeywords input{pieces.front(), {}};
    if (lengthen && !input.message.isEmpty()) {
        while (input.message.size() <= shortLimit) {
            input.message += input.message;
        }
    }
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        input.keywords.push_back(pieces[i] == QStringView(u"\x02") ? FieldValue() : pieces[i]);
    }
    return input;
}

}  // namespace vorelta::fuzz
