#pragma once
// How many connections a peer, and all peers together, may hold. A
// connection beyond a bound is closed as soon as it is accepted (the peer
// sees the connection closed); the ones already held are served on.
//
// A connection counts from its admission until it closes. The server keeps
// the connections it admitted; the kernel's socket diagnostics tell who the
// peer of a loopback connection is (the user owning the other end: one
// lookup) and, when a bound is reached, which admitted connections are
// still open (a table filtered to the server's port, at most once a
// second). Connections accepted but not yet judged, as in a burst, count
// for nobody, so a burst cannot push a peer below its bound.
#include <chrono>
#include <cstdint>
#include <functional>
#include <istream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace velnor::server {

struct ConnectionLimits {
    std::size_t perPeer = 256;  // TCP connections of one peer
    std::size_t total = 4096;   // TCP and Unix-socket connections together
};

// A TCP connection by the peer's address (numeric text) and port.
using TcpKey = std::pair<std::string, std::uint16_t>;

// The connections admitted so far, and the judgment of a new one. A
// connection stays in the book until a refresh finds it closed; refreshes
// happen only when the book would refuse (it may hold connections closed
// since), at most once per `refreshPeriod`, so a flood past a bound costs
// one look at the kernel's table per period, not one per connection.
class AdmissionBook {
public:
    using Clock = std::chrono::steady_clock;
    // Which of the admitted connections are still open; nullopt when the
    // kernel cannot be asked.
    using OpenCheck = std::function<std::optional<std::set<TcpKey>>()>;

    explicit AdmissionBook(std::chrono::milliseconds refreshPeriod = std::chrono::seconds(1))
        : m_refreshPeriod(refreshPeriod) {}

    // Judges a TCP connection `candidate` of `peer`, or a Unix-socket one
    // (nullopt); `unixOpen` Unix-socket connections are open now, the
    // candidate's among them.
    bool Admit(const std::optional<TcpKey>& candidate, const std::string& peer, std::size_t unixOpen,
               const ConnectionLimits& limits, const OpenCheck& stillOpen, Clock::time_point now);
    std::size_t Admitted() const { return m_admitted.size(); }

private:
    bool Over(const std::optional<TcpKey>& candidate, const std::string& peer, std::size_t unixOpen,
              const ConnectionLimits& limits) const;
    void Forget(const std::set<TcpKey>& open);

    const std::chrono::milliseconds m_refreshPeriod;
    std::map<TcpKey, std::string> m_admitted;  // connection -> its peer
    std::map<std::string, std::size_t> m_perPeer;
    std::optional<Clock::time_point> m_lastRefresh;
};

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

    // True when a connection from `peerAddress` to `ownAddress` (as the ORB
    // names them: "giop:tcp:ADDR:PORT", "giop:unix:...") stays open. False
    // also when the kernel cannot be asked (no descriptor left).
    bool Admit(const std::string& peerAddress, const std::string& ownAddress);

private:
    const std::uint16_t m_port;
    const std::string m_unixPath;
    const ConnectionLimits m_limits;
    std::mutex m_lock;  // guards m_book and m_unixOpen; the ORB judges on several threads
    AdmissionBook m_book;
    std::size_t m_unixOpen = 0;  // as last counted
};

// The remote ends of the server's accepted TCP connections on `port` (IPv4
// and IPv6) as the kernel holds them now; nullopt when it cannot be asked.
std::optional<std::set<TcpKey>> ReadOpenTcp(std::uint16_t port);

}  // namespace velnor::server
