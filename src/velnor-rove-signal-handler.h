#pragma once
// The process-wide interrupt handler. The support library's signal thread
// calls Handle for every caught signal; Handle closes the signal client being
// read at that moment (which ends its read) and records the signal, and wakes
// whoever waits in WaitForSignal.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include <pthread.h>

#include "istd/signal_handler.h"

namespace isig {
class SignalClientBase;
}

class VelnorRoveSigHandler : public istd::SignalHandler {
public:
    VelnorRoveSigHandler() = default;
    ~VelnorRoveSigHandler() override = default;
    VelnorRoveSigHandler(const VelnorRoveSigHandler&) = delete;
    VelnorRoveSigHandler& operator=(const VelnorRoveSigHandler&) = delete;

    // Closes the registered client (if any) and records the signal number.
    // Lets no exception escape.
    void Handle(int signal) override;

    // A reader registers its client before it starts reading and withdraws it
    // before the client is destroyed; once WithdrawClient has returned,
    // Handle no longer touches that client (a Close in progress has ended).
    void RegisterClient(isig::SignalClientBase* client);
    void WithdrawClient();

    // The number of the last signal handled; 0 while none has arrived.
    int Signal() const;

    // Sleeps until a signal has been handled, EndWaits has been called or
    // `timeout` has passed; true when the wait ended early (also for a
    // signal or an EndWaits before the call).
    bool WaitForSignal(std::chrono::seconds timeout);

    // Ends the wait in progress and every later one, as a signal would, for
    // a reason of the command's own (its output is gone). Any thread.
    void EndWaits();

    // From now on a signal caught while the calling thread waits for a
    // registry call ends the process at once, with `text` and a line end on
    // standard error and status 1: the call cannot be cut short, and its
    // deadline may be seconds away. A signal caught between two calls is
    // only recorded, as before, and ends the process at the next call.
    // Whole lines only reach standard output: the line being written, when
    // there is one, is dropped. Once per process, before the calls.
    void EndRunOnSignalDuringCalls(const std::string& text);
    // Called around every registry call (see mci::ObserveCalls).
    void CallBegins();
    void CallEnds();

private:
    void WakeWaiters();
    [[noreturn]] void EndRunNow() const;

    std::mutex m_clientLock;                        // guards m_client
    isig::SignalClientBase* m_client = nullptr;     // not owned
    std::atomic<int> m_signal{0};
    std::atomic<bool> m_waitsEnded{false};
    std::mutex m_waitLock;                          // pairs with m_signalArrived
    std::condition_variable m_signalArrived;

    // Written once before the calls are observed, then only read.
    std::string m_interruptText;
    pthread_t m_callThread{};                       // the thread whose calls end the run
    std::atomic<bool> m_callsWatched{false};
    std::mutex m_callLock;                          // guards m_inCall
    bool m_inCall = false;
    // The signals are let through to the calling thread during a call
    // (while the signal thread does not run); that thread only.
    bool m_signalsLetThrough = false;
};

extern VelnorRoveSigHandler sigHandler;
// The installed signal-handling thread (kept for the life of the process).
extern std::shared_ptr<istd::SignalHandlerThread> sigThread;

// Installs sigHandler with the default signal set; later calls change
// nothing. From then on the signals are blocked; the signal thread starts
// when something needs a signal handled at once: a reader registering its
// client, a wait, the benchmark (StartSignalThread), or a signal found
// pending (DeliverPendingSignals). A one-shot read or write starts none.
void InstallSignalHandler();
void StartSignalThread();
// Returns once every signal pending now has been handled.
void DeliverPendingSignals();
