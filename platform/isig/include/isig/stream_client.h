#pragma once
// A reader of a stream: its own queue, attached to the stream while open.
//
// Close may come from another thread (the interrupt handler) at any time:
// it detaches the queue and wakes a waiting Pop with eClosed. A client that
// was closed stays closed, also when Close came before Open, so that an
// interrupt between the registration of the client and its opening is
// never lost.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "isig/client_base.h"
#include "isig/isig_trace.h"
#include "isig/stream.h"
#include "isig/stream_queue.h"

namespace isig {

template <class TRAITS>
class StreamClient : public SignalClientBase {
public:
    using Queue_t = StreamQueue<TRAITS>;
    using PairPtr = typename Queue_t::PairPtr;

    StreamClient(StreamSharedPtr<TRAITS> stream, std::string name, std::uint32_t capacity)
        : m_stream(std::move(stream)), m_name(std::move(name)), m_queue(m_stream->GetTraits(), m_name, capacity) {}
    ~StreamClient() override { Close(); }

    SuccessCode_e Open() override {
        ISIG_TRACE_FNC();
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_open) return eSuccess;
        if (m_closed) return eClosed;
        if (m_queue.GetStatus() == eQueueClosed) return eQueueClosed;
        const SuccessCode_e code = m_stream->AddQueue(m_queue);
        if (code == eSuccess) m_open = true;
        return code;
    }

    void Close() override {
        ISIG_TRACE_FNC();
        std::lock_guard<std::mutex> lock(m_lock);
        m_closed = true;
        if (!m_open) return;
        m_open = false;
        m_queue.Cancel(eClosed);
        m_stream->RemoveQueue(m_queue);
    }

    bool IsOpen() const override { return m_open; }
    std::int32_t SignalAccessType() const override { return eAccessStream; }
    std::string GetName() const override { return m_name; }
    SignalStatistics GetStatistics() const override { return m_queue.GetStatistics(); }

    // How long a Pop waits for a block before it gives eNoData; 0: no limit.
    void SetTimeout(std::uint64_t milliseconds) { m_queue.SetTimeout(milliseconds); }

    // The next block: eClosed once the client is closed, else what the queue gives.
    SuccessCode_e Pop(PairPtr& block) {
        if (!m_open) return eClosed;
        return m_queue.Pop(block);
    }

private:
    const StreamSharedPtr<TRAITS> m_stream;
    const std::string m_name;
    Queue_t m_queue;
    std::mutex m_lock;  // serialises Open and Close
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_closed{false};
};

}  // namespace isig
