#include <dirent.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "istd/signal_handler.h"

namespace {

class Recorder : public istd::SignalHandler {
public:
    void Handle(int signal) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_signals.push_back(signal);
        m_threadIsCaller = std::this_thread::get_id() == m_caller;
        m_changed.notify_all();
    }
    bool WaitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::seconds(5), [&] { return m_signals.size() >= count; });
    }
    std::vector<int> Signals() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_signals;
    }
    std::thread::id m_caller = std::this_thread::get_id();
    bool m_threadIsCaller = true;

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<int> m_signals;
};

bool BlockedHere(int signal) {
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, signal) == 1;
}

TEST(ScopedSignalBlock, ThreadsStartedInsideInheritTheMask) {
    ASSERT_FALSE(BlockedHere(SIGTERM));
    std::atomic<bool> blockedInThread{false};
    {
        istd::ScopedSignalBlock block;
        std::thread t([&] { blockedInThread = BlockedHere(SIGTERM) && BlockedHere(SIGINT); });
        t.join();
    }
    EXPECT_TRUE(blockedInThread);
    EXPECT_FALSE(BlockedHere(SIGTERM));  // restored
}

// Runs last in this binary's signal tests: installing blocks the set for good.
TEST(SignalHandlerThread, EveryDefaultSignalReachesHandleOnItsOwnThread) {
    Recorder recorder;
    auto thread = istd::SignalHandlerThread::InstallHandler(recorder, nullptr);
    ASSERT_TRUE(thread);
    EXPECT_TRUE(BlockedHere(SIGINT));
    const int sent[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    for (std::size_t i = 0; i < 4; ++i) {
        kill(getpid(), sent[i]);  // process-directed: any unblocked thread could take it
        ASSERT_TRUE(recorder.WaitFor(i + 1)) << "signal " << sent[i] << " not handled";
    }
    EXPECT_EQ(recorder.Signals(), std::vector<int>(std::begin(sent), std::end(sent)));
    EXPECT_FALSE(recorder.m_threadIsCaller);

    // A second installation replaces the handler and keeps the thread.
    Recorder second;
    EXPECT_EQ(istd::SignalHandlerThread::InstallHandler(second, nullptr), thread);
    kill(getpid(), SIGHUP);
    ASSERT_TRUE(second.WaitFor(1));
    EXPECT_EQ(recorder.Signals().size(), 4u);
    // The library's thread must not call a handler that is gone: leave a
    // long-lived one installed.
    static Recorder lasting;
    istd::SignalHandlerThread::InstallHandler(lasting, nullptr);
}

}  // namespace

namespace {

TEST(SignalHandlerThread, NoHandlerCallAfterStop) {
    static Recorder recorder;  // outlives the thread in every order
    auto thread = istd::SignalHandlerThread::InstallHandler(recorder, nullptr);
    kill(getpid(), SIGTERM);
    ASSERT_TRUE(recorder.WaitFor(1));
    thread->Stop();
    thread->Stop();  // idempotent
    kill(getpid(), SIGHUP);  // stays pending: blocked everywhere, nobody waits for it
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(recorder.Signals().size(), 1u);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGHUP), 1);
}

}  // namespace

namespace {

int ThreadCount() {
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks))
            if (entry->d_name[0] != '.') ++count;
        closedir(tasks);
    }
    return count;
}

struct DeferredCase {
    const char* name;
    bool pendingBefore;  // a signal sent before the thread is asked for
    bool start;          // Start, else DeliverPending
    bool startsThread;
    std::size_t handled; // by the time the call has returned
};

// Each case in a fresh process: installation is once per process.
TEST(SignalHandlerThreadDeathTest, DeferredThreadStartsOnlyWhenNeededAndMissesNothing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const DeferredCase cases[] = {
        {"nothing pending: no thread", false, false, false, 0},
        {"pending signal: handed over on the thread before the call returns", true, false, true, 1},
        {"Start hands over what was pending", true, true, true, 1},
        {"Start with nothing pending still starts", false, true, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EXIT(
            {
                Recorder recorder;
                auto thread = istd::SignalHandlerThread::InstallDeferred(recorder, nullptr);
                // Compared, not counted: a sanitizer runtime may add a thread
                // of its own once the first thread starts.
                const int before = ThreadCount();
                if (!BlockedHere(SIGINT)) _exit(2);
                if (c.pendingBefore) kill(getpid(), SIGINT);
                if (c.start) thread->Start();
                else thread->DeliverPending();
                if (recorder.Signals().size() != c.handled) _exit(3);
                if (c.handled != 0 && recorder.m_threadIsCaller) _exit(4);
                if ((ThreadCount() > before) != c.startsThread) _exit(5);
                thread->Stop();
                _exit(0);
            },
            ::testing::ExitedWithCode(0), "");
    }
}

}  // namespace
