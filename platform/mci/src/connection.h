#pragma once
// One registry reached at host:port (one root), the object reference the
// calls go through, the server run it was last seen with and the
// notification clients that subscribed through it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "deadlines.h"
#include "idl/registry.hh"
#include "istd/exception.h"
#include "library.h"
#include "mci/mci.h"

namespace mci::detail {

class Connection;

// Something that subscribed nodes on a connection and must do it again
// when the server behind it was restarted.
class Resubscriber {
public:
    virtual ~Resubscriber() = default;
    // Throws istd::Exception when the server does not take the
    // subscriptions.
    virtual void Resubscribe(const std::shared_ptr<Connection>& connection) = 0;
    // True when the server dropped the subscriptions made on this connection
    // (a subscriber that fell behind or whose delivery failed). Throws
    // istd::Exception when the server cannot be asked.
    virtual bool Dropped(const std::shared_ptr<Connection>& /*connection*/) { return false; }
    // After Dropped gave true: asks the server what was lost and tells the
    // subscriber's owner, once per drop (a Resubscribe starts anew).
    virtual void ReportLoss(const std::shared_ptr<Connection>& /*connection*/) {}
};

class Connection {
public:
    // Calls through `registry` give up after the call deadline.
    Connection(CallTarget target, Root root, std::string reference, CORBA::ORB_ptr orb,
               i_NET::Registry_ptr registry);

    // Runs `call` with the reference to the remote registry, which Release
    // cannot drop meanwhile (a shared lock: no reference count to keep, no
    // ORB lock taken per call). Throws istd::Exception once the library was
    // shut down.
    template <class F>
    auto WithRegistry(F&& call) const -> decltype(call(std::declval<i_NET::Registry_ptr>())) {
        std::shared_lock<std::shared_mutex> lock(m_referenceLock);
        if (m_released) throw istd::Exception("The registry library was shut down", true);
        return call(m_registry.in());
    }
    // A reference of its own whose calls give up after the quick deadline:
    // for checks and clean-up that must not hold a caller for long.
    i_NET::Registry_var QuickRegistry();
    // Drops the object references (before the ORB goes away).
    void Release();

    const std::string& Host() const { return m_target.host; }
    std::int32_t Port() const { return m_target.port; }
    // Where the calls go.
    const CallTarget& Target() const { return m_target; }
    Root GetRoot() const { return m_root; }
    // "HOST:PORT", as messages name the registry.
    const std::string& Address() const { return m_address; }

    // The registry host name: the name of the root node.
    std::string RegistryHost() const;
    void SetRegistryHost(const std::string& name);

    // Server run identity. Record gives true when a different run had been
    // recorded before (the server was restarted) and tells which.
    bool HasRunId() const;
    bool RecordRunId(std::uint64_t runId, std::uint64_t* previous = nullptr);
    // Forgets the recorded run so that the next check re-subscribes again.
    void ForgetRunId(std::uint64_t staleRunId);

    void AddResubscriber(const std::shared_ptr<Resubscriber>& subscriber);
    std::vector<std::shared_ptr<Resubscriber>> Resubscribers();

    // A call went unanswered; with mci::FailFastAfterNoAnswer the calls
    // after it fail at once, until the registry answers a Ping.
    void NoteUnanswered() const { m_unanswered.store(true); }
    void NoteAnswered() const { m_unanswered.store(false); }
    // Throws NoAnswer when calls are to fail at once.
    void ThrowIfUnanswered() const;
    // "Registry at HOST:PORT did not answer in time".
    std::string NoAnswerText() const;

private:
    const CallTarget m_target;
    const Root m_root;
    const std::string m_address;
    const std::string m_reference;  // the corbaloc URI

    // Guards the references: shared by calls in flight, exclusive for
    // Release, which so waits for the calls in flight to end. Lock order:
    // m_referenceLock, then m_quickMutex.
    mutable std::shared_mutex m_referenceLock;
    CORBA::ORB_var m_orb;
    i_NET::Registry_var m_registry;
    bool m_released = false;
    std::mutex m_quickMutex;  // with m_referenceLock shared: making m_quickRegistry
    i_NET::Registry_var m_quickRegistry;

    mutable std::atomic<bool> m_unanswered{false};

    mutable std::mutex m_mutex;  // guards everything below
    std::string m_registryHost;
    bool m_hasRunId = false;
    std::uint64_t m_runId = 0;
    std::vector<std::weak_ptr<Resubscriber>> m_resubscribers;
};

// Turns the exception being handled (CORBA system exceptions, the
// registry's user exceptions, anything else) into istd::Exception naming
// the registry. The one place where remote failures get their texts.
[[noreturn]] void RethrowTranslated(const Connection& connection);

// Runs one remote call on the connection's registry (within the call
// deadline, which the ORB keeps on the reference); every failure leaves as
// istd::Exception.
template <class F>
auto Remote(const Connection& connection, F&& call) -> decltype(call(std::declval<i_NET::Registry_ptr>())) {
    const ObservedCall observed;
    try {
        connection.ThrowIfUnanswered();
        return connection.WithRegistry(call);
    } catch (...) {
        RethrowTranslated(connection);
    }
}

}  // namespace mci::detail
