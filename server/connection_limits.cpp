#include "connection_limits.h"

#include <arpa/inet.h>
#include <omniORB4/CORBA.h>
#include <omniORB4/omniInterceptors.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace velnor::server {

namespace {

// TCP states of /proc/net/tcp that hold a connection of ours.
constexpr unsigned c_established = 0x01;
constexpr unsigned c_synReceived = 0x03;
constexpr unsigned c_closeWait = 0x08;

struct Endpoint {
    std::string address;  // numeric text
    std::uint16_t port = 0;
    bool loopback = false;
};

// "0100007F:C0D1" (IPv4) or 32 hex digits and a port (IPv6), as the kernel
// writes them: the address in the host's byte order, word by word.
bool ParseEndpoint(const std::string& text, Endpoint& endpoint) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) return false;
    const std::string hex = text.substr(0, colon);
    unsigned long port = 0;
    try {
        port = std::stoul(text.substr(colon + 1), nullptr, 16);
    } catch (const std::exception&) {
        return false;
    }
    if (port > 65535) return false;
    endpoint.port = static_cast<std::uint16_t>(port);
    std::uint32_t words[4] = {};
    const std::size_t count = hex.size() / 8;
    if ((count != 1 && count != 4) || hex.size() % 8 != 0) return false;
    for (std::size_t i = 0; i < count; ++i) {
        try {
            words[i] = static_cast<std::uint32_t>(std::stoul(hex.substr(i * 8, 8), nullptr, 16));
        } catch (const std::exception&) {
            return false;
        }
    }
    char buffer[INET6_ADDRSTRLEN] = {};
    if (count == 1) {
        in_addr v4{};
        v4.s_addr = words[0];
        ::inet_ntop(AF_INET, &v4, buffer, sizeof buffer);
        endpoint.loopback = (ntohl(v4.s_addr) >> 24) == 127;
    } else {
        in6_addr v6{};
        std::memcpy(&v6, words, sizeof v6);
        if (IN6_IS_ADDR_V4MAPPED(&v6)) {
            in_addr v4{};
            std::memcpy(&v4, &v6.s6_addr[12], 4);
            ::inet_ntop(AF_INET, &v4, buffer, sizeof buffer);
            endpoint.loopback = (ntohl(v4.s_addr) >> 24) == 127;
        } else {
            ::inet_ntop(AF_INET6, &v6, buffer, sizeof buffer);
            endpoint.loopback = IN6_IS_ADDR_LOOPBACK(&v6);
        }
    }
    endpoint.address = buffer;
    return true;
}

struct Socket {
    Endpoint local;
    Endpoint remote;
    unsigned state = 0;
    std::string uid;
    bool accepted = false;  // has a descriptor (inode 0: still in the accept queue)
};

std::vector<Socket> ReadTable(std::istream& table) {
    std::vector<Socket> sockets;
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode))
            continue;
        Socket socket;
        if (!ParseEndpoint(local, socket.local) || !ParseEndpoint(remote, socket.remote)) continue;
        try {
            socket.state = static_cast<unsigned>(std::stoul(state, nullptr, 16));
        } catch (const std::exception&) {
            continue;
        }
        socket.uid = uid;
        socket.accepted = inode != "0";
        sockets.push_back(std::move(socket));
    }
    return sockets;
}

bool HoldsConnection(const Socket& socket, std::uint16_t port) {
    return socket.local.port == port && socket.accepted &&
           (socket.state == c_established || socket.state == c_synReceived || socket.state == c_closeWait);
}

// The peer's name: its address, and on this machine the user of its socket
// (the other end of a loopback connection is in the same table).
std::string PeerName(const Socket& ours, const std::vector<Socket>& all) {
    if (!ours.remote.loopback) return ours.remote.address;
    for (const Socket& theirs : all)
        if (theirs.local.port == ours.remote.port && theirs.remote.port == ours.local.port &&
            theirs.local.address == ours.remote.address)
            return ours.remote.address + " uid " + theirs.uid;
    return ours.remote.address;
}

