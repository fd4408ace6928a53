#include "memory_trim.h"

#include <malloc.h>

namespace velnor::server {

void TuneAllocator() { ::mallopt(M_MMAP_THRESHOLD, 128 * 1024); }

namespace {

std::int64_t Now() { return std::chrono::steady_clock::now().time_since_epoch().count(); }

}  // namespace

MemoryTrimmer::MemoryTrimmer(std::chrono::milliseconds period, std::chrono::milliseconds window)
    : m_period(period), m_window(window), m_thread([this] { Run(); }) {}

MemoryTrimmer::~MemoryTrimmer() {
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void MemoryTrimmer::NoteReply(std::uint64_t bytes) {
    if (bytes >= c_largeReplyBytes) m_lastLarge.store(Now());
}

void MemoryTrimmer::Run() {
    std::unique_lock lock(m_lock);
    for (;;) {
        m_wake.wait_for(lock, m_period, [this] { return m_stop; });
        if (m_stop) return;
        const std::int64_t last = m_lastLarge.load();
        if (last == 0 || Now() - last > std::chrono::nanoseconds(m_window).count()) continue;
        ::malloc_trim(0);
        m_trims.fetch_add(1);
    }
}

}  // namespace velnor::server
