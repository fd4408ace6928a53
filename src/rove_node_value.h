#pragma once
// The value of a node read with its own element type, as one istd::Any:
// what --json and listen --initial print.
#include <cstdint>

#include "istd/any.h"
#include "mci/mci.h"

// The whole value (empty for a valueless node or an unknown type).
istd::Any ReadNodeValue(const mci::Node& node);
// `count` elements from `start` (the node's value type; an array value).
istd::Any ReadNodeElements(const mci::Node& node, std::uint32_t start, std::uint32_t count);
