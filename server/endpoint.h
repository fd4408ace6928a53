#pragma once
// Where the server listens: the TCP address and port, and the Unix socket
// whose path follows from the port.
#include <cstdint>
#include <string>

namespace velnor::server {

// A free TCP port on `address`, found by binding port 0 and closing the
// socket again. Throws std::runtime_error.
std::uint16_t PickFreePort(const std::string& address);

// The local socket path of the wire contract; makes its directory when missing.
std::string UnixSocketPath(std::uint16_t port);

// Removes a socket file left by a server that died without cleaning up.
// Throws std::runtime_error when a live server still answers on it.
void RemoveStaleSocket(const std::string& path);

// "giop:tcp:127.0.0.1:17520" (IPv6 addresses in brackets).
std::string TcpEndpoint(const std::string& address, std::uint16_t port);

// Differs between two runs: random bits mixed with the clock.
std::uint64_t NewRunId();

// The machine's host name, "localhost" when it has none.
std::string MachineHostName();

}  // namespace velnor::server
