#include "notifier.h"

#include <omniORB4/omniORB.h>

#include <algorithm>
#include <atomic>
#include <deque>

#include "corba_values.h"

namespace velnor::server {

class Subscriber {
public:
    Subscriber(std::string key, i_NET::NotificationSink_ptr sink, const Tree& tree, const NotifierLimits& limits)
        : m_key(std::move(key)), m_tree(tree), m_limits(limits), m_sink(i_NET::NotificationSink::_duplicate(sink)) {
        // A client that stops reading must not hold this thread for long.
        omniORB::setClientCallTimeout(m_sink.in(), static_cast<CORBA::ULong>(limits.pushTimeout.count()));
        m_thread = std::thread([this] { Run(); });
    }
    ~Subscriber() {
        Stop();
        Join();
    }
    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;

    const std::string& Key() const { return m_key; }
    bool IsDropped() const { return m_dropped.load(); }

    // False when the subscriber is (now) dropped: its queue overflowed.
    bool Enqueue(const Change& change) {
        std::lock_guard lock(m_lock);
        if (m_dropped.load()) return false;
        if (m_queue.size() >= m_limits.queueLimit) {
            m_dropped.store(true);
            m_queue.clear();
            m_wake.notify_one();
            return false;
        }
        m_queue.push_back(change);
        m_wake.notify_one();
        return true;
    }

    void Stop() {
        std::lock_guard lock(m_lock);
        m_stop = true;
        m_wake.notify_one();
    }

    void Join() {
        if (m_thread.joinable()) m_thread.join();
    }

private:
    void Run() {
        for (;;) {
            std::vector<Change> batch = TakeBatch();
            if (batch.empty()) return;
            if (!Deliver(batch)) {
                std::lock_guard lock(m_lock);
                m_dropped.store(true);
                m_queue.clear();
                return;
            }
        }
    }

    // Waits for work; empty when the thread is to end.
    std::vector<Change> TakeBatch() {
        std::unique_lock lock(m_lock);
        m_wake.wait(lock, [this] { return m_stop || m_dropped.load() || !m_queue.empty(); });
        std::vector<Change> batch;
        if (m_stop || m_dropped.load()) return batch;
        std::uint64_t bytes = 0;
        while (!m_queue.empty() && batch.size() < m_limits.batchLimit &&
               (batch.empty() || bytes < m_limits.batchBytes)) {
            bytes += WireBytes(*m_queue.front().values);
            batch.push_back(std::move(m_queue.front()));
            m_queue.pop_front();
        }
        return batch;
    }

    bool Deliver(const std::vector<Change>& batch) {
        i_NET::NotificationSeq seq;
        seq.length(static_cast<CORBA::ULong>(batch.size()));
        for (std::size_t i = 0; i < batch.size(); ++i) {
            i_NET::Notification& n = seq[static_cast<CORBA::ULong>(i)];
            n.node = InfoOf(m_tree, m_tree.nodes[batch[i].id]);
            ToCorba(*batch[i].values, n.value);
            n.first = batch[i].first;
        }
        try {
            m_sink->notify(seq);
            return true;
        } catch (const CORBA::Exception&) {
            return false;
        }
    }

    const std::string m_key;
    const Tree& m_tree;
    const NotifierLimits m_limits;
    i_NET::NotificationSink_var m_sink;  // used by the delivery thread only

    std::mutex m_lock;  // guards m_queue and m_stop
    std::condition_variable m_wake;
    std::deque<Change> m_queue;
    bool m_stop = false;
    std::atomic<bool> m_dropped{false};
    std::thread m_thread;
};

Notifier::Notifier(const Tree& tree, NotifierLimits limits) : m_tree(tree), m_limits(limits) {
    m_reaper = std::thread([this] { Reap(); });
}

Notifier::~Notifier() { Shutdown(); }

void Notifier::Subscribe(const std::string& key, i_NET::NotificationSink_ptr sink, NodeId id) {
    std::lock_guard lock(m_lock);
    if (m_stopped) return;
    auto found = m_subscribers.find(key);
    if (found != m_subscribers.end() && found->second->IsDropped()) {
        DropLocked(key);
        found = m_subscribers.end();
    }
    if (found == m_subscribers.end())
        found = m_subscribers.emplace(key, std::make_shared<Subscriber>(key, sink, m_tree, m_limits)).first;
    m_byNode[id].push_back(found->second);
    m_subscribedNodes.store(m_byNode.size(), std::memory_order_release);
}

void Notifier::Unsubscribe(const std::string& key) {
    std::lock_guard lock(m_lock);
    DropLocked(key);
}

void Notifier::Publish(const Change& change) {
    std::lock_guard lock(m_lock);
    auto found = m_byNode.find(change.id);
    if (found == m_byNode.end()) return;
    std::vector<std::string> dropped;
    for (const auto& subscriber : found->second)
        if (!subscriber->Enqueue(change)) dropped.push_back(subscriber->Key());
    for (const auto& key : dropped) DropLocked(key);
}

void Notifier::DropLocked(const std::string& key) {
    auto found = m_subscribers.find(key);
    if (found == m_subscribers.end()) return;
    std::shared_ptr<Subscriber> subscriber = found->second;
    Retire(subscriber);
    m_subscribers.erase(found);
    for (auto it = m_byNode.begin(); it != m_byNode.end();) {
        auto& list = it->second;
        list.erase(std::remove(list.begin(), list.end(), subscriber), list.end());
        it = list.empty() ? m_byNode.erase(it) : std::next(it);
    }
    m_subscribedNodes.store(m_byNode.size(), std::memory_order_release);
}

void Notifier::Retire(std::shared_ptr<Subscriber> subscriber) {
    subscriber->Stop();
    std::lock_guard lock(m_reapLock);
    m_retired.push_back(std::move(subscriber));
    m_reapWake.notify_one();
}

void Notifier::Reap() {
    std::unique_lock lock(m_reapLock);
    for (;;) {
        m_reapWake.wait(lock, [this] { return m_reapStop || !m_retired.empty(); });
        std::vector<std::shared_ptr<Subscriber>> batch;
        batch.swap(m_retired);
        lock.unlock();
        for (auto& subscriber : batch) subscriber->Join();
        batch.clear();
        lock.lock();
        if (m_reapStop && m_retired.empty()) return;
    }
}

void Notifier::Shutdown() {
    {
        std::lock_guard lock(m_lock);
        if (m_stopped) return;
        m_stopped = true;
        while (!m_subscribers.empty()) DropLocked(m_subscribers.begin()->first);
    }
    {
        std::lock_guard lock(m_reapLock);
        m_reapStop = true;
        m_reapWake.notify_one();
    }
    if (m_reaper.joinable()) m_reaper.join();
}

bool Notifier::IsSubscribed(const std::string& key) {
    std::lock_guard lock(m_lock);
    const auto found = m_subscribers.find(key);
    return found != m_subscribers.end() && !found->second->IsDropped();
}

std::size_t Notifier::SubscriberCount() {
    std::lock_guard lock(m_lock);
    std::size_t live = 0;
    for (const auto& entry : m_subscribers)
        if (!entry.second->IsDropped()) ++live;
    return live;
}

}  // namespace velnor::server
