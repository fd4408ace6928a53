#pragma once
// A dedicated thread receives the handled signals through sigwait() and
// hands each one to a SignalHandler. The signals are blocked in every other
// thread of the process, so none of them ever takes its default action once
// a handler is installed.
#include <csignal>
#include <memory>

namespace istd {

class SignalHandler {
public:
    virtual ~SignalHandler() = default;
    virtual void Handle(int signal) = 0;
};

class SignalHandlerThread {
public:
    // SIGINT, SIGTERM, SIGHUP, SIGQUIT.
    static sigset_t DefaultSignals();

    // Starts the thread (once per process; a second call replaces the handler
    // and returns the same thread). `signals` is a list ending with 0, or null
    // for the default set. The calling thread's mask blocks the signals too.
    static std::shared_ptr<SignalHandlerThread> InstallHandler(SignalHandler& handler, const int* signals);
    // Installs like InstallHandler but starts no thread yet: the signals are
    // blocked and wait, pending, until Start or DeliverPending starts the
    // thread. A run that ends before it needs the thread pays for none.
    static std::shared_ptr<SignalHandlerThread> InstallDeferred(SignalHandler& handler, const int* signals);

    // Starts the thread unless it runs; returns once the signals pending at
    // the call have been handed to the handler (on the thread).
    void Start();
    // Returns once the signals pending at the call have been handed to the
    // handler: starts the thread only when one is pending. With the thread
    // already running, delivery is its usual asynchronous one.
    void DeliverPending();
    // True once the thread was started (by Start or DeliverPending).
    bool Started() const;

    ~SignalHandlerThread();
    // Stops and joins the thread; no handler is called afterwards. Also runs
    // by itself at exit, before static objects made before installation are
    // destroyed.
    void Stop();
    SignalHandlerThread(const SignalHandlerThread&) = delete;
    SignalHandlerThread& operator=(const SignalHandlerThread&) = delete;

    struct Impl;
    explicit SignalHandlerThread(std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> m_impl;
};

// Blocks the default signal set in the calling thread for its lifetime, so
// that threads started meanwhile (for example by the CORBA runtime) inherit
// the blocked mask.
class ScopedSignalBlock {
public:
    ScopedSignalBlock();
    ~ScopedSignalBlock();
    ScopedSignalBlock(const ScopedSignalBlock&) = delete;
    ScopedSignalBlock& operator=(const ScopedSignalBlock&) = delete;

private:
    sigset_t m_previous;
};

}  // namespace istd
