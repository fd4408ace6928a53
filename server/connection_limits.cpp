#include "connection_limits.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <omniORB4/CORBA.h>
#include <omniORB4/omniInterceptors.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unordered_map>

#include "istd/unique_fd.h"

namespace velnor::server {

namespace {

// TCP states, as the kernel numbers them.
constexpr std::uint32_t c_established = 1;
constexpr std::uint32_t c_closeWait = 8;

constexpr std::uint32_t Bit(std::uint32_t state) { return 1u << state; }

struct Endpoint {
    std::string address;  // numeric text; IPv4 for a mapped IPv6 address
    std::uint16_t port = 0;
    bool loopback = false;
};

struct DiagSocket {
    Endpoint local;
    Endpoint remote;
    std::uint32_t uid = 0;
    bool accepted = false;  // has a descriptor (inode 0: still in the accept queue)
};

Endpoint EndpointOf(std::uint8_t family, const __be32* address, __be16 port) {
    Endpoint endpoint;
    endpoint.port = ntohs(port);
    char text[INET6_ADDRSTRLEN] = {};
    in_addr v4{};
    bool isV4 = family == AF_INET;
    if (family == AF_INET) {
        std::memcpy(&v4, address, sizeof v4);
    } else {
        in6_addr v6{};
        std::memcpy(&v6, address, sizeof v6);
        if (IN6_IS_ADDR_V4MAPPED(&v6)) {
            std::memcpy(&v4, &v6.s6_addr[12], sizeof v4);
            isV4 = true;
        } else {
            ::inet_ntop(AF_INET6, &v6, text, sizeof text);
            endpoint.loopback = IN6_IS_ADDR_LOOPBACK(&v6);
        }
    }
    if (isV4) {
        ::inet_ntop(AF_INET, &v4, text, sizeof text);
        endpoint.loopback = (ntohl(v4.s_addr) >> 24) == 127;
    }
    endpoint.address = text;
    return endpoint;
}

// Reads the kernel's answer to a socket diagnostics request: the sockets,
// until the end of a dump or after the one message of a lookup. False when
// the request failed (for a lookup: no such socket).
bool ReceiveSockets(int netlink, bool dump, std::vector<DiagSocket>& sockets) {
    alignas(nlmsghdr) char buffer[32768];
    for (;;) {
        const ssize_t received = ::recv(netlink, buffer, sizeof buffer, 0);
        if (received < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        std::size_t offset = 0;
        const auto size = static_cast<std::size_t>(received);
        while (offset + sizeof(nlmsghdr) <= size) {
            const auto* header = reinterpret_cast<const nlmsghdr*>(buffer + offset);
            if (header->nlmsg_len < sizeof(nlmsghdr) || offset + header->nlmsg_len > size) return false;
            if (header->nlmsg_type == NLMSG_DONE) return true;
            if (header->nlmsg_type == NLMSG_ERROR) return false;
            if (header->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
                const auto* message = reinterpret_cast<const inet_diag_msg*>(NLMSG_DATA(header));
                DiagSocket socket;
                socket.local = EndpointOf(message->idiag_family, message->id.idiag_src, message->id.idiag_sport);
                socket.remote = EndpointOf(message->idiag_family, message->id.idiag_dst, message->id.idiag_dport);
                socket.uid = message->idiag_uid;
                socket.accepted = message->idiag_inode != 0;
                sockets.push_back(std::move(socket));
            }
            offset += NLMSG_ALIGN(header->nlmsg_len);
        }
        if (!dump) return true;
    }
}

bool Send(int netlink, const void* request, std::size_t size) {
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    return ::sendto(netlink, request, size, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) >= 0;
}

inet_diag_req_v2 TcpRequest(std::uint8_t family) {
    inet_diag_req_v2 request{};
    request.sdiag_family = family;
    request.sdiag_protocol = IPPROTO_TCP;
    return request;
}

// The kernel's TCP sockets of `family` whose local port is `port`, in one
// of `states`; the kernel applies the filter, so only those come back.
bool DumpSockets(int netlink, std::uint8_t family, std::uint16_t port, std::uint32_t states,
                 std::vector<DiagSocket>& sockets) {
    struct Request {
        nlmsghdr header;
        inet_diag_req_v2 diag;
        rtattr attribute;
        inet_diag_bc_op code[4];
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.diag = TcpRequest(family);
    request.diag.idiag_states = states;
    request.attribute.rta_type = INET_DIAG_REQ_BYTECODE;
    request.attribute.rta_len = RTA_LENGTH(sizeof request.code);
    // port >= P and port <= P. A jump to the end accepts, past it refuses;
    // the operand of a comparison is the next operation's `no`.
    request.code[0] = inet_diag_bc_op{INET_DIAG_BC_S_GE, 8, 20};
    request.code[1] = inet_diag_bc_op{0, 0, port};
    request.code[2] = inet_diag_bc_op{INET_DIAG_BC_S_LE, 8, 12};
    request.code[3] = inet_diag_bc_op{0, 0, port};
    return Send(netlink, &request, sizeof request) && ReceiveSockets(netlink, true, sockets);
}

// Numeric text into the kernel's address words; false when it is none.
bool AddressWords(const std::string& text, std::uint8_t& family, __be32 (&words)[4]) {
    std::memset(words, 0, sizeof words);
    if (::inet_pton(AF_INET, text.c_str(), words) == 1) {
        family = AF_INET;
        return true;
    }
    family = AF_INET6;
    return ::inet_pton(AF_INET6, text.c_str(), words) == 1;
}

// The user owning the client end of a loopback connection from `client` to
// `server` (nullopt when there is no such socket, or no address to look it
// up by): one lookup of that socket. False when the kernel cannot be asked.
bool ClientUser(const TcpKey& client, const TcpKey& server, std::optional<std::uint32_t>& user) {
    struct Request {
        nlmsghdr header;
        inet_diag_req_v2 diag;
    } request{};
    std::uint8_t family = 0, serverFamily = 0;
    __be32 source[4], destination[4];
    if (!AddressWords(client.first, family, source) || !AddressWords(server.first, serverFamily, destination) ||
        family != serverFamily)
        return true;
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.diag = TcpRequest(family);
    request.diag.idiag_states = ~0u;
    std::memcpy(request.diag.id.idiag_src, source, sizeof source);
    std::memcpy(request.diag.id.idiag_dst, destination, sizeof destination);
    request.diag.id.idiag_sport = htons(client.second);
    request.diag.id.idiag_dport = htons(server.second);
    request.diag.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.diag.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    const istd::UniqueFd netlink(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!netlink.IsValid() || !Send(netlink.Get(), &request, sizeof request)) return false;
    std::vector<DiagSocket> found;
    if (ReceiveSockets(netlink.Get(), false, found) && !found.empty()) user = found.front().uid;
    return true;
}

// "giop:tcp:ADDR:PORT" or "giop:tcp:[ADDR]:PORT" into address and port; a
// mapped IPv6 address becomes the IPv4 one, as the kernel's are shown.
bool SplitTcpAddress(const std::string& peer, std::string& address, std::uint16_t& port) {
    const std::string prefix = "giop:tcp:";
    if (peer.compare(0, prefix.size(), prefix) != 0) return false;
    const auto colon = peer.rfind(':');
    if (colon == std::string::npos || colon < prefix.size()) return false;
    address = peer.substr(prefix.size(), colon - prefix.size());
    if (address.size() > 1 && address.front() == '[' && address.back() == ']') address = address.substr(1, address.size() - 2);
    const std::string mapped = "::ffff:";
    if (address.compare(0, mapped.size(), mapped) == 0 && address.find('.') != std::string::npos)
        address = address.substr(mapped.size());
    try {
        const unsigned long number = std::stoul(peer.substr(colon + 1));
        if (number > 65535) return false;
        port = static_cast<std::uint16_t>(number);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

std::atomic<ConnectionGuard*> g_guard{nullptr};


CORBA::Boolean JudgeConnection(omni::omniInterceptors::serverAcceptConnection_T::info_T& info) {
    ConnectionGuard* guard = g_guard.load();
    if (!guard || guard->Admit(info.peeraddress() ? info.peeraddress() : "", info.myaddress() ? info.myaddress() : ""))
        return true;
    info.reject = true;
    info.why = "connection limit reached";
    return false;
}

}  // namespace

bool AdmissionBook::Over(const std::optional<TcpKey>& candidate, const std::string& peer, std::size_t unixOpen,
                         const ConnectionLimits& limits) const {
    if (m_admitted.size() + unixOpen + (candidate ? 1 : 0) > limits.total) return true;
    if (!candidate) return false;
    const auto held = m_perPeer.find(peer);
    return (held == m_perPeer.end() ? 0 : held->second) + 1 > limits.perPeer;
}

void AdmissionBook::Forget(const std::set<TcpKey>& open) {
    for (auto it = m_admitted.begin(); it != m_admitted.end();) {
        if (open.count(it->first)) {
            ++it;
            continue;
        }
        if (--m_perPeer[it->second] == 0) m_perPeer.erase(it->second);
        it = m_admitted.erase(it);
    }
}

bool AdmissionBook::Admit(const std::optional<TcpKey>& candidate, const std::string& peer, std::size_t unixOpen,
                          const ConnectionLimits& limits, const OpenCheck& stillOpen, Clock::time_point now) {
    if (Over(candidate, peer, unixOpen, limits)) {
        // The book may hold connections closed since; it is refreshed at
        // most once a period, so a flood is refused from the book.
        if (m_lastRefresh && now - *m_lastRefresh < m_refreshPeriod) return false;
        m_lastRefresh = now;
        const std::optional<std::set<TcpKey>> open = stillOpen();
        if (!open) return false;
        Forget(*open);
        if (Over(candidate, peer, unixOpen, limits)) return false;
    }
    if (candidate && m_admitted.emplace(*candidate, peer).second) ++m_perPeer[peer];
    return true;
}

std::optional<std::set<TcpKey>> ReadOpenTcp(std::uint16_t port) {
    const istd::UniqueFd netlink(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!netlink.IsValid()) return std::nullopt;
    std::vector<DiagSocket> ours;
    for (std::uint8_t family : {AF_INET, AF_INET6})
        if (!DumpSockets(netlink.Get(), family, port, Bit(c_established) | Bit(c_closeWait), ours)) return std::nullopt;
    std::set<TcpKey> open;
    for (const DiagSocket& socket : ours)
        if (socket.accepted) open.emplace(socket.remote.address, socket.remote.port);
    return open;
}

std::size_t CountUnixConnections(std::istream& table, const std::string& path) {
    std::size_t count = 0;
    std::string line;
    while (std::getline(table, line)) {
        // The path is the last field; the state ("03": connected) the sixth.
        if (line.size() <= path.size() || line.compare(line.size() - path.size(), path.size(), path) != 0) continue;
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

bool ConnectionGuard::Admit(const std::string& peerAddress, const std::string& ownAddress) {
    std::optional<TcpKey> candidate;
    std::string peer;
    TcpKey client, own;
    if (SplitTcpAddress(peerAddress, client.first, client.second)) {
        candidate = client;
        peer = client.first;
        const bool loopback = client.first.rfind("127.", 0) == 0 || client.first == "::1";
        if (loopback && SplitTcpAddress(ownAddress, own.first, own.second)) {
            // Its user, asked before the lock: a lookup, not a table.
            std::optional<std::uint32_t> user;
            if (!ClientUser(client, TcpKey{own.first, m_port}, user)) return false;
            if (user) peer += " uid " + std::to_string(*user);
        }
    }
    std::lock_guard lock(m_lock);
    // The Unix-socket connections are counted again for a Unix-socket
    // candidate, and for a TCP one only near the total.
    if (!candidate || m_book.Admitted() + m_unixOpen + 1 > m_limits.total) {
        std::ifstream unixTable("/proc/net/unix");
        if (!unixTable.is_open()) return false;
        m_unixOpen = CountUnixConnections(unixTable, m_unixPath);
    }
    return m_book.Admit(candidate, peer, m_unixOpen, m_limits, [this] { return ReadOpenTcp(m_port); },
                        AdmissionBook::Clock::now());
}

}  // namespace velnor::server
