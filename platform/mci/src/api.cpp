// Process set-up, connection and the connection check.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <tuple>

#include "connection.h"
#include "istd/exception.h"
#include "istd/unique_fd.h"
#include "library.h"
#include "mci/mci.h"
#include "node_facts.h"
#include "orb.h"
#include "velnor/wire.h"

namespace mci {

namespace detail {
namespace {

std::atomic<bool> g_hiddenExposed{false};
std::atomic<bool> g_failFast{false};
std::atomic<void (*)()> g_callBegin{nullptr};
std::atomic<void (*)()> g_callEnd{nullptr};

const char* ObjectKey(Root root) { return velnor::wire::RegistryKey(root == ePlatformRoot); }

bool IsSocket(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// A socket in a directory others can write may have been planted there:
// only a server running as this user or as root (the credentials of the
// process that listens, as the kernel reports them) is trusted with the
// calls. One connect, which never waits: a full backlog counts as no.
bool IsTrustedServerSocket(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const istd::UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.IsValid() || connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return false;
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(fd.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof peer) return false;
    return peer.uid == geteuid() || peer.uid == 0;
}

// The host goes into a URI: only name and address characters, so that
// nothing in it can add addresses or change the object key.
bool IsValidAddress(const std::string& host, std::int32_t port) {
    const bool validHost =
        !host.empty() && host.size() <= 255 &&
        host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_:") ==
            std::string::npos;
    return validHost && port > 0 && port <= 65535;
}

}  // namespace

namespace {

// The unix socket when a local server of this user (or root) offers one.
CallTarget TargetOf(const std::string& host, std::int32_t port) {
    CallTarget target{host, port, ""};
    if (velnor::wire::IsLoopbackHost(host)) {
        std::string socket = velnor::wire::LocalSocketPath(static_cast<std::uint16_t>(port));
        // The URI syntax ends a socket path at ':' or ','.
        if (socket.find_first_of(":,#") == std::string::npos && IsSocket(socket) && IsTrustedServerSocket(socket))
            target.unixPath = std::move(socket);
    }
    return target;
}

}  // namespace

// The unix socket first when there is one, TCP after it: the ORB falls
// back to the second address when the first cannot connect.
std::string CorbalocOf(const CallTarget& target, const std::string& key) {
    const std::string& host = target.host;
    const bool ipv6 = host.find(':') != std::string::npos;
    const std::string tcp = "iiop:1.2@" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(target.port);
    const std::string addresses = target.unixPath.empty() ? tcp : "omniunix:" + target.unixPath + "," + tcp;
    return "corbaloc:" + addresses + "/" + key;
}

namespace {

using ConnectionKey = std::tuple<std::string, std::int32_t, std::int32_t>;

class ConnectionCache {
public:
    static ConnectionCache& Instance() {
        static ConnectionCache* cache = new ConnectionCache;  // outlives every handle
        return *cache;
    }
    std::shared_ptr<Connection> Find(const ConnectionKey& key) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_connections.find(key);
        return it == m_connections.end() ? nullptr : it->second.lock();
    }
    void Keep(const ConnectionKey& key, const std::shared_ptr<Connection>& connection) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connections[key] = connection;
    }

private:
    std::mutex m_mutex;
    std::map<ConnectionKey, std::weak_ptr<Connection>> m_connections;
};

std::shared_ptr<Connection> MakeConnection(const std::string& host, std::int32_t port, Root root) {
    CORBA::ORB_var orb = OrbRuntime::Instance().Orb(host);
    CallTarget target = TargetOf(host, port);
    const std::string reference = CorbalocOf(target, ObjectKey(root));
    i_NET::Registry_var registry;
    try {
        CORBA::Object_var object = orb->string_to_object(reference.c_str());
        registry = i_NET::Registry::_unchecked_narrow(object);
    } catch (const CORBA::Exception& e) {
        throw istd::Exception("Cannot reach a registry at " + host + ":" + std::to_string(port) + ": " + e._name(),
                              true);
    }
    auto connection = std::make_shared<Connection>(std::move(target), root, reference, orb.in(), registry._retn());
    OrbRuntime::Instance().Track(connection);
    return connection;
}

// One round trip: the root's facts; its name is the registry host name.
// Within the short deadline: a server that does not answer at once counts
// as absent.
Node RootOf(const std::shared_ptr<Connection>& connection) {
    i_NET::NodeInfo_var info;
    try {
        info = connection->QuickRegistry()->root();
    } catch (...) {
        RethrowTranslated(*connection);
    }
    auto facts = FactsFrom(info.in());
    connection->SetRegistryHost(facts->name);
    return Node(connection, facts);
}

// Re-subscribes every notification client of the connection; false when
// the server did not take them all.
bool Resubscribe(const std::shared_ptr<Connection>& connection) {
    bool all = true;
    for (const auto& subscriber : connection->Resubscribers()) {
        try {
            subscriber->Resubscribe(connection);
        } catch (const std::exception&) {
            all = false;
        }
    }
    return all;
}

// The same server run: subscriptions it dropped are made again. False when
// none was dropped; throws when one could not be made again.
bool ResubscribeDropped(const std::shared_ptr<Connection>& connection) {
    bool any = false;
    for (const auto& subscriber : connection->Resubscribers()) {
        if (!subscriber->Dropped(connection)) continue;
        subscriber->ReportLoss(connection);
        subscriber->Resubscribe(connection);
        any = true;
    }
    return any;
}

bool ReportDropped(const std::shared_ptr<Connection>& connection) {
    bool any = false;
    for (const auto& subscriber : connection->Resubscribers()) {
        if (!subscriber->Dropped(connection)) continue;
        subscriber->ReportLoss(connection);
        any = true;
    }
    return any;
}

}  // namespace

bool HiddenExposed() { return g_hiddenExposed.load(std::memory_order_relaxed); }

bool FailsFastAfterNoAnswer() { return g_failFast.load(std::memory_order_relaxed); }

ObservedCall::ObservedCall() : m_end(nullptr) {
    void (*begin)() = g_callBegin.load();
    if (!begin) return;
    m_end = g_callEnd.load();
    begin();
}

ObservedCall::~ObservedCall() {
    if (m_end) m_end();
}

}  // namespace detail

