#pragma once
// Conversions between the server's values and the protocol's types.
#include <cstdint>
#include <optional>

#include "idl/registry.hh"
#include "tree.h"
#include "value.h"
#include "velnor/wire.h"

namespace velnor::server {

// Replies are kept below the message limit of the wire contract
// (wire::c_maxMessageBytes) by this much: room for headers and the other
// fields of a reply.
constexpr std::uint32_t c_messageHeadroom = 64u * 1024u;

void ToCorba(const Elements& elements, i_NET::Values& out);
// The first element (there must be one) as a single value.
void FirstToCorba(const Elements& elements, i_NET::Value& out);
// nullopt for a union without an element case.
std::optional<Elements> FromCorba(const i_NET::Values& values);
// One element of one element; nullopt as above.
std::optional<Elements> FromCorba(const i_NET::Value& value);
i_NET::NodeInfo InfoOf(const Tree& tree, const Node& node);

// Bytes the elements take on the wire, roughly (texts count their length).
std::uint64_t WireBytes(const Elements& elements);
// Bytes per element of a node type; 0 for texts, whose size varies.
std::uint32_t FixedElementBytes(ValueType type);

}  // namespace velnor::server
