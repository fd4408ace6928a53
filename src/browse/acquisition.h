#pragma once
// The plot pane's signal acquisition: a thread of its own reads the signal
// with the signal library's clients (a stream client, or the data-on-demand
// client in Now mode, read again and again) and adds the atoms to the
// plot's buffer. Destroying it closes the client, which ends a read in
// progress, and joins the thread.
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "browse/plot_buffer.h"
#include "isig/signal_source.h"

namespace isig {
class SignalClientBase;
}

namespace browse {

class Acquisition {
public:
    // Starts reading `source` into `buffer` (its component count is set).
    // Throws istd::Exception when the signal's type or access cannot be read.
    Acquisition(isig::SignalSourceSharedPtr source, std::shared_ptr<PlotBuffer> buffer);
    ~Acquisition();
    Acquisition(const Acquisition&) = delete;
    Acquisition& operator=(const Acquisition&) = delete;

    const std::vector<std::string>& Components() const { return m_components; }
    bool IsStream() const { return m_stream; }

    // Called by the reading thread: registers the client Stop closes.
    void Attach(isig::SignalClientBase* client);
    void Detach();
    bool Stopping() const { return m_stopping.load(); }
    // Waits up to `period` unless stopping; false when stopping.
    bool Pause(std::chrono::milliseconds period);
    PlotBuffer& Buffer() { return *m_buffer; }

private:
    void Run();
    void Stop();

    isig::SignalSourceSharedPtr m_source;
    std::shared_ptr<PlotBuffer> m_buffer;
    std::vector<std::string> m_components;
    bool m_stream = false;
    std::atomic<bool> m_stopping{false};
    std::mutex m_clientLock;                      // guards m_client, pairs with m_wake
    std::condition_variable m_wake;
    isig::SignalClientBase* m_client = nullptr;   // not owned
    std::thread m_thread;
};

}  // namespace browse
