// Notification clients: one sink servant per client and connection; the
// server pushes batches to it and the servant hands each entry to the
// client's callback, one at a time.
#include <unistd.h>

#include <atomic>
#include <chrono>

#include "connection.h"
#include "istd/exception.h"
#include "library.h"
#include "mci/mci.h"
#include "node_facts.h"
#include "orb.h"
#include "values.h"

namespace mci {

namespace detail {
namespace {

// Shared by the client and its servants; a servant may outlive its client
// until the POA lets go of it.
struct Delivery {
    std::function<void(const NotificationData&)> function;
    std::function<void(const LostNotifications&)> lost;
    std::mutex mutex;  // one delivery at a time per client
};

class SinkServant : public POA_i_NET::NotificationSink {
public:
    SinkServant(std::shared_ptr<Delivery> delivery, std::weak_ptr<Connection> connection)
        : m_delivery(std::move(delivery)), m_connection(std::move(connection)) {}

    void notify(const i_NET::NotificationSeq& batch) override {
        auto connection = m_connection.lock();
        if (!connection) return;
        std::lock_guard<std::mutex> lock(m_delivery->mutex);
        for (CORBA::ULong i = 0; i < batch.length(); ++i) Deliver(connection, batch[i]);
    }

private:
    void Deliver(const std::shared_ptr<Connection>& connection, const i_NET::Notification& entry) {
        // Nothing may escape into the ORB: the server would take a failed
        // delivery for a vanished client and drop every subscription.
        try {
            auto facts = FactsFrom(entry.node);
            NotificationData data;
            data.value = ToAny(entry.value, (facts->flags & eArray) != 0);
            data.node = Node(connection, std::move(facts));
            data.first = entry.first;
            if (m_delivery->function) m_delivery->function(data);  // empty once the client is gone
        } catch (...) {
        }
    }

    std::shared_ptr<Delivery> m_delivery;
    std::weak_ptr<Connection> m_connection;
};

std::string NewKeyBase() {
    static std::atomic<unsigned long> counter{0};
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return std::string(host) + "/" + std::to_string(getpid()) + "/" + std::to_string(now) + "/" +
           std::to_string(++counter);
}

}  // namespace
}  // namespace detail

class NotificationClient::Impl : public detail::Resubscriber, public std::enable_shared_from_this<Impl> {
public:
    explicit Impl(const Callback& callback) : m_delivery(std::make_shared<detail::Delivery>()) {
        m_delivery->function = callback.function;
        m_delivery->lost = callback.lost;
    }
    ~Impl() override;

    void Register(const Node& node);
    void Resubscribe(const std::shared_ptr<detail::Connection>& connection) override;
    bool Dropped(const std::shared_ptr<detail::Connection>& connection) override;
    void ReportLoss(const std::shared_ptr<detail::Connection>& connection) override;

private:
    struct Sink {
        std::shared_ptr<detail::Connection> connection;
        std::string key;
        PortableServer::ObjectId_var oid;
        std::vector<Path> paths;  // in registration order, repeats kept
        bool lossReported = false;  // since the last (re)subscription
    };

    Sink* FindSinkLocked(const detail::Connection* connection);
    Sink& SinkForLocked(const std::shared_ptr<detail::Connection>& connection);
    i_NET::NotificationSink_var ReferenceLocked(const Sink& sink);
    static void EnsureRunIdKnown(detail::Connection& connection);
    // Unsubscribes and deactivates every sink (nothing after Shutdown).
    void Withdraw();

