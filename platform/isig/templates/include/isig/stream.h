#ifndef VELNOR_ISIG_STREAM_H
#define VELNOR_ISIG_STREAM_H
// A stream source shared by any number of clients. A dispatcher thread,
// started by the first client and joined when the last one leaves, reads
// blocks from the source and hands each block, shared, to the queue of
// every client.
//
// Lock order: the main lock, then the state lock, then a queue's lock.
// The dispatcher calls ReadBlock without holding any lock.
//
// A derived source must call Shutdown() in its own destructor, so that no
// dispatcher thread can call ReadBlock on a half-destroyed object.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "isig/array.h"
#include "isig/codes.h"
#include "isig/isig_trace.h"
#include "isig/meta_buffer_pair.h"
#include "isig/signal_meta.h"
#include "isig/signal_source.h"
#include "isig/stream_queue.h"
#include "istd/exception.h"
#include "istd/log.h"
#include "istd/strings.h"

namespace isig {

// How a stream reads its blocks.
enum DispatchKind_e : std::int32_t {
    eNoDispatcher = 0,     // no thread: starting only marks the stream dispatching
    eDispatcherThread = 1, // a thread reads the blocks
    eDispatcherOnly = 2,   // as 1, and an idle stream refuses new clients
};

template <class TRAITS>
class Stream : public TypedSignalSource<TRAITS> {
public:
    using Queue_t = StreamQueue<TRAITS>;

    ~Stream() override { Shutdown(); }

    std::int32_t SignalAccessType() const override { return eAccessStream; }

    // Atoms per block read from the source.
    virtual std::uint32_t GetBlockSize() = 0;

    // Attaches a client's queue and starts dispatching for the first one.
    SuccessCode_e AddQueue(Queue_t& queue) {
        ISIG_TRACE_FNC();
        std::unique_lock<std::mutex> lock(m_mainLock);
        WaitWhileChanging(lock);
        const StreamState state = GetStreamState();
        if (state == eShutdown) {
            ISIG_TRACE(2, this->GetName() << ": Shutdown already in progress.");
            return eQueueClosed;
        }
        if (state == eIdle && m_dispatchKind == eDispatcherOnly) return eRemoteFailed;
        queue.Reset();
        m_queues.push_back(&queue);
        if (state != eIdle) return eSuccess;
        if (m_queues.size() != 1)
            istd::LoggedAssert(ISIG_TRACE_SOURCE, __LINE__, __PRETTY_FUNCTION__, "Assertion condition: numberOfClients == 1");
        return StartDispatch(lock, queue);
    }

    // Detaches a client's queue (if attached). When no client is left the
    // dispatcher is told to stop and is joined before this returns.
    void RemoveQueue(Queue_t& queue) {
        ISIG_TRACE_FNC();
        std::thread finished;
        {
            std::unique_lock<std::mutex> lock(m_mainLock);
            m_started.wait(lock, [this] { return GetStreamState() != eStarting; });
            m_queues.erase(std::remove(m_queues.begin(), m_queues.end(), &queue), m_queues.end());
            if (!m_queues.empty()) return;
            if (GetStreamState() == eDispatching)
                SetStreamState(m_dispatchKind == eNoDispatcher ? eIdle : eStopping);
            finished = TakeThread();
        }
        Join(finished);
    }

    // Ends dispatching for good: every client is woken with eQueueClosed,
    // new clients are refused, the dispatcher is joined. Idempotent.
    void Shutdown() {
        std::thread finished;
        {
            std::unique_lock<std::mutex> lock(m_mainLock);
            m_started.wait(lock, [this] { return GetStreamState() != eStarting; });
            for (Queue_t* queue : m_queues) queue->Cancel(eQueueClosed);
            m_queues.clear();
            SetStreamState(eShutdown);
            finished = TakeThread();
        }
        m_stopped.notify_all();
        Join(finished);
    }

    StreamState GetStreamState() const {
        std::lock_guard<std::mutex> lock(m_stateLock);
        return m_state;
    }

    std::size_t GetQueueCount() const {
        std::lock_guard<std::mutex> lock(m_mainLock);
        return m_queues.size();
    }

    // The latest time at which a reader attached now gives up waiting for a
    // block: time_point::max() when one waits without a time-out,
    // time_point::min() when none is attached. A source need not wait for
    // a block beyond it.
    std::chrono::steady_clock::time_point ReadersGiveUpTime() const {
        std::lock_guard<std::mutex> lock(m_mainLock);
        auto latest = std::chrono::steady_clock::time_point::min();
        for (const Queue_t* queue : m_queues) latest = std::max(latest, queue->GiveUpTime());
        return latest;
    }

