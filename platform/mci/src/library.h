#pragma once
#include <cstdint>
#include <string>

#include "call_deadline.h"

// Process-wide switches of the library.
namespace mci::detail {

// True once mci::ExposeHiddenRegistry was called: lookups, child lists and
// dumps then include hidden nodes.
bool HiddenExposed();

// The URI of the object under `key` on the target's server (its unix
// socket first when it has one).
std::string CorbalocOf(const CallTarget& target, const std::string& key);

}  // namespace mci::detail
