#include "velnor-rove-signal-handler.h"

#include <csignal>

#include <unistd.h>

#include "isig/client_base.h"
#include "istd/trace_statement.h"
#include "mci/mci.h"

namespace {

constexpr const char* c_handlerTraceFile = "velnor-rove-signal-handler";

// What the process writes when a signal ends it during a call: kept where a
// signal handler may read it.
const char* g_interruptLine = nullptr;
std::size_t g_interruptLineLength = 0;

// Runs on the thread blocked in a registry call, the one thread that lets
// the signals through, and only during the call: write and _exit are all it
// may do there.
void EndRunOnSignal(int) {
    if (g_interruptLine) static_cast<void>(!write(STDERR_FILENO, g_interruptLine, g_interruptLineLength));
    _exit(1);
}

void ObservedCallBegins() { sigHandler.CallBegins(); }
void ObservedCallEnds() { sigHandler.CallEnds(); }

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
    if (!m_callsWatched.load()) return;
    // Held while the process ends: the blocked thread cannot come out of its
    // call and write half a line meanwhile.
    std::lock_guard<std::mutex> lock(m_callLock);
    if (m_inCall) EndRunNow();
}

void VelnorRoveSigHandler::EndRunOnSignalDuringCalls(const std::string& text) {
    if (m_callsWatched.load()) return;
    m_interruptText = text + "\n";
    g_interruptLine = m_interruptText.c_str();
    g_interruptLineLength = m_interruptText.size();
    m_callThread = pthread_self();
    struct sigaction action {};
    action.sa_handler = EndRunOnSignal;
    action.sa_mask = istd::SignalHandlerThread::DefaultSignals();
    const sigset_t handled = istd::SignalHandlerThread::DefaultSignals();
    for (int s = 1; s < NSIG; ++s)
        if (sigismember(&handled, s) == 1) sigaction(s, &action, nullptr);
    m_callsWatched.store(true);
    mci::ObserveCalls(mci::CallObserver{ObservedCallBegins, ObservedCallEnds});
}

void VelnorRoveSigHandler::CallBegins() {
    if (!pthread_equal(pthread_self(), m_callThread)) return;
    {
        std::lock_guard<std::mutex> lock(m_callLock);
        m_inCall = true;
        // Caught between two calls: this call would only prolong the run.
        if (m_signal.load() != 0) EndRunNow();
    }
    if (sigThread && sigThread->Started()) return;
    // No thread waits for the signals: this one takes them, during the call.
    const sigset_t handled = istd::SignalHandlerThread::DefaultSignals();
    pthread_sigmask(SIG_UNBLOCK, &handled, nullptr);
    m_signalsLetThrough = true;
}

void VelnorRoveSigHandler::CallEnds() {
    if (!pthread_equal(pthread_self(), m_callThread)) return;
    if (m_signalsLetThrough) {
        const sigset_t handled = istd::SignalHandlerThread::DefaultSignals();
        pthread_sigmask(SIG_BLOCK, &handled, nullptr);
        m_signalsLetThrough = false;
    }
    std::lock_guard<std::mutex> lock(m_callLock);
    m_inCall = false;
}

void VelnorRoveSigHandler::EndRunNow() const {
    static_cast<void>(!write(STDERR_FILENO, m_interruptText.data(), m_interruptText.size()));
    _exit(1);
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