    // One item: the atoms read from the source, and as rejected the atoms
    // the source reported lost before they could be read.
    SignalStatistics GetStatistics() const override {
        return {SignalStatItem{this->GetName(), m_atomsRead.load(), m_atomsLost.load(), this->GetTraits().GetAtomSize()}};
    }

    // The dispatcher thread's body.
    void operator()() {
        ISIG_TRACE_FNC();
        MarkStarted();
        bool shutdown = false;
        const SuccessCode_e code = RunLoop(shutdown);
        EndSourceQuietly();
        if (shutdown) {
            ISIG_TRACE(3, this->GetName() << ": Stream shutdown: dispatcher thread finished.");
            return;
        }
        if (code != eSuccess) {
            istd::LogError(this->GetName() + ": Terminating dispatch thread. Cause: " + ToString(code));
            CancelAllClients(code);
        }
        Finish();
    }

protected:
    Stream(std::string name, TRAITS traits, DispatchKind_e dispatchKind)
        : TypedSignalSource<TRAITS>(std::move(name), std::move(traits)), m_dispatchKind(dispatchKind) {}

    // Called under the main lock when dispatching starts.
    virtual void StartSource() {}

    // Called by the dispatcher thread, without a lock, when its loop has
    // ended and before the stream can start again: a source releases what
    // it needed for reading (for example threads of its own).
    virtual void EndSource() {}

    // Fills `array` (sized to the block size) with the next block and its
    // metadata: eSuccess with data (the array's count says how many atoms),
    // eNoData for nothing this time, anything else stops the dispatcher.
    virtual SuccessCode_e ReadBlock(Array<TRAITS>& array, SignalMeta& meta) = 0;

    // True when ReadBlock puts a buffer of its own into the array (for
    // example one received from elsewhere), so that the dispatcher need
    // not size one for it. The array it gets may then be empty.
    virtual bool ProvidesBlockBuffers() const { return false; }

    // Starts the dispatcher thread; a test double may refuse.
    virtual std::thread CreateDispatcherThread() {
        return std::thread([this] { (*this)(); });
    }

    // Atoms the source could not deliver (for example fallen out of a
    // remote buffer before they were read).
    void CountLostAtoms(std::uint64_t atoms) { m_atomsLost += atoms; }

    // Detaches every queue, waking its reader with `code` (eQueueClosed for eSuccess).
    void CancelAllClients(SuccessCode_e code) {
        std::lock_guard<std::mutex> lock(m_mainLock);
        while (!m_queues.empty()) {
            m_queues.front()->Cancel(code);
            m_queues.erase(m_queues.begin());
            ISIG_TRACE(3, this->GetName() << ": Client removed, queue size: " << m_queues.size());
        }
        if (GetStreamState() != eShutdown) SetStreamState(eStopping);
    }

    // Hands `array` (left empty) with `meta` as one shared block to every queue.
    void Dispatch(Array<TRAITS>& array, const SignalMeta& meta) {
        std::lock_guard<std::mutex> lock(m_mainLock);
        ISIG_TRACE(4, this->GetName() << ": Dispatching " << istd::CppName<typename TRAITS::Element_t>()
                                      << " stream: #queues: " << m_queues.size() << ", atoms: " << array.GetAtomCount());
        m_atomsRead += array.GetAtomCount();
        const auto block = std::make_shared<MetaBufferPair<TRAITS>>(std::move(array), meta);
        for (Queue_t* queue : m_queues) queue->Push(block);
    }

    void SetStreamState(StreamState state) {
        std::lock_guard<std::mutex> lock(m_stateLock);
        ISIG_TRACE(3, this->GetName() << ": Stream state: " << m_state << " --> " << state);
        m_state = state;
    }

private:
    // With the main lock: waits until no dispatcher is starting or stopping.
    void WaitWhileChanging(std::unique_lock<std::mutex>& lock) {
        for (StreamState state = GetStreamState(); state == eStopping || state == eStarting;
             state = GetStreamState()) {
            if (state == eStopping) {
                if (!m_queues.empty())
                    istd::LoggedAssert(ISIG_TRACE_SOURCE, __LINE__, __PRETTY_FUNCTION__, "Assertion condition: m_queues.size() == 0");
                m_stopped.wait(lock);
            } else {
                if (m_queues.size() != 1)
                    istd::LoggedAssert(ISIG_TRACE_SOURCE, __LINE__, __PRETTY_FUNCTION__, "Assertion condition: m_queues.size() == 1");
                m_started.wait(lock);
            }
        }
    }

