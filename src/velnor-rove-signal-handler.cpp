#include "velnor-rove-signal-handler.h"

#include "isig/client_base.h"
#include "istd/trace_statement.h"

namespace {

constexpr const char* c_handlerTraceFile = "velnor-rove-signal-handler";

// A wait of 2^32-1 seconds (the "forever" of the listen wait) must not
// overflow the clock's range.
std::chrono::steady_clock::time_point DeadlineAfter(std::chrono::seconds timeout) {
    const auto now = std::chrono::steady_clock::now();
    const auto room = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::time_point::max() -
                                                                       now) -
                      std::chrono::seconds(1);
    return timeout >= room ? now + room : now + timeout;
}

}  // namespace

VelnorRoveSigHandler sigHandler;
std::shared_ptr<istd::SignalHandlerThread> sigThread;

void VelnorRoveSigHandler::Handle(int signal) {
    try {
        std::lock_guard<std::mutex> lock(m_clientLock);
        if (m_client) {
            ISTD_TRACE(1, "virtual void VelnorRoveSigHandler::Handle(int)", c_handlerTraceFile,
                       "closing remote client");
            isig::SignalClientBase* client = m_client;
            m_client = nullptr;
            client->Close();
        }
    } catch (...) {
        // The signal thread must survive a failing Close; the reader finds
        // its client closed or times out on its own.
    }
    m_signal.store(signal);
    WakeWaiters();
}

void VelnorRoveSigHandler::EndWaits() {
    m_waitsEnded.store(true);
    WakeWaiters();
}

void VelnorRoveSigHandler::WakeWaiters() {
    {
        // Taken so that a waiter between its check and its sleep cannot miss
        // the notification.
        std::lock_guard<std::mutex> lock(m_waitLock);
    }
    m_signalArrived.notify_all();
}

void VelnorRoveSigHandler::RegisterClient(isig::SignalClientBase* client) {
    // A signal must be able to close the client from now on; one that
    // came before only records its number.
    StartSignalThread();
    std::lock_guard<std::mutex> lock(m_clientLock);
    m_client = client;
}

void VelnorRoveSigHandler::WithdrawClient() {
    std::lock_guard<std::mutex> lock(m_clientLock);
    m_client = nullptr;
}

int VelnorRoveSigHandler::Signal() const { return m_signal.load(); }

bool VelnorRoveSigHandler::WaitForSignal(std::chrono::seconds timeout) {
    StartSignalThread();  // a signal must end the wait
    std::unique_lock<std::mutex> lock(m_waitLock);
    return m_signalArrived.wait_until(lock, DeadlineAfter(timeout),
                                      [this] { return m_signal.load() != 0 || m_waitsEnded.load(); });
}

void InstallSignalHandler() {
    if (sigThread) return;
    sigThread = istd::SignalHandlerThread::InstallDeferred(sigHandler, nullptr);
}

void StartSignalThread() {
    if (sigThread) sigThread->Start();
}

void DeliverPendingSignals() {
    if (sigThread) sigThread->DeliverPending();
}
