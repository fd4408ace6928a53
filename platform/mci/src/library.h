#pragma once
#include <cstdint>
#include <string>

// Process-wide switches of the library.
namespace mci::detail {

// True once mci::ExposeHiddenRegistry was called: lookups, child lists and
// dumps then include hidden nodes.
bool HiddenExposed();

// The URI of the object under `key` on the server at host:port (the local
// unix socket first when there is one).
std::string CorbalocFor(const std::string& host, std::int32_t port, const std::string& key);

// The URI of the same object over TCP alone when CorbalocFor gives the
// unix socket, or empty.
std::string TcpAlternativeFor(const std::string& host, std::int32_t port, const std::string& key);

}  // namespace mci::detail
