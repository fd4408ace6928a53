#pragma once
#include <cstdint>
#include <string>

// Process-wide switches of the library.
namespace mci::detail {

// Where the calls of one connection go.
struct CallTarget {
    std::string host;      // as given to Connect
    std::int32_t port = 0;
    std::string unixPath;  // the local server's socket; empty when the connection uses TCP only
};

// True once mci::ExposeHiddenRegistry was called: lookups, child lists and
// dumps then include hidden nodes.
bool HiddenExposed();

// The URI of the object under `key` on the target's server (its unix
// socket first when it has one).
std::string CorbalocOf(const CallTarget& target, const std::string& key);

}  // namespace mci::detail
