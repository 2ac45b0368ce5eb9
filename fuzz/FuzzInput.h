#pragma once

// Turning the fuzzer's bytes into the program's inputs.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

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

}  // namespace vorelta::fuzz
