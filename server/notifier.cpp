#include "notifier.h"

#include <omniORB4/omniORB.h>

#include <algorithm>
#include <atomic>
#include <deque>

#include "corba_values.h"

namespace velnor::server {

class Subscriber {
public:
    Subscriber(std::string key, i_NET::NotificationSink_ptr sink, Notifier& notifier)
        : m_key(std::move(key)),
          m_notifier(notifier),
          m_tree(notifier.m_tree),
          m_limits(notifier.m_limits),
          m_sink(i_NET::NotificationSink::_duplicate(sink)) {
        // A client that stops reading must not hold this thread for long.
        omniORB::setClientCallTimeout(m_sink.in(), static_cast<CORBA::ULong>(m_limits.pushTimeout.count()));
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
    // Once dropped: what was lost and why.
    DropReport Report() {
        std::lock_guard lock(m_lock);
        return DropReport{m_key, m_missed, m_reason};
    }

    // False when the subscriber is (now) dropped: its queue overflowed.
    bool Enqueue(const Change& change) {
        std::lock_guard lock(m_lock);
        if (m_dropped.load()) return false;
        if (m_queue.size() >= m_limits.queueLimit) {
            // The change that did not fit is lost as well.
            DropLocked(1, "its queue overflowed");
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
    struct Work {
        bool end = false;           // stopped or dropped: the thread ends
        std::vector<Change> batch;  // empty: idle for a while, check the client
    };

    void Run() {
        for (;;) {
            Work work = TakeWork();
            if (work.end) return;
            const std::string failure = work.batch.empty() ? Check() : Deliver(work.batch);
            if (!failure.empty()) {
                {
                    std::lock_guard lock(m_lock);
                    if (m_dropped.load() || m_stop) return;
                    DropLocked(work.batch.size(), failure);
                }
                m_notifier.Abandon(*this);
                return;
            }
        }
    }

    // Waits for work, at most the idle time before a check.
    Work TakeWork() {
        std::unique_lock lock(m_lock);
        m_wake.wait_for(lock, m_limits.idleCheck, [this] { return m_stop || m_dropped.load() || !m_queue.empty(); });
        Work work;
        work.end = m_stop || m_dropped.load();
        std::uint64_t bytes = 0;
        while (!work.end && !m_queue.empty() && work.batch.size() < m_limits.batchLimit &&
               (work.batch.empty() || bytes < m_limits.batchBytes)) {
            bytes += WireBytes(*m_queue.front().values);
            work.batch.push_back(std::move(m_queue.front()));
            m_queue.pop_front();
        }
        return work;
    }

    // Marks the subscriber dropped; `unacknowledged` changes were taken out
    // of the queue but not (or not surely) delivered.
    void DropLocked(std::size_t unacknowledged, const std::string& reason) {
        m_missed = unacknowledged + m_queue.size();
        m_reason = reason;
        m_queue.clear();
        m_dropped.store(true);
        m_wake.notify_one();
    }

    // Empty when delivered, else why the client is given up.
    std::string Deliver(const std::vector<Change>& batch) {
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
            return std::string();
        } catch (const CORBA::Exception& e) {
            return std::string("a delivery failed (") + e._name() + ")";
        }
    }

    // Empty while the client's sink answers, else why the client is given up.
    std::string Check() {
        try {
            if (!m_sink->_non_existent()) return std::string();
            return "its sink no longer exists";
        } catch (const CORBA::Exception& e) {
            return std::string("it did not answer a check (") + e._name() + ")";
        }
    }

    const std::string m_key;
    Notifier& m_notifier;
    const Tree& m_tree;
    const NotifierLimits& m_limits;
    i_NET::NotificationSink_var m_sink;  // used by the delivery thread only

    std::mutex m_lock;  // guards m_queue, m_stop, m_missed and m_reason
    std::condition_variable m_wake;
    std::deque<Change> m_queue;
    bool m_stop = false;
    std::uint64_t m_missed = 0;
    std::string m_reason;
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
        found = m_subscribers.emplace(key, std::make_shared<Subscriber>(key, sink, *this)).first;
    m_byNode[id].push_back(found->second);
    m_subscribedNodes.store(m_byNode.size(), std::memory_order_release);
}

void Notifier::Unsubscribe(const std::string& key) {
    std::lock_guard lock(m_lock);
    DropLocked(key);
    m_lost.erase(key);
}

std::uint64_t Notifier::TakeLost(const std::string& key) {
    std::lock_guard lock(m_lock);
    const auto found = m_lost.find(key);
    if (found == m_lost.end()) return 0;
    const std::uint64_t missed = found->second.missed;
    m_lost.erase(found);
    return missed;
}

void Notifier::Publish(const Change& change) {
    std::vector<DropReport> reports;
    {
        std::lock_guard lock(m_lock);
        auto found = m_byNode.find(change.id);
        if (found == m_byNode.end()) return;
        std::vector<std::string> dropped;
        for (const auto& subscriber : found->second)
            if (!subscriber->Enqueue(change)) dropped.push_back(subscriber->Key());
        for (const auto& key : dropped) {
            const auto subscriber = m_subscribers.find(key);
            if (subscriber != m_subscribers.end()) reports.push_back(subscriber->second->Report());
            DropLocked(key);
        }
    }
    if (m_onDrop)
        for (const auto& report : reports) m_onDrop(report);
}

void Notifier::Abandon(const Subscriber& subscriber) {
    DropReport report;
    {
        std::lock_guard lock(m_lock);
        const auto found = m_subscribers.find(subscriber.Key());
        // Already gone, or the key belongs to a newer subscriber by now.
        if (found == m_subscribers.end() || found->second.get() != &subscriber) return;
        report = found->second->Report();
        DropLocked(subscriber.Key());
    }
    if (m_onDrop) m_onDrop(report);
}

void Notifier::RememberLossLocked(Subscriber& subscriber) {
    Loss& loss = m_lost[subscriber.Key()];
    loss.missed += subscriber.Report().missed;
    loss.order = ++m_lostCount;
    if (m_lost.size() <= m_limits.lostKeysKept) return;
    // Forgets the key dropped longest ago; drops are rare, the scan is short.
    auto oldest = m_lost.begin();
    for (auto it = m_lost.begin(); it != m_lost.end(); ++it)
        if (it->second.order < oldest->second.order) oldest = it;
    m_lost.erase(oldest);
}

void Notifier::DropLocked(const std::string& key) {
    auto found = m_subscribers.find(key);
    if (found == m_subscribers.end()) return;
    std::shared_ptr<Subscriber> subscriber = found->second;
    if (subscriber->IsDropped() && !m_stopped) RememberLossLocked(*subscriber);
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
