#pragma once
// Delivers value changes to subscribed clients. Each client key has one
// bounded queue and one delivery thread, which sends everything queued in
// one notify call. A writer never waits for a client: a client whose queue
// overflows or whose delivery fails is dropped with all its subscriptions.
// An idle delivery thread checks now and then that its client still
// answers, so that a client that went away without unsubscribing (killed)
// releases its thread and subscriptions even when its nodes never change.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "idl/registry.hh"
#include "value_store.h"

namespace velnor::server {

struct NotifierLimits {
    std::size_t queueLimit = 65536;                        // queued notifications per client
    std::size_t batchLimit = 4096;                         // notifications per notify call
    std::uint64_t batchBytes = 32u * 1024u * 1024u;        // rough wire size per notify call
    std::chrono::milliseconds pushTimeout{5000};           // one notify call (or check) at the most
    std::chrono::milliseconds idleCheck{10000};            // idle time before the client is checked
    std::size_t lostKeysKept = 4096;                       // dropped keys whose losses are remembered
};

// Why and how a client was dropped, as the log and the client learn it.
struct DropReport {
    std::string key;
    std::uint64_t missed = 0;  // notifications discarded or not acknowledged
    std::string reason;
};

class Subscriber;

class Notifier {
public:
    Notifier(const Tree& tree, NotifierLimits limits = {});
    ~Notifier();
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    void Subscribe(const std::string& key, i_NET::NotificationSink_ptr sink, NodeId id);
    void Unsubscribe(const std::string& key);
    // The notifications discarded when the key was last dropped (0 when it
    // was not); forgotten once asked.
    std::uint64_t TakeLost(const std::string& key);
    // Called with every drop the notifier decides itself (not on request),
    // outside its locks; set before the first subscription.
    void OnDrop(std::function<void(const DropReport&)> report) { m_onDrop = std::move(report); }
    // Queues the change for every subscription of its node; never blocks on
    // a client.
    void Publish(const Change& change);
    // False while nothing is subscribed (no lock taken).
    bool AnySubscribed() const { return m_subscribedNodes.load(std::memory_order_acquire) > 0; }
    // Stops all delivery threads; later calls do nothing.
    void Shutdown();

    std::size_t SubscriberCount();
    // True while the key has a live (not dropped) subscriber.
    bool IsSubscribed(const std::string& key);

private:
    friend class Subscriber;
    // A subscriber's own thread gave up on its client.
    void Abandon(const Subscriber& subscriber);
    void DropLocked(const std::string& key);
    void RememberLossLocked(Subscriber& subscriber);
    void Retire(std::shared_ptr<Subscriber> subscriber);
    void Reap();

    const Tree& m_tree;
    const NotifierLimits m_limits;

    std::function<void(const DropReport&)> m_onDrop;

    // Guards m_subscribers, m_byNode, m_lost, m_lostCount and m_stopped.
    std::mutex m_lock;
    std::map<std::string, std::shared_ptr<Subscriber>> m_subscribers;
    // One entry per subscribe call: a node subscribed twice is listed twice.
    std::unordered_map<NodeId, std::vector<std::shared_ptr<Subscriber>>> m_byNode;
    std::atomic<std::size_t> m_subscribedNodes{0};  // m_byNode.size(), written under m_lock
    // Keys dropped by the notifier, with what they lost.
    struct Loss {
        std::uint64_t missed = 0;
        std::uint64_t order = 0;  // higher: dropped later
    };
    std::unordered_map<std::string, Loss> m_lost;
    std::uint64_t m_lostCount = 0;
    bool m_stopped = false;

    // Dropped subscribers wait here until their thread is joined, so that a
    // writer never joins a thread that may be inside a slow call.
    std::mutex m_reapLock;
    std::condition_variable m_reapWake;
    std::vector<std::shared_ptr<Subscriber>> m_retired;
    bool m_reapStop = false;
    std::thread m_reaper;
};

// Sends the changes of both registries to the notifier of each.
class ChangeRouter : public ChangeSink {
public:
    ChangeRouter(Notifier& application, Notifier& platform) : m_application(application), m_platform(platform) {}
    void OnChange(const Node& node, const Change& change) override {
        NotifierOf(node).Publish(change);
    }
    bool Listening(const Node& node) const override { return NotifierOf(node).AnySubscribed(); }

private:
    Notifier& NotifierOf(const Node& node) const { return node.root == Root::Application ? m_application : m_platform; }

    Notifier& m_application;
    Notifier& m_platform;
};

}  // namespace velnor::server
