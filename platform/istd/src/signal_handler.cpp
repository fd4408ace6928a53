#include "istd/signal_handler.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>

namespace istd {
namespace {
int FirstSignal(const sigset_t& set) {
    for (int s = 1; s < NSIG; ++s)
        if (sigismember(&set, s) == 1) return s;
    return 0;
}
}  // namespace

// Draining the pending signals does not block; the bound only keeps a
// starter from waiting for ever on a thread that never ran.
constexpr std::chrono::seconds c_drainBound{10};

struct SignalHandlerThread::Impl {
    sigset_t set;
    std::mutex handlerLock;  // guards handler
    SignalHandler* handler = nullptr;
    std::atomic<bool> stopping{false};
    std::atomic<bool> started{false};
    std::mutex threadLock;  // guards thread (its start and its join)
    std::thread thread;

    void Start() {
        std::lock_guard<std::mutex> lock(threadLock);
        if (thread.joinable() || stopping.load()) return;
        // Shared: a starter that gave up waiting must not take it away.
        auto drained = std::make_shared<std::promise<void>>();
        std::future<void> done = drained->get_future();
        thread = std::thread([this, drained] {
            DrainPending();
            drained->set_value();
            Run();
        });
        started.store(true);
        done.wait_for(c_drainBound);
    }

    bool AnyPending() const {
        sigset_t pending;
        if (sigpending(&pending) != 0) return false;
        for (int s = 1; s < NSIG; ++s)
            if (sigismember(&set, s) == 1 && sigismember(&pending, s) == 1) return true;
        return false;
    }

    // Idempotent: wakes the thread out of sigwait and joins it.
    void Stop() {
        std::lock_guard<std::mutex> lock(threadLock);
        stopping.store(true);
        if (!thread.joinable() || thread.get_id() == std::this_thread::get_id()) return;
        const int wake = FirstSignal(set);
        if (wake != 0) pthread_kill(thread.native_handle(), wake);
        thread.join();
    }

    void Deliver(int signal) {
        std::lock_guard<std::mutex> lock(handlerLock);
        if (handler) handler->Handle(signal);
    }

    // Signals that arrived before the thread started, in the order sigtimedwait
    // gives them, before any that come later.
    void DrainPending() {
        const timespec now{0, 0};
        for (;;) {
            const int signal = sigtimedwait(&set, nullptr, &now);
            if (signal <= 0 || stopping.load()) return;
            Deliver(signal);
        }
    }

    void Run() {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0) continue;
            if (stopping.load()) return;
            Deliver(signal);
        }
    }
};

namespace {

std::mutex g_installLock;  // guards g_thread
std::shared_ptr<SignalHandlerThread> g_thread;

sigset_t BuildSet(const int* signals) {
    if (!signals) return SignalHandlerThread::DefaultSignals();
    sigset_t set;
    sigemptyset(&set);
    for (const int* s = signals; *s != 0; ++s) sigaddset(&set, *s);
    return set;
}

// Runs before the destructors of every static object constructed before the
// handler was installed (the handler objects among them), so the thread can
// never call a handler that is being destroyed.
void StopAtExit() {
    std::shared_ptr<SignalHandlerThread> thread;
    {
        std::lock_guard<std::mutex> lock(g_installLock);
        thread = g_thread;
    }
    if (thread) thread->Stop();
}

}  // namespace

sigset_t SignalHandlerThread::DefaultSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set, s);
    return set;
}

std::shared_ptr<SignalHandlerThread> SignalHandlerThread::InstallHandler(SignalHandler& handler, const int* signals) {
    auto thread = InstallDeferred(handler, signals);
    thread->Start();
    return thread;
}

std::shared_ptr<SignalHandlerThread> SignalHandlerThread::InstallDeferred(SignalHandler& handler, const int* signals) {
    std::lock_guard<std::mutex> lock(g_installLock);
    if (g_thread) {
        std::lock_guard<std::mutex> handlerLock(g_thread->m_impl->handlerLock);
        g_thread->m_impl->handler = &handler;
        return g_thread;
    }
    auto impl = std::make_unique<Impl>();
    impl->set = BuildSet(signals);
    impl->handler = &handler;
    // Block first: the new thread inherits the mask, and from now on no
    // thread but the handler's takes these signals.
    pthread_sigmask(SIG_BLOCK, &impl->set, nullptr);
    g_thread = std::make_shared<SignalHandlerThread>(std::move(impl));
    std::atexit(StopAtExit);
    return g_thread;
}

SignalHandlerThread::SignalHandlerThread(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

SignalHandlerThread::~SignalHandlerThread() {
    if (m_impl) m_impl->Stop();
}

void SignalHandlerThread::Stop() { m_impl->Stop(); }

void SignalHandlerThread::Start() { m_impl->Start(); }

void SignalHandlerThread::DeliverPending() {
    if (m_impl->AnyPending()) m_impl->Start();
}

bool SignalHandlerThread::Started() const { return m_impl->started.load(); }

ScopedSignalBlock::ScopedSignalBlock() {
    sigset_t set = SignalHandlerThread::DefaultSignals();
    pthread_sigmask(SIG_BLOCK, &set, &m_previous);
}

ScopedSignalBlock::~ScopedSignalBlock() { pthread_sigmask(SIG_SETMASK, &m_previous, nullptr); }

}  // namespace istd
