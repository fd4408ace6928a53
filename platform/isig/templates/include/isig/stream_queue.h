#pragma once
// A bounded queue of shared blocks between a producer (a stream dispatcher
// or a receiver servant) and one reader.
//
// The capacity counts blocks ("atom groups"). A full queue refuses a block
// and counts its atoms as rejected, so a slow reader never makes the
// producer wait and never holds more than `capacity` blocks.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "isig/codes.h"
#include "isig/meta_buffer_pair.h"
#include "isig/signal_source.h"

namespace isig {

template <class TRAITS>
class StreamQueue {
public:
    using PairPtr = MetaBufferPairPtr<TRAITS>;

    StreamQueue(const TRAITS& traits, std::string name, std::uint32_t capacity)
        : m_traits(traits), m_name(std::move(name)), m_capacity(std::max<std::uint32_t>(capacity, 1)) {}
    StreamQueue(const StreamQueue&) = delete;
    StreamQueue& operator=(const StreamQueue&) = delete;

    const std::string& GetName() const { return m_name; }
    const TRAITS& GetTraits() const { return m_traits; }
    std::uint32_t GetCapacity() const { return m_capacity; }

    // Appends a block. A closed queue refuses it with its status; a full one
    // refuses it with eFailure and counts its atoms as rejected.
    SuccessCode_e Push(const PairPtr& block) {
        if (!block) return eFailure;
        const std::uint64_t atoms = block->GetArray().GetAtomCount();
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_status != eSuccess) return m_status;
            if (m_blocks.size() >= m_capacity) {
                m_rejected += atoms;
                return eFailure;
            }
            m_blocks.push_back(block);
            m_total += atoms;
        }
        m_ready.notify_one();
        return eSuccess;
    }

    using Clock = std::chrono::steady_clock;

    // Takes the oldest block, waiting until one arrives, the queue is
    // closed or the time-out (if set) passes. A closed queue gives its
    // status even when blocks remain; the time-out gives eNoData.
    SuccessCode_e Pop(PairPtr& block) {
        std::unique_lock<std::mutex> lock(m_lock);
        return PopLocked(lock, block, m_timeoutMs == 0 ? Clock::time_point::max() : Deadline(m_timeoutMs));
    }

    // As Pop, waiting until `until` at the most (the queue's time-out
    // does not apply).
    SuccessCode_e PopUntil(PairPtr& block, Clock::time_point until) {
        std::unique_lock<std::mutex> lock(m_lock);
        return PopLocked(lock, block, until);
    }

    // As above, copying the block's atoms into `array` and its metadata into `meta`.
    SuccessCode_e Pop(Array<TRAITS>& array, SignalMeta& meta) {
        PairPtr block;
        return CopyOut(Pop(block), block, array, meta);
    }
    SuccessCode_e PopUntil(Array<TRAITS>& array, SignalMeta& meta, Clock::time_point until) {
        PairPtr block;
        return CopyOut(PopUntil(block, until), block, array, meta);
    }

    // When the reader gives up waiting for a block: the end of the wait it
    // is in, or a time-out from now when it is not waiting;
    // time_point::max() when it has no time-out.
    Clock::time_point GiveUpTime() const {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_waitingUntil) return *m_waitingUntil;
        return m_timeoutMs == 0 ? Clock::time_point::max() : Deadline(m_timeoutMs);
    }

    // Opens the queue again for a new reader: drops held blocks, clears the status.
    void Reset() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_blocks.clear();
        m_status = eSuccess;
    }

    // Closes the queue with `code` (eQueueClosed for eSuccess) and wakes the
    // reader; held blocks are dropped.
    void Cancel(SuccessCode_e code) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_status = code == eSuccess ? eQueueClosed : code;
            m_blocks.clear();
        }
        m_ready.notify_all();
    }
    void Close() { Cancel(eQueueClosed); }

    // eSuccess while open, else the code it was closed with.
    SuccessCode_e GetStatus() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_status;
    }

    // 0: Pop waits as long as it takes.
    void SetTimeout(std::uint64_t milliseconds) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_timeoutMs = milliseconds;
    }

    std::size_t GetBlockCount() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_blocks.size();
    }

    SignalStatistics GetStatistics() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return {SignalStatItem{m_name, m_total, m_rejected, m_traits.GetAtomSize()}};
    }

private:
    // Far time-outs are cut to about a century, so that adding them to the
    // clock cannot overflow.
    static Clock::time_point Deadline(std::uint64_t milliseconds) {
        constexpr std::uint64_t c_maxMs = 100ULL * 366 * 24 * 3600 * 1000;
        const auto wait = std::chrono::milliseconds(static_cast<std::int64_t>(std::min(milliseconds, c_maxMs)));
        return Clock::now() + wait;
    }

    SuccessCode_e PopLocked(std::unique_lock<std::mutex>& lock, PairPtr& block, Clock::time_point until) {
        const auto ready = [this] { return m_status != eSuccess || !m_blocks.empty(); };
        if (until == Clock::time_point::max()) {
            m_ready.wait(lock, ready);
        } else {
            m_waitingUntil = until;
            const bool arrived = m_ready.wait_until(lock, until, ready);
            m_waitingUntil.reset();
            if (!arrived) return eNoData;
        }
        if (m_status != eSuccess) return m_status;
        block = std::move(m_blocks.front());
        m_blocks.pop_front();
        return eSuccess;
    }

    static SuccessCode_e CopyOut(SuccessCode_e code, const PairPtr& block, Array<TRAITS>& array, SignalMeta& meta) {
        if (code != eSuccess) return code;
        const Array<TRAITS>& source = block->GetArray();
        array = Array<TRAITS>::CopyOf(source.GetTraits(), source.Data(), source.GetAtomCount());
        meta = block->GetMeta();
        return eSuccess;
    }

    const TRAITS m_traits;
    const std::string m_name;
    const std::uint32_t m_capacity;

    mutable std::mutex m_lock;  // guards everything below
    std::condition_variable m_ready;
    std::deque<PairPtr> m_blocks;
    SuccessCode_e m_status = eSuccess;
    std::uint64_t m_timeoutMs = 0;
    std::optional<Clock::time_point> m_waitingUntil;  // while a Pop with an end waits
    std::uint64_t m_total = 0;
    std::uint64_t m_rejected = 0;
};

}  // namespace isig