    const std::shared_ptr<detail::Delivery> m_delivery;
    const std::string m_keyBase = detail::NewKeyBase();
    std::mutex m_mutex;  // guards m_sinks; taken before the runtime's lock
    std::vector<std::unique_ptr<Sink>> m_sinks;
};

NotificationClient::Impl::Sink* NotificationClient::Impl::FindSinkLocked(const detail::Connection* connection) {
    for (auto& sink : m_sinks)
        if (sink->connection.get() == connection) return sink.get();
    return nullptr;
}

NotificationClient::Impl::Sink& NotificationClient::Impl::SinkForLocked(
    const std::shared_ptr<detail::Connection>& connection) {
    if (Sink* known = FindSinkLocked(connection.get())) return *known;
    auto sink = std::make_unique<Sink>();
    sink->connection = connection;
    sink->key = m_keyBase + "/" + std::to_string(m_sinks.size());
    auto& runtime = detail::OrbRuntime::Instance();
    auto lock = runtime.Lock();
    PortableServer::POA_var poa = runtime.SinkPoaLocked();
    auto* servant = new detail::SinkServant(m_delivery, connection);
    try {
        sink->oid = poa->activate_object(servant);
    } catch (const CORBA::Exception& e) {
        servant->_remove_ref();
        throw istd::Exception(std::string("Cannot receive notifications: ") + e._name(), true);
    }
    servant->_remove_ref();  // the POA owns it from here
    m_sinks.push_back(std::move(sink));
    return *m_sinks.back();
}

i_NET::NotificationSink_var NotificationClient::Impl::ReferenceLocked(const Sink& sink) {
    auto& runtime = detail::OrbRuntime::Instance();
    auto lock = runtime.Lock();
    PortableServer::POA_var poa = runtime.SinkPoaLocked();
    try {
        CORBA::Object_var object = poa->id_to_reference(sink.oid.in());
        return i_NET::NotificationSink::_unchecked_narrow(object);
    } catch (const CORBA::Exception& e) {
        throw istd::Exception(std::string("Cannot receive notifications: ") + e._name(), true);
    }
}

void NotificationClient::Impl::EnsureRunIdKnown(detail::Connection& connection) {
    // Ping compares later runs with this one.
    if (connection.HasRunId()) return;
    i_NET::ServerIdentity_var identity =
        detail::Remote(connection, [](i_NET::Registry_ptr r) { return r->identity(); });
    connection.RecordRunId(identity->runId);
}

void NotificationClient::Impl::Register(const Node& node) {
    if (!node.IsValid()) throw istd::Exception("Cannot subscribe an invalid registry node handle", true);
    const auto& connection = node.Connection();
    const auto& facts = *node.Facts();
    std::lock_guard<std::mutex> lock(m_mutex);
    Sink& sink = SinkForLocked(connection);
    EnsureRunIdKnown(*connection);
    i_NET::NotificationSink_var reference = ReferenceLocked(sink);
    detail::Remote(*connection,
                   [&](i_NET::Registry_ptr r) { r->subscribe(sink.key.c_str(), reference.in(), facts.id); });
    sink.paths.push_back(facts.relPath);
    connection->AddResubscriber(shared_from_this());
}

void NotificationClient::Impl::Resubscribe(const std::shared_ptr<detail::Connection>& connection) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Sink* sink = FindSinkLocked(connection.get());
    if (!sink) return;
    i_NET::NotificationSink_var reference = ReferenceLocked(*sink);
    // A new server run knows nothing of the key; dropping it first makes a
    // repeated re-subscription harmless.
    detail::Remote(*connection, [&](i_NET::Registry_ptr r) { r->unsubscribe(sink->key.c_str()); });
    sink->lossReported = false;
    for (const Path& path : sink->paths) {
        const i_NET::StringSeq wirePath = detail::ToWirePath(path);
        detail::Remote(*connection, [&](i_NET::Registry_ptr r) {
            i_NET::NodeInfo_var info = r->lookup(wirePath, detail::HiddenExposed());
            r->subscribe(sink->key.c_str(), reference.in(), info->id);
        });
    }
}

bool NotificationClient::Impl::Dropped(const std::shared_ptr<detail::Connection>& connection) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const Sink* sink = FindSinkLocked(connection.get());
    if (!sink || sink->paths.empty()) return false;
    return !detail::Remote(*connection, [&](i_NET::Registry_ptr r) { return r->subscribed(sink->key.c_str()); });
}

void NotificationClient::Impl::ReportLoss(const std::shared_ptr<detail::Connection>& connection) {
    LostNotifications lost;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Sink* sink = FindSinkLocked(connection.get());
        if (!sink || sink->lossReported) return;
        lost.missed = detail::Remote(
            *connection, [&](i_NET::Registry_ptr r) { return r->lostNotifications(sink->key.c_str()); });
        lost.paths = sink->paths;
        sink->lossReported = true;
    }
    std::lock_guard<std::mutex> lock(m_delivery->mutex);
    if (m_delivery->lost) m_delivery->lost(lost);
}

NotificationClient::Impl::~Impl() {
    Withdraw();
    // Waits for a delivery in progress: no callback runs once the client
    // is gone.
    std::lock_guard<std::mutex> lock(m_delivery->mutex);
    m_delivery->function = nullptr;
    m_delivery->lost = nullptr;
}

void NotificationClient::Impl::Withdraw() {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto& runtime = detail::OrbRuntime::Instance();
    auto orbLock = runtime.Lock();
    // After Shutdown the ORB has already dropped the servants and the
    // subscriptions died with the connections.
    if (!runtime.IsAliveLocked()) return;
    PortableServer::POA_var poa;
    try {
        poa = runtime.SinkPoaLocked();
    } catch (const std::exception&) {
        return;
    }
    for (const auto& sink : m_sinks) {
        try {
            i_NET::Registry_var registry = sink->connection->QuickRegistry();
            registry->unsubscribe(sink->key.c_str());
        } catch (...) {
            // Best effort: the server drops us at its first failed push.
        }
        try {
            poa->deactivate_object(sink->oid.in());
        } catch (...) {
        }
    }
}

NotificationClient::NotificationClient(const Callback& callback) : m_impl(std::make_shared<Impl>(callback)) {}

NotificationClient::~NotificationClient() = default;

void NotificationClient::Register(Node& node) { m_impl->Register(node); }

}  // namespace mci
