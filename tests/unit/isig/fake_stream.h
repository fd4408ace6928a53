#pragma once
// An in-process stream source for the dispatcher tests. Blocks carry a
// running counter, so a reader can tell which block it got. The source
// only produces what the test releases, and can be told to fail.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "isig/signal_traits.h"
#include "isig/stream.h"

namespace isig::test {

using Traits16 = SignalTraits<short, RuntimeDefined, 1>;

inline Traits16 TwoComponents() { return Traits16(2, {"va", "vb"}); }

template <class TRAITS = Traits16>
class FakeStream : public Stream<TRAITS> {
public:
    using Element_t = typename TRAITS::Element_t;

    FakeStream(const TRAITS& traits, std::uint32_t blockSize, DispatchKind_e kind = eDispatcherThread)
        : Stream<TRAITS>("fake", traits, kind), m_blockSize(blockSize) {}
    ~FakeStream() override { this->Shutdown(); }

    static std::shared_ptr<FakeStream> Make(std::uint32_t blockSize = 4, const TRAITS& traits = TwoComponents(),
                                            DispatchKind_e kind = eDispatcherThread) {
        return std::make_shared<FakeStream>(traits, blockSize, kind);
    }

    std::uint32_t GetBlockSize() override { return m_blockSize; }

    // Lets `blocks` more blocks out of the source.
    void Release(std::uint64_t blocks) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_released += blocks;
        }
        m_changed.notify_all();
    }
    // From the next read on, ReadBlock runs `failure` instead of producing.
    void FailWith(std::function<SuccessCode_e()> failure) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_failure = std::move(failure);
        }
        m_changed.notify_all();
    }
    // Thread starts: the next `count` starts throw std::system_error.
    void RefuseThreadStarts(int count) { m_refuseStarts = count; }
    // Thread starts: the new thread waits for OpenStartGate before running.
    void HoldThreadStart() { m_holdStart = true; }
    void OpenStartGate() {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_gateOpen = true;
        }
        m_changed.notify_all();
    }
    bool WaitUntilStarting() {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_starting; });
    }

    int ThreadStarts() const { return m_threadStarts; }
    std::uint64_t BlocksProduced() const { return m_produced; }

protected:
    SuccessCode_e ReadBlock(Array<TRAITS>& array, SignalMeta& meta) override {
        std::unique_lock<std::mutex> lock(m_lock);
        // Short waits, so that a stopping dispatcher never hangs here.
        m_changed.wait_for(lock, std::chrono::milliseconds(5), [this] { return m_failure || m_produced < m_released; });
        if (m_failure) {
            auto failure = m_failure;
            lock.unlock();
            return failure();
        }
        if (m_produced >= m_released) return eNoData;
        const std::uint64_t block = m_produced++;
        lock.unlock();
        Fill(array, block);
        meta[eMetaPosition] = static_cast<std::int64_t>(block * m_blockSize);
        meta[eMetaAtomCount] = array.GetAtomCount();
        return eSuccess;
    }

    std::thread CreateDispatcherThread() override {
        if (m_refuseStarts > 0) {
            --m_refuseStarts;
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again), "thread");
        }
        ++m_threadStarts;
        if (!m_holdStart) return Stream<TRAITS>::CreateDispatcherThread();
        return std::thread([this] {
            {
                std::unique_lock<std::mutex> lock(m_lock);
                m_starting = true;
                m_changed.notify_all();
                m_changed.wait(lock, [this] { return m_gateOpen; });
            }
            (*this)();
        });
    }

private:
    // Element j of atom i of block b: (b * blockSize + i) * 10 + j.
    void Fill(Array<TRAITS>& array, std::uint64_t block) {
        const std::uint32_t components = array.GetTraits().GetComponents();
        for (std::uint32_t i = 0; i < array.GetAtomCount(); ++i)
            for (std::uint32_t j = 0; j < components; ++j)
                array.Data()[i * components + j] = static_cast<Element_t>((block * m_blockSize + i) * 10 + j);
    }

    const std::uint32_t m_blockSize;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::uint64_t m_released = 0;
    std::atomic<std::uint64_t> m_produced{0};
    std::function<SuccessCode_e()> m_failure;
    std::atomic<int> m_refuseStarts{0};
    std::atomic<int> m_threadStarts{0};
    std::atomic<bool> m_holdStart{false};
    bool m_starting = false;
    bool m_gateOpen = false;
};

// Polls `condition` until it holds or ten seconds pass.
inline bool Eventually(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace isig::test
