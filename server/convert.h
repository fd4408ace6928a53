#pragma once
// Conversion of written elements to a node's own element type. Only exact
// conversions pass: 5 to double yes, 1.5 or -1 to an unsigned no.
#include <optional>
#include <string>

#include "value.h"

namespace velnor::server {

struct ConversionFailure {
    std::size_t index;  // first element that did not fit
    std::string text;   // that element as written (texts in single quotes)
};

// Converts every element of `in` to `target` (enum: string). Returns the
// converted elements, or the first element that does not fit.
std::variant<Elements, ConversionFailure> ConvertElements(const Elements& in, ValueType target);

}  // namespace velnor::server
