#pragma once
// Gives memory back to the system after large replies. A reply of several
// megabytes is built, copied into the ORB's buffers and freed once sent; the
// allocator keeps freed memory for reuse, so a burst of large replies (or
// peers that held theirs until their connections were closed) would leave
// the server at its peak size for good. Allocations of 128 KiB and more are
// mapped on their own and returned when freed, and a little after large
// replies the heaps are trimmed.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace velnor::server {

// Replies from this size on count as large.
constexpr std::uint64_t c_largeReplyBytes = 256u * 1024u;

// Fixes the allocator's threshold for mapping blocks of their own (it would
// rise with the largest block freed so far). Once, before the first thread.
void TuneAllocator();

class MemoryTrimmer {
public:
    // Trims every `period` for `window` after the last large reply: the
    // ORB frees a reply once its peer has taken it, or once the peer's
    // connection is closed for not reading it.
    explicit MemoryTrimmer(std::chrono::milliseconds period = std::chrono::seconds(2),
                           std::chrono::milliseconds window = std::chrono::seconds(30));
    ~MemoryTrimmer();
    MemoryTrimmer(const MemoryTrimmer&) = delete;
    MemoryTrimmer& operator=(const MemoryTrimmer&) = delete;

    // A reply of `bytes` was made; large ones ask for a trim after the delay.
    void NoteReply(std::uint64_t bytes);
    std::uint64_t Trims() const { return m_trims.load(); }

private:
    void Run();

    const std::chrono::milliseconds m_period;
    const std::chrono::milliseconds m_window;
    std::atomic<std::int64_t> m_lastLarge{0};  // steady clock, nanoseconds; 0: none yet
    std::atomic<std::uint64_t> m_trims{0};
    std::mutex m_lock;  // guards m_stop
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace velnor::server
