#pragma once
// How many connections a peer, and all peers together, may hold. A
// connection beyond a bound is closed as soon as it is accepted (the peer
// sees the connection closed); the ones already held are served on. The
// kernel's own table of the server's connections is the count, so that a
// connection is counted exactly while it is open, whoever closes it.
#include <cstdint>
#include <istream>
#include <map>
#include <string>

namespace velnor::server {

struct ConnectionLimits {
    std::size_t perPeer = 256;  // TCP connections of one peer
    std::size_t total = 4096;   // TCP and Unix-socket connections together
};

// The server's open TCP connections on `port`, by peer. A peer is a remote
// address; a peer on this machine (loopback) is its address and the user
// owning its socket, so that one local user cannot lock out another.
struct TcpConnections {
    std::map<std::string, std::size_t> byPeer;
    std::size_t total = 0;
};

// From /proc/net/tcp and /proc/net/tcp6 text (the kernel's hexadecimal
// layout); lines that do not parse are skipped.
void CountTcpConnections(std::istream& table, std::uint16_t port, TcpConnections& counts);
// Connected sockets of the Unix-domain socket at `path`, from /proc/net/unix.
std::size_t CountUnixConnections(std::istream& table, const std::string& path);

// Largest total that leaves descriptors for everything else the server
// holds (callback connections to listeners among them): half the limit,
// less a reserve.
std::size_t TotalWithinDescriptors(std::size_t wanted, std::uint64_t descriptorLimit);

// Raises the soft descriptor limit to the hard one; gives the soft limit
// in force afterwards.
std::uint64_t RaiseDescriptorLimit();

// Judges every accepted connection of the ORB (installed after ORB_init,
// before the endpoints take connections); one per process.
class ConnectionGuard {
public:
    ConnectionGuard(std::uint16_t port, std::string unixPath, ConnectionLimits limits);
    ~ConnectionGuard();
    ConnectionGuard(const ConnectionGuard&) = delete;
    ConnectionGuard& operator=(const ConnectionGuard&) = delete;

    // True when a connection from `peerAddress` ("giop:tcp:ADDR:PORT" or
    // "giop:unix:...") stays open.
    bool Admit(const std::string& peerAddress) const;

private:
    const std::uint16_t m_port;
    const std::string m_unixPath;
    const ConnectionLimits m_limits;
};

}  // namespace velnor::server
