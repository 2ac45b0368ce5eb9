#pragma once

#include <QString>
#include <optional>

namespace vorelta {

// A field's value as text; Null stays distinct from the empty text.
using FieldValue = std::optional<QString>;

}  // namespace vorelta
