#pragma once
// An in-process stream servant whose pulls can be slow, skip atoms, have no
// data or fail at chosen positions, and that records how many pulls ran at
// once. Blocks hold three double atoms of two components; the atom at
// position p holds p and -p.
#include <omniORB4/CORBA.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <set>
#include <thread>

#include "fake_remote.h"
#include "idl/signal.hh"

namespace isig::test {

class ScriptedStream : public POA_i_NET::RemoteSignal {
public:
    static constexpr std::uint64_t c_blockAtoms = 3;

    // Pulls of every other block take this long, so that pulls overlap and
    // finish out of order.
    void SlowEveryOtherBlock(std::chrono::milliseconds delay) { m_delayMs = delay.count(); }
    // A pull of every other block waits until another pull started beside
    // it (at most `bound`): pulls overlap however the threads are scheduled.
    void EveryOtherBlockWaitsForAnOverlap(std::chrono::milliseconds bound) { m_overlapBoundMs = bound.count(); }
    // Every pull takes this long.
    void SlowEveryBlock(std::chrono::milliseconds delay) {
        m_delayMs = delay.count();
        m_slowAll = true;
    }
    // A pull at `position` answers with the block at `to` (the server dropped atoms).
    void SkipAt(std::uint64_t position, std::uint64_t to) {
        m_skipAt = position;
        m_skipTo = to;
    }
    // The first pull at `position` has no data.
    void NoDataOnceAt(std::uint64_t position) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_noDataAt.insert(position);
    }
    // Pulls at `position` and beyond throw TRANSIENT.
    void FailFrom(std::uint64_t position) { m_failFrom = position; }

    int MostPullsAtOnce() const { return m_mostAtOnce.load(); }
    int PullsRunning() const { return m_running.load(); }

    i_NET::SignalInfo* GetInfo() override {
        auto* info = new i_NET::SignalInfo;
        info->name = "scripted";
        info->atomType = 1;
        info->accessType = 1;
        info->blockSize = c_blockAtoms;
        info->components.length(2);
        info->components[0] = "x";
        info->components[1] = "y";
        return info;
    }

    CORBA::Long Pull(CORBA::ULongLong position, CORBA::ULong maxAtoms, i_NET::Block_out b) override {
        Running running(*this);  // counted before another pull may see it started
        const std::uint64_t startedBefore = m_started++;
        std::uint64_t start = position == i_NET::POSITION_NEWEST ? 0 : position;
        if ((m_slowAll || (start / c_blockAtoms) % 2 == 0) && m_delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(m_delayMs.load()));
        if ((start / c_blockAtoms) % 2 == 0 && m_overlapBoundMs > 0) WaitForAnotherPull(startedBefore + 1);
        if (start >= m_failFrom) throw CORBA::TRANSIENT();
        if (TakeNoData(start)) {
            b = new i_NET::Block;
            return i_NET::SIG_NO_DATA;
        }
        if (start == m_skipAt) start = m_skipTo;
        b = FakeRemoteSignal::MakeBlock(start, start, std::min<CORBA::ULong>(maxAtoms, c_blockAtoms), -1);
        return i_NET::SIG_OK;
    }

    CORBA::Long RegisterReceiver(i_NET::SignalReceiver_ptr, CORBA::Long, CORBA::ULongLong, CORBA::LongLong,
                                 CORBA::ULong) override {
        return i_NET::SIG_FAILED;
    }
    void UnregisterReceiver(i_NET::SignalReceiver_ptr) override {}
    CORBA::Long Read(i_NET::SignalReceiver_ptr, CORBA::ULongLong, CORBA::LongLong, CORBA::ULongLong,
                     i_NET::Block_out b) override {
        b = new i_NET::Block;
        return i_NET::SIG_FAILED;
    }

private:
    class Running {
    public:
        explicit Running(ScriptedStream& stream) : m_stream(stream) {
            const int now = ++m_stream.m_running;
            int most = m_stream.m_mostAtOnce.load();
            while (now > most && !m_stream.m_mostAtOnce.compare_exchange_weak(most, now)) {
            }
        }
        ~Running() { --m_stream.m_running; }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

    private:
        ScriptedStream& m_stream;
    };

    // Until more than `started` pulls have started.
    void WaitForAnotherPull(std::uint64_t started) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_overlapBoundMs.load());
        while (m_started.load() <= started && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    bool TakeNoData(std::uint64_t position) {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_noDataAt.erase(position) > 0;
    }

    std::atomic<long> m_delayMs{0};
    std::atomic<bool> m_slowAll{false};
    std::atomic<long> m_overlapBoundMs{0};
    std::atomic<std::uint64_t> m_skipAt{~std::uint64_t{0}};
    std::atomic<std::uint64_t> m_skipTo{0};
    std::atomic<std::uint64_t> m_failFrom{~std::uint64_t{0}};
    std::atomic<int> m_running{0};
    std::atomic<std::uint64_t> m_started{0};
    std::atomic<int> m_mostAtOnce{0};
    std::mutex m_lock;  // guards m_noDataAt
    std::set<std::uint64_t> m_noDataAt;
};

}  // namespace isig::test
