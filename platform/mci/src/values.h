#pragma once
// Between the typed element runs of the protocol (i_NET::Values) and the
// element types of the public interface, converting when a value fits.
#include <cstdint>
#include <string>
#include <vector>

#include "idl/registry.hh"
#include "istd/any.h"
#include "node_facts.h"

namespace mci::detail {

// The union case a node's values travel in (enumerations as text).
CORBA::Short WireCase(enums::NodeValType_e type);
std::uint32_t Length(const i_NET::Values& values);

// The elements as T; throws istd::Exception naming the node when an
// element does not fit T.
template <class T>
std::vector<T> FromValues(const i_NET::Values& values, const NodeFacts& node);

// The one element as T into `value` (left as it was on failure); throws
// like FromValues.
template <class T>
void FromValue(const i_NET::Value& element, const NodeFacts& node, T& value);

// The one element in the node's own union case (in T's case for a node
// without value type); throws when it does not fit the node.
template <class T>
i_NET::Value ToValue(const T& element, const NodeFacts& node);

// The elements in the node's own union case (in T's case for a node
// without value type); throws when an element does not fit the node.
template <class T>
i_NET::Values ToValues(const std::vector<T>& elements, const NodeFacts& node);

// A notification value as the public value type.
istd::Any ToAny(const i_NET::Values& values, bool isArray);

}  // namespace mci::detail
