#include "call_deadline.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <omniORB4/CORBA.h>
#include <omniORB4/omniTransport.h>

namespace mci::detail {

using Clock = std::chrono::steady_clock;

// One thread's view for the watchdog. `call` and `target` are written by
// the owning thread only; the watchdog reads them.
struct CallSlot {
    std::atomic<std::uint64_t> call{0};     // number of the call in flight, 0: none
    std::atomic<std::uint64_t> expired{0};  // number of the call the watchdog ended
    std::atomic<const CallTarget*> target{nullptr};
    // Held by the watchdog while it copies *target, and by the owner when a
    // call ends, so that the target outlives the copy.
    std::mutex endMutex;
    std::uint64_t nextCall = 1;  // owner only

    // Watchdog bookkeeping, guarded by the watchdog's mutex.
    std::uint64_t seenCall = 0;
    Clock::time_point seenAt;
};

namespace {

class Watchdog {
public:
    static Watchdog& Instance() {
        // Never destroyed: thread-local slots leave it at thread exit, after
        // every ordinary static may be gone.
        static Watchdog* watchdog = new Watchdog;
        return *watchdog;
    }

    void Add(CallSlot* slot) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_slots.push_back(slot);
    }

    void Remove(CallSlot* slot) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_slots.erase(std::remove(m_slots.begin(), m_slots.end(), slot), m_slots.end());
    }

    void Start(std::chrono::milliseconds deadline) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_thread.joinable()) return;
        m_deadline = deadline;
        m_stop = false;
        m_thread = std::thread([this] { Run(); });
    }

    void Stop() {
        std::thread thread;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
            thread = std::move(m_thread);
        }
        m_wake.notify_all();
        if (thread.joinable()) thread.join();
    }

private:
    Watchdog() = default;

    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        // A call is seen at the first tick after it started and ended at the
        // first tick a deadline later: it runs at most one tick longer.
        const auto tick = std::max(m_deadline / 10, std::chrono::milliseconds(10));
        auto next = Clock::now();
        while (!m_stop) {
            next += tick;
            if (m_wake.wait_until(lock, next, [this] { return m_stop; })) break;
            const std::vector<CallTarget> overdue = CollectOverdueLocked(Clock::now());
            if (overdue.empty()) continue;
            lock.unlock();
            for (const auto& target : overdue) ShutDownSocketsTo(target);
            lock.lock();
        }
    }

    // Marks the calls that ran past the deadline as expired and gives
    // their targets.
    std::vector<CallTarget> CollectOverdueLocked(Clock::time_point now) {
        std::vector<CallTarget> overdue;
        for (CallSlot* slot : m_slots) {
            const std::uint64_t call = slot->call.load(std::memory_order_acquire);
            if (call == 0 || call != slot->seenCall) {
                slot->seenCall = call;
                slot->seenAt = now;
                continue;
            }
            if (now - slot->seenAt < m_deadline) continue;
            std::lock_guard<std::mutex> endLock(slot->endMutex);
            if (slot->call.load(std::memory_order_acquire) != call) continue;  // ended meanwhile
            overdue.push_back(*slot->target.load(std::memory_order_relaxed));
            slot->expired.store(call);
            slot->seenAt = now;  // once more a deadline later if it is still stuck
        }
        return overdue;
    }

    std::mutex m_mutex;  // guards everything below
    std::condition_variable m_wake;
    std::vector<CallSlot*> m_slots;
    std::thread m_thread;
    bool m_stop = false;
    std::chrono::milliseconds m_deadline{0};
};

class SlotOwner {
public:
    SlotOwner() { Watchdog::Instance().Add(&m_slot); }
    ~SlotOwner() { Watchdog::Instance().Remove(&m_slot); }
    SlotOwner(const SlotOwner&) = delete;
    SlotOwner& operator=(const SlotOwner&) = delete;
    CallSlot& Slot() { return m_slot; }

private:
    CallSlot m_slot;
};

CallSlot& ThisThreadSlot() {
    thread_local SlotOwner owner;
    return owner.Slot();
}

// --- sockets ---

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