void Init(int argc, char** argv) { detail::OrbRuntime::Instance().Init(argc, argv); }

void ExposeHiddenRegistry() { detail::g_hiddenExposed.store(true, std::memory_order_relaxed); }

void Shutdown() { detail::OrbRuntime::Instance().Shutdown(); }

void EndProcessAfterShutdown() { detail::OrbRuntime::Instance().EndProcessAfterShutdown(); }

void FailFastAfterNoAnswer(bool on) { detail::g_failFast.store(on); }

void ObserveCalls(CallObserver observer) {
    // The end first: a call that sees the begin also sees its end.
    detail::g_callEnd.store(observer.end);
    detail::g_callBegin.store(observer.begin);
}

Node Connect(const std::string& host, Root root, std::int32_t port, bool fresh) {
    const std::string address = host.empty() ? DefaultHost() : host;
    const std::int32_t number = port == 0 ? DefaultPort() : port;
    // An address no registry can have is a failed connection like any
    // other: the caller tests IsValid.
    if (!detail::IsValidAddress(address, number)) return Node();
    const detail::ConnectionKey key{address, number, static_cast<std::int32_t>(root)};
    auto& cache = detail::ConnectionCache::Instance();
    try {
        std::shared_ptr<detail::Connection> connection = fresh ? nullptr : cache.Find(key);
        if (!connection) connection = detail::MakeConnection(address, number, root);
        Node rootNode = detail::RootOf(connection);
        if (!fresh) cache.Keep(key, connection);
        return rootNode;
    } catch (const istd::Exception&) {
        // Nothing answers there: the caller tests IsValid.
        return Node();
    }
}

int Ping(const Node& root) {
    const auto& connection = root.Connection();
    if (!root.IsValid()) return 1;
    i_NET::ServerIdentity_var identity;
    try {
        i_NET::Registry_var registry = connection->QuickRegistry();
        identity = registry->identity();
    } catch (...) {
        return 1;
    }
    connection->NoteAnswered();
    std::uint64_t previous = 0;
    if (!connection->RecordRunId(identity->runId, &previous)) {
        try {
            return detail::ResubscribeDropped(connection) ? 3 : 0;
        } catch (...) {
            return 1;  // tried again at the next check
        }
    }
    if (detail::Resubscribe(connection)) return 3;
    // Tried again at the next check.
    connection->ForgetRunId(previous);
    return 1;
}

bool CheckSubscriptions(const Node& root) {
    if (!root.IsValid()) return false;
    try {
        return detail::ReportDropped(root.Connection());
    } catch (...) {
        return false;  // asked again at the next check
    }
}

}  // namespace mci