// False when the IPv4 table cannot be read: no descriptor is left to open
// it, which is reason enough to refuse. The IPv6 one may not exist.
bool ReadTables(std::vector<Socket>& all) {
    for (const std::string path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream table(path);
        if (!table.is_open()) {
            if (errno == ENOENT && path.back() == '6') continue;
            return false;
        }
        std::vector<Socket> part = ReadTable(table);
        all.insert(all.end(), part.begin(), part.end());
    }
    return true;
}

// "giop:tcp:ADDR:PORT" or "giop:tcp:[ADDR]:PORT" into address and port.
bool SplitTcpAddress(const std::string& peer, std::string& address, std::uint16_t& port) {
    const std::string prefix = "giop:tcp:";
    if (peer.compare(0, prefix.size(), prefix) != 0) return false;
    const auto colon = peer.rfind(':');
    if (colon == std::string::npos || colon < prefix.size()) return false;
    address = peer.substr(prefix.size(), colon - prefix.size());
    if (address.size() > 1 && address.front() == '[' && address.back() == ']') address = address.substr(1, address.size() - 2);
    try {
        const unsigned long number = std::stoul(peer.substr(colon + 1));
        if (number > 65535) return false;
        port = static_cast<std::uint16_t>(number);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void Tally(const std::vector<Socket>& all, std::uint16_t port, TcpConnections& counts) {
    for (const Socket& socket : all) {
        if (!HoldsConnection(socket, port)) continue;
        ++counts.byPeer[PeerName(socket, all)];
        ++counts.total;
    }
}

std::atomic<const ConnectionGuard*> g_guard{nullptr};

CORBA::Boolean JudgeConnection(omni::omniInterceptors::serverAcceptConnection_T::info_T& info) {
    const ConnectionGuard* guard = g_guard.load();
    if (!guard || guard->Admit(info.peeraddress() ? info.peeraddress() : "")) return true;
    info.reject = true;
    info.why = "connection limit reached";
    return false;
}

}  // namespace

void CountTcpConnections(std::istream& table, std::uint16_t port, TcpConnections& counts) {
    Tally(ReadTable(table), port, counts);
}

std::size_t CountUnixConnections(std::istream& table, const std::string& path) {
    std::size_t count = 0;
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, refs, protocol, flags, type, state, inode, name;
        if (!(fields >> slot >> refs >> protocol >> flags >> type >> state >> inode >> name)) continue;
        if (name == path && state == "03") ++count;
    }
    return count;
}

std::size_t TotalWithinDescriptors(std::size_t wanted, std::uint64_t descriptorLimit) {
    constexpr std::uint64_t c_reserve = 64;
    const std::uint64_t room = descriptorLimit > 2 * c_reserve ? descriptorLimit / 2 - c_reserve : 1;
    return static_cast<std::size_t>(std::min<std::uint64_t>(wanted, room));
}

std::uint64_t RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? UINT64_MAX : static_cast<std::uint64_t>(limit.rlim_cur);
}

ConnectionGuard::ConnectionGuard(std::uint16_t port, std::string unixPath, ConnectionLimits limits)
    : m_port(port), m_unixPath(std::move(unixPath)), m_limits(limits) {
    g_guard.store(this);
    static const bool installed = [] {
        omniORB::getInterceptors()->serverAcceptConnection.add(JudgeConnection);
        return true;
    }();
    (void)installed;
}

ConnectionGuard::~ConnectionGuard() { g_guard.store(nullptr); }

bool ConnectionGuard::Admit(const std::string& peerAddress) const {
    std::vector<Socket> all;
    if (!ReadTables(all)) return false;
    TcpConnections counts;
    Tally(all, m_port, counts);
    std::ifstream unixTable("/proc/net/unix");
    if (!unixTable.is_open()) return false;
    if (counts.total + CountUnixConnections(unixTable, m_unixPath) > m_limits.total) return false;
    std::string address;
    std::uint16_t peerPort = 0;
    if (!SplitTcpAddress(peerAddress, address, peerPort)) return true;
    for (const Socket& socket : all)
        if (HoldsConnection(socket, m_port) && socket.remote.port == peerPort && socket.remote.address == address)
            return counts.byPeer[PeerName(socket, all)] <= m_limits.perPeer;
    return true;
}

}  // namespace velnor::server