struct AddrInfoFree {
    void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

// The numeric addresses of the target host; empty when it does not resolve
// (then the port alone decides).
std::vector<sockaddr_storage> AddressesOf(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::vector<sockaddr_storage> addresses;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return addresses;
    std::unique_ptr<addrinfo, AddrInfoFree> list(found);
    for (const addrinfo* info = list.get(); info; info = info->ai_next) {
        sockaddr_storage address{};
        std::memcpy(&address, info->ai_addr, std::min<std::size_t>(info->ai_addrlen, sizeof address));
        addresses.push_back(address);
    }
    return addresses;
}

bool SameHost(const sockaddr_storage& peer, const sockaddr_storage& address) {
    if (peer.ss_family != address.ss_family) return false;
    if (peer.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in&>(peer).sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr;
    return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr,
                       &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, sizeof(in6_addr)) == 0;
}

std::int32_t PortOf(const sockaddr_storage& peer) {
    return ntohs(peer.ss_family == AF_INET ? reinterpret_cast<const sockaddr_in&>(peer).sin_port
                                           : reinterpret_cast<const sockaddr_in6&>(peer).sin6_port);
}

bool IsPeer(const sockaddr_storage& peer, socklen_t length, const CallTarget& target,
            const std::vector<sockaddr_storage>& addresses) {
    if (peer.ss_family == AF_UNIX) {
        const auto& unixPeer = reinterpret_cast<const sockaddr_un&>(peer);
        const std::size_t pathLength = length > offsetof(sockaddr_un, sun_path)
                                           ? strnlen(unixPeer.sun_path, length - offsetof(sockaddr_un, sun_path))
                                           : 0;
        return !target.unixPath.empty() && std::string(unixPeer.sun_path, pathLength) == target.unixPath;
    }
    if (peer.ss_family != AF_INET && peer.ss_family != AF_INET6) return false;
    if (PortOf(peer) != target.port) return false;
    return addresses.empty() ||
           std::any_of(addresses.begin(), addresses.end(),
                       [&](const sockaddr_storage& address) { return SameHost(peer, address); });
}

}  // namespace

CallDeadline::CallDeadline(const CallTarget& target) : m_slot(ThisThreadSlot()), m_call(0) {
    // A call made while another is in flight on this thread (from a servant
    // upcall, say) is covered by the outer one.
    if (m_slot.call.load(std::memory_order_relaxed) != 0) return;
    m_call = m_slot.nextCall++;
    m_slot.target.store(&target, std::memory_order_relaxed);
    m_slot.call.store(m_call, std::memory_order_release);
}

CallDeadline::~CallDeadline() {
    if (m_call == 0) return;
    std::lock_guard<std::mutex> lock(m_slot.endMutex);
    m_slot.call.store(0, std::memory_order_relaxed);
}

bool CallDeadline::Expired() const { return m_call != 0 && m_slot.expired.load() == m_call; }

void StartCallWatchdog(std::chrono::milliseconds deadline) { Watchdog::Instance().Start(deadline); }

void StopCallWatchdog() { Watchdog::Instance().Stop(); }

// The ORB's lock over its connections, when the ORB has made it. The ORB
// closes a connection's socket only while holding it: no socket can close
// and its number be reused while the scan below holds it.
class TransportLock {
public:
    TransportLock() : m_mutex(omni::omniTransportLock) {
        if (m_mutex) m_mutex->lock();
    }
    ~TransportLock() {
        if (m_mutex) m_mutex->unlock();
    }
    TransportLock(const TransportLock&) = delete;
    TransportLock& operator=(const TransportLock&) = delete;

private:
    omni_tracedmutex* m_mutex;
};

int ShutDownSocketsTo(const CallTarget& target) {
    const std::vector<sockaddr_storage> addresses = AddressesOf(target.host);  // before the lock: may be slow
    const TransportLock lock;
    std::unique_ptr<DIR, DirCloser> dir(opendir("/proc/self/fd"));
    if (!dir) return 0;
    int count = 0;
    while (const dirent* entry = readdir(dir.get())) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == dirfd(dir.get())) continue;
        struct stat info {};
        if (fstat(static_cast<int>(fd), &info) != 0 || !S_ISSOCK(info.st_mode)) continue;
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &length) != 0) continue;
        if (!IsPeer(peer, length, target, addresses)) continue;
        if (shutdown(static_cast<int>(fd), SHUT_RDWR) == 0) ++count;
    }
    return count;
}

}  // namespace mci::detail
