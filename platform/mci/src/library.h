#pragma once
// Process-wide switches of the library.
namespace mci::detail {

// True once mci::ExposeHiddenRegistry was called: lookups, child lists and
// dumps then include hidden nodes.
bool HiddenExposed();

}  // namespace mci::detail