    // With the main lock held by `lock`; `queue` is the only one attached.
    SuccessCode_e StartDispatch(std::unique_lock<std::mutex>& lock, Queue_t& queue) {
        ISIG_TRACE_FNC();
        try {
            StartSource();
        } catch (const std::exception& e) {
            ISIG_TRACE(1, this->GetName() << ": Can't start source: " << e.what());
            Detach(queue);
            return eRemoteFailed;
        }
        if (m_dispatchKind == eNoDispatcher) {
            SetStreamState(eDispatching);
            return eSuccess;
        }
        SetStreamState(eStarting);
        if (m_thread.joinable()) {
            ISIG_TRACE(2, this->GetName() << ": join thread.");
            m_thread.join();  // it set the idle state as its last locked step
        }
        ISIG_TRACE(2, this->GetName() << ": Starting thread..");
        try {
            m_thread = CreateDispatcherThread();
        } catch (const std::exception& e) {
            ISIG_TRACE(1, this->GetName() << ": Can't start dispatcher thread: " << e.what());
            Detach(queue);
            return eFailure;
        }
        m_started.wait(lock, [this] { return GetStreamState() != eStarting; });
        ISIG_TRACE(2, this->GetName() << ": Thread started..");
        return eSuccess;
    }

    // With the main lock: undoes a failed start.
    void Detach(Queue_t& queue) {
        m_queues.erase(std::remove(m_queues.begin(), m_queues.end(), &queue), m_queues.end());
        SetStreamState(eIdle);
        m_started.notify_all();
        m_stopped.notify_all();
    }

    void MarkStarted() {
        {
            std::lock_guard<std::mutex> lock(m_mainLock);
            if (GetStreamState() == eStarting) SetStreamState(eDispatching);
        }
        m_started.notify_all();
    }

    // Everything thrown while reading ends the loop with a code, so that
    // every client is cancelled and no partial block is handed out.
    SuccessCode_e RunLoop(bool& shutdown) {
        try {
            return ReadLoop(shutdown);
        } catch (const std::system_error& e) {
            ISIG_TRACE(1, this->GetName() << ": Dispatching thread error: " << e.code().message());
        } catch (const std::exception& e) {
            ISIG_TRACE(1, this->GetName() << ": Dispatching thread error: " << e.what());
        } catch (...) {
            ISIG_TRACE(1, this->GetName() << ": Dispatching thread error: unknown exception");
        }
        return eFailure;
    }

    void EndSourceQuietly() {
        try {
            EndSource();
        } catch (const std::exception& e) {
            ISIG_TRACE(1, this->GetName() << ": Can't end source: " << e.what());
        }
    }

    SuccessCode_e ReadLoop(bool& shutdown) {
        const std::uint32_t blockSize = GetBlockSize();
        Array<TRAITS> array(this->GetTraits(), blockSize);
        SignalMeta meta;
        for (;;) {
            const StreamState state = GetStreamState();
            if (state == eShutdown) {
                shutdown = true;
                return eSuccess;
            }
            if (state != eDispatching) return eSuccess;
            if (!ProvidesBlockBuffers()) array.Resize(blockSize);
            meta.clear();
            const SuccessCode_e code = ReadBlock(array, meta);
            if (code == eNoData) continue;
            if (code != eSuccess) return code;
            if (!array.IsEmpty() && GetStreamState() == eDispatching) Dispatch(array, meta);
        }
    }

    void Finish() {
        {
            std::lock_guard<std::mutex> lock(m_mainLock);
            if (GetStreamState() != eShutdown) SetStreamState(eIdle);
        }
        m_stopped.notify_all();
    }

    // With the main lock: the thread handle to join. The dispatcher cannot
    // join itself; it is let go instead (it touches nothing after this).
    std::thread TakeThread() {
        if (m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id()) m_thread.detach();
        return std::move(m_thread);
    }

    static void Join(std::thread& thread) {
        if (thread.joinable()) thread.join();
    }

    const DispatchKind_e m_dispatchKind;

    mutable std::mutex m_stateLock;  // guards m_state
    StreamState m_state = eIdle;

    mutable std::mutex m_mainLock;  // guards m_queues and m_thread
    std::vector<Queue_t*> m_queues;
    std::condition_variable m_stopped;
    std::condition_variable m_started;
    std::thread m_thread;

    std::atomic<std::uint64_t> m_atomsRead{0};
    std::atomic<std::uint64_t> m_atomsLost{0};
};

template <class TRAITS>
using StreamSharedPtr = std::shared_ptr<Stream<TRAITS>>;

}  // namespace isig

#endif
